#include "platform/Process.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace platform;

TEST(Process, MissingProgramCannotBeStarted) {
    auto r = RunAndWait("/no/such/program", {"x"});
    EXPECT_FALSE(r.started);
    testsupport::TempFolder dir;
    testsupport::WriteBytes(dir / "notexec", "#!/bin/sh\nexit 0\n");
    EXPECT_FALSE(RunAndWait(dir / "notexec", {}).started);
}

TEST(Process, ArgumentsArePassedWithoutAShell) {
    testsupport::TempFolder dir;
    std::string script = dir / "echoargs";
    testsupport::WriteBytes(script,
                            "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$OUT\"\n"
                            "read line && exit 9\nexit 3\n");
    chmod(script.c_str(), 0755);
    setenv("OUT", (dir / "out").c_str(), 1);
    auto r = RunAndWait(script, {"-r", "5E2B7C19", "a b \"c\" $HOME;`x`"});
    unsetenv("OUT");
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 3); // stdin is /dev/null, so read fails at once
    EXPECT_EQ(testsupport::ReadBytes(dir / "out"), "[-r][5E2B7C19][a b \"c\" $HOME;`x`]");
}

namespace {
int idleCalls = 0;
void CountIdle() {
    ++idleCalls;
}
} // namespace

TEST(Process, WaitingLetsTheIdleHookRun) {
    idleCalls = 0;
    auto r = RunAndWait("/bin/sleep", {"0.3"}, CountIdle);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GE(idleCalls, 2);
}
