// The order hand-off command: the open workbook goes to the order upload program.
#include "addin/addin_module.h"
#include "addin/handoff_files.h"
#include "com/dialogs.h"
#include "com/error.h"
#include "com/handles.h"
#include "module/excel_app.h"

#include <shellapi.h>

#include <cwctype>

namespace vortelix {

namespace {

const wchar_t kUploader[] = L"Dravenport.exe";

// Excel's active workbook, found afresh each time: the active window, that window's
// Application (late bound), and its ActiveWorkbook. No workbook reference is kept between steps.
Microsoft::WRL::ComPtr<ExcelWorkbook> ActiveWorkbook(qvr::TExcelApplication* excel) {
    if (!excel) throw qvr::EqvrError(L"The add-in is not connected to Excel.");
    Microsoft::WRL::ComPtr<ExcelWindow> window = excel->ActiveWindow();
    if (!window) throw qvr::EqvrError(L"Excel has no active workbook window.");
    Microsoft::WRL::ComPtr<IDispatch> application = qvr::xl::Application(window.Get());
    if (!application) throw qvr::EqvrError(L"Excel has no active workbook window.");
    Microsoft::WRL::ComPtr<ExcelWorkbook> workbook = qvr::xl::ActiveWorkbook(application.Get());
    if (!workbook) throw qvr::EqvrError(L"Excel has no active workbook.");
    return workbook;
}

std::wstring Trimmed(const std::wstring& s) {
    size_t first = 0, last = s.size();
    while (first < last && s[first] <= L' ') ++first;
    while (last > first && s[last - 1] <= L' ') --last;
    return s.substr(first, last - first);
}

void ShowError(const std::wstring& text) {
    qvr::ShowMessageDialog(text, L"Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace

void TAddInModule::RunOrderHandOff(qvr::TObject*, IRibbonControl*) {
    const std::wstring addInFolder = AddInFolder();
    const std::wstring workFolder = WorkFolder();
    const std::wstring copyPath = workFolder + L"\\Order.xlsx";
    const std::wstring uploader = addInFolder + kUploader;

    // Without the uploader the copy would never be sent while the workbook is closed and its
    // file deleted: stop before anything is touched.
    DWORD attributes = GetFileAttributesW(uploader.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ShowError(qvr::FormatText(L"The order upload program %s was not found.", {uploader}));
        return;
    }

    if (!ForceDirectories(workFolder)) {
        ShowError(L"Error creating work directory.");
        return;
    }
    ClearFolder(workFolder);

    const LCID locale = GetUserDefaultLCID();
    qvr::TExcelApplication* excel = ExcelApp();

    const std::wstring sourceName = qvr::xl::FullName(ActiveWorkbook(excel).Get(), locale);
    qvr::xl::SaveCopyAs(ActiveWorkbook(excel).Get(), qvr::unique_variant::FromString(copyPath), locale);
    qvr::xl::Close(ActiveWorkbook(excel).Get(), qvr::unique_variant::FromBool(false), qvr::unique_variant::Missing(),
                   qvr::unique_variant::Missing(), locale);
    excel->Quit();
    // AutoQuit is off: disconnecting only lets go of Excel, it does not quit a second time.
    excel->Disconnect();

    HINSTANCE started = ShellExecuteW(nullptr, L"open", uploader.c_str(), L"", L"", SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) <= 32) {
        // The workbook file stays: it is the only copy besides the one nobody will upload.
        throw qvr::EqvrError(qvr::FormatText(L"The order upload program %s could not be started.", {uploader}));
    }

    try {
        // Only a file of the user's, by absolute path, and never the copy just made.
        if (!Trimmed(sourceName).empty() && IsAbsolutePath(sourceName) &&
            _wcsicmp(sourceName.c_str(), copyPath.c_str()) != 0)
            DeleteFileW(sourceName.c_str());
    } catch (...) {
    }
}

void TAddInModule::ClearFolder(const std::wstring& Folder) { ClearFolderTree(Folder); }

}  // namespace vortelix
