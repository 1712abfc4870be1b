#include "healthcheck/pe_file.h"

#include <windows.h>

namespace qvrcheck {

namespace {
// The bytes a file's head holds; every read is checked against its size, so that a cut or
// corrupted file (a DLL half copied, a planted one) is read as what it is and never past its end.
struct Bytes {
    const uint8_t* data;
    size_t size;
    uint8_t operator[](size_t at) const { return data[at]; }
    bool Has(size_t at, size_t bytes) const { return at <= size && size - at >= bytes; }
};
uint32_t Le(const Bytes& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}
}  // namespace

std::optional<PeInfo> ParsePeHeaders(const std::vector<uint8_t>& head) { return ParsePeHeaders(head.data(), head.size()); }

std::optional<PeInfo> ParsePeHeaders(const uint8_t* data, size_t size) {
    const Bytes b{data, size};
    if (b.size < 0x40 || b[0] != 'M' || b[1] != 'Z') return std::nullopt;
    const size_t pe = Le(b, 0x3C, 4);
    // Signature (4), file header (20), then the optional header's magic.
    if (!b.Has(pe, 4 + 20 + 2)) return std::nullopt;
    if (b[pe] != 'P' || b[pe + 1] != 'E' || b[pe + 2] != 0 || b[pe + 3] != 0) return std::nullopt;
    PeInfo info;
    info.machine = static_cast<uint16_t>(Le(b, pe + 4, 2));
    const size_t optional = pe + 24;
    const uint32_t magic = Le(b, optional, 2);
    if (info.machine == IMAGE_FILE_MACHINE_I386) info.bits = 32;
    if (info.machine == IMAGE_FILE_MACHINE_AMD64 || info.machine == 0xAA64) info.bits = 64;
    // The data directories follow the optional header's fixed part (96 bytes for PE32, 112 for
    // PE32+); the security directory is the fifth.
    if (magic != 0x10B && magic != 0x20B) return info;
    const size_t directories = optional + (magic == 0x20B ? 112 : 96);
    const size_t security = directories + 4 * 8;
    if (!b.Has(directories - 4, 4)) return info;
    const size_t count = Le(b, directories - 4, 4);  // NumberOfRvaAndSizes
    if (count > 4 && b.Has(security, 8)) info.hasSignature = Le(b, security, 4) != 0 && Le(b, security + 4, 4) != 0;
    return info;
}

std::optional<PeInfo> ReadPeInfo(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<uint8_t> head(4096);
    DWORD read = 0;
    const BOOL ok = ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok) return std::nullopt;
    head.resize(read);
    return ParsePeHeaders(head);
}

std::wstring MachineName(uint16_t machine) {
    switch (machine) {
        case IMAGE_FILE_MACHINE_I386: return L"32-bit (x86)";
        case IMAGE_FILE_MACHINE_AMD64: return L"64-bit (x64)";
        case 0xAA64: return L"64-bit (ARM64)";
        default: {
            wchar_t text[32];
            swprintf(text, 32, L"machine 0x%04X", machine);
            return text;
        }
    }
}

}  // namespace qvrcheck
