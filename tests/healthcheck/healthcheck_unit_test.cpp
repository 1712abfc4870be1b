// The health check's units without a registry: Office's DisabledItems format, the meaning of the
// add-in keys' LoadBehavior values together, the log level in force, the PE header reader, and
// the report's JSON, text and exit code, and the live check's reading of the add-in's trace.
#include "json_reader.h"

#include "healthcheck/live.h"
#include "healthcheck/pe_file.h"
#include "healthcheck/policy.h"
#include "healthcheck/report.h"
#include "healthcheck/resiliency.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

using namespace qvrcheck;

namespace {

std::vector<uint8_t> Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> Utf16(const std::wstring& s, bool terminator = true) {
    std::vector<uint8_t> out;
    for (wchar_t c : s) out.push_back(static_cast<uint8_t>(c)), out.push_back(static_cast<uint8_t>(c >> 8));
    if (terminator) out.push_back(0), out.push_back(0);
    return out;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// ---- DisabledItems ----

TEST(DisabledItems, WritesOfficesLayoutByteForByteWithTheLowerCasePath) {
    // Written out by hand from the format: type 1, 28 bytes of path ("c:\prog\a.dll" and its
    // terminator), 10 bytes of name ("Ordër" and its terminator), then the two strings.
    const std::vector<uint8_t> expected = {
        0x01, 0, 0, 0, 0x1C, 0, 0, 0, 0x0C, 0, 0, 0,
        'c', 0, ':', 0, '\\', 0, 'p', 0, 'r', 0, 'o', 0, 'g', 0, '\\', 0, 'a', 0, '.', 0, 'd', 0, 'l', 0, 'l', 0, 0, 0,
        'O', 0, 'r', 0, 'd', 0, 0xEB, 0, 'r', 0, 0, 0};
    EXPECT_EQ(MakeDisabledItem(L"C:\\Prog\\A.DLL", L"Ord\u00EBr"), expected);
}

TEST(DisabledItems, ReadsWhatOfficeWrote) {
    const std::wstring path = L"c:\\program files (x86)\\vortelix excel\\vortelixexcel.dll";
    auto item = ParseDisabledItem(Concat({Le32(1), Le32(static_cast<uint32_t>(path.size() * 2 + 2)), Le32(30), Utf16(path),
                                          Utf16(L"VORTELIX Excel")}));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->type, 1u);
    EXPECT_EQ(item->path, path);
    EXPECT_EQ(item->friendlyName, L"VORTELIX Excel");
    // A name outside the Basic Multilingual Plane survives the way back.
    auto back = ParseDisabledItem(MakeDisabledItem(L"D:\\X\\Y.dll", L"Bestelling \U0001F4E6"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->path, L"d:\\x\\y.dll");
    EXPECT_EQ(back->friendlyName, L"Bestelling \U0001F4E6");
}

TEST(DisabledItems, RefusesBlobsThatAreNotWellFormedEntries) {
    const auto path = Utf16(L"c:\\a.dll"), name = Utf16(L"A");
    const uint32_t p = static_cast<uint32_t>(path.size()), n = static_cast<uint32_t>(name.size());
    struct Case {
        const char* what;
        std::vector<uint8_t> blob;
    } cases[] = {
        {"empty", {}},
        {"shorter than the header", {1, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0}},
        {"path length runs past the end", Concat({Le32(1), Le32(p + 2), Le32(n), path, name})},
        {"name length runs past the end", Concat({Le32(1), Le32(p), Le32(n + 2), path, name})},
        {"lengths that wrap around when added", Concat({Le32(1), Le32(0xFFFFFFF0u), Le32(0x20), path, name})},
        {"odd path length", Concat({Le32(1), Le32(p - 1), Le32(n + 1), path, name})},
        {"zero path length", Concat({Le32(1), Le32(0), Le32(n), name})},
        {"path without its terminator", Concat({Le32(1), Le32(p - 2), Le32(n), Utf16(L"c:\\a.dll", false), name})},
        {"terminator inside the path", Concat({Le32(1), Le32(p), Le32(n), Utf16(std::wstring(L"c:\\a\0dll", 8)), name})},
    };
    for (const Case& c : cases) EXPECT_FALSE(ParseDisabledItem(c.blob)) << c.what;
}

TEST(DisabledItems, KeyNamesOfEveryOfficeVersion) {
    EXPECT_EQ(DisabledItemsKey(L"16.0"), L"Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency\\DisabledItems");
    EXPECT_EQ(CrashingAddinListKey(L"14.0"), L"Software\\Microsoft\\Office\\14.0\\Excel\\Resiliency\\CrashingAddinList");
    EXPECT_EQ(DoNotDisableAddinListKey(L"15.0"), L"Software\\Microsoft\\Office\\15.0\\Excel\\Resiliency\\DoNotDisableAddinList");
    EXPECT_EQ(PolicyAddinListKey(L"12.0"), L"Software\\Policies\\Microsoft\\Office\\12.0\\Excel\\Resiliency\\AddinList");
    EXPECT_EQ(SecurityPolicyKey(L"16.0"), L"Software\\Policies\\Microsoft\\Office\\16.0\\Excel\\Security");
    EXPECT_EQ(AddInKey(), L"Software\\Microsoft\\Office\\Excel\\AddIns\\VORTELIXExcel.coVORTELIXExcel");
    std::vector<std::wstring> versions(std::begin(kOfficeVersions), std::end(kOfficeVersions));
    EXPECT_EQ(versions, (std::vector<std::wstring>{L"12.0", L"14.0", L"15.0", L"16.0"}));
}

TEST(DisabledItems, PathsCompareWithoutRegardToCase) {
    EXPECT_TRUE(SamePath(L"c:\\program files\\vortelix excel\\vortelixexcel.dll", L"C:\\Program Files\\VORTELIX Excel\\VORTELIXExcel.dll"));
    EXPECT_FALSE(SamePath(L"c:\\a\\vortelixexcel.dll", L"c:\\b\\vortelixexcel.dll"));
    EXPECT_FALSE(SamePath(L"c:\\a.dll", L"c:\\a.dll2"));
}

// ---- LoadBehavior ----

TEST(LoadBehavior, EachValueIsExplained) {
    for (DWORD v : {0u, 1u, 2u, 3u, 8u, 9u, 16u}) EXPECT_EQ(LoadBehaviorMeaning(v).rfind(std::to_wstring(v) + L": ", 0), 0u) << v;
    EXPECT_NE(LoadBehaviorMeaning(3).find(L"start-up"), std::wstring::npos);
    EXPECT_NE(LoadBehaviorMeaning(2).find(L"failed or was slow"), std::wstring::npos);
    EXPECT_NE(LoadBehaviorMeaning(7).find(L"does not know"), std::wstring::npos);
}

TEST(LoadBehavior, TheUsersValueWinsAndAUser2AgainstAMachine3IsOfficesDoing) {
    struct Case {
        AddInKeys keys;
        Status status;
        bool fixable;
        const wchar_t* phrase;
    } cases[] = {
        {{true, false, 3u, std::nullopt}, Status::Ok, false, L"loads the add-in at start-up"},
        {{true, true, 3u, std::nullopt}, Status::Ok, false, L"loads the add-in at start-up"},  // user key holds only the start mode
        {{true, true, 3u, 2u}, Status::Fail, true, L"Office turned the add-in off after a failed or slow start"},
        {{false, true, std::nullopt, 2u}, Status::Fail, true, L"for this user after a failed or slow start"},
        {{true, true, 2u, 3u}, Status::Ok, false, L"loads the add-in at start-up"},
        {{true, false, 2u, std::nullopt}, Status::Fail, false, L"does not load the add-in"},
        {{true, true, 2u, 2u}, Status::Fail, false, L"does not load the add-in"},  // the machine keeps it off too
        {{true, true, 0u, 2u}, Status::Fail, false, L"does not load the add-in"},
        {{true, false, 0u, std::nullopt}, Status::Fail, false, L"does not load the add-in"},
        {{true, true, 3u, 0u}, Status::Fail, false, L"does not load the add-in"},
        {{true, false, 8u, std::nullopt}, Status::Warn, false, L"does not load at every start-up"},
        {{true, false, 16u, std::nullopt}, Status::Warn, false, L"does not load at every start-up"},
        {{true, false, 5u, std::nullopt}, Status::Fail, false, L"does not know"},
        {{false, false, std::nullopt, std::nullopt}, Status::Fail, false, L"has no add-in key"},
        {{true, false, std::nullopt, std::nullopt}, Status::Fail, false, L"Without a LoadBehavior"},
    };
    for (const Case& c : cases) {
        LoadBehaviorVerdict v = JudgeLoadBehavior(c.keys);
        const std::wstring label = L"machine " + (c.keys.machine ? std::to_wstring(*c.keys.machine) : L"-") + L", user " +
                                   (c.keys.user ? std::to_wstring(*c.keys.user) : L"-");
        EXPECT_EQ(v.status, c.status) << testing::PrintToString(label);
        EXPECT_EQ(v.userValueFixable, c.fixable) << testing::PrintToString(label);
        EXPECT_NE(v.detail.find(c.phrase), std::wstring::npos) << testing::PrintToString(label + L": " + v.detail);
        EXPECT_EQ(v.fix.empty(), c.status == Status::Ok) << testing::PrintToString(label);
    }
}

// ---- log level ----

RawValue Dword(DWORD v) { return {REG_DWORD, Le32(v)}; }
RawValue Text(const std::wstring& s) { return {REG_SZ, Utf16(s)}; }

TEST(LogLevel, MachinePolicyWinsAndAWrongValueCountsAsTheDefault) {
    struct Case {
        std::optional<RawValue> policy, user;
        DWORD level;
        bool malformed;
        const wchar_t* source;
    } cases[] = {
        {std::nullopt, std::nullopt, 2, false, L"default"},
        {std::nullopt, Dword(3), 3, false, L"HKCU"},
        {Dword(0), Dword(3), 0, false, L"HKLM"},
        {Dword(1), std::nullopt, 1, false, L"HKLM"},
        {std::nullopt, Text(L"3"), 2, true, L"HKCU"},                       // a string, not a DWORD
        {Text(L"0"), Dword(3), 2, true, L"HKLM"},                           // the policy still wins, with the default
        {std::nullopt, RawValue{REG_BINARY, {3, 0, 0, 0}}, 2, true, L"HKCU"},
        {std::nullopt, RawValue{REG_DWORD, {3, 0}}, 2, true, L"HKCU"},      // a DWORD of the wrong size
        {std::nullopt, Dword(4), 2, true, L"HKCU"},
        {std::nullopt, RawValue{REG_QWORD, Concat({Le32(1), Le32(0)})}, 2, true, L"HKCU"},
    };
    int i = 0;
    for (const Case& c : cases) {
        LogLevel l = ResolveLogLevel(c.policy, c.user);
        EXPECT_EQ(l.level, c.level) << "case " << i;
        EXPECT_EQ(l.malformed, c.malformed) << "case " << i;
        EXPECT_NE(l.source.find(c.source), std::wstring::npos) << "case " << i;
        ++i;
    }
}

// ---- PE header ----

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(PeHeader, ReadsTheBitnessOfTheBuiltPrograms) {
    for (const wchar_t* file : {L"ExcelSim.exe", L"VORTELIXExcel.dll"}) {
        auto info = ReadPeInfo(qvrtest::ProgramFolder() + file);
        ASSERT_TRUE(info) << testing::PrintToString(std::wstring(file));
        EXPECT_EQ(info->bits, QVR_BITS);
        EXPECT_EQ(info->machine, QVR_BITS == 64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
        EXPECT_FALSE(info->hasSignature);
    }
    EXPECT_FALSE(ReadPeInfo(qvrtest::ProgramFolder() + L"no-such-file.dll"));
}

// A DLL half copied, cut off or corrupted is read as what it is: each cut of the built DLL's head
// and heads whose offsets point past their end are parsed right before a page nothing may read,
// so that a read past the end ends the test at once.
TEST(PeHeader, ReadsACutOrCorruptedFileWithoutReadingPastItsEnd) {
    std::vector<uint8_t> head = ReadFileBytes(qvrtest::ProgramFolder() + L"VORTELIXExcel.dll");
    ASSERT_GT(head.size(), 1024u);
    head.resize(1024);
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    auto* pages = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    auto parse = [&](const std::vector<uint8_t>& bytes) {
        uint8_t* at = pages + page - bytes.size();
        if (!bytes.empty()) memcpy(at, bytes.data(), bytes.size());
        return ParsePeHeaders(at, bytes.size());
    };
    const auto whole = parse(head);
    ASSERT_TRUE(whole);
    EXPECT_EQ(QVR_BITS, whole->bits);
    for (size_t n = 0; n < head.size(); ++n) {
        const auto cut = parse(std::vector<uint8_t>(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(n)));
        if (n < 0x40) {
            EXPECT_FALSE(cut) << n << " bytes";
        }
        if (cut) {
            EXPECT_EQ(whole->machine, cut->machine) << n << " bytes";
        }
    }
    struct Case {
        const char* what;
        uint32_t peOffset;
    };
    for (const Case& c : {Case{"PE header far past the end", 0xFFFFFFF0u}, Case{"PE header in the last bytes", 1020u},
                          Case{"PE header at the very end", 1024u}}) {
        std::vector<uint8_t> bad = head;
        memcpy(&bad[0x3C], &c.peOffset, 4);
        EXPECT_FALSE(parse(bad)) << c.what;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(PeHeader, SeesTheSecurityDirectoryAndRefusesWhatIsNoPeFile) {
    std::vector<uint8_t> head = ReadFileBytes(qvrtest::ProgramFolder() + L"VORTELIXExcel.dll");
    ASSERT_GT(head.size(), 1024u);
    head.resize(4096);
    // Point the security directory (the fifth data directory) at a certificate table.
    const size_t pe = head[0x3C] | head[0x3D] << 8;
    const size_t security = pe + 24 + (QVR_BITS == 64 ? 112 : 96) + 4 * 8;
    std::vector<uint8_t> signedHead = head;
    for (int i = 0; i < 4; ++i) signedHead[security + i] = Le32(0x1000)[i], signedHead[security + 4 + i] = Le32(0x200)[i];
    auto info = ParsePeHeaders(signedHead);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->hasSignature);

    std::vector<uint8_t> noMz = head;
    noMz[0] = 'X';
    std::vector<uint8_t> peOutside = head;
    peOutside[0x3C] = 0xF0, peOutside[0x3D] = 0xFF;
    std::vector<uint8_t> noPe = head;
    noPe[pe] = 'N';
    for (const auto& bad : {noMz, peOutside, noPe, std::vector<uint8_t>(head.begin(), head.begin() + 0x30),
                            std::vector<uint8_t>(head.begin(), head.begin() + static_cast<long>(pe) + 10)})
        EXPECT_FALSE(ParsePeHeaders(bad));
}

// ---- report ----

TEST(Report, JsonEscapesEverythingAParserRejects) {
    struct Case {
        std::wstring in;
        std::string out;
    } cases[] = {
        {L"C:\\Program Files\\VORTELIX Excel", "C:\\\\Program Files\\\\VORTELIX Excel"},
        {L"say \"hi\"", "say \\\"hi\\\""},
        {L"a\r\nb\tc\b\f", "a\\r\\nb\\tc\\b\\f"},
        {std::wstring(L"nul\0x\x01\x1F\x7F", 8), "nul\\u0000x\\u0001\\u001f\\u007f"},
        {L"Bestelling verwerkt \u2014 \u00EB", "Bestelling verwerkt \xE2\x80\x94 \xC3\xAB"},
        {L"\U0001F4E6", "\xF0\x9F\x93\xA6"},
        {std::wstring(1, static_cast<wchar_t>(0xD83D)) + L"x", "\\ud83dx"},  // half a pair
        {std::wstring(1, static_cast<wchar_t>(0xDC00)), "\\udc00"},
        {L"line\u2028sep", "line\\u2028sep"},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonEscape(c.in), c.out) << c.out;
}

Report SampleReport() {
    Report r;
    r.computer = L"PC-\"07\"";
    r.user = L"ORDERS\\jan";
    r.checks = {{L"excel", L"Excel", Status::Ok, L"Excel 2016 at C:\\Program Files\\Excel.exe", L""},
                {L"addin-key", L"Key", Status::Fail, L"line one\nline \"two\"", L"Run --fix"},
                {L"event-log-source", L"Source", Status::Warn, L"tab\there", L"Register"}};
    r.changes = {L"LoadBehavior 2 -> 3 (HKCU\\Software\\x)"};
    return r;
}

TEST(Report, JsonIsOneDocumentWithEveryCheckAndTheExitCode) {
    const Report r = SampleReport();
    std::string error;
    auto doc = jsontest::Parse(ToJson(r), &error);
    ASSERT_TRUE(doc) << error << "\n" << ToJson(r);
    EXPECT_EQ((*doc)["tool"].text, "VORTELIXExcelCheck");
    EXPECT_EQ((*doc)["computer"].text, "PC-\"07\"");
    EXPECT_EQ((*doc)["user"].text, "ORDERS\\jan");
    EXPECT_EQ((*doc)["result"].text, "FAIL");
    EXPECT_EQ((*doc)["exitCode"].number, 2);
    EXPECT_EQ((*doc)["counts"]["ok"].number, 1);
    EXPECT_EQ((*doc)["counts"]["warn"].number, 1);
    EXPECT_EQ((*doc)["counts"]["fail"].number, 1);
    ASSERT_EQ((*doc)["changes"].items.size(), 1u);
    EXPECT_EQ((*doc)["changes"][0].text, "LoadBehavior 2 -> 3 (HKCU\\Software\\x)");
    const jsontest::Value& checks = (*doc)["checks"];
    ASSERT_EQ(checks.items.size(), 3u);
    EXPECT_EQ(checks[0]["detail"].text, "Excel 2016 at C:\\Program Files\\Excel.exe");
    EXPECT_EQ(checks[1]["id"].text, "addin-key");
    EXPECT_EQ(checks[1]["status"].text, "FAIL");
    EXPECT_EQ(checks[1]["detail"].text, "line one\nline \"two\"");
    EXPECT_EQ(checks[1]["fix"].text, "Run --fix");
    EXPECT_EQ(checks[2]["status"].text, "WARN");
    // An empty report is a document too.
    EXPECT_TRUE(jsontest::Parse(ToJson(Report{})));
}

TEST(Report, ExitCodeIsTheWorstFinding) {
    Report r;
    EXPECT_EQ(ExitCode(r), 0);
    r.checks.push_back({L"a", L"A", Status::Ok, L"", L""});
    EXPECT_EQ(ExitCode(r), 0);
    r.checks.push_back({L"b", L"B", Status::Warn, L"", L""});
    EXPECT_EQ(ExitCode(r), 1);
    r.checks.insert(r.checks.begin(), {L"c", L"C", Status::Fail, L"", L""});
    EXPECT_EQ(ExitCode(r), 2);
    Report onlyOk;
    onlyOk.checks.push_back({L"a", L"A", Status::Ok, L"", L""});
    onlyOk.fixErrors.push_back(L"could not write");
    EXPECT_EQ(ExitCode(onlyOk), 1);  // a repair that failed is never "all OK"
}

TEST(Report, TextShowsEachCheckWithItsMeaningAndTheFixOfWhatIsWrong) {
    const std::wstring text = ToText(SampleReport());
    EXPECT_NE(text.find(L"changed: LoadBehavior 2 -> 3"), std::wstring::npos);
    EXPECT_NE(text.find(L"[OK  ] Excel\r\n       Excel 2016 at"), std::wstring::npos);
    EXPECT_NE(text.find(L"[FAIL] Key\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"       Fix: Run --fix\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"[WARN] Source\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"exit code 2"), std::wstring::npos);
}

// ---- the live check's reading of the add-in's trace ----

TEST(LiveTrace, FindsTheErrorsOfTheStartedExcelOnlyFromTheStartOn) {
    const std::string since = "2026-12-11T13:50:01.123Z";
    const std::string trace =
        "2026-12-11T13:50:01.122Z 77 ERROR com OnConnection failed with 0x80004005: from an earlier start.\r\n"  // before
        "2026-12-11T13:50:01.123Z 77 ERROR com OnConnection failed with 0x80070005: Access denied.\r\n"
        "2026-12-11T13:50:02.000Z 78 ERROR com OnConnection failed with 0x8000FFFF: another Excel\r\n"          // not ours
        "2026-12-11T13:50:02.100Z 77 INFO hand-off workbook=a.xlsx\r\n"                                         // not an error
        "2026-12-11T13:50:02.200Z 77 ERROR\r\n"                                                                 // cut short
        "2026-12-11T13:50:02.300Z 7x ERROR com not a process id\r\n"
        "2026-12-11T13:50:02.400Z 77 ERROR ribbon Bestelling verwerken: caf\xC3\xA9 niet gevonden..\n"         // LF only, UTF-8
        "2026-12-11T13:50:02.500Z 177 ERROR com a process id that only ends like ours\r\n"
        "2026-12-11T13:50:02.600Z 77 ERROR com";  // the last line, unterminated and without a message
    EXPECT_EQ(TraceErrors(trace, {77}, since),
              (std::vector<std::wstring>{L"OnConnection failed with 0x80070005: Access denied",
                                         L"Bestelling verwerken: caf\u00E9 niet gevonden"}));
    EXPECT_EQ(TraceErrors(trace, {78, 177}, since).size(), 2u);
    EXPECT_TRUE(TraceErrors(trace, {}, since).empty());
    EXPECT_TRUE(TraceErrors("", {77}, since).empty());
}

}  // namespace
