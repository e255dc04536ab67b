// The small result numbers of the send run's file check and of its archive
// and encryption stages, by name. The numbers themselves are fixed (the
// stages return plain integers, and 1 is success everywhere), so the names
// are unscoped and compare with those integers directly.
#pragma once

// CheckFiles: what the listed data files look like.
enum FilesCheckResult : int {
    kFilesListEmpty = 0,    // the list has no line
    kFilesAllUsable = 1,    // every listed file exists and is not empty
    kFilesSomeUnusable = 2, // some are missing or empty; the others are sent
    kFilesNoneUsable = 3,   // not one file can be sent: the run is cancelled
};

// ZipFiles: the archive in the temporary directory.
enum ZipResult : int {
    kZipOlderFileInTheWay = 0, // an earlier archive of that name cannot be removed
    kZipDone = 1,              // archive written and not empty
    kZipListEmpty = 2,         // the list has no line
    kZipArchiveMissing = 3,    // after closing, the archive is missing or empty
};

// EncryptFile: the encrypted file beside the dated archive (never 2).
enum EncryptResult : int {
    kEncryptOlderFileInTheWay = 0, // a file of that day cannot be removed or renamed
    kEncryptDone = 1,              // encrypted file made
    kEncryptOutputMissing = 3,     // gpg failed, or its output is missing or empty
    kEncryptCannotStart = 4,       // gpg.exe cannot be started
};
