// The module's hidden windows and thread hooks: they let the add-in react to what Office and
// Windows report outside the connection object's COM calls (Office's theme changes, messages the
// add-in posts to itself, DPI changes of Office's windows, key presses).
#pragma once

#include "com/component.h"
#include "com/handles.h"
#include "module/types.h"

#include <windows.h>

#include <cstdint>
#include <optional>

namespace qvr {

class TqvrCOMAddInModule;

// A never-shown window of its own class whose parent is the desktop, created at once for its
// module. Every window answers the shut-down query with "may shut down" and nothing else; every
// other message gets default processing after the window's own handling, also when that
// handling fails.
class TqvrHiddenWindow : public TObject {
public:
    TqvrHiddenWindow(const TqvrHiddenWindow&) = delete;
    TqvrHiddenWindow& operator=(const TqvrHiddenWindow&) = delete;
    ~TqvrHiddenWindow() override;

    HWND Handle() const { return FHandle.get(); }
    TqvrCOMAddInModule& Module() const { return FModule; }

protected:
    // Registers the window class when needed and creates the window; raises when it cannot.
    TqvrHiddenWindow(TqvrCOMAddInModule& module, const wchar_t* windowClass);
    // The window's own handling of a message; errors are reported by the window procedure.
    virtual void HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    TqvrCOMAddInModule& FModule;
    const wchar_t* FWindowClass;
    unique_hwnd FHandle;
};

// Follows Office's theme through Office's settings broadcast, and carries out the ribbon
// invalidation that the message hook asks for after a DPI change.
class TqvrNativeColorWindow : public TqvrHiddenWindow {
public:
    explicit TqvrNativeColorWindow(TqvrCOMAddInModule& module);
    std::wstring ClassName() const override { return L"TqvrNativeColorWindow"; }
    // The id of "WM_MSO_BROADCASTCHANGE", registered when the window was created.
    UINT MessageId() const { return FMessageId; }

protected:
    void HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void OfficeSettingsChanged();
    UINT FMessageId;
};

// Turns the messages the add-in posts to itself (the module's SendMessage) into OnSendMessage,
// so that work can run after the current call from Office has returned.
class TqvrInternalMessagingWindow : public TqvrHiddenWindow {
public:
    explicit TqvrInternalMessagingWindow(TqvrCOMAddInModule& module);
    std::wstring ClassName() const override { return L"TqvrInternalMessagingWindow"; }

protected:
    void HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

// The shortcut window: exists while HandleShortcuts is on. What it does with the shortcut
// messages of legacy command-bar controls belongs to legacy command bars, which this framework
// build does not have, so it only answers the shut-down query.
class TqvrNativeWindow : public TqvrHiddenWindow {
public:
    explicit TqvrNativeWindow(TqvrCOMAddInModule& module);
    std::wstring ClassName() const override { return L"TqvrNativeWindow"; }

protected:
    void HandleMessage(UINT, WPARAM, LPARAM) override {}
};

// ---- process-wide state ----

// The module whose hidden windows exist, through which the hooks reach the add-in; none when no
// hidden window exists.
TqvrCOMAddInModule* CurrentModule();

// The keyboard hook of the current thread (while HandleShortcuts is on). Installing replaces an
// installed one.
void InstallKeyboardHook();
void RemoveKeyboardHook();
HHOOK KeyboardHook();

// The call-window-procedure hook of the current thread that asks the colour scheme window to
// invalidate the ribbon when a visible top-level window's DPI changes. Installing registers the
// invalidate message and replaces an installed hook.
void InstallRibbonInvalidationHook();
void RemoveMessageHook();
HHOOK MessageHook();
// The id of "WM_INVALIDATE_RIBBON_CONTROLS_NTV"; 0 until the hook was first installed.
UINT InvalidateMessageId();

// The true Windows major version (not the one Windows reports to programs without a
// compatibility manifest).
uint32_t WindowsMajorVersion();

// ---- Office theme ----

// The theme after start-up for an Office major version, read from Office's "Common" key under
// HKEY_CURRENT_USER; `current` when the key cannot be opened or the version has no theme rule.
TqvrOfficeColorScheme StartupOfficeColorScheme(int32_t hostMajorVersion, TqvrOfficeColorScheme current);
// The theme after Office's settings broadcast; none when the key or its theme value is missing.
std::optional<TqvrOfficeColorScheme> BroadcastOfficeColorScheme(int32_t hostMajorVersion);

}  // namespace qvr
