// What the PE header of an executable or DLL says: its machine (so its bitness) and whether it
// carries an Authenticode signature (the security directory).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvrcheck {

struct PeInfo {
    uint16_t machine = 0;
    int bits = 0;  // 32 or 64; 0 for a machine Office does not run on
    bool hasSignature = false;
};
// From the first bytes of a file (the DOS header, the PE signature and the headers).
std::optional<PeInfo> ParsePeHeaders(const std::vector<uint8_t>& head);
std::optional<PeInfo> ParsePeHeaders(const uint8_t* data, size_t size);
std::optional<PeInfo> ReadPeInfo(const std::wstring& path);
std::wstring MachineName(uint16_t machine);

}  // namespace qvrcheck
