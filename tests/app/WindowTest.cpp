// The main window as built, its first activation and the unattended-run
// switch, on the real TForm1.
#include "AppFixture.h"
#include "FakeStages.h"

#include "app/AutoSwitch.h"

#include "platform/AbruptEnd.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "settings/Uformkonfigurace.h"
#include "settings/Unitpom.h"
#include "tests/support/System.h"
#include "ui/Application.h"

#include <algorithm>
#include <cstdlib>
#include <regex>

namespace {

using Window = AppFixture;

// The program built beside the tests. Under Wine the Linux path the build
// gives is on drive Z:, written with backslashes.
std::string ProgramPath() {
    std::string path = RODERUV_PROGRAM;
    if (testsupport::OnWindows() && !path.empty() && path.front() == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    return path;
}

// A shell command line: POSIX only; on Windows no test gets this far.
int RunShell(const std::string& command, std::string* output = nullptr) {
#ifdef _WIN32
    (void)command;
    (void)output;
    return -1;
#else
    return testsupport::RunShell(command, output);
#endif
}

TEST_F(Window, CaptionSizeAndControls) {
    auto form = MakeForm();
    EXPECT_EQ(form->Caption(), "Projekt TANO - Odesílání dat - verze 1.3");
    EXPECT_EQ(form->Geometry().width, 514);
    EXPECT_EQ(form->Geometry().height, 262);
    EXPECT_TRUE(ui::testing::FixedSize(*form));
    EXPECT_EQ(form->ListFiles->Geometry(), (ui::Rect{16, 8, 377, 241}));
    EXPECT_TRUE(ui::testing::MultiSelect(*form->ListFiles));
    struct {
        ui::Button* button;
        ui::Rect where;
        const char* caption;
    } buttons[] = {
        {form->ButtonAddFiles, {409, 8, 96, 41}, "Přidat soubor(y)"},
        {form->ButtonRemoveFiles, {409, 58, 96, 41}, "Smazat soubor(y)"},
        {form->ButtonKonfigurace, {409, 108, 96, 41}, "Konfigurace"},
        {form->ButtonSave, {409, 158, 96, 41}, "Uložit nastavení"},
        {form->ButtonStart, {409, 208, 96, 41}, "Odeslat soubory"},
    };
    for (const auto& b : buttons) {
        EXPECT_EQ(b.button->Geometry(), b.where) << b.caption;
        EXPECT_EQ(b.button->Caption(), b.caption);
        EXPECT_TRUE(ui::testing::CaptionFits(*b.button)) << b.caption;
        EXPECT_TRUE(b.button->Enabled());
    }
    EXPECT_FALSE(form->AutoMode);
    EXPECT_FALSE(form->LogEnabled);
    EXPECT_FALSE(form->LogDelete);
    EXPECT_TRUE(form->LogPath.empty());
}

TEST_F(Window, TabOrderStartsWithTheSendButton) {
    auto form = MakeForm();
    std::vector<ui::Control*> order{form->ButtonStart,       form->ListFiles,
                                    form->ButtonAddFiles,    form->ButtonRemoveFiles,
                                    form->ButtonKonfigurace, form->ButtonSave};
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        EXPECT_EQ(ui::testing::NextInTabOrder(*order[i]), order[i + 1]) << "after control " << i;
}

TEST_F(Window, FirstActivationLoadsTheListOnce) {
    WriteSettingString("General", "PocetSouboru", "2");
    WriteSettingString("Files", "File0", "/data/a.dat");
    WriteSettingString("Files", "File1", "/data/b.dat");
    auto form = MakeForm();
    EXPECT_EQ(form->ListFiles->Count(), 0);
    form->ShowCentred();
    ui::ProcessMessages();
    EXPECT_EQ(form->ListFiles->Items(), (std::vector<std::string>{"/data/a.dat", "/data/b.dat"}));
    form->Hide();
    form->Show();
    ui::ProcessMessages();
    EXPECT_EQ(form->ListFiles->Count(), 2);
    EXPECT_EQ(ui::TerminateCount(), 0);
}

// Runs are counted by their journal headers; every run here stops at the
// missing gpg.exe.
struct SwitchCase {
    std::vector<std::string> params;
    int runs;
};

// The arguments, for the test's name.
void PrintTo(const SwitchCase& row, std::ostream* out) {
    for (const std::string& param : row.params)
        *out << "[" << param << "]";
}

class Switch : public AppFixture, public testing::WithParamInterface<SwitchCase> {};

TEST_P(Switch, RunsOncePerMatchingArgumentThenEnds) {
    WriteGoodSettings();
    auto form = MakeForm(GetParam().params);
    form->ShowCentred();
    ui::ProcessMessages(); // first activation
    int starts = 0;
    for (const std::string& line : JournalLines())
        if (line == Stamped("Start "))
            ++starts;
    EXPECT_EQ(starts, GetParam().runs);
    EXPECT_EQ(form->AutoMode, GetParam().runs > 0);
    EXPECT_EQ(ui::TerminateCount() > 0, GetParam().runs > 0);
    EXPECT_TRUE(prompts.Requests().empty()) << "an unattended run shows no box";
    EXPECT_EQ(form->Params, GetParam().params);
}

INSTANTIATE_TEST_SUITE_P(Window, Switch,
                         testing::Values(SwitchCase{{"/auto"}, 1}, SwitchCase{{"-AUTO"}, 1},
                                         SwitchCase{{"/AuTo"}, 1}, SwitchCase{{"xauto"}, 1},
                                         SwitchCase{{"auto"}, 0}, SwitchCase{{"//auto"}, 0},
                                         SwitchCase{{"/auto", "/auto"}, 2},
                                         SwitchCase{{"foo", "-Auto", "bar"}, 1},
                                         SwitchCase{{"/autox"}, 0}, SwitchCase{{"/"}, 0},
                                         SwitchCase{{""}, 0}, SwitchCase{{"ÁAUTO"}, 1}));

TEST_F(Window, SwitchAndTheLowerCaseOfCzechLetters) {
    EXPECT_TRUE(IsAutoSwitch("/AUTO"));
    EXPECT_FALSE(IsAutoSwitch("/AUTOŠ"));
    EXPECT_FALSE(IsAutoSwitch("/áuto"));
}

TEST_F(Window, WithoutSwitchTheWindowStaysAndNoRunStarts) {
    WriteGoodSettings();
    auto form = MakeForm({"auto", "--verbose"});
    form->ShowCentred();
    ui::ProcessMessages();
    EXPECT_FALSE(platform::FileExists(JournalPath()));
    EXPECT_EQ(ui::TerminateCount(), 0);
    EXPECT_TRUE(form->Visible());
}

// The request is the configuration dialog itself, owned by the window, with
// its controls in place while it is shown.
TEST_F(Window, ConfigurationButtonShowsTheDialogModally) {
    auto form = MakeForm();
    int shown = 0;
    prompts.onModalForm = [&](const ui::PromptRequest& r) {
        ++shown;
        EXPECT_EQ(r.form->Owner(), form.get());
        const auto* dialog = dynamic_cast<const TFormKonfigurace*>(r.form);
        EXPECT_NE(dialog, nullptr);
        if (dialog != nullptr) {
            EXPECT_EQ(dialog->Name(), "FormKonfigurace");
            EXPECT_EQ(dialog->Geometry().width, 545);
            EXPECT_EQ(dialog->Geometry().height, 323);
            EXPECT_EQ(dialog->ButtonSave->Parent(), dialog);
            EXPECT_EQ(dialog->ButtonSave->Caption(), "Uložit nastavení");
            EXPECT_EQ(dialog->LMDButton1->Caption(), "Storno");
            EXPECT_EQ(dialog->EditFTPServer->Parent(), dialog);
            EXPECT_EQ(dialog->RadioMoveTo->Parent(), dialog->GroupBox1);
        }
        return ui::PromptResult{};
    };
    ui::testing::Press(*form->ButtonKonfigurace);
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(prompts.Requests().size(), 1u);
    EXPECT_EQ(prompts.Requests()[0].kind, ui::PromptKind::ModalForm);
    EXPECT_EQ(prompts.Requests()[0].caption, "Konfigurace programu");
    EXPECT_EQ(ui::testing::LiveWindows(), 1) << "the dialog is gone after closing";
}

// The program itself, started as cron (or the Task Scheduler) would, with the
// switch: it runs, shows no box and exits with status 0. On Linux without a
// display, so it must choose the offscreen platform by itself; on Windows,
// which always has one, as the real roderuv.exe with its own command line.
TEST_F(Window, ProgramWithSwitchRunsUnattendedAndExitsZero) {
    const std::string exe = tmp / platform::ExtractFileName(ProgramPath());
    ASSERT_TRUE(platform::CopyFile(ProgramPath(), exe, true));
    WriteGoodSettings(); // Settings.ini beside the copy; no gpg.exe there
    std::string output;
    if (testsupport::OnWindows()) {
        const platform::ProcessResult run = platform::RunAndWait(exe, {"/auto"});
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 0);
    } else {
        ASSERT_EQ(RunShell("chmod +x '" + exe + "'"), 0);
        const std::string cmd =
            "cd '" + tmp.Path() +
            "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 30 '" + exe +
            "' /auto 2>&1";
        EXPECT_EQ(RunShell(cmd, &output), 0) << output;
    }
    const std::vector<std::string> lines = JournalLines();
    ASSERT_FALSE(lines.empty()) << output;
    // The program runs on the real clock: match the stamp by its form.
    const std::regex line(R"(\d{1,2}\.\d{1,2}\.\d{4} \d{1,2}:\d{1,2}:\d{1,2} )"
                          R"(Program "gpg\.exe" nebyl nalezen v adresáři aplikace\.)");
    EXPECT_TRUE(std::regex_match(lines.back(), line)) << lines.back();
    EXPECT_EQ(lines.front(), std::string(53, '-'));
}

TEST_F(Window, ProgramWithoutSwitchAndWithoutDisplayEndsWithStatusZero) {
    if (testsupport::OnWindows())
        GTEST_SKIP() << "Windows always has a display";
    std::string output;
    const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 30 '" +
                            std::string(RODERUV_PROGRAM) + "' 2>&1";
    EXPECT_EQ(RunShell(cmd, &output), 0) << output;
    EXPECT_NE(output.find("no display"), std::string::npos) << output;
}

// The end of the Windows session: the run below the message cannot unwind
// before the system may end the program, so what it must not leave in the
// clear goes at once.
TEST_F(Window, SessionEndRemovesWhatARunLeavesInTheClear) {
    if (!testsupport::OnWindows())
        GTEST_SKIP() << "a Linux session's end reaches the program as SIGTERM";
    auto form = MakeForm();
    form->Show();
    ui::ProcessMessages();
    const std::string clear = DataFile("20260305.zip", "patient data");
    platform::RemoveOnAbruptEnd(clear);
    EXPECT_TRUE(ui::testing::EndSession(*form));
    platform::ForgetOnAbruptEnd(clear);
    EXPECT_FALSE(platform::FileExists(clear));
}

// Not a check: writes a picture of the window with a few data files, one of
// them on a long path, for a person to look at when RODERUV_SCREENSHOT names
// a folder.
TEST_F(Window, Screenshot) {
    const char* folder = std::getenv("RODERUV_SCREENSHOT");
    if (folder == nullptr || *folder == '\0')
        GTEST_SKIP() << "RODERUV_SCREENSHOT not set";
    auto form = MakeForm();
    for (const char* path : {"C:\\Data\\pacienti_září.csv", "C:\\Data\\léčba.csv",
                             "\\\\server\\registr\\Oddělení klinické onkologie\\2026\\Březen\\"
                             "Výsledky vyšetření pacientů s diagnózou C50.csv"})
        form->ListFiles->Add(path);
    ASSERT_TRUE(ui::testing::ShowActive(*form));
    ui::testing::Wait(300);
    EXPECT_TRUE(ui::testing::Screenshot(*form, std::string(folder) + "/hlavni-okno.png"));
}

} // namespace
