#include "zip/Archive.h"

namespace {

ArchiveHandle* HandleOf(std::unique_ptr<zip::TZip> zip, ArchiveResult created) {
    if (created != ArchiveOk)
        return nullptr;
    auto* handle = new ArchiveHandle;
    handle->kind = ArchiveKindCreate;
    handle->zip = std::move(zip);
    return handle;
}

} // namespace

ArchiveHandle* ArchiveCreate(const std::string& path) {
    auto zip = std::make_unique<zip::TZip>();
    const ArchiveResult created = zip->Create(path);
    return HandleOf(std::move(zip), created);
}

ArchiveHandle* ArchiveCreateNew(const std::string& path) {
    auto zip = std::make_unique<zip::TZip>();
    const ArchiveResult created = zip->CreateNew(path);
    return HandleOf(std::move(zip), created);
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
