// The Qt application for the configuration dialog's tests, on the offscreen
// platform unless another is asked for (the screenshot runs under Xvfb).
#include "ui/Application.h"

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    ui::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
