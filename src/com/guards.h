// Scope guards the framework shares, as WIL's: each acquires in its constructor and gives back in
// its destructor, so that no file writes its own.
#pragma once

#include "com/error.h"

#include <windows.h>
#include <oaidl.h>

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
