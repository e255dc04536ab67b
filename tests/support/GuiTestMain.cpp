// The test main of every test binary that opens windows: the application
// object on the platform tests run on (offscreen with Qt), so no display is
// needed and no box can wait for a user.
#include "ui/Application.h"
#include "ui/Testing.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ui::testing::PrepareTestProcess();
    testing::InitGoogleTest(&argc, argv);
    ui::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
