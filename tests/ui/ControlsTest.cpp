#include "ui/Controls.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/PromptRecorder.h"
#include "ui/Testing.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

using namespace ui::testing;

TEST(Controls, ButtonGeometryCaptionAndGuardedClick) {
    ui::PromptRecorder rec;
    ui::Form form;
    ui::Button b(&form, 409, 8, 96, 41, "Přidat soubor(y)");
    EXPECT_EQ(b.Geometry(), (ui::Rect{409, 8, 96, 41}));
    EXPECT_EQ(b.Caption(), "Přidat soubor(y)");
    int clicks = 0;
    b.OnClick([&] {
        ++clicks;
        throw std::runtime_error("boom");
    });
    Press(b);
    Press(b);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(rec.Texts(ui::PromptKind::Error), (std::vector<std::string>{"boom", "boom"}));
    b.SetEnabled(false);
    Press(b);
    b.Click();
    EXPECT_EQ(clicks, 2) << "a disabled button cannot be pressed";
}

TEST(Controls, ListBoxKeepsOrderAndSelection) {
    ui::Form form;
    ui::ListBox list(&form, 16, 8, 377, 241);
    EXPECT_TRUE(MultiSelect(list));
    list.Add("/a/ž.txt");
    list.Add("");
    list.Add("/c");
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"/a/ž.txt", "", "/c"}));
    list.SetSelected(0, true);
    list.SetSelected(2, true);
    EXPECT_TRUE(list.Selected(0));
    EXPECT_FALSE(list.Selected(1));
    EXPECT_TRUE(list.Selected(2));
    list.Delete(0);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_FALSE(list.Selected(0));
    EXPECT_TRUE(list.Selected(1));
    EXPECT_EQ(list.Item(5), "");
}

// A path wider than the list scrolls sideways to its end, as long as such a
// line is there.
TEST(Controls, ListScrollsSidewaysToTheEndOfALongPath) {
    ui::Form form;
    form.SetClientSize(514, 262);
    ui::ListBox list(&form, 16, 8, 377, 241);
    ASSERT_TRUE(ShowActive(form));
    std::string path = "C:\\Data";
    for (int i = 0; i < 12; ++i)
        path += "\\Oddělení klinické onkologie " + std::to_string(i);
    list.Add("C:\\data.csv");
    EXPECT_FALSE(ScrollsSideways(list));
    list.Add(path + "\\pacienti.csv");
    list.Add(path + path + "\\léčba.csv");
    EXPECT_TRUE(ScrollsSideways(list));
    EXPECT_TRUE(WholeLineReachable(list, 1));
    EXPECT_TRUE(WholeLineReachable(list, 2));
    list.Delete(2);
    EXPECT_TRUE(WholeLineReachable(list, 1));
    list.Delete(1);
    EXPECT_FALSE(ScrollsSideways(list));
}

TEST(Controls, EditPlainAndPassword) {
    ui::Form form;
    ui::Edit e(&form, 64, 75, 121, 21);
    e.SetText("heslo ěšč");
    EXPECT_EQ(e.Text(), "heslo ěšč");
    EXPECT_FALSE(TextHidden(e));
    e.SetPasswordChar('*');
    EXPECT_TRUE(TextHidden(e));
    EXPECT_EQ(e.Text(), "heslo ěšč");
    e.SetPasswordChar(0);
    EXPECT_FALSE(TextHidden(e));
}

TEST(Controls, RadioGroupsFollowTheParent) {
    ui::Form form;
    ui::RadioButton all(&form, 232, 72, 137, 17, "Zachovávat celou historii");
    ui::RadioButton last(&form, 393, 72, 145, 17, "Jen výsledek");
    ui::GroupBox group(&form, 232, 136, 305, 116, "Operace se soubory po úspěšném odeslání: ");
    ui::RadioButton leave(&group, 8, 19, 113, 17, "Ponechat");
    ui::RadioButton del(&group, 8, 43, 113, 17, "Smazat");
    all.SetChecked(true);
    leave.SetChecked(true);
    del.SetChecked(true);
    EXPECT_FALSE(leave.Checked());
    EXPECT_TRUE(all.Checked()); // the other group is untouched
    last.SetChecked(true);
    EXPECT_FALSE(all.Checked());
    EXPECT_TRUE(del.Checked());
}

TEST(Controls, CheckBoxMouseUpSeesTheNewState) {
    ui::Form form;
    form.SetClientSize(300, 100);
    ui::CheckBox box(&form, 9, 10, 137, 17, "Používat proxy server");
    form.Show();
    ui::ProcessMessages();
    std::vector<bool> seen;
    box.OnMouseUp([&] { seen.push_back(box.Checked()); });
    int keys = 0;
    box.OnKeyUp([&] { ++keys; });
    Click(box);
    Click(box);
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    box.SetFocus();
    PressKey(form, Key::Space);
    EXPECT_EQ(keys, 1);
    EXPECT_TRUE(box.Checked());
}

TEST(Controls, LabelPanelAndTabOrder) {
    ui::Form form;
    ui::Label label(&form, 9, 15, "Adresa FTP serveru: ");
    EXPECT_EQ(label.Geometry().left, 9);
    EXPECT_EQ(label.Geometry().top, 15);
    EXPECT_EQ(label.Caption(), "Adresa FTP serveru: ");
    EXPECT_GT(label.Geometry().width, 0);
    ui::Panel panel(&form, 203, 39, 9, 214);
    EXPECT_EQ(panel.Geometry(), (ui::Rect{203, 39, 9, 214}));
    ui::Button a(&form, 0, 0, 10, 10, "a");
    ui::Button b(&form, 0, 0, 10, 10, "b");
    ui::Button c(&form, 0, 0, 10, 10, "c");
    ui::SetTabOrder({&c, &a, &b});
    // The tab chain from c, skipping controls that take no focus.
    EXPECT_EQ(NextInTabOrder(c), &a) << Describe(*NextInTabOrder(c));
    EXPECT_EQ(NextInTabOrder(a), &b);
}

// A button that counts its destruction.
struct CountedButton : ui::Button {
    using ui::Button::Button;
    ~CountedButton() override { ++destroyed; }
    static inline int destroyed = 0;
};

TEST(Controls, ChildrenMadeWithNewGoWithTheirParent) {
    CountedButton::destroyed = 0;
    const int before = LiveWindows();
    auto form = std::make_unique<ui::Form>();
    auto* group = new ui::GroupBox(form.get(), 0, 0, 100, 100, "g");
    new CountedButton(group, 0, 0, 10, 10, "in the box");
    {
        CountedButton onStack(form.get(), 0, 0, 10, 10, "ends first");
        EXPECT_EQ(form->Children().size(), 2u);
    }
    EXPECT_EQ(CountedButton::destroyed, 1);
    EXPECT_EQ(form->Children(), (std::vector<ui::Control*>{group}));
    EXPECT_EQ(group->Children().size(), 1u);
    EXPECT_EQ(LiveWindows(), before + 1);
    form.reset();
    EXPECT_EQ(CountedButton::destroyed, 2) << "the button in the box went with the window";
    EXPECT_EQ(LiveWindows(), before);
}

} // namespace
