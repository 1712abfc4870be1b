// The rules behind two registry settings, as pure functions: what the add-in keys' LoadBehavior
// values mean together, and which log level is in force.
#pragma once

#include "healthcheck/report.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvrcheck {

// What Office does with one LoadBehavior value (0, 1, 2, 3, 8, 9, 16; anything else is unknown).
std::wstring LoadBehaviorMeaning(DWORD value);

// The add-in key of the machine and of the user, each with its LoadBehavior if it has one.
struct AddInKeys {
    bool machineKey = false, userKey = false;
    std::optional<DWORD> machine, user;
};
struct LoadBehaviorVerdict {
    Status status = Status::Ok;
    std::wstring detail, fix;
    // The user's LoadBehavior is 2, set by Office when the add-in failed or started slowly (or
    // unticked in the COM add-ins dialog): --fix sets it back to 3.
    bool userValueFixable = false;
};
// The user's value, when the user's key has one, is the one Office follows for this user.
LoadBehaviorVerdict JudgeLoadBehavior(const AddInKeys& keys);

// A registry value as it was read.
struct RawValue {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
};
std::optional<DWORD> AsDword(const std::optional<RawValue>& value);

inline constexpr DWORD kDefaultLogLevel = 2;
struct LogLevel {
    DWORD level = kDefaultLogLevel;
    std::wstring source;  // where it comes from
    bool malformed = false;  // a value is set but cannot be used: the default applies
};
std::wstring LogLevelMeaning(DWORD level);
// The machine policy (HKLM\Software\Policies\VORTELIX\Excel) wins over the user's setting
// (HKCU\Software\VORTELIX\Excel); a value that is not a DWORD, or not 0 to 3, counts as the default.
LogLevel ResolveLogLevel(const std::optional<RawValue>& policy, const std::optional<RawValue>& user);

}  // namespace qvrcheck
