// The add-in's source in the Windows Application log: registered with the DLL as its message file,
// so that Event Viewer and event collectors render the add-in's events as text.
#include "server/registration.h"

#include "com/log.h"
#include "com/numbers.h"

#include <windows.h>

#include <string>

namespace qvr {

namespace {

std::wstring EventSourceKey(const std::wstring& source) {
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
}

}  // namespace

// Logging never decides whether the add-in is registered: a source that cannot be written leaves
// its events without text in Event Viewer, and the trace file says so.
void RegisterAddInEventSource(const std::wstring& dllPath) noexcept {
    const std::wstring source = CurrentLogIdentity().eventSource;
    if (source.empty()) return;
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey(source).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        status = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(dllPath.c_str()),
                                static_cast<DWORD>((dllPath.size() + 1) * sizeof(wchar_t)));
        if (status == ERROR_SUCCESS)
            status = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                                    sizeof(types));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS)
        LogVerbose(L"registration", L"the event-log source " + source + L" cannot be registered: error " +
                                        qvr::DecimalText(status));
}

// Removed only when it is this DLL's, or names a file that is gone: another installation's source
// stays.
void UnregisterAddInEventSource(const std::wstring& dllPath) noexcept {
    const std::wstring source = CurrentLogIdentity().eventSource;
    if (source.empty()) return;
    const std::wstring path = EventSourceKey(source);
    wchar_t file[MAX_PATH * 2] = {};
    DWORD bytes = sizeof(file);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"EventMessageFile", RRF_RT_REG_EXPAND_SZ | RRF_RT_REG_SZ | RRF_NOEXPAND,
                     nullptr, file, &bytes) == ERROR_SUCCESS) {
        wchar_t expanded[MAX_PATH * 2] = {};
        ExpandEnvironmentStringsW(file, expanded, MAX_PATH * 2);
        if (_wcsicmp(expanded, dllPath.c_str()) != 0 && GetFileAttributesW(expanded) != INVALID_FILE_ATTRIBUTES) return;
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

}  // namespace qvr
