#include "app/Umain.h"

#include "platform/FileSystem.h"

#include <limits>

int32_t TForm1::GetFileSize(const std::string& Path) {
    const int64_t size = platform::FileSize(Path);
    if (size <= 0 || !platform::FileExists(Path))
        return 0;
    // A file of 2 GiB or more does not fit; it must not look empty or
    // negative, so it reports the largest value.
    if (size > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(size);
}
