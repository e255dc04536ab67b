// Common set-up for tests of the main window: a temporary application folder
// (Settings.ini and gpg.exe are looked for there), a fixed clock, the prompt
// recorder (nothing is ever shown) and helpers for the journal's bytes.
#pragma once
#include "app/Umain.h"
#include "platform/Clock.h"
#include "tests/support/Files.h"
#include "tests/support/RandomBytes.h"
#include "tests/support/Shell.h"
#include "tests/support/TempFolder.h"
#include "ui/PromptRecorder.h"
#include "ui/Testing.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class AppFixture : public testing::Test {
protected:
    AppFixture();
    ~AppFixture() override;

    // A window with these command-line arguments (not shown).
    std::unique_ptr<TForm1> MakeForm(std::vector<std::string> params = {});

    // Complete connection settings without proxy; journal on at JournalPath().
    void WriteGoodSettings(bool journal = true);
    // The proxy switched on at that address and port (no proxy log-in).
    void UseOpenProxy(const std::string& address, const std::string& port);
    // A stand-in gpg.exe in the application folder: writes FAKE_GPG_STDERR
    // to its error output, sleeps FAKE_GPG_SLEEP ms, exits FAKE_GPG_EXIT (0).
    void PutGpg();
    // A data file with the given content in the temp folder; returns its path.
    std::string DataFile(const std::string& name, const std::string& content = "data");

    std::string JournalPath() const { return tmp / "journal.log"; }
    // The journal as UTF-8 lines (split at CR LF, the line ends removed).
    std::vector<std::string> JournalLines() const;
    // The same lines with the fixed time stamp removed (lines without one as they are).
    std::vector<std::string> JournalUnstamped() const;
    std::string JournalBytes() const;

    // The fixed time of every stamp: 5.3.2026 9:05:07.
    static constexpr const char* kStamp = "5.3.2026 9:5:7 ";
    static std::string Stamped(const std::string& text) { return kStamp + text; }

    testsupport::TempFolder tmp;
    ui::PromptRecorder prompts;
};
