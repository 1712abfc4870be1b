// Scope guards the framework shares, as WIL's: each acquires in its constructor and gives back in
// its destructor, so that no file writes its own.
#pragma once

#include "com/error.h"

#include <windows.h>
#include <oaidl.h>

#include <utility>

namespace qvr {

// The type library's attributes, released with the guard.
class LibAttr {
public:
    explicit LibAttr(ITypeLib* lib) : lib_(lib) { ThrowIfFailed(lib_->GetLibAttr(&attr_)); }
    ~LibAttr() { lib_->ReleaseTLibAttr(attr_); }
    LibAttr(const LibAttr&) = delete;
    LibAttr& operator=(const LibAttr&) = delete;
    const TLIBATTR* operator->() const { return attr_; }

private:
    ITypeLib* lib_;
    TLIBATTR* attr_ = nullptr;
};

// A type's attributes, released with the guard; none when the type information gives none.
class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* info) noexcept : info_(info) {
        if (!info_ || FAILED(info_->GetTypeAttr(&attr_))) attr_ = nullptr;
    }
    ~TypeAttr() {
        if (attr_) info_->ReleaseTypeAttr(attr_);
    }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    explicit operator bool() const noexcept { return attr_ != nullptr; }
    const TYPEATTR* operator->() const noexcept { return attr_; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

// Runs a function when the scope ends, however it ends (WIL's scope_exit).
template <typename F>
class [[nodiscard]] ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

// COM is usable on the calling thread while the guard lives (the caller may not have initialised
// it); an apartment that was already there is left as it is.
class ComApartment {
public:
    ComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialised_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialised_;
};

}  // namespace qvr
