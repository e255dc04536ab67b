// Path parts by the rules of the system the program runs on. On Windows the
// file-name part follows the last backslash or colon and a drive root keeps
// its backslash ("C:\"); on POSIX systems the separator is '/' and the root
// "/" keeps it.
#pragma once
#include <string>

namespace platform {

// '\\' on Windows, '/' elsewhere: what the program puts between a folder and
// a name.
extern const char kPathSeparator;

// True for a character after which a file-name part starts: the separator,
// and on Windows also the colon of a drive ("C:name").
bool IsNameDelimiter(char c);

// Everything after the last delimiter (the whole path when there is none).
std::string ExtractFileName(const std::string& path);

// Everything before the last delimiter; a final separator is dropped unless
// the folder is a root ("/a" gives "/", "C:\a" gives "C:\", "C:a" gives
// "C:", "a/b" gives "a", "name" gives "").
std::string ExtractFileDir(const std::string& path);

// Everything up to and including the last delimiter ("" when there is none).
std::string ExtractFilePath(const std::string& path);

// Appends the separator when the text does not already end with one
// (an empty text stays empty).
std::string IncludeTrailingSeparator(const std::string& folder);

// folder + separator (when missing) + name.
std::string JoinPath(const std::string& folder, const std::string& name);

// The folder holding the running executable, with a trailing separator.
std::string ApplicationDir();

// Makes ApplicationDir() answer the given folder instead (tests run the
// program's code from a test binary); an empty text restores the real one.
void SetApplicationDirOverride(const std::string& folder);

// The folder for a run's temporary files, with a trailing separator. On
// POSIX systems $TMPDIR when set and non-empty, else a folder of the user's
// own below /tmp ("/tmp/roderuv-<uid>/"), so that no other user can plant or
// take the fixed file names, or the fresh folder PrepareTempDir made in its
// place; on Windows the folder the system names for the user, which is the
// user's own already ("" when it names none). Names the folder only: see
// PrepareTempDir.
std::string TempDir();

// Makes TempDir() ready to take files. $TMPDIR is used as it is. The user's
// own folder is created (0700) when missing; when it is a link, not a folder,
// belongs to someone else or is open to group or others, it is left as it is
// and a fresh folder of an unpredictable name beside it ("/tmp/roderuv-<uid>-
// XXXXXX", 0700) is made for this run instead. On Windows: true when the
// folder exists or can be created. False when no folder can be used.
bool PrepareTempDir();

// The user's own folder that the last PrepareTempDir refused ("" when it
// refused none).
std::string RefusedTempDir();

// Removes the fresh folder PrepareTempDir made, with everything the run left
// in it: nobody could find it again. No effect otherwise.
void ReleaseTempDir();

// Makes the user's own temporary folder lie below root instead of /tmp
// (tests; no effect on Windows); an empty text restores /tmp.
void SetTempRootOverride(const std::string& root);

// The process's current directory (no trailing separator unless it is a
// root), "" if unknown.
std::string CurrentDir();

} // namespace platform
