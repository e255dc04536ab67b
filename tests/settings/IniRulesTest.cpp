// The INI rules of Settings.ini, on files written byte by byte.
#include "SettingsFixture.h"
#include "settings/Unitpom.h"

#include "platform/FileSystem.h"

#include <functional>
#include <vector>

using IniRules = SettingsFolder;

TEST_F(IniRules, NamesMatchWithoutRegardToCaseIncludingCzechLetters) {
    // "[Obecné]" / "Čárka" / "Přístup" in Windows-1250, mixed case.
    WriteIni("[GENERAL]\r\nftpserver=ftp.example.cz\r\n"
             "[Obecn\xC9]\r\n\xC8\xE1rka=1\r\n"
             "[files]\r\nFILE0=/data/a.csv\r\n");
    EXPECT_EQ(ReadSettingString("", "FTPServer", "x"), "ftp.example.cz");
    EXPECT_EQ(ReadSettingString("general", "FTPSERVER", "x"), "ftp.example.cz");
    EXPECT_EQ(ReadSettingString("obecné", "čÁRKA", "x"), "1");
    EXPECT_EQ(ReadSettingString("Files", "File0", "x"), "/data/a.csv");
}

TEST_F(IniRules, ValuesAreTrimmedAndMatchingQuotesStripped) {
    WriteIni("[General]\r\n"
             "A =   value with blanks   \r\n"
             "B=\"quoted value\"\r\n"
             "C='single'\r\n"
             "D=\"unmatched'\r\n"
             "E=\"\r\n"
             "F=\r\n"
             "  G  =  \" inner blanks \"  \r\n");
    EXPECT_EQ(ReadSettingString("", "A", "x"), "value with blanks");
    EXPECT_EQ(ReadSettingString("", "B", "x"), "quoted value");
    EXPECT_EQ(ReadSettingString("", "C", "x"), "single");
    EXPECT_EQ(ReadSettingString("", "D", "x"), "\"unmatched'");
    EXPECT_EQ(ReadSettingString("", "E", "x"), "\"");
    EXPECT_EQ(ReadSettingString("", "F", "x"), "");
    EXPECT_EQ(ReadSettingString("", "G", "x"), " inner blanks ");
}

TEST_F(IniRules, LongValuesAreCutTo2047Characters) {
    std::string value(3000, 'v');
    value[2046] = 'L';
    WriteIni("[General]\r\nLong=" + value + "\r\n");
    std::string read = ReadSettingString("", "Long", "");
    EXPECT_EQ(read.size(), 2047u);
    EXPECT_EQ(read.back(), 'L');
    // Czech letters count as one character each, as in the file.
    WriteIni("[General]\r\nLong=" + std::string(3000, '\xE8') + "\r\n");
    EXPECT_EQ(ReadSettingString("", "Long", ""), [] {
        std::string s;
        for (int i = 0; i < 2047; ++i)
            s += "č";
        return s;
    }());
}

TEST_F(IniRules, CzechValuesComeBackFromWindows1250) {
    WriteIni("[General]\r\nCestaLog=/data/\xFA\xE8"
             "et/Log.log\r\n");
    EXPECT_EQ(ReadSettingString("", "CestaLog", ""), "/data/účet/Log.log");
    WriteSettingString("", "LastFolder", "/home/lékař/žádosti");
    EXPECT_EQ(IniBytes(), "[General]\r\nCestaLog=/data/\xFA\xE8"
                          "et/Log.log\r\n"
                          "LastFolder=/home/l\xE9ka\xF8/\x9E\xE1\x64osti\r\n");
}

TEST_F(IniRules, LfOnlyFilesReadTheSame) {
    WriteIni("[General]\nLogin=novak\nProxy=1\n[Files]\nFile0=/a\n");
    EXPECT_EQ(ReadSettingString("", "Login", ""), "novak");
    EXPECT_EQ(ReadSettingInteger("Proxy", 0), 1);
    EXPECT_EQ(ReadSettingString("Files", "File0", ""), "/a");
}

TEST_F(IniRules, WriteReplacesInPlaceAppendsToSectionAndAddsSectionsAtTheEnd) {
    WriteIni("[General]\r\nA=1\r\nB=2\r\n\r\n[Files]\r\nFile0=/x\r\n");
    WriteSettingString("", "a", "one");         // in place, case-insensitive
    WriteSettingString("General", "C", "3");    // end of its section, before the blank line
    WriteSettingString("Files", "File1", "/y"); // end of the last section
    WriteSettingString("Extra", "K", "v");      // new section at the end
    EXPECT_EQ(IniBytes(), "[General]\r\na=one\r\nB=2\r\nC=3\r\n\r\n[Files]\r\nFile0=/x\r\n"
                          "File1=/y\r\n[Extra]\r\nK=v\r\n");
}

TEST_F(IniRules, WriteCreatesTheFileInOrderOfFirstWriting) {
    EXPECT_FALSE(platform::FileExists(IniPath()));
    WriteSettingString("", "FTPServer", "ftp.example.cz");
    WriteSettingInteger("Proxy", 0);
    WriteSettingString("", "FTPServer", "ftp2.example.cz");
    EXPECT_EQ(IniBytes(), "[General]\r\nFTPServer=ftp2.example.cz\r\nProxy=0\r\n");
}

TEST_F(IniRules, EraseRemovesTheWholeSectionOnly) {
    WriteIni(
        "[General]\r\nPocetSouboru=2\r\n[Files]\r\nFile0=/a\r\nFile1=/b\r\n[Other]\r\nX=1\r\n");
    EraseSettingSection("files");
    EXPECT_EQ(IniBytes(), "[General]\r\nPocetSouboru=2\r\n[Other]\r\nX=1\r\n");
    EXPECT_EQ(ReadSettingString("Files", "File0", "none"), "none");
}

TEST_F(IniRules, ReadsAndEraseNeverCreateTheFile) {
    EXPECT_EQ(ReadSettingString("", "Login", "dflt"), "dflt");
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", 0), 0);
    EraseSettingSection("Files");
    EXPECT_FALSE(platform::FileExists(IniPath()));
}

TEST_F(IniRules, EntriesBeforeAnySectionAndMissingKeysGiveTheDefault) {
    WriteIni("Login=stray\r\n[General]\r\nOther=1\r\n");
    EXPECT_EQ(ReadSettingString("", "Login", "dflt"), "dflt");
    EXPECT_EQ(ReadSettingString("Nope", "Other", "dflt"), "dflt");
}

// Files Windows' own profile functions read in full: lines ended CR CR LF
// (converted to CR LF twice) or by a lone CR. Every value reads as written;
// a rewrite of one key leaves the other lines byte for byte, and new lines
// take the file's own line end. LF alone is rewritten as CR LF, as always.
struct LineEndCase {
    const char* name;
    const char* end;
    const char* writtenEnd;
};

class LineEnds : public SettingsFolder, public testing::WithParamInterface<LineEndCase> {};

TEST_P(LineEnds, ReadInFullAndRewriteOnlyWhatChanges) {
    auto file = [](const std::string& e, const std::string& login, const std::string& extra) {
        return "[General]" + e + "Login=" + login + e + "Proxy=0" + e + "UseLog=1" + e +
               "PocetSouboru=1" + e + extra + "[Files]" + e + "File0=/data/a.csv" + e;
    };
    const std::string end = GetParam().end;
    WriteIni(file(end, "novak", ""));
    EXPECT_EQ(ReadSettingString("", "Login", ""), "novak");
    EXPECT_EQ(ReadSettingString("", "Proxy", ""), "0");
    EXPECT_EQ(ReadSettingInteger("UseLog", 0), 1);
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", 0), 1);
    EXPECT_EQ(ReadSettingString("Files", "File0", ""), "/data/a.csv");

    WriteSettingString("", "Login", "dvorak");
    WriteSettingString("", "CestaLog", "/var/log/r.log");
    const std::string e = GetParam().writtenEnd;
    EXPECT_EQ(IniBytes(), file(e, "dvorak", "CestaLog=/var/log/r.log" + e));
}

INSTANTIATE_TEST_SUITE_P(Files, LineEnds,
                         testing::Values(LineEndCase{"CrCrLf", "\r\r\n", "\r\r\n"},
                                         LineEndCase{"LoneCr", "\r", "\r"},
                                         LineEndCase{"CrLf", "\r\n", "\r\n"},
                                         LineEndCase{"Lf", "\n", "\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Saved as "Unicode" by an editor: never rewritten in the 8-bit form, which
// would destroy it; the writes raise the store's write error instead.
TEST_F(IniRules, Utf16FileIsNeverRewritten) {
    const char bytes[] = "\xFF\xFE[\0G\0]\0\r\0\n\0A\0=\0001\0\r\0\n\0"; // [G] A=1
    const std::string utf16(bytes, sizeof bytes - 1);
    WriteIni(utf16);
    for (const auto& write : std::vector<std::function<void()>>{
             [] { WriteSettingString("", "Login", "x"); }, [] { EraseSettingSection("Files"); }}) {
        try {
            write();
            ADD_FAILURE() << "a write went through";
        } catch (const ESettingsError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + IniPath());
        }
        EXPECT_TRUE(IniBytes() == utf16);
    }
}

// A line break would split the entry: the rest would become an entry or a
// section of its own. Refused before anything is written.
TEST_F(IniRules, LineBreaksAreRefusedBeforeWriting) {
    WriteIni("[General]\r\nLogin=old\r\n");
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"Login", "a\nFTPServer=evil"}, {"Login", "/data/x.csv\r"}, {"File0\n", "/a"}}) {
        EXPECT_THROW(WriteSettingString("", key, value), ESettingsError) << value;
        EXPECT_THROW(SettingsBatch().WriteString("Files", key, value), ESettingsError) << value;
    }
    EXPECT_EQ(IniBytes(), "[General]\r\nLogin=old\r\n");
}
