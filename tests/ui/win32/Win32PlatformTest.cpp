// What only the Win32 backend has: the owner of a modal dialog disabled
// while it runs, and the program's font.
#include "ui/Application.h"
#include "ui/Backend.h"
#include "ui/Controls.h"
#include "ui/Form.h"
#include "ui/Testing.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using namespace ui::testing;

HWND HwndOf(const ui::Control& control) {
    return static_cast<HWND>(control.Impl().Native());
}

TEST(Win32, ModalDialogDisablesItsOwnerAndGivesTheActivationBack) {
    ui::Form owner;
    owner.SetClientSize(200, 100);
    ASSERT_TRUE(ShowActive(owner));
    ui::DialogForm dialog(&owner);
    dialog.SetClientSize(100, 50);
    bool ownerDisabled = false;
    dialog.SetOnFirstActivate([&] {
        ownerDisabled = !IsWindowEnabled(HwndOf(owner));
        dialog.CloseForm(true);
    });
    EXPECT_TRUE(dialog.RunModalLoop());
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(HwndOf(owner)));
    EXPECT_TRUE(WaitFor([&] { return GetActiveWindow() == HwndOf(owner); }, 2000));
}

// "MS Sans Serif" (with Czech letters) where it exists, characters 11 pixels
// high, given to every control.
TEST(Win32, ControlsUseTheProgramsFont) {
    ui::Form form;
    ui::Label label(&form, 9, 15, "Adresa FTP serveru: ");
    ui::Edit edit(&form, 121, 11, 121, 21);
    for (const ui::Control* control :
         {static_cast<ui::Control*>(&label), static_cast<ui::Control*>(&edit)}) {
        auto font = reinterpret_cast<HFONT>(SendMessageW(HwndOf(*control), WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        LOGFONTW lf{};
        ASSERT_NE(GetObjectW(font, sizeof(lf), &lf), 0);
        EXPECT_EQ(lf.lfHeight, -11);
        const std::wstring face = lf.lfFaceName;
        EXPECT_TRUE(face == L"MS Sans Serif" || face == L"Microsoft Sans Serif" ||
                    face == L"Tahoma");
        if (face == L"MS Sans Serif") {
            EXPECT_EQ(lf.lfCharSet, EASTEUROPE_CHARSET);
        }
    }
    HDC dc = GetDC(HwndOf(label));
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(HwndOf(label), WM_GETFONT, 0, 0)));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(HwndOf(label), dc);
    EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 11);
    EXPECT_EQ(label.Geometry().height, tm.tmHeight) << "one line of the font";
}

} // namespace
