// Names for a copy that must not replace anything: when the destination
// "folder/data.csv" is taken, the copy goes to "folder/data (2).csv", then
// "folder/data (3).csv" and so on. The number goes before the last dot of the
// file name ("zprava.tar (2).gz"); a name without a dot, or whose only dot
// starts it, gets the number at its end ("README (2)", ".profil (2)").
#pragma once
#include <string>

// The Number-th name of the series for Path (Number 1 is Path itself).
std::string NumberedFileName(const std::string& Path, int Number);

// Copies From into the first name of the series for To at which nothing
// exists yet, never replacing a file; the copy is flushed to disk before it
// counts. Returns the name used, or "" when no copy could be made.
std::string CopyToFreeName(const std::string& From, const std::string& To);
