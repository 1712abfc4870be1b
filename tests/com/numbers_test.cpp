// Numbers written by hand must read exactly as the C library writes them, at every edge of every
// integer type: the stored configuration, the log and registry names are read back by programs
// and people that expect printf's text.
#include "com/numbers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <limits>

namespace {

template <typename T>
void ExpectLikeToWstring() {
    using L = std::numeric_limits<T>;
    const T values[] = {L::min(), static_cast<T>(L::min() + 1), static_cast<T>(-1 * L::is_signed), 0, 1, 9, 10,
                        99, 100, static_cast<T>(L::max() / 10), static_cast<T>(L::max() - 1), L::max()};
    for (T v : values) EXPECT_EQ(std::to_wstring(v), qvr::DecimalText(v)) << static_cast<long long>(v);
}

TEST(Numbers, DecimalTextIsWhatToWstringWrites) {
    ExpectLikeToWstring<int>();
    ExpectLikeToWstring<unsigned>();
    ExpectLikeToWstring<long>();
    ExpectLikeToWstring<unsigned long>();
    ExpectLikeToWstring<long long>();
    ExpectLikeToWstring<unsigned long long>();
    ExpectLikeToWstring<short>();
    ExpectLikeToWstring<unsigned short>();
    EXPECT_EQ(L"10000", qvr::DecimalText(10000));
}

TEST(Numbers, PaddedAndHexadecimalTextIsWhatPrintfWrites) {
    struct Case {
        unsigned long long value;
        unsigned digits;
    };
    const Case cases[] = {{0, 1}, {0, 8}, {5, 2}, {59, 2}, {123, 2}, {7, 3}, {2026, 4}, {0x80004005, 8},
                          {0xFFFFFFFF, 8}, {0x1A, 1}, {0x409, 4}, {0x40C, 1}, {0xABCDEF, 2}, {~0ULL, 16}, {~0ULL, 1}};
    for (const Case& c : cases) {
        wchar_t expected[80];
        swprintf(expected, 80, L"%0*llu", static_cast<int>(c.digits), c.value);
        std::wstring decimal;
        qvr::AppendUnsigned(decimal, c.value, c.digits);
        EXPECT_EQ(expected, decimal) << c.value << " " << c.digits;
        swprintf(expected, 80, L"%0*llX", static_cast<int>(c.digits), c.value);
        EXPECT_EQ(expected, qvr::HexText(c.value, c.digits)) << c.value << " " << c.digits;
        swprintf(expected, 80, L"%0*llx", static_cast<int>(c.digits), c.value);
        EXPECT_EQ(expected, qvr::HexText(c.value, c.digits, true)) << c.value << " " << c.digits;
    }
    std::wstring text = L"0x";
    qvr::AppendUnsigned(text, 0x8007000E, 8, 16);
    EXPECT_EQ(L"0x8007000E", text);  // appends, as the log's HRESULTs are written
}

}  // namespace
