// The framework's one error type and the single place where errors cross a COM boundary.
#pragma once

#include "com/log.h"

#include <windows.h>
#include <oaidl.h>

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qvr {

// How an error is treated where it meets COM: an OLE error keeps its own (negative) code,
// a silent abort becomes 0xA0004004, anything else E_UNEXPECTED.
enum class ErrorKind { Other, Ole, Abort };

inline constexpr HRESULT kSilentAbortResult = static_cast<HRESULT>(0xA0004004);

// Framework error codes.
inline constexpr HRESULT kErrEmptyProperty = 31101;
inline constexpr HRESULT kErrLegacyUnregister = 31103;
inline constexpr HRESULT kErrRegistrationCancelled = 31105;
inline constexpr HRESULT kErrWrongParent = 31112;
inline constexpr HRESULT kErrWrongOwner = 31113;
inline constexpr HRESULT kErrSecondLauncher = 31119;
inline constexpr HRESULT kErrCollectionLimit = 31120;

class EqvrError : public std::exception {
public:
    explicit EqvrError(std::wstring message, HRESULT code = 0, ErrorKind kind = ErrorKind::Other,
                       DWORD helpContext = 0);

    const std::wstring& Message() const noexcept { return message_; }
    HRESULT Code() const noexcept { return code_; }
    ErrorKind Kind() const noexcept { return kind_; }
    DWORD HelpContext() const noexcept { return helpContext_; }
    const char* what() const noexcept override { return narrow_.c_str(); }

private:
    std::wstring message_;
    std::string narrow_;
    HRESULT code_;
    ErrorKind kind_;
    DWORD helpContext_;
};

// Sprintf-like formatting with the framework's message templates: each %s or %d takes the next
// argument as text, %% is a percent sign.
std::wstring FormatText(std::wstring_view pattern, std::initializer_list<std::wstring_view> args);

// The system's message for an HRESULT, without the trailing line break.
std::wstring SysErrorMessage(HRESULT hr);

[[noreturn]] void RaiseOleError(HRESULT code, std::wstring message);
[[noreturn]] void RaiseSilentAbort();
// A failing HRESULT becomes an OLE error carrying that code.
void ThrowIfFailed(HRESULT hr);

// The error currently being handled as the framework sees it: any exception is turned into an
// EqvrError (unknown ones become kind Other). Call only inside a catch block.
EqvrError CurrentError() noexcept;

// The HRESULT for an error at a COM boundary, with the message published as the thread's error
// information (source and interface given by the caller).
HRESULT PublishError(const EqvrError& e, REFGUID iid, std::wstring_view source) noexcept;

// Runs body at a COM boundary: no exception leaves; an error becomes its HRESULT plus error
// information.
template <typename Body>
HRESULT ComBoundary(REFGUID iid, std::wstring_view source, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return PublishError(CurrentError(), iid, source);
    }
}

// The same for a named operation: an error is also recorded for the administrator (event log and
// trace file, com/log.h) with the operation's name and the HRESULT it became.
template <typename Body>
HRESULT ComBoundary(REFGUID iid, std::wstring_view source, std::wstring_view operation, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        const EqvrError error = CurrentError();
        const HRESULT hr = PublishError(error, iid, source);
        LogBoundaryError(operation, hr, error.Message());
        return hr;
    }
}

}  // namespace qvr
