#include "excel_session.h"

namespace officesim {

namespace {
const CLSID kAddInClsid = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};
}

ExcelSession::ExcelSession(std::wstring version)
    : app_(new ExcelApplicationSim(std::move(version))), comAddIn_(new COMAddInSim) {
    app_->comAddIns.push_back(comAddIn_);
}

ExcelSession::~ExcelSession() {
    if (running_) Shutdown();
}

HRESULT ExcelSession::Start(const std::wstring& dllPath) {
    HRESULT hr = dllPath.empty() ? host_.LoadByProgId(L"VORTELIXExcel.coVORTELIXExcel")
                                 : host_.LoadFromDll(dllPath, kAddInClsid);
    Note(L"Excel loads the add-in -> " + HResultText(hr));
    if (FAILED(hr)) return hr;
    hr = host_.Connect(app_.Get(), 1, comAddIn_.Get());
    Note(L"OnConnection(ConnectMode=1) -> " + HResultText(hr));
    if (FAILED(hr)) return hr;
    running_ = true;
    comAddIn_->connected = true;
    if (loadRibbon) {
        HRESULT ribbon = ribbon_.Load(host_.AddIn(), L"Microsoft.Excel.Workbook", app_->Window());
        Note(L"ribbon Microsoft.Excel.Workbook -> " + HResultText(ribbon));
    } else {
        Note(L"ribbon Microsoft.Excel.Workbook not asked for");
    }
    hr = host_.StartupComplete();
    Note(L"OnStartupComplete -> " + HResultText(hr) + (FAILED(hr) ? L" (" + OfficeHost::LastErrorDescription() + L")" : L""));
    return hr;
}

bool ExcelSession::AfterCall() {
    if (!running_ || !app_->QuitRequested()) return false;
    Note(L"Excel was asked to quit; it shuts down");
    Shutdown();
    return true;
}

void ExcelSession::Shutdown() {
    if (!running_) return;
    running_ = false;
    comAddIn_->connected = false;
    Note(L"OnBeginShutdown -> " + HResultText(host_.BeginShutdown()));
    Note(L"OnDisconnection(RemoveMode=0) -> " + HResultText(host_.Disconnect(0)));
    comAddIn_->object.Reset();
    ribbon_.Release();
    host_.ReleaseAddIn();
    Note(L"DllCanUnloadNow -> " + HResultText(host_.CanUnloadNow()));
    unloaded_ = host_.Unload();
    Note(std::wstring(L"add-in DLL unloaded: ") + (unloaded_ ? L"yes" : L"no"));
}

}  // namespace officesim
