#include "com/log.h"

#include "com/handles.h"
#include "com/locks.h"
#include "com/numbers.h"

#include <shlobj.h>

#include <atomic>
#include <cwctype>

namespace qvr {

namespace {

// Guards the identity, the sink and the trace folder; records from other threads (a class
// factory call, say) may come while the main thread writes.
SrwLock g_lock;
ReportedError g_lastError;  // under g_lock
LogIdentity g_identity;
EventSink g_sink;
std::wstring g_traceFolder;  // set for tests; else under %LOCALAPPDATA%
SrwLock g_fileLock;
std::atomic<int> g_level{-1};  // -1: not read yet

LogLevel ReadLevel() noexcept {
    std::wstring key;
    {
        SharedLock lock(g_lock);
        key = g_identity.settingsKey;
    }
    if (key.empty()) return kDefaultLogLevel;
    // The policy wins when it has the value at all; a value of another type counts as the default.
    const std::pair<HKEY, std::wstring> places[] = {{HKEY_LOCAL_MACHINE, L"Software\\Policies\\" + key},
                                                    {HKEY_CURRENT_USER, L"Software\\" + key}};
    for (const auto& [root, path] : places) {
        DWORD type = 0, value = 0, bytes = sizeof(value);
        LSTATUS status = RegGetValueW(root, path.c_str(), L"LogLevel", RRF_RT_ANY | RRF_NOEXPAND, &type, &value, &bytes);
        if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) continue;
        if (status != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof(DWORD) || value > 3) return kDefaultLogLevel;
        return static_cast<LogLevel>(value);
    }
    return kDefaultLogLevel;
}

bool LevelAtLeast(LogLevel level) noexcept { return CurrentLogLevel() >= level && level != LogLevel::Off; }

std::string Utf8(std::wstring_view text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// One record is one line: line breaks inside a message are shown as " | ", and every other
// character a reader or a collector could take for a line break or a control (the C0 and C1
// controls, DEL, the Unicode line and paragraph separators) as \uXXXX. A workbook name is the
// user's text: without this, a name holding U+2028 would end the record in an editor and start a
// forged one.
std::wstring OneLine(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            out += L" | ";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            out += L"\\u" + HexText(static_cast<uint32_t>(c), 4);
        } else {
            out += c;
        }
    }
    return out;
}

// A value of a record whose fields are joined with "; ": quoted (its quotes doubled) when it holds
// the separator or begins with a quote, so that no value can pass for the next field.
std::wstring Field(std::wstring_view value) {
    if (value.find(L';') == std::wstring_view::npos && (value.empty() || value.front() != L'"')) return std::wstring(value);
    std::wstring out = L"\"";
    for (wchar_t c : value) {
        if (c == L'"') out += L'"';
        out += c;
    }
    return out + L"\"";
}

std::wstring TraceFolder() {
    std::wstring folder, sub;
    {
        SharedLock lock(g_lock);
        folder = g_traceFolder;
        sub = g_identity.traceFolder;
    }
    if (!folder.empty()) return folder;
    wchar_t local[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local)) || !*local) return {};
    return std::wstring(local) + L"\\" + sub;
}

std::wstring Numbered(const std::wstring& path, int n) {
    if (n == 0) return path;
    size_t dot = path.find_last_of(L'.');
    size_t slash = path.find_last_of(L"\\/");
    std::wstring suffix = L".";
    AppendUnsigned(suffix, static_cast<unsigned>(n));
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return path + suffix;
    return path.substr(0, dot) + suffix + path.substr(dot);
}

// The current file moves to .1, .1 to .2 and so on, down from the first missing generation; only
// when none is missing does the oldest go. A generation that cannot be moved (a reader holds it
// without letting it be deleted) stops the rotation where it is: nothing is moved onto a file
// that is still there, and the next rotation starts at the same gap instead of dropping another
// generation. False when the current file was not moved (it then grows past the limit for now).
bool Rotate(const std::wstring& path) {
    int gap = 1;
    while (gap < kTraceFilesKept && GetFileAttributesW(Numbered(path, gap).c_str()) != INVALID_FILE_ATTRIBUTES) ++gap;
    if (gap == kTraceFilesKept) {
        gap = kTraceFilesKept - 1;
        if (!DeleteFileW(Numbered(path, gap).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    }
    for (int n = gap - 1; n >= 0; --n) {
        // Not MOVEFILE_REPLACE_EXISTING: a target that exists here was made by another writer
        // since the gap was found, and is kept.
        if (!MoveFileExW(Numbered(path, n).c_str(), Numbered(path, n + 1).c_str(), 0) &&
            GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
    }
    return true;
}

// Every Excel process of the user's session appends to the same trace file. The size check, the
// rotation and the append are one step for all of them, under a mutex in the session's namespace
// named after the file; without it two processes past the limit at once would both rotate, and a
// file moved twice pushes the older generations out early. A process that does not get the mutex
// in time (another one hangs holding it) still appends, and leaves the rotation to the others.
class TraceFileMutex {
public:
    explicit TraceFileMutex(const std::wstring& path) {
        std::wstring name = L"Local\\VORTELIX.Trace:";
        for (wchar_t c : path) name += c == L'\\' ? L'/' : static_cast<wchar_t>(towlower(c));
        if (name.size() >= MAX_PATH) name.resize(MAX_PATH - 1);
        mutex_.reset(CreateMutexW(nullptr, FALSE, name.c_str()));
        if (!mutex_) return;
        const DWORD waited = WaitForSingleObject(mutex_.get(), 2000);
        // Abandoned: a process ended while writing; the file is whole lines or a torn last one,
        // and the next record goes on a line of its own either way.
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~TraceFileMutex() {
        if (held_) ReleaseMutex(mutex_.get());
    }
    TraceFileMutex(const TraceFileMutex&) = delete;
    TraceFileMutex& operator=(const TraceFileMutex&) = delete;
    bool Held() const { return held_; }

private:
    unique_handle mutex_;
    bool held_ = false;
};

// Shared for reading and deleting, so that a person or a collector can read, copy or remove the
// file while Excel runs; other Excel processes append to it too.
unique_hfile OpenTrace(const std::wstring& path) {
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    unique_hfile file(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kShare, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return file;
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    if (SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr) != ERROR_SUCCESS && GetLastError() != ERROR_ALREADY_EXISTS)
        return file;
    file.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kShare, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return file;
}

void WriteTrace(const wchar_t* level, std::wstring_view area, std::wstring_view message) noexcept {
    try {
        const std::wstring path = TraceFilePath();
        if (path.empty()) return;
        SYSTEMTIME t;
        GetSystemTime(&t);
        // 2026-12-10T13:50:01.123Z <process id>
        const struct {
            unsigned value, digits;
            wchar_t after;
        } stamp[] = {{t.wYear, 4, L'-'}, {t.wMonth, 2, L'-'}, {t.wDay, 2, L'T'}, {t.wHour, 2, L':'},
                     {t.wMinute, 2, L':'}, {t.wSecond, 2, L'.'}, {t.wMilliseconds, 3, L'Z'}};
        std::wstring text;
        for (const auto& part : stamp) {
            AppendUnsigned(text, part.value, part.digits);
            text += part.after;
        }
        text += L' ';
        AppendUnsigned(text, GetCurrentProcessId());
        text += L' ';
        text += level;
        text += L' ';
        text += area;
        text += L' ';
        text += OneLine(message);
        std::string line = Utf8(text) + "\r\n";

        ExclusiveLock lock(g_fileLock);
        TraceFileMutex acrossProcesses(path);
        unique_hfile file = OpenTrace(path);
        if (!file) return;
        // The size through the open handle, under the mutex: what this process appends to.
        LARGE_INTEGER size{};
        if (acrossProcesses.Held() && GetFileSizeEx(file.get(), &size) &&
            ULONGLONG(size.QuadPart) + line.size() > kTraceRotateBytes) {
            file.reset();
            Rotate(path);
            file = OpenTrace(path);
            if (!file) return;
        }
        DWORD written = 0;
        WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    } catch (...) {
        // Dropped: logging never reaches the user.
    }
}

void ReportToEventLog(const EventRecord& record) {
    std::wstring source;
    {
        SharedLock lock(g_lock);
        source = g_identity.eventSource;
    }
    if (source.empty()) return;
    HANDLE log = RegisterEventSourceW(nullptr, source.c_str());
    if (!log) return;
    std::vector<LPCWSTR> strings;
    for (const std::wstring& s : record.strings) strings.push_back(s.c_str());
    ReportEventW(log, record.type, 0, record.id, nullptr, static_cast<WORD>(strings.size()), 0, strings.data(), nullptr);
    DeregisterEventSource(log);
}

void Report(EventRecord record) noexcept {
    try {
        EventSink sink;
        {
            SharedLock lock(g_lock);
            sink = g_sink;
        }
        if (sink)
            sink(record);
        else
            ReportToEventLog(record);
    } catch (...) {
        // Dropped: logging never reaches the user.
    }
}

}  // namespace

void ConfigureLog(LogIdentity identity) {
    {
        ExclusiveLock lock(g_lock);
        g_identity = std::move(identity);
    }
    g_level = -1;
}

LogIdentity CurrentLogIdentity() {
    SharedLock lock(g_lock);
    return g_identity;
}

EventSink SetEventSink(EventSink sink) {
    ExclusiveLock lock(g_lock);
    return std::exchange(g_sink, std::move(sink));
}

LogLevel CurrentLogLevel() noexcept {
    int level = g_level;
    if (level < 0) return ReloadLogLevel();
    return static_cast<LogLevel>(level);
}

LogLevel ReloadLogLevel() noexcept {
    LogLevel level = ReadLevel();
    g_level = static_cast<int>(level);
    return level;
}

bool VerboseLogging() noexcept { return CurrentLogLevel() >= LogLevel::Verbose; }

std::wstring TraceFilePath() {
    std::wstring file;
    {
        SharedLock lock(g_lock);
        if (g_identity.traceFile.empty()) return {};
        file = g_identity.traceFile;
    }
    std::wstring folder = TraceFolder();
    return folder.empty() ? std::wstring() : folder + L"\\" + file;
}

void SetTraceFolderForTesting(std::wstring folder) {
    ExclusiveLock lock(g_lock);
    g_traceFolder = std::move(folder);
}

std::wstring HResultHex(HRESULT hr) {
    return L"0x" + HexText(static_cast<uint32_t>(hr), 8);
}

ReportedError LastReportedError() {
    SharedLock lock(g_lock);
    return g_lastError;
}

namespace {
void RememberError(std::wstring_view where, std::wstring_view text, HRESULT code) noexcept {
    try {
        ReportedError error{std::wstring(where) + L": " + std::wstring(text), code};
        ExclusiveLock lock(g_lock);
        g_lastError = std::move(error);
    } catch (...) {
        // Kept as it was: the status is a convenience, never a reason to fail.
    }
}
}  // namespace

void LogErrorShown(std::wstring_view area, std::wstring_view text) noexcept {
    RememberError(area, text, S_OK);
    if (!LevelAtLeast(LogLevel::Errors)) return;
    WriteTrace(L"ERROR", area, text);
    try {
        Report({EVENTLOG_ERROR_TYPE, kEventErrorShown, {std::wstring(area), std::wstring(text)}});
    } catch (...) {
    }
}

void LogBoundaryError(std::wstring_view operation, HRESULT hr, std::wstring_view message, std::wstring_view where) noexcept {
    RememberError(operation, message, hr);
    if (!LevelAtLeast(LogLevel::Errors)) return;
    try {
        const std::wstring code = HResultHex(hr);
        std::wstring record = std::wstring(operation) + L" failed with " + code + L": " + std::wstring(message);
        if (!where.empty()) record += L" (at " + std::wstring(where) + L")";
        WriteTrace(L"ERROR", L"com", record);
        Report({EVENTLOG_ERROR_TYPE, kEventBoundaryError, {std::wstring(operation), code, std::wstring(message)}});
    } catch (...) {
    }
}

void LogHandOff(std::wstring_view workbook, std::wstring_view copy, std::wstring_view uploader,
                std::wstring_view source) noexcept {
    if (!LevelAtLeast(LogLevel::HandOffs)) return;
    try {
        WriteTrace(L"INFO", L"hand-off",
                   L"workbook " + Field(workbook) + L"; copy " + Field(copy) + L"; uploader " + Field(uploader) +
                       L"; original " + Field(source));
        Report({EVENTLOG_INFORMATION_TYPE, kEventHandOff,
                {std::wstring(workbook), std::wstring(copy), std::wstring(uploader), std::wstring(source)}});
    } catch (...) {
    }
}

void LogDroppedError(std::wstring_view area, std::wstring_view code, std::wstring_view message) noexcept {
    if (!LevelAtLeast(LogLevel::Errors)) return;
    try {
        WriteTrace(L"ERROR", area, L"dropped " + std::wstring(code) + L": " + std::wstring(message));
    } catch (...) {
    }
}

void LogVerbose(std::wstring_view area, std::wstring_view message) noexcept {
    if (!LevelAtLeast(LogLevel::Verbose)) return;
    WriteTrace(L"VERBOSE", area, message);
}

VerboseTimer::VerboseTimer(std::wstring_view area, std::wstring_view what) noexcept : on_(VerboseLogging()) {
    if (!on_) return;
    try {
        area_ = area;
        what_ = what;
    } catch (...) {
        on_ = false;
    }
    QueryPerformanceCounter(&start_);
}

void VerboseTimer::SetResult(std::wstring result) noexcept {
    if (on_) result_ = std::move(result);
}

VerboseTimer::~VerboseTimer() {
    if (!on_) return;
    LARGE_INTEGER end, frequency;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    const double ms = 1000.0 * double(end.QuadPart - start_.QuadPart) / double(frequency.QuadPart);
    // Milliseconds with three decimals.
    const uint64_t us = ms > 0 ? static_cast<uint64_t>(ms * 1000.0 + 0.5) : 0;
    std::wstring took = L" took ";
    AppendUnsigned(took, us / 1000);
    took += L'.';
    AppendUnsigned(took, us % 1000, 3);
    took += L" ms";
    try {
        LogVerbose(area_, what_ + (result_.empty() ? L"" : L" -> " + result_) + took);
    } catch (...) {
    }
}

}  // namespace qvr
