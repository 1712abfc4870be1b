/* The package's one custom action: whether Microsoft Excel is running while the add-in is
 * installed, repaired or removed. Excel loads COM add-ins when it starts, and holds the add-in's
 * DLL while it runs: the change takes effect at the next start of Excel, which the package then
 * says (a warning in an install with a user interface, always in the log) and asks for with a
 * restart (ScheduleReboot, exit code 3010), so that deployment tools do not report a finished
 * install while the clerk's Excel runs without it. Excel is never closed: it may hold an unsaved
 * order. Processes are enumerated, not windows, so that an install as SYSTEM (Group Policy,
 * Intune, Configuration Manager) also sees the users' Excel. It writes nothing and always lets
 * the install go on. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

static BOOL ExcelIsRunning(void) {
    BOOL found = FALSE;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry;
    if (snapshot == INVALID_HANDLE_VALUE) return FALSE;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
        found = lstrcmpiW(entry.szExeFile, L"EXCEL.EXE") == 0;
    CloseHandle(snapshot);
    return found;
}

static void Say(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text) {
    MSIHANDLE record = MsiCreateRecord(1);
    if (!record) return;
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(install, kind, record);
    MsiCloseHandle(record);
}

UINT __stdcall FindRunningExcel(MSIHANDLE install) {
    if (!ExcelIsRunning()) {
        Say(install, INSTALLMESSAGE_INFO, L"VORTELIX Excel add-in: Microsoft Excel is not running.");
        return ERROR_SUCCESS;
    }
    MsiSetPropertyW(install, L"EXCELRUNNING", L"1");
    Say(install, INSTALLMESSAGE_INFO, L"VORTELIX Excel add-in: Microsoft Excel is running; a restart is requested.");
    Say(install, (INSTALLMESSAGE)(INSTALLMESSAGE_WARNING | MB_OK | MB_ICONWARNING),
        L"Microsoft Excel is running. The change to the VORTELIX Excel add-in takes effect when Excel is "
        L"started again: save your work, close Excel and start it again (or restart the computer).");
    return ERROR_SUCCESS;
}
