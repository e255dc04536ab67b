// Win32 backend: the windows and controls of Backend.h as native Win32
// windows and standard controls.
//
// A group box is no container in Win32: the controls made inside it are
// siblings of it on the window, placed at the box's position plus their own.
// So every control of a window shares one z-order, which is the tab order,
// and the dialog keys of IsDialogMessageW (Tab, arrows within a radio group)
// work natively; radio groups are delimited with WS_GROUP by their parent in
// the layer, and the box lies below its controls.
//
// The layer places everything in pixels at 96 dpi. Each control keeps that
// place, and the window its dpi: the native windows are made at the place
// scaled to the dpi of the window's screen, and made again, with new fonts,
// when that changes (WM_DPICHANGED). Geometry() reports the place in the
// layer's pixels, read back from the native window.
#include "ui/Backend.h"
#include "ui/win32/Win32Internal.h"
#include "ui/win32/Win32Text.h"

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <set>
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

    const NativeState* Top() const {
        const NativeState* s = this;
        while (s->parent != nullptr)
            s = s->parent;
        return s;
    }
    HWND TopWindow() const { return Top()->hwnd; }
    // The dpi the window of this control is laid out for.
    UINT Dpi() const { return Top()->dpi; }
    // Where the client area of this container lies in its window's client
    // area, in layout pixels: 0,0 for a window, the box's place for a group
    // box.
    POINT LayoutOrigin() const {
        if (kind != Kind::Group)
            return POINT{0, 0};
        const POINT outer = parent != nullptr ? parent->LayoutOrigin() : POINT{0, 0};
        return POINT{outer.x + place.left, outer.y + place.top};
    }
    // Moves the native control to its place scaled to the window's dpi, and
    // the controls inside a group box with it.
    virtual void Place() {
        if (hwnd == nullptr || kind == Kind::Window)
            return;
        const RECT r = NativeRect(place);
        MoveWindow(hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        for (NativeState* child : children)
            child->Place();
    }
    // The window's dpi has changed: the font of that dpi, then the place.
    virtual void Rescale() {
        if (hwnd != nullptr)
            SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(win32::ProgramFont(Dpi())),
                         TRUE);
        Place();
        for (NativeState* child : children)
            child->Rescale();
    }
    // A place in this control's parent in layout pixels, on the screen's
    // pixels of the window's client area. The edges are scaled, not the
    // width, so that controls side by side stay so.
    RECT NativeRect(const Rect& where) const {
        const UINT d = Dpi();
        const POINT origin = parent != nullptr ? parent->LayoutOrigin() : POINT{0, 0};
        const int left = origin.x + where.left;
        const int top = origin.y + where.top;
        return RECT{win32::Scale(left, d), win32::Scale(top, d),
                    win32::Scale(left + where.width, d), win32::Scale(top + where.height, d)};
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
    // Controls: the place within the parent in layout pixels.
    Rect place;
    // Windows: the dpi of the screen they are laid out for.
    UINT dpi = win32::kLayoutDpi;
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
    // Read back from the native control: its edges on the window's client
    // area in layout pixels, less the parent's origin.
    Rect Geometry() const override {
        if (hwnd == nullptr)
            return {};
        RECT r;
        GetWindowRect(hwnd, &r);
        MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
        const UINT d = Dpi();
        const POINT origin = parent != nullptr ? parent->LayoutOrigin() : POINT{0, 0};
        const int left = win32::Unscale(r.left, d);
        const int top = win32::Unscale(r.top, d);
        return Rect{left - origin.x, top - origin.y, win32::Unscale(r.right, d) - left,
                    win32::Unscale(r.bottom, d) - top};
    }
    void SetGeometry(const Rect& where) override {
        place = where;
        Place();
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
        parent = p;
        place = where;
        const RECT r = NativeRect(where);
        hwnd = CreateWindowExW(exStyle, cls, Widen(caption).c_str(), WS_CHILD | WS_VISIBLE | style,
                               r.left, r.top, r.right - r.left, r.bottom - r.top, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(NextControlId())),
                               GetModuleHandleW(nullptr), nullptr);
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(win32::ProgramFont(Dpi())), FALSE);
        auto* state = static_cast<NativeState*>(this);
        SetPropW(hwnd, kStateProperty, state);
        SetWindowSubclass(hwnd, ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(state));
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
        if (hwnd != nullptr)
            dpi = win32::DpiOf(hwnd);
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(win32::ProgramFont(dpi)), FALSE);
    }

    // The client area, its left and top on the screen, in layout pixels.
    Rect Geometry() const override {
        if (hwnd == nullptr)
            return {};
        RECT r;
        GetClientRect(hwnd, &r);
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        return Rect{win32::Unscale(origin.x, dpi), win32::Unscale(origin.y, dpi),
                    win32::Unscale(r.right, dpi), win32::Unscale(r.bottom, dpi)};
    }
    void SetGeometry(const Rect& where) override {
        if (hwnd == nullptr)
            return;
        client_ = SIZE{where.width, where.height};
        RECT r{win32::Scale(where.left, dpi), win32::Scale(where.top, dpi),
               win32::Scale(where.Right(), dpi), win32::Scale(where.Bottom(), dpi)};
        AdjustFrame(r);
        MoveWindow(hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    }
    void SetClientSize(int width, int height) override {
        if (hwnd == nullptr)
            return;
        client_ = SIZE{width, height};
        RECT r{0, 0, win32::Scale(width, dpi), win32::Scale(height, dpi)};
        AdjustFrame(r);
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
            if (!dialog_ && w != FALSE) {
                Call(events_.sessionEnding);
                Call(events_.sessionEnded);
            }
            return 0;
        case WM_SHOWWINDOW:
            if (w != FALSE && l == 0)
                Call(events_.shown);
            break;
        case WM_DPICHANGED:
            ChangeDpi(HIWORD(w), *reinterpret_cast<const RECT*>(l));
            return 0;
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
    // The frame around a client rectangle: as wide as the window's own is
    // now, which the system has drawn for the screen the window is on.
    void AdjustFrame(RECT& r) const {
        RECT frame{};
        RECT client{};
        GetWindowRect(hwnd, &frame);
        GetClientRect(hwnd, &client);
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        r.left -= origin.x - frame.left;
        r.top -= origin.y - frame.top;
        r.right += frame.right - (origin.x + client.right);
        r.bottom += frame.bottom - (origin.y + client.bottom);
    }
    // The window moved to a screen of another dpi (or that screen's scale
    // changed): the place the system suggests, then the layout, fonts
    // included, made again for the new dpi and the client area sized exactly.
    void ChangeDpi(UINT newDpi, const RECT& suggested) {
        dpi = newDpi != 0 ? newDpi : win32::kLayoutDpi;
        SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                     suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(win32::ProgramFont(dpi)), FALSE);
        for (NativeState* child : children)
            child->Rescale();
        if (client_.cx > 0)
            SetClientSize(client_.cx, client_.cy);
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
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
    SIZE client_{0, 0}; // the client area in layout pixels, once set
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
        if ((msg == WM_SETFOCUS || msg == WM_KILLFOCUS) && win32::IsProgramWindow(GetParent(h))) {
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
        if (hwnd == nullptr)
            return;
        const std::wstring wide = Widen(text);
        const auto index =
            SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        if (index < 0)
            return;
        // Each item keeps the width of its text, so that removing one needs
        // no measuring.
        const int width = ItemWidth(wide);
        SendMessageW(hwnd, LB_SETITEMDATA, static_cast<WPARAM>(index), width);
        widths_.insert(width);
        UpdateExtent();
    }
    void Delete(int index) override {
        if (hwnd == nullptr || index < 0 || index >= Count())
            return;
        const auto width =
            static_cast<int>(SendMessageW(hwnd, LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
        SendMessageW(hwnd, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
        const auto it = widths_.find(width);
        if (it != widths_.end())
            widths_.erase(it);
        UpdateExtent();
    }
    void Clear() override {
        if (hwnd == nullptr)
            return;
        SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
        widths_.clear();
        UpdateExtent();
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
        itemHeight_ = itemHeight;
        // A long path gets a horizontal scroll bar rather than losing its
        // file name at the right edge.
        Create(parent, L"LISTBOX",
               WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_EXTENDEDSEL | LBS_NOINTEGRALHEIGHT |
                   LBS_NOTIFY,
               WS_EX_CLIENTEDGE, where, "");
        SetItemHeight();
    }
    void Rescale() override {
        NativeState::Rescale();
        SetItemHeight();
        // Every text is as wide as the new font makes it.
        widths_.clear();
        for (int i = 0; i < Count(); ++i) {
            const int width = ItemWidth(Widen(Item(i)));
            SendMessageW(hwnd, LB_SETITEMDATA, static_cast<WPARAM>(i), width);
            widths_.insert(width);
        }
        UpdateExtent();
    }

private:
    // After the font, which sets the item height of its own.
    void SetItemHeight() {
        SendMessageW(hwnd, LB_SETITEMHEIGHT, 0, win32::Scale(itemHeight_, Dpi()));
    }
    // The text and the margins the list box draws around it.
    int ItemWidth(const std::wstring& text) const {
        return TextSize(hwnd, text).cx + win32::Scale(6, Dpi());
    }
    // The list scrolls sideways as far as its widest item needs; with no
    // item wider than the list the scroll bar goes.
    void UpdateExtent() {
        const int widest = widths_.empty() ? 0 : *widths_.rbegin();
        SendMessageW(hwnd, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest), 0);
    }

    int itemHeight_ = 13;
    std::multiset<int> widths_; // of every item's text, in screen pixels
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
        // In layout pixels, rounded up: scaled back it still holds the text.
        const int needed = win32::ToggleWidthNeeded(hwnd);
        const int d = static_cast<int>(Dpi());
        return (needed * static_cast<int>(win32::kLayoutDpi) + d - 1) / d;
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
        place.width = win32::Unscale(size.cx, Dpi());
        place.height = win32::Unscale(size.cy, Dpi());
    }
    // Only its position is laid out; its size is its text's.
    void Place() override {
        if (hwnd == nullptr)
            return;
        const RECT r = NativeRect(place);
        SetWindowPos(hwnd, nullptr, r.left, r.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Fit();
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

// Whether the font family exists in the character set (as TrueType, when
// asked).
struct FontWanted {
    bool trueType = false;
    bool found = false;
};

int CALLBACK FoundFont(const LOGFONTW*, const TEXTMETRICW*, DWORD type, LPARAM data) {
    auto* wanted = reinterpret_cast<FontWanted*>(data);
    if (wanted->trueType && (type & TRUETYPE_FONTTYPE) == 0)
        return 1; // look further
    wanted->found = true;
    return 0;
}

bool FontExists(const wchar_t* face, BYTE charset, bool trueType = false) {
    LOGFONTW lf{};
    lf.lfCharSet = charset;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    FontWanted wanted{trueType, false};
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &lf, FoundFont, reinterpret_cast<LPARAM>(&wanted), 0);
    ReleaseDC(nullptr, dc);
    return wanted.found;
}

HFONT MakeProgramFont(UINT dpi) {
    const wchar_t* face = L"Tahoma";
    BYTE charset = DEFAULT_CHARSET;
    if (dpi == win32::kLayoutDpi) {
        // The bitmap "MS Sans Serif" draws Czech letters only in its Central
        // European form; the TrueType faces hold them in every character set.
        if (FontExists(L"MS Sans Serif", EASTEUROPE_CHARSET)) {
            face = L"MS Sans Serif";
            charset = EASTEUROPE_CHARSET;
        } else if (FontExists(L"Microsoft Sans Serif", DEFAULT_CHARSET)) {
            face = L"Microsoft Sans Serif";
        }
    } else if (FontExists(L"Microsoft Sans Serif", DEFAULT_CHARSET, true)) {
        // The TrueType twin of "MS Sans Serif", of the same metrics.
        face = L"Microsoft Sans Serif";
    }
    return CreateFontW(-win32::Scale(11, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face);
}

// A function of user32 that older systems lack (GetDpiForWindow and its
// kin came with Windows 10), or null.
template <class Function> Function User32(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    // Through the generic function type, which every function pointer may
    // be cast to and from.
    return user32 != nullptr ? reinterpret_cast<Function>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(user32, name)))
                             : nullptr;
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

HFONT ProgramFont(UINT dpi) {
    // One font per dpi for the program's life: windows on screens of
    // different dpi share them.
    static std::map<UINT, HFONT> fonts;
    HFONT& font = fonts[dpi];
    if (font == nullptr)
        font = MakeProgramFont(dpi);
    return font;
}

UINT DpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow != nullptr && hwnd != nullptr) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0)
            return dpi;
    }
    HDC dc = GetDC(nullptr);
    const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : kLayoutDpi;
}

int MetricForDpi(int index, UINT dpi) {
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    if (forDpi != nullptr)
        return forDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(DpiOf(nullptr)));
}

UINT LaidOutDpi(HWND hwnd) {
    const HWND root = hwnd != nullptr ? GetAncestor(hwnd, GA_ROOT) : nullptr;
    const auto* window =
        root != nullptr ? reinterpret_cast<NativeState*>(GetWindowLongPtrW(root, GWLP_USERDATA))
                        : nullptr;
    return window != nullptr && IsProgramWindow(root) ? window->dpi : DpiOf(hwnd);
}

int ToggleWidthNeeded(HWND toggle) {
    // The mark, the gap after it and the text, with room for the focus frame.
    const NativeState* state = StateOfControl(toggle);
    const UINT dpi = state != nullptr ? state->Dpi() : DpiOf(toggle);
    return MetricForDpi(SM_CXMENUCHECK, dpi) + Scale(4, dpi) +
           TextSize(toggle, WindowText(toggle)).cx + Scale(3, dpi);
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
