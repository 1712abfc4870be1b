// The class factory and the server's counts, in-process.
#include "server/addin.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

TEST(Factory, HandsOutOneConnectionObjectWhileItLives) {
    auto& f = qvrtest::Factory();
    ComPtr<IUnknown> a, b, c;
    ASSERT_EQ(S_OK, f.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(a.GetAddressOf())));
    ASSERT_EQ(S_OK, f.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(b.GetAddressOf())));
    EXPECT_EQ(a.Get(), b.Get());
    void* first = a.Get();
    a.Reset();
    b.Reset();
    EXPECT_EQ(nullptr, f.FAddInInstance);
    ASSERT_EQ(S_OK, f.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(c.GetAddressOf())));
    EXPECT_NE(nullptr, c.Get());
    (void)first;
}

TEST(Factory, RefusesAggregationBeforeCreatingAnything) {
    auto& f = qvrtest::Factory();
    ComPtr<IUnknown> outer, result;
    ASSERT_EQ(S_OK, f.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(outer.GetAddressOf())));
    LONG before = qvr::TComServer::Instance()->ObjectCount();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, f.CreateInstance(outer.Get(), IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, qvr::TComServer::Instance()->ObjectCount());
}

}  // namespace

namespace {

// A factory whose connection object cannot be created, with the message the test chooses.
std::wstring g_creationMessage;
qvr::TqvrAddin* FailToCreate(qvr::TqvrFactory&) { throw qvr::EqvrError(g_creationMessage); }

TEST(Factory, CreationErrorsAreShownAsZurErrorAndReturnUnexpected) {
    static qvr::TqvrFactory& failing = qvr::TqvrFactory::Create(
        *qvr::TComServer::Instance(), &FailToCreate, qvrtest::Factory().ClassID(), qvrtest::Factory().ModuleClass());
    struct Case {
        std::wstring message, shown;
    };
    const Case cases[] = {
        {L"Out of licences.", L"Out of licences."},
        {L"Out of licences", L"Out of licences."},
        {L"Count: 3", L"Count: 3."},
        {L"Stops at !", L"Stops at !"},  // '!' sorts before '.', so nothing is added
        {L"", L""},
    };
    for (const Case& c : cases) {
        qvrtest::DialogRecorder dialogs;
        g_creationMessage = c.message;
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_UNEXPECTED, failing.CreateInstance(nullptr, IID_IUnknown, &out));
        EXPECT_EQ(nullptr, out);
        ASSERT_EQ(1u, dialogs.dialogs.size());
        EXPECT_EQ(L"ZUR Error", dialogs.dialogs[0].caption);
        EXPECT_EQ(c.shown, dialogs.dialogs[0].text);
        EXPECT_EQ(static_cast<UINT>(MB_ICONSTOP), dialogs.dialogs[0].style & MB_ICONMASK);
        EXPECT_TRUE(dialogs.dialogs[0].style & MB_SETFOREGROUND);
    }
    EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow());
}

TEST(Factory, LockServerHoldsTheServer) {
    auto& f = qvrtest::Factory();
    ASSERT_EQ(S_OK, f.LockServer(TRUE));
    EXPECT_EQ(S_FALSE, qvr::TComServer::Instance()->CanUnloadNow());
    ASSERT_EQ(S_OK, f.LockServer(FALSE));
    EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow());
}

}  // namespace
