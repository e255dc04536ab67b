// The optional setting TimeOut: how long one wait of a run may last.
#pragma once
#include <cstdint>

// What a missing TimeOut means, in seconds: an unattended run always ends.
inline constexpr int kDefaultTimeOutSeconds = 120;

// TimeOut in whole seconds. Missing, unreadable or negative gives the
// default, so that a silent server or a hung gpg cannot hold an unattended
// run (and the run lock) for ever; only an explicit 0 asks for no time-out
// (each wait says what it does then).
int ReadTimeOutSeconds();

// The time-out of every FTP wait in milliseconds; 0 waits without bound. A
// huge value stays the largest wait the client can hold.
int FtpTimeOutMs();

// How long gpg.exe may run, in milliseconds: the time-out, or 10 minutes
// when none is asked for, since a hung gpg would hold every later run.
int64_t GpgTimeOutMs();
