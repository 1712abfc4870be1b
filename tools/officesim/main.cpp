// ExcelSim: plays Excel starting up with the VORTELIX add-in, and shutting down again, and prints
// what the add-in did.
//   ExcelSim [--dll <path>] [--connect-mode N] [--remove-mode N] [--no-addininst]
#include "excel_sim.h"
#include "office_host.h"

#include <cstdio>
#include <string>

using namespace officesim;

namespace {

const CLSID kAddInClsid = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};
const wchar_t kAddInKey[] = L"Software\\Microsoft\\Office\\Excel\\AddIns\\VORTELIXExcel.coVORTELIXExcel";

void Say(const std::wstring& line) {
    std::fwprintf(stdout, L"%ls\n", line.c_str());
    std::fflush(stdout);
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

std::wstring StartModeValue() {
    wchar_t value[64] = {};
    DWORD bytes = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kAddInKey, L"QVRStartMode", RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
        return L"(none)";
    return value;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dll = Folder(self) + L"VORTELIXExcel.dll";
    LONG connectMode = 1, removeMode = 0;
    bool withAddInInst = true;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--dll" && i + 1 < argc) dll = argv[++i];
        else if (a == L"--connect-mode" && i + 1 < argc) connectMode = _wtoi(argv[++i]);
        else if (a == L"--remove-mode" && i + 1 < argc) removeMode = _wtoi(argv[++i]);
        else if (a == L"--no-addininst") withAddInInst = false;
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    int rc = 0;
    {
        Say(L"Excel stand-in " + std::to_wstring(OFFICESIM_MAJOR) + L".0 starting");
        auto app = ExcelApplicationSim::Make<ExcelApplicationSim>(std::to_wstring(OFFICESIM_MAJOR) + L".0");
        auto addInInst = COMAddInSim::Make<COMAddInSim>();
        OfficeHost host;
        HRESULT hr = host.LoadFromDll(dll, kAddInClsid);
        Say(L"load " + dll + L" -> " + HResultText(hr));
        if (FAILED(hr)) {
            CoUninitialize();
            return 1;
        }
        SAFEARRAY* custom = OfficeHost::MakeCustomArray(1);
        Say(L"QVRStartMode before start-up: " + StartModeValue());
        hr = host.Connect(app.Get(), connectMode, withAddInInst ? addInInst.Get() : nullptr, custom);
        Say(L"OnConnection(ConnectMode=" + std::to_wstring(connectMode) + L") -> " + HResultText(hr));
        if (FAILED(hr)) rc = 1;
        Say(std::wstring(L"COMAddIn.Object set by the add-in: ") + (addInInst->object ? L"yes" : L"no"));
        if (connectMode == 1) {
            hr = host.StartupComplete(custom);
            Say(L"OnStartupComplete -> " + HResultText(hr));
            if (FAILED(hr)) rc = 1;
        }
        Say(L"QVRStartMode after start-up: " + StartModeValue());
        Say(L"Excel calls made by the add-in: " + std::to_wstring(app->Calls().size()));
        hr = host.BeginShutdown(custom);
        Say(L"OnBeginShutdown -> " + HResultText(hr));
        hr = host.Disconnect(removeMode, custom);
        Say(L"OnDisconnection(RemoveMode=" + std::to_wstring(removeMode) + L") -> " + HResultText(hr));
        SafeArrayDestroy(custom);
        addInInst->object.Reset();
        host.ReleaseAddIn();
        Say(L"DllCanUnloadNow -> " + HResultText(host.CanUnloadNow()));
        bool unloaded = host.Unload();
        Say(std::wstring(L"add-in DLL unloaded: ") + (unloaded ? L"yes" : L"no"));
        if (!unloaded) rc = 1;
    }
    CoUninitialize();
    return rc;
}
