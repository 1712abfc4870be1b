// What the hidden-window tests share: the test thread plays Office's main thread (its message
// loop, a top-level "Excel" window that keeps the keyboard focus, Office's ribbon object and
// Office's theme key), and the add-in is connected and started as Office does it.
#pragma once

#include "module/hidden_windows.h"
#include "module/module.h"
#include "server/addin.h"
#include "sim_object.h"

#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

namespace qvrtest {

// Office's message loop: dispatches everything queued for this thread.
void PumpMessages();
// The same for a while, for input that Windows delivers through its own queue.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

// Office's ribbon object: counts Invalidate and answers it with `invalidateResult`; any other call
// is a test failure.
class RecordingRibbonUI : public officesim::SimObject<IRibbonUI> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
    HRESULT STDMETHODCALLTYPE Invalidate() override;
    HRESULT STDMETHODCALLTYPE InvalidateControl(BSTR) override;
    HRESULT STDMETHODCALLTYPE InvalidateControlMso(BSTR) override;
    HRESULT STDMETHODCALLTYPE ActivateTab(BSTR) override;
    HRESULT STDMETHODCALLTYPE ActivateTabMso(BSTR) override;
    HRESULT STDMETHODCALLTYPE ActivateTabQ(BSTR, BSTR) override;

    int invalidations = 0;
    HRESULT invalidateResult = S_OK;
};

// A window of the host (an "Excel" window, or one of its children), with every keyboard message
// its window procedure received.
class HostWindow {
public:
    struct Key {
        UINT message;  // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP
        WPARAM virtualKey;
        uint32_t flags;
        bool operator==(const Key&) const = default;
    };
    // A top-level window with the given style, or a child of `parent`.
    explicit HostWindow(DWORD style, HWND parent = nullptr);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND Handle() const { return hwnd_; }
    // Makes it the foreground window with the keyboard focus, so that typed keys come here.
    void TakeFocus();
    std::vector<Key> keys;
    // The key-ups among `keys`: no handler keeps a key-up from the host, so they tell how much
    // of what was typed has arrived.
    size_t KeyUps() const;

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_ = nullptr;
};

// Typing through Windows' input queue: key-downs and key-ups as the keyboard sends them.
struct Stroke {
    WORD virtualKey;
    bool up = false;
};
// Office's loop then takes them until every key-up has reached `to` (bounded), unless `deliver`
// is false.
void Type(HostWindow& to, const std::vector<Stroke>& strokes, bool deliver = true);

// The add-in created, connected and started the way Office does it, with the ribbon object it
// holds and the host version start-up sees.
class StartedAddIn {
public:
    struct Options {
        int32_t hostMajorVersion = 16;
        bool handleShortcuts = false;
        IRibbonUI* ribbon = nullptr;
    };
    explicit StartedAddIn(const Options& options);
    StartedAddIn() : StartedAddIn(Options{}) {}
    ~StartedAddIn();
    StartedAddIn(const StartedAddIn&) = delete;
    StartedAddIn& operator=(const StartedAddIn&) = delete;

    qvr::TqvrCOMAddInModule& Module() const { return *module_; }
    // Office's shut-down: OnBeginShutdown and the last OnDisconnection destroy the module.
    void ShutDown();
    bool Running() const { return module_ != nullptr; }

private:
    Microsoft::WRL::ComPtr<IDispatch> app_;
    Microsoft::WRL::ComPtr<IDTExtensibility2> addIn_;
    qvr::TqvrCOMAddInModule* module_ = nullptr;
};

// Office's theme key of a version, Software\Microsoft\Office\N.0\Common under HKEY_CURRENT_USER.
std::wstring ThemeKey(int32_t version);
// How a theme value is stored for one case.
enum class Stored { NoKey, NoValue, Integer, Text };
void StoreTheme(int32_t version, const wchar_t* valueName, Stored stored, DWORD value = 0);
void ClearThemes();

// The add-in's error report, recorded instead of shown.
struct ErrorReports {
    explicit ErrorReports(qvr::TqvrCOMAddInModule& module);
    std::vector<std::wstring> messages;
};

}  // namespace qvrtest
