// The test main of every test binary that opens windows: the application
// object on the platform tests run on (offscreen with Qt), so no display is
// needed and no box can wait for a user. Built once more without the
// application object for the tests of the program's start, which make
// their own.
#include "ui/Application.h"
#include "ui/Testing.h"

#include <gtest/gtest.h>
#include <optional>

int main(int argc, char** argv) {
    ui::testing::PrepareTestProcess();
    testing::InitGoogleTest(&argc, argv);
    std::optional<ui::Application> app;
#ifndef RODERUV_TEST_MAIN_WITHOUT_APPLICATION
    app.emplace(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
