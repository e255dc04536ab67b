#include "zip/Archive.h"

ArchiveHandle* ArchiveCreate(const std::string& path) {
    auto zip = std::make_unique<zip::TZip>();
    if (zip->Create(path) != ArchiveOk)
        return nullptr;
    auto* handle = new ArchiveHandle;
    handle->kind = ArchiveKindCreate;
    handle->zip = std::move(zip);
    return handle;
}

ArchiveResult ArchiveAddFile(ArchiveHandle* handle, const char* name, const char* source) {
    if (!handle)
        return ArchiveBadArgument;
    if (handle->kind != ArchiveKindCreate || !handle->zip)
        return ArchiveWrongHandle;
    return handle->zip->AddFile(name ? std::string(name) : std::string(), source);
}

ArchiveResult ArchiveAddFile(ArchiveHandle* handle, const std::string& name,
                             const std::string& source) {
    return ArchiveAddFile(handle, name.c_str(), source.c_str());
}

ArchiveResult ArchiveAddFile(ArchiveHandle* handle, const std::string& name,
                             platform::BinaryFile& source) {
    if (!handle)
        return ArchiveBadArgument;
    if (handle->kind != ArchiveKindCreate || !handle->zip)
        return ArchiveWrongHandle;
    return handle->zip->AddFile(name, source);
}

void ArchiveSetEventPump(ArchiveHandle* handle, std::function<void()> pump) {
    if (handle && handle->kind == ArchiveKindCreate && handle->zip)
        handle->zip->SetEventPump(std::move(pump));
}

ArchiveResult ArchiveClose(ArchiveHandle* handle) {
    if (!handle)
        return ArchiveBadArgument;
    if (handle->kind != ArchiveKindCreate || !handle->zip)
        return ArchiveWrongHandle;
    const ArchiveResult result = handle->zip->Close();
    delete handle;
    return result;
}
