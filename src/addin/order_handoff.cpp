// The order hand-off command: the open workbook goes to the order upload program.
#include "addin/addin_module.h"
#include "addin/handoff_files.h"
#include "addin/texts.h"
#include "com/dialogs.h"
#include "com/dispatch.h"
#include "com/error.h"
#include "com/handles.h"
#include "com/log.h"
#include "com/numbers.h"
#include "com/query.h"
#include "module/excel_app.h"

#include <shellapi.h>

#include <cwctype>

namespace vortelix {

namespace {

const wchar_t kUploader[] = L"Dravenport.exe";

// Workbook members read to decide whether the source file may go (Excel's dispatch ids).
constexpr DISPID kFileFormat = 0x120;
constexpr DISPID kReadOnly = 0x128;
// FileFormat of the Open XML workbook, the only format that SaveCopyAs writes as a true .xlsx.
constexpr LONG kOpenXmlWorkbook = 51;

// The Excel that loaded the add-in. The command lets go of ExcelApp after asking Excel to quit;
// when the user cancels that quit, Excel keeps running with the add-in loaded, and a later press
// binds ExcelApp to the module's host application again. Left to itself, ExcelApp would connect
// to whatever Excel the running-object table names, or start one.
qvr::TExcelApplication* HostExcel(const qvr::TqvrCOMAddInModule& module) {
    qvr::TExcelApplication* excel = module.ExcelApp();
    if (!excel) throw qvr::EqvrError(qvr::Text(kTextNotConnected));
    if (!excel->Connected()) {
        const VARIANT& host = module.HostApp();
        Microsoft::WRL::ComPtr<IDispatch> application;
        if (host.vt == VT_DISPATCH)
            application = qvr::TryQuery<IDispatch>(host.pdispVal, qvr::ExcelApplicationServerData().IntfIID);
        if (!application) throw qvr::EqvrError(qvr::Text(kTextNotConnected));
        excel->ConnectTo(application.Get());
    }
    return excel;
}

qvr::unique_variant WorkbookProperty(IDispatch* workbook, DISPID id, VARTYPE type, LCID locale) {
    qvr::unique_variant value = qvr::Invoke(workbook, id, DISPATCH_PROPERTYGET, locale);
    qvr::ThrowIfFailed(VariantChangeType(&value, &value, 0, type));
    return value;
}

// Why the workbook's file must stay after the hand-off, for the administrator's record; empty when
// it may go. A workbook opened read-only (a shared template, say) is not the user's to delete, and
// one in another format than .xlsx was handed off under a name that does not match its content,
// so its file is the one true copy.
std::wstring KeepSourceReason(IDispatch* workbook, LCID locale) {
    if (WorkbookProperty(workbook, kReadOnly, VT_BOOL, locale).boolVal != VARIANT_FALSE)
        return L"kept: the workbook was opened read-only";
    const LONG format = WorkbookProperty(workbook, kFileFormat, VT_I4, locale).lVal;
    if (format != kOpenXmlWorkbook)
        return L"kept: the workbook is not an .xlsx workbook (FileFormat " + qvr::DecimalText(format) + L")";
    return {};
}

// Excel's active workbook, found afresh each time: the active window, that window's
// Application (late bound), and its ActiveWorkbook. No workbook reference is kept between steps.
Microsoft::WRL::ComPtr<ExcelWorkbook> ActiveWorkbook(qvr::TExcelApplication* excel) {
    if (!excel) throw qvr::EqvrError(qvr::Text(kTextNotConnected));
    Microsoft::WRL::ComPtr<ExcelWindow> window = excel->ActiveWindow();
    if (!window) throw qvr::EqvrError(qvr::Text(kTextNoActiveWindow));
    Microsoft::WRL::ComPtr<IDispatch> application = qvr::xl::Application(window.Get());
    if (!application) throw qvr::EqvrError(qvr::Text(kTextNoActiveWindow));
    Microsoft::WRL::ComPtr<ExcelWorkbook> workbook = qvr::xl::ActiveWorkbook(application.Get());
    if (!workbook) throw qvr::EqvrError(qvr::Text(kTextNoActiveWorkbook));
    return workbook;
}

std::wstring Trimmed(const std::wstring& s) {
    size_t first = 0, last = s.size();
    while (first < last && s[first] <= L' ') ++first;
    while (last > first && s[last - 1] <= L' ') --last;
    return s.substr(first, last - first);
}

void ShowError(const std::wstring& text) {
    qvr::LogErrorShown(L"hand-off", text);
    qvr::ShowMessageDialog(text, qvr::Text(qvr::kTextCaptionError), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace

void TAddInModule::RunOrderHandOff(qvr::TObject*, IRibbonControl*) {
    UseOfficeLanguage();
    const std::wstring addInFolder = AddInFolder();
    const std::wstring workFolder = WorkFolder();
    const std::wstring copyPath = workFolder + L"\\Order.xlsx";
    const std::wstring uploader = addInFolder + kUploader;

    // Without the uploader the copy would never be sent while the workbook is closed and its
    // file deleted: stop before anything is touched.
    DWORD attributes = GetFileAttributesW(uploader.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ShowError(qvr::FormatText(qvr::Text(kTextUploaderMissing), {uploader}));
        return;
    }
    // The uploader of an earlier hand-off may still be open (waiting for a log-in, or for the
    // clerk to check the order): the copy it works on must not be replaced under it.
    if (ProgramIsRunning(uploader)) {
        ShowError(qvr::FormatText(qvr::Text(kTextUploaderStillRunning), {uploader}));
        return;
    }

    // Without a temporary folder the copy would land where the uploader never looks. A work
    // folder that is a link (planted by any program of the user's) would have the purge empty
    // the tree it points to; one made by another user (a shared temporary folder) is theirs.
    // Checked once, on a handle held until the copy is saved: the folder cannot be swapped for a
    // link between the check and the purge, nor before Excel writes the copy into it.
    qvr::unique_hfile heldWorkFolder;
    if (workFolder.empty() || !ForceDirectories(workFolder) || !(heldWorkFolder = OpenOwnDirectory(workFolder))) {
        ShowError(qvr::Text(kTextWorkFolderError));
        return;
    }
    // An Order.xlsx still here was never taken by the uploader: it holds the only copy of that
    // order's unsaved edits, so it goes where the user can restore it, not into the purge.
    // The clerk is told, and the hand-off's record says so.
    std::wstring copyRecord = copyPath;
    const DWORD leftover = GetFileAttributesW(copyPath.c_str());
    if (leftover != INVALID_FILE_ATTRIBUTES && !(leftover & FILE_ATTRIBUTE_DIRECTORY)) {
        if (MoveToRecycleBin(copyPath) != TRecycled::Moved)
            throw qvr::EqvrError(qvr::FormatText(qvr::Text(kTextLeftoverNotRecycled), {copyPath}));
        copyRecord += L" (an earlier order left there unsent was moved to the Recycle Bin)";
        const std::wstring told = qvr::FormatText(qvr::Text(kTextLeftoverRecycled), {copyPath});
        qvr::LogVerbose(L"hand-off", told);
        qvr::ShowMessageDialog(told, qvr::Text(qvr::kTextCaptionInformation), MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    }
    ClearFolder(workFolder);

    const LCID locale = GetUserDefaultLCID();
    qvr::TExcelApplication* excel = HostExcel(*this);

    std::wstring sourceName, keepReason;
    {
        Microsoft::WRL::ComPtr<ExcelWorkbook> workbook = ActiveWorkbook(excel);
        sourceName = qvr::xl::FullName(workbook.Get(), locale);
        keepReason = KeepSourceReason(workbook.Get(), locale);
    }
    qvr::xl::SaveCopyAs(ActiveWorkbook(excel).Get(), qvr::unique_variant::FromString(copyPath), locale);
    heldWorkFolder.reset();
    qvr::xl::Close(ActiveWorkbook(excel).Get(), qvr::unique_variant::FromBool(false), qvr::unique_variant::Missing(),
                   qvr::unique_variant::Missing(), locale);
    excel->Quit();
    // AutoQuit is off: disconnecting only lets go of Excel, it does not quit a second time.
    excel->Disconnect();

    HINSTANCE started = ShellExecuteW(nullptr, L"open", uploader.c_str(), L"", L"", SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) <= 32) {
        // The workbook is closed and Excel is going: tell the user where the edits are, and that
        // the workbook file stays (it is the only copy besides the one nobody will upload).
        std::wstring text = qvr::FormatText(qvr::Text(kTextUploaderNotStarted), {uploader, copyPath});
        if (IsAbsolutePath(sourceName)) text += qvr::FormatText(qvr::Text(kTextOriginalKept), {sourceName});
        qvr::LogHandOff(sourceName, copyRecord, uploader + L" could not be started",
                        L"kept: the uploader did not start");
        throw qvr::EqvrError(text);
    }

    std::wstring outcome = keepReason;
    try {
        // Only a file of the user's, by absolute path, and never the copy just made. It goes to
        // the Recycle Bin, so that a user whose upload went wrong can restore it; a failure
        // leaves it where it is.
        if (outcome.empty()) {
            if (Trimmed(sourceName).empty() || !IsAbsolutePath(sourceName))
                outcome = L"kept: the workbook was never saved";
            else if (_wcsicmp(sourceName.c_str(), copyPath.c_str()) == 0)
                outcome = L"kept: the workbook is the copy itself";
            else if (const TRecycled result = MoveToRecycleBin(sourceName); result == TRecycled::Moved)
                outcome = L"moved to the Recycle Bin";
            else
                outcome = KeptReason(result);
        }
    } catch (...) {
        outcome = L"kept: it could not be recycled";
    }
    qvr::LogHandOff(sourceName, copyRecord, uploader + L" started", outcome);
}

void TAddInModule::ClearFolder(const std::wstring& Folder) { ClearFolderTree(Folder); }

}  // namespace vortelix
