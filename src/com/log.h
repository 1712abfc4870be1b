// The record an administrator can collect: errors and hand-offs in the Windows Application event
// log, and a trace file per user, both at a level set by policy. Logging never changes what the
// add-in does: nothing here throws, and a record that cannot be written is dropped.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// LogLevel (DWORD) under HKLM\Software\Policies\<settings key>, which wins, else under
// HKCU\Software\<settings key>. A value of another type, or an unknown level, counts as the default.
enum class LogLevel : DWORD { Off = 0, Errors = 1, HandOffs = 2, Verbose = 3 };
inline constexpr LogLevel kDefaultLogLevel = LogLevel::HandOffs;

// Who writes: set once by the add-in before its first record; until then nothing is written.
struct LogIdentity {
    std::wstring eventSource;  // the Application log's source, e.g. "VORTELIX Excel"
    std::wstring settingsKey;  // e.g. "VORTELIX\\Excel"
    std::wstring traceFolder;  // under %LOCALAPPDATA%, e.g. "VORTELIX\\Excel\\Logs"
    std::wstring traceFile;    // e.g. "VORTELIXExcel.log"
};
void ConfigureLog(LogIdentity identity);
// A copy, taken under the lock: the identity may be set again while another thread reads it.
LogIdentity CurrentLogIdentity();

// The event ids of the DLL's message table.
inline constexpr DWORD kEventErrorShown = 1000;      // %1 area, %2 the text the user saw
inline constexpr DWORD kEventBoundaryError = 1001;   // %1 operation, %2 HRESULT, %3 message
inline constexpr DWORD kEventHandOff = 2000;         // %1 workbook, %2 copy, %3 uploader, %4 source kept or recycled

// One event as it goes to the Application log.
struct EventRecord {
    WORD type;  // EVENTLOG_ERROR_TYPE, EVENTLOG_INFORMATION_TYPE ...
    DWORD id;
    std::vector<std::wstring> strings;
};
using EventSink = std::function<void(const EventRecord&)>;
// Replaces where events go (tests); an empty sink restores the Application log. Returns the old one.
EventSink SetEventSink(EventSink sink);

// The level in force, read once per process at its first use.
LogLevel CurrentLogLevel() noexcept;
// Reads the level again (tests, and a health check that changed it).
LogLevel ReloadLogLevel() noexcept;
bool VerboseLogging() noexcept;

// Trace file: %LOCALAPPDATA%\<trace folder>\<trace file>; the folder can be moved for tests.
std::wstring TraceFilePath();
void SetTraceFolderForTesting(std::wstring folder);
inline constexpr ULONGLONG kTraceRotateBytes = 1024 * 1024;
inline constexpr int kTraceFilesKept = 5;  // the current file and four older ones, .1 newest

// Records. Errors (level 1 and up) go to both the event log and the trace file; hand-offs (level 2
// and up) too; verbose records (level 3) to the trace file only.
void LogErrorShown(std::wstring_view area, std::wstring_view text) noexcept;
// `where`: the place in the source the error was raised, for the trace record only.
void LogBoundaryError(std::wstring_view operation, HRESULT hr, std::wstring_view message,
                      std::wstring_view where = {}) noexcept;
void LogHandOff(std::wstring_view workbook, std::wstring_view copy, std::wstring_view uploader,
                std::wstring_view source) noexcept;
void LogVerbose(std::wstring_view area, std::wstring_view message) noexcept;
// An error caught where nothing may escape and the work goes on (level 1 and up, the trace file
// only: no one was told and nothing was returned, so there is no event to collect).
void LogDroppedError(std::wstring_view area, std::wstring_view code, std::wstring_view message) noexcept;

// The last error the add-in reported, whatever the log level: the text shown to the user or
// returned to a caller (with the operation), and the HRESULT it was returned as (0 for an error
// that was only shown). Empty text when there was none in this process.
struct ReportedError {
    std::wstring text;
    HRESULT code = S_OK;
};
ReportedError LastReportedError();

// Times a step of the load sequence for the verbose trace: "<what> took N.NNN ms".
class VerboseTimer {
public:
    VerboseTimer(std::wstring_view area, std::wstring_view what) noexcept;
    ~VerboseTimer();
    VerboseTimer(const VerboseTimer&) = delete;
    VerboseTimer& operator=(const VerboseTimer&) = delete;
    // The step's outcome, written with its time (an HRESULT's text, say).
    void SetResult(std::wstring result) noexcept;

private:
    bool on_;
    std::wstring area_, what_, result_;
    LARGE_INTEGER start_{};
};

// "0x80004005" for an HRESULT.
std::wstring HResultHex(HRESULT hr);

}  // namespace qvr
