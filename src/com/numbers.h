// Numbers as text, written by hand. std::to_wstring and swprintf format through the C library's
// printf family, which is some 26 KB of the DLL for the few numbers it writes (log lines, stored
// configuration, registry key names, ids); these do the same for integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace qvr {

// Appends value in the given base (2 to 16; upper-case digits unless lowerCase), at least
// minDigits digits with zeros in front.
inline void AppendUnsigned(std::wstring& out, uint64_t value, unsigned minDigits = 1, unsigned base = 10,
                           bool lowerCase = false) {
    const wchar_t* const digitChars = lowerCase ? L"0123456789abcdef" : L"0123456789ABCDEF";
    wchar_t digits[64];
    wchar_t* const end = digits + 64;
    wchar_t* p = end;
    do {
        *--p = digitChars[value % base];
        value /= base;
    } while ((value || static_cast<size_t>(end - p) < minDigits) && p > digits);
    out.append(p, end);
}

// Decimal text of any integer, as std::to_wstring writes it.
template <typename T>
std::wstring DecimalText(T value) {
    static_assert(std::is_integral_v<T>);
    std::wstring out;
    if constexpr (std::is_signed_v<T>) {
        if (value < 0) {
            out += L'-';
            AppendUnsigned(out, 0 - static_cast<uint64_t>(static_cast<int64_t>(value)));
            return out;
        }
    }
    AppendUnsigned(out, static_cast<uint64_t>(value));
    return out;
}

// Hexadecimal, at least minDigits digits ("%0*X", or "%0*x" when lowerCase).
inline std::wstring HexText(uint64_t value, unsigned minDigits = 1, bool lowerCase = false) {
    std::wstring out;
    AppendUnsigned(out, value, minDigits, 16, lowerCase);
    return out;
}

}  // namespace qvr
