#include "healthcheck/policy.h"

namespace qvrcheck {

std::wstring LoadBehaviorMeaning(DWORD value) {
    switch (value) {
        case 0: return L"0: not loaded, and not loaded at start-up";
        case 1: return L"1: loaded by hand only, not at start-up";
        case 2: return L"2: not loaded; Office sets this when the add-in failed or was slow to start, or when it was unticked under COM Add-ins";
        case 3: return L"3: loaded at start-up";
        case 8: return L"8: loaded on demand only (when a ribbon control needs it)";
        case 9: return L"9: loaded on demand, now loaded";
        case 16: return L"16: loaded at the first start-up only, then on demand";
        default: return std::to_wstring(value) + L": a value Office does not know; the add-in is not loaded";
    }
}

LoadBehaviorVerdict JudgeLoadBehavior(const AddInKeys& keys) {
    LoadBehaviorVerdict v;
    auto describe = [](bool exists, const std::optional<DWORD>& value) -> std::wstring {
        if (!exists) return L"no key";
        return value ? LoadBehaviorMeaning(*value) : L"key without a LoadBehavior DWORD";
    };
    const std::wstring both = L"machine (HKLM): " + describe(keys.machineKey, keys.machine) + L"; user (HKCU): " +
                              describe(keys.userKey, keys.user) + L".";
    const std::optional<DWORD> effective = keys.user ? keys.user : keys.machine;
    const wchar_t* reregister =
        L"Reinstall the package for Office's bitness, or register the DLL again with regsvr32 (elevated).";
    if (!keys.machineKey && !keys.userKey) {
        v.status = Status::Fail;
        v.detail = L"Excel has no add-in key for VORTELIXExcel.coVORTELIXExcel and does not know the add-in.";
        v.fix = reregister;
        return v;
    }
    if (!effective) {
        v.status = Status::Fail;
        v.detail = both + L" Without a LoadBehavior Excel does not load the add-in.";
        v.fix = reregister;
        return v;
    }
    if (*effective == 3) {
        v.detail = both + L" Excel loads the add-in at start-up.";
        return v;
    }
    // The user's 2 is Office's doing only where the machine does not say otherwise: against a
    // machine key that keeps the add-in off as well, it may be the administrator's wish.
    if (*effective == 2 && keys.user && (!keys.machine || *keys.machine == 3)) {
        v.status = Status::Fail;
        v.userValueFixable = true;
        v.detail = both + (keys.machine == 3u
                               ? L" The user's 2 against the machine's 3 means Office turned the add-in off after a "
                                 L"failed or slow start."
                               : L" Office turned the add-in off for this user after a failed or slow start (or it was "
                                 L"unticked under COM Add-ins).");
        v.fix = L"Run VORTELIXExcelCheck --fix (sets it back to 3), or in Excel tick it under File > Options > "
                L"Add-ins > COM Add-ins. Office turns it off again if the next start fails too.";
        return v;
    }
    if (*effective == 1 || *effective == 8 || *effective == 9 || *effective == 16) {
        v.status = Status::Warn;
        v.detail = both + L" The add-in does not load at every start-up, so the tab VORTELIX can be missing.";
        v.fix = reregister;
        return v;
    }
    v.status = Status::Fail;
    v.detail = both + L" Excel does not load the add-in at start-up.";
    v.fix = reregister;
    return v;
}

std::optional<DWORD> AsDword(const std::optional<RawValue>& value) {
    if (!value || value->type != REG_DWORD || value->data.size() != 4) return std::nullopt;
    return static_cast<DWORD>(value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
                              static_cast<DWORD>(value->data[3]) << 24);
}

std::wstring LogLevelMeaning(DWORD level) {
    switch (level) {
        case 0: return L"0 (off)";
        case 1: return L"1 (errors)";
        case 2: return L"2 (errors and hand-offs)";
        case 3: return L"3 (verbose)";
        default: return std::to_wstring(level);
    }
}

LogLevel ResolveLogLevel(const std::optional<RawValue>& policy, const std::optional<RawValue>& user) {
    LogLevel result;
    const std::optional<RawValue>& chosen = policy ? policy : user;
    if (!chosen) {
        result.source = L"default (no LogLevel value is set)";
        return result;
    }
    result.source = policy ? L"machine policy HKLM\\Software\\Policies\\VORTELIX\\Excel"
                           : L"user setting HKCU\\Software\\VORTELIX\\Excel";
    std::optional<DWORD> value = AsDword(chosen);
    if (!value || *value > 3) {
        result.malformed = true;
        return result;
    }
    result.level = *value;
    return result;
}

}  // namespace qvrcheck
