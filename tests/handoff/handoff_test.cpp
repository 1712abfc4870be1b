// The order hand-off as Excel runs it: the add-in started in an Excel stand-in with a real
// workbook file open, the button pressed, and Office's shut-down after Excel was asked to quit.
#include "addin/addin_module.h"
#include "addin/handoff_files.h"
#include "excel_sim.h"
#include "module/excel_app.h"
#include "office_host.h"
#include "ribbon/ribbon.h"
#include "server/addin.h"
#include "support/recording_module.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using officesim::ExcelApplicationSim;
using officesim::WorkbookSim;
namespace xl = officesim::xl;

namespace {

const wchar_t kButtonId[] = L"qvrRibbonButtonA92C6E14F83B47D0B5E1094D7C26E8F3";

using qvrtest::ProgramFolder;

using qvrtest::Exists;

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW e;
    HANDLE f = FindFirstFileW((folder + L"\\*").c_str(), &e);
    if (f != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = e.cFileName, path = folder + L"\\" + name;
            if (name == L"." || name == L"..") continue;
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

void WriteFile(const std::wstring& path, const std::string& text, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    ASSERT_TRUE(officesim::WriteWholeFile(path, std::vector<uint8_t>(text.begin(), text.end()))) << "cannot write";
    SetFileAttributesW(path.c_str(), attributes);
}

// What the uploader stand-in wrote when it ran; empty when it did not run within the wait.
std::string UploaderLog(DWORD waitMs = 15000) {
    std::wstring log = ProgramFolder() + L"Dravenport.log";
    for (DWORD waited = 0; waited <= waitMs; waited += 100) {
        bool ok = false;
        std::vector<uint8_t> bytes = officesim::ReadWholeFile(log, &ok);
        if (ok && !bytes.empty()) return std::string(bytes.begin(), bytes.end());
        Sleep(100);
    }
    return {};
}

class HandOff : public testing::Test {
protected:
    void SetUp() override {
        work = vortelix::WorkFolder();
        RemoveTree(work);
        source = ProgramFolder() + L"handoff-source";
        RemoveTree(source);
        CreateDirectoryW(source.c_str(), nullptr);
        sourceFile = source + L"\\Bestelling 2026-12.xlsx";
        ASSERT_TRUE(CopyFileW(FixturePath().c_str(), sourceFile.c_str(), FALSE)) << "fixture missing";
        DeleteFileW((ProgramFolder() + L"Dravenport.log").c_str());
        ASSERT_TRUE(Exists(ProgramFolder() + L"Dravenport.exe")) << "the uploader stand-in is built next to the tests";
    }

    void TearDown() override {
        // An uploader started by this test finishes before the next test looks for its log.
        if (app && app->quitCalls > 0) UploaderLog();
        DeleteFileW((ProgramFolder() + L"Dravenport.log").c_str());
        Shutdown();
        app.Reset();
        EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow());
        RemoveTree(source);
        RemoveTree(work);
    }

    static std::wstring FixturePath() { return ProgramFolder() + L"order.xlsx"; }

    void Start(bool startup = true) {
        ASSERT_EQ(S_OK, host.LoadFromFactory(&qvrtest::Factory()));
        ASSERT_EQ(S_OK, host.Connect(app.Get(), 1, nullptr));
        if (startup) {
            ASSERT_EQ(S_OK, host.StartupComplete());
        }
        running = true;
    }

    qvr::TqvrCOMAddInModule& Module() {
        return *static_cast<qvr::TqvrAddin*>(host.AddIn())->COMAddInModule();
    }

    // Presses the button the way the ribbon's action callback does, then lets Excel shut down
    // when it was asked to quit.
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

    // The names left in the work folder tree (relative, folders end in "\").
    std::vector<std::wstring> WorkTree(const std::wstring& folder = L"", std::vector<std::wstring> found = {}) {
        WIN32_FIND_DATAW e;
        HANDLE f = FindFirstFileW((work + folder + L"\\*").c_str(), &e);
        if (f == INVALID_HANDLE_VALUE) return found;
        do {
            std::wstring name = e.cFileName;
            if (name == L"." || name == L"..") continue;
            if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                found.push_back(folder.substr(folder.empty() ? 0 : 1) + (folder.empty() ? L"" : L"\\") + name + L"\\");
                found = WorkTree(folder + L"\\" + name, found);
            } else {
                found.push_back(folder.substr(folder.empty() ? 0 : 1) + (folder.empty() ? L"" : L"\\") + name);
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
    std::wstring work, source, sourceFile;
};

TEST_F(HandOff, HandsTheWorkbookAsItIsToTheUploader) {
    // A work folder left over from earlier runs, with awkward files and nested folders.
    ASSERT_TRUE(vortelix::ForceDirectories(work + L"\\old\\deeper"));
    WriteFile(work + L"\\Order.xlsx", "stale");
    WriteFile(work + L"\\hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN);
    WriteFile(work + L"\\system.dat", "s", FILE_ATTRIBUTE_SYSTEM);
    WriteFile(work + L"\\old\\readonly.txt", "r", FILE_ATTRIBUTE_READONLY);
    WriteFile(work + L"\\old\\deeper\\note.txt", "n");

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
    EXPECT_EQ(1, app->quitCalls);
    EXPECT_FALSE(excelConnectedAfterPress) << "ExcelApp is disconnected after Quit";
    // The workbook was found afresh for each of the three steps.
    EXPECT_EQ(3u, app->CallsTo(xl::ActiveWindow).size());

    // The uploader ran and found the copy; the source file is gone.
    std::string log = UploaderLog();
    EXPECT_NE(std::string::npos, log.find("started")) << log;
    EXPECT_NE(std::string::npos, log.find("found=yes")) << log;
    EXPECT_NE(std::string::npos, log.find("Spoedlevering")) << log;
    EXPECT_NE(std::string::npos, log.find("arguments=\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("show=1\r\n")) << log;
    EXPECT_FALSE(Exists(sourceFile));
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
    EXPECT_TRUE(Exists(sourceFile)) << "the source is never deleted after a failure";
    EXPECT_TRUE(UploaderLog(300).empty()) << "the uploader is not started";
    EXPECT_EQ(c.closes == 1 && app->failures.close == S_OK, book->Closed());
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
        FailureCase{"SaveCopyAs fails", [](officesim::ExcelFailures& f) { f.saveCopyAs = STG_E_ACCESSDENIED; }, L"", 1,
                    0, 0, false},
        FailureCase{"Close fails", [](officesim::ExcelFailures& f) { f.close = E_ABORT; }, L"", 1, 1, 0, true},
        FailureCase{"Quit fails", [](officesim::ExcelFailures& f) { f.quit = RPC_E_CALL_REJECTED; }, L"", 1, 1, 0,
                    true}));

TEST_F(HandOff, PressedBeforeExcelIsBoundReportsAndDoesNothing) {
    Start(false);
    app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_NE(std::wstring::npos, dialogs.dialogs[0].text.find(L"not connected to Excel"));
    EXPECT_TRUE(app->Calls().empty() || app->CallsTo(xl::SaveCopyAs).empty());
    EXPECT_EQ(0, app->quitCalls);
    EXPECT_TRUE(Exists(sourceFile));
}

TEST_F(HandOff, AWorkFolderThatCannotBeMadeStopsBeforeAnything) {
    // A file where the work folder should be.
    DeleteFileW(work.c_str());
    WriteFile(work, "in the way");
    Start();
    WorkbookSim* book = app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    size_t callsBefore = app->Calls().size();
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"Error creating work directory.", dialogs.dialogs[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), dialogs.dialogs[0].style & MB_ICONMASK);
    EXPECT_EQ(static_cast<UINT>(MB_OK), dialogs.dialogs[0].style & MB_TYPEMASK);
    EXPECT_EQ(callsBefore, app->Calls().size()) << "Excel is not touched";
    EXPECT_FALSE(book->Closed());
    DeleteFileW(work.c_str());
}

TEST_F(HandOff, AMissingUploaderKeepsTheWorkbookOpenAndExcelRunning) {
    std::wstring uploader = ProgramFolder() + L"Dravenport.exe", aside = ProgramFolder() + L"Dravenport.exe.aside";
    ASSERT_TRUE(MoveFileExW(uploader.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING));
    struct Restore {
        std::wstring from, to;
        ~Restore() { MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING); }
    } restore{aside, uploader};
    Start();
    WorkbookSim* book = app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_NE(std::wstring::npos, dialogs.dialogs[0].text.find(L"Dravenport.exe")) << "the dialog names the program";
    EXPECT_FALSE(book->Closed());
    EXPECT_EQ(0, app->quitCalls);
    EXPECT_TRUE(app->CallsTo(xl::SaveCopyAs).empty());
    EXPECT_TRUE(Exists(sourceFile));
}

TEST_F(HandOff, AnUploaderThatCannotStartKeepsTheSourceFile) {
    std::wstring uploader = ProgramFolder() + L"Dravenport.exe", aside = ProgramFolder() + L"Dravenport.exe.aside";
    ASSERT_TRUE(MoveFileExW(uploader.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING));
    struct Restore {
        std::wstring from, to;
        ~Restore() {
            DeleteFileW(to.c_str());
            MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    } restore{aside, uploader};
    WriteFile(uploader, "this is no program");
    Start();
    app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    Press();
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_NE(std::wstring::npos, dialogs.dialogs[0].text.find(L"could not be started"));
    EXPECT_TRUE(Exists(work + L"\\Order.xlsx")) << "the copy was made";
    EXPECT_TRUE(Exists(sourceFile)) << "the only other copy of the order stays";
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
    EXPECT_TRUE(Exists(bystander)) << "a bare title names no file of the user";
    EXPECT_NE(std::string::npos, UploaderLog().find("nieuw"));
    DeleteFileW(bystander.c_str());
}

TEST_F(HandOff, ALinkedFolderInTheWorkFolderIsNotEntered) {
    std::wstring outside = source + L"\\outside";
    CreateDirectoryW(outside.c_str(), nullptr);
    WriteFile(outside + L"\\precious.txt", "keep me");
    ASSERT_TRUE(vortelix::ForceDirectories(work));
    if (!CreateSymbolicLinkW((work + L"\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
        GTEST_SKIP() << "this system cannot make a directory link (error " << GetLastError() << ")";
    Start();
    app->Open(sourceFile);
    qvrtest::DialogRecorder dialogs;
    Press();
    EXPECT_TRUE(Exists(outside + L"\\precious.txt")) << "files behind a link are not the work folder's";
    RemoveDirectoryW((work + L"\\link").c_str());
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

}  // namespace
