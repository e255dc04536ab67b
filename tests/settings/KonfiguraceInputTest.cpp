// Loading, checking and saving of the configuration dialog's fields, without
// the widgets.
#include "settings/KonfiguraceInput.h"
#include "SettingsFixture.h"

#include "platform/FileSystem.h"
#include "settings/Unitpom.h"
#include "tests/support/System.h"

using namespace konfigurace;
using KonfiguraceInputTest = SettingsFolder;

namespace {

KonfiguraceInput Complete() {
    KonfiguraceInput in;
    in.ftpServer = "ftp.example.invalid";
    in.login = "uzivatel";
    in.heslo = "tajné";
    return in;
}

} // namespace

TEST_F(KonfiguraceInputTest, SavesEveryKeyInOrder) {
    KonfiguraceInput in = Complete();
    in.useLog = true;
    in.cestaLog = dir / "run.log";
    in.lastOnly = true;
    in.proxy = true;
    in.proxyAdresa = "proxy.local";
    in.proxyPort = "021";
    in.proxyLogin = "pl";
    in.proxyHeslo = "ph";
    in.filesMoveTo = kMoveTo;
    in.cestaAdresare = dir.Path() + platform::kPathSeparator;
    ASSERT_EQ(ValidateInput(in), "");
    SaveInput(in);
    EXPECT_EQ(IniBytes(), "[General]\r\nFTPServer=ftp.example.invalid\r\nLogin=uzivatel\r\n"
                          "Heslo=dGFqbuk=\r\nUseLog=1\r\nCestaLog=" +
                              dir / "run.log" +
                              "\r\nDeleteLog=1\r\nProxy=1\r\nProxyLogin=pl\r\nProxyHeslo=cGg=\r\n"
                              "ProxyAdresa=proxy.local\r\nProxyPort=021\r\nFilesMoveTo=2\r\n"
                              "FilesMoveToDir=" +
                              dir.Path() + platform::kPathSeparator + "\r\n");
}

TEST_F(KonfiguraceInputTest, ProxyOffKeepsStoredProxyKeysAndLoadsEmptyFields) {
    WriteIni("[General]\r\nProxy=1\r\nProxyAdresa=old.proxy\r\nProxyPort=3128\r\n"
             "ProxyLogin=ol\r\nProxyHeslo=b2xk\r\nFilesMoveTo=2\r\nFilesMoveToDir=/old/\r\n");
    KonfiguraceInput loaded = LoadInput("default.host");
    EXPECT_TRUE(loaded.proxy);
    EXPECT_EQ(loaded.proxyHeslo, "old");
    EXPECT_EQ(loaded.cestaAdresare, "/old/");

    KonfiguraceInput in = Complete();
    SaveInput(in); // proxy off, files left alone
    EXPECT_EQ(ReadSettingString("", "ProxyAdresa", ""), "old.proxy");
    EXPECT_EQ(ReadSettingString("", "ProxyPort", ""), "3128");
    EXPECT_EQ(ReadSettingString("", "ProxyHeslo", ""), "b2xk");
    EXPECT_EQ(ReadSettingString("", "FilesMoveToDir", ""), "/old/");
    EXPECT_EQ(ReadSettingString("", "Proxy", ""), "0");
    EXPECT_EQ(ReadSettingString("", "FilesMoveTo", ""), "0");

    loaded = LoadInput("default.host");
    EXPECT_FALSE(loaded.proxy);
    EXPECT_EQ(loaded.proxyAdresa, "");
    EXPECT_EQ(loaded.proxyPort, "");
    EXPECT_EQ(loaded.proxyLogin, "");
    EXPECT_EQ(loaded.proxyHeslo, "");
    EXPECT_EQ(loaded.cestaAdresare, "");
    EXPECT_EQ(loaded.ftpServer, "ftp.example.invalid");
}

TEST_F(KonfiguraceInputTest, DefaultsWithoutSettingsFile) {
    KonfiguraceInput in = LoadInput("default.host");
    EXPECT_EQ(in.ftpServer, "default.host");
    EXPECT_EQ(in.login, "");
    EXPECT_EQ(in.heslo, "");
    EXPECT_FALSE(in.proxy);
    EXPECT_FALSE(in.useLog);
    EXPECT_FALSE(in.lastOnly);
    EXPECT_EQ(in.filesMoveTo, kLeave);
    EXPECT_FALSE(platform::FileExists(IniPath()));
}

TEST_F(KonfiguraceInputTest, UnknownFilesMoveToLoadsAsLeave) {
    WriteIni("[General]\r\nFilesMoveTo=7\r\nFilesMoveToDir=/x/\r\nDeleteLog=0x1\r\n");
    KonfiguraceInput in = LoadInput("");
    EXPECT_EQ(in.filesMoveTo, kLeave);
    EXPECT_EQ(in.cestaAdresare, "");
    EXPECT_TRUE(in.lastOnly);
}

TEST_F(KonfiguraceInputTest, ProxyPortForms) {
    int port = 0;
    EXPECT_TRUE(ParseProxyPort("1", port));
    EXPECT_EQ(port, 1);
    EXPECT_TRUE(ParseProxyPort("65535", port));
    EXPECT_EQ(port, 65535);
    EXPECT_TRUE(ParseProxyPort("08080", port));
    EXPECT_EQ(port, 8080);
    for (const char* bad :
         {"", "0", "65536", "99999999999", "-1", "+21", " 21", "21 ", "0x15", "8o8o", "abc"})
        EXPECT_FALSE(ParseProxyPort(bad, port)) << bad;
}

TEST_F(KonfiguraceInputTest, RootFolderCompletions) {
    const std::string root = testsupport::OnWindows() ? "C:\\" : "/";
    KonfiguraceInput in = Complete();
    in.cestaLog = root;
    in.filesMoveTo = kMoveTo;
    in.cestaAdresare = root;
    EXPECT_EQ(ValidateInput(in), "");
    EXPECT_EQ(in.cestaLog, root + "Log.log");
    EXPECT_EQ(in.cestaAdresare, root);
}

TEST_F(KonfiguraceInputTest, TextsOutsideWindows1250AreRefusedBeforeAnyWrite) {
    KonfiguraceInput in = Complete();
    in.login = "uživatel€"; // both fit
    EXPECT_EQ(ValidateInput(in), "");
    in.heslo = "heslo✓";
    EXPECT_EQ(ValidateInput(in), "Pole \"Heslo\" obsahuje znaky, které nelze uložit (kódování "
                                 "Windows-1250). Upravte je prosím. ");
    in.heslo = "ok";
    in.proxyLogin = "日本"; // not saved with the proxy off, so not checked
    EXPECT_EQ(ValidateInput(in), "");
    in.proxy = true;
    in.proxyAdresa = "p";
    in.proxyPort = "1";
    EXPECT_NE(ValidateInput(in).find("Login pro proxy server"), std::string::npos);
    EXPECT_FALSE(platform::FileExists(IniPath()));
}

TEST_F(KonfiguraceInputTest, WriteFailureNamesTheFileAndStopsTheSave) {
    ASSERT_TRUE(platform::CreateDir(IniPath())); // a folder where the file belongs
    try {
        SaveInput(Complete());
        FAIL() << "no error";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + IniPath());
    }
}
