// What the registration tests share: the registry read and written through the raw API (never
// through the code under test), snapshots of the registry for exact before/after comparisons,
// and the add-in's identity as it is registered.
#pragma once

#include "support/test_support.h"

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace regtest {

// ---- the add-in's identity ----
inline const std::wstring kClsid = L"{5A7C2E91-3D48-4B6F-9E21-7C0D4A8B3F65}";
inline const std::wstring kLibid = L"{C4E19B27-8A53-4D0E-B6F2-19A7E3C05D84}";
inline const GUID kLibidGuid = {0xC4E19B27, 0x8A53, 0x4D0E, {0xB6, 0xF2, 0x19, 0xA7, 0xE3, 0xC0, 0x5D, 0x84}};
inline const std::wstring kIid = L"{9B3D5F70-2E6C-4A18-8D4B-E05C71A2F936}";
// The add-in's status object's dual interface, also in the type library.
inline const std::wstring kStatusIid = L"{3E8B6C14-7D25-4F9A-A1C3-5B0E92D7F468}";
// Every interface whose Interface key registering the type library writes, with its name.
inline const std::pair<std::wstring, std::wstring> kInterfaces[] = {{kIid, L"IcoVORTELIXExcel"},
                                                                     {kStatusIid, L"IqvrAddInStatus"}};
inline const std::wstring kProgId = L"VORTELIXExcel.coVORTELIXExcel";
inline const std::wstring kDescription = L"coVORTELIXExcel Object";
// The Excel add-in key, relative to the hive.
inline const std::wstring kExcelAddInKey = L"Software\\Microsoft\\Office\\Excel\\AddIns\\" + kProgId;
// Excel's own class, as an installed Excel registers it.
inline const CLSID kExcelClsid = {0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline const std::wstring kClickToRun14 = L"Software\\Microsoft\\Office\\14.0\\Common\\InstallRoot\\Virtual";
inline const std::wstring kClickToRun15 = L"Software\\Microsoft\\Office\\15.0\\Common\\InstallRoot\\Virtual";
// The system kind the type library of this build declares (each bitness its own), and the
// registry name under which RegisterTypeLib files the library's path for it.
inline constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
inline const std::wstring kTypeLibPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";
inline const std::wstring kOtherTypeLibPlatform = sizeof(void*) == 8 ? L"win32" : L"win64";

// ---- the registry through the raw API (the process's default view) ----
bool KeyExists(HKEY root, const std::wstring& path);
bool HasSubKeys(HKEY root, const std::wstring& path);
std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path, const std::wstring& name = L"");
std::optional<DWORD> ReadDword(HKEY root, const std::wstring& path, const std::wstring& name);
// Value names of a key, sorted case-insensitively; empty when the key is missing.
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path);
void CreateKey(HKEY root, const std::wstring& path);
void WriteText(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value);
void WriteDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value);
void DeleteTree(HKEY root, const std::wstring& path);
// Lets everyone read the key and nothing else (so that opening it for writing fails).
void MakeReadOnly(HKEY root, const std::wstring& path);
void MakeWritable(HKEY root, const std::wstring& path);
// Replaces the key (and what it held) with an empty volatile one: no ordinary key can be created
// under it.
void MakeVolatile(HKEY root, const std::wstring& path);

// ---- snapshots ----
// Every key and value under HKEY_LOCAL_MACHINE\Software and HKEY_CURRENT_USER\Software as stored
// (the 64-bit view, which holds the 32-bit one under "Wow6432Node"):
// "HKLM\Software\...\Key" -> "" and "HKLM\Software\...\Key|Value" -> "type:data".
using Snapshot = std::map<std::wstring, std::wstring>;
Snapshot TakeSnapshot();
// What changed from before to after: "+ entry = data", "- entry", "~ entry = data".
std::vector<std::wstring> Changes(const Snapshot& before, const Snapshot& after);
// A snapshot path without its "Wow6432Node" components: the key as a program of either kind
// names it.
std::wstring LogicalPath(const std::wstring& entry);

// ---- Office on this machine, as registration sees it ----
// Excel installed: its ProgID resolves to its class, and its add-in key's parent exists.
void InstallExcel();
void UninstallExcel();

// ---- processes ----
// Runs a program with the given command line tail and returns its exit code (-1 when it could
// not be started or did not end within the timeout).
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs = 60000);
// The Windows path of a file given by its build-time path (a Unix path under Wine).
std::wstring WindowsPath(const std::string& buildPath);
using qvrtest::ProgramFolder;

}  // namespace regtest
