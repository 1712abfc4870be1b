// Scriptable automation objects for the stand-in and the tests that use it: an object that
// answers IUnknown, IDispatch and the interface ids it is made with, whose members are handlers
// by dispatch id and which records every Invoke (id, flags, locale, arguments in declaration
// order); and a VARIANT that owns its value. Excel's own objects in the stand-in (excel_sim.h)
// answer tests' scripted members through the same handlers; these objects stand for the other
// objects of Excel's object model that events and calls pass around (ranges, sheets, charts...).
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace officesim {

// A VARIANT that owns its value (deep copies).
struct Var : VARIANT {
    Var() { VariantInit(this); }
    Var(const VARIANT& v) {  // implicit: a Var is passed where a VARIANT is
        VariantInit(this);
        VariantCopy(this, const_cast<VARIANT*>(&v));
    }
    Var(const Var& v) : Var(static_cast<const VARIANT&>(v)) {}
    Var& operator=(const Var& v) {
        if (this != &v) VariantCopy(this, const_cast<Var*>(&v));
        return *this;
    }
    ~Var() { VariantClear(this); }
    static Var Text(const std::wstring& s);
    static Var Bool(bool b);
    static Var Long(LONG l);
    static Var Object(IDispatch* d);
    static Var Missing();  // VT_ERROR, DISP_E_PARAMNOTFOUND
    std::wstring AsText() const;
};

// One Invoke an object received.
struct AutomationCall {
    DISPID id;
    WORD flags;
    LCID lcid;
    std::vector<Var> args;  // declaration order
};

class AutomationObject : public IDispatch {
public:
    // A member: gets the call, fills the result; returns the call's HRESULT.
    using Member = std::function<HRESULT(const AutomationCall& call, VARIANT* result)>;

    static Microsoft::WRL::ComPtr<AutomationObject> Make(std::vector<IID> iids = {});

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* argErr) override;

    // Members by dispatch id; an unknown id answers DISP_E_MEMBERNOTFOUND.
    void On(DISPID id, Member member) { members_[id] = std::move(member); }
    // A property that answers `value`.
    void Property(DISPID id, const Var& value);
    // The next call of `id` fails with `hr`.
    void FailNext(DISPID id, HRESULT hr) { failures_[id] = hr; }

    const std::vector<AutomationCall>& Calls() const { return calls_; }
    std::vector<AutomationCall> CallsOf(DISPID id) const;
    LONG RefCount() const { return refs_; }

protected:
    explicit AutomationObject(std::vector<IID> iids) : iids_(std::move(iids)) {}
    virtual ~AutomationObject() = default;
    // Further interfaces of a derived object.
    virtual void* QueryMore(REFIID) { return nullptr; }

private:
    std::vector<IID> iids_;
    std::map<DISPID, Member> members_;
    std::map<DISPID, HRESULT> failures_;
    std::vector<AutomationCall> calls_;
    LONG refs_ = 0;
};

}  // namespace officesim
