#include "app/ListablePath.h"

#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "zip/MemberName.h"

ListablePath CheckListablePath(const std::string& path) {
    if (!platform::FitsCp1250(path) || path.find_first_of("\r\n") != std::string::npos)
        return ListablePath::NotStorable;
    // The archive stage stores each file under its file name alone.
    if (!zip::IsSafeMemberName(platform::ExtractFileName(path)))
        return ListablePath::UnsafeInArchive;
    return ListablePath::Yes;
}
