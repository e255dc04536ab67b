#include "app/Umain.h"

#include "platform/BinaryFile.h"
#include "platform/FileSystem.h"

int64_t TForm1::GetFileSize(const std::string& Path) {
    if (!platform::FileExists(Path))
        return 0;
    // The size of the opened file, so a file that exists but cannot be read
    // counts as empty.
    const auto file = platform::BinaryFile::OpenForReading(Path);
    platform::FileInfo info;
    if (!file || !file->GetInfo(info) || info.size < 0)
        return 0;
    return info.size;
}
