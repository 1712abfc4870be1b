// The health check against realistic states, in this test's own Wine prefix: the add-in
// registered with regsvr32 (or the failing test add-in in its place), Excel played by the
// stand-in, which turns add-ins off as Office does. Each state is produced through the stand-in,
// read by VORTELIXExcelCheck (text, JSON, exit code), repaired with --fix, and the next start of
// the stand-in loads the add-in again.
#include "json_reader.h"

#include "healthcheck/policy.h"
#include "healthcheck/resiliency.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <map>
#include <optional>

using qvrtest::ProgramFolder;

namespace {

const std::wstring kClsid = L"{5A7C2E91-3D48-4B6F-9E21-7C0D4A8B3F65}";
const std::wstring kProgId = qvrcheck::kProgId;
const std::wstring kAddInKey = qvrcheck::AddInKey();
const std::wstring kEventSource = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VORTELIX Excel";
const std::wstring kClickToRun = L"SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration";
const std::wstring kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe";
const REGSAM kOwnView = QVR_BITS == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
const REGSAM kOtherView = QVR_BITS == 64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

std::wstring Bin(const wchar_t* file) { return ProgramFolder() + file; }

std::wstring Lower(std::wstring s) { return qvrcheck::LowerCase(std::move(s)); }

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

// ---- registry, through the raw API ----

void SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD bytes,
              REGSAM view = 0) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &k, nullptr), ERROR_SUCCESS)
        << Narrow(key);
    EXPECT_EQ(RegSetValueExW(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    RegCloseKey(k);
}
void SetText(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value, REGSAM view = 0,
             DWORD type = REG_SZ) {
    SetValue(root, key, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), view);
}
void SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view = 0) {
    SetValue(root, key, name, REG_DWORD, &value, sizeof value, view);
}
std::optional<DWORD> GetDword(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS) return std::nullopt;
    DWORD value = 0, bytes = sizeof value, type = 0;
    const LONG rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
    return value;
}
void DeleteTree(HKEY root, const std::wstring& key, REGSAM view = 0) {
    HKEY k = nullptr;
    const size_t slash = key.find_last_of(L'\\');
    if (RegOpenKeyExW(root, key.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view, &k) != ERROR_SUCCESS) return;
    RegDeleteTreeW(k, key.substr(slash + 1).c_str());
    RegCloseKey(k);
}
// Every value of a key: name -> (type, bytes).
std::map<std::wstring, std::pair<DWORD, std::vector<uint8_t>>> Values(HKEY root, const std::wstring& key) {
    std::map<std::wstring, std::pair<DWORD, std::vector<uint8_t>>> out;
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return out;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        std::vector<uint8_t> data(8192);
        DWORD nameLen = 256, bytes = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(k, i, name, &nameLen, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) break;
        data.resize(bytes);
        out[name] = {type, data};
    }
    RegCloseKey(k);
    return out;
}

// ---- programs ----

struct Outcome {
    DWORD exitCode = static_cast<DWORD>(-1);
    std::string output;
};

Outcome RunProgram(const std::wstring& program, const std::wstring& arguments) {
    Outcome run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (started) {
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read) run.output.append(buffer, read);
        if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &run.exitCode);
        else TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(readEnd);
    return run;
}

Outcome Check(const std::wstring& arguments = L"") { return RunProgram(Bin(L"VORTELIXExcelCheck.exe"), arguments); }
Outcome StartExcel(const std::wstring& arguments = L"") {
    return RunProgram(Bin(L"ExcelSim.exe"), L"--registered --start-only " + arguments);
}

// The JSON report, with each check's status and detail by id.
struct JsonReport {
    DWORD exitCode = 0;
    jsontest::Value doc;
    std::map<std::string, std::string> status, detail;
};
JsonReport CheckJson(const std::wstring& arguments = L"") {
    JsonReport r;
    Outcome run = Check(L"--json " + arguments);
    r.exitCode = run.exitCode;
    std::string error;
    auto doc = jsontest::Parse(run.output, &error);
    EXPECT_TRUE(doc) << error << "\n" << run.output;
    if (!doc) return r;
    r.doc = *doc;
    for (const jsontest::Value& c : r.doc["checks"].items) {
        r.status[c["id"].text] = c["status"].text;
        r.detail[c["id"].text] = c["detail"].text;
    }
    EXPECT_EQ(r.doc["exitCode"].number, static_cast<double>(r.exitCode));
    return r;
}

// The checks that are not OK, as "id=STATUS".
std::vector<std::string> NotOk(const JsonReport& r) {
    std::vector<std::string> out;
    for (const auto& [id, status] : r.status)
        if (status != "OK") out.push_back(id + "=" + status);
    return out;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class HealthCheckTest : public testing::Test {
protected:
    void SetUp() override {
        Clean();
        // Excel as an installed Excel 16 leaves it: Excel.exe named under App Paths (the stand-in,
        // whose file version is 16.0.4711.1000), Excel's ProgID, the add-ins key.
        SetText(HKEY_LOCAL_MACHINE, kAppPaths, L"", Bin(L"ExcelSim.exe"));
        SetText(HKEY_CLASSES_ROOT, L"Excel.Application\\CLSID", L"", L"{00024500-0000-0000-C000-000000000046}");
        SetText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\Excel\\AddIns", L"", L"");
        // The event-log source as registration leaves it.
        SetText(HKEY_LOCAL_MACHINE, kEventSource, L"EventMessageFile", Bin(L"VORTELIXExcel.dll"), 0, REG_EXPAND_SZ);
    }
    void TearDown() override {
        if (realRegistered_) RunProgram(L"regsvr32.exe", L"/s /u \"" + Bin(L"VORTELIXExcel.dll") + L"\"");
        Clean();
    }
    static void Clean() {
        SetEnvironmentVariableW(L"QVR_FAULTY_ADDIN", nullptr);
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office");
        DeleteTree(HKEY_CURRENT_USER, L"Software\\Policies\\Microsoft\\Office");
        DeleteTree(HKEY_CURRENT_USER, L"Software\\VORTELIX");
        DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Policies\\VORTELIX");
        for (REGSAM view : {kOwnView, kOtherView}) {
            DeleteTree(HKEY_LOCAL_MACHINE, kAddInKey, view);
            DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + kProgId, view);
            DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + kClsid, view);
            DeleteTree(HKEY_LOCAL_MACHINE, kClickToRun, view);
            DeleteTree(HKEY_LOCAL_MACHINE, kAppPaths, view);
        }
        DeleteTree(HKEY_LOCAL_MACHINE, kEventSource);
        DeleteTree(HKEY_CURRENT_USER, L"Software\\ExcelSim");
        DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\{00024500-0000-0000-C000-000000000046}");
    }
    void RegisterRealAddIn() {
        ASSERT_EQ(RunProgram(L"regsvr32.exe", L"/s \"" + Bin(L"VORTELIXExcel.dll") + L"\"").exitCode, 0u);
        realRegistered_ = true;
        ASSERT_EQ(GetDword(HKEY_LOCAL_MACHINE, kAddInKey, L"LoadBehavior"), 3u) << "regsvr32 did not write the add-in key";
    }
    // The failing test add-in in the place of the real one, registered for all users.
    static void RegisterFaultyAddIn(REGSAM view = 0) {
        SetText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + kProgId + L"\\CLSID", L"", kClsid, view);
        const std::wstring server = L"Software\\Classes\\CLSID\\" + kClsid + L"\\InprocServer32";
        SetText(HKEY_LOCAL_MACHINE, server, L"", Bin(L"FaultyAddIn.dll"), view);
        SetText(HKEY_LOCAL_MACHINE, server, L"ThreadingModel", L"Apartment", view);
        SetText(HKEY_LOCAL_MACHINE, kAddInKey, L"FriendlyName", L"VORTELIX Excel (test)", view);
        SetDword(HKEY_LOCAL_MACHINE, kAddInKey, L"LoadBehavior", 3, view);
    }
    bool realRegistered_ = false;
};

const std::wstring kResiliency = L"Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency";

TEST_F(HealthCheckTest, AfterRegistrationEveryCheckIsOk) {
    RegisterRealAddIn();
    Outcome text = Check();
    EXPECT_EQ(text.exitCode, 0u) << text.output;
    EXPECT_FALSE(Has(text.output, "[WARN]") || Has(text.output, "[FAIL]")) << text.output;
    EXPECT_TRUE(Has(text.output, "Result: OK")) << text.output;

    JsonReport json = CheckJson();
    EXPECT_EQ(json.exitCode, 0u);
    EXPECT_EQ(json.doc["result"].text, "OK");
    EXPECT_EQ(NotOk(json), std::vector<std::string>{});
    EXPECT_EQ(json.status.size(), 15u);
    EXPECT_TRUE(Has(json.detail["excel"], "16.0.4711.1000")) << json.detail["excel"];
    EXPECT_TRUE(Has(json.detail["excel"], std::to_string(QVR_BITS) + "-bit")) << json.detail["excel"];
    // The path comes through the JSON escaping unchanged, backslashes and all.
    EXPECT_TRUE(Has(json.detail["class-registration"], Narrow(Bin(L"VORTELIXExcel.dll")))) << json.detail["class-registration"];
    EXPECT_TRUE(Has(json.detail["class-registration"], "ThreadingModel Apartment"));
    EXPECT_TRUE(Has(json.detail["uploader"], Narrow(Bin(L"Dravenport.exe"))));
    EXPECT_TRUE(Has(json.detail["log-level"], "2 (errors and hand-offs)"));
}

TEST_F(HealthCheckTest, ASlowStartTurnsTheAddInOffAndFixTurnsItBackOn) {
    RegisterRealAddIn();
    Outcome first = StartExcel(L"--slow-start-ms 0");
    EXPECT_EQ(first.exitCode, 0u) << first.output;  // loaded this time; held against it next time
    EXPECT_TRUE(Has(first.output, "the start-up was slow; Office records it and sets LoadBehavior to 2")) << first.output;
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, kAddInKey, L"LoadBehavior"), 2u);
    EXPECT_EQ(GetDword(HKEY_LOCAL_MACHINE, kAddInKey, L"LoadBehavior"), 3u);
    EXPECT_TRUE(GetDword(HKEY_CURRENT_USER, kResiliency + L"\\SlowStartAddinList", kProgId));

    Outcome refused = StartExcel();
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_TRUE(Has(refused.output, "Excel does not load VORTELIXExcel.coVORTELIXExcel: LoadBehavior is 2")) << refused.output;

    Outcome text = Check();
    EXPECT_EQ(text.exitCode, 2u);
    EXPECT_TRUE(Has(text.output, "[FAIL] Add-in key and LoadBehavior")) << text.output;
    JsonReport json = CheckJson();
    EXPECT_EQ(json.exitCode, 2u);
    EXPECT_EQ(NotOk(json), (std::vector<std::string>{"addin-key=FAIL", "slow-start=WARN"}));
    EXPECT_TRUE(Has(json.detail["addin-key"], "Office turned the add-in off after a failed or slow start")) << json.detail["addin-key"];

    Outcome fix = Check(L"--fix");
    EXPECT_EQ(fix.exitCode, 0u) << fix.output;
    EXPECT_TRUE(Has(fix.output, "changed: LoadBehavior set back from 2 to 3")) << fix.output;
    EXPECT_TRUE(Has(fix.output, "changed: removed Office 16.0 record of a slow start-up")) << fix.output;
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, kAddInKey, L"LoadBehavior"), 3u);

    Outcome again = StartExcel();
    EXPECT_EQ(again.exitCode, 0u) << again.output;
    EXPECT_TRUE(Has(again.output, "Excel started with the add-in loaded")) << again.output;
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, kAddInKey, L"LoadBehavior"), 3u);
    EXPECT_EQ(Check().exitCode, 0u);
}

TEST_F(HealthCheckTest, KeepEnabledListsTheAddInSoThatASlowStartNoLongerTurnsItOff) {
    RegisterRealAddIn();
    Outcome refused = Check(L"--keep-enabled");
    EXPECT_EQ(refused.exitCode, 3u) << refused.output;
    EXPECT_FALSE(GetDword(HKEY_CURRENT_USER, kResiliency + L"\\DoNotDisableAddinList", kProgId));

    Outcome fix = Check(L"--fix --keep-enabled");
    EXPECT_EQ(fix.exitCode, 0u) << fix.output;
    EXPECT_TRUE(Has(fix.output, "changed: listed in Office 16.0 DoNotDisableAddinList")) << fix.output;
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, kResiliency + L"\\DoNotDisableAddinList", kProgId), 1u);
    // Only the installed Office version's list.
    EXPECT_FALSE(GetDword(HKEY_CURRENT_USER, L"Software\\Microsoft\\Office\\15.0\\Excel\\Resiliency\\DoNotDisableAddinList", kProgId));

    Outcome slow = StartExcel(L"--slow-start-ms 0");
    EXPECT_EQ(slow.exitCode, 0u) << slow.output;
    EXPECT_TRUE(Has(slow.output, "in DoNotDisableAddinList, so Office keeps it on")) << slow.output;
    EXPECT_NE(GetDword(HKEY_CURRENT_USER, kAddInKey, L"LoadBehavior"), 2u);
    EXPECT_EQ(StartExcel().exitCode, 0u);
    JsonReport json = CheckJson();
    EXPECT_EQ(NotOk(json), std::vector<std::string>{"slow-start=WARN"});
    EXPECT_TRUE(Has(json.detail["do-not-disable-list"], "Listed for Office 16.0"));
    EXPECT_EQ(json.exitCode, 1u);
}

// ---- the failing test add-in ----

struct Fault {
    const char* name;
    const wchar_t* fault;
    const wchar_t* excelArguments;
    DWORD excelExit;  // 3: Excel crashed
    std::vector<std::string> notOk;
    std::vector<std::string> changes;
};

class FaultyAddInTest : public HealthCheckTest, public testing::WithParamInterface<Fault> {};

TEST_P(FaultyAddInTest, OfficesStateIsReportedRepairedAndTheNextStartLoadsTheAddIn) {
    const Fault& f = GetParam();
    RegisterFaultyAddIn();
    // Another add-in's entries, which nothing here may touch.
    const std::wstring other = L"Software\\Microsoft\\Office\\Excel\\AddIns\\Other.Connect";
    SetDword(HKEY_CURRENT_USER, other, L"LoadBehavior", 2);
    const std::vector<uint8_t> foreign = qvrcheck::MakeDisabledItem(L"C:\\Other\\Other.dll", L"Other");
    SetValue(HKEY_CURRENT_USER, kResiliency + L"\\DisabledItems", L"zz01", REG_BINARY, foreign.data(), static_cast<DWORD>(foreign.size()));
    SetDword(HKEY_CURRENT_USER, kResiliency + L"\\CrashingAddinList", L"Other.Connect", 1);
    SetDword(HKEY_CURRENT_USER, kResiliency + L"\\SlowStartAddinList", L"Other.Connect", 4000);
    const auto foreignDisabled = Values(HKEY_CURRENT_USER, kResiliency + L"\\DisabledItems");

    ASSERT_EQ(StartExcel().exitCode, 0u) << "the test add-in loads when it has no fault";
    SetEnvironmentVariableW(L"QVR_FAULTY_ADDIN", f.fault);
    Outcome faulty = StartExcel(f.excelArguments);
    SetEnvironmentVariableW(L"QVR_FAULTY_ADDIN", nullptr);
    EXPECT_EQ(faulty.exitCode, f.excelExit) << faulty.output;

    JsonReport json = CheckJson();
    EXPECT_EQ(json.exitCode, 2u);
    std::vector<std::string> expected = f.notOk;
    expected.push_back("type-library=WARN");  // the test add-in has none
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NotOk(json), expected);
    if (f.excelExit == 3) {
        // Office's entry, in Office's format: the DLL's path in lower case and the friendly name.
        auto entries = Values(HKEY_CURRENT_USER, kResiliency + L"\\DisabledItems");
        ASSERT_EQ(entries.size(), 2u);
        for (const auto& [name, value] : entries) {
            if (name == L"zz01") continue;
            EXPECT_EQ(value.first, static_cast<DWORD>(REG_BINARY));
            auto item = qvrcheck::ParseDisabledItem(value.second);
            ASSERT_TRUE(item);
            EXPECT_EQ(item->type, 1u);
            EXPECT_EQ(item->path, Lower(Bin(L"FaultyAddIn.dll")));
            EXPECT_EQ(item->friendlyName, L"VORTELIX Excel (test)");
        }
        EXPECT_TRUE(Has(json.detail["disabled-items"], "\"VORTELIX Excel (test)\"")) << json.detail["disabled-items"];
    }

    Outcome refused = StartExcel();
    EXPECT_EQ(refused.exitCode, 1u) << refused.output;
    EXPECT_TRUE(Has(refused.output, "Excel does not load VORTELIXExcel.coVORTELIXExcel")) << refused.output;

    Outcome fix = Check(L"--fix");
    for (const std::string& change : f.changes) EXPECT_TRUE(Has(fix.output, "changed: " + change)) << fix.output;
    EXPECT_EQ(fix.exitCode, 1u) << fix.output;  // the test add-in's missing type library remains
    EXPECT_FALSE(Has(fix.output, "NOT changed")) << fix.output;

    // Nothing of another add-in was touched.
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, other, L"LoadBehavior"), 2u);
    EXPECT_EQ(Values(HKEY_CURRENT_USER, kResiliency + L"\\DisabledItems"), (decltype(foreignDisabled){{L"zz01", foreignDisabled.at(L"zz01")}}));
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, kResiliency + L"\\CrashingAddinList", L"Other.Connect"), 1u);
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, kResiliency + L"\\SlowStartAddinList", L"Other.Connect"), 4000u);

    Outcome again = StartExcel();
    EXPECT_EQ(again.exitCode, 0u) << again.output;
    EXPECT_TRUE(Has(again.output, "Excel started with the add-in loaded")) << again.output;
}

INSTANTIATE_TEST_SUITE_P(
    , FaultyAddInTest,
    testing::Values(
        Fault{"FailedConnection", L"fail-connect", L"", 1, {"addin-key=FAIL"}, {"LoadBehavior set back from 2 to 3"}},
        // The start that refuses the add-in after a crash takes Office's crash marker away; the
        // DisabledItems entry stays until it is removed.
        Fault{"CrashInConnection", L"crash-connect", L"", 3, {"crashing-addin-list=WARN", "disabled-items=FAIL"},
              {"removed Office 16.0 DisabledItems entry \"VORTELIX Excel (test)\""}},
        Fault{"CrashInCreation", L"crash-create", L"", 3, {"crashing-addin-list=WARN", "disabled-items=FAIL"},
              {"removed Office 16.0 DisabledItems entry \"VORTELIX Excel (test)\""}},
        Fault{"SlowStart", L"slow:700", L"--slow-start-ms 300", 0, {"addin-key=FAIL", "slow-start=WARN"},
              {"LoadBehavior set back from 2 to 3", "removed Office 16.0 record of a slow start-up"}}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST_F(HealthCheckTest, ACrashMarkerLeftByAnExcelThatDiedBecomesADisabledItemAtTheNextStart) {
    RegisterFaultyAddIn();
    // Excel was killed while it loaded the add-in: only Office's marker is left.
    SetDword(HKEY_CURRENT_USER, kResiliency + L"\\CrashingAddinList", kProgId, 1);
    Outcome start = StartExcel();
    EXPECT_EQ(start.exitCode, 1u) << start.output;
    EXPECT_TRUE(Has(start.output, "list of disabled items")) << start.output;
    EXPECT_FALSE(GetDword(HKEY_CURRENT_USER, kResiliency + L"\\CrashingAddinList", kProgId));
    EXPECT_EQ(NotOk(CheckJson()), (std::vector<std::string>{"disabled-items=FAIL", "type-library=WARN"}));
    EXPECT_TRUE(Has(Check(L"--fix").output, "changed: removed Office 16.0 DisabledItems entry"));
    EXPECT_EQ(StartExcel().exitCode, 0u);

    // The marker alone, repaired before Excel starts again: nothing is held against the add-in.
    SetDword(HKEY_CURRENT_USER, kResiliency + L"\\CrashingAddinList", kProgId, 1);
    EXPECT_EQ(NotOk(CheckJson()), (std::vector<std::string>{"crashing-addin-list=WARN", "type-library=WARN"}));
    Outcome fix = Check(L"--fix");
    EXPECT_TRUE(Has(fix.output, "changed: removed Office 16.0 CrashingAddinList entry")) << fix.output;
    EXPECT_FALSE(GetDword(HKEY_CURRENT_USER, kResiliency + L"\\CrashingAddinList", kProgId));
    Outcome start2 = StartExcel();
    EXPECT_EQ(start2.exitCode, 0u) << start2.output;
    EXPECT_EQ(Values(HKEY_CURRENT_USER, kResiliency + L"\\DisabledItems").size(), 0u);
}

TEST_F(HealthCheckTest, AnAddInOfTheOtherBitnessIsCalledOut) {
    RegisterRealAddIn();
    // Office of the other bitness, as Click-to-Run records it (always in the 64-bit view).
    SetText(HKEY_LOCAL_MACHINE, kClickToRun, L"Platform", QVR_BITS == 64 ? L"x86" : L"x64", KEY_WOW64_64KEY);
    SetText(HKEY_LOCAL_MACHINE, kClickToRun, L"VersionToReport", L"16.0.17029.20108", KEY_WOW64_64KEY);
    JsonReport json = CheckJson();
    EXPECT_EQ(json.exitCode, 2u);
    EXPECT_TRUE(Has(json.detail["excel"], "16.0.17029.20108")) << json.detail["excel"];
    EXPECT_TRUE(Has(json.detail["excel"], "Click-to-Run")) << json.detail["excel"];
    EXPECT_EQ(json.status["class-registration"], "FAIL");
    EXPECT_TRUE(Has(json.detail["class-registration"], "It is registered in the other view")) << json.detail["class-registration"];

    // Registered in Office's view, but with a DLL of this build's bitness.
    RegisterFaultyAddIn(kOtherView);
    SetText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + kClsid + L"\\InprocServer32", L"", Bin(L"VORTELIXExcel.dll"), kOtherView);
    json = CheckJson();
    EXPECT_EQ(json.status["class-registration"], "OK") << json.detail["class-registration"];
    EXPECT_EQ(json.status["dll-bitness"], "FAIL");
    EXPECT_TRUE(Has(json.detail["dll-bitness"], "Office cannot load a DLL of the other bitness")) << json.detail["dll-bitness"];
}

TEST_F(HealthCheckTest, PoliciesAreReportedAndTheStandInFollowsTheManagedList) {
    RegisterFaultyAddIn();
    const std::wstring policies = L"Software\\Policies\\Microsoft\\Office\\16.0\\Excel";
    SetDword(HKEY_CURRENT_USER, policies + L"\\Security", L"RequireAddinSig", 1);
    SetText(HKEY_CURRENT_USER, policies + L"\\Resiliency\\AddinList", kProgId, L"0");
    SetText(HKEY_CURRENT_USER, L"Software\\VORTELIX\\Excel", L"LogLevel", L"3");  // a string: the default applies
    JsonReport json = CheckJson();
    EXPECT_EQ(json.status["signing"], "FAIL");
    EXPECT_TRUE(Has(json.detail["signing"], "Office turns unsigned add-ins off; the DLL carries no signature")) << json.detail["signing"];
    EXPECT_EQ(json.status["policy-addin-list"], "FAIL");
    EXPECT_EQ(json.status["log-level"], "WARN");
    EXPECT_TRUE(Has(json.detail["log-level"], "Level 2 (errors and hand-offs), from the user setting")) << json.detail["log-level"];
    Outcome blocked = StartExcel();
    EXPECT_EQ(blocked.exitCode, 1u);
    EXPECT_TRUE(Has(blocked.output, "the administrator's policy turns it off")) << blocked.output;

    // Always on by policy: loaded in spite of the user's LoadBehavior 2, and never turned off.
    SetText(HKEY_CURRENT_USER, policies + L"\\Resiliency\\AddinList", kProgId, L"1");
    SetDword(HKEY_CURRENT_USER, kAddInKey, L"LoadBehavior", 2);
    SetEnvironmentVariableW(L"QVR_FAULTY_ADDIN", L"fail-connect");
    Outcome failing = StartExcel();
    SetEnvironmentVariableW(L"QVR_FAULTY_ADDIN", nullptr);
    EXPECT_TRUE(Has(failing.output, "OnConnection(ConnectMode=1) -> E_FAIL")) << failing.output;
    EXPECT_EQ(StartExcel().exitCode, 0u);
    SetDword(HKEY_LOCAL_MACHINE, L"Software\\Policies\\VORTELIX\\Excel", L"LogLevel", 1);
    json = CheckJson();
    EXPECT_EQ(json.status["policy-addin-list"], "OK");
    EXPECT_TRUE(Has(json.detail["policy-addin-list"], "1, always on by policy"));
    EXPECT_EQ(json.status["log-level"], "OK");
    EXPECT_TRUE(Has(json.detail["log-level"], "Level 1 (errors), from the machine policy")) << json.detail["log-level"];
}

// ---- the live check: a new Excel started through COM, the stand-in as Excel.Application ----

// The stand-in's processes running now.
std::vector<DWORD> ExcelProcesses() {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"ExcelSim.exe") == 0) found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

// A process's end, waited for a little: COM's last calls may still be on their way out.
bool NoExcelLeft() {
    for (int i = 0; i < 50 && !ExcelProcesses().empty(); ++i) Sleep(100);
    return ExcelProcesses().empty();
}

class LiveCheckTest : public HealthCheckTest {
protected:
    void SetUp() override {
        HealthCheckTest::SetUp();
        // The stand-in registered as Excel.Application's local server, as Excel's setup does.
        ASSERT_EQ(RunProgram(Bin(L"ExcelSim.exe"), L"--register-server").exitCode, 0u);
    }
    void TearDown() override {
        for (DWORD pid : ExcelProcesses())
            if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
                TerminateProcess(p, 1);
                WaitForSingleObject(p, 5000);
                CloseHandle(p);
            }
        HealthCheckTest::TearDown();
    }
    static void SetFault(const wchar_t* name, DWORD value) { SetDword(HKEY_CURRENT_USER, L"Software\\ExcelSim", name, value); }
    // The live check's JSON report, with how long it took.
    JsonReport Live(const std::wstring& arguments = L"--live", double* seconds = nullptr) {
        const ULONGLONG start = GetTickCount64();
        JsonReport r = CheckJson(arguments);
        if (seconds) *seconds = static_cast<double>(GetTickCount64() - start) / 1000;
        for (const jsontest::Value& c : r.doc["checks"].items)
            if (c["id"].text == "live") fix = c["fix"].text;
        return r;
    }
    std::string fix;  // the live check's fix, of the last run
};

TEST_F(LiveCheckTest, ANewExcelConnectsTheAddInLoadsItsRibbonAndQuitsAgain) {
    RegisterRealAddIn();
    JsonReport r = Live();
    EXPECT_EQ(r.exitCode, 0u) << r.detail["live"];
    EXPECT_EQ(NotOk(r), std::vector<std::string>{});
    EXPECT_TRUE(Has(r.detail["live"], "Excel 16.0 started, connected the add-in 1.0.")) << r.detail["live"];
    EXPECT_TRUE(Has(r.detail["live"], "loaded its ribbon")) << r.detail["live"];
    EXPECT_TRUE(NoExcelLeft()) << "the Excel the check started is still running";
    // The user's own settings are as they were: nothing turned off, no slow start recorded.
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, kAddInKey, L"LoadBehavior"), std::nullopt);

    // The text form says the same, as one more check at the end.
    Outcome text = Check(L"--live");
    EXPECT_EQ(text.exitCode, 0u) << text.output;
    EXPECT_TRUE(Has(text.output, "[OK  ] Live: a new Excel loads the add-in")) << text.output;
}

// What the stand-in is made to do, and what the live check must say.
struct LiveFailure {
    const char* name;
    const wchar_t* fault;  // a value under HKCU\Software\ExcelSim set to 1, or null
    bool registerAddIn;
    const char* detail;
    const char* fix;
};

class LiveFailureTest : public LiveCheckTest, public testing::WithParamInterface<LiveFailure> {};

TEST_P(LiveFailureTest, FailsWithTheReasonInPlainWordsAndLeavesNoExcelBehind) {
    const LiveFailure& f = GetParam();
    if (f.registerAddIn) RegisterRealAddIn();
    if (f.fault) SetFault(f.fault, 1);
    JsonReport r = Live();
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_EQ(r.status["live"], "FAIL");
    EXPECT_TRUE(Has(r.detail["live"], f.detail)) << r.detail["live"];
    EXPECT_TRUE(Has(fix, f.fix)) << fix;
    EXPECT_TRUE(NoExcelLeft());
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LiveFailureTest,
    testing::Values(
        LiveFailure{"NotRegistered", nullptr, false,
                    "Excel 16.0 started but does not list the add-in VORTELIXExcel.coVORTELIXExcel among its COM add-ins",
                    "regsvr32"},
        // Office refuses the add-in's object: the add-in's OnConnection fails with that error, and
        // the check names the error the add-in recorded in its trace.
        LiveFailure{"ConnectionFails", L"RefuseAddInObject", true,
                    "the add-in's connection failed with its own error: OnConnection failed with 0x80070005",
                    "VORTELIXExcelCheck --fix"},
        LiveFailure{"RibbonNotLoaded", L"NoRibbon", true, "did not load its ribbon", "Show add-in user interface errors"}),
    [](const testing::TestParamInfo<LiveFailure>& info) { return info.param.name; });

TEST_F(LiveCheckTest, AnAddInOfficeTurnedOffFailsWithTheRepairAndFixMakesItLoad) {
    RegisterRealAddIn();
    SetDword(HKEY_CURRENT_USER, kAddInKey, L"LoadBehavior", 2);  // as Office leaves it after a failed start
    JsonReport r = Live();
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_EQ(r.status["live"], "FAIL");
    EXPECT_TRUE(Has(r.detail["live"], "started but did not connect the add-in: Office has turned it off")) << r.detail["live"];
    EXPECT_TRUE(Has(fix, "Run VORTELIXExcelCheck --fix")) << fix;
    EXPECT_TRUE(NoExcelLeft());

    r = Live(L"--fix --live");
    EXPECT_EQ(r.exitCode, 0u) << r.detail["live"];
    EXPECT_EQ(r.status["live"], "OK");
    EXPECT_TRUE(NoExcelLeft());
}

TEST_F(LiveCheckTest, WithoutExcelItFailsAtOnce) {
    RegisterRealAddIn();
    // Excel taken away: its ProgID and its class.
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Excel.Application"), ERROR_SUCCESS);
    DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\{00024500-0000-0000-C000-000000000046}");
    double seconds = 0;
    JsonReport r = Live(L"--live", &seconds);
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_EQ(r.status["live"], "FAIL");
    EXPECT_TRUE(Has(r.detail["live"], "Excel is not installed")) << r.detail["live"];
    EXPECT_LT(seconds, 30.0);
    EXPECT_TRUE(ExcelProcesses().empty());
}

TEST_F(LiveCheckTest, AStartPastTheTimeLimitFailsAndTheStartedExcelIsEnded) {
    RegisterRealAddIn();
    SetFault(L"StartDelayMs", 120000);
    double seconds = 0;
    JsonReport r = Live(L"--live --live-timeout 5", &seconds);
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_EQ(r.status["live"], "FAIL");
    EXPECT_TRUE(Has(r.detail["live"], "did not finish starting and answering within 5 s")) << r.detail["live"];
    EXPECT_TRUE(Has(r.detail["live"], "ended the Excel it started (process ")) << r.detail["live"];
    EXPECT_LT(seconds, 30.0) << "the check waited far past its limit";
    EXPECT_TRUE(NoExcelLeft());
}

TEST_F(LiveCheckTest, ABusyExcelIsAskedAgainUntilItAnswersOrTheTimeIsUp) {
    RegisterRealAddIn();
    // Busy for 3 s after it handed out its object: every call is rejected meanwhile.
    SetFault(L"BusyMs", 3000);
    JsonReport r = Live();
    EXPECT_EQ(r.status["live"], "OK") << r.detail["live"];
    EXPECT_TRUE(NoExcelLeft());

    // Busy for good: the time limit ends the run, and the Excel started for it.
    SetFault(L"BusyMs", 600000);
    double seconds = 0;
    r = Live(L"--live --live-timeout 5", &seconds);
    EXPECT_EQ(r.status["live"], "FAIL");
    EXPECT_TRUE(Has(r.detail["live"], "did not finish starting and answering within 5 s")) << r.detail["live"];
    EXPECT_LT(seconds, 30.0);
    EXPECT_TRUE(NoExcelLeft());
}

TEST_F(LiveCheckTest, ARunningExcelIsLeftAloneAndOnlyTheCheckOwnExcelQuits) {
    RegisterRealAddIn();
    // The user's Excel, started as a user starts it.
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION users{};
    std::wstring commandLine = L"\"" + Bin(L"ExcelSim.exe") + L"\" --user-session";
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &users));
    CloseHandle(users.hThread);
    ASSERT_EQ(ExcelProcesses(), std::vector<DWORD>{users.dwProcessId});

    JsonReport r = Live();
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.status["live"], "WARN");
    EXPECT_TRUE(Has(r.detail["live"], "Excel is running")) << r.detail["live"];
    EXPECT_TRUE(Has(r.detail["live"], "process " + std::to_string(users.dwProcessId))) << r.detail["live"];
    EXPECT_TRUE(Has(fix, "--live-even-if-running")) << fix;
    EXPECT_EQ(ExcelProcesses(), std::vector<DWORD>{users.dwProcessId}) << "a second Excel was started";

    r = Live(L"--live-even-if-running");
    EXPECT_EQ(r.status["live"], "OK") << r.detail["live"];
    for (int i = 0; i < 50 && ExcelProcesses().size() > 1; ++i) Sleep(100);
    EXPECT_EQ(ExcelProcesses(), std::vector<DWORD>{users.dwProcessId}) << "the check's own Excel stayed, or the user's went";
    EXPECT_EQ(WaitForSingleObject(users.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the user's Excel was ended";
    TerminateProcess(users.hProcess, 0);
    WaitForSingleObject(users.hProcess, 5000);
    CloseHandle(users.hProcess);
}

TEST_F(LiveCheckTest, ATimeLimitOutsideItsRangeIsAWrongCommandLine) {
    for (const wchar_t* limit : {L"0", L"3601", L"ten", L"5s"}) {
        Outcome wrong = Check(std::wstring(L"--live --live-timeout ") + limit);
        EXPECT_EQ(wrong.exitCode, 3u) << Narrow(limit) << ": " << wrong.output;
        EXPECT_TRUE(Has(wrong.output, "--live-timeout takes a number of seconds from 1 to 3600")) << wrong.output;
    }
    EXPECT_TRUE(ExcelProcesses().empty());
}

}  // namespace
