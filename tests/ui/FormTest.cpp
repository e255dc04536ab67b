#include "ui/Form.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/PromptRecorder.h"
#include "ui/Testing.h"

#include <gtest/gtest.h>

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
