// The program's frame (RunProgram), in a test binary whose main makes no
// application object: an exception escaping the main window is shown in a
// box while the application object still exists, and the exit status is 0.
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/Prompts.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

struct Escaped {
    const char* name;
    std::function<int()> body;
    std::string shown;
};

class Program : public testing::TestWithParam<Escaped> {};

TEST_P(Program, ExceptionIsShownWhileTheApplicationExists) {
    std::vector<std::string> errors;
    bool applicationThen = false;
    ui::PromptHook previous = ui::SetPromptHook([&](const ui::PromptRequest& r) {
        if (r.kind == ui::PromptKind::Error) {
            errors.push_back(r.text);
            applicationThen = ui::ApplicationExists();
        }
        return ui::PromptResult{true, {}};
    });
    int argc = 1;
    char name[] = "roderuv";
    char* argv[] = {name, nullptr};
    ASSERT_FALSE(ui::ApplicationExists());
    EXPECT_EQ(ui::RunProgram(argc, argv, GetParam().body), 0);
    ui::SetPromptHook(std::move(previous));
    EXPECT_EQ(errors, std::vector<std::string>{GetParam().shown});
    EXPECT_TRUE(applicationThen) << "a box needs the application object";
    EXPECT_FALSE(ui::ApplicationExists());
}

INSTANTIATE_TEST_SUITE_P(
    Program, Program,
    testing::Values(Escaped{"StdException",
                            []() -> int { throw std::runtime_error("Unable to write to /x"); },
                            "Unable to write to /x"},
                    Escaped{"OtherWithAWindowShown",
                            []() -> int {
                                ui::Form window;
                                window.ShowCentred();
                                throw 42;
                            },
                            "Unknown error"}),
    [](const testing::TestParamInfo<Escaped>& info) { return std::string(info.param.name); });

} // namespace
