// Win32 backend: the windows and controls of Backend.h as native Win32
// windows and standard controls.
//
// A group box is no container in Win32: the controls made inside it are
// siblings of it on the window, placed at the box's position plus their own.
// So every control of a window shares one z-order, which is the tab order,
// and the dialog keys of IsDialogMessageW (Tab, arrows within a radio group)
// work natively; radio groups are delimited with WS_GROUP by their parent in
// the layer, and the box lies below its controls.
#include "ui/Backend.h"
#include "ui/win32/Win32Internal.h"
#include "ui/win32/Win32Text.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace ui::backend {
namespace {

using win32::Narrow;
using win32::Widen;

void Call(const Callback& callback) {
    if (callback)
        win32::Guarded(callback);
}

enum class Kind { Window, Button, List, Edit, CheckBox, Radio, Group, Panel, Label };

constexpr UINT_PTR kSubclassId = 0x524F44; // "ROD"
// The window property that leads from a control's handle to its object.
constexpr const wchar_t* kStateProperty = L"RoderuvControl";

// What every native control and window of this backend keeps: its handle,
// its parent in the layer (a window or a group box) and its own enabled and
// visible state, which a group box passes on to the controls inside it.
class NativeState {
public:
    explicit NativeState(Kind kind) : kind(kind) {}
    virtual ~NativeState() = default;
    NativeState(const NativeState&) = delete;
    NativeState& operator=(const NativeState&) = delete;

    // WM_COMMAND notifications of the control (BN_CLICKED, ...).
    virtual void Command(WORD) {}
    // Every message of the control; the default is its own procedure.
    virtual LRESULT Message(HWND h, UINT msg, WPARAM w, LPARAM l) {
        return DefSubclassProc(h, msg, w, l);
    }

    HWND TopWindow() const {
        const NativeState* s = this;
        while (s->parent != nullptr)
            s = s->parent;
        return s->hwnd;
    }
    // Where the client area of this container lies in its window's client
    // area: 0,0 for a window, the box's place for a group box.
    POINT ChildOrigin() const {
        POINT origin{0, 0};
        if (kind == Kind::Group && hwnd != nullptr) {
            RECT r;
            GetWindowRect(hwnd, &r);
            MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
            origin = POINT{r.left, r.top};
        }
        return origin;
    }
    bool ParentsEnabled() const {
        for (const NativeState* p = parent; p != nullptr && p->kind == Kind::Group; p = p->parent)
            if (!p->ownEnabled)
                return false;
        return true;
    }
    bool ParentsVisible() const {
        for (const NativeState* p = parent; p != nullptr && p->kind == Kind::Group; p = p->parent)
            if (!p->ownVisible)
                return false;
        return true;
    }
    void ApplyState() {
        if (hwnd == nullptr || kind == Kind::Window)
            return;
        EnableWindow(hwnd, ownEnabled && ParentsEnabled() ? TRUE : FALSE);
        ShowWindow(hwnd, ownVisible && ParentsVisible() ? SW_SHOWNA : SW_HIDE);
        for (NativeState* child : children)
            child->ApplyState();
    }

    const Kind kind;
    HWND hwnd = nullptr;
    NativeState* parent = nullptr;
    std::vector<NativeState*> children;
    bool ownEnabled = true;
    bool ownVisible = true;
};

NativeState* StateOf(Widget& widget) {
    return dynamic_cast<NativeState*>(&widget);
}

LRESULT CALLBACK ControlProc(HWND h, UINT msg, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR ref) {
    auto* self = reinterpret_cast<NativeState*>(ref);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(h, ControlProc, kSubclassId);
        RemovePropW(h, kStateProperty);
        self->hwnd = nullptr;
        return DefSubclassProc(h, msg, w, l);
    }
    LRESULT result = 0;
    win32::Guarded([&] { result = self->Message(h, msg, w, l); });
    return result;
}

// The backend object of a control window, or null.
NativeState* StateOfControl(HWND hwnd) {
    return hwnd != nullptr ? static_cast<NativeState*>(GetPropW(hwnd, kStateProperty)) : nullptr;
}

// Radio buttons are exclusive among those of the same parent in the layer.
// In the window's z-order (the tab order) each run of them gets WS_GROUP on
// its first, and every other control starts a group of its own, so that the
// arrow keys and BS_AUTORADIOBUTTON keep within one parent's buttons.
void Regroup(HWND window) {
    const NativeState* previous = nullptr;
    for (HWND h = GetWindow(window, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
        const NativeState* s = StateOfControl(h);
        const bool continues = s != nullptr && s->kind == Kind::Radio && previous != nullptr &&
                               previous->kind == Kind::Radio && previous->parent == s->parent;
        const LONG_PTR style = GetWindowLongPtrW(h, GWL_STYLE);
        const LONG_PTR wanted = continues ? (style & ~WS_GROUP) : (style | WS_GROUP);
        if (wanted != style)
            SetWindowLongPtrW(h, GWL_STYLE, wanted);
        previous = s;
    }
}

// Control identifiers, one sequence for every kind of control, so that an
// identifier (the default button's) names one control of a window.
int NextControlId() {
    static int next = 100; // clear of IDOK and IDCANCEL
    return next++;
}

// The width of a text in the control's font.
SIZE TextSize(HWND hwnd, const std::wstring& text) {
    SIZE size{0, 0};
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    if (!text.empty())
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    size.cy = tm.tmHeight;
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return size;
}

std::wstring WindowText(HWND hwnd) {
    if (hwnd == nullptr)
        return {};
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The common part of every control and window.
template <class Base> class NativeWidget : public Base, public NativeState {
public:
    explicit NativeWidget(Kind kind) : NativeState(kind) {}
    ~NativeWidget() override {
        if (parent != nullptr) {
            auto& siblings = parent->children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        }
        for (NativeState* child : children)
            child->parent = nullptr;
        if (hwnd != nullptr) {
            HWND h = hwnd;
            hwnd = nullptr;
            if (kind == Kind::Window)
                SetWindowLongPtrW(h, GWLP_USERDATA, 0);
            else {
                RemoveWindowSubclass(h, ControlProc, kSubclassId);
                RemovePropW(h, kStateProperty);
            }
            DestroyWindow(h);
        }
    }

    void* Native() const override { return hwnd; }
    void SetEnabled(bool enabled) override {
        ownEnabled = enabled;
        if (kind == Kind::Window) {
            if (hwnd != nullptr)
                EnableWindow(hwnd, enabled ? TRUE : FALSE);
        } else {
            ApplyState();
        }
    }
    bool Enabled() const override {
        return hwnd != nullptr && IsWindowEnabled(hwnd) != FALSE && ParentsEnabled();
    }
    void SetVisible(bool visible) override {
        ownVisible = visible;
        if (kind != Kind::Window)
            ApplyState();
        else if (hwnd != nullptr)
            ShowWindow(hwnd, visible ? SW_SHOW : SW_HIDE);
    }
    bool Visible() const override {
        return hwnd != nullptr && IsWindowVisible(hwnd) != FALSE && ParentsVisible();
    }
    void SetFocus() override {
        if (hwnd != nullptr)
            ::SetFocus(hwnd);
    }
    bool Focused() const override { return hwnd != nullptr && GetFocus() == hwnd; }
    Rect Geometry() const override {
        if (hwnd == nullptr)
            return {};
        RECT r;
        GetWindowRect(hwnd, &r);
        MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
        const POINT origin = parent != nullptr ? parent->ChildOrigin() : POINT{0, 0};
        return Rect{r.left - origin.x, r.top - origin.y, r.right - r.left, r.bottom - r.top};
    }
    void SetGeometry(const Rect& where) override {
        if (hwnd == nullptr)
            return;
        const Rect before = Geometry();
        const POINT origin = parent != nullptr ? parent->ChildOrigin() : POINT{0, 0};
        MoveWindow(hwnd, where.left + origin.x, where.top + origin.y, where.width, where.height,
                   TRUE);
        // The controls inside a group box go with it.
        for (NativeState* child : children) {
            auto* widget = dynamic_cast<Widget*>(child);
            if (widget == nullptr || child->hwnd == nullptr)
                continue;
            RECT r;
            GetWindowRect(child->hwnd, &r);
            MapWindowPoints(HWND_DESKTOP, GetParent(child->hwnd), reinterpret_cast<POINT*>(&r), 2);
            MoveWindow(child->hwnd, r.left + where.left - before.left,
                       r.top + where.top - before.top, r.right - r.left, r.bottom - r.top, TRUE);
        }
    }
    void SetText(const std::string&) override {}
    std::string Text() const override { return {}; }
    int PreferredWidth() const override { return Geometry().width; }

    // Makes the control window on the parent's window, inside a group box
    // when the parent is one.
    void Create(Widget& parentWidget, const wchar_t* cls, DWORD style, DWORD exStyle,
                const Rect& where, const std::string& caption) {
        win32::EnsureClasses();
        NativeState* p = StateOf(parentWidget);
        const HWND window = p->TopWindow();
        const POINT origin = p->ChildOrigin();
        hwnd =
            CreateWindowExW(exStyle, cls, Widen(caption).c_str(), WS_CHILD | WS_VISIBLE | style,
                            where.left + origin.x, where.top + origin.y, where.width, where.height,
                            window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(NextControlId())),
                            GetModuleHandleW(nullptr), nullptr);
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(win32::ProgramFont()), FALSE);
        auto* state = static_cast<NativeState*>(this);
        SetPropW(hwnd, kStateProperty, state);
        SetWindowSubclass(hwnd, ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(state));
        parent = p;
        p->children.push_back(this);
        if (!ParentsEnabled() || !ParentsVisible())
            ApplyState();
        Regroup(window);
    }
};

// Controls whose caption is their window text.
template <class Base> class Captioned : public NativeWidget<Base> {
public:
    using NativeWidget<Base>::NativeWidget;
    void SetText(const std::string& text) override {
        if (this->hwnd != nullptr)
            SetWindowTextW(this->hwnd, Widen(text).c_str());
    }
    std::string Text() const override { return Narrow(WindowText(this->hwnd)); }
};

// ---- windows -------------------------------------------------------------

class Win32Window : public Captioned<WindowWidget> {
public:
    Win32Window(bool dialog, HWND owner, WindowEvents events)
        : Captioned(Kind::Window), dialog_(dialog), events_(std::move(events)) {
        win32::EnsureClasses();
        // A fixed dialog frame with a close box and no minimise or maximise
        // box. Without WS_CLIPCHILDREN, as a dialog: the window paints the
        // background a group box leaves to it.
        const DWORD style =
            (dialog ? WS_POPUP : WS_OVERLAPPED) | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
        const DWORD exStyle =
            WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | (dialog ? 0 : WS_EX_APPWINDOW);
        hwnd = CreateWindowExW(exStyle, dialog ? win32::kDialogClass : win32::kMainClass, L"",
                               style, 0, 0, 200, 100, owner, nullptr, GetModuleHandleW(nullptr),
                               static_cast<NativeState*>(this));
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(win32::ProgramFont()), FALSE);
    }

    // The client area, its left and top on the screen.
    Rect Geometry() const override {
        if (hwnd == nullptr)
            return {};
        RECT r;
        GetClientRect(hwnd, &r);
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        return Rect{origin.x, origin.y, r.right, r.bottom};
    }
    void SetGeometry(const Rect& where) override {
        if (hwnd == nullptr)
            return;
        RECT r{where.left, where.top, where.Right(), where.Bottom()};
        AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
        MoveWindow(hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    }
    void SetClientSize(int width, int height) override {
        if (hwnd == nullptr)
            return;
        RECT r{0, 0, width, height};
        AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
        SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void Centre() override {
        if (hwnd == nullptr)
            return;
        RECT area;
        HWND owner = GetWindow(hwnd, GW_OWNER);
        if (owner != nullptr)
            GetWindowRect(owner, &area);
        else
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        RECT frame;
        GetWindowRect(hwnd, &frame);
        const int w = frame.right - frame.left;
        const int h = frame.bottom - frame.top;
        SetWindowPos(hwnd, nullptr, area.left + (area.right - area.left - w) / 2,
                     area.top + (area.bottom - area.top - h) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void SetDefaultButton(Widget* button) override {
        if (default_ != nullptr)
            SendMessageW(default_, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        default_ = button != nullptr ? static_cast<HWND>(button->Native()) : nullptr;
        if (default_ != nullptr)
            SendMessageW(default_, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    }
    bool RunModal() override {
        if (hwnd == nullptr || !dialog_)
            return false;
        const HWND owner = GetWindow(hwnd, GW_OWNER);
        ownerDisabled_ = owner != nullptr && IsWindowEnabled(owner) != FALSE;
        if (ownerDisabled_)
            EnableWindow(owner, FALSE);
        ended_ = false;
        result_ = false;
        modal_ = true;
        ShowWindow(hwnd, SW_SHOW);
        SetForegroundWindow(hwnd);
        win32::RunLoopUntil([this] { return ended_ || hwnd == nullptr; });
        modal_ = false;
        ReleaseOwner();
        if (hwnd != nullptr)
            ShowWindow(hwnd, SW_HIDE);
        return result_;
    }
    void EndModal(bool accepted) override {
        result_ = accepted;
        ended_ = true;
        // The owner first, so that it is activated when the dialog goes.
        if (modal_)
            ReleaseOwner();
        if (hwnd != nullptr)
            ShowWindow(hwnd, SW_HIDE);
    }

    LRESULT Handle(UINT msg, WPARAM w, LPARAM l) {
        switch (msg) {
        case WM_COMMAND:
            if (NativeState* control = StateOfControl(reinterpret_cast<HWND>(l))) {
                control->Command(HIWORD(w));
                return 0;
            }
            if (LOWORD(w) == IDCANCEL && dialog_) {
                Reject();
                return 0;
            }
            break;
        case DM_GETDEFID:
            if (default_ != nullptr)
                return MAKELRESULT(GetDlgCtrlID(default_), DC_HASDEFID);
            return 0;
        case WM_CLOSE:
            if (dialog_)
                Reject();
            else
                CloseMain();
            return 0;
        case WM_QUERYENDSESSION:
            // The session may end: the program ends its work first and does
            // not stand in the way.
            if (!dialog_)
                Call(events_.sessionEnding);
            return TRUE;
        case WM_ENDSESSION:
            if (!dialog_ && w != FALSE)
                Call(events_.sessionEnding);
            return 0;
        case WM_SHOWWINDOW:
            if (w != FALSE && l == 0)
                Call(events_.shown);
            break;
        case WM_ACTIVATE:
            // As a dialog does: the focus goes back to the control that had
            // it (after a message box, say), else to the first in tab order.
            if (LOWORD(w) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus != nullptr && IsChild(hwnd, focus))
                    savedFocus_ = focus;
                return 0;
            }
            if (savedFocus_ == nullptr || !IsWindow(savedFocus_) || !IsChild(hwnd, savedFocus_) ||
                !IsWindowEnabled(savedFocus_) || !IsWindowVisible(savedFocus_))
                savedFocus_ = GetNextDlgTabItem(hwnd, nullptr, FALSE);
            if (savedFocus_ != nullptr) {
                ::SetFocus(savedFocus_);
                return 0;
            }
            break;
        case WM_NCDESTROY:
            hwnd = nullptr;
            break;
        default:
            break;
        }
        return DefWindowProcW(hwnd, msg, w, l);
    }

private:
    void Reject() {
        if (events_.rejectRequested)
            Call(events_.rejectRequested);
        else
            EndModal(false);
    }
    void CloseMain() {
        Call(events_.closeRequested);
        if (hwnd != nullptr)
            ShowWindow(hwnd, SW_HIDE);
        // With the last window the event loop ends.
        if (win32::MainLoopDepth() > 0 && !win32::AnyProgramWindowVisible())
            Quit(0);
    }
    void ReleaseOwner() {
        const HWND owner = hwnd != nullptr ? GetWindow(hwnd, GW_OWNER) : nullptr;
        if (ownerDisabled_ && owner != nullptr)
            EnableWindow(owner, TRUE);
        ownerDisabled_ = false;
    }

    bool dialog_;
    WindowEvents events_;
    HWND default_ = nullptr;
    HWND savedFocus_ = nullptr;
    bool modal_ = false;
    bool ended_ = false;
    bool result_ = false;
    bool ownerDisabled_ = false;
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(l);
        auto* state = static_cast<NativeState*>(cs->lpCreateParams);
        state->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    }
    auto* state = reinterpret_cast<NativeState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (auto* window = dynamic_cast<Win32Window*>(state)) {
        LRESULT result = 0;
        win32::Guarded([&] { result = window->Handle(msg, w, l); });
        return result;
    }
    return DefWindowProcW(hwnd, msg, w, l);
}

// ---- the thin raised panel ---------------------------------------------------

constexpr const wchar_t* kPanelClass = L"RoderuvPanel";

LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        EndPaint(hwnd, &ps);
        return 0;
    }
    if (msg == WM_NCHITTEST)
        return HTTRANSPARENT;
    return DefWindowProcW(hwnd, msg, w, l);
}

// ---- controls -------------------------------------------------------------------

class Win32Button : public Captioned<Widget> {
public:
    explicit Win32Button(Callback clicked)
        : Captioned(Kind::Button), clicked_(std::move(clicked)) {}
    void Command(WORD code) override {
        if (code == BN_CLICKED)
            Call(clicked_);
    }
    LRESULT Message(HWND h, UINT msg, WPARAM w, LPARAM l) override {
        // As in a dialog: the focused push button is the one Enter presses,
        // and shows it; the default button shows it again afterwards.
        if ((msg == WM_SETFOCUS || msg == WM_KILLFOCUS) && win32::IsDialogWindow(GetParent(h))) {
            const HWND window = GetParent(h);
            const auto def = static_cast<DWORD>(SendMessageW(window, DM_GETDEFID, 0, 0));
            const HWND defButton =
                HIWORD(def) == DC_HASDEFID ? GetDlgItem(window, LOWORD(def)) : nullptr;
            if (msg == WM_SETFOCUS) {
                if (defButton != nullptr && defButton != h)
                    SendMessageW(defButton, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
                SendMessageW(h, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
            } else {
                const HWND next = reinterpret_cast<HWND>(w);
                const NativeState* nextState = StateOfControl(next);
                if (defButton != h)
                    SendMessageW(h, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
                if (defButton != nullptr &&
                    (nextState == nullptr || nextState->kind != Kind::Button))
                    SendMessageW(defButton, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
            }
        }
        return DefSubclassProc(h, msg, w, l);
    }

private:
    Callback clicked_;
};

class Win32List : public NativeWidget<ListWidget> {
public:
    Win32List() : NativeWidget(Kind::List) {}
    int Count() const override {
        return hwnd != nullptr ? static_cast<int>(SendMessageW(hwnd, LB_GETCOUNT, 0, 0)) : 0;
    }
    std::string Item(int index) const override {
        if (index < 0 || index >= Count())
            return {};
        const auto length = SendMessageW(hwnd, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length <= 0)
            return {};
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        const auto got = SendMessageW(hwnd, LB_GETTEXT, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(text.data()));
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return Narrow(text);
    }
    void Add(const std::string& text) override {
        if (hwnd != nullptr)
            SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
    }
    void Delete(int index) override {
        if (hwnd != nullptr)
            SendMessageW(hwnd, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    }
    void Clear() override {
        if (hwnd != nullptr)
            SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
    }
    bool Selected(int index) const override {
        return index >= 0 && index < Count() &&
               SendMessageW(hwnd, LB_GETSEL, static_cast<WPARAM>(index), 0) > 0;
    }
    void SetSelected(int index, bool selected) override {
        if (index >= 0 && index < Count())
            SendMessageW(hwnd, LB_SETSEL, selected ? TRUE : FALSE, static_cast<LPARAM>(index));
    }
    void Make(Widget& parent, const Rect& where, int itemHeight) {
        Create(parent, L"LISTBOX",
               WS_TABSTOP | WS_VSCROLL | LBS_EXTENDEDSEL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY,
               WS_EX_CLIENTEDGE, where, "");
        // After the font, which sets the item height of its own.
        SendMessageW(hwnd, LB_SETITEMHEIGHT, 0, itemHeight);
    }
};

class Win32Edit : public Captioned<EditWidget> {
public:
    Win32Edit() : Captioned(Kind::Edit) {}
    void SetPasswordChar(char c) override {
        if (hwnd == nullptr)
            return;
        SendMessageW(hwnd, EM_SETPASSWORDCHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)),
                     0);
        InvalidateRect(hwnd, nullptr, TRUE);
    }
};

// Check box and radio button. The control changes its state itself
// (BS_AUTOCHECKBOX, BS_AUTORADIOBUTTON) and reports the change with
// BN_CLICKED; a mouse-button or key release is reported after the control
// has handled it, so the handler sees the new state.
class Win32Toggle : public Captioned<ToggleWidget> {
public:
    Win32Toggle(Kind kind, ToggleEvents events) : Captioned(kind), events_(std::move(events)) {}

    bool Checked() const override {
        return hwnd != nullptr && SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void SetChecked(bool checked) override {
        if (hwnd == nullptr)
            return;
        SendMessageW(hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        // Exclusive among the radio buttons of the same parent.
        if (checked && kind == Kind::Radio && parent != nullptr)
            for (NativeState* sibling : parent->children)
                if (sibling != this && sibling->kind == Kind::Radio && sibling->hwnd != nullptr)
                    SendMessageW(sibling->hwnd, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    int PreferredWidth() const override {
        if (hwnd == nullptr)
            return 0;
        // The mark, the gap after it and the text, with room for the focus frame.
        const SIZE text = TextSize(hwnd, WindowText(hwnd));
        return GetSystemMetrics(SM_CXMENUCHECK) + 4 + text.cx + 3;
    }
    void Command(WORD code) override {
        if (code == BN_CLICKED)
            Call(events_.clicked);
    }
    LRESULT Message(HWND h, UINT msg, WPARAM w, LPARAM l) override {
        if (msg == BM_CLICK) {
            // A click made by the program (the arrow keys of a radio group)
            // is no mouse-button release.
            synthetic_ = true;
            const LRESULT r = DefSubclassProc(h, msg, w, l);
            synthetic_ = false;
            return r;
        }
        const LRESULT r = DefSubclassProc(h, msg, w, l);
        if (msg == WM_LBUTTONUP && !synthetic_) {
            RECT client;
            GetClientRect(h, &client);
            const POINT at{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
            if (PtInRect(&client, at))
                Call(events_.mouseUp);
        } else if (msg == WM_KEYUP) {
            Call(events_.keyUp);
        }
        return r;
    }

private:
    ToggleEvents events_;
    bool synthetic_ = false;
};

class Win32Label : public Captioned<Widget> {
public:
    Win32Label() : Captioned(Kind::Label) {}
    void SetText(const std::string& text) override {
        Captioned::SetText(text);
        Fit();
    }
    // Sized to its text: its width and one line of the font.
    void Fit() {
        if (hwnd == nullptr)
            return;
        const SIZE size = TextSize(hwnd, WindowText(hwnd));
        SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
};

class Win32Timer : public TimerWidget {
public:
    explicit Win32Timer(Callback tick) : tick_(std::move(tick)) {
        static UINT_PTR nextId = 1;
        id_ = nextId++;
        Timers().push_back(this);
    }
    ~Win32Timer() override {
        Stop();
        auto& all = Timers();
        all.erase(std::remove(all.begin(), all.end(), this), all.end());
    }
    void Start(int intervalMs) override {
        SetTimer(win32::MessageWindow(), id_, static_cast<UINT>(std::max(intervalMs, 1)), nullptr);
        active_ = true;
    }
    void Stop() override {
        if (active_)
            KillTimer(win32::MessageWindow(), id_);
        active_ = false;
    }
    bool Active() const override { return active_; }

    // WM_TIMER of the message window.
    static void Tick(UINT_PTR id) {
        for (Win32Timer* t : Timers())
            if (t->id_ == id && t->active_) {
                Call(t->tick_);
                return;
            }
    }

private:
    static std::vector<Win32Timer*>& Timers() {
        static std::vector<Win32Timer*> timers;
        return timers;
    }
    Callback tick_;
    UINT_PTR id_ = 0;
    bool active_ = false;
};

// Whether the font family exists in the Central European character set.
int CALLBACK FoundFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontExists(const wchar_t* face, BYTE charset) {
    LOGFONTW lf{};
    lf.lfCharSet = charset;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &lf, FoundFont, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

} // namespace

} // namespace ui::backend

// ---- shared with the other files of the backend ------------------------------

namespace ui::win32 {

using namespace ui::backend;

void EnsureClasses() {
    static bool done = false;
    if (done)
        return;
    done = true;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    // The program's icon when the executable has one (resource 1).
    wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    wc.lpszClassName = kMainClass;
    RegisterClassExW(&wc);
    wc.lpszClassName = kDialogClass;
    wc.style = CS_SAVEBITS;
    RegisterClassExW(&wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = PanelProc;
    wc.hIcon = nullptr;
    wc.lpszClassName = kPanelClass;
    RegisterClassExW(&wc);
}

HFONT ProgramFont() {
    static HFONT font = [] {
        // The bitmap "MS Sans Serif" draws Czech letters only in its Central
        // European form; the TrueType faces hold them in every character set.
        const wchar_t* face = L"Tahoma";
        BYTE charset = DEFAULT_CHARSET;
        if (FontExists(L"MS Sans Serif", EASTEUROPE_CHARSET)) {
            face = L"MS Sans Serif";
            charset = EASTEUROPE_CHARSET;
        } else if (FontExists(L"Microsoft Sans Serif", DEFAULT_CHARSET)) {
            face = L"Microsoft Sans Serif";
        }
        return CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, face);
    }();
    return font;
}

bool IsProgramWindow(HWND hwnd) {
    wchar_t name[64] = {};
    if (hwnd == nullptr || GetClassNameW(hwnd, name, 64) == 0)
        return false;
    return lstrcmpW(name, kMainClass) == 0 || lstrcmpW(name, kDialogClass) == 0;
}

bool IsDialogWindow(HWND hwnd) {
    wchar_t name[64] = {};
    return hwnd != nullptr && GetClassNameW(hwnd, name, 64) != 0 &&
           lstrcmpW(name, kDialogClass) == 0;
}

bool AnyProgramWindowVisible() {
    bool any = false;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND h, LPARAM found) -> BOOL {
            if (IsProgramWindow(h) && IsWindowVisible(h)) {
                *reinterpret_cast<bool*>(found) = true;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&any));
    return any;
}

void TimerTick(UINT_PTR id) {
    Win32Timer::Tick(id);
}

} // namespace ui::win32

// ---- Backend.h ------------------------------------------------------------------

namespace ui::backend {

std::unique_ptr<WindowWidget> CreateMainWindow(WindowEvents events) {
    return std::make_unique<Win32Window>(false, nullptr, std::move(events));
}

std::unique_ptr<WindowWidget> CreateDialog(WindowWidget* owner, WindowEvents events) {
    const HWND ownerHwnd = owner != nullptr ? static_cast<HWND>(owner->Native()) : nullptr;
    return std::make_unique<Win32Window>(true, ownerHwnd, std::move(events));
}

std::unique_ptr<Widget> CreateButton(Widget& parent, const Rect& where, const std::string& caption,
                                     Callback clicked) {
    auto button = std::make_unique<Win32Button>(std::move(clicked));
    button->Create(parent, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, where, caption);
    return button;
}

std::unique_ptr<ListWidget> CreateListBox(Widget& parent, const Rect& where, int itemHeight) {
    auto list = std::make_unique<Win32List>();
    list->Make(parent, where, itemHeight);
    return list;
}

std::unique_ptr<EditWidget> CreateEdit(Widget& parent, const Rect& where) {
    auto edit = std::make_unique<Win32Edit>();
    edit->Create(parent, L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, where, "");
    return edit;
}

std::unique_ptr<ToggleWidget> CreateToggle(ToggleKind kind, Widget& parent, const Rect& where,
                                           const std::string& caption, ToggleEvents events) {
    const bool radio = kind == ToggleKind::RadioButton;
    auto toggle =
        std::make_unique<Win32Toggle>(radio ? Kind::Radio : Kind::CheckBox, std::move(events));
    toggle->Create(parent, L"BUTTON", WS_TABSTOP | (radio ? BS_AUTORADIOBUTTON : BS_AUTOCHECKBOX),
                   0, where, caption);
    return toggle;
}

namespace {

class Win32Group : public Captioned<Widget> {
public:
    Win32Group() : Captioned(Kind::Group) {}
};

class Win32Panel : public NativeWidget<Widget> {
public:
    Win32Panel() : NativeWidget(Kind::Panel) {}
};

} // namespace

std::unique_ptr<Widget> CreateGroupBox(Widget& parent, const Rect& where,
                                       const std::string& caption) {
    auto box = std::make_unique<Win32Group>();
    // Clipped by its siblings, so it never paints over the controls inside it.
    box->Create(parent, L"BUTTON", BS_GROUPBOX | WS_CLIPSIBLINGS, 0, where, caption);
    return box;
}

std::unique_ptr<Widget> CreatePanel(Widget& parent, const Rect& where) {
    auto panel = std::make_unique<Win32Panel>();
    panel->Create(parent, kPanelClass, 0, 0, where, "");
    return panel;
}

std::unique_ptr<Widget> CreateLabel(Widget& parent, int left, int top, const std::string& caption) {
    auto label = std::make_unique<Win32Label>();
    label->Create(parent, L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, Rect{left, top, 1, 1},
                  caption);
    label->Fit();
    return label;
}

void SetTabOrder(const std::vector<Widget*>& widgets) {
    // The z-order is the tab order: the listed controls come first, in order,
    // and the others keep their order after them.
    HWND previous = HWND_TOP;
    HWND window = nullptr;
    for (Widget* w : widgets) {
        const HWND h = static_cast<HWND>(w->Native());
        if (h == nullptr)
            continue;
        SetWindowPos(h, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = h;
        window = GetParent(h);
    }
    if (window != nullptr)
        Regroup(window);
}

std::unique_ptr<TimerWidget> CreateTimer(Callback tick) {
    return std::make_unique<Win32Timer>(std::move(tick));
}

} // namespace ui::backend
