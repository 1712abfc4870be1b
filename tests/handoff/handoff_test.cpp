// The order hand-off as Excel runs it: the add-in started in an Excel stand-in with a real
// workbook file open, the button pressed, and Office's shut-down after Excel was asked to quit.
//
// Each test works in a folder of its own with its own copy of the add-in DLL and of the uploader
// stand-in: the add-in's folder is that copy's folder, so a test can take the uploader away or
// break it without touching the shared build output. Files that the command recycles land in a
// trash of this program's own (Wine keeps the Recycle Bin in the Unix desktop trash under
// XDG_DATA_HOME). Links are made from the Unix side before the program runs (make_links.sh):
// Wine makes nothing for CreateSymbolicLinkW.
#include "addin/addin_module.h"
#include "addin/coclass.h"
#include "addin/handoff_files.h"
#include "addin/texts.h"
#include "com/error.h"
#include "com/handles.h"
#include "com/log.h"
#include "com/office.h"
#include "com/texts.h"
#include "excel_sim.h"
#include "module/excel_app.h"
#include "office_host.h"
#include "ribbon/ribbon.h"
#include "server/addin.h"
#include "support/addin_facts.h"
#include "support/recording_module.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using officesim::ExcelApplicationSim;
using officesim::WorkbookSim;
namespace xl = officesim::xl;

namespace {

constexpr const wchar_t* kButtonId = qvrtest::kAddInButtonId;
const wchar_t kSourceName[] = L"Bestelling 2026-12.xlsx";
const HRESULT kExcelError = static_cast<HRESULT>(0x800A03EC);

using qvrtest::Exists;
using qvrtest::ProgramFolder;

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

// Removes a folder tree. Links are never entered nor removed: what they point to is not ours,
// and the links themselves belong to the fixture that made them.
void RemoveTree(const std::wstring& folder) {
    DWORD self = Attributes(folder);
    if (self != INVALID_FILE_ATTRIBUTES && (self & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    WIN32_FIND_DATAW e;
    HANDLE f = FindFirstFileW((folder + L"\\*").c_str(), &e);
    if (f != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = e.cFileName, path = folder + L"\\" + name;
            if (name == L"." || name == L".." || (e.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(f, &e));
        FindClose(f);
    }
    RemoveDirectoryW(folder.c_str());
}

// Empties a folder tree, keeping its folders and links; a link itself is left alone.
void EmptyTree(const std::wstring& folder) {
    DWORD self = Attributes(folder);
    if (self == INVALID_FILE_ATTRIBUTES || (self & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    WIN32_FIND_DATAW e;
    HANDLE f = FindFirstFileW((folder + L"\\*").c_str(), &e);
    if (f == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = e.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L".." || (e.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(f, &e));
    FindClose(f);
}

void WriteFile(const std::wstring& path, const std::string& text, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    ASSERT_TRUE(officesim::WriteWholeFile(path, std::vector<uint8_t>(text.begin(), text.end()))) << "cannot write";
    SetFileAttributesW(path.c_str(), attributes);
}

std::string ReadText(const std::wstring& path) {
    bool ok = false;
    std::vector<uint8_t> bytes = officesim::ReadWholeFile(path, &ok);
    return ok ? std::string(bytes.begin(), bytes.end()) : std::string("(missing)");
}

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

// The Unix path Wine gives a Windows path.
std::string UnixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* unix = fn(path.c_str());
    std::string s = unix ? unix : "";
    if (unix) HeapFree(GetProcessHeap(), 0, unix);
    return s;
}

// This program's folders: its runs and its private trash.
std::wstring RunsFolder() { return ProgramFolder() + L"handoff-runs"; }
std::wstring DataHome() { return RunsFolder() + L"\\data-" + std::to_wstring(GetCurrentProcessId()); }
std::wstring TrashFiles() { return DataHome() + L"\\Trash\\files\\"; }
std::wstring TrashInfo() { return DataHome() + L"\\Trash\\info\\"; }

// A workbook file's place on one of the drives with_drives.sh gives this program: N: a network
// drive, R: a removable one. Each call has a folder of its own there.
std::wstring OnDrive(const wchar_t* drive) {
    const std::wstring root = std::wstring(drive) + L"\\";
    const UINT expected = root[0] == L'N' ? DRIVE_REMOTE : DRIVE_REMOVABLE;
    EXPECT_EQ(expected, GetDriveTypeW(root.c_str())) << "the drives are given by tests/handoff/with_drives.sh";
    static int serial = 0;
    const std::wstring folder = root + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\Bestelling 2026-12.xlsx";
}
// The links made from the Unix side before the program runs (make_links.sh).
std::wstring LinksFolder() { return ProgramFolder() + L"handoff-links"; }

// Waits, bounded, for every uploader stand-in that is running to end, then answers what the one
// in `addInFolder` recorded: empty when it never ran. ShellExecuteW returns once the process
// exists, so a run the command started is either still listed here or has written its record.
std::string WaitForUploader(const std::wstring& addInFolder) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (_wcsicmp(entry.szExeFile, L"Dravenport.exe") != 0) continue;
            if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
                EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 30000)) << "the uploader stand-in hangs";
                CloseHandle(process);
            }
        }
        CloseHandle(snapshot);
    }
    bool ok = false;
    std::vector<uint8_t> bytes = officesim::ReadWholeFile(addInFolder + L"Dravenport.log", &ok);
    return ok ? std::string(bytes.begin(), bytes.end()) : std::string();
}

// A test name from a case's description: its letters and digits, each word capitalised.
std::string CaseName(const char* what) {
    std::string name;
    bool upper = true;
    for (const char* p = what; *p; ++p) {
        if (*p == '\'') continue;  // "Excel's" is one word
        if (isalnum(static_cast<unsigned char>(*p))) {
            name += upper ? static_cast<char>(toupper(static_cast<unsigned char>(*p))) : *p;
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

class HandOff : public testing::Test {
public:
    static void SetUpTestSuite() {
        // Once per program, before anything is recycled: Wine reads it when it first trashes.
        static bool once = [] {
            RemoveTree(RunsFolder());
            CreateDirectoryW(RunsFolder().c_str(), nullptr);
            CreateDirectoryW(DataHome().c_str(), nullptr);
            const std::string unix = UnixPath(DataHome());
            SetEnvironmentVariableW(L"XDG_DATA_HOME", std::wstring(unix.begin(), unix.end()).c_str());
            return true;
        }();
        (void)once;
    }

    void SetUp() override {
        ASSERT_FALSE(UnixPath(DataHome()).empty()) << "these tests run under Wine";
        static int serial = 0;
        folder = RunsFolder() + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
        addInFolder = folder + L"\\add-in\\";
        source = folder + L"\\source";
        sourceFile = source + L"\\" + kSourceName;
        ASSERT_TRUE(vortelix::ForceDirectories(addInFolder.substr(0, addInFolder.size() - 1)));
        ASSERT_TRUE(CreateDirectoryW(source.c_str(), nullptr));
        for (const wchar_t* file : {L"VORTELIXExcel.dll", L"Dravenport.exe"})
            ASSERT_TRUE(CopyFileW((ProgramFolder() + file).c_str(), (addInFolder + file).c_str(), FALSE))
                << Narrow(file) << " is built next to the tests";
        ASSERT_TRUE(CopyFileW(FixturePath().c_str(), sourceFile.c_str(), FALSE)) << "fixture missing";
        // A Recycle Bin a failed test left unusable (its folder of files made a file) is mended.
        const std::wstring trashFiles = TrashFiles().substr(0, TrashFiles().size() - 1);
        if (DeleteFileW(trashFiles.c_str())) CreateDirectoryW(trashFiles.c_str(), nullptr);
        EmptyTree(TrashFiles());
        EmptyTree(TrashInfo());

        // The add-in's folder is the folder of the module that holds the add-in's COM server:
        // serve from the private copy of the DLL (mapped, not run; its resources are the same).
        addInDll = LoadLibraryExW((addInFolder + L"VORTELIXExcel.dll").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(nullptr, addInDll);
        ServeFrom(addInDll);
        ASSERT_EQ(addInFolder, vortelix::AddInFolder());

        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t value[4096] = {};
            DWORD n = GetEnvironmentVariableW(name, value, 4096);
            savedTemp.push_back({name, n ? std::optional<std::wstring>(value) : std::nullopt});
        }
        work = vortelix::WorkFolder();
        RemoveTree(work);
    }

    void TearDown() override {
        // An uploader started by this test finishes before anything is removed.
        WaitForUploader(addInFolder);
        Shutdown();
        app.Reset();
        if (rotCookie) RevokeActiveObject(rotCookie, nullptr);
        otherExcel.Reset();
        if (heldOpen && heldOpen != INVALID_HANDLE_VALUE) CloseHandle(heldOpen);
        EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow());
        if (!work.empty()) EmptyTree(work);
        for (const auto& [name, value] : savedTemp) SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
        ServeFrom(GetModuleHandleW(nullptr));
        if (addInDll) FreeLibrary(addInDll);
        RemoveTree(folder);
    }

    static void ServeFrom(HMODULE module) {
        qvr::TComServer::Destroy();
        vortelix::RegisterAddInFactory(qvr::TComServer::Create(module));
    }

    static std::wstring FixturePath() { return ProgramFolder() + L"order.xlsx"; }

    // Points the user's temporary folder somewhere else (for this process and what it starts).
    void UseTemp(const std::wstring& temp) {
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
        work = vortelix::WorkFolder();
    }

    void Start(bool startup = true) {
        ASSERT_EQ(S_OK, host.LoadFromFactory(&qvrtest::Factory()));
        ASSERT_EQ(S_OK, host.Connect(app.Get(), 1, nullptr));
        if (startup) {
            ASSERT_EQ(S_OK, host.StartupComplete());
        }
        running = true;
    }

    qvr::TqvrCOMAddInModule& Module() {
        return *qvrtest::AsAddin(host.AddIn())->COMAddInModule();
    }

    // Presses the button the way the ribbon's action callback does, then lets Excel shut down
    // when it was asked to quit (and the user did not cancel).
    void Press() {
        auto* button = dynamic_cast<qvr::TqvrRibbonCustomControl*>(Module().FindRibbonControl(kButtonId));
        ASSERT_NE(nullptr, button);
        qvr::TqvrRibbonActionArguments args;
        button->DoAction(args);
        excelConnectedAfterPress = Module().ExcelApp() && Module().ExcelApp()->Connected();
        if (app->QuitRequested()) Shutdown();
    }

    void Shutdown() {
        if (!running) return;
        running = false;
        EXPECT_EQ(S_OK, host.BeginShutdown());
        EXPECT_EQ(S_OK, host.Disconnect(0));
        host.ReleaseAddIn();
    }

    std::string Uploader() { return WaitForUploader(addInFolder); }

    // Whether a file went to the Recycle Bin: gone from its folder, in the trash with its content,
    // and with the record of where it came from that restoring it needs.
    void ExpectRecycled(const std::wstring& path, const std::string& content) {
        std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
        EXPECT_FALSE(Exists(path)) << Narrow(path) << " is still in its folder";
        EXPECT_TRUE(content == ReadText(TrashFiles() + name)) << Narrow(name) << " is not in the trash as it was";
        std::string info = ReadText(TrashInfo() + name + L".trashinfo");
        std::string folderOf = UnixPath(path.substr(0, path.find_last_of(L'\\')));
        EXPECT_NE(std::string::npos, info.find("Path=" + folderOf + "/")) << info;
    }
    void ExpectNotRecycled(const std::wstring& path) {
        std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
        EXPECT_TRUE(Exists(path)) << Narrow(path) << " was removed";
        EXPECT_FALSE(Exists(TrashFiles() + name)) << Narrow(name) << " went to the trash";
    }

    // The names left in the work folder tree (relative, folders end in "\").
    std::vector<std::wstring> WorkTree(const std::wstring& sub = L"", std::vector<std::wstring> found = {}) {
        WIN32_FIND_DATAW e;
        HANDLE f = FindFirstFileW((work + sub + L"\\*").c_str(), &e);
        if (f == INVALID_HANDLE_VALUE) return found;
        do {
            std::wstring name = e.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring relative = sub.substr(sub.empty() ? 0 : 1) + (sub.empty() ? L"" : L"\\") + name;
            if (e.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                found.push_back(relative + L"@");
            } else if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                found.push_back(relative + L"\\");
                found = WorkTree(sub + L"\\" + name, found);
            } else {
                found.push_back(relative);
            }
        } while (FindNextFileW(f, &e));
        FindClose(f);
        std::sort(found.begin(), found.end());
        return found;
    }

    ComPtr<ExcelApplicationSim> app = ExcelApplicationSim::Make<ExcelApplicationSim>();
    officesim::OfficeHost host;
    bool running = false;
    bool excelConnectedAfterPress = true;
    HMODULE addInDll = nullptr;
    HANDLE heldOpen = nullptr;                // a file another program holds open
    ComPtr<ExcelApplicationSim> otherExcel;  // a second Excel, registered as the running one
    DWORD rotCookie = 0;
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> savedTemp;
    std::wstring folder, addInFolder, work, source, sourceFile;
};

TEST_F(HandOff, HandsTheWorkbookAsItIsToTheUploader) {
    // A work folder left over from earlier runs, with awkward files and nested folders.
    ASSERT_TRUE(vortelix::ForceDirectories(work + L"\\old\\deeper"));
    WriteFile(work + L"\\hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN);
    WriteFile(work + L"\\system.dat", "s", FILE_ATTRIBUTE_SYSTEM);
    WriteFile(work + L"\\old\\readonly.txt", "r", FILE_ATTRIBUTE_READONLY);
    WriteFile(work + L"\\old\\deeper\\note.txt", "n");
    const std::string original = ReadText(sourceFile);

    Start();
    WorkbookSim* book = app->Open(sourceFile);
    ASSERT_NE(nullptr, book);
    book->Edit("D6", "Spoedlevering");  // not saved: lives in Excel only
    qvrtest::DialogRecorder dialogs;
    Press();

    EXPECT_TRUE(dialogs.dialogs.empty()) << (dialogs.dialogs.empty() ? "" : testing::PrintToString(dialogs.dialogs[0].text));
    // The work folder holds the fresh copy, and every folder, emptied.
    EXPECT_EQ((std::vector<std::wstring>{L"Order.xlsx", L"old\\", L"old\\deeper\\"}), WorkTree());
    bool ok = false;
    auto copy = officesim::XlsxPackage::Parse(officesim::ReadWholeFile(work + L"\\Order.xlsx", &ok));
    ASSERT_TRUE(copy.has_value());
    auto cells = copy->CellTexts();
    EXPECT_NE(cells.end(), std::find(cells.begin(), cells.end(), "Spoedlevering")) << "the unsaved edit is in the copy";
    EXPECT_NE(cells.end(), std::find(cells.begin(), cells.end(), "Bouten M8"));

    // Closed without saving, Excel quit once, the add-in let go of Excel.
    EXPECT_TRUE(book->Closed());
    EXPECT_FALSE(book->Saved());
    auto closes = app->CallsTo(xl::Close);
    ASSERT_EQ(1u, closes.size());
    const auto& close = *closes[0];
    ASSERT_EQ(3u, close.args.size());
    EXPECT_EQ(VT_BOOL, close.args[0].vt);
    EXPECT_EQ(VARIANT_FALSE, close.args[0].boolVal);
    for (int i : {1, 2}) {
        EXPECT_EQ(VT_ERROR, close.args[i].vt);
        EXPECT_EQ(DISP_E_PARAMNOTFOUND, close.args[i].scode);
    }
    EXPECT_EQ(GetUserDefaultLCID(), close.lcid);
    auto saves = app->CallsTo(xl::SaveCopyAs);
    ASSERT_EQ(1u, saves.size());
    ASSERT_EQ(VT_BSTR, saves[0]->args[0].vt);
    EXPECT_STREQ((work + L"\\Order.xlsx").c_str(), saves[0]->args[0].bstrVal);
    EXPECT_EQ(GetUserDefaultLCID(), saves[0]->lcid);
    EXPECT_EQ(GetUserDefaultLCID(), app->CallsTo(xl::FullName).at(0)->lcid);
    // Whether the source may go is asked of the same workbook, with the locale.
    for (DISPID id : {xl::ReadOnly, xl::FileFormat}) {
        ASSERT_EQ(1u, app->CallsTo(id).size()) << id;
        EXPECT_EQ(static_cast<WORD>(DISPATCH_PROPERTYGET), app->CallsTo(id)[0]->flags & DISPATCH_PROPERTYGET);
        EXPECT_EQ(GetUserDefaultLCID(), app->CallsTo(id)[0]->lcid);
    }
    EXPECT_EQ(1, app->quitCalls);
    EXPECT_FALSE(excelConnectedAfterPress) << "ExcelApp is disconnected after Quit";
    // The workbook was found afresh for each of the three steps.
    EXPECT_EQ(3u, app->CallsTo(xl::ActiveWindow).size());

    // The uploader ran and found the copy; the source file is in the Recycle Bin, as it was.
    std::string log = Uploader();
    EXPECT_NE(std::string::npos, log.find("started")) << log;
    EXPECT_NE(std::string::npos, log.find("found=yes")) << log;
    EXPECT_NE(std::string::npos, log.find("complete_before_start=yes")) << "the copy is saved before the uploader starts:\n"
                                                                        << log;
    EXPECT_NE(std::string::npos, log.find("Spoedlevering")) << log;
    EXPECT_NE(std::string::npos, log.find("arguments=\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("show=1\r\n")) << log;
    ExpectRecycled(sourceFile, original);
    EXPECT_FALSE(running) << "Excel shut the add-in down";
}

// Each failing Excel step ends the command there, with the error report, and nothing after it.
struct FailureCase {
    const char* what;
    std::function<void(officesim::ExcelFailures&)> inject;
    const wchar_t* message;  // part of the dialog text
    size_t saves, closes;
    int quits;
    bool copy;
};

class HandOffFailure : public HandOff, public testing::WithParamInterface<FailureCase> {};

TEST_P(HandOffFailure, EndsAtTheFailingStep) {
    const FailureCase& c = GetParam();
    Start();
    WorkbookSim* book = app->Open(sourceFile);
    ASSERT_NE(nullptr, book);
    c.inject(app->failures);
    qvrtest::DialogRecorder dialogs;
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    const std::wstring& text = dialogs.dialogs[0].text;
    EXPECT_EQ(0u, text.find(L"VORTELIX Excel error: the add-in has fired an exception.\r\n")) << testing::PrintToString(text);
    EXPECT_NE(std::wstring::npos, text.find(c.message)) << testing::PrintToString(text);
    EXPECT_EQ(c.saves, app->CallsTo(xl::SaveCopyAs).size());
    EXPECT_EQ(c.closes, app->CallsTo(xl::Close).size());
    EXPECT_EQ(c.quits, app->quitCalls);
    EXPECT_EQ(c.copy, Exists(work + L"\\Order.xlsx"));
    ExpectNotRecycled(sourceFile);
    EXPECT_EQ("", Uploader()) << "the uploader is not started";
    EXPECT_EQ(c.closes == 1 && !app->failures.close.Fails(), book->Closed());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, HandOffFailure,
    testing::Values(
        FailureCase{"no active window", [](officesim::ExcelFailures& f) { f.noActiveWindow = true; },
                    L"no active workbook window", 0, 0, 0, false},
        FailureCase{"no active workbook", [](officesim::ExcelFailures& f) { f.noActiveWorkbook = true; },
                    L"no active workbook", 0, 0, 0, false},
        FailureCase{"ActiveWindow fails", [](officesim::ExcelFailures& f) { f.activeWindow = E_ACCESSDENIED; }, L"", 0,
                    0, 0, false},
        FailureCase{"window's Application fails", [](officesim::ExcelFailures& f) { f.windowApplication = E_FAIL; },
                    L"", 0, 0, 0, false},
        FailureCase{"FullName fails", [](officesim::ExcelFailures& f) { f.fullName = E_OUTOFMEMORY; }, L"", 0, 0, 0,
                    false},
        FailureCase{"ReadOnly fails", [](officesim::ExcelFailures& f) { f.readOnly = E_FAIL; }, L"", 0, 0, 0, false},
        FailureCase{"FileFormat fails",
                    [](officesim::ExcelFailures& f) { f.fileFormat = {kExcelError, L"Bestandsindeling onbekend."}; },
                    L"Bestandsindeling onbekend.", 0, 0, 0, false},
        FailureCase{"SaveCopyAs fails", [](officesim::ExcelFailures& f) { f.saveCopyAs = STG_E_ACCESSDENIED; }, L"", 1,
                    0, 0, false},
        FailureCase{"Close fails", [](officesim::ExcelFailures& f) { f.close = E_ABORT; }, L"", 1, 1, 0, true},
        FailureCase{"Quit fails",
                    [](officesim::ExcelFailures& f) { f.quit = {RPC_E_CALL_REJECTED, L"Excel is bezig."}; },
                    L"Excel is bezig.\r\n(Microsoft Excel, error 80010001)", 1, 1, 0, true}),
    [](const testing::TestParamInfo<FailureCase>& info) { return CaseName(info.param.what); });

// ---- where a file may go to the Recycle Bin ----

// The shell deletes for good what it is asked to recycle on a share, a mapped drive or a USB
// stick: only a file on a local fixed drive is handed to it.
TEST(RecycleBin, IsThereOnlyForFilesOnLocalFixedDrives) {
    struct Case {
        std::wstring path;
        bool recycleBin;
    };
    const Case cases[] = {
        {L"\\\\server\\orders\\Bestelling.xlsx", false},
        {L"\\\\?\\UNC\\server\\orders\\Bestelling.xlsx", false},
        {L"N:\\Bestelling.xlsx", false},
        {L"R:\\Bestelling.xlsx", false},
        {ProgramFolder() + L"order.xlsx", true},
        {L"\\\\?\\" + ProgramFolder() + L"order.xlsx", true},
    };
    for (const Case& c : cases) EXPECT_EQ(c.recycleBin, vortelix::HasRecycleBin(c.path)) << Narrow(c.path);
    EXPECT_EQ(vortelix::TRecycled::NoRecycleBin, vortelix::MoveToRecycleBin(L"\\\\server\\orders\\Bestelling.xlsx"));
}

// ---- an uploader still open from an earlier hand-off ----

// The uploader of an earlier hand-off may still be open (waiting for a log-in, or for the clerk to
// check the order) and working on Order.xlsx: the next press must not replace that file. Only the
// add-in's own uploader counts; a program of the same name elsewhere does not stop the hand-off.
class HandOffUploaderOpen : public HandOff, public testing::WithParamInterface<bool> {};

TEST_P(HandOffUploaderOpen, KeepsTheNextOrderBackWhileTheAddInsUploaderRuns) {
    const bool ours = GetParam();
    std::wstring program = addInFolder + L"Dravenport.exe";
    if (!ours) {
        ASSERT_TRUE(CreateDirectoryW((folder + L"\\elsewhere").c_str(), nullptr));
        program = folder + L"\\elsewhere\\Dravenport.exe";
        ASSERT_TRUE(CopyFileW((addInFolder + L"Dravenport.exe").c_str(), program.c_str(), FALSE));
    }
    qvr::unique_handle go(CreateEventW(nullptr, TRUE, FALSE, L"VortelixDravenportStandInGo"));
    ASSERT_TRUE(go);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::wstring commandLine = L"\"" + program + L"\" --stay";
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &started));
    qvr::unique_handle process(started.hProcess), thread(started.hThread);
    // The order that uploader is sending.
    ASSERT_TRUE(vortelix::ForceDirectories(work));
    WriteFile(work + L"\\Order.xlsx", "the order being sent");

    Start();
    WorkbookSim* book = app->Open(sourceFile);
    ASSERT_NE(nullptr, book);
    book->Edit("D6", "Spoedlevering");
    const std::string original = ReadText(sourceFile);
    qvrtest::DialogRecorder recorder;
    Press();
    SetEvent(go.get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 30000));

    if (ours) {
        ASSERT_EQ(1u, recorder.dialogs.size());
        EXPECT_EQ(qvr::FormatText(qvr::Text(vortelix::kTextUploaderStillRunning), {program}), recorder.dialogs[0].text);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), recorder.dialogs[0].style & MB_ICONMASK);
        EXPECT_FALSE(book->Closed());
        EXPECT_EQ(0, app->quitCalls);
        EXPECT_EQ("the order being sent", ReadText(work + L"\\Order.xlsx")) << "the order being sent is untouched";
        EXPECT_FALSE(Exists(TrashFiles() + L"Order.xlsx"));
        EXPECT_EQ("", Uploader()) << "no second uploader";
        ExpectNotRecycled(sourceFile);
    } else {
        EXPECT_TRUE(book->Closed());
        EXPECT_NE(std::string::npos, Uploader().find("Spoedlevering"));
        EXPECT_EQ("the order being sent", ReadText(TrashFiles() + L"Order.xlsx")) << "the leftover went as ever";
        ExpectRecycled(sourceFile, original);
    }
}

INSTANTIATE_TEST_SUITE_P(Uploader, HandOffUploaderOpen, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "TheAddInsOwn" : "ASameNamedProgramElsewhere");
                         });

// ---- the paths on which the user's work was at risk: one table ----

enum class Source { Kept, Recycled };

class HandOffSafety;

struct SafetyCase {
    const char* what;
    // Prepares files, the temporary folder and Excel before the workbook at sourceFile is opened.
    std::function<void(HandOffSafety&)> arrange;
    // The one dialog's text must contain this; nullptr: no dialog at all.
    const wchar_t* dialog;
    bool closed;    // the workbook closed and Excel asked to quit
    bool uploaded;  // the uploader started and found the copy with the unsaved edit
    Source source;
    // What else the case must show; may press again.
    std::function<void(HandOffSafety&)> verify;
    UINT icon = MB_ICONERROR;  // the dialog's icon
};

// Answers "No" to every question a window of the system asks in this process (the shell's "delete
// for good?"), until it goes, and keeps the captions it saw. The add-in's own dialogs go through
// the dialog service and are never windows here.
class ShellQuestionAnswerer {
public:
    ShellQuestionAnswerer() : thread_([this] { Run(); }) {}
    ~ShellQuestionAnswerer() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> Seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    // A window procedure's calling convention: a lambda would not convert to it on i686.
    static BOOL CALLBACK Answer(HWND window, LPARAM self) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t cls[16] = {};
        GetClassNameW(window, cls, 16);
        if (process == GetCurrentProcessId() && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window)) {
            wchar_t caption[256] = {};
            GetWindowTextW(window, caption, 256);
            auto* answerer = reinterpret_cast<ShellQuestionAnswerer*>(self);
            {
                std::lock_guard<std::mutex> lock(answerer->mutex_);
                answerer->seen_.push_back(caption);
            }
            PostMessageW(window, WM_COMMAND, IDNO, 0);
        }
        return TRUE;
    }
    void Run() {
        while (!stop_) {
            EnumWindows(Answer, reinterpret_cast<LPARAM>(this));
            Sleep(50);
        }
    }
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::wstring> seen_;
    std::thread thread_;
};

class HandOffSafety : public HandOff, public testing::WithParamInterface<SafetyCase> {
public:
    std::unique_ptr<ShellQuestionAnswerer> answerer;
    void TearDown() override {
        answerer.reset();
        HandOff::TearDown();
    }
    // The workbook's file goes to another drive before it is opened.
    void MoveSourceTo(const wchar_t* drive) {
        const std::wstring moved = OnDrive(drive);
        ASSERT_TRUE(CopyFileW(sourceFile.c_str(), moved.c_str(), FALSE)) << GetLastError();
        ASSERT_TRUE(DeleteFileW(sourceFile.c_str()));
        sourceFile = moved;
    }
    WorkbookSim* book = nullptr;
    bool openReadOnly = false;
    std::vector<qvr::DialogRequest> dialogs;
    size_t excelCallsBefore = 0;
    std::string original;
};

TEST_P(HandOffSafety, KeepsTheUsersWork) {
    const SafetyCase& c = GetParam();
    Start();
    c.arrange(*this);
    if (HasFatalFailure() || IsSkipped()) return;
    book = app->Open(sourceFile);
    ASSERT_NE(nullptr, book);
    if (openReadOnly) book->SetReadOnly(true);
    book->Edit("D6", "Spoedlevering");
    original = ReadText(sourceFile);
    excelCallsBefore = app->Calls().size();
    {
        qvrtest::DialogRecorder recorder;
        Press();
        dialogs = recorder.dialogs;
    }
    if (c.dialog) {
        ASSERT_EQ(1u, dialogs.size());
        EXPECT_NE(std::wstring::npos, dialogs[0].text.find(c.dialog)) << Narrow(dialogs[0].text);
        EXPECT_EQ(c.icon, dialogs[0].style & MB_ICONMASK);
    } else {
        EXPECT_TRUE(dialogs.empty()) << Narrow(dialogs[0].text);
    }
    EXPECT_EQ(c.closed, book->Closed());
    EXPECT_EQ(c.closed ? 1 : 0, app->quitCalls);
    std::string log = Uploader();
    if (c.uploaded) {
        EXPECT_NE(std::string::npos, log.find("found=yes")) << log;
        EXPECT_NE(std::string::npos, log.find("complete_before_start=yes")) << log;
        EXPECT_NE(std::string::npos, log.find("Spoedlevering")) << log;
    } else {
        EXPECT_EQ("", log) << "the uploader is not started";
    }
    if (c.source == Source::Kept)
        ExpectNotRecycled(sourceFile);
    else
        ExpectRecycled(sourceFile, original);
    if (c.verify) c.verify(*this);
}

// A workbook of another format: the stand-in opens our package under that name as Excel opens
// any workbook, and answers FileFormat by the extension.
std::function<void(HandOffSafety&)> SavedAs(const wchar_t* extension, LONG format) {
    return [extension, format](HandOffSafety& t) {
        std::wstring renamed = t.source + L"\\Bestelling 2026-12" + extension;
        ASSERT_TRUE(MoveFileW(t.sourceFile.c_str(), renamed.c_str()));
        ASSERT_EQ(format, officesim::xlformat::ForName(renamed));
        t.sourceFile = renamed;
    };
}

// Wine shows a Unix symbolic link made inside the prefix as a directory reparse point.
void ExpectLink(const std::wstring& path) {
    ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY), Attributes(path))
        << Narrow(path) << " is not the link make_links.sh makes";
}

// The files behind a link, which nothing may touch.
const std::vector<std::pair<std::wstring, std::string>> kOutsideFiles = {
    {L"precious.txt", "keep me"}, {L"Order.xlsx", "someone else's order"}, {L"sub\\deep.txt", "deep"}};

void PlaceOutsideFiles(const std::wstring& target) {
    EmptyTree(target);
    CreateDirectoryW((target + L"\\sub").c_str(), nullptr);
    for (const auto& [name, text] : kOutsideFiles) WriteFile(target + L"\\" + name, text);
}

void ExpectOutsideFilesUntouched(const std::wstring& target) {
    for (const auto& [name, text] : kOutsideFiles) EXPECT_EQ(text, ReadText(target + L"\\" + name)) << Narrow(name);
}

void ExpectExcelUntouched(HandOffSafety& t) {
    EXPECT_EQ(t.excelCallsBefore, t.app->Calls().size()) << "Excel is not touched";
}

const SafetyCase kSafetyCases[] = {
    {"a work folder that is a link",
     [](HandOffSafety& t) {
         t.UseTemp(LinksFolder() + L"\\temp-linked");
         ExpectLink(t.work);
         PlaceOutsideFiles(LinksFolder() + L"\\outside");
     },
     L"Error creating work directory.", false, false, Source::Kept,
     [](HandOffSafety& t) {
         EXPECT_EQ(L"Error creating work directory.", t.dialogs.at(0).text);
         ExpectOutsideFilesUntouched(LinksFolder() + L"\\outside");
         EXPECT_FALSE(Exists(TrashFiles() + L"Order.xlsx")) << "nothing behind the link is recycled";
         ExpectExcelUntouched(t);
     }},
    {"a work folder that is a file", [](HandOffSafety& t) { WriteFile(t.work, "in the way"); },
     L"Error creating work directory.", false, false, Source::Kept,
     [](HandOffSafety& t) {
         EXPECT_EQ(L"Error creating work directory.", t.dialogs.at(0).text);
         EXPECT_EQ(static_cast<UINT>(MB_OK), t.dialogs.at(0).style & MB_TYPEMASK);
         EXPECT_EQ("in the way", ReadText(t.work));
         ExpectExcelUntouched(t);
         DeleteFileW(t.work.c_str());
     }},
    {"no usable temporary folder",
     [](HandOffSafety& t) {
         // Longer than any temporary folder may be: GetTempPathW fails.
         t.UseTemp(L"C:\\" + std::wstring(300, L't'));
         ASSERT_EQ(L"", t.work);
     },
     L"Error creating work directory.", false, false, Source::Kept,
     [](HandOffSafety& t) {
         EXPECT_EQ(L"Error creating work directory.", t.dialogs.at(0).text);
         wchar_t cwd[MAX_PATH] = {};
         GetCurrentDirectoryW(MAX_PATH, cwd);
         EXPECT_FALSE(Exists(std::wstring(cwd) + L"\\VortelixExcel")) << "no work folder in Excel's current folder";
         ExpectExcelUntouched(t);
     }},
    {"a link inside the work folder",
     [](HandOffSafety& t) {
         t.UseTemp(LinksFolder() + L"\\temp-inner");
         ExpectLink(t.work + L"\\link");
         PlaceOutsideFiles(LinksFolder() + L"\\outside-inner");
         WriteFile(t.work + L"\\old.tmp", "old");
     },
     nullptr, true, true, Source::Recycled,
     [](HandOffSafety& t) {
         ExpectOutsideFilesUntouched(LinksFolder() + L"\\outside-inner");
         EXPECT_EQ((std::vector<std::wstring>{L"Order.xlsx", L"link@"}), t.WorkTree());
     }},
    {"a work folder another user made (a shared temporary folder)",
     [](HandOffSafety& t) {
         if (Exists(LinksFolder() + L"\\no-foreign-owner")) GTEST_SKIP() << "no folder of another user here";
         t.UseTemp(LinksFolder() + L"\\temp-foreign");
     },
     L"Error creating work directory.", false, false, Source::Kept,
     [](HandOffSafety& t) {
         EXPECT_EQ(L"Error creating work directory.", t.dialogs.at(0).text);
         EXPECT_EQ("theirs\n", ReadText(t.work + L"\\theirs.txt")) << "another user's file stays";
         EXPECT_FALSE(Exists(t.work + L"\\Order.xlsx")) << "no order left in another user's folder";
         ExpectExcelUntouched(t);
     }},
    {"another user's folder inside the work folder",
     [](HandOffSafety& t) {
         if (Exists(LinksFolder() + L"\\no-foreign-owner")) GTEST_SKIP() << "no folder of another user here";
         t.UseTemp(LinksFolder() + L"\\temp-foreign-inner");
         WriteFile(t.work + L"\\old.tmp", "old");
     },
     nullptr, true, true, Source::Recycled,
     [](HandOffSafety& t) {
         EXPECT_EQ("theirs\n", ReadText(t.work + L"\\theirs\\theirs.txt")) << "another user's file stays";
         EXPECT_FALSE(Exists(t.work + L"\\old.tmp")) << "the add-in's own leftovers go";
     }},
    {"a workbook opened read-only", [](HandOffSafety& t) { t.openReadOnly = true; }, nullptr, true, true,
     Source::Kept, nullptr},
    {"a workbook file with the read-only attribute",
     [](HandOffSafety& t) { SetFileAttributesW(t.sourceFile.c_str(), FILE_ATTRIBUTE_READONLY); }, nullptr, true,
     true, Source::Kept, [](HandOffSafety& t) { EXPECT_TRUE(t.book->ReadOnly()); }},
    {"a macro workbook (.xlsm)", SavedAs(L".xlsm", officesim::xlformat::MacroWorkbook), nullptr, true, true,
     Source::Kept, nullptr},
    {"an Excel 97-2003 workbook (.xls)", SavedAs(L".xls", officesim::xlformat::Excel8), nullptr, true, true,
     Source::Kept, nullptr},
    {"a binary workbook (.xlsb)", SavedAs(L".xlsb", officesim::xlformat::BinaryWorkbook), nullptr, true, true,
     Source::Kept, nullptr},
    {"an .xlsx workbook", [](HandOffSafety&) {}, nullptr, true, true, Source::Recycled, nullptr},
    {"an order that was never sent",
     [](HandOffSafety& t) {
         ASSERT_TRUE(vortelix::ForceDirectories(t.work + L"\\sub"));
         WriteFile(t.work + L"\\Order.xlsx", "the unsent order", FILE_ATTRIBUTE_READONLY);
         WriteFile(t.work + L"\\other.tmp", "other");
         WriteFile(t.work + L"\\sub\\Order.xlsx", "not the copy");
     },
     L"An order from an earlier hand-off that was never sent was moved to the Recycle Bin", true, true,
     Source::Recycled,
     [](HandOffSafety& t) {
         // Only the copy the uploader missed is recycled, and the clerk is told where it went;
         // the rest is purged as ever.
         EXPECT_EQ("the unsent order", ReadText(TrashFiles() + L"Order.xlsx"));
         EXPECT_NE(std::wstring::npos, t.dialogs.at(0).text.find(t.work + L"\\Order.xlsx"));
         EXPECT_EQ((std::vector<std::wstring>{L"Order.xlsx", L"sub\\"}), t.WorkTree());
         EXPECT_NE(std::string::npos, ReadText(t.work + L"\\Order.xlsx").find("Spoedlevering")) << "the fresh copy";
     },
     MB_ICONINFORMATION},
    {"the Recycle Bin unavailable",
     [](HandOffSafety& t) {
         // Its folder of files is a file: the shell can recycle nothing. It must not delete the
         // workbook for good instead without asking, and the answer here is "no".
         ASSERT_TRUE(vortelix::ForceDirectories(DataHome() + L"\\Trash"));
         EmptyTree(TrashFiles());
         RemoveDirectoryW(TrashFiles().c_str());
         WriteFile(TrashFiles().substr(0, TrashFiles().size() - 1), "no Recycle Bin here");
         t.answerer = std::make_unique<ShellQuestionAnswerer>();
     },
     nullptr, true, true, Source::Kept,
     [](HandOffSafety& t) {
         t.answerer.reset();
         DeleteFileW(TrashFiles().substr(0, TrashFiles().size() - 1).c_str());
         CreateDirectoryW(TrashFiles().c_str(), nullptr);
     }},
    {"a workbook on a network drive", [](HandOffSafety& t) { t.MoveSourceTo(L"N:"); }, nullptr, true, true,
     Source::Kept, nullptr},
    {"a workbook on a USB stick", [](HandOffSafety& t) { t.MoveSourceTo(L"R:"); }, nullptr, true, true, Source::Kept,
     nullptr},
    {"an order that was never sent and cannot be moved",
     [](HandOffSafety& t) {
         ASSERT_TRUE(vortelix::ForceDirectories(t.work));
         WriteFile(t.work + L"\\Order.xlsx", "the unsent order");
         WriteFile(t.work + L"\\other.tmp", "other");
         // Held open by a program that lets nobody move or delete it. Where the shell then offers
         // to delete it for good instead, the answer is "no".
         t.heldOpen = CreateFileW((t.work + L"\\Order.xlsx").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
         ASSERT_NE(INVALID_HANDLE_VALUE, t.heldOpen);
         t.answerer = std::make_unique<ShellQuestionAnswerer>();
     },
     L"could not be moved to the Recycle Bin. It was kept; nothing else was done.", false, false, Source::Kept,
     [](HandOffSafety& t) {
         t.answerer.reset();
         EXPECT_NE(std::wstring::npos, t.dialogs.at(0).text.find(t.work + L"\\Order.xlsx"));
         EXPECT_EQ("the unsent order", ReadText(t.work + L"\\Order.xlsx"));
         EXPECT_EQ("other", ReadText(t.work + L"\\other.tmp")) << "nothing else was done";
         ExpectExcelUntouched(t);
     }},
    {"SaveCopyAs failing with Excel's explanation",
     [](HandOffSafety& t) {
         t.app->failures.saveCopyAs = {kExcelError, L"Kan Order.xlsx niet opslaan: de schijf is vol."};
     },
     L"Kan Order.xlsx niet opslaan: de schijf is vol.\r\n(Microsoft Excel, error 800A03EC)", false, false,
     Source::Kept,
     [](HandOffSafety& t) {
         EXPECT_EQ(0u, t.dialogs.at(0).text.find(L"VORTELIX Excel error: the add-in has fired an exception.\r\n"));
         EXPECT_TRUE(t.excelConnectedAfterPress) << "Excel was not let go";
     }},
    {"an uploader that cannot start after Excel was told to quit",
     [](HandOffSafety& t) { WriteFile(t.addInFolder + L"Dravenport.exe", "this is no program"); },
     L"could not be started", true, false, Source::Kept,
     [](HandOffSafety& t) {
         // The workbook is closed and Excel is going: the user learns where the edits are.
         const std::wstring& text = t.dialogs.at(0).text;
         EXPECT_NE(std::wstring::npos, text.find(t.addInFolder + L"Dravenport.exe")) << Narrow(text);
         EXPECT_NE(std::wstring::npos, text.find(L"saved in " + t.work + L"\\Order.xlsx")) << Narrow(text);
         EXPECT_NE(std::wstring::npos, text.find(L"The original file " + t.sourceFile + L" was kept.")) << Narrow(text);
         EXPECT_NE(std::string::npos, ReadText(t.work + L"\\Order.xlsx").find("Spoedlevering"));
     }},
    {"a quit the user cancels, then another press",
     [](HandOffSafety& t) {
         // Another Excel runs and is the one the running-object table names.
         t.otherExcel = ExcelApplicationSim::Make<ExcelApplicationSim>();
         ASSERT_EQ(S_OK, RegisterActiveObject(static_cast<IDispatch*>(t.otherExcel.Get()),
                                              qvr::office::CLSID_ExcelApplication, ACTIVEOBJECT_STRONG, &t.rotCookie));
         t.app->cancelQuits = 1;
     },
     nullptr, true, true, Source::Recycled,
     [](HandOffSafety& t) {
         EXPECT_TRUE(t.running) << "Excel keeps running with the add-in loaded";
         EXPECT_FALSE(t.excelConnectedAfterPress);
         DeleteFileW((t.addInFolder + L"Dravenport.log").c_str());
         // The uploader took the first order: the second press finds no leftover to report.
         DeleteFileW((t.work + L"\\Order.xlsx").c_str());

         std::wstring next = t.source + L"\\Bestelling 2027-01.xlsx";
         ASSERT_TRUE(CopyFileW(HandOff::FixturePath().c_str(), next.c_str(), FALSE));
         const std::string nextOriginal = ReadText(next);
         WorkbookSim* book = t.app->Open(next);
         ASSERT_NE(nullptr, book);
         book->Edit("D6", "Tweede bestelling");
         qvrtest::DialogRecorder dialogs;
         t.Press();
         EXPECT_TRUE(dialogs.dialogs.empty()) << Narrow(dialogs.dialogs[0].text);
         // The Excel that loaded the add-in did the work; the other one was never called.
         EXPECT_TRUE(book->Closed());
         EXPECT_EQ(2, t.app->quitCalls);
         EXPECT_EQ(6u, t.app->CallsTo(xl::ActiveWindow).size());
         EXPECT_TRUE(t.otherExcel->Calls().empty()) << t.otherExcel->Calls().size() << " calls into another Excel";
         EXPECT_NE(std::string::npos, t.Uploader().find("Tweede bestelling"));
         t.ExpectRecycled(next, nextOriginal);
         EXPECT_FALSE(t.running) << "this time Excel shut the add-in down";
     }},
};

INSTANTIATE_TEST_SUITE_P(Paths, HandOffSafety, testing::ValuesIn(kSafetyCases),
                         [](const testing::TestParamInfo<SafetyCase>& info) { return CaseName(info.param.what); });

// ---- more of the command ----

TEST_F(HandOff, PressedBeforeExcelIsBoundReportsAndDoesNothing) {
    Start(false);
    app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_NE(std::wstring::npos, dialogs.dialogs[0].text.find(L"not connected to Excel"));
    EXPECT_TRUE(app->Calls().empty() || app->CallsTo(xl::SaveCopyAs).empty());
    EXPECT_EQ(0, app->quitCalls);
    ExpectNotRecycled(sourceFile);
}

TEST_F(HandOff, AMissingUploaderKeepsTheWorkbookOpenAndExcelRunning) {
    ASSERT_TRUE(DeleteFileW((addInFolder + L"Dravenport.exe").c_str()));
    Start();
    WorkbookSim* book = app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_NE(std::wstring::npos, dialogs.dialogs[0].text.find(addInFolder + L"Dravenport.exe"))
        << "the dialog names the program";
    EXPECT_FALSE(book->Closed());
    EXPECT_EQ(0, app->quitCalls);
    EXPECT_TRUE(app->CallsTo(xl::SaveCopyAs).empty());
    ExpectNotRecycled(sourceFile);
}

TEST_F(HandOff, ANeverSavedWorkbookIsCopiedAndNothingElseIsDeleted) {
    // A file in the current folder with the workbook's bare title must survive.
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring bystander = std::wstring(cwd) + L"\\Map1";
    WriteFile(bystander, "someone else's");
    Start();
    app->NewUntitled(L"Map1")->Edit("A1", "nieuw");
    qvrtest::DialogRecorder dialogs;
    Press();
    EXPECT_TRUE(dialogs.dialogs.empty());
    EXPECT_TRUE(Exists(work + L"\\Order.xlsx"));
    EXPECT_EQ(1, app->quitCalls);
    EXPECT_NE(std::string::npos, Uploader().find("nieuw"));
    ExpectNotRecycled(bystander);
    DeleteFileW(bystander.c_str());
}

TEST_F(HandOff, AFileInUseInTheWorkFolderStaysAndTheRestGoes) {
    ASSERT_TRUE(vortelix::ForceDirectories(work));
    WriteFile(work + L"\\busy.tmp", "open elsewhere");
    WriteFile(work + L"\\free.tmp", "free");
    HANDLE busy = CreateFileW((work + L"\\busy.tmp").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    vortelix::ClearFolderTree(work);
    CloseHandle(busy);
    EXPECT_EQ((std::vector<std::wstring>{L"busy.tmp"}), WorkTree());
}

// ---- what the user reads and what the administrator keeps ----

struct LanguageCase {
    const char* what;
    LANGID officeLanguage;
    bool bound;  // false: pressed before start-up (the uploader there), so the error report speaks
    std::wstring caption;
    std::wstring text;  // %1: the uploader's path
};

class HandOffLanguage : public HandOff, public testing::WithParamInterface<LanguageCase> {
protected:
    void TearDown() override {
        HandOff::TearDown();
        qvr::SetTextLanguage(0);
    }
};

TEST_P(HandOffLanguage, TheUserReadsOfficesLanguage) {
    const LanguageCase& c = GetParam();
    if (c.bound) {
        ASSERT_TRUE(DeleteFileW((addInFolder + L"Dravenport.exe").c_str()));
    }
    app->uiLanguage = c.officeLanguage;
    Start(c.bound);
    app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    std::wstring expected = c.text;
    if (size_t at = expected.find(L"%1"); at != std::wstring::npos) expected.replace(at, 2, addInFolder + L"Dravenport.exe");
    EXPECT_EQ(c.caption, dialogs.dialogs[0].caption);
    EXPECT_EQ(expected, dialogs.dialogs[0].text);
}

const LanguageCase kLanguageCases[] = {
    {"English Office", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), true, L"Error",
     L"The order upload program %1 was not found."},
    {"Dutch Office", MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH), true, L"Fout",
     L"Het uploadprogramma voor bestellingen %1 is niet gevonden."},
    {"Flemish Office", MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH_BELGIAN), true, L"Fout",
     L"Het uploadprogramma voor bestellingen %1 is niet gevonden."},
    {"German Office, no German texts", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), true, L"Error",
     L"The order upload program %1 was not found."},
    {"Dutch Office, error report", MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH), false, L"Fout",
     L"Fout in VORTELIX Excel: de invoegtoepassing heeft een fout gemeld.\r\n"
     L"De invoegtoepassing is niet met Excel verbonden."},
};

INSTANTIATE_TEST_SUITE_P(Languages, HandOffLanguage, testing::ValuesIn(kLanguageCases),
                         [](const testing::TestParamInfo<LanguageCase>& info) { return CaseName(info.param.what); });

class HandOffRecord : public HandOff {
protected:
    void SetUp() override {
        HandOff::SetUp();
        qvr::SetTraceFolderForTesting(folder + L"\\Logs");
        previousSink = qvr::SetEventSink([this](const qvr::EventRecord& r) { events.push_back(r); });
    }
    void TearDown() override {
        qvr::SetEventSink(previousSink);
        qvr::SetTraceFolderForTesting({});
        HandOff::TearDown();
    }
    std::vector<qvr::EventRecord> EventsWithId(DWORD id) const {
        std::vector<qvr::EventRecord> found;
        for (const auto& e : events)
            if (e.id == id) found.push_back(e);
        return found;
    }
    std::vector<qvr::EventRecord> events;
    qvr::EventSink previousSink;
};

TEST_F(HandOffRecord, EachHandOffIsOneEventWithWhatHappenedToTheOriginal) {
    struct Case {
        const char* what;
        bool readOnly;
        const wchar_t* drive;  // where the workbook is, when not in the test's own folder
        std::wstring original;
    };
    const Case cases[] = {{"recycled", false, nullptr, L"moved to the Recycle Bin"},
                          {"read-only", true, nullptr, L"kept: the workbook was opened read-only"},
                          {"on a network drive", false, L"N:", L"kept: its drive has no Recycle Bin"},
                          {"on a USB stick", false, L"R:", L"kept: its drive has no Recycle Bin"}};
    const std::wstring ownSource = sourceFile;
    for (const Case& c : cases) {
        events.clear();
        // The uploader took the previous order: no leftover is recycled (and reported) here.
        DeleteFileW((work + L"\\Order.xlsx").c_str());
        sourceFile = c.drive ? OnDrive(c.drive) : ownSource;
        if (HasFatalFailure()) return;
        ASSERT_TRUE(CopyFileW(FixturePath().c_str(), sourceFile.c_str(), FALSE)) << c.what;
        Start();
        WorkbookSim* book = app->Open(sourceFile);
        ASSERT_NE(nullptr, book) << c.what;
        book->SetReadOnly(c.readOnly);
        qvrtest::DialogRecorder dialogs;
        Press();
        Uploader();
        EXPECT_TRUE(dialogs.dialogs.empty()) << c.what;
        const auto handOffs = EventsWithId(qvr::kEventHandOff);
        ASSERT_EQ(1u, handOffs.size()) << c.what;
        EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, handOffs[0].type);
        EXPECT_EQ((std::vector<std::wstring>{sourceFile, work + L"\\Order.xlsx", addInFolder + L"Dravenport.exe started",
                                             c.original}),
                  handOffs[0].strings)
            << c.what;
        if (c.drive) {
            EXPECT_TRUE(Exists(sourceFile)) << c.what << ": the workbook stays where it is";
            DeleteFileW(sourceFile.c_str());
        }
        app = ExcelApplicationSim::Make<ExcelApplicationSim>();
    }
    EXPECT_TRUE(EventsWithId(qvr::kEventErrorShown).empty());
}

TEST_F(HandOffRecord, AnErrorTheUserSawIsAnEventAndATraceLine) {
    ASSERT_TRUE(DeleteFileW((addInFolder + L"Dravenport.exe").c_str()));
    Start();
    app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    const auto shown = EventsWithId(qvr::kEventErrorShown);
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, shown[0].type);
    EXPECT_EQ((std::vector<std::wstring>{L"hand-off", dialogs.dialogs[0].text}), shown[0].strings);
    EXPECT_TRUE(EventsWithId(qvr::kEventHandOff).empty()) << "nothing was handed off";
    const std::string trace = ReadText(qvr::TraceFilePath());
    EXPECT_NE(std::string::npos, trace.find(" ERROR hand-off The order upload program ")) << trace;
}

}  // namespace
