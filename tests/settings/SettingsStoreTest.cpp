// The store's key forms, defaults, passwords and write failures.
#include "SettingsFixture.h"
#include "settings/Unitpom.h"

#include "platform/FileSystem.h"
#include "tests/support/System.h"

#include <filesystem>

using SettingsStore = SettingsFolder;

TEST_F(SettingsStore, IntegerForms) {
    WriteIni("[General]\r\nHex=0x10\r\nHexUpper=0X1f\r\nMixed=12abc\r\nEmpty=\r\nNeg=-3\r\n"
             "Short=0x\r\nBadHex=0xZZ\r\nHuge=99999999999\r\nPlus=+7\r\n");
    EXPECT_EQ(ReadSettingInteger("Hex", 5), 16);
    EXPECT_EQ(ReadSettingInteger("HexUpper", 5), 31);
    EXPECT_EQ(ReadSettingInteger("Mixed", 5), 5);
    EXPECT_EQ(ReadSettingInteger("Empty", 5), 5);
    EXPECT_EQ(ReadSettingInteger("Neg", 5), -3);
    EXPECT_EQ(ReadSettingInteger("Short", 5), 5);
    EXPECT_EQ(ReadSettingInteger("BadHex", 5), 5);
    EXPECT_EQ(ReadSettingInteger("Huge", 5), 5);
    EXPECT_EQ(ReadSettingInteger("Plus", 5), 7);
    EXPECT_EQ(ReadSettingInteger("Missing", 5), 5);
}

TEST_F(SettingsStore, IntegersAreWrittenAsDecimalTextInGeneral) {
    WriteSettingInteger("FilesMoveTo", 2);
    WriteSettingInteger("Delta", -15);
    WriteSettingString("", "PocetSouboru", "3"); // empty section means General
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", 0), 3);
    EXPECT_EQ(IniBytes(), "[General]\r\nFilesMoveTo=2\r\nDelta=-15\r\nPocetSouboru=3\r\n");
}

TEST_F(SettingsStore, ProxyFlagAsTextAndAsInteger) {
    WriteIni("[General]\r\nProxy=1\r\n");
    EXPECT_NE(ReadSettingInteger("Proxy", 0), 0);
    EXPECT_EQ(ReadSettingString("", "Proxy", ""), "1");
    WriteIni("[General]\r\nProxy=0\r\n");
    EXPECT_EQ(ReadSettingInteger("Proxy", 0), 0);
    WriteIni("[General]\r\n");
    EXPECT_EQ(ReadSettingInteger("Proxy", 0), 0);
    EXPECT_EQ(ReadSettingString("", "Proxy", ""), "");
}

TEST_F(SettingsStore, NewFileIsReadableByItsOwnerOnly) {
    if (testsupport::OnWindows())
        GTEST_SKIP() << "no file modes on Windows: Settings.ini takes the install folder's "
                        "access rights";
    WriteSettingString("", "Heslo", EncodePassword("tajne"));
    EXPECT_EQ(std::filesystem::status(testsupport::NativePath(IniPath())).permissions(),
              std::filesystem::perms(0600));
}

TEST_F(SettingsStore, PasswordsRoundTripAndKeepTheirStoredForm) {
    for (std::string pw : {"", "a", "ab", "abc", "heslo", "Příliš žluťoučký kůň"}) {
        WriteSettingString("", "Heslo", EncodePassword(pw));
        EXPECT_EQ(DecodePassword(ReadSettingString("", "Heslo", "")), pw) << pw;
    }
    WriteIni("");
    WriteSettingString("", "Heslo", EncodePassword("heslo"));
    EXPECT_EQ(IniBytes(), "[General]\r\nHeslo=aGVzbG8=\r\n");
    // 57 bytes: 76 characters and the line break stay part of the value.
    std::string pw57(57, 'x');
    WriteIni("");
    WriteSettingString("", "Heslo", EncodePassword(pw57));
    std::string b64 = IniBytes().substr(std::string("[General]\r\nHeslo=").size());
    EXPECT_EQ(b64.size(), 76u + 4u);
    EXPECT_EQ(b64.substr(76), "\r\n\r\n");
    EXPECT_EQ(DecodePassword(ReadSettingString("", "Heslo", "")), pw57);
    // Longer ones are kept on one line so that all of them survive.
    std::string pw100;
    for (int i = 0; i < 100; ++i)
        pw100 += static_cast<char>('A' + i % 26);
    pw100 += "ěščřžýáíé";
    WriteSettingString("", "Heslo", EncodePassword(pw100));
    WriteSettingString("", "After", "1");
    EXPECT_EQ(DecodePassword(ReadSettingString("", "Heslo", "")), pw100);
    EXPECT_EQ(ReadSettingString("", "After", ""), "1");
}

TEST_F(SettingsStore, TextOutsideWindows1250IsRefusedBeforeWriting) {
    WriteIni("[General]\r\nLogin=old\r\n");
    EXPECT_THROW(WriteSettingString("", "Login", "Ωmega"), ESettingsError);
    EXPECT_THROW(EncodePassword("пароль"), ESettingsError);
    EXPECT_EQ(IniBytes(), "[General]\r\nLogin=old\r\n");
}

TEST_F(SettingsStore, WriteFailureNamesTheFileAndKeepsTheOldContent) {
    // A folder in the file's place cannot be written, even by root.
    ASSERT_TRUE(platform::CreateDir(IniPath()));
    ASSERT_TRUE(platform::CreateDir(IniPath() + "/keep"));
    try {
        WriteSettingString("", "Login", "novak");
        FAIL() << "no error raised";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + IniPath());
    }
    EXPECT_EQ(ReadSettingString("", "Login", "dflt"), "dflt");
}

TEST_F(SettingsStore, ReadOnlySettingsAreNotReplaced) {
    WriteIni("[General]\r\nLogin=old\r\n");
    testsupport::SetReadOnly(IniPath(), true);
    try {
        WriteSettingString("", "Login", "new");
        FAIL() << "no error raised";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + IniPath());
    }
    EXPECT_EQ(IniBytes(), "[General]\r\nLogin=old\r\n");
    EXPECT_EQ(ReadSettingString("", "Login", ""), "old");
}

TEST_F(SettingsStore, BatchGivesTheSameFileAsTheSingleOperations) {
    const std::string start = "[General]\r\nLogin=novak\r\nPocetSouboru=5\r\n\r\n[Files]\r\n"
                              "File0=/old/a\r\n[Other]\r\nX=1\r\n";
    auto steps = [](auto erase, auto write) {
        erase("Files");
        write("General", "PocetSouboru", "2");
        write("Files", "File0", "/data/léčba.csv");
        write("Files", "File1", "/data/b.csv");
        write("", "LastFolder", "/data");
    };
    WriteIni(start);
    steps([](const std::string& s) { EraseSettingSection(s); },
          [](const std::string& s, const std::string& k, const std::string& v) {
              WriteSettingString(s, k, v);
          });
    const std::string single = IniBytes();

    WriteIni(start);
    SettingsBatch batch;
    steps([&](const std::string& s) { batch.EraseSection(s); },
          [&](const std::string& s, const std::string& k, const std::string& v) {
              batch.WriteString(s, k, v);
          });
    EXPECT_EQ(IniBytes(), start) << "nothing is written before Commit";
    batch.Commit();
    EXPECT_EQ(IniBytes(), single);
    EXPECT_EQ(ReadSettingStrings("Files", {"File1", "File0", "File9"}, "-"),
              (std::vector<std::string>{"/data/b.csv", "/data/léčba.csv", "-"}));
}

TEST_F(SettingsStore, BatchWithoutAFileCreatesItOnlyWhenItWrites) {
    {
        SettingsBatch erasing;
        erasing.EraseSection("Files");
        erasing.Commit();
    }
    EXPECT_FALSE(platform::FileExists(IniPath()));
    SettingsBatch batch;
    batch.EraseSection("Files");
    batch.WriteString("General", "PocetSouboru", "0");
    batch.Commit();
    EXPECT_EQ(IniBytes(), "[General]\r\nPocetSouboru=0\r\n");
}

TEST_F(SettingsStore, FailedBatchLeavesTheOldFileWhole) {
    WriteIni("[General]\r\nPocetSouboru=1\r\n[Files]\r\nFile0=/a\r\n");
    SettingsBatch batch;
    batch.EraseSection("Files");
    batch.WriteString("General", "PocetSouboru", "1");
    EXPECT_THROW(batch.WriteString("Files", "File0", "Ωmega"), ESettingsError);
    // The caller leaves without Commit: the file is as before.
    EXPECT_EQ(IniBytes(), "[General]\r\nPocetSouboru=1\r\n[Files]\r\nFile0=/a\r\n");
    ASSERT_TRUE(platform::DeleteFile(IniPath()));
    ASSERT_TRUE(platform::CreateDir(IniPath()));
    EXPECT_THROW(SettingsBatch(), ESettingsError);
}
