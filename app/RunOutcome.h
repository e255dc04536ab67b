// Where a send run ended, and the exit status an unattended run gives for it
// when the optional setting ExitCode asks for one (a scheduler, cron or
// systemd then sees a failed night). The numbers are documented for
// administrators and must never change meaning.
#pragma once

enum class RunOutcome : int {
    Sent = 0,                     // sent and verified, data files handled as configured
    SettingsIncomplete = 1,       // the settings check
    GnuPGCheckFailed = 2,         // the GnuPG check
    ListEmpty = 3,                // the file check: no file in the list
    NoUsableFile = 4,             // the file check: every listed file missing or empty
    ArchiveFailed = 5,            // the archive
    EncryptionFailed = 6,         // the encryption
    ConnectionFailed = 7,         // connecting and logging in
    UploadFailed = 8,             // the upload
    UploadNotVerified = 9,        // the check of the upload
    SentSomeFilesNotSent = 10,    // sent and verified, but listed files were left out
    SentDataFilesNotHandled = 11, // sent and verified, but not all deleted or moved
    AnotherRunInProgress = 12,    // another run holds the run lock
    RunLockUnusable = 13,         // the run lock cannot be had for another reason
    Stopped = 14,                 // stopped on request (the system, the window closed)
    UnexpectedError = 15,         // an error no step expected ended the run
};

// True when Settings.ini asks for exit statuses: the key ExitCode in section
// General is present and not 0. A value that is no number counts as asked
// for: the administrator wanted something, and a status that tells more is
// the safe reading.
bool ExitCodeRequested();

// The process exit status for an unattended run that ended so.
inline int ExitStatusOf(RunOutcome outcome) {
    return static_cast<int>(outcome);
}
