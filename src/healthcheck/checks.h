// The health check of one machine and one user: what Excel, Office and Windows need for the
// VORTELIX add-in to load and work, read from the registry and the file system; and the safe
// repairs of what Office turned off.
#pragma once

#include "healthcheck/live.h"
#include "healthcheck/report.h"

#include <windows.h>

#include <string>

namespace qvrcheck {

struct Options {
    bool fix = false;          // make the safe repairs first, then check
    bool keepEnabled = false;  // with fix: list the add-in in DoNotDisableAddinList
    bool live = false;         // last, start a new Excel and see the add-in loaded (live.h)
    LiveOptions liveOptions;
};

// Excel as installed on this machine.
struct OfficeInstall {
    bool installed = false;
    std::wstring how;          // "Click-to-Run" or "Excel.exe ..."
    int bits = 0;              // 32 or 64; 0 when unknown
    std::wstring version;      // "16.0" (the key name of its version); empty when unknown
    std::wstring fullVersion;  // as reported
};
OfficeInstall FindOffice();
// The registry view a program of `bits` uses (for 0: this program's own).
REGSAM ViewFor(int bits);

Report RunHealthCheck(const Options& options);

}  // namespace qvrcheck
