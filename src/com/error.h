// The framework's one error type and the single place where errors cross a COM boundary.
#pragma once

#include "com/handles.h"
#include "com/log.h"

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace qvr {

// How an error is treated where it meets COM: an OLE error keeps its own (negative) code,
// a silent abort becomes 0xA0004004, anything else E_UNEXPECTED.
enum class ErrorKind { Other, Ole, Abort };

inline constexpr HRESULT kSilentAbortResult = static_cast<HRESULT>(0xA0004004);

// The framework's own error numbers: an error's Code() when the framework raised it. They are
// numbers, not HRESULTs; FrameworkErrorResult gives the failure HRESULT that keeps the number.
inline constexpr int32_t kErrEmptyProperty = 31101;
inline constexpr int32_t kErrLegacyUnregister = 31103;
inline constexpr int32_t kErrRegistrationCancelled = 31105;
inline constexpr int32_t kErrWrongParent = 31112;
inline constexpr int32_t kErrWrongOwner = 31113;
inline constexpr int32_t kErrSecondLauncher = 31119;
inline constexpr int32_t kErrCollectionLimit = 31120;

// Framework error numbers lie in 31000-31999. The failure HRESULT of such a number (the
// interface facility, the number as its code), and back: the number such an HRESULT carries, 0
// for any other value.
constexpr bool IsFrameworkErrorNumber(int32_t number) noexcept { return number >= 31000 && number <= 31999; }
constexpr HRESULT FrameworkErrorResult(int32_t number) noexcept {
    return static_cast<HRESULT>(0x80000000u | (static_cast<uint32_t>(FACILITY_ITF) << 16) |
                                (static_cast<uint32_t>(number) & 0xFFFFu));
}
constexpr int32_t FrameworkErrorNumber(HRESULT hr) noexcept {
    const int32_t number = static_cast<int32_t>(static_cast<uint32_t>(hr) & 0xFFFFu);
    return hr == FrameworkErrorResult(number) && IsFrameworkErrorNumber(number) ? number : 0;
}

class EqvrError : public std::exception {
public:
    explicit EqvrError(std::wstring message, HRESULT code = 0, ErrorKind kind = ErrorKind::Other,
                       DWORD helpContext = 0);

    const std::wstring& Message() const noexcept { return message_; }
    // A negative code is an HRESULT; a positive one a framework error number (kErr...).
    HRESULT Code() const noexcept { return code_; }
    // The error as one failure HRESULT that loses nothing: the code of an OLE error, the HRESULT
    // of a framework error number, 0xA0004004 for a silent abort, E_UNEXPECTED otherwise.
    HRESULT Result() const noexcept;
    ErrorKind Kind() const noexcept { return kind_; }
    DWORD HelpContext() const noexcept { return helpContext_; }
    const char* what() const noexcept override { return narrow_.c_str(); }
    // Where in the source the error was raised ("src/module/excel_app.cpp:120"), for the
    // administrator's record; empty when it is not known.
    std::wstring Where() const;
    EqvrError& At(const char* file, int line) noexcept {
        file_ = file;
        line_ = line;
        return *this;
    }

private:
    std::wstring message_;
    std::string narrow_;
    HRESULT code_;
    ErrorKind kind_;
    DWORD helpContext_;
    const char* file_ = nullptr;  // a string literal of the compiler's: it lives as long as the DLL
    int line_ = 0;
};

// Sprintf-like formatting with the framework's message templates: each %s or %d takes the next
// argument as text, %% is a percent sign.
std::wstring FormatText(std::wstring_view pattern, std::initializer_list<std::wstring_view> args);

// The system's message for an HRESULT, without the trailing line break.
std::wstring SysErrorMessage(HRESULT hr);

[[noreturn]] void RaiseOleError(HRESULT code, std::wstring message);
[[noreturn]] void RaiseSilentAbort();
// ThrowIfFailed(hr): declared with the handle owners (com/handles.h), which use it.

// The error currently being handled as the framework sees it: any exception is turned into an
// EqvrError (unknown ones become kind Other). Call only inside a catch block.
EqvrError CurrentError() noexcept;

// The HRESULT for an error at a COM boundary, with the message published as the thread's error
// information (source and interface given by the caller). What Office sees is the error's own
// code for an OLE error with a negative code, 0xA0004004 for a silent abort, and E_UNEXPECTED
// for anything else, a framework error number included (its number stays in the message's
// error, EqvrError::Result).
HRESULT PublishError(const EqvrError& e, REFGUID iid, std::wstring_view source) noexcept;

// For a catch block where nothing may escape and the caller carries on (a hook, a window
// procedure, a destructor, an error report that failed itself): the error being handled is
// recorded in the trace file under `where`, and dropped. Call only inside a catch block.
void RecordDroppedError(std::wstring_view where) noexcept;

// Runs body where no exception may leave: an error is handed to onError, whose HRESULT is the
// answer. An error that onError raises itself is recorded and dropped, and the answer is
// E_UNEXPECTED.
template <typename Body, typename OnError>
HRESULT ComBoundary(Body&& body, OnError&& onError) noexcept {
    try {
        return body();
    } catch (...) {
        try {
            return onError(CurrentError());
        } catch (...) {
            RecordDroppedError(L"com");
            return E_UNEXPECTED;
        }
    }
}

// Runs body at a COM boundary: no exception leaves; an error becomes its HRESULT plus error
// information.
template <typename Body>
HRESULT ComBoundary(REFGUID iid, std::wstring_view source, Body&& body) noexcept {
    return ComBoundary(std::forward<Body>(body), [&](const EqvrError& error) { return PublishError(error, iid, source); });
}

// The same for a named operation: an error is also recorded for the administrator (event log and
// trace file, com/log.h) with the operation's name and the HRESULT it became.
template <typename Body>
HRESULT ComBoundary(REFGUID iid, std::wstring_view source, std::wstring_view operation, Body&& body) noexcept {
    return ComBoundary(std::forward<Body>(body), [&](const EqvrError& error) {
        const HRESULT hr = PublishError(error, iid, source);
        LogBoundaryError(operation, hr, error.Message(), error.Where());
        return hr;
    });
}

}  // namespace qvr
