#include "platform/Process.h"
#include "platform/Paths.h"
#include "tests/support/Files.h"
#include "tests/support/System.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

// The child program built beside this test program (see ArgsChild.h).
std::string Child() {
    return ApplicationDir() + "args_child" RODERUV_EXE_SUFFIX;
}

} // namespace

TEST(Process, MissingProgramCannotBeStarted) {
    auto r = RunAndWait(JoinPath(JoinPath("", "no"), "such-program"), {"x"});
    EXPECT_FALSE(r.started);
    testsupport::TempFolder dir;
    // Neither a program nor marked as one.
    testsupport::WriteBytes(dir / "notexec" RODERUV_EXE_SUFFIX, "plain text, not a program\n");
    EXPECT_FALSE(RunAndWait(dir / "notexec" RODERUV_EXE_SUFFIX, {}).started);
}

TEST(Process, EachArgumentArrivesWholeWithoutAShell) {
    testsupport::TempFolder dir;
    const std::string out = dir / "out";
    // Blanks, quotes and backslashes in every position the Windows rules
    // treat specially, shell characters, Czech letters and an empty one.
    const std::vector<std::string> args = {
        "-r",
        "5E2B7C19",
        "-e",
        "C:\\Dokumenty a data\\20260305 \"kopie\".zip",
        "C:\\konec s mezerou\\",
        "a\\\\\"b",
        "\\\\server\\share\\",
        "",
        "\"",
        "a b \"c\" $HOME;`x` %PATH% & | > <",
        "tab\there",
        "Žluťoučký kůň",
    };
    std::vector<std::string> withOut = {out};
    withOut.insert(withOut.end(), args.begin(), args.end());
    auto r = RunAndWait(Child(), withOut);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 3); // standard input is the null device: at its end at once
    std::string expected;
    for (const auto& a : args)
        expected += "[" + a + "]";
    EXPECT_EQ(testsupport::ReadBytes(out), expected);
}

namespace {
int idleCalls = 0;
void CountIdle() {
    ++idleCalls;
}
} // namespace

TEST(Process, WaitingLetsTheIdleHookRun) {
    idleCalls = 0;
    auto r = RunAndWait(Child(), {"--sleep", "300"}, CountIdle);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GE(idleCalls, 2);
}

// A handle (descriptor) of ours that a child would inherit by default.
TEST(Process, InheritsNoOtherHandle) {
    testsupport::TempFolder dir;
    testsupport::WriteBytes(dir / "open", "x");
    const std::string handle = testsupport::OpenInheritable(dir / "open");
    EXPECT_EQ(RunAndWait(Child(), {"--probe", handle, dir / "open"}).exitCode, 11);
}
