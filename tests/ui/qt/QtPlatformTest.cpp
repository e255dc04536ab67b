// The Qt backend's own choice of platform, which only Linux builds have.
#include "ui/Application.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(Application, OffscreenIsChosenOnlyWithoutADisplay) {
    const char* old = std::getenv("QT_QPA_PLATFORM");
    std::string saved = old ? old : "";
    const char* disp = std::getenv("DISPLAY");
    std::string savedDisplay = disp ? disp : "";
    const char* way = std::getenv("WAYLAND_DISPLAY");
    std::string savedWayland = way ? way : "";

    ::unsetenv("QT_QPA_PLATFORM");
    ::setenv("DISPLAY", ":7", 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ui::UseOffscreenWithoutDisplay();
    EXPECT_EQ(std::getenv("QT_QPA_PLATFORM"), nullptr);

    ::setenv("DISPLAY", "", 1);
    EXPECT_FALSE(ui::DisplayReachable());
    ui::UseOffscreenWithoutDisplay();
    ASSERT_NE(std::getenv("QT_QPA_PLATFORM"), nullptr);
    EXPECT_STREQ(std::getenv("QT_QPA_PLATFORM"), "offscreen");

    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    EXPECT_TRUE(ui::DisplayReachable());
    // A platform named explicitly makes windows without a display.
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_TRUE(ui::WindowsAvailable());
    ::unsetenv("QT_QPA_PLATFORM");
    EXPECT_FALSE(ui::WindowsAvailable());

    ::setenv("QT_QPA_PLATFORM", saved.c_str(), 1);
    if (disp)
        ::setenv("DISPLAY", savedDisplay.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
    if (way)
        ::setenv("WAYLAND_DISPLAY", savedWayland.c_str(), 1);
    else
        ::unsetenv("WAYLAND_DISPLAY");
}

} // namespace
