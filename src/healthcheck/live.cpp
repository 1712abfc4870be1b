#include "healthcheck/live.h"

#include "healthcheck/registry.h"
#include "healthcheck/resiliency.h"

#include <shlobj.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>

namespace qvrcheck {

using Microsoft::WRL::ComPtr;

namespace {

// Excel's automation members the run uses, by their published dispatch ids where Excel's type
// library gives them; the others are asked for by name, as a script would.
constexpr DISPID kVersion = 392;
constexpr DISPID kQuit = 302;
constexpr DISPID kCOMAddIns = 1796;
constexpr DISPID kConnect = 6;
constexpr DISPID kObject = 7;
// Excel waits this long after Quit before the check ends the process it started.
constexpr DWORD kQuitWaitMs = 15000;
// A busy Excel (still starting, or a dialog up) rejects calls from other processes; they are
// tried again this often until the run's time is up.
constexpr DWORD kRetryMs = 250;
// When the run on this thread must be over (GetTickCount64); 0: no retries.
thread_local ULONGLONG t_retryUntil = 0;

bool Busy(HRESULT hr) { return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER; }

// Runs one call to Excel again while Excel rejects it as busy, within the run's time.
template <typename Attempt>
HRESULT WhileBusy(Attempt&& attempt) {
    HRESULT hr = attempt();
    while (Busy(hr) && GetTickCount64() + kRetryMs < t_retryUntil) {
        Sleep(kRetryMs);
        hr = attempt();
    }
    return hr;
}

std::wstring HrText(HRESULT hr) {
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = code;
    wchar_t* message = nullptr;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr) &&
        message) {
        std::wstring m = message;
        LocalFree(message);
        while (!m.empty() && (m.back() == L'\n' || m.back() == L'\r' || m.back() == L' ' || m.back() == L'.')) m.pop_back();
        if (!m.empty()) text += L" (" + m + L")";
    }
    return text;
}

std::wstring PidList(const std::vector<DWORD>& pids) {
    std::wstring out;
    for (DWORD pid : pids) out += (out.empty() ? L"" : L", ") + std::to_wstring(pid);
    return out;
}

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

// ---- Excel's program and its processes ----

struct ExcelServer {
    bool registered = false;
    CLSID clsid{};
    std::wstring command;  // LocalServer32 as registered
    std::wstring image;    // the program's file name, as the process list shows it
};

ExcelServer FindExcelServer() {
    ExcelServer server;
    if (FAILED(CLSIDFromProgID(L"Excel.Application", &server.clsid))) return server;
    server.registered = true;
    wchar_t clsid[40] = {};
    StringFromGUID2(server.clsid, clsid, 40);
    const std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\LocalServer32";
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)})
        if (auto command = ReadText(HKEY_CLASSES_ROOT, key, L"", view)) {
            server.command = *command;
            break;
        }
    std::wstring path = server.command;
    if (!path.empty() && path[0] == L'"') {
        path = path.substr(1, path.find(L'"', 1) == std::wstring::npos ? std::wstring::npos : path.find(L'"', 1) - 1);
    } else {
        // Unquoted: the program ends at ".exe" (a path with spaces is seen whole).
        std::wstring lower = LowerCase(path);
        const size_t exe = lower.find(L".exe");
        path = exe == std::wstring::npos ? path.substr(0, path.find(L' ')) : path.substr(0, exe + 4);
    }
    // A registered 8.3 name ("C:\PROGRA~1\...") names the process by its long name.
    wchar_t longPath[MAX_PATH] = {};
    if (!path.empty() && GetLongPathNameW(path.c_str(), longPath, MAX_PATH)) path = longPath;
    server.image = path.empty() ? L"EXCEL.EXE" : FileNameOf(path);
    return server;
}

// The processes of this session whose program has this file name.
std::vector<DWORD> ProcessesNamed(const std::wstring& image) {
    std::vector<DWORD> found;
    DWORD ownSession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &ownSession);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        DWORD session = 0;
        if (_wcsicmp(entry.szExeFile, image.c_str()) == 0 && ProcessIdToSessionId(entry.th32ProcessID, &session) &&
            session == ownSession)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

std::vector<DWORD> NewProcesses(const std::wstring& image, const std::vector<DWORD>& before) {
    std::vector<DWORD> found;
    for (DWORD pid : ProcessesNamed(image))
        if (std::find(before.begin(), before.end(), pid) == before.end()) found.push_back(pid);
    return found;
}

// Waits up to `waitMs` for the processes to end and ends the ones left. True when one had to be
// ended.
bool EndProcesses(const std::vector<DWORD>& pids, DWORD waitMs) {
    bool forced = false;
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (DWORD pid : pids) {
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        if (!process) continue;  // already gone
        const ULONGLONG now = GetTickCount64();
        if (WaitForSingleObject(process, now < deadline ? static_cast<DWORD>(deadline - now) : 0) != WAIT_OBJECT_0) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            forced = true;
        }
        CloseHandle(process);
    }
    return forced;
}

// "2026-12-11T13:50:01.123Z", as the add-in's trace stamps its records.
std::string UtcStamp() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, t.wMilliseconds);
    return text;
}

std::string ReadFileText(const std::wstring& path) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read) text.append(buffer, read);
    CloseHandle(file);
    return text;
}

std::wstring Widen(const std::string& s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// ---- late-bound calls ----

struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    ~Var() { VariantClear(&v); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

// One call; an error Excel or the add-in raised comes back as its own code, with its text in
// `description` when given.
HRESULT Call(IDispatch* object, DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result,
             std::wstring* description = nullptr) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args, nullptr, count, 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    EXCEPINFO excep{};
    UINT argErr = 0;
    HRESULT hr = WhileBusy(
        [&] { return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &argErr); });
    if (hr == DISP_E_EXCEPTION) {
        if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
        if (description && excep.bstrDescription) *description = excep.bstrDescription;
        hr = FAILED(excep.scode) ? excep.scode : DISP_E_EXCEPTION;
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return hr;
}

HRESULT Get(IDispatch* object, DISPID id, VARTYPE type, Var& out) {
    HRESULT hr = Call(object, id, DISPATCH_PROPERTYGET, nullptr, 0, &out.v);
    if (SUCCEEDED(hr) && out.v.vt != type) hr = VariantChangeType(&out.v, &out.v, 0, type);
    return hr;
}

HRESULT IdOf(IDispatch* object, const wchar_t* name, DISPID* id) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return WhileBusy([&] { return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id); });
}

HRESULT GetNamed(IDispatch* object, const wchar_t* name, VARTYPE type, Var& out) {
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = IdOf(object, name, &id);
    return FAILED(hr) ? hr : Get(object, id, type, out);
}

// ---- the run, on a thread of its own so that the wait for it can end ----

struct LiveRun {
    CLSID clsid{};
    std::wstring image;
    std::vector<DWORD> before;
    ULONGLONG deadline = 0;  // GetTickCount64
    LiveFacts facts;
};

// The add-in's status object, read by name (its type library is registered with the add-in).
void ReadStatus(IDispatch* status, LiveFacts& f) {
    Var version, ribbon, text, code, trace;
    const struct {
        const wchar_t* name;
        VARTYPE type;
        Var& out;
    } members[] = {{L"Version", VT_BSTR, version},
                   {L"RibbonLoaded", VT_BOOL, ribbon},
                   {L"LastErrorText", VT_BSTR, text},
                   {L"LastErrorCode", VT_I4, code},
                   {L"TraceFile", VT_BSTR, trace}};
    for (const auto& m : members)
        if (HRESULT hr = GetNamed(status, m.name, m.type, m.out); FAILED(hr)) {
            f.statusError = std::wstring(m.name) + L": " + HrText(hr);
            return;
        }
    f.addInVersion = version.v.bstrVal ? version.v.bstrVal : L"";
    f.ribbonLoaded = ribbon.v.boolVal != VARIANT_FALSE;
    f.lastErrorText = text.v.bstrVal ? text.v.bstrVal : L"";
    f.lastErrorCode = code.v.lVal;
    if (trace.v.bstrVal && *trace.v.bstrVal) f.traceFile = trace.v.bstrVal;
}

void AskExcel(IDispatch* app, LiveFacts& f) {
    Var version;
    if (SUCCEEDED(Get(app, kVersion, VT_BSTR, version)) && version.v.bstrVal) f.excelVersion = version.v.bstrVal;

    Var addIns, addIn;
    Var index;
    index.v.vt = VT_BSTR;
    index.v.bstrVal = SysAllocString(kProgId);
    f.listError = Get(app, kCOMAddIns, VT_DISPATCH, addIns);
    if (SUCCEEDED(f.listError) && !addIns.v.pdispVal) f.listError = E_POINTER;
    if (SUCCEEDED(f.listError))
        f.listError = Call(addIns.v.pdispVal, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &index.v, 1, &addIn.v);
    if (SUCCEEDED(f.listError) && (addIn.v.vt != VT_DISPATCH || !addIn.v.pdispVal)) f.listError = DISP_E_BADINDEX;
    if (FAILED(f.listError)) return;

    Var connect, object;
    f.connected = SUCCEEDED(Get(addIn.v.pdispVal, kConnect, VT_BOOL, connect)) && connect.v.boolVal != VARIANT_FALSE;
    if (SUCCEEDED(Get(addIn.v.pdispVal, kObject, VT_DISPATCH, object)) && object.v.pdispVal) {
        f.hasObject = true;
        ReadStatus(object.v.pdispVal, f);
    }
}

void QuitExcel(IDispatch* app) {
    // Nothing is saved: the Excel started here has nothing of the user's open, and no prompt may
    // hold its end.
    DISPID alerts = DISPID_UNKNOWN;
    if (SUCCEEDED(IdOf(app, L"DisplayAlerts", &alerts))) {
        Var no;
        no.v.vt = VT_BOOL;
        no.v.boolVal = VARIANT_FALSE;
        Call(app, alerts, DISPATCH_PROPERTYPUT, &no.v, 1, nullptr);
    }
    Call(app, kQuit, DISPATCH_METHOD, nullptr, 0, nullptr);
}

DWORD WINAPI Work(void* parameter) {
    std::unique_ptr<std::shared_ptr<LiveRun>> handed(static_cast<std::shared_ptr<LiveRun>*>(parameter));
    const std::shared_ptr<LiveRun> run = *handed;
    LiveFacts& f = run->facts;
    t_retryUntil = run->deadline;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        f.stage = LiveFacts::Stage::StartFailed;
        f.startError = RPC_E_CHANGED_MODE;
        return 0;
    }
    {
        ComPtr<IDispatch> app;
        const HRESULT hr = CoCreateInstance(run->clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                            reinterpret_cast<void**>(app.GetAddressOf()));
        f.started = NewProcesses(run->image, run->before);
        if (FAILED(hr)) {
            f.stage = LiveFacts::Stage::StartFailed;
            f.startError = hr;
        } else {
            f.stage = LiveFacts::Stage::Finished;
            AskExcel(app.Get(), f);
            QuitExcel(app.Get());
        }
    }
    CoUninitialize();
    return 0;
}

}  // namespace

std::wstring AddInTraceFile() {
    wchar_t local[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local)) || !*local) return {};
    return std::wstring(local) + L"\\VORTELIX\\Excel\\Logs\\VORTELIXExcel.log";
}

std::vector<std::wstring> TraceErrors(const std::string& traceText, const std::vector<DWORD>& processes,
                                      const std::string& since) {
    std::vector<std::wstring> found;
    size_t at = 0;
    while (at < traceText.size()) {
        size_t end = traceText.find('\n', at);
        if (end == std::string::npos) end = traceText.size();
        std::string line = traceText.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // <stamp> <process id> <level> <area> <message>
        const size_t p1 = line.find(' ');
        const size_t p2 = p1 == std::string::npos ? p1 : line.find(' ', p1 + 1);
        const size_t p3 = p2 == std::string::npos ? p2 : line.find(' ', p2 + 1);
        if (p3 == std::string::npos) continue;
        if (line.compare(p2 + 1, p3 - p2 - 1, "ERROR") != 0) continue;
        if (line.compare(0, p1, since) < 0 && p1 == since.size()) continue;
        const std::string pid = line.substr(p1 + 1, p2 - p1 - 1);
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const DWORD process = static_cast<DWORD>(std::strtoul(pid.c_str(), nullptr, 10));
        if (std::find(processes.begin(), processes.end(), process) == processes.end()) continue;
        // The message, after the area ("com", "hand-off"), without its closing full stop.
        const size_t p4 = line.find(' ', p3 + 1);
        std::string message = p4 == std::string::npos ? std::string() : line.substr(p4 + 1);
        while (!message.empty() && (message.back() == '.' || message.back() == ' ')) message.pop_back();
        if (!message.empty()) found.push_back(Widen(message));
    }
    return found;
}

Check LiveVerdict(const LiveFacts& f) {
    using Stage = LiveFacts::Stage;
    Check c{L"live", L"Live: a new Excel loads the add-in (Application.COMAddIns)", Status::Fail, {}, {}};
    const std::wstring timing = L" (" + std::to_wstring(static_cast<int>(f.seconds * 10 + 0.5) / 10) + L"." +
                                std::to_wstring(static_cast<int>(f.seconds * 10 + 0.5) % 10) + L" s)";
    const std::wstring ended =
        f.endedByForce ? L" Excel did not end after Quit; the live check ended the process it started (" +
                             PidList(f.started) + L")."
                       : L"";
    switch (f.stage) {
        case Stage::NotInstalled:
            c.detail = L"Excel is not installed: no program is registered as Excel.Application, so Excel cannot be started.";
            c.fix = L"Install Microsoft Excel (or repair Office), then run the live check again.";
            return c;
        case Stage::Running:
            c.status = Status::Warn;
            c.detail = L"Excel is running (" + f.program + L", process " + PidList(f.running) +
                       L"). The live check starts no Excel beside a running one and leaves the running one alone.";
            c.fix = L"Close Excel and run the check again, or add --live-even-if-running to start an invisible Excel of its own beside it.";
            return c;
        case Stage::StartFailed:
            c.detail = L"Excel could not be started through COM (" + f.program + L"): " + HrText(f.startError) + L".";
            c.fix = L"Start Excel by hand to see what stops it; repair Office (Settings > Apps > Microsoft Office > Modify > Quick Repair).";
            return c;
        case Stage::TimedOut:
            c.detail = L"Excel did not finish starting and answering within " + std::to_wstring(f.timeoutSeconds) +
                       L" s; the live check gave up and ended the Excel it started" +
                       (f.started.empty() ? std::wstring(L" (no new Excel process was found)")
                                          : L" (process " + PidList(f.started) + L")") +
                       L".";
            c.fix = L"Start Excel by hand and look for what holds its start (a dialog, a slow network drive, another "
                    L"add-in); run the live check again, with --live-timeout <seconds> for a longer wait.";
            return c;
        case Stage::Finished:
            break;
    }
    const std::wstring excel = L"Excel" + (f.excelVersion.empty() ? L"" : L" " + f.excelVersion);
    if (FAILED(f.listError)) {
        c.detail = excel + L" started but does not list the add-in " + kProgId +
                   L" among its COM add-ins: it is not registered for this user or this machine, in the bitness "
                   L"Excel runs (" + HrText(f.listError) + L")." + ended;
        c.fix = L"Install the add-in's package that matches Office's bitness (see the checks above), or register "
                L"VORTELIXExcel.dll with regsvr32.";
        return c;
    }
    if (!f.connected) {
        if (!f.turnedOff.empty()) {
            c.detail = excel + L" started but did not connect the add-in: Office has turned it off.";
            for (const Check* off : f.turnedOff) c.detail += L" " + off->title + L": " + off->detail;
            c.fix = f.turnedOff.front()->fix.empty() ? L"Run VORTELIXExcelCheck --fix, then the live check again."
                                                      : f.turnedOff.front()->fix;
        } else if (!f.addInErrors.empty()) {
            c.detail = excel + L" started but the add-in's connection failed with its own error: " + f.addInErrors.back() +
                       L". Office turns an add-in off after a failed connection (LoadBehavior 2).";
            c.fix = L"Send the trace file " + f.traceFile +
                    L" and the Application event log (source \"VORTELIX Excel\") to support; once the cause is "
                    L"mended, run VORTELIXExcelCheck --fix to turn the add-in back on.";
        } else {
            c.detail = excel + L" started but did not connect the add-in, and the add-in recorded no error in " +
                       f.traceFile + L" (its log level may be 0, off).";
            c.fix = L"Set LogLevel to 1 or more (Group Policy, or HKCU\\Software\\VORTELIX\\Excel), run the live "
                    L"check again and read the trace file; run VORTELIXExcelCheck --fix to turn the add-in back on.";
        }
        c.detail += ended;
        return c;
    }
    if (!f.hasObject || !f.statusError.empty()) {
        c.status = Status::Warn;
        c.detail = excel + L" started and connected the add-in, but its status object " +
                   (f.hasObject ? L"could not be read (" + f.statusError + L")" : std::wstring(L"is not there")) +
                   L": an add-in older than this check, or a type library that is not registered." + ended;
        c.fix = L"Install the add-in's current package (it registers the type library), then run the live check again.";
        return c;
    }
    const std::wstring addIn = L"the add-in " + f.addInVersion;
    if (!f.lastErrorText.empty()) {
        wchar_t code[16];
        std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(f.lastErrorCode));
        c.detail = excel + L" started and connected " + addIn + L", but the add-in reported an error while it started: " +
                   f.lastErrorText + (f.lastErrorCode ? std::wstring(L" (") + code + L")" : std::wstring()) + L"." + ended;
        c.fix = L"Send the trace file " + f.traceFile + L" and the Application event log to support.";
        return c;
    }
    if (!f.ribbonLoaded) {
        c.detail = excel + L" started and connected " + addIn +
                   L", but did not load its ribbon: the tab VORTELIX and its button are not shown." + ended;
        c.fix = L"In Excel: File > Options > Advanced > General > \"Show add-in user interface errors\", start Excel "
                L"and read the error; send it with the trace file " + f.traceFile + L" to support.";
        return c;
    }
    c.status = f.endedByForce ? Status::Warn : Status::Ok;
    c.detail = excel + L" started, connected " + addIn + L" and loaded its ribbon" + timing +
               L"; the Excel the check started quit without saving." + ended;
    if (f.endedByForce) c.fix = L"Look in Excel for what keeps it from quitting (another add-in, a dialog).";
    return c;
}

Check RunLiveCheck(const LiveOptions& options, const std::vector<Check>& before) {
    LiveFacts f;
    f.timeoutSeconds = options.timeoutSeconds;
    f.traceFile = AddInTraceFile();
    for (const Check& c : before)
        if (c.status == Status::Fail &&
            (c.id == L"addin-key" || c.id == L"disabled-items" || c.id == L"policy-addin-list"))
            f.turnedOff.push_back(&c);

    // ProgID lookups go through COM; the run itself has a thread of its own.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const ExcelServer server = FindExcelServer();
    if (SUCCEEDED(com)) CoUninitialize();
    f.program = server.command.empty() ? server.image : server.command;
    if (!server.registered) {
        f.stage = LiveFacts::Stage::NotInstalled;
        return LiveVerdict(f);
    }
    const std::vector<DWORD> running = ProcessesNamed(server.image);
    if (!running.empty() && !options.evenIfRunning) {
        f.stage = LiveFacts::Stage::Running;
        f.running = running;
        return LiveVerdict(f);
    }

    auto run = std::make_shared<LiveRun>();
    run->clsid = server.clsid;
    run->image = server.image;
    run->before = running;
    run->facts = f;
    const std::string since = UtcStamp();
    const ULONGLONG start = GetTickCount64();
    const DWORD limitMs = options.timeoutSeconds * 1000;
    run->deadline = start + limitMs;
    // The thread takes over its share of the run once it started.
    auto handed = std::make_unique<std::shared_ptr<LiveRun>>(run);
    HANDLE thread = CreateThread(nullptr, 0, &Work, handed.get(), 0, nullptr);
    if (!thread) {
        f.stage = LiveFacts::Stage::StartFailed;
        f.startError = HRESULT_FROM_WIN32(GetLastError());
        return LiveVerdict(f);
    }
    handed.release();
    if (WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0) {
        f = run->facts;
        // An Excel that was still busy when the time was up did not finish starting in time.
        if (f.stage == LiveFacts::Stage::Finished && Busy(f.listError)) f.stage = LiveFacts::Stage::TimedOut;
        // Excel ends after Quit; one that stays is ended, being the one this check started.
        if (f.stage == LiveFacts::Stage::Finished) f.endedByForce = EndProcesses(f.started, kQuitWaitMs);
        else EndProcesses(f.started, 0);
    } else {
        f.stage = LiveFacts::Stage::TimedOut;
        f.started = NewProcesses(server.image, running);
        EndProcesses(f.started, 0);
        // The thread's calls fail once its Excel is gone; one that still hangs is left to the
        // process's end (it owns its share of the run).
        WaitForSingleObject(thread, 2000);
    }
    CloseHandle(thread);
    f.seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;

    if (f.stage == LiveFacts::Stage::Finished && !f.started.empty() && !f.traceFile.empty()) {
        const size_t dot = f.traceFile.find_last_of(L'.');
        const std::wstring older = dot == std::wstring::npos ? f.traceFile + L".1"
                                                             : f.traceFile.substr(0, dot) + L".1" + f.traceFile.substr(dot);
        f.addInErrors = TraceErrors(ReadFileText(older) + ReadFileText(f.traceFile), f.started, since);
    }
    return LiveVerdict(f);
}

}  // namespace qvrcheck
