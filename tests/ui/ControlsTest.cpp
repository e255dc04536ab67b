#include "ui/Controls.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/PromptRecorder.h"

#include <QTest>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(Controls, ButtonGeometryCaptionAndGuardedClick) {
    ui::PromptRecorder rec;
    ui::Form form;
    ui::Button b(&form, 409, 8, 96, 41, "Přidat soubor(y)");
    EXPECT_EQ(b.geometry(), QRect(409, 8, 96, 41));
    EXPECT_EQ(b.Caption(), "Přidat soubor(y)");
    int clicks = 0;
    b.OnClick([&] {
        ++clicks;
        throw std::runtime_error("boom");
    });
    b.click();
    b.click();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(rec.Texts(ui::PromptKind::Error), (std::vector<std::string>{"boom", "boom"}));
}

TEST(Controls, ListBoxKeepsOrderAndSelection) {
    ui::Form form;
    ui::ListBox list(&form, 16, 8, 377, 241);
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::ExtendedSelection);
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

TEST(Controls, EditPlainAndPassword) {
    ui::Form form;
    ui::Edit e(&form, 64, 75, 121, 21);
    e.SetText("heslo ěšč");
    EXPECT_EQ(e.Text(), "heslo ěšč");
    EXPECT_EQ(e.echoMode(), QLineEdit::Normal);
    e.SetPasswordChar('*');
    EXPECT_EQ(e.echoMode(), QLineEdit::Password);
    EXPECT_EQ(e.Text(), "heslo ěšč");
    e.SetPasswordChar(0);
    EXPECT_EQ(e.echoMode(), QLineEdit::Normal);
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
    form.show();
    ui::ProcessMessages();
    std::vector<bool> seen;
    box.OnMouseUp([&] { seen.push_back(box.Checked()); });
    int keys = 0;
    box.OnKeyUp([&] { ++keys; });
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, 8));
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    QTest::keyClick(&box, Qt::Key_Space);
    EXPECT_EQ(keys, 1);
    EXPECT_TRUE(box.Checked());
}

TEST(Controls, LabelPanelAndTabOrder) {
    ui::Form form;
    ui::Label label(&form, 9, 15, "Adresa FTP serveru: ");
    EXPECT_EQ(label.pos(), QPoint(9, 15));
    EXPECT_EQ(label.Caption(), "Adresa FTP serveru: ");
    EXPECT_GT(label.width(), 0);
    ui::Panel panel(&form, 203, 39, 9, 214);
    EXPECT_EQ(panel.geometry(), QRect(203, 39, 9, 214));
    ui::Button a(&form, 0, 0, 10, 10, "a");
    ui::Button b(&form, 0, 0, 10, 10, "b");
    ui::Button c(&form, 0, 0, 10, 10, "c");
    ui::SetTabOrder({&c, &a, &b});
    // The tab chain from c, skipping widgets that take no focus.
    auto next = [](QWidget* w) {
        do
            w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus);
        return w;
    };
    EXPECT_EQ(next(&c), &a) << qPrintable(next(&c)->objectName());
    EXPECT_EQ(next(&a), &b);
}

} // namespace
