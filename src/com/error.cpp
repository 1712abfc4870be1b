#include "com/error.h"

#include "com/numbers.h"

#include <wrl/client.h>

#include <new>

namespace qvr {

namespace {
std::string Narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Widen(const char* s) {
    if (!s || !*s) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
    return w;
}
}  // namespace

EqvrError::EqvrError(std::wstring message, HRESULT code, ErrorKind kind, DWORD helpContext)
    : message_(std::move(message)), narrow_(Narrow(message_)), code_(code), kind_(kind), helpContext_(helpContext) {}

std::wstring FormatText(std::wstring_view pattern, std::initializer_list<std::wstring_view> args) {
    std::wstring out;
    out.reserve(pattern.size() + 32);
    auto next = args.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        wchar_t c = pattern[i];
        if (c == L'%' && i + 1 < pattern.size()) {
            wchar_t f = pattern[i + 1];
            if (f == L'%') {
                out += L'%';
                ++i;
                continue;
            }
            if ((f == L's' || f == L'd') && next != args.end()) {
                out += *next++;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::wstring SysErrorMessage(HRESULT hr) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (n && buffer) {
        text.assign(buffer, n);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    }
    if (buffer) LocalFree(buffer);
    if (text.empty()) {
        wchar_t hex[16];
        wsprintfW(hex, L"%08X", static_cast<unsigned>(hr));
        text = L"OLE error " + std::wstring(hex);
    }
    return text;
}

void RaiseOleError(HRESULT code, std::wstring message) { throw EqvrError(std::move(message), code, ErrorKind::Ole); }

void RaiseSilentAbort() { throw EqvrError(L"Operation aborted", kSilentAbortResult, ErrorKind::Abort); }

void ThrowIfFailed(HRESULT hr, const char* file, int line) {
    if (FAILED(hr)) throw EqvrError(SysErrorMessage(hr), hr, ErrorKind::Ole).At(file, line);
}

std::wstring EqvrError::Where() const {
    std::wstring where;
    if (!file_) return where;
    for (const char* c = file_; *c; ++c) where += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    where += L':';
    AppendUnsigned(where, static_cast<unsigned>(line_));
    return where;
}

EqvrError CurrentError() noexcept {
    try {
        throw;
    } catch (const EqvrError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return EqvrError(L"Out of memory", E_OUTOFMEMORY, ErrorKind::Ole);
    } catch (const std::exception& e) {
        return EqvrError(Widen(e.what()));
    } catch (...) {
        return EqvrError(L"Unknown error");
    }
}

HRESULT EqvrError::Result() const noexcept {
    if (kind_ == ErrorKind::Abort) return kSilentAbortResult;
    if (kind_ == ErrorKind::Ole && code_ < 0) return code_;
    if (IsFrameworkErrorNumber(code_)) return FrameworkErrorResult(code_);
    return E_UNEXPECTED;
}

void RecordDroppedError(std::wstring_view where) noexcept {
    try {
        const EqvrError error = CurrentError();
        const std::wstring site = error.Where();
        LogDroppedError(where, HResultHex(error.Result()), site.empty() ? error.Message() : error.Message() + L" (at " + site + L")");
    } catch (...) {
    }
}

HRESULT PublishError(const EqvrError& e, REFGUID iid, std::wstring_view source) noexcept {
    HRESULT result = E_UNEXPECTED;
    if (e.Kind() == ErrorKind::Ole && e.Code() < 0)
        result = e.Code();
    else if (e.Kind() == ErrorKind::Abort)
        result = kSilentAbortResult;

    Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        std::wstring src(source);
        create->SetDescription(const_cast<LPOLESTR>(e.Message().c_str()));
        create->SetSource(src.data());
        create->SetGUID(iid);
        create->SetHelpContext(e.HelpContext());
        Microsoft::WRL::ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
    }
    return result;
}

}  // namespace qvr
