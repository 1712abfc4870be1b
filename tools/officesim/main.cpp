// ExcelSim: plays Excel with the VORTELIX add-in. By default it opens an order workbook, starts
// the add-in as Excel does (connection, ribbon, start-up), shows the ribbon the add-in put up,
// presses its button "Bestelling verwerken" through the ribbon and follows the hand-off to the
// end: Excel quits, the add-in is unloaded, the uploader finds the copy.
// It also draws the ribbon tab as Excel would show it, with the button's picture as the add-in
// handed it over, into a PNG file (by default next to ExcelSim, named after it) and prints where.
//   ExcelSim [--dll <path> | --registered] [--workbook <file.xlsx>] [--markup] [--no-press] [--png <file.png>]
//   (--registered: find the add-in the way Excel does, in the registry, and create it by ProgID;
//    an add-in that Office turned off is not loaded, and one that fails, crashes or starts slowly
//    is turned off as Office does it: see office_resiliency.h)
//   [--slow-start-ms N] start-ups longer than N ms are slow (default 1000, or QVR_SLOW_START_MS)
//   [--start-only] start Excel with the add-in and shut down, without ribbon or press
// The start-up and shut-down alone, with a chosen connect or remove mode:
//   ExcelSim --lifecycle [--connect-mode N] [--remove-mode N] [--no-addininst]
// Excel as a program of its own (automation_server.h):
//   ExcelSim /automation -Embedding   as COM starts Excel.Application's local server
//   ExcelSim --user-session           as a user starts Excel, until it is asked to quit
//   ExcelSim --register-server | --unregister-server   as Excel.Application's local server
#include "automation_server.h"
#include "excel_session.h"
#include "excel_sim.h"
#include "office_host.h"
#include "office_resiliency.h"
#include "picture.h"
#include "xlsx.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace officesim;

namespace {

const CLSID kAddInClsid = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};
const wchar_t kAddInKey[] = L"Software\\Microsoft\\Office\\Excel\\AddIns\\VORTELIXExcel.coVORTELIXExcel";
const wchar_t kButtonLabel[] = L"Bestelling verwerken";
// --start-only: Excel starts with the add-in and ends there (exit 0 when the add-in loaded).
bool g_startOnly = false;

void Say(const std::wstring& line) {
    std::fwprintf(stdout, L"%ls\n", line.c_str());
    std::fflush(stdout);
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH] = {}, longTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    GetLongPathNameW(temp, longTemp, MAX_PATH);
    return longTemp;
}

std::wstring StartModeValue() {
    wchar_t value[64] = {};
    DWORD bytes = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kAddInKey, L"QVRStartMode", RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
        return L"(none)";
    return value;
}

// The workbook the user has open. The add-in deletes the file it hands over, so the stand-in
// always opens a copy: of the given workbook, or of a small order it writes itself.
std::wstring PrepareWorkbook(const std::wstring& given) {
    std::wstring folder = TempFolder() + L"ExcelSim";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + L"\\Bestelling.xlsx";
    if (!given.empty()) return CopyFileW(given.c_str(), path.c_str(), FALSE) ? path : std::wstring();
    XlsxPackage order;
    order.SetEntry("xl/worksheets/sheet1.xml",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
                   "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData></sheetData></worksheet>");
    order.SetCellText("A1", "Artikel");
    order.SetCellText("B1", "Aantal");
    order.SetCellText("A2", "VX-1001 Bevestigingsset");
    order.SetCellText("B2", "12");
    return WriteWholeFile(path, order.Serialize()) ? path : std::wstring();
}

// What the uploader stand-in wrote next to the add-in; empty when it did not run in time.
std::string UploaderLog(const std::wstring& addInFolder) {
    for (int waited = 0; waited <= 15000; waited += 100) {
        bool ok = false;
        std::vector<uint8_t> bytes = ReadWholeFile(addInFolder + L"Dravenport.log", &ok);
        if (ok && !bytes.empty()) return std::string(bytes.begin(), bytes.end());
        Sleep(100);
    }
    return {};
}

std::wstring Widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// Where a file of ours lies, for a person on the machine that runs Wine: the host's own path
// when there is one, else the Windows path.
std::wstring ShownPath(const std::wstring& path) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return path;
    char* name = unixName(path.c_str());
    if (!name) return path;
    std::wstring shown = Widen(name);
    HeapFree(GetProcessHeap(), 0, name);
    return shown;
}

// Dialogs the add-in shows are real windows: a person would read and close them. The watcher
// does the same, so that the job runs unattended, and reports what the dialog said.
class DialogWatcher {
public:
    DialogWatcher() : thread_(CreateThread(nullptr, 0, &Run, this, 0, nullptr)) {}
    ~DialogWatcher() {
        stop_ = true;
        if (thread_) {
            WaitForSingleObject(thread_, 5000);
            CloseHandle(thread_);
        }
    }
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

private:
    static DWORD WINAPI Run(void* self) {
        auto* me = static_cast<DialogWatcher*>(self);
        while (!me->stop_) {
            HWND box = FindWindowW(L"#32770", nullptr);
            if (box && IsWindowVisible(box)) {
                wchar_t caption[256] = {}, text[1024] = {};
                GetWindowTextW(box, caption, 256);
                GetDlgItemTextW(box, 0xFFFF, text, 1024);
                std::fwprintf(stdout, L"  dialog shown: [%ls] %ls\n", caption, text);
                std::fflush(stdout);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                Sleep(300);
            }
            Sleep(50);
        }
        return 0;
    }
    volatile bool stop_ = false;
    HANDLE thread_;
};

// The tab holding the add-in's button drawn as Excel shows it, and the button's own picture, as
// PNG files. False when there is nothing to draw or a file cannot be written.
bool DrawRibbonFiles(const RibbonHost& ribbon, const RibbonElement& button, const std::wstring& pngPath) {
    size_t selected = 0;
    for (size_t i = 0; i < ribbon.Tabs().size(); ++i) {
        struct Holds {
            const RibbonElement& button;
            bool In(const RibbonElement& e) const {
                if (&e == &button) return true;
                for (const RibbonElement& c : e.children)
                    if (In(c)) return true;
                return false;
            }
        };
        if (Holds{button}.In(ribbon.Tabs()[i])) selected = i;
    }
    auto picture = button.pictures.find(L"image");
    if (picture == button.pictures.end()) {
        Say(L"the button has no picture to show");
        return false;
    }
    const Image tab = DrawRibbon(ribbon.Tabs(), selected);
    const std::wstring buttonPath = pngPath.substr(0, pngPath.size() - (pngPath.size() >= 4 ? 4 : 0)) + L"-button.png";
    if (!WritePngFile(pngPath, tab) || !WritePngFile(buttonPath, picture->second)) {
        Say(L"cannot write " + pngPath);
        return false;
    }
    Say(L"ribbon tab as Excel shows it (" + std::to_wstring(tab.width) + L" x " + std::to_wstring(tab.height) +
        L"): " + ShownPath(pngPath));
    Say(L"button picture (" + std::to_wstring(picture->second.width) + L" x " + std::to_wstring(picture->second.height) +
        L"): " + ShownPath(buttonPath));
    return true;
}

// The add-in's main job through the ribbon, end to end.
int RunMainJob(std::wstring dll, const std::wstring& workbook, bool showMarkup, bool press,
               const std::wstring& pngPath, bool registered) {
    const std::wstring version = std::to_wstring(OFFICESIM_MAJOR) + L".0";
    Say(L"Excel stand-in " + version + L" starting");
    const std::wstring source = PrepareWorkbook(workbook);
    if (source.empty()) {
        Say(L"cannot prepare the workbook");
        return 1;
    }
    std::wstring addInFolder = Folder(dll);
    std::unique_ptr<AddInResiliency> resiliency;
    if (registered) {
        std::wstring progId = FindStartupAddIn();
        if (progId.empty()) {
            Say(L"no add-in is registered to load at Excel's start-up");
            return 1;
        }
        Say(L"add-in registered for start-up: " + progId);
        resiliency = std::make_unique<AddInResiliency>(version, progId);
        const std::wstring why = resiliency->WhyNotLoaded();
        if (!why.empty()) {
            Say(L"Excel does not load " + progId + L": " + why);
            return 1;
        }
        dll.clear();  // created through COM by ProgID, from wherever it is registered
    }
    DeleteFileW((addInFolder + L"Dravenport.log").c_str());
    // A copy from an earlier run must not be taken for this run's.
    DeleteFileW((TempFolder() + L"VortelixExcel\\Order.xlsx").c_str());

    ExcelSession session(version);
    WorkbookSim* book = session.App().Open(source);
    Say(L"workbook open: " + source + (book ? L"" : L" (cannot be read)"));
    const char kEdit[] = "Spoed: vandaag leveren";
    if (book) {
        book->Edit("D6", kEdit);
        Say(L"unsaved edit in Excel: D6 = \"" + Widen(kEdit) + L"\"");
    }
    DialogWatcher dialogs;
    if (resiliency) resiliency->BeginLoad();
    HRESULT hr = session.Start(dll);
    for (const std::wstring& line : session.log) Say(L"  " + line);
    // Office turns an add-in off when loading or connecting it fails; a failed start-up
    // completion leaves it connected.
    if (resiliency)
        for (const std::wstring& line : resiliency->EndLoad(session.Running() ? S_OK : hr)) Say(line);
    if (FAILED(hr)) return 1;
    if (g_startOnly) {
        Say(L"Excel started with the add-in loaded");
        return 0;
    }

    RibbonHost& ribbon = session.Ribbon();
    if (showMarkup) Say(L"custom UI markup:\n" + ribbon.Markup());
    Say(L"ribbon Microsoft.Excel.Workbook as Excel shows it:");
    for (const std::wstring& line : ribbon.Describe()) Say(L"  " + line);
    Say(L"callbacks resolved: " + std::to_wstring(ribbon.CallbackIds().size()) + L", unresolved: " +
        std::to_wstring(ribbon.Unresolved().size()));
    for (const std::wstring& p : ribbon.problems) Say(L"  problem: " + p);
    const RibbonElement* button = ribbon.FindByLabel(kButtonLabel);
    if (!button) {
        Say(std::wstring(L"the ribbon has no button \"") + kButtonLabel + L"\"");
        return 1;
    }
    const bool drawn = DrawRibbonFiles(ribbon, *button, pngPath);
    const bool ribbonWorks = drawn && ribbon.problems.empty() && ribbon.Unresolved().empty();
    if (!press) return ribbonWorks ? 0 : 1;

    const size_t logged = session.log.size();
    Say(std::wstring(L"pressing \"") + kButtonLabel + L"\" (" + button->id + L")");
    hr = ribbon.Press(button->id);
    Say(L"  " + button->attributes.at(L"onAction") + L" -> " + HResultText(hr));
    session.AfterCall();
    for (size_t i = logged; i < session.log.size(); ++i) Say(L"  " + session.log[i]);

    const std::wstring copy = TempFolder() + L"VortelixExcel\\Order.xlsx";
    const bool copied = Exists(copy);
    const bool deleted = !Exists(source);
    bool withEdit = false;
    if (auto package = XlsxPackage::Parse(ReadWholeFile(copy)))
        for (const std::string& cell : package->CellTexts()) withEdit = withEdit || cell == kEdit;
    Say(L"copy " + copy + (copied ? L" written" : L" missing") +
        (copied ? (withEdit ? L", with the unsaved edit inside" : L", WITHOUT the unsaved edit") : L""));
    Say(std::wstring(L"workbook ") + (book && book->Closed() ? (book->Saved() ? L"closed (saved)" : L"closed without saving")
                                                             : L"still open"));
    Say(std::wstring(L"Excel ") + (session.App().QuitRequested() ? L"quit" : L"still running"));
    Say(std::wstring(L"add-in ") + (session.Unloaded() ? L"disconnected and unloaded" : L"still loaded"));
    Say(L"workbook file " + std::wstring(deleted ? L"deleted" : L"still there"));
    std::string uploader = UploaderLog(addInFolder);
    Say(uploader.empty() ? L"Dravenport.exe did not run" : L"Dravenport.exe ran:");
    if (!uploader.empty()) Say(Widen(uploader));
    bool found = uploader.find("found=yes") != std::string::npos &&
                 uploader.find("complete_before_start=yes") != std::string::npos;
    return ribbonWorks && SUCCEEDED(hr) && session.Unloaded() && copied && withEdit && deleted && found ? 0 : 1;
}

// Start-up and shut-down only, with the modes given on the command line.
int RunLifecycle(const std::wstring& dll, LONG connectMode, LONG removeMode, bool withAddInInst) {
    int rc = 0;
    Say(L"Excel stand-in " + std::to_wstring(OFFICESIM_MAJOR) + L".0 starting");
    auto app = ExcelApplicationSim::Make<ExcelApplicationSim>(std::to_wstring(OFFICESIM_MAJOR) + L".0");
    auto addInInst = COMAddInSim::Make<COMAddInSim>();
    OfficeHost host;
    HRESULT hr = host.LoadFromDll(dll, kAddInClsid);
    Say(L"load " + dll + L" -> " + HResultText(hr));
    if (FAILED(hr)) return 1;
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
    return unloaded ? rc : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dll = Folder(self) + L"VORTELIXExcel.dll";
    std::wstring workbook;
    const std::wstring selfPath = self;
    std::wstring png = selfPath.substr(0, selfPath.size() - 4) + L"-ribbon.png";
    LONG connectMode = 1, removeMode = 0;
    bool withAddInInst = true, lifecycle = false, markup = false, press = true, registered = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--dll" && i + 1 < argc) dll = argv[++i];
        else if (a == L"--workbook" && i + 1 < argc) workbook = argv[++i];
        else if (a == L"--markup") markup = true;
        else if (a == L"--png" && i + 1 < argc) png = argv[++i];
        else if (a == L"--no-press") press = false;
        else if (a == L"--registered") registered = true;
        else if (a == L"--start-only") g_startOnly = true;
        else if (a == L"--slow-start-ms" && i + 1 < argc) AddInResiliency::SetSlowStartThreshold(static_cast<DWORD>(_wtoi(argv[++i])));
        else if (a == L"--lifecycle") lifecycle = true;
        else if (a == L"--connect-mode" && i + 1 < argc) lifecycle = true, connectMode = _wtoi(argv[++i]);
        else if (a == L"--remove-mode" && i + 1 < argc) lifecycle = true, removeMode = _wtoi(argv[++i]);
        else if (a == L"--no-addininst") lifecycle = true, withAddInInst = false;
    }

    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--register-server") return RegisterAutomationServer(selfPath) ? 0 : 1;
        if (a == L"--unregister-server") return UnregisterAutomationServer() ? 0 : 1;
    }
    bool embedding = false, userSession = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        embedding = embedding || _wcsicmp(a.c_str(), L"-Embedding") == 0 || _wcsicmp(a.c_str(), L"/Embedding") == 0;
        userSession = userSession || a == L"--user-session";
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    if (embedding || userSession) {
        const int code = RunExcelProcess(std::to_wstring(OFFICESIM_MAJOR) + L".0", embedding);
        CoUninitialize();
        return code;
    }
    int rc = lifecycle ? RunLifecycle(dll, connectMode, removeMode, withAddInInst)
                       : RunMainJob(dll, workbook, markup, press, png, registered);
    CoUninitialize();
    return rc;
}
