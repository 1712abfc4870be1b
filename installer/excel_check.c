/* The package's one custom action. It looks, and writes nothing; it always lets the install go on,
 * and the package's own conditions decide with what it found. It runs once, early (before the
 * launch conditions), in the user-interface sequence of an install with a user interface and
 * otherwise in the execute sequence; EXCELCHECKED says it has run.
 *
 * Office's bitness (OTHEROFFICE). A 64-bit add-in cannot be loaded by 32-bit Excel and the other
 * way round: a package of the wrong bitness would install, end with success, and the add-in would
 * never load. Office records its bitness in one of two places:
 *   - Click-to-Run (Office 2016 and later, Microsoft 365): Platform "x86" or "x64" under
 *     SOFTWARE\Microsoft\Office\ClickToRun\Configuration, in the 64-bit registry view on 64-bit
 *     Windows whatever Office's bitness;
 *   - Windows Installer Office (2010, 2013, 2016) and Office 2013 Click-to-Run: Path under
 *     SOFTWARE\Microsoft\Office\14.0|15.0|16.0\Excel\InstallRoot, in the registry view of Office's
 *     own bitness.
 * When Office of the other bitness is found and none of this package's bitness, OTHEROFFICE says
 * what was found ("Click-to-Run, Platform x86", "Excel 2013, Windows Installer"). A 32-bit
 * package may not search the 64-bit view through its AppSearch tables (ICE80), so this action
 * reads both views itself; it also gives the package the per-machine install's record from the
 * 64-bit view (MACHINEINSTALL64VIEW), which the per-user package refuses to shadow.
 *
 * Excel (EXCELRUNNING, EXCELHOLDSADDIN). Excel loads COM add-ins when it starts: installed while
 * Excel runs, the add-in is there at Excel's next start, which the package says (a warning in an
 * install with a user interface, always in the log). Only when a running Excel holds the add-in's
 * DLL is a file in use replaced or removed, and only then is a restart asked for (ScheduleReboot,
 * exit code 3010): a quiet install with a restart scheduled restarts the computer by itself.
 * Whether Excel holds the DLL is read from its list of modules; where that list cannot be read
 * (another user's Excel without the rights, a 64-bit Excel seen from the 32-bit action), Excel is
 * taken to hold it. Processes are enumerated, not windows, so that an install as SYSTEM (Group
 * Policy, Intune, Configuration Manager) also sees the users' Excel. Excel is never closed: it
 * may hold an unsaved order. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

#include <wchar.h>

#define ADDIN_DLL L"VORTELIXExcel.dll"

#ifdef _WIN64
#define THIS_PLATFORM L"x64"
#define OTHER_PLATFORM L"x86"
#else
#define THIS_PLATFORM L"x86"
#define OTHER_PLATFORM L"x64"
#endif

/* A string value of HKLM\<key> in the given view (KEY_WOW64_64KEY or KEY_WOW64_32KEY); false when
 * there is none. */
static BOOL ReadMachineString(const wchar_t* key, const wchar_t* name, REGSAM view, wchar_t* out, DWORD chars) {
    HKEY opened = NULL;
    DWORD type = 0, bytes = (chars - 1) * sizeof(wchar_t);
    LONG rc;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return FALSE;
    rc = RegQueryValueExW(opened, name, NULL, &type, (BYTE*)out, &bytes);
    RegCloseKey(opened);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return FALSE;
    out[bytes / sizeof(wchar_t)] = L'\0';
    return TRUE;
}

static BOOL WindowsIs64Bit(void) {
#ifdef _WIN64
    return TRUE;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

/* Which Office bitnesses this machine records; `other` describes the first record of the other
 * bitness. */
static void FindOffice(BOOL* thisBitness, BOOL* otherBitness, wchar_t* other, size_t otherChars) {
    static const struct {
        const wchar_t* version;
        const wchar_t* name;
    } kWindowsInstallerOffice[] = {{L"14.0", L"Excel 2010"}, {L"15.0", L"Excel 2013"}, {L"16.0", L"Excel 2016"}};
    const BOOL windows64 = WindowsIs64Bit();
    wchar_t value[MAX_PATH + 1];
    size_t i;
    *thisBitness = *otherBitness = FALSE;
    other[0] = L'\0';

    if (ReadMachineString(L"SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration", L"Platform",
                          windows64 ? KEY_WOW64_64KEY : 0, value, MAX_PATH + 1)) {
        if (lstrcmpiW(value, THIS_PLATFORM) == 0) {
            *thisBitness = TRUE;
        } else if (lstrcmpiW(value, OTHER_PLATFORM) == 0) {
            *otherBitness = TRUE;
            swprintf(other, otherChars, L"Click-to-Run, Platform %ls", OTHER_PLATFORM);
        }
    }
    for (i = 0; i < sizeof(kWindowsInstallerOffice) / sizeof(kWindowsInstallerOffice[0]); ++i) {
        wchar_t key[80];
        int view;
        swprintf(key, 80, L"SOFTWARE\\Microsoft\\Office\\%ls\\Excel\\InstallRoot", kWindowsInstallerOffice[i].version);
        /* On 32-bit Windows there is one view, and all Office there is 32-bit. */
        for (view = 0; view < (windows64 ? 2 : 1); ++view) {
            const BOOL view64 = windows64 && view == 0;
            if (!ReadMachineString(key, L"Path", view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY, value, MAX_PATH + 1))
                continue;
            if (lstrcmpW(view64 ? L"x64" : L"x86", THIS_PLATFORM) == 0) {
                *thisBitness = TRUE;
            } else if (!*otherBitness) {
                *otherBitness = TRUE;
                swprintf(other, otherChars, L"%ls, Windows Installer", kWindowsInstallerOffice[i].name);
            }
        }
    }
}

/* Whether process `pid` has a module named ADDIN_DLL; TRUE when its modules cannot be listed. */
static BOOL HoldsAddIn(DWORD pid) {
    MODULEENTRY32W module;
    BOOL found = FALSE, more;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
    if (snapshot == INVALID_HANDLE_VALUE) return TRUE;
    module.dwSize = sizeof(module);
    more = Module32FirstW(snapshot, &module);
    if (!more) {
        CloseHandle(snapshot);
        return TRUE;
    }
    for (; more && !found; more = Module32NextW(snapshot, &module)) found = lstrcmpiW(module.szModule, ADDIN_DLL) == 0;
    CloseHandle(snapshot);
    return found;
}

static void FindExcel(BOOL* running, BOOL* holdsAddIn) {
    PROCESSENTRY32W entry;
    BOOL more;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    *running = *holdsAddIn = FALSE;
    if (snapshot == INVALID_HANDLE_VALUE) return;
    entry.dwSize = sizeof(entry);
    for (more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"EXCEL.EXE") != 0) continue;
        *running = TRUE;
        if (!*holdsAddIn) *holdsAddIn = HoldsAddIn(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
}

static void Say(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text) {
    MSIHANDLE record = MsiCreateRecord(1);
    if (!record) return;
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(install, kind, record);
    MsiCloseHandle(record);
}

UINT __stdcall FindRunningExcel(MSIHANDLE install) {
    wchar_t other[96], text[MAX_PATH + 160];
    BOOL thisOffice, otherOffice, running, holds;

    MsiSetPropertyW(install, L"EXCELCHECKED", L"1");

    FindOffice(&thisOffice, &otherOffice, other, sizeof(other) / sizeof(other[0]));
    if (otherOffice && !thisOffice) {
        MsiSetPropertyW(install, L"OTHEROFFICE", other);
        swprintf(text, sizeof(text) / sizeof(text[0]), L"VORTELIX Excel add-in: Office of the other bitness found (%ls).", other);
        Say(install, INSTALLMESSAGE_INFO, text);
    }

    if (WindowsIs64Bit() &&
        ReadMachineString(L"Software\\VORTELIX\\Excel add-in", L"InstallFolder", KEY_WOW64_64KEY, text, MAX_PATH + 1))
        MsiSetPropertyW(install, L"MACHINEINSTALL64VIEW", text);

    FindExcel(&running, &holds);
    if (!running) {
        Say(install, INSTALLMESSAGE_INFO, L"VORTELIX Excel add-in: Microsoft Excel is not running.");
        return ERROR_SUCCESS;
    }
    MsiSetPropertyW(install, L"EXCELRUNNING", L"1");
    if (holds) {
        MsiSetPropertyW(install, L"EXCELHOLDSADDIN", L"1");
        Say(install, INSTALLMESSAGE_INFO,
            L"VORTELIX Excel add-in: Microsoft Excel is running with the add-in loaded (or its modules cannot be "
            L"read); a restart is requested.");
    } else {
        Say(install, INSTALLMESSAGE_INFO,
            L"VORTELIX Excel add-in: Microsoft Excel is running without the add-in; no restart is needed.");
    }
    Say(install, (INSTALLMESSAGE)(INSTALLMESSAGE_WARNING | MB_OK | MB_ICONWARNING),
        L"Microsoft Excel is running. The change to the VORTELIX Excel add-in takes effect when Excel is "
        L"started again: save your work, close Excel and start it again (or restart the computer).");
    return ERROR_SUCCESS;
}
