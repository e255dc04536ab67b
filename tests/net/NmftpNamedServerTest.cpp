// An upload to a real FTP server that the test command starts for this
// program (the Windows build under Wine reaches the host's 127.0.0.1),
// named by the environment; without it the test skips:
//   RODERUV_FTP_SERVER=127.0.0.1:2121 RODERUV_FTP_USER=... RODERUV_FTP_PASSWORD=...
//   RODERUV_FTP_FOLDER=the server's folder as this program sees it (Z:\...)
#include "net/Nmftp.h"
#include "tests/net/FtpTestUtil.h"
#include "tests/support/Required.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>

namespace {

const char* Env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::set<std::filesystem::path> FilesIn(const std::string& folder) {
    std::set<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(testsupport::NativePath(folder)))
        files.insert(e.path());
    return files;
}

} // namespace

TEST(NmftpNamedServer, UploadWithCzechNameArrivesByteIdentical) {
    const char* server = Env("RODERUV_FTP_SERVER");
    const char* user = Env("RODERUV_FTP_USER");
    const char* password = Env("RODERUV_FTP_PASSWORD");
    const char* folder = Env("RODERUV_FTP_FOLDER");
    if (!server || !user || !password || !folder)
        MISSING_PART("no server named by RODERUV_FTP_SERVER, _USER, _PASSWORD and _FOLDER");
    const std::string address = server;
    const size_t colon = address.rfind(':');
    ASSERT_NE(colon, std::string::npos) << "RODERUV_FTP_SERVER is not host:port";

    FtpEventLog log;
    TNMFTP client;
    Configure(client, std::stoi(address.substr(colon + 1)), log);
    client.Host = address.substr(0, colon);
    client.UserID = user;
    client.Password = password;
    client.Connect();
    client.Mode(3);

    testsupport::TempFolder dir;
    const std::string name = "\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88.gpg";
    const std::string bytes = RandomBytes(3 << 20, 21);
    testsupport::WriteBytes(dir / name, bytes);
    const auto before = FilesIn(folder);
    client.Upload(dir / name, name);
    EXPECT_EQ(client.BytesTotal, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(client.Size(name), std::optional<int64_t>(bytes.size()));
    client.Disconnect();

    // The server may store the Windows-1250 name in its own way; the one new
    // file holds the bytes.
    std::vector<std::filesystem::path> added;
    for (const auto& file : FilesIn(folder))
        if (!before.count(file))
            added.push_back(file);
    ASSERT_EQ(added.size(), 1u);
    std::ifstream in(added[0], std::ios::binary);
    const std::string stored((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    EXPECT_TRUE(stored == bytes) << "stored " << stored.size() << " bytes";
}
