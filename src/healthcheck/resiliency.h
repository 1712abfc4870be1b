// Where Office and Excel keep what they know about a COM add-in, and the format of Office's
// DisabledItems entries. Kept apart from the checks so that names and formats can be tested
// without a registry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvrcheck {

inline constexpr wchar_t kProgId[] = L"VORTELIXExcel.coVORTELIXExcel";
// The Office versions that have their own per-user Excel keys: 2007, 2010, 2013, 2016 and later.
inline constexpr const wchar_t* kOfficeVersions[] = {L"12.0", L"14.0", L"15.0", L"16.0"};

// The add-in key, under HKLM (all users) or HKCU (this user).
std::wstring AddInKey();
// HKCU\<this>: Office's resiliency lists of one Office version.
std::wstring ResiliencyKey(const std::wstring& version);
std::wstring DisabledItemsKey(const std::wstring& version);
std::wstring CrashingAddinListKey(const std::wstring& version);
std::wstring DoNotDisableAddinListKey(const std::wstring& version);
// The Excel stand-in's record of a start-up over the threshold (value: ProgID, DWORD milliseconds).
std::wstring SlowStartListKey(const std::wstring& version);
// HKCU\<this>: the administrator's list of managed add-ins (value: ProgID, "0", "1" or "2").
std::wstring PolicyAddinListKey(const std::wstring& version);
// HKCU\<this>, value RequireAddinSig.
std::wstring SecurityPolicyKey(const std::wstring& version);

// One entry of DisabledItems: a REG_BINARY value with a random name holding
//   DWORD type (1: an add-in), DWORD byte length of the path including its terminator,
//   DWORD byte length of the friendly name including its terminator,
//   the path in UTF-16 (lower case, as Office writes it), the friendly name in UTF-16.
inline constexpr uint32_t kDisabledAddIn = 1;
struct DisabledItem {
    uint32_t type = kDisabledAddIn;
    std::wstring path;
    std::wstring friendlyName;
};
// The entry a blob holds, or nothing when the blob is not a well-formed entry (too short, a
// length that runs past the end or is odd, a string without its terminator).
std::optional<DisabledItem> ParseDisabledItem(const std::vector<uint8_t>& blob);
// The blob of an add-in entry, with the path lower-cased as Office writes it.
std::vector<uint8_t> MakeDisabledItem(const std::wstring& path, const std::wstring& friendlyName);

// Windows paths compared as the file system does: without regard to case.
bool SamePath(const std::wstring& a, const std::wstring& b);
std::wstring LowerCase(std::wstring text);

}  // namespace qvrcheck
