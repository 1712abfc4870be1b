#include "healthcheck/resiliency.h"

namespace qvrcheck {

namespace {
const std::wstring kOffice = L"Software\\Microsoft\\Office\\";
const std::wstring kPolicies = L"Software\\Policies\\Microsoft\\Office\\";

uint32_t ReadLe32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(b[at + 3]) << 24;
}

void WriteLe32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A UTF-16 string of `bytes` bytes at `at` whose last character is its terminator.
std::optional<std::wstring> ReadTerminated(const std::vector<uint8_t>& b, size_t at, size_t bytes) {
    if (bytes < 2 || bytes % 2 != 0) return std::nullopt;
    std::wstring text;
    for (size_t i = 0; i < bytes; i += 2) text.push_back(static_cast<wchar_t>(b[at + i] | b[at + i + 1] << 8));
    if (text.back() != L'\0') return std::nullopt;
    text.pop_back();
    // A terminator inside the string would make Office read a shorter string than the length says.
    if (text.find(L'\0') != std::wstring::npos) return std::nullopt;
    return text;
}

void WriteTerminated(std::vector<uint8_t>& b, const std::wstring& text) {
    for (wchar_t c : text) {
        b.push_back(static_cast<uint8_t>(c & 0xFF));
        b.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    b.push_back(0);
    b.push_back(0);
}
}  // namespace

std::wstring AddInKey() { return L"Software\\Microsoft\\Office\\Excel\\AddIns\\" + std::wstring(kProgId); }
std::wstring ResiliencyKey(const std::wstring& version) { return kOffice + version + L"\\Excel\\Resiliency"; }
std::wstring DisabledItemsKey(const std::wstring& version) { return ResiliencyKey(version) + L"\\DisabledItems"; }
std::wstring CrashingAddinListKey(const std::wstring& version) { return ResiliencyKey(version) + L"\\CrashingAddinList"; }
std::wstring DoNotDisableAddinListKey(const std::wstring& version) {
    return ResiliencyKey(version) + L"\\DoNotDisableAddinList";
}
std::wstring SlowStartListKey(const std::wstring& version) { return ResiliencyKey(version) + L"\\SlowStartAddinList"; }
std::wstring PolicyAddinListKey(const std::wstring& version) { return kPolicies + version + L"\\Excel\\Resiliency\\AddinList"; }
std::wstring SecurityPolicyKey(const std::wstring& version) { return kPolicies + version + L"\\Excel\\Security"; }

std::optional<DisabledItem> ParseDisabledItem(const std::vector<uint8_t>& blob) {
    if (blob.size() < 12) return std::nullopt;
    DisabledItem item;
    item.type = ReadLe32(blob, 0);
    const size_t pathBytes = ReadLe32(blob, 4), nameBytes = ReadLe32(blob, 8);
    // Compared one at a time so that two large lengths cannot wrap around the sum.
    const size_t room = blob.size() - 12;
    if (pathBytes > room || nameBytes > room - pathBytes) return std::nullopt;
    auto path = ReadTerminated(blob, 12, pathBytes);
    auto name = ReadTerminated(blob, 12 + pathBytes, nameBytes);
    if (!path || !name) return std::nullopt;
    item.path = *path;
    item.friendlyName = *name;
    return item;
}

std::vector<uint8_t> MakeDisabledItem(const std::wstring& path, const std::wstring& friendlyName) {
    const std::wstring lower = LowerCase(path);
    std::vector<uint8_t> blob;
    WriteLe32(blob, kDisabledAddIn);
    WriteLe32(blob, static_cast<uint32_t>((lower.size() + 1) * 2));
    WriteLe32(blob, static_cast<uint32_t>((friendlyName.size() + 1) * 2));
    WriteTerminated(blob, lower);
    WriteTerminated(blob, friendlyName);
    return blob;
}

std::wstring LowerCase(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace qvrcheck
