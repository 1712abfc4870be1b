// VORTELIXExcelCheck: checks one machine and one user for what the VORTELIX Excel add-in needs,
// prints each finding as OK, WARN or FAIL with what it means and how to fix it, and exits with
// 0 (all OK), 1 (warnings) or 2 (failures); 3 when the command line is wrong.
//   VORTELIXExcelCheck [--json] [--fix [--keep-enabled]] [--live [--live-even-if-running] [--live-timeout <s>]]
#include "healthcheck/checks.h"
#include "healthcheck/report.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

const wchar_t kUsage[] =
    L"Usage: VORTELIXExcelCheck [--json] [--fix [--keep-enabled]] [--live [--live-even-if-running] [--live-timeout <s>]]\r\n"
    L"  Checks Excel, the add-in's registration and Office's lists of turned-off add-ins for this user.\r\n"
    L"  --json          one JSON document instead of text\r\n"
    L"  --fix           turn the add-in back on where Office turned it off (this user only), then check\r\n"
    L"  --keep-enabled  with --fix: list the add-in in DoNotDisableAddinList, so that Office keeps it on\r\n"
    L"  --live          last, start a new invisible Excel, see whether it connects the add-in and loads its\r\n"
    L"                  ribbon, and quit that Excel again without saving; never while Excel runs\r\n"
    L"  --live-even-if-running  start the live check's own Excel even while Excel runs (the running one is left alone)\r\n"
    L"  --live-timeout <s>      give Excel this many seconds for the live check (default 120)\r\n"
    L"Exit code: 0 all OK, 1 warnings, 2 failures, 3 wrong command line.\r\n";

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void WriteBytes(HANDLE out, const std::string& bytes) {
    DWORD written = 0;
    for (size_t at = 0; at < bytes.size(); at += written)
        if (!WriteFile(out, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written, nullptr) || !written) return;
}

// Text goes to a console as UTF-16 (any code page shows it), and to a file or pipe as UTF-8.
void WriteText(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    else WriteBytes(out, Utf8(text));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    qvrcheck::Options options;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--json" || a == L"/json") json = true;
        else if (a == L"--fix" || a == L"/fix") options.fix = true;
        else if (a == L"--keep-enabled" || a == L"/keep-enabled") options.keepEnabled = true;
        else if (a == L"--live" || a == L"/live") options.live = true;
        else if (a == L"--live-even-if-running" || a == L"/live-even-if-running")
            options.live = options.liveOptions.evenIfRunning = true;
        else if ((a == L"--live-timeout" || a == L"/live-timeout") && i + 1 < argc) {
            wchar_t* end = nullptr;
            const unsigned long seconds = std::wcstoul(argv[++i], &end, 10);
            if (!end || *end || seconds == 0 || seconds > qvrcheck::kMaxLiveTimeoutSeconds) {
                WriteText(std::wstring(L"--live-timeout takes a number of seconds from 1 to 3600.\r\n") + kUsage);
                return 3;
            }
            options.liveOptions.timeoutSeconds = static_cast<DWORD>(seconds);
            options.live = true;
        }
        else if (a == L"--help" || a == L"-h" || a == L"/?") {
            WriteText(kUsage);
            return 0;
        } else {
            WriteText(L"Unknown argument: " + a + L"\r\n" + kUsage);
            return 3;
        }
    }
    if (options.keepEnabled && !options.fix) {
        WriteText(std::wstring(L"--keep-enabled changes the registry and goes with --fix.\r\n") + kUsage);
        return 3;
    }
    qvrcheck::Report report = qvrcheck::RunHealthCheck(options);
    if (json) WriteBytes(GetStdHandle(STD_OUTPUT_HANDLE), qvrcheck::ToJson(report));
    else WriteText(qvrcheck::ToText(report));
    return qvrcheck::ExitCode(report);
}
