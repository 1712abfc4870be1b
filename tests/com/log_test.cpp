// The administrator's record: the level by policy, the trace file's lines and rotation, the
// events and their texts in the DLL's message table, and that logging never gets in the way.
#include "com/error.h"
#include "com/log.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace {

const wchar_t kSettings[] = L"VORTELIXLogTest\\Excel";

std::wstring TempFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name;
    return folder;
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + L"\\" + name);
            else
                DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

std::string ReadAll(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string out(GetFileSize(f, nullptr), '\0');
    DWORD read = 0;
    ReadFile(f, out.data(), static_cast<DWORD>(out.size()), &read, nullptr);
    CloseHandle(f);
    out.resize(read);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void SetLevelValue(HKEY root, const std::wstring& path, const BYTE* data, DWORD bytes, DWORD type) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"LogLevel", 0, type, data, bytes));
    RegCloseKey(key);
}

class Log : public ::testing::Test {
public:
    void SetUp() override {
        folder_ = TempFolder(L"qvr-log-test");
        RemoveTree(folder_);
        qvr::ConfigureLog({L"VORTELIX Excel", kSettings, L"unused", L"VORTELIXExcel.log"});
        qvr::SetTraceFolderForTesting(folder_ + L"\\Logs");
        ClearLevels();
        previous_ = qvr::SetEventSink([this](const qvr::EventRecord& r) { events_.push_back(r); });
    }
    void TearDown() override {
        qvr::SetEventSink(previous_);
        qvr::SetTraceFolderForTesting({});
        ClearLevels();
        RemoveTree(folder_);
    }
    void ClearLevels() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Policies\\") + kSettings).c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\") + kSettings).c_str());
        qvr::ReloadLogLevel();
    }
    void SetLevel(HKEY root, DWORD level) {
        const std::wstring path = root == HKEY_LOCAL_MACHINE ? std::wstring(L"Software\\Policies\\") + kSettings
                                                             : std::wstring(L"Software\\") + kSettings;
        SetLevelValue(root, path, reinterpret_cast<const BYTE*>(&level), sizeof(level), REG_DWORD);
        qvr::ReloadLogLevel();
    }
    std::string Trace() { return ReadAll(qvr::TraceFilePath()); }

    std::wstring folder_;
    std::vector<qvr::EventRecord> events_;
    qvr::EventSink previous_;
};

TEST_F(Log, ThePolicyWinsAndAValueOfAnotherTypeCountsAsTheDefault) {
    struct Case {
        const char* what;
        std::function<void(Log&)> set;
        qvr::LogLevel expected;
    };
    const std::wstring policy = std::wstring(L"Software\\Policies\\") + kSettings;
    const std::wstring user = std::wstring(L"Software\\") + kSettings;
    const Case cases[] = {
        {"nothing set", [](Log&) {}, qvr::LogLevel::HandOffs},
        {"user verbose", [](Log& t) { t.SetLevel(HKEY_CURRENT_USER, 3); }, qvr::LogLevel::Verbose},
        {"policy off over user verbose",
         [](Log& t) {
             t.SetLevel(HKEY_CURRENT_USER, 3);
             t.SetLevel(HKEY_LOCAL_MACHINE, 0);
         },
         qvr::LogLevel::Off},
        {"policy errors", [](Log& t) { t.SetLevel(HKEY_LOCAL_MACHINE, 1); }, qvr::LogLevel::Errors},
        {"policy as text over user verbose",
         [&](Log& t) {
             t.SetLevel(HKEY_CURRENT_USER, 3);
             const wchar_t text[] = L"3";
             SetLevelValue(HKEY_LOCAL_MACHINE, policy, reinterpret_cast<const BYTE*>(text), sizeof(text), REG_SZ);
         },
         qvr::LogLevel::HandOffs},
        {"user level out of range", [](Log& t) { t.SetLevel(HKEY_CURRENT_USER, 7); }, qvr::LogLevel::HandOffs},
        {"user level as QWORD",
         [&](Log&) {
             const ULONGLONG three = 3;
             SetLevelValue(HKEY_CURRENT_USER, user, reinterpret_cast<const BYTE*>(&three), sizeof(three), REG_QWORD);
         },
         qvr::LogLevel::HandOffs},
    };
    for (const Case& c : cases) {
        ClearLevels();
        c.set(*this);
        EXPECT_EQ(c.expected, qvr::ReloadLogLevel()) << c.what;
    }
}

TEST_F(Log, EachLevelWritesItsRecordsAndNoMore) {
    struct Case {
        DWORD level;
        size_t traceLines;
        size_t events;
    };
    // Each round: one error shown, one error at a COM boundary, one hand-off, one verbose record.
    const Case cases[] = {{0, 0, 0}, {1, 2, 2}, {2, 3, 3}, {3, 4, 3}};
    for (const Case& c : cases) {
        RemoveTree(folder_);
        events_.clear();
        SetLevel(HKEY_CURRENT_USER, c.level);
        qvr::LogErrorShown(L"hand-off", L"Error creating work directory.");
        qvr::LogBoundaryError(L"OnConnection", E_ACCESSDENIED, L"denied");
        qvr::LogHandOff(L"C:\\orders\\a.xlsx", L"C:\\temp\\VortelixExcel\\Order.xlsx", L"started", L"recycled");
        qvr::LogVerbose(L"ribbon", L"GetCustomUI");
        EXPECT_EQ(c.traceLines, Lines(Trace()).size()) << "level " << c.level;
        EXPECT_EQ(c.events, events_.size()) << "level " << c.level;
    }
}

TEST_F(Log, AnErrorDroppedWhereNothingMayEscapeGoesToTheTraceOnly) {
    struct Case {
        DWORD level;
        size_t traceLines;
    };
    for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{3, 1}}) {
        RemoveTree(folder_);
        events_.clear();
        SetLevel(HKEY_CURRENT_USER, c.level);
        try {
            throw qvr::EqvrError(L"The SupportedApps property cannot be empty.", qvr::kErrEmptyProperty,
                                 qvr::ErrorKind::Ole);
        } catch (...) {
            qvr::RecordDroppedError(L"keyboard hook");
        }
        const std::vector<std::string> lines = Lines(Trace());
        ASSERT_EQ(c.traceLines, lines.size()) << "level " << c.level;
        EXPECT_TRUE(events_.empty()) << "level " << c.level;
        if (lines.empty()) continue;
        EXPECT_NE(std::string::npos, lines[0].find(" ERROR keyboard hook dropped 0x8004797D: "
                                                   "The SupportedApps property cannot be empty."))
            << lines[0];
    }
}

TEST_F(Log, AFailedCallIsRecordedWithThePlaceItWasMadeFrom) {
    SetLevel(HKEY_CURRENT_USER, 1);
    int line = 0;
    const HRESULT hr = qvr::ComBoundary(IID_IUnknown, L"test", L"Probe", [&] {
        line = __LINE__ + 1;
        qvr::ThrowIfFailed(E_ACCESSDENIED);
        return S_OK;
    });
    EXPECT_EQ(E_ACCESSDENIED, hr);
    try {
        throw qvr::EqvrError(L"No place known.");
    } catch (...) {
        qvr::RecordDroppedError(L"probe");
    }
    const std::vector<std::string> lines = Lines(Trace());
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(" ERROR com Probe failed with 0x80070005: ")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("(at tests/com/log_test.cpp:" + std::to_string(line) + ")")) << lines[0];
    EXPECT_EQ(std::string::npos, lines[1].find("(at ")) << "an error raised without a place names none: " << lines[1];
    EXPECT_EQ(L"", qvr::EqvrError(L"x").Where());
}

TEST_F(Log, TraceLinesCarryTimeProcessLevelAreaAndOneLineOfUtf8) {
    qvr::LogErrorShown(L"hand-off", L"Kan de werkmap niet maken.\r\nHet origineel is bewaard: geïnstalleerd");
    qvr::LogBoundaryError(L"GetCustomUI", E_OUTOFMEMORY, L"no memory");
    const std::vector<std::string> lines = Lines(Trace());
    ASSERT_EQ(2u, lines.size());
    const std::regex shape(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\d+) (ERROR|INFO|VERBOSE) (\S+) (.*)\r$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, shape)) << lines[0];
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), m[1]);
    EXPECT_EQ("ERROR", m[2]);
    EXPECT_EQ("hand-off", m[3]);
    EXPECT_EQ("Kan de werkmap niet maken. | Het origineel is bewaard: ge\xC3\xAFnstalleerd", m[4]);
    ASSERT_TRUE(std::regex_match(lines[1], m, shape)) << lines[1];
    EXPECT_EQ("com", m[3]);
    EXPECT_EQ("GetCustomUI failed with 0x8007000E: no memory", m[4]);
}

// A workbook's name is the user's text. Whatever it holds, its hand-off stays one record whose
// fields read as they were written: no line or paragraph separator, control or field separator
// of the name makes a second, forged record or field.
TEST_F(Log, AWorkbookNameCannotForgeARecordOrAField) {
    struct Case {
        const wchar_t* name;
        const char* written;
    };
    for (const Case& c : {
             Case{L"C:\\orders\\a.xlsx\u2028; original moved to the Recycle Bin",
                  "\"C:\\orders\\a.xlsx\\u2028; original moved to the Recycle Bin\""},
             Case{L"b\u2029c.xlsx", "b\\u2029c.xlsx"},
             Case{L"d\u0085e\x1b[2Jf\tg\x7f.xlsx", "d\\u0085e\\u001B[2Jf\\u0009g\\u007F.xlsx"},
             Case{L"\"quoted\" \"twice\".xlsx", "\"\"\"quoted\"\" \"\"twice\"\".xlsx\""},
             Case{L"na\u00efef.xlsx", "na\xC3\xAF" "ef.xlsx"},
         }) {
        DeleteFileW(qvr::TraceFilePath().c_str());
        qvr::LogHandOff(c.name, L"C:\\t\\Order.xlsx", L"started", L"kept: it could not be recycled");
        const std::vector<std::string> lines = Lines(Trace());
        ASSERT_EQ(1u, lines.size()) << c.written;
        EXPECT_NE(std::string::npos,
                  lines[0].find(std::string(" INFO hand-off workbook ") + c.written +
                                "; copy C:\\t\\Order.xlsx; uploader started; original kept: it could not be recycled\r"))
            << lines[0];
    }
}

TEST_F(Log, TheTraceRotatesAtOneMegabyteAndKeepsFiveFiles) {
    const std::wstring line(1000, L'x');
    for (int i = 0; i < 6000; ++i) qvr::LogErrorShown(L"test", line);  // about 6 MB
    const std::wstring path = qvr::TraceFilePath();
    const std::wstring base = path.substr(0, path.size() - 4);
    const std::wstring names[] = {path, base + L".1.log", base + L".2.log", base + L".3.log", base + L".4.log"};
    for (const std::wstring& name : names) {
        WIN32_FILE_ATTRIBUTE_DATA info{};
        ASSERT_TRUE(GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &info)) << "missing";
        EXPECT_EQ(0u, info.nFileSizeHigh);
        EXPECT_LE(info.nFileSizeLow, qvr::kTraceRotateBytes);
        if (name != path) {
            EXPECT_GT(info.nFileSizeLow, qvr::kTraceRotateBytes - 2048) << "rotated early";
        }
    }
    EXPECT_FALSE(qvrtest::Exists(base + L".5.log"));
    // Each file holds whole lines only.
    for (const std::string& l : Lines(ReadAll(names[1]))) EXPECT_EQ('\r', l.back());
}

// Every generation of the trace, newest first, as lines.
std::vector<std::string> AllGenerations(const std::wstring& path) {
    const std::wstring base = path.substr(0, path.size() - 4);
    std::vector<std::string> lines;
    for (int n = 0; n < qvr::kTraceFilesKept + 1; ++n) {
        const std::wstring name = n == 0 ? path : base + L"." + std::to_wstring(n) + L".log";
        for (std::string& l : Lines(ReadAll(name))) lines.push_back(std::move(l));
    }
    return lines;
}

// Two Excel processes of one user write past the limit at the same moment. Together they write
// about 3.4 MB, which the five files hold: every record of both is kept, once.
TEST_F(Log, TwoProcessesWritingPastTheLimitAtOnceLoseNoRecord) {
    const int records = 3400;  // each about 500 bytes, per process
    const std::wstring event = L"VORTELIXTraceWritersGo" + std::to_wstring(GetCurrentProcessId());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
    ASSERT_NE(nullptr, go);
    const std::wstring writer = qvrtest::ProgramFolder() + L"trace_writer.exe";
    std::vector<PROCESS_INFORMATION> writers;
    for (const wchar_t* tag : {L"A", L"B"}) {
        std::wstring line = L"\"" + writer + L"\" \"" + folder_ + L"\\Logs\" " + tag + L" " + std::to_wstring(records) +
                            L" " + event;
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            << GetLastError();
        writers.push_back(pi);
    }
    SetEvent(go);
    for (PROCESS_INFORMATION& pi : writers) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 120000));
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(0u, code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(go);

    std::map<std::string, std::vector<int>> seen{{"A", std::vector<int>(records)}, {"B", std::vector<int>(records)}};
    const std::regex record(" ERROR ([AB]) dropped ([0-9]+): \\.+\r$");
    for (const std::string& l : AllGenerations(qvr::TraceFilePath())) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(l, m, record)) << "a torn or mixed line: " << l.substr(0, 80);
        ++seen[m[1]][std::stoi(m[2])];
    }
    for (auto& [tag, counts] : seen) {
        int lost = 0, twice = 0;
        for (int c : counts) lost += c == 0, twice += c > 1;
        EXPECT_EQ(0, lost) << "records of process " << tag << " lost";
        EXPECT_EQ(0, twice) << "records of process " << tag << " written twice";
    }
}

// A reader holds one older generation open without letting it be moved (as some editors do). The
// rotation stops at that file instead of moving another generation onto one still there: every
// generation but the oldest, which a rotation drops, is still found in full.
TEST_F(Log, AGenerationThatCannotBeMovedStopsTheRotationAndNothingIsOverwritten) {
    const std::wstring path = qvr::TraceFilePath();
    const std::wstring line(1000, L'x');
    auto size = [&] {
        WIN32_FILE_ATTRIBUTE_DATA info{};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info);
        return info.nFileSizeLow;
    };
    // Full files, each holding a record naming its generation: .1 holds 0, .2 holds 1 and so on.
    for (int generation = 5; generation >= 0; --generation) {
        qvr::LogErrorShown(L"generation", std::to_wstring(generation));
        for (DWORD before = 0; before <= size();) {  // until the file rotates
            before = size();
            qvr::LogErrorShown(L"test", line);
        }
    }
    const std::wstring second = path.substr(0, path.size() - 4) + L".2.log";
    ASSERT_NE(std::string::npos, ReadAll(second).find("generation 1"));
    HANDLE reader = CreateFileW(second.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    for (int i = 0; i < 2500; ++i) qvr::LogErrorShown(L"test", line);  // past the limit again and again
    CloseHandle(reader);
    std::string all;
    for (const std::string& l : AllGenerations(path)) all += l;
    // Generation 3 went with the first rotation (the oldest goes); 0 to 2 are kept.
    for (int generation : {0, 1, 2}) {
        EXPECT_NE(std::string::npos, all.find("generation " + std::to_string(generation)))
            << "generation " << generation << " lost";
    }
}

TEST_F(Log, TheTraceCanBeReadAndDeletedWhileTheAddInWrites) {
    qvr::LogErrorShown(L"test", L"first");
    const std::wstring path = qvr::TraceFilePath();
    // A reader (an editor, a collector) holds the file open as such programs do.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    qvr::LogErrorShown(L"test", L"second");
    CloseHandle(reader);
    EXPECT_EQ(2u, Lines(Trace()).size());
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    qvr::LogErrorShown(L"test", L"third");
    EXPECT_EQ(1u, Lines(Trace()).size());
}

TEST_F(Log, ARecordThatCannotBeWrittenIsDroppedAndNothingEscapes) {
    // The trace folder's place is taken by a file; the event sink throws.
    CreateDirectoryW(folder_.c_str(), nullptr);
    HANDLE blocker = CreateFileW((folder_ + L"\\Logs").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, blocker);
    CloseHandle(blocker);
    int calls = 0;
    qvr::SetEventSink([&](const qvr::EventRecord&) {
        ++calls;
        throw std::runtime_error("sink down");
    });
    SetLevel(HKEY_CURRENT_USER, 3);
    EXPECT_NO_THROW({
        qvr::LogErrorShown(L"test", L"lost");
        qvr::LogHandOff(L"a", L"b", L"c", L"d");
        qvr::LogBoundaryError(L"x", E_FAIL, L"y");
        qvr::VerboseTimer timer(L"test", L"step");
        timer.SetResult(L"S_OK");
    });
    EXPECT_EQ(3, calls) << "each event was offered to the sink";
    const DWORD attributes = GetFileAttributesW((folder_ + L"\\Logs").c_str());
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_DIRECTORY) << "the file in the folder's place was left as it was";
    EXPECT_FALSE(qvrtest::Exists(qvr::TraceFilePath()));
}

TEST_F(Log, EventsCarryTheirIdsTypesAndStrings) {
    qvr::LogErrorShown(L"hand-off", L"Error creating work directory.");
    qvr::LogBoundaryError(L"OnConnection", E_ACCESSDENIED, L"denied");
    qvr::LogHandOff(L"C:\\orders\\a.xlsx", L"C:\\t\\Order.xlsx", L"started", L"recycled");
    ASSERT_EQ(3u, events_.size());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, events_[0].type);
    EXPECT_EQ(qvr::kEventErrorShown, events_[0].id);
    EXPECT_EQ((std::vector<std::wstring>{L"hand-off", L"Error creating work directory."}), events_[0].strings);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, events_[1].type);
    EXPECT_EQ((std::vector<std::wstring>{L"OnConnection", L"0x80070005", L"denied"}), events_[1].strings);
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, events_[2].type);
    EXPECT_EQ(qvr::kEventHandOff, events_[2].id);
}

// Event Viewer renders an event from the DLL's message table with the event's strings.
TEST(EventMessages, TheDllRendersEveryEventWithItsStrings) {
    HMODULE dll = LoadLibraryExW(qvrtest::AddInDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, dll);
    struct Case {
        DWORD id;
        std::vector<const wchar_t*> strings;
        std::wstring expected;
    };
    const Case cases[] = {
        {qvr::kEventErrorShown, {L"hand-off", L"Error creating work directory."},
         L"The add-in showed an error to the user (hand-off):\r\nError creating work directory."},
        {qvr::kEventBoundaryError, {L"OnConnection", L"0x80070005", L"denied"},
         L"An error was returned to Office by OnConnection (HRESULT 0x80070005):\r\ndenied"},
        {qvr::kEventHandOff, {L"C:\\o\\a.xlsx", L"C:\\t\\Order.xlsx", L"started", L"kept: read-only"},
         L"An order was handed to the uploader.\r\nWorkbook: C:\\o\\a.xlsx\r\nCopy: C:\\t\\Order.xlsx\r\n"
         L"Uploader: started\r\nOriginal file: kept: read-only"},
    };
    for (const Case& c : cases) {
        wchar_t* text = nullptr;
        DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 dll, c.id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<LPWSTR>(&text), 0,
                                 reinterpret_cast<va_list*>(const_cast<wchar_t**>(c.strings.data())));
        ASSERT_NE(0u, n) << "event " << c.id << " missing from the message table";
        std::wstring rendered(text, n);
        LocalFree(text);
        while (!rendered.empty() && (rendered.back() == L'\n' || rendered.back() == L'\r')) rendered.pop_back();
        EXPECT_EQ(c.expected, rendered) << c.id;
    }
    FreeLibrary(dll);
}

}  // namespace
