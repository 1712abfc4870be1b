#include "module/hidden_windows.h"

#include "com/error.h"
#include "com/numbers.h"
#include "com/registry.h"
#include "module/module.h"

#include <wrl/client.h>

#include <string>

// ntdll: the version Windows really is, whatever compatibility mode the host runs in.
extern "C" LONG NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW info);

namespace qvr {

namespace {

// Process-wide: one set per process, shared by every module.
TqvrCOMAddInModule* g_currentModule = nullptr;
int g_currentModuleWindows = 0;  // hidden windows of g_currentModule that exist
unique_hhook g_keyboardHook;
unique_hhook g_messageHook;
UINT g_invalidateMessage = 0;

constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED, newer than the headers' target version
constexpr LONG_PTR kOverlappedWindowStyle = 0x00CF0000;
constexpr LONG_PTR kVisibleStyle = 0x10000000;
constexpr uint32_t kPreviousStateAndTransition = 0xC0000000u;

// The image that holds this code (the add-in DLL, or a program linking the framework): window
// classes are registered for it and must be gone before it is unloaded.
HINSTANCE CodeModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&g_currentModule), &module);
    return module;
}

[[noreturn]] void RaiseLastWindowsError() {
    DWORD code = GetLastError();
    HRESULT hr = HRESULT_FROM_WIN32(code ? code : ERROR_INVALID_FUNCTION);
    RaiseOleError(hr, SysErrorMessage(hr));
}

bool KeyPressed(int virtualKey) { return GetKeyState(virtualKey) < 0; }

// Key presses of Office's main thread. Only a first key-down (previous-state and transition
// bits clear) is reported, so held-down repeats do not fire OnKeyDown again. A handler that sets
// Handled keeps the key from reaching the host. Nothing raised here may leave the hook.
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code < 0) return CallNextHookEx(g_keyboardHook.get(), code, wParam, lParam);
    try {
        TqvrCOMAddInModule* module = g_currentModule;
        // The flags are the low 32 bits of the keyboard message's lParam on 32 and 64 bit.
        const auto flags = static_cast<uint32_t>(static_cast<ULONG_PTR>(lParam));
        const auto virtualKey = static_cast<uint32_t>(wParam);
        if (code == HC_ACTION && virtualKey != 0 && flags != 0 && module &&
            (module->NativeWindow() || module->OnKeyDown)) {
            const bool firstKeyDown = (flags & kPreviousStateAndTransition) == 0;
            // Shortcuts of legacy command-bar controls would be looked up here; this framework
            // build has no legacy command bars, so no key is one of their shortcuts.
            if (firstKeyDown && module->OnKeyDown) {
                TqvrKeyDownEventArgs args;
                args.Ctrl = KeyPressed(VK_LCONTROL) || KeyPressed(VK_RCONTROL);
                args.Alt = KeyPressed(VK_LMENU) || KeyPressed(VK_RMENU);
                args.Shift = KeyPressed(VK_LSHIFT) || KeyPressed(VK_RSHIFT);
                args.Handled = false;
                args.KeyStrokeFlags = static_cast<int32_t>(flags);
                args.VirtualKey = static_cast<int32_t>(virtualKey);
                TqvrKeyDownEventHandler handler = module->OnKeyDown;  // may be reassigned inside
                handler(nullptr, args);
                if (args.Handled) {
                    CallNextHookEx(g_keyboardHook.get(), code, wParam, lParam);
                    return 1;
                }
            }
        }
    } catch (...) {
        // A key press must never be lost to an add-in error; the host gets the key.
        RecordDroppedError(L"keyboard hook");
    }
    return CallNextHookEx(g_keyboardHook.get(), code, wParam, lParam);
}

// Sees every message sent to a window procedure of the thread. After Windows has told a visible
// top-level window that its DPI changed, the ribbon's pictures must be fetched again: the colour
// scheme window is asked (by a posted message, so after the change has been processed) to
// invalidate the ribbon.
LRESULT CALLBACK CallWndProcHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0) {
        try {
            const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
            if (sent && sent->message == kDpiChanged) {
                const LONG_PTR style = GetWindowLongPtrW(sent->hwnd, GWL_STYLE);
                TqvrCOMAddInModule* module = g_currentModule;
                if ((style & kOverlappedWindowStyle) == kOverlappedWindowStyle && (style & kVisibleStyle) && module &&
                    module->NativeColorWindow())
                    PostMessageW(module->NativeColorWindow()->Handle(), g_invalidateMessage, 1,
                                 reinterpret_cast<LPARAM>(sent->hwnd));
            }
        } catch (...) {
            RecordDroppedError(L"message hook");
        }
    }
    return CallNextHookEx(g_messageHook.get(), code, wParam, lParam);
}

// ---- Office theme ----

// The theme value under HKEY_CURRENT_USER\Software\Microsoft\Office\N.0\Common: "UI Theme" from
// Office 2013 on, "Theme" before. The key is only read, never created.
struct OfficeThemeValue {
    bool exists = false;
    std::optional<DWORD> integer;  // set when the value is an integer value
};

std::optional<OfficeThemeValue> ReadOfficeThemeValue(int32_t version) {
    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    if (!reg.OpenKeyReadOnly(L"\\Software\\Microsoft\\Office\\" + qvr::DecimalText(version) + L".0\\Common"))
        return std::nullopt;
    const wchar_t* name = version >= 15 ? L"UI Theme" : L"Theme";
    OfficeThemeValue value;
    value.exists = reg.ValueExists(name);
    if (value.exists && reg.ValueType(name) == REG_DWORD) value.integer = static_cast<DWORD>(reg.ReadInteger(name));
    return value;
}

TqvrOfficeColorScheme Office2016Scheme(std::optional<DWORD> theme) {
    switch (theme.value_or(0)) {
        case 3: return TqvrOfficeColorScheme::DarkGray;
        case 4: return TqvrOfficeColorScheme::Black;
        case 5: return TqvrOfficeColorScheme::White;
        default: return TqvrOfficeColorScheme::Colorful;
    }
}

// Office 2013 stores 0 White, 1 Light Gray, 2 Dark Gray, 3 Colorful. Any other number would name
// no theme of ours (or one of an older Office); Office 2013's default, White, is taken instead.
TqvrOfficeColorScheme Office2013Scheme(std::optional<DWORD> theme) {
    if (theme && *theme <= 3) return static_cast<TqvrOfficeColorScheme>(*theme + 4);
    return TqvrOfficeColorScheme::White;
}

// Office 2007 and 2010 store the scheme's own number (1 Blue, 2 Silver, 3 Black). A number
// outside the scheme type counts like a value that is not a number.
std::optional<TqvrOfficeColorScheme> Office2010Scheme(std::optional<DWORD> theme) {
    if (theme && *theme <= static_cast<DWORD>(TqvrOfficeColorScheme::Colorful))
        return static_cast<TqvrOfficeColorScheme>(*theme);
    return std::nullopt;
}

}  // namespace

TqvrOfficeColorScheme StartupOfficeColorScheme(int32_t version, TqvrOfficeColorScheme current) {
    std::optional<OfficeThemeValue> theme = ReadOfficeThemeValue(version);
    if (!theme) return current;
    if (version >= 16) return Office2016Scheme(theme->integer);
    if (version == 15) return Office2013Scheme(theme->integer);
    if (auto scheme = Office2010Scheme(theme->integer)) return *scheme;
    if (version == 12) return TqvrOfficeColorScheme::Blue;
    if (version >= 14) return TqvrOfficeColorScheme::Silver;
    return current;
}

std::optional<TqvrOfficeColorScheme> BroadcastOfficeColorScheme(int32_t version) {
    std::optional<OfficeThemeValue> theme = ReadOfficeThemeValue(version);
    if (!theme || !theme->exists) return std::nullopt;
    if (version >= 16) return Office2016Scheme(theme->integer);
    if (version == 15) return Office2013Scheme(theme->integer);
    if (auto scheme = Office2010Scheme(theme->integer)) return scheme;
    return version == 12 ? TqvrOfficeColorScheme::Blue : TqvrOfficeColorScheme::Silver;
}

// ---- hidden windows ----

TqvrHiddenWindow::TqvrHiddenWindow(TqvrCOMAddInModule& module, const wchar_t* windowClass)
    : FModule(module), FWindowClass(windowClass) {
    HINSTANCE instance = CodeModule();
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = windowClass;
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastWindowsError();
    // A pop-up rather than a child window: only top-level windows receive Office's settings
    // broadcast and Windows' shut-down query.
    FHandle.reset(CreateWindowExW(0, windowClass, L"", WS_POPUP, 0, 0, 0, 0, GetDesktopWindow(), nullptr, instance,
                                  nullptr));
    if (!FHandle) {
        DWORD error = GetLastError();
        UnregisterClassW(windowClass, instance);
        SetLastError(error);
        RaiseLastWindowsError();
    }
    SetWindowLongPtrW(FHandle.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (g_currentModule != &module) {
        g_currentModule = &module;
        g_currentModuleWindows = 0;
    }
    ++g_currentModuleWindows;
}

TqvrHiddenWindow::~TqvrHiddenWindow() {
    // The messages of the window's destruction must not reach an object being destroyed.
    SetWindowLongPtrW(FHandle.get(), GWLP_USERDATA, 0);
    FHandle.reset();
    // Fails while another window of the class exists; the last one takes the class with it, so
    // that nothing of the add-in's code stays reachable once its DLL is unloaded.
    UnregisterClassW(FWindowClass, CodeModule());
    // The module stays current while any of its hidden windows exists: removing the shortcut
    // window must not cut off the colour scheme and messaging windows.
    if (g_currentModule == &FModule && --g_currentModuleWindows <= 0) {
        g_currentModule = nullptr;
        g_currentModuleWindows = 0;
    }
}

LRESULT CALLBACK TqvrHiddenWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Windows may shut down as far as the add-in is concerned.
    if (msg == WM_QUERYENDSESSION) return 1;
    if (auto* self = reinterpret_cast<TqvrHiddenWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
        try {
            self->HandleMessage(msg, wParam, lParam);
        } catch (...) {
            // No error may cross into Windows' message dispatch: it is the add-in's to report.
            try {
                self->FModule.HandleError(CurrentError());
            } catch (...) {
                RecordDroppedError(L"error report");
            }
        }
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TqvrNativeColorWindow::TqvrNativeColorWindow(TqvrCOMAddInModule& module)
    : TqvrHiddenWindow(module, L"TqvrNativeColorWindow"), FMessageId(RegisterWindowMessageW(L"WM_MSO_BROADCASTCHANGE")) {}

void TqvrNativeColorWindow::HandleMessage(UINT msg, WPARAM, LPARAM) {
    if (FMessageId != 0 && msg == FMessageId) {
        OfficeSettingsChanged();
    } else if (g_invalidateMessage != 0 && msg == g_invalidateMessage) {
        // Office then asks again for every control of the add-in, pictures included. A failure
        // is reported by the window procedure.
        Microsoft::WRL::ComPtr<IRibbonUI> ribbon = Module().RibbonUI();
        if (ribbon) ThrowIfFailed(ribbon->Invalidate());
    }
}

// Office broadcasts a settings change: take the theme again. The event is skipped only when a
// theme was read and it is the one the module already has.
void TqvrNativeColorWindow::OfficeSettingsChanged() {
    TqvrCOMAddInModule& m = Module();
    if (std::optional<TqvrOfficeColorScheme> scheme = BroadcastOfficeColorScheme(m.HostMajorVersion())) {
        if (*scheme == m.OfficeColorScheme()) return;
        m.SetOfficeColorScheme(*scheme);
    }
    m.Fire(m.OnOfficeColorSchemeChanged, &m, m.OfficeColorScheme());
}

TqvrInternalMessagingWindow::TqvrInternalMessagingWindow(TqvrCOMAddInModule& module)
    : TqvrHiddenWindow(module, L"TqvrInternalMessagingWindow") {}

void TqvrInternalMessagingWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Below WM_USER are the system's own messages, never the add-in's.
    if (msg >= WM_USER) Module().Fire(Module().OnSendMessage, static_cast<TObject*>(this), msg, wParam, lParam);
}

TqvrNativeWindow::TqvrNativeWindow(TqvrCOMAddInModule& module) : TqvrHiddenWindow(module, L"TqvrNativeWindow") {}

// ---- process-wide state ----

TqvrCOMAddInModule* CurrentModule() { return g_currentModule; }

void InstallKeyboardHook() {
    g_keyboardHook.reset();
    g_keyboardHook.reset(SetWindowsHookExW(WH_KEYBOARD, KeyboardHookProc, nullptr, GetCurrentThreadId()));
}

void RemoveKeyboardHook() { g_keyboardHook.reset(); }

HHOOK KeyboardHook() { return g_keyboardHook.get(); }

void InstallRibbonInvalidationHook() {
    g_messageHook.reset();
    g_invalidateMessage = RegisterWindowMessageW(L"WM_INVALIDATE_RIBBON_CONTROLS_NTV");
    g_messageHook.reset(SetWindowsHookExW(WH_CALLWNDPROC, CallWndProcHook, nullptr, GetCurrentThreadId()));
}

void RemoveMessageHook() { g_messageHook.reset(); }

HHOOK MessageHook() { return g_messageHook.get(); }

UINT InvalidateMessageId() { return g_invalidateMessage; }

uint32_t WindowsMajorVersion() {
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (RtlGetVersion(&info) != 0) return 0;
    return info.dwMajorVersion;
}

}  // namespace qvr
