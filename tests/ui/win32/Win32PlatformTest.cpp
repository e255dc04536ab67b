// What only the Win32 backend has: the owner of a modal dialog disabled
// while it runs, the program's font, the layout at the screen's dpi.
#include "ui/Application.h"
#include "ui/Backend.h"
#include "ui/Controls.h"
#include "ui/Form.h"
#include "ui/Testing.h"
#include "ui/Timer.h"
#include "ui/win32/Win32Internal.h"
#include "ui/win32/Win32Text.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using namespace ui::testing;

HWND HwndOf(const ui::Control& control) {
    return static_cast<HWND>(control.Impl().Native());
}

UINT DpiOf(const ui::Control& control) {
    return ui::win32::DpiOf(HwndOf(control));
}

// Where the control is on its window's client area, in the screen's pixels.
RECT NativeRect(const ui::Control& control) {
    RECT r{};
    GetWindowRect(HwndOf(control), &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(HwndOf(control)), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEXTMETRICW Metrics(const ui::Control& control) {
    const HWND hwnd = HwndOf(control);
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return tm;
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

// At 96 dpi "MS Sans Serif" (with Czech letters) where it exists, characters
// 11 pixels high, given to every control; at any other dpi a TrueType face
// of that size scaled.
TEST(Win32, ControlsUseTheProgramsFont) {
    ui::Form form;
    ui::Label label(&form, 9, 15, "Adresa FTP serveru: ");
    ui::Edit edit(&form, 121, 11, 121, 21);
    const int dpi = static_cast<int>(DpiOf(form));
    for (const ui::Control* control :
         {static_cast<ui::Control*>(&label), static_cast<ui::Control*>(&edit)}) {
        auto font = reinterpret_cast<HFONT>(SendMessageW(HwndOf(*control), WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        LOGFONTW lf{};
        ASSERT_NE(GetObjectW(font, sizeof(lf), &lf), 0);
        EXPECT_EQ(lf.lfHeight, -MulDiv(11, dpi, 96));
        const std::wstring face = lf.lfFaceName;
        EXPECT_TRUE(face == L"MS Sans Serif" || face == L"Microsoft Sans Serif" ||
                    face == L"Tahoma");
        if (face == L"MS Sans Serif") {
            EXPECT_EQ(lf.lfCharSet, EASTEUROPE_CHARSET);
            EXPECT_EQ(dpi, 96) << "a bitmap face has no crisp size in between";
        }
    }
    const TEXTMETRICW tm = Metrics(label);
    EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, MulDiv(11, dpi, 96));
    EXPECT_EQ(NativeRect(label).bottom - NativeRect(label).top, tm.tmHeight) << "one line";
}

// The layout in 96-dpi pixels, scaled on the screen by its dpi when the
// window is made and again when the dpi changes (WM_DPICHANGED, sent here as
// Windows sends it when the window moves to another screen): the suggested
// frame taken, every control and font made again, the list's sideways
// scrolling measured anew; the layer's geometry stays the same.
TEST(Win32, LayoutFollowsTheScreensDpi) {
    ui::Form form;
    form.SetClientSize(514, 262);
    ui::ListBox list(&form, 16, 8, 377, 241);
    ui::GroupBox group(&form, 232, 136, 305, 116, "Operace");
    ui::Button inside(&group, 236, 59, 60, 22, "Procházet");
    list.Add(std::string(90, 'W'));
    ASSERT_TRUE(ShowActive(form));
    const int dpis[] = {static_cast<int>(DpiOf(form)), 192, 120};
    for (const int dpi : dpis) {
        if (dpi != dpis[0]) {
            RECT frame{};
            GetWindowRect(HwndOf(form), &frame);
            SendMessageW(HwndOf(form), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                         reinterpret_cast<LPARAM>(&frame));
        }
        auto scaled = [dpi](int v) { return MulDiv(v, dpi, 96); };
        RECT client{};
        GetClientRect(HwndOf(form), &client);
        EXPECT_EQ(client.right, scaled(514)) << dpi;
        EXPECT_EQ(client.bottom, scaled(262)) << dpi;
        EXPECT_EQ(NativeRect(list).left, scaled(16)) << dpi;
        EXPECT_EQ(NativeRect(list).right, scaled(16 + 377)) << dpi;
        EXPECT_EQ(NativeRect(inside).left, scaled(232 + 236)) << dpi;
        EXPECT_EQ(NativeRect(inside).bottom, scaled(136 + 59 + 22)) << dpi;
        EXPECT_EQ(Metrics(inside).tmHeight - Metrics(inside).tmInternalLeading, scaled(11)) << dpi;
        EXPECT_EQ(list.Geometry(), (ui::Rect{16, 8, 377, 241})) << dpi;
        EXPECT_EQ(inside.Geometry(), (ui::Rect{236, 59, 60, 22})) << dpi;
        EXPECT_TRUE(CaptionFits(inside)) << dpi;
        EXPECT_TRUE(WholeLineReachable(list, 0)) << dpi;
    }
}

// The folder picker is the common item dialog: resizable, with a field for
// the folder's name (a path typed there is taken, here a long one with Czech
// letters), and it returns the folder without a trailing backslash. The old
// picker has no such field; it is then cancelled and the test fails.
TEST(Win32, FolderPickerIsTheResizableItemDialog) {
    ui::Form owner;
    owner.SetClientSize(200, 100);
    ASSERT_TRUE(ShowActive(owner));
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::string> made{ui::win32::Narrow(temp, lstrlenW(temp)) + "roderuv-picker"};
    for (int i = 0; i < 5; ++i)
        made.push_back(made.back() + "\\Oddělení klinické onkologie č. " + std::to_string(i));
    for (const std::string& f : made)
        CreateDirectoryW(ui::win32::Widen(f).c_str(), nullptr);
    const std::string folder = made.back();
    bool resizable = false;
    ui::Timer answer;
    answer.OnTick([&] {
        const HWND dialog = GetActiveWindow();
        wchar_t cls[16] = {};
        if (dialog == nullptr || GetClassNameW(dialog, cls, 16) == 0 || lstrcmpW(cls, L"#32770"))
            return;
        answer.Stop();
        resizable = (GetWindowLongPtrW(dialog, GWL_STYLE) & WS_THICKFRAME) != 0;
        const HWND name = GetDlgItem(dialog, 1152); // the item dialog's name field
        if (name == nullptr) {
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        SetWindowTextW(name, ui::win32::Widen(folder).c_str());
        PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    });
    answer.Start(100);
    ui::PromptRequest request;
    request.kind = ui::PromptKind::BrowseFolder;
    request.caption = "Vyberte adresář";
    request.initialDir = "C:\\";
    const ui::PromptResult result = ui::backend::ShowPrompt(request);
    answer.Stop();
    EXPECT_TRUE(resizable);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(result.paths, std::vector<std::string>{folder});
    for (auto f = made.rbegin(); f != made.rend(); ++f)
        RemoveDirectoryW(ui::win32::Widen(*f).c_str());
}

} // namespace
