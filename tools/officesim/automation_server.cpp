#include "automation_server.h"

#include "excel_session.h"
#include "office_resiliency.h"

#include <cstdio>

namespace officesim {

namespace {

const wchar_t kExcelClsid[] = L"{00024500-0000-0000-C000-000000000046}";
// A stand-in nobody asked to quit ends after this long, so that a test that lost track of it
// leaves no process behind for good.
constexpr UINT kOrphanMs = 10 * 60 * 1000;

void Say(const std::wstring& line) {
    std::fwprintf(stdout, L"%ls\n", line.c_str());
    std::fflush(stdout);
}

DWORD Fault(const wchar_t* name) {
    DWORD value = 0, bytes = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kServerFaultsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes) != ERROR_SUCCESS)
        return 0;
    return value;
}

// Excel busy: for a while after it handed out its application object, every call from another
// process is rejected (RPC_E_CALL_REJECTED at the caller), as Excel does while it is still
// starting or a dialog is up. Callers are expected to try again.
class BusyFilter final : public SimObject<IMessageFilter> {
public:
    explicit BusyFilter(DWORD busyMs) : busyMs_(busyMs) {}
    void Start() { busyUntil_ = GetTickCount64() + busyMs_; }
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return busyUntil_ && GetTickCount64() < busyUntil_ ? SERVERCALL_REJECTED : SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override { return static_cast<DWORD>(-1); }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }

private:
    DWORD busyMs_;
    ULONGLONG busyUntil_ = 0;
};

// Excel's class object: hands out the one application of this process, as Excel started for
// automation does (registered for a single use, so the next client starts another Excel).
class ApplicationClassObject final : public SimObject<IClassFactory> {
public:
    ApplicationClassObject(ExcelApplicationSim& app, BusyFilter* busy) : app_(&app), busy_(busy) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (busy_) busy_->Start();
        return app_->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ExcelApplicationSim* app_;
    BusyFilter* busy_;
};

bool SetText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY k = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS) return false;
    const bool ok = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

}  // namespace

std::wstring FindStartupAddIn() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY addIns = nullptr;
        if (RegOpenKeyExW(root, L"Software\\Microsoft\\Office\\Excel\\AddIns", 0, KEY_READ, &addIns) != ERROR_SUCCESS)
            continue;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD len = 256;
            if (RegEnumKeyExW(addIns, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            DWORD behavior = 0, bytes = sizeof(behavior);
            if (RegGetValueW(addIns, name, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &behavior, &bytes) == ERROR_SUCCESS &&
                behavior == 3) {
                RegCloseKey(addIns);
                return name;
            }
        }
        RegCloseKey(addIns);
    }
    return {};
}

int RunExcelProcess(const std::wstring& version, bool embedding) {
    if (const DWORD delay = Fault(L"StartDelayMs")) {
        Say(L"start-up delayed by " + std::to_wstring(delay) + L" ms (StartDelayMs)");
        Sleep(delay);
    }
    ExcelSession session(version);
    session.loadRibbon = Fault(L"NoRibbon") == 0;
    session.AddInObject().failPutObject = Fault(L"RefuseAddInObject") != 0;

    const std::wstring progId = FindStartupAddIn();
    if (progId.empty()) {
        Say(L"no add-in is registered to load at Excel's start-up");
        session.App().comAddIns.clear();  // Office lists only the add-ins registered
    } else {
        AddInResiliency resiliency(version, progId);
        const std::wstring why = resiliency.WhyNotLoaded();
        if (!why.empty()) {
            Say(L"Excel does not load " + progId + L": " + why);
        } else {
            resiliency.BeginLoad();
            const HRESULT hr = session.Start(L"");
            for (const std::wstring& line : session.log) Say(L"  " + line);
            for (const std::wstring& line : resiliency.EndLoad(session.Running() ? S_OK : hr)) Say(line);
        }
    }

    ExcelApplicationSim& app = session.App();
    app.onQuit = [] { PostQuitMessage(0); };
    Microsoft::WRL::ComPtr<BusyFilter> busy;
    Microsoft::WRL::ComPtr<IMessageFilter> previousFilter;
    if (const DWORD busyMs = Fault(L"BusyMs")) {
        busy = SimObject<IMessageFilter>::Make<BusyFilter>(busyMs);
        CoRegisterMessageFilter(busy.Get(), previousFilter.GetAddressOf());
        Say(L"Excel stays busy for " + std::to_wstring(busyMs) + L" ms after it hands out its object (BusyMs)");
    }
    Microsoft::WRL::ComPtr<IClassFactory> classObject =
        SimObject<IClassFactory>::Make<ApplicationClassObject>(app, busy.Get());
    DWORD cookie = 0;
    if (embedding) {
        const HRESULT hr = CoRegisterClassObject(xl::CLSID_Application, classObject.Get(), CLSCTX_LOCAL_SERVER,
                                                 REGCLS_SINGLEUSE, &cookie);
        Say(L"Excel.Application offered -> " + HResultText(hr));
        if (FAILED(hr)) return 1;
    } else {
        app.RegisterRunning();
        Say(L"Excel running (as a user started it)");
    }

    const UINT_PTR orphan = SetTimer(nullptr, 0, kOrphanMs, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == WM_TIMER && msg.wParam == orphan) {
            Say(L"nobody asked Excel to quit; it ends by itself");
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    KillTimer(nullptr, orphan);
    if (cookie) CoRevokeClassObject(cookie);
    if (busy) CoRegisterMessageFilter(previousFilter.Get(), nullptr);
    app.RevokeRunning();
    app.onQuit = nullptr;
    Say(L"Excel quits");
    const size_t logged = session.log.size();
    session.Shutdown();
    for (size_t i = logged; i < session.log.size(); ++i) Say(L"  " + session.log[i]);
    return 0;
}

bool RegisterAutomationServer(const std::wstring& exePath) {
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kExcelClsid;
    return SetText(HKEY_CLASSES_ROOT, L"Excel.Application\\CLSID", nullptr, kExcelClsid) &&
           SetText(HKEY_CLASSES_ROOT, clsidKey + L"\\LocalServer32", nullptr, L"\"" + exePath + L"\" /automation") &&
           SetText(HKEY_CLASSES_ROOT, clsidKey + L"\\ProgID", nullptr, L"Excel.Application");
}

bool UnregisterAutomationServer() {
    const LONG a = RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Excel.Application");
    const LONG b = RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kExcelClsid).c_str());
    return (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) && (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
}

}  // namespace officesim
