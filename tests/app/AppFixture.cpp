#include "AppFixture.h"

#include "app/TerminationWatch.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "ui/Application.h"

#include <sys/stat.h>

AppFixture::AppFixture() {
    platform::SetApplicationDirOverride(tmp.Path());
    platform::SetClockSource([] { return platform::DateTime{2026, 3, 5, 9, 5, 7}; });
    ui::ResetTerminateCount();
    ForgetTerminationRequests();
}

AppFixture::~AppFixture() {
    platform::SetClockSource({});
    platform::SetApplicationDirOverride("");
    ui::ResetTerminateCount();
    ForgetTerminationRequests();
}

std::unique_ptr<TForm1> AppFixture::MakeForm(std::vector<std::string> params) {
    return std::make_unique<TForm1>(std::move(params));
}

void AppFixture::WriteGoodSettings(bool journal) {
    WriteSettingString("General", "FTPServer", "127.0.0.1");
    WriteSettingString("General", "Login", "user");
    WriteSettingString("General", "Heslo", EncodePassword("heslo"));
    WriteSettingString("General", "Proxy", "0");
    WriteSettingInteger("UseLog", journal ? 1 : 0);
    WriteSettingString("General", "CestaLog", JournalPath());
    WriteSettingInteger("DeleteLog", 0);
}

void AppFixture::UseOpenProxy(const std::string& address, const std::string& port) {
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyAdresa", address);
    WriteSettingString("General", "ProxyPort", port);
}

void AppFixture::PutGpg() {
#ifdef RODERUV_FAKE_GPG
    platform::CopyFile(RODERUV_FAKE_GPG, tmp / "gpg.exe", true);
#else
    testsupport::WriteBytes(
        tmp / "gpg.exe", "#!/bin/sh\n"
                         "[ -z \"$FAKE_GPG_STDERR\" ] || printf '%s\\n' \"$FAKE_GPG_STDERR\" >&2\n"
                         "[ -z \"$FAKE_GPG_SLEEP\" ] || sleep \"$(printf %d.%03d "
                         "$((FAKE_GPG_SLEEP / 1000)) $((FAKE_GPG_SLEEP % 1000)))\"\n"
                         "exit \"${FAKE_GPG_EXIT:-0}\"\n");
    ::chmod((tmp / "gpg.exe").c_str(), 0755);
#endif
}

std::string AppFixture::DataFile(const std::string& name, const std::string& content) {
    const std::string path = tmp / name;
    testsupport::WriteBytes(path, content);
    return path;
}

std::string AppFixture::JournalBytes() const {
    std::string bytes;
    platform::ReadFileBytes(JournalPath(), bytes);
    return bytes;
}

std::vector<std::string> AppFixture::JournalUnstamped() const {
    std::vector<std::string> out;
    for (const std::string& line : JournalLines())
        out.push_back(line.rfind(kStamp, 0) == 0 ? line.substr(std::string(kStamp).size()) : line);
    return out;
}

std::vector<std::string> AppFixture::JournalLines() const {
    const std::string bytes = JournalBytes();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "journal does not end with CR LF";
            end = bytes.size();
        }
        lines.push_back(platform::Cp1250ToUtf8(bytes.substr(start, end - start)));
        start = end + 2;
    }
    return lines;
}
