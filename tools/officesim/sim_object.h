// A reference-counted COM object for the stand-in: answers IUnknown, and every interface in its
// list by __uuidof, with IDispatch mapped to the first one.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <atomic>
#include <type_traits>
#include <utility>

namespace officesim {

template <typename Primary, typename... Others>
class SimObject : public Primary, public Others... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Primary)) ||
            (std::is_base_of_v<IDispatch, Primary> && IsEqualIID(riid, IID_IDispatch)))
            *ppv = static_cast<Primary*>(this);
        else
            ((*ppv == nullptr && IsEqualIID(riid, __uuidof(Others)) ? (*ppv = static_cast<Others*>(this)) : nullptr), ...);
        if (!*ppv) *ppv = QueryExtra(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    LONG RefCount() const { return refs_; }

    // IDispatch members for objects without type information (used when a listed interface
    // derives from IDispatch; harmless otherwise).
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) {
        if (count) *count = 0;
        return S_OK;
    }
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
        return DISP_E_UNKNOWNNAME;
    }

    // Objects are made with one reference, owned by the returned pointer. (mingw-w64's
    // ComPtr::Attach adds a reference, so the count starts at 0 and the pointer takes it.)
    template <typename T, typename... Args>
    static Microsoft::WRL::ComPtr<T> Make(Args&&... args) {
        return Microsoft::WRL::ComPtr<T>(new T(std::forward<Args>(args)...));
    }

protected:
    SimObject() = default;
    virtual ~SimObject() = default;
    virtual void* QueryExtra(REFIID) { return nullptr; }

private:
    std::atomic<LONG> refs_{0};
};

}  // namespace officesim
