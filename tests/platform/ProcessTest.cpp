#include "platform/Process.h"
#include "platform/AbruptEnd.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/Files.h"
#include "tests/support/System.h"
#include "tests/support/TempFolder.h"

#include <chrono>
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

// The end that does not wait for the program (a second signal, the end of
// the Windows session): the running program goes at once, and the files
// named for it are deleted, a forgotten one not.
TEST(Process, AbruptEndEndsTheProgramAndDeletesTheNamedFiles) {
    testsupport::TempFolder dir;
    const std::string clear = dir / "20260305.zip", kept = dir / "20260305.zip.gpg";
    testsupport::WriteBytes(clear, "patient data");
    testsupport::WriteBytes(kept, "encrypted");
    RemoveOnAbruptEnd(clear);
    RemoveOnAbruptEnd(kept);
    ForgetOnAbruptEnd(kept);
    ProcessOptions options;
    int calls = 0;
    options.idle = [&] {
        if (++calls == 2)
            CleanUpForAbruptEnd();
    };
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult r = RunAndWait(Child(), {"--sleep", "30000"}, options);
    ForgetOnAbruptEnd(clear);
    EXPECT_TRUE(r.started);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(FileExists(clear));
    EXPECT_TRUE(FileExists(kept));
}

// A handle (descriptor) of ours that a child would inherit by default.
TEST(Process, InheritsNoOtherHandle) {
    testsupport::TempFolder dir;
    testsupport::WriteBytes(dir / "open", "x");
    const std::string handle = testsupport::OpenInheritable(dir / "open");
    EXPECT_EQ(RunAndWait(Child(), {"--probe", handle, dir / "open"}).exitCode, 11);
}
