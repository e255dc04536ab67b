// Points the settings store at a fresh temporary application folder.
#pragma once
#include "platform/Paths.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

class SettingsFolder : public ::testing::Test {
protected:
    void SetUp() override { platform::SetApplicationDirOverride(dir.Path()); }
    void TearDown() override { platform::SetApplicationDirOverride(""); }

    std::string IniPath() const { return dir / "Settings.ini"; }
    void WriteIni(const std::string& bytes) const { testsupport::WriteBytes(IniPath(), bytes); }
    std::string IniBytes() const { return testsupport::ReadBytes(IniPath()); }

    testsupport::TempFolder dir;
};
