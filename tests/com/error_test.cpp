// Errors at a COM boundary: which HRESULT each kind of error becomes, and the error
// information published with it.
#include "com/error.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>
#include <stdexcept>

namespace {

const GUID kIid = {0x9B3D5F70, 0x2E6C, 0x4A18, {0x8D, 0x4B, 0xE0, 0x5C, 0x71, 0xA2, 0xF9, 0x36}};

TEST(ComBoundary, EachErrorKindBecomesItsResultWithErrorInformation) {
    struct Case {
        const char* what;
        std::function<void()> raise;
        HRESULT expected;
        std::wstring description;
    };
    const Case cases[] = {
        {"OLE error with a failure code", [] { qvr::RaiseOleError(E_ACCESSDENIED, L"denied"); }, E_ACCESSDENIED, L"denied"},
        {"OLE error with a positive code", [] { qvr::RaiseOleError(31101, L"empty"); }, E_UNEXPECTED, L"empty"},
        {"silent abort", [] { qvr::RaiseSilentAbort(); }, static_cast<HRESULT>(0xA0004004), L"Operation aborted"},
        {"framework error", [] { throw qvr::EqvrError(L"plain"); }, E_UNEXPECTED, L"plain"},
        {"standard exception", [] { throw std::runtime_error("from the library"); }, E_UNEXPECTED, L"from the library"},
        {"anything else", [] { throw 7; }, E_UNEXPECTED, L"Unknown error"},
    };
    for (const Case& c : cases) {
        SetErrorInfo(0, nullptr);
        HRESULT hr = qvr::ComBoundary(kIid, L"VORTELIXExcel.coVORTELIXExcel", [&]() -> HRESULT {
            c.raise();
            return S_OK;
        });
        EXPECT_EQ(c.expected, hr) << c.what;
        Microsoft::WRL::ComPtr<IErrorInfo> info;
        ASSERT_EQ(S_OK, GetErrorInfo(0, &info)) << c.what;
        BSTR description = nullptr, source = nullptr;
        GUID guid{};
        info->GetDescription(&description);
        info->GetSource(&source);
        info->GetGUID(&guid);
        EXPECT_STREQ(c.description.c_str(), description) << c.what;
        EXPECT_STREQ(L"VORTELIXExcel.coVORTELIXExcel", source);
        EXPECT_TRUE(IsEqualGUID(kIid, guid));
        SysFreeString(description);
        SysFreeString(source);
    }
}

TEST(ComBoundary, SuccessPassesThrough) {
    EXPECT_EQ(S_FALSE, qvr::ComBoundary(kIid, L"x", [] { return S_FALSE; }));
}

TEST(FormatText, FillsPlaceholdersInOrder) {
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\nboom",
              qvr::FormatText(L"%s error: the add-in has fired an exception.\r\n%s", {L"VORTELIX Excel", L"boom"}));
    EXPECT_EQ(L"100% of 3", qvr::FormatText(L"100%% of %d", {L"3"}));
    EXPECT_EQ(L"missing %s", qvr::FormatText(L"missing %s", {}));
}

TEST(ThrowIfFailed, CarriesTheCodeAsAnOleError) {
    try {
        qvr::ThrowIfFailed(E_NOINTERFACE);
        FAIL();
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(E_NOINTERFACE, e.Code());
        EXPECT_EQ(qvr::ErrorKind::Ole, e.Kind());
        EXPECT_FALSE(e.Message().empty());
    }
    EXPECT_NO_THROW(qvr::ThrowIfFailed(S_FALSE));
}

}  // namespace
