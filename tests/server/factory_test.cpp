// The class factory's creation errors, in-process. How it hands out objects, refuses
// aggregation and holds the server is tested through the built DLL (dll_tests).
#include "server/addin.h"
#include "support/recording_module.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

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

TEST(Factory, AnObjectWhoseFirstQueryFailsGoesAndALiveOneIsHandedOutAgain) {
    qvr::TqvrFactory& factory = qvrtest::Factory();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory.CreateInstance(nullptr, IID_IStream, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(nullptr, factory.FAddInInstance) << "the object went with its creation's reference";
    EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow());

    Microsoft::WRL::ComPtr<IUnknown> first, second;
    ASSERT_EQ(S_OK, factory.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(first.GetAddressOf())));
    ASSERT_EQ(S_OK, factory.CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(second.GetAddressOf())));
    EXPECT_EQ(first.Get(), second.Get()) << "one connection object per process";
    EXPECT_EQ(2, qvrtest::AsAddin(first.Get())->RefCount()) << "one reference per caller";
    EXPECT_EQ(E_NOINTERFACE, factory.CreateInstance(nullptr, IID_IStream, &out));
    EXPECT_EQ(2, qvrtest::AsAddin(first.Get())->RefCount()) << "a failed query gives back the reference it took";
    EXPECT_NE(nullptr, factory.FAddInInstance) << "a failed query does not take the live object's reference";
    first.Reset();
    second.Reset();
    EXPECT_EQ(nullptr, factory.FAddInInstance);
    EXPECT_EQ(S_OK, qvr::TComServer::Instance()->CanUnloadNow());
}

}  // namespace
