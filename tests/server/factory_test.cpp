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
