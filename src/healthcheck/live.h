// The live check: proof that this desk's Excel loads the add-in. A new, invisible Excel is
// started through COM (the program registered for Excel.Application, never one that already
// runs), the add-in is looked up in Application.COMAddIns by its ProgID, its connection and its
// own status object are read, and the Excel that was started, and only that one, quits without
// saving. Everything happens within a time limit; an Excel that does not finish in time is ended.
#pragma once

#include "healthcheck/report.h"

#include <windows.h>

#include <string>
#include <vector>

namespace qvrcheck {

struct LiveOptions {
    bool evenIfRunning = false;    // start an Excel of its own even while Excel runs
    DWORD timeoutSeconds = 120;    // for the whole run: start-up, the add-in's answers and Quit
};
inline constexpr DWORD kMaxLiveTimeoutSeconds = 3600;

// The trace file the add-in writes for this user.
std::wstring AddInTraceFile();

// What the live run found, for the verdict.
struct LiveFacts {
    enum class Stage {
        NotInstalled,  // no program registered as Excel.Application
        Running,       // Excel runs and no second one was to be started
        StartFailed,   // COM could not start Excel
        TimedOut,      // the run did not end within the time limit
        Finished,      // Excel started and answered
    };
    Stage stage = Stage::Finished;
    std::wstring program;           // Excel's program, as registered
    std::vector<DWORD> running;     // the Excel processes that ran before (Stage::Running)
    std::vector<DWORD> started;     // the process started for the check
    HRESULT startError = S_OK;      // Stage::StartFailed
    DWORD timeoutSeconds = 0;
    double seconds = 0;             // how long the run took
    std::wstring excelVersion;
    HRESULT listError = S_OK;       // looking the add-in up in COMAddIns
    bool connected = false;
    bool hasObject = false;
    std::wstring addInVersion;
    bool ribbonLoaded = false;
    std::wstring lastErrorText;
    LONG lastErrorCode = 0;
    std::wstring statusError;       // reading the add-in's object failed: what and why
    std::vector<std::wstring> addInErrors;  // the add-in's error records from the started Excel
    std::wstring traceFile;
    std::vector<const Check*> turnedOff;    // the checks before the run that say Excel will not load it
    bool endedByForce = false;      // Excel was still there after Quit and was ended
};

// The check that reports the facts, in plain words.
Check LiveVerdict(const LiveFacts& facts);

// Runs the live check. `before`: the report's other checks, made just before.
Check RunLiveCheck(const LiveOptions& options, const std::vector<Check>& before);

// The error records ("ERROR" lines) of the given processes in the add-in's trace text, from
// `since` on (a time stamp as the trace writes it, "2026-12-11T13:50:01.123Z"): each record's
// message, without its area and closing full stop.
std::vector<std::wstring> TraceErrors(const std::string& traceText, const std::vector<DWORD>& processes,
                                      const std::string& since);

}  // namespace qvrcheck
