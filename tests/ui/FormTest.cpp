#include "ui/Form.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/PromptRecorder.h"
#include "ui/Testing.h"
#include "ui/Timer.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace {

using namespace ui::testing;

TEST(Form, FixedClientSizeAndCaption) {
    ui::Form form;
    form.SetCaption("Projekt TANO - Odesílání dat - verze 1.3");
    form.SetClientSize(514, 262);
    EXPECT_EQ(form.Caption(), "Projekt TANO - Odesílání dat - verze 1.3");
    EXPECT_EQ(form.Geometry().width, 514);
    EXPECT_EQ(form.Geometry().height, 262);
    EXPECT_TRUE(FixedSize(form));
    EXPECT_FALSE(HasMinimiseOrMaximiseBox(form));
}

TEST(Form, FirstActivationRunsOnceAfterShowing) {
    ui::Form form;
    form.SetClientSize(100, 50);
    int runs = 0;
    form.SetOnFirstActivate([&] { ++runs; });
    ui::ProcessMessages();
    EXPECT_EQ(runs, 0);
    form.ShowCentred();
    EXPECT_EQ(runs, 0); // queued, runs from the event loop
    ui::ProcessMessages();
    EXPECT_EQ(runs, 1);
    form.Hide();
    form.Show();
    ui::ProcessMessages();
    EXPECT_EQ(runs, 1);
}

TEST(Form, ShownCentredOnTheScreen) {
    ui::Form form;
    form.SetClientSize(200, 100);
    form.ShowCentred();
    ui::ProcessMessages();
    const ui::Rect screen = ScreenArea();
    const ui::Rect frame = Frame(form);
    EXPECT_NEAR(frame.CentreX(), screen.CentreX(), 2);
    EXPECT_NEAR(frame.CentreY(), screen.CentreY(), 2);
}

TEST(Form, CloseBoxRunsTheCloseRequestAndCloses) {
    ui::Form form;
    form.SetClientSize(100, 50);
    int requests = 0;
    form.SetOnCloseRequest([&] { ++requests; });
    form.Show();
    ui::ProcessMessages();
    EXPECT_TRUE(PressCloseBox(form));
    EXPECT_EQ(requests, 1);
    EXPECT_FALSE(form.Visible());
}

// Windows' log-off or shutdown reaches the handler when the system asks and
// when it ends the session; the window lets the session end and stays.
TEST(Form, SessionEndRunsTheHandlerAndLetsTheSessionEnd) {
#ifndef _WIN32
    GTEST_SKIP() << "a Linux session's end reaches the program as SIGTERM";
#endif
    ui::Form form;
    form.SetClientSize(100, 50);
    std::string calls;
    form.SetOnSessionEnd([&] { calls += "end "; });
    form.SetOnSessionEnded([&] { calls += "ended "; });
    form.Show();
    ui::ProcessMessages();
    EXPECT_TRUE(EndSession(form));
    EXPECT_EQ(calls, "end end ended ");
    EXPECT_TRUE(form.Visible());
}

// The operator closes the window while a run waits with events running: the
// handler runs at once (it cancels the waits), and the event loop ends once
// the run has returned to it.
TEST(Form, CloseBoxDuringAWaitReachesTheHandlerAndEndsTheLoopAfterwards) {
    ui::ResetTerminateCount();
    ui::Form form;
    form.SetClientSize(100, 50);
    int requests = 0;
    form.SetOnCloseRequest([&] { ++requests; });
    ASSERT_TRUE(ShowActive(form));
    bool timedOut = false;
    ui::Timer guard;
    guard.OnTick([&] {
        timedOut = true;
        guard.Stop();
        ui::Terminate();
    });
    guard.Start(5000);
    bool seenDuringWait = false;
    RunLater([&] {
        RunLater([&] { PressCloseBox(form); });
        seenDuringWait = WaitFor([&] { return requests == 1; }, 3000);
    });
    ui::RunEventLoop();
    guard.Stop();
    EXPECT_TRUE(seenDuringWait);
    EXPECT_FALSE(timedOut) << "closing the window did not end the event loop";
    EXPECT_FALSE(form.Visible());
    ui::ResetTerminateCount();
}

// The main window takes the keyboard as a dialog does: Tab and Shift+Tab
// move the focus, Enter presses the focused button, else the default one,
// and Esc presses nothing.
TEST(Form, KeyboardAsInADialog) {
    ui::Form form;
    form.SetClientSize(300, 200);
    ui::ListBox list(&form, 10, 60, 200, 100);
    ui::Button start(&form, 10, 10, 96, 41, "Odeslat soubory");
    ui::Button add(&form, 120, 10, 96, 41, "Přidat soubor(y)");
    std::string pressed;
    start.OnClick([&] { pressed += "start "; });
    add.OnClick([&] { pressed += "add "; });
    ui::SetTabOrder({&start, &list, &add});
    form.SetDefaultButton(&start);
    ASSERT_TRUE(ShowActive(form));
    start.SetFocus();
    PressKey(form, Key::Tab);
    EXPECT_TRUE(list.Focused());
    PressKey(form, Key::Tab);
    EXPECT_TRUE(add.Focused());
    PressKey(form, Key::Enter);
    PressKey(form, Key::Escape);
    PressKey(form, Key::ShiftTab);
    EXPECT_TRUE(list.Focused());
    PressKey(form, Key::Enter);
    EXPECT_EQ(pressed, "add start ");
    EXPECT_TRUE(form.Visible());
}

TEST(Form, ScreenshotIsAPngOfTheClientArea) {
    ui::Form form;
    form.SetClientSize(123, 45);
    ASSERT_TRUE(ShowActive(form));
    Wait(50);
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "roderuv-screenshot-test.png";
    ASSERT_TRUE(Screenshot(form, file.string()));
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    std::filesystem::remove(file);
    ASSERT_GE(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    auto big32 = [&](std::size_t at) {
        unsigned v = 0;
        for (std::size_t i = at; i < at + 4; ++i)
            v = (v << 8) | static_cast<unsigned char>(bytes[i]);
        return v;
    };
    EXPECT_EQ(big32(16), 123u); // IHDR width and height
    EXPECT_EQ(big32(20), 45u);
}

TEST(DialogForm, ShowModalGoesThroughTheHookWithTheForm) {
    ui::PromptRecorder rec;
    ui::Form owner;
    ui::DialogForm dlg(&owner);
    dlg.SetCaption("Konfigurace programu");
    EXPECT_EQ(dlg.Owner(), &owner);
    bool sawForm = false;
    rec.onModalForm = [&](const ui::PromptRequest& r) {
        sawForm = r.form == &dlg;
        return ui::PromptResult{true, {}};
    };
    EXPECT_TRUE(dlg.ShowModal());
    EXPECT_TRUE(sawForm);
    ASSERT_EQ(rec.Requests().size(), 1u);
    EXPECT_EQ(rec.Requests()[0].kind, ui::PromptKind::ModalForm);
    EXPECT_EQ(rec.Requests()[0].caption, "Konfigurace programu");
    rec.onModalForm = nullptr;
    EXPECT_FALSE(dlg.ShowModal()); // no driver: rejected, never blocks
}

TEST(DialogForm, EscPressesTheCancelButtonAndCloses) {
    ui::Form owner;
    ui::DialogForm dlg(&owner);
    ui::Button cancel(&dlg, 0, 0, 50, 20, "Storno");
    int pressed = 0;
    cancel.OnClick([&] { ++pressed; });
    dlg.SetCancelButton(&cancel);
    dlg.Show();
    ui::ProcessMessages();
    PressKey(dlg, Key::Escape);
    EXPECT_EQ(pressed, 1);
    EXPECT_FALSE(dlg.Visible());
    EXPECT_FALSE(dlg.Accepted());
}

TEST(DialogForm, DialogFirstActivationRunsFromItsLoop) {
    ui::PromptRecorder rec;
    ui::Form owner;
    ui::DialogForm dlg(&owner);
    int loads = 0;
    dlg.SetOnFirstActivate([&] {
        ++loads;
        dlg.CloseForm(true);
    });
    // A real modal loop: the first activation closes the dialog again.
    rec.onModalForm = [](const ui::PromptRequest& r) {
        return ui::PromptResult{r.form->RunModalLoop(), {}};
    };
    EXPECT_TRUE(dlg.ShowModal());
    EXPECT_EQ(loads, 1);
}

} // namespace
