// Errors at a COM boundary: which HRESULT each kind of error becomes, and the error
// information published with it.
#include "com/error.h"
#include "com/handles.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>
#include <stdexcept>
#include <type_traits>

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

TEST(EqvrError, FrameworkNumbersKeepTheirNumberInTheirResultButOfficeSeesUnexpected) {
    for (int32_t number : {qvr::kErrEmptyProperty, qvr::kErrLegacyUnregister, qvr::kErrRegistrationCancelled,
                           qvr::kErrWrongParent, qvr::kErrWrongOwner, qvr::kErrSecondLauncher,
                           qvr::kErrCollectionLimit}) {
        for (qvr::ErrorKind kind : {qvr::ErrorKind::Ole, qvr::ErrorKind::Other}) {
            const qvr::EqvrError error(L"framework", number, kind);
            EXPECT_EQ(number, error.Code());
            const HRESULT result = error.Result();
            EXPECT_TRUE(FAILED(result)) << number;
            EXPECT_EQ(FACILITY_ITF, HRESULT_FACILITY(result)) << number;
            EXPECT_EQ(number, qvr::FrameworkErrorNumber(result)) << number;
            EXPECT_EQ(E_UNEXPECTED, qvr::PublishError(error, kIid, L"x")) << number;
        }
    }
    // Other failures are what they are; no other HRESULT reads as a framework number.
    EXPECT_EQ(E_ACCESSDENIED, qvr::EqvrError(L"denied", E_ACCESSDENIED, qvr::ErrorKind::Ole).Result());
    EXPECT_EQ(E_UNEXPECTED, qvr::EqvrError(L"plain").Result());
    EXPECT_EQ(E_UNEXPECTED, qvr::EqvrError(L"a number of its own", 42, qvr::ErrorKind::Ole).Result());
    EXPECT_EQ(static_cast<HRESULT>(0xA0004004), qvr::EqvrError(L"abort", 0, qvr::ErrorKind::Abort).Result());
    for (HRESULT other : {E_UNEXPECTED, E_ACCESSDENIED, static_cast<HRESULT>(0x80040200), S_OK,
                          static_cast<HRESULT>(0x0004797D)})
        EXPECT_EQ(0, qvr::FrameworkErrorNumber(other)) << std::hex << other;
}

TEST(ComBoundary, AnErrorHandlerAnswersAndOneThatFailsGivesUnexpected) {
    std::wstring seen;
    EXPECT_EQ(E_ABORT, qvr::ComBoundary([]() -> HRESULT { throw qvr::EqvrError(L"first"); },
                                        [&](const qvr::EqvrError& e) {
                                            seen = e.Message();
                                            return E_ABORT;
                                        }));
    EXPECT_EQ(L"first", seen);
    EXPECT_EQ(E_UNEXPECTED, qvr::ComBoundary([]() -> HRESULT { throw qvr::EqvrError(L"first"); },
                                             [](const qvr::EqvrError&) -> HRESULT { throw 7; }));
    EXPECT_EQ(S_FALSE, qvr::ComBoundary([] { return S_FALSE; }, [](const qvr::EqvrError&) { return E_FAIL; }));
}

TEST(UniqueVariant, CopiesOnlyWhenAskedAndTheCopyIsItsOwn) {
    static_assert(!std::is_copy_constructible_v<qvr::unique_variant>);
    static_assert(!std::is_copy_assignable_v<qvr::unique_variant>);
    static_assert(std::is_nothrow_move_constructible_v<qvr::unique_variant>);
    qvr::unique_variant text = qvr::unique_variant::FromString(L"Bestelling");
    qvr::unique_variant copy = text.Copy();
    ASSERT_EQ(VT_BSTR, copy.vt);
    EXPECT_NE(text.bstrVal, copy.bstrVal) << "the text is copied, not shared";
    text.reset();
    EXPECT_STREQ(L"Bestelling", copy.bstrVal);
    // A VARIANT that VariantCopy refuses (a type it does not know) raises its failure.
    qvr::unique_variant odd;
    odd.vt = 0x7FFF;
    try {
        (void)odd.Copy();
        ADD_FAILURE() << "copying an unknown type succeeded";
    } catch (const qvr::EqvrError& e) {
        EXPECT_EQ(qvr::ErrorKind::Ole, e.Kind());
        EXPECT_TRUE(FAILED(e.Code()));
    }
    odd.vt = VT_EMPTY;
}

}  // namespace
