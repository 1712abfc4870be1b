#include "windows_support.h"

#include "com/formdata.h"
#include "com/registry.h"
#include "excel_sim.h"
#include "support/recording_module.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qvrtest {

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        PumpMessages();
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        // Woken by any message; at the latest every 10 ms, for what arrives without one.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 10)),
                                  QS_ALLINPUT);
    }
}

// ---- RecordingRibbonUI ----

HRESULT STDMETHODCALLTYPE RecordingRibbonUI::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                                    UINT*) {
    ADD_FAILURE() << "the add-in called the ribbon through IDispatch";
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE RecordingRibbonUI::Invalidate() {
    ++invalidations;
    return invalidateResult;
}
HRESULT STDMETHODCALLTYPE RecordingRibbonUI::InvalidateControl(BSTR) {
    ADD_FAILURE() << "unexpected InvalidateControl";
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE RecordingRibbonUI::InvalidateControlMso(BSTR) {
    ADD_FAILURE() << "unexpected InvalidateControlMso";
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE RecordingRibbonUI::ActivateTab(BSTR) {
    ADD_FAILURE() << "unexpected ActivateTab";
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE RecordingRibbonUI::ActivateTabMso(BSTR) {
    ADD_FAILURE() << "unexpected ActivateTabMso";
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE RecordingRibbonUI::ActivateTabQ(BSTR, BSTR) {
    ADD_FAILURE() << "unexpected ActivateTabQ";
    return E_NOTIMPL;
}

// ---- HostWindow ----

namespace {
const wchar_t kHostWindowClass[] = L"QvrTestHostWindow";
}

HostWindow::HostWindow(DWORD style, HWND parent) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kHostWindowClass;
    RegisterClassW(&wc);  // once per program; later calls find it registered
    hwnd_ = CreateWindowExW(0, kHostWindowClass, L"Excel", style, 20, 20, 400, 300, parent, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(nullptr, hwnd_) << "no window (is there an X display?)";
    if (hwnd_) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    PumpMessages();
}

HostWindow::~HostWindow() {
    if (!hwnd_) return;
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    PumpMessages();
}

void HostWindow::TakeFocus() {
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);
    PumpMessagesUntil([this] { return GetForegroundWindow() == hwnd_ && GetFocus() == hwnd_; });
    EXPECT_EQ(hwnd_, GetFocus()) << "the host window did not get the keyboard focus";
}

size_t HostWindow::KeyUps() const {
    size_t ups = 0;
    for (const Key& k : keys) ups += k.message == WM_KEYUP || k.message == WM_SYSKEYUP;
    return ups;
}

LRESULT CALLBACK HostWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (auto* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)))
        if (msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP)
            self->keys.push_back({msg, wParam, static_cast<uint32_t>(static_cast<ULONG_PTR>(lParam))});
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void Type(HostWindow& to, const std::vector<Stroke>& strokes, bool deliver) {
    const size_t ups = to.KeyUps() + std::count_if(strokes.begin(), strokes.end(), [](const Stroke& s) { return s.up; });
    std::vector<INPUT> inputs;
    for (const Stroke& s : strokes) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = s.virtualKey;
        in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(s.virtualKey, MAPVK_VK_TO_VSC));
        in.ki.dwFlags = s.up ? KEYEVENTF_KEYUP : 0;
        if (s.virtualKey == VK_RCONTROL || s.virtualKey == VK_RMENU) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
        inputs.push_back(in);
    }
    EXPECT_EQ(inputs.size(), SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)));
    if (deliver) {
        EXPECT_TRUE(PumpMessagesUntil([&] { return to.KeyUps() >= ups; }))
            << "not every key typed reached the window within 5 s: " << to.KeyUps() << " of " << ups << " key-ups";
    }
}

// ---- StartedAddIn ----

StartedAddIn::StartedAddIn(const Options& options) {
    app_ = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    HRESULT hr = Factory().CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                          reinterpret_cast<void**>(addIn_.GetAddressOf()));
    EXPECT_EQ(S_OK, hr);
    if (FAILED(hr)) return;
    EXPECT_EQ(S_OK, addIn_->OnConnection(app_.Get(), 1, nullptr, nullptr));
    module_ = AsAddin(addIn_.Get())->COMAddInModule();
    EXPECT_NE(nullptr, module_);
    if (!module_) return;
    // The test program has no file version, so start-up keeps the version Office would have.
    module_->SetHostMajorVersion(options.hostMajorVersion);
    // As the add-in's stored configuration sets it: no window or hook before start-up.
    if (options.handleShortcuts) module_->ReadProperty({L"HandleShortcuts", qvr::FormValue::Boolean(true)});
    // Office may load the ribbon before start-up completes.
    module_->SetRibbonUI(options.ribbon);
    EXPECT_EQ(S_OK, addIn_->OnStartupComplete(nullptr));
    EXPECT_EQ(options.hostMajorVersion, module_->HostMajorVersion());
}

StartedAddIn::~StartedAddIn() {
    if (module_) ShutDown();
    addIn_.Reset();
}

void StartedAddIn::ShutDown() {
    EXPECT_EQ(S_OK, addIn_->OnBeginShutdown(nullptr));
    EXPECT_EQ(S_OK, addIn_->OnDisconnection(0, nullptr));
    module_ = nullptr;
}

// ---- Office's theme key ----

std::wstring ThemeKey(int32_t version) {
    return L"Software\\Microsoft\\Office\\" + std::to_wstring(version) + L".0\\Common";
}

void StoreTheme(int32_t version, const wchar_t* valueName, Stored stored, DWORD value) {
    DeleteUserKey(ThemeKey(version));
    if (stored == Stored::NoKey) return;
    qvr::TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(L"\\" + ThemeKey(version), true));
    if (stored == Stored::Integer) reg.WriteInteger(valueName, value);
    if (stored == Stored::Text) reg.WriteString(valueName, std::to_wstring(value));
}

void ClearThemes() {
    for (int version = 10; version <= 17; ++version) DeleteUserKey(ThemeKey(version));
}

ErrorReports::ErrorReports(qvr::TqvrCOMAddInModule& module) {
    module.OnError = [this](const qvr::EqvrError& e, bool& handled) {
        messages.push_back(e.Message());
        handled = true;
    };
}

}  // namespace qvrtest
