// Owners for every Windows handle and COM resource the framework holds. Each owner is one line
// over a single generic template, so that no class writes its own clean-up by hand.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

// Note on COM references: mingw-w64's Microsoft::WRL::ComPtr::Attach adds a reference (unlike
// Microsoft's WRL). The framework's objects start with a reference count of 1, the creator's: a
// ComPtr takes it over through ReleaseAndGetAddressOf, never through Attach or its constructor.

namespace qvr {

// Owns a handle of type T and closes it with Close unless it holds the invalid value (given as
// its bits, because handle constants such as INVALID_HANDLE_VALUE are not constant expressions).
template <typename T, auto Close, intptr_t InvalidBits = 0>
class unique_any {
    static T Invalid() noexcept { return reinterpret_cast<T>(InvalidBits); }

public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Invalid(); }
    // Address for APIs that fill a handle; the current one is closed first.
    T* put() noexcept {
        reset();
        return &value_;
    }
    T release() noexcept { return std::exchange(value_, Invalid()); }
    void reset(T value = Invalid()) noexcept {
        T old = std::exchange(value_, value);
        if (old != Invalid()) Close(old);
    }

private:
    T value_ = Invalid();
};

namespace detail {
inline void CloseKey(HKEY k) noexcept { RegCloseKey(k); }
inline void CloseWindow(HWND w) noexcept { DestroyWindow(w); }
inline void CloseHook(HHOOK h) noexcept { UnhookWindowsHookEx(h); }
inline void CloseIcon(HICON h) noexcept { DestroyIcon(h); }
inline void CloseImageList(HIMAGELIST h) noexcept { ImageList_Destroy(h); }
inline void CloseBitmap(HBITMAP h) noexcept { DeleteObject(h); }
inline void CloseFind(HANDLE h) noexcept { FindClose(h); }
inline void CloseKernelHandle(HANDLE h) noexcept { CloseHandle(h); }
inline void CloseLibrary(HMODULE h) noexcept { FreeLibrary(h); }
inline void CloseBstr(BSTR s) noexcept { SysFreeString(s); }
inline void CloseSafeArray(SAFEARRAY* a) noexcept { SafeArrayDestroy(a); }
inline void CloseDC(HDC dc) noexcept { DeleteDC(dc); }
}  // namespace detail

using unique_hkey = unique_any<HKEY, detail::CloseKey>;
using unique_hwnd = unique_any<HWND, detail::CloseWindow>;
using unique_hhook = unique_any<HHOOK, detail::CloseHook>;
using unique_hicon = unique_any<HICON, detail::CloseIcon>;
using unique_himagelist = unique_any<HIMAGELIST, detail::CloseImageList>;
using unique_hbitmap = unique_any<HBITMAP, detail::CloseBitmap>;
using unique_hdc = unique_any<HDC, detail::CloseDC>;
using unique_find = unique_any<HANDLE, detail::CloseFind, -1>;
using unique_handle = unique_any<HANDLE, detail::CloseKernelHandle>;
// A kernel handle whose failure value is INVALID_HANDLE_VALUE (CreateFileW, CreateToolhelp32Snapshot).
using unique_hfile = unique_any<HANDLE, detail::CloseKernelHandle, -1>;
using unique_hmodule = unique_any<HMODULE, detail::CloseLibrary>;
using unique_safearray = unique_any<SAFEARRAY*, detail::CloseSafeArray>;

// A BSTR owner that can also be built from text.
class unique_bstr : public unique_any<BSTR, detail::CloseBstr> {
public:
    using unique_any::unique_any;
    explicit unique_bstr(std::wstring_view text)
        : unique_any(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    std::wstring str() const { return get() ? std::wstring(get(), SysStringLen(get())) : std::wstring(); }
};

// A failing HRESULT becomes an OLE error (com/error.h) carrying that code and the place of the
// call (file relative to the source tree, and line), which the trace records with the error.
void ThrowIfFailed(HRESULT hr, const char* file = __builtin_FILE(), int line = __builtin_LINE());

// A VARIANT that clears itself. It moves; a copy is asked for by name (Copy), because copying a
// VARIANT allocates and can fail.
class unique_variant : public VARIANT {
public:
    unique_variant() noexcept { VariantInit(this); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    // A copy of its own (text and arrays copied, an interface referenced once more); raises the
    // copy's failure (out of memory, say) as an OLE error.
    unique_variant Copy() const {
        unique_variant copy;
        ThrowIfFailed(VariantCopy(&copy, const_cast<unique_variant*>(this)));
        return copy;
    }
    unique_variant(unique_variant&& other) noexcept : VARIANT(other) { VariantInit(&other); }
    unique_variant& operator=(unique_variant&& other) noexcept {
        if (this != &other) {
            VariantClear(this);
            static_cast<VARIANT&>(*this) = other;
            VariantInit(&other);
        }
        return *this;
    }
    ~unique_variant() { VariantClear(this); }

    VARIANT* put() noexcept {
        VariantClear(this);
        return this;
    }
    void reset() noexcept { VariantClear(this); }
    bool empty() const noexcept { return vt == VT_EMPTY; }

    static unique_variant FromString(std::wstring_view text) {
        unique_variant v;
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return v;
    }
    static unique_variant FromBool(bool b) {
        unique_variant v;
        v.vt = VT_BOOL;
        v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    static unique_variant FromInt(LONG i) {
        unique_variant v;
        v.vt = VT_I4;
        v.lVal = i;
        return v;
    }
    // The standard marker for an omitted optional argument.
    static unique_variant Missing() {
        unique_variant v;
        v.vt = VT_ERROR;
        v.scode = DISP_E_PARAMNOTFOUND;
        return v;
    }
    // Holds the interface with its own reference.
    static unique_variant FromDispatch(IDispatch* d) {
        unique_variant v;
        v.vt = VT_DISPATCH;
        v.pdispVal = d;
        if (d) d->AddRef();
        return v;
    }
};

}  // namespace qvr
