// The shared suites' platform on Windows: tovarine.dll is reached only through its exports, and
// it works on the real local heap, the real registry and real message boxes.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "test_platform.h"

namespace tovarine::testing {

// ---- Local heap: the real one can neither be counted per module nor made to fail ----

HeapGuard::HeapGuard() = default;
HeapGuard::~HeapGuard() = default;

bool AllocationFailuresInjectable() { return false; }

int64_t ForEachAllocationFailure(const std::function<void()> &,
                                 const std::function<void(int64_t)> &) {
    ADD_FAILURE() << "allocation failures cannot be injected here; skip the test instead";
    return 0;
}

// ---- Registry: HKEY_CURRENT_USER itself ----

namespace {

// Every key the suites touch lies below this one: the settings root and the keys of the
// transfer tests beside it. The suites run in a Wine prefix of their own, never on a desktop
// whose settings matter.
constexpr char kVendorKey[] = "SOFTWARE\\Zel Inc.";

// Removes the vendor's key with everything below it; true once it is gone.
bool RemoveVendorTree() {
    const LONG rc = RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kVendorKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    return true;
}

}  // namespace

FreshRegistry::FreshRegistry() {
    ready_ = RemoveVendorTree();
    if (!ready_) ADD_FAILURE() << "HKEY_CURRENT_USER\\" << kVendorKey << " could not be removed";
}

FreshRegistry::~FreshRegistry() {
    if (!RemoveVendorTree()) ADD_FAILURE() << "the test's keys could not be removed";
}

// ---- Message boxes: real ones, read and answered by a hook on the constructing thread ----

namespace {

thread_local const BoxAnswerer *t_answerer = nullptr;
constexpr char kAnswered[] = "tovarine.tests.answered";

std::string TextOf(HWND window) {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    const int got = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// What the box's controls show. Controls a box doesn't use may exist hidden; only visible ones
// count (the box itself is not shown yet, so each control's own style is asked).
struct Controls {
    std::string text;
    std::vector<int> buttons;
    HICON icon = nullptr;
};

BOOL CALLBACK ReadControl(HWND control, LPARAM param) {
    auto &controls = *reinterpret_cast<Controls *>(param);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    if ((style & WS_VISIBLE) == 0) return TRUE;
    const std::string name = ClassOf(control);
    if (lstrcmpiA(name.c_str(), "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            controls.icon = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
        } else if (std::string text = TextOf(control); !text.empty()) {
            controls.text = text;
        }
    } else if (lstrcmpiA(name.c_str(), "Button") == 0) {
        controls.buttons.push_back(GetDlgCtrlID(control));
    }
    return TRUE;
}

// The MB_ type the controls show: the button set, and the icon when it is one of the system's.
// An unknown button set or icon gives a type no caller passes (0xF, 0xF0), so it can't match.
unsigned TypeOf(Controls controls) {
    std::sort(controls.buttons.begin(), controls.buttons.end());
    unsigned type = 0xF;
    if (controls.buttons == std::vector<int>{IDOK}) type = MB_OK;
    if (controls.buttons == std::vector<int>{IDYES, IDNO}) type = MB_YESNO;
    if (controls.icon != nullptr) {
        const struct {
            LPCSTR id;
            unsigned type;
        } icons[] = {{IDI_HAND, MB_ICONERROR},
                     {IDI_QUESTION, MB_ICONQUESTION},
                     {IDI_EXCLAMATION, MB_ICONWARNING},
                     {IDI_ASTERISK, MB_ICONINFORMATION}};
        unsigned icon = 0xF0;
        for (const auto &known : icons) {
            if (LoadIconA(nullptr, known.id) == controls.icon) icon = known.type;
        }
        type |= icon;
    }
    return type;
}

// The button that gives the caller's answer, or the nearest one the box has.
int ButtonFor(int answer, const std::vector<int> &buttons) {
    const auto has = [&](int id) {
        return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
    };
    for (int id : {answer, IDNO, IDOK}) {
        if (id != 0 && has(id)) return id;
    }
    return IDCANCEL;
}

// Boxes are answered when they are activated: by then the dialog has all its controls and
// texts. The answer is posted, so the box's own modal loop ends it.
LRESULT CALLBACK OnCbt(int code, WPARAM wparam, LPARAM lparam) {
    const auto window = reinterpret_cast<HWND>(wparam);
    if (code == HCBT_ACTIVATE && t_answerer != nullptr && ClassOf(window) == "#32770" &&
        GetPropA(window, kAnswered) == nullptr) {
        SetPropA(window, kAnswered, reinterpret_cast<HANDLE>(1));
        Controls controls;
        EnumChildWindows(window, &ReadControl, reinterpret_cast<LPARAM>(&controls));
        const Box box{GetWindow(window, GW_OWNER), controls.text, TextOf(window), TypeOf(controls)};
        const int button = ButtonFor(t_answerer->Answer(box), controls.buttons);
        PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(button), 0);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

BoxAnswerer::BoxAnswerer(Script script) : script_(std::move(script)) {
    hook_ = SetWindowsHookExA(WH_CBT, &OnCbt, nullptr, GetCurrentThreadId());
    if (hook_ == nullptr) ADD_FAILURE() << "no CBT hook: error " << GetLastError();
    t_answerer = this;
}

BoxAnswerer::~BoxAnswerer() {
    t_answerer = nullptr;
    if (hook_ != nullptr) UnhookWindowsHookEx(static_cast<HHOOK>(hook_));
}

// A box needs a real window as its owner: a hidden top-level one of a class of our own.
OwnerWindow::OwnerWindow() {
    static const ATOM window_class = [] {
        WNDCLASSA description{};
        description.lpfnWndProc = &DefWindowProcA;
        description.hInstance = GetModuleHandleA(nullptr);
        description.lpszClassName = "tovarine.tests.owner";
        return RegisterClassA(&description);
    }();
    window_ = CreateWindowExA(0, MAKEINTATOM(window_class), "tovarine tests", WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (window_ == nullptr) ADD_FAILURE() << "no owner window: error " << GetLastError();
}

OwnerWindow::~OwnerWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
}

// ---- Internal state: out of reach through the exports ----

std::optional<int32_t> InternalSelector() { return std::nullopt; }
std::optional<ModuleHandles> LibraryModuleHandles() { return std::nullopt; }

}  // namespace tovarine::testing
