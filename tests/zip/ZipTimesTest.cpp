// Times and dates in the entries: DOS fields from the UTC calendar, the
// extended-timestamp field as true seconds since 1970, both clamped to what
// their formats hold.
#include "zip/ZipTimes.h"
#include "ZipTestSupport.h"
#include "zip/Archive.h"

#include "platform/FileSystem.h"
#include "tests/support/ScopedEnv.h"

#include <ctime>
#include <memory>

using namespace ziptest;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

constexpr int64_t kJune2021 = 1623760496; // 2021-06-15 12:34:56 UTC
// A last access ahead of the present: no system moves it when the file is
// opened or read (Linux's relatime, Wine's open), so the field must hold it.
constexpr int64_t kJanuary2031 = 1924992000; // 2031-01-01 00:00:00 UTC

// Runs the test body with a local time zone far from UTC, so that any
// conversion through local time shows up as a wrong value.
class ZipTimes : public ::testing::Test {
protected:
    // US Eastern time in the form both C libraries read.
    void SetUp() override {
        tz_ = std::make_unique<testsupport::ScopedEnv>("TZ", "EST5EDT");
        tzset();
    }
    void TearDown() override {
        tz_.reset();
        tzset();
    }
    // The single entry of an archive of one source with the given times.
    Archive OneEntry(int64_t accessed, int64_t modified, platform::FileInfo* info = nullptr) {
        const std::string source = dir / "data.csv";
        WriteBytes(source, "a;b\n1;2\n");
        SetFileTimes(source, accessed, modified);
        if (info) {
            EXPECT_TRUE(platform::GetFileInfo(source, *info));
        }
        ArchiveHandle* h = ArchiveCreate(archive);
        EXPECT_NE(h, nullptr);
        EXPECT_EQ(ArchiveAddFile(h, "data.csv", source), ArchiveOk);
        EXPECT_EQ(ArchiveClose(h), ArchiveOk);
        Archive a;
        EXPECT_TRUE(PassesEverything(archive, a));
        return a;
    }

    TempFolder dir;
    std::string archive = dir / "times.zip";

private:
    std::unique_ptr<testsupport::ScopedEnv> tz_;
};

TEST_F(ZipTimes, ExtendedTimestampHoldsTrueUtcSeconds) {
    platform::FileInfo info;
    Archive a = OneEntry(kJanuary2031, kJune2021, &info);
    ASSERT_EQ(a.central.size(), 1u);
    const std::string& local = a.local[0].extra;
    EXPECT_EQ(Get32(local, 5), static_cast<uint32_t>(kJune2021));
    EXPECT_EQ(Get32(local, 9), static_cast<uint32_t>(kJanuary2031));
    EXPECT_EQ(Get32(local, 13), static_cast<uint32_t>(info.created));
    EXPECT_EQ(Get32(a.central[0].extra, 5), static_cast<uint32_t>(kJune2021));
}

TEST_F(ZipTimes, DosDateAndTimeAreTheUtcFields) {
    Archive a = OneEntry(kJune2021, kJune2021);
    EXPECT_EQ(a.central[0].date, (41 << 9) | (6 << 5) | 15);
    EXPECT_EQ(a.central[0].time, (12 << 11) | (34 << 5) | (56 / 2));
}

TEST_F(ZipTimes, TimesBefore1980AreClamped) {
    const int64_t march1975 = 163141567; // 1975-03-04 05:06:07 UTC
    Archive a = OneEntry(march1975, march1975);
    EXPECT_EQ(a.central[0].date, (0 << 9) | (1 << 5) | 1);
    EXPECT_EQ(a.central[0].time, 0);
    EXPECT_EQ(Get32(a.local[0].extra, 5), 163141567u); // the field itself reaches back to 1970

    const int64_t march1965 = -152391233; // 1965-03-04 05:06:07 UTC
    a = OneEntry(march1965, march1965);
    EXPECT_EQ(a.central[0].date, (0 << 9) | (1 << 5) | 1);
    EXPECT_EQ(a.central[0].time, 0);
    EXPECT_EQ(Get32(a.local[0].extra, 5), 18367u); // 1970-01-01 05:06:07
}

TEST_F(ZipTimes, TimesAfter2107AreClamped) {
    const int64_t year2150 = 5680379045; // 2150-01-02 03:04:05 UTC
    Archive a = OneEntry(year2150, year2150);
    EXPECT_EQ(a.central[0].date, (127 << 9) | (12 << 5) | 31);
    EXPECT_EQ(a.central[0].time, (23 << 11) | (59 << 5) | 29);
    EXPECT_EQ(Get32(a.local[0].extra, 5), 2145841445u); // 2037-12-31 03:04:05
}

TEST(ZipTimeFields, Boundaries) {
    EXPECT_EQ(zip::DosDateTimeFromUtc(315532800), 0x00210000u); // 1980-01-01 00:00:00
    EXPECT_EQ(zip::DosDateTimeFromUtc(315532799), 0x00210000u); // one second earlier
    EXPECT_EQ(zip::DosDateTimeFromUtc(-86400 * 400), 0x00210000u);
    EXPECT_EQ(zip::DosDateTimeFromUtc(4354819199), 0xFF9FBF7Du); // 2107-12-31 23:59:59
    EXPECT_EQ(zip::DosDateTimeFromUtc(4354819200), 0xFF9FBF7Du);
    // 2024-02-29 23:59:59
    EXPECT_EQ(zip::DosDateTimeFromUtc(1709251199),
              ((44u << 9 | 2u << 5 | 29u) << 16) | (23u << 11 | 59u << 5 | 29u));
    EXPECT_EQ(zip::ExtendedTimeFromUtc(kJune2021), static_cast<uint32_t>(kJune2021));
    EXPECT_EQ(zip::ExtendedTimeFromUtc(-1), 86399u); // 1969-12-31 23:59:59 keeps its time of day
    EXPECT_EQ(zip::ExtendedTimeFromUtc(2145916799), 2145916799u); // 2037-12-31 23:59:59
    EXPECT_EQ(zip::ExtendedTimeFromUtc(2145916800), 2145830400u); // 2038-01-01 00:00:00
}

} // namespace
