// The optional setting TimeOut: how long one wait of a run may last.
#pragma once
#include <cstdint>

// What a missing TimeOut means, in seconds: an unattended run always ends.
inline constexpr int kDefaultTimeOutSeconds = 120;

// TimeOut in whole seconds; kDefaultTimeOutSeconds when missing or not a
// number; 0 or less asks for no time-out (each wait says what it does then).
int ReadTimeOutSeconds();

// How long gpg.exe may run, in milliseconds: the time-out, or 10 minutes
// when none is asked for, since a hung gpg would hold every later run.
int64_t GpgTimeOutMs();
