#include "ui/Prompts.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"
#include "ui/PromptRecorder.h"
#include "ui/Testing.h"
#include "ui/Timer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(Prompts, MessageHasTheTitleAsCaptionAndKeepsCzechLetters) {
    ui::PromptRecorder rec;
    ui::ShowMessage("Nastavení programu uloženo.");
    ASSERT_EQ(rec.Requests().size(), 1u);
    EXPECT_EQ(rec.Requests()[0].kind, ui::PromptKind::Message);
    EXPECT_EQ(rec.Requests()[0].caption, "RODERUV");
    EXPECT_EQ(rec.Requests()[0].text, "Nastavení programu uloženo.");
}

TEST(Prompts, QuestionDefaultsToNoAndTakesQueuedAnswers) {
    ui::PromptRecorder rec;
    EXPECT_FALSE(ui::AskYesNo("Uložit konfiguraci", "?"));
    rec.QueueYes();
    EXPECT_TRUE(ui::AskYesNo("Uložit konfiguraci", "?"));
    rec.QueueNo();
    EXPECT_FALSE(ui::AskYesNo("Uložit konfiguraci", "?"));
    ASSERT_EQ(rec.Requests().size(), 3u);
    EXPECT_EQ(rec.Requests()[1].kind, ui::PromptKind::Question);
    EXPECT_EQ(rec.Requests()[1].caption, "Uložit konfiguraci");
}

TEST(Prompts, EscapedExceptionIsShownAndTheProgramGoesOn) {
    ui::PromptRecorder rec;
    ui::RunGuarded([] { throw std::runtime_error("Unable to write to /x/Settings.ini"); });
    ui::RunGuarded([] { throw 42; });
    ASSERT_EQ(rec.Texts(ui::PromptKind::Error).size(), 2u);
    EXPECT_EQ(rec.Texts(ui::PromptKind::Error)[0], "Unable to write to /x/Settings.ini");
    EXPECT_EQ(rec.Requests()[0].caption, "RODERUV");
}

TEST(Prompts, RecorderRestoresThePreviousHook) {
    ui::PromptRecorder outer;
    {
        ui::PromptRecorder inner;
        ui::ShowMessage("inner");
        EXPECT_EQ(inner.Messages().size(), 1u);
    }
    ui::ShowMessage("outer");
    ASSERT_EQ(outer.Messages().size(), 1u);
    EXPECT_EQ(outer.Messages()[0], "outer");
}

TEST(Prompts, WithoutHookOnOffscreenNothingBlocks) {
    // No hook: the offscreen platform cannot show a box; defaults are taken.
    ASSERT_FALSE(ui::Interactive());
    ui::ShowMessage("nobody sees this");
    EXPECT_FALSE(ui::AskYesNo("c", "nobody answers this"));
    ui::OpenDialog open;
    EXPECT_FALSE(open.Execute());
}

TEST(Dialogs, OpenDialogPassesTitleFolderAndReturnsFilesInOrder) {
    ui::PromptRecorder rec;
    ui::OpenDialog dlg;
    dlg.title = "Přidat soubor(y) do seznamu...";
    dlg.initialDir = "/data";
    rec.QueueFiles({"/data/b.txt", "/data/a.txt"});
    ASSERT_TRUE(dlg.Execute());
    EXPECT_EQ(dlg.files(), (std::vector<std::string>{"/data/b.txt", "/data/a.txt"}));
    EXPECT_EQ(rec.Requests()[0].kind, ui::PromptKind::OpenFiles);
    EXPECT_EQ(rec.Requests()[0].caption, "Přidat soubor(y) do seznamu...");
    EXPECT_EQ(rec.Requests()[0].initialDir, "/data");
    rec.QueueCancel();
    EXPECT_FALSE(dlg.Execute());
}

TEST(Dialogs, SaveAndBrowseDialogsReturnTheChosenPath) {
    ui::PromptRecorder rec;
    ui::SaveDialog save;
    save.title = "Uložit log soubor";
    save.filter = "Všechny soubory (*.*)|*.*";
    save.fileName = "/old/Log.log";
    rec.QueuePath("/new/x.log");
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(save.fileName, "/new/x.log");
    EXPECT_EQ(rec.Requests()[0].fileName, "/old/Log.log");
    EXPECT_EQ(rec.Requests()[0].filter, "Všechny soubory (*.*)|*.*");

    ui::BrowseDialog browse;
    browse.folder = "/start";
    EXPECT_FALSE(browse.Execute()); // cancelled by default
    EXPECT_EQ(browse.folder, "/start");
    rec.QueuePath("/chosen");
    ASSERT_TRUE(browse.Execute());
    EXPECT_EQ(browse.folder, "/chosen");
    EXPECT_EQ(rec.Requests()[1].kind, ui::PromptKind::BrowseFolder);
    EXPECT_EQ(rec.Requests()[1].initialDir, "/start");
}

TEST(Application, TerminateTakesEffectWhenTheLoopRuns) {
    ui::ResetTerminateCount();
    ui::Terminate(); // before the loop: still ends it
    EXPECT_EQ(ui::TerminateCount(), 1);
    bool timedOut = false;
    ui::Timer guard;
    guard.OnTick([&] {
        timedOut = true;
        guard.Stop();
        ui::Terminate();
    });
    guard.Start(5000);
    EXPECT_EQ(ui::RunEventLoop(), 0);
    EXPECT_FALSE(timedOut);
    ui::ResetTerminateCount();
}

TEST(Application, TimerRepeatsUntilStopped) {
    ui::Timer timer;
    int ticks = 0;
    timer.OnTick([&] {
        if (++ticks == 3)
            timer.Stop();
    });
    timer.Start(10);
    EXPECT_TRUE(timer.Active());
    EXPECT_TRUE(ui::testing::WaitFor([&] { return !timer.Active(); }, 3000));
    ui::testing::Wait(60);
    EXPECT_EQ(ticks, 3);
}

TEST(Application, ProcessMessagesRunsQueuedWorkAndTheExtraPump) {
    int queued = 0;
    int pumped = 0;
    ui::testing::RunLater([&] { ++queued; });
    ui::SetExtraPump([&] { ++pumped; });
    ui::ProcessMessages();
    ui::SetExtraPump({});
    ui::ProcessMessages();
    EXPECT_EQ(queued, 1);
    EXPECT_EQ(pumped, 1);
}

} // namespace
