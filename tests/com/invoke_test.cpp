// Late-bound calls that fail the way automation servers fail: with a bare code, or with an
// exception (DISP_E_EXCEPTION) whose EXCEPINFO explains it, filled at once or on demand.
#include "com/dispatch.h"
#include "com/error.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// An automation object whose one member fails as told.
class Failing : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
        if (!member || wcscmp(names[0], member) != 0) return DISP_E_UNKNOWNNAME;
        *ids = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO* excep,
                                     UINT*) override {
        if (!raise) return code;
        if (!excep) return DISP_E_EXCEPTION;
        if (deferred) {
            excep->pfnDeferredFillIn = &Failing::FillIn;
            return DISP_E_EXCEPTION;
        }
        Fill(excep, *this);
        return DISP_E_EXCEPTION;
    }

    HRESULT code = E_FAIL;        // the bare code, or the exception's scode
    bool raise = false;           // answer DISP_E_EXCEPTION
    bool deferred = false;        // leave EXCEPINFO to pfnDeferredFillIn
    WORD wCode = 0;
    const wchar_t* source = nullptr;
    const wchar_t* description = nullptr;
    const wchar_t* member = nullptr;  // the one name GetIDsOfNames knows

    static Failing* current;

private:
    static void Fill(EXCEPINFO* excep, const Failing& f) {
        excep->wCode = f.wCode;
        excep->scode = f.wCode ? 0 : f.code;
        excep->bstrSource = f.source ? SysAllocString(f.source) : nullptr;
        excep->bstrDescription = f.description ? SysAllocString(f.description) : nullptr;
        excep->bstrHelpFile = SysAllocString(L"XLMAIN11.CHM");
    }
    static HRESULT STDAPICALLTYPE FillIn(EXCEPINFO* excep) {
        excep->pfnDeferredFillIn = nullptr;
        Fill(excep, *current);
        return S_OK;
    }
};
Failing* Failing::current = nullptr;

TEST(LateBoundCall, KeepsTheCalleesExplanationOfAFailure) {
    struct Case {
        const char* what;
        Failing callee;
        HRESULT expected;
        std::wstring source, description;  // as TryInvoke hands them back
        std::wstring message;              // of the error Invoke raises
    };
    auto make = [](HRESULT code, bool raise, bool deferred, WORD wCode, const wchar_t* source,
                   const wchar_t* description) {
        Failing f;
        f.code = code;
        f.raise = raise;
        f.deferred = deferred;
        f.wCode = wCode;
        f.source = source;
        f.description = description;
        return f;
    };
    const HRESULT xlError = static_cast<HRESULT>(0x800A03EC);
    Case cases[] = {
        {"Excel's exception", make(xlError, true, false, 0, L"Microsoft Excel", L"Kan Order.xlsx niet opslaan."),
         xlError, L"Microsoft Excel", L"Kan Order.xlsx niet opslaan.",
         L"Kan Order.xlsx niet opslaan.\r\n(Microsoft Excel, error 800A03EC)"},
        {"filled in on demand", make(xlError, true, true, 0, L"Microsoft Excel", L"Het bestand is vergrendeld."),
         xlError, L"Microsoft Excel", L"Het bestand is vergrendeld.",
         L"Het bestand is vergrendeld.\r\n(Microsoft Excel, error 800A03EC)"},
        {"a description without a source", make(E_ACCESSDENIED, true, false, 0, nullptr, L"Toegang geweigerd."),
         E_ACCESSDENIED, L"", L"Toegang geweigerd.", L"Toegang geweigerd.\r\n(error 80070005)"},
        {"an exception with a private code only", make(S_OK, true, false, 1004, L"Microsoft Excel", L"Fout 1004."),
         DISP_E_EXCEPTION, L"Microsoft Excel", L"Fout 1004.", L"Fout 1004.\r\n(Microsoft Excel, error 80020009)"},
        {"an exception without a description", make(xlError, true, false, 0, L"Microsoft Excel", nullptr), xlError,
         L"Microsoft Excel", L"", qvr::SysErrorMessage(xlError)},
        {"a bare code", make(STG_E_ACCESSDENIED, false, false, 0, nullptr, nullptr), STG_E_ACCESSDENIED, L"", L"",
         qvr::SysErrorMessage(STG_E_ACCESSDENIED)},
    };
    for (Case& c : cases) {
        Failing::current = &c.callee;
        qvr::TDispatchException said{L"stale", L"stale"};
        qvr::unique_variant result;
        EXPECT_EQ(c.expected, qvr::TryInvoke(&c.callee, 1, DISPATCH_METHOD, 1043, {}, &result, &said)) << c.what;
        EXPECT_EQ(c.source, said.source) << c.what;
        EXPECT_EQ(c.description, said.description) << c.what;
        try {
            qvr::Invoke(&c.callee, 1, DISPATCH_METHOD, 1043);
            ADD_FAILURE() << c.what << ": no error raised";
        } catch (const qvr::EqvrError& e) {
            EXPECT_EQ(c.expected, e.Code()) << c.what;
            EXPECT_EQ(qvr::ErrorKind::Ole, e.Kind()) << c.what;
            EXPECT_EQ(c.message, e.Message()) << c.what;
        }
    }
    Failing::current = nullptr;
}

// A property the host may lack: the missing member and a failing one come back as codes, never as
// a raised error; a present one gives its value.
TEST(LateBoundCall, TryGetPropertyByNameReturnsWhatFailed) {
    struct Case {
        const char* what;
        const wchar_t* member;
        HRESULT code;
        HRESULT expected;
    };
    for (const Case& c : {Case{"no such member", nullptr, S_OK, DISP_E_UNKNOWNNAME},
                          Case{"the member fails", L"CommandBars", E_ACCESSDENIED, E_ACCESSDENIED},
                          Case{"the member answers", L"CommandBars", S_OK, S_OK}}) {
        Failing callee;
        callee.member = c.member;
        callee.code = c.code;
        qvr::unique_variant result;
        EXPECT_EQ(c.expected, qvr::TryGetPropertyByName(&callee, L"CommandBars", result)) << c.what;
    }
    qvr::unique_variant result;
    EXPECT_EQ(E_POINTER, qvr::TryGetPropertyByName(nullptr, L"CommandBars", result));
}

}  // namespace
