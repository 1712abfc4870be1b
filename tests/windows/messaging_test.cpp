// Messages the add-in posts to itself with SendMessage arrive through Office's message loop as
// OnSendMessage, after the posting code has returned.
#include "support/test_support.h"
#include "windows_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct Received {
    qvr::TObject* sender;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Received&) const = default;
};

void Record(qvr::TqvrCOMAddInModule& m, std::vector<Received>& into) {
    m.OnSendMessage = [&into](qvr::TObject* sender, UINT msg, WPARAM wParam, LPARAM lParam) {
        into.push_back({sender, msg, wParam, lParam});
    };
}

// Whether a message is waiting in this thread's queue for `hwnd` (any window when null).
bool Queued(HWND hwnd, UINT msg) {
    MSG found;
    return PeekMessageW(&found, hwnd, msg, msg, PM_NOREMOVE) != FALSE;
}

TEST(SendMessage, BeforeStartUpPostsNothing) {
    std::unique_ptr<qvr::TqvrCOMAddInModule> module = qvrtest::Factory().ModuleClass()(nullptr);
    std::vector<Received> received;
    Record(*module, received);
    module->SendMessage(WM_USER + 1, 1, 2);
    module->SendMessage(WM_USER + 2);
    EXPECT_FALSE(Queued(nullptr, WM_USER + 1));
    EXPECT_FALSE(Queued(nullptr, WM_USER + 2));
    qvrtest::PumpMessages();
    EXPECT_TRUE(received.empty());
}

struct PostCase {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool fires;
};

class SendMessageAfterStartUp : public testing::TestWithParam<PostCase> {};

TEST_P(SendMessageAfterStartUp, ArrivesThroughTheMessageLoopFromWmUserOn) {
    const PostCase& c = GetParam();
    qvrtest::StartedAddIn addIn;
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    std::vector<Received> received;
    Record(m, received);

    m.SendMessage(c.msg, c.wParam, c.lParam);
    EXPECT_TRUE(received.empty()) << "posted: nothing runs before the caller has returned";
    EXPECT_TRUE(Queued(m.InternalMessagingWindow()->Handle(), c.msg)) << "every message is posted";
    qvrtest::PumpMessages();
    if (c.fires)
        EXPECT_EQ((std::vector<Received>{{m.InternalMessagingWindow(), c.msg, c.wParam, c.lParam}}), received);
    else
        EXPECT_TRUE(received.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SendMessageAfterStartUp,
    testing::Values(PostCase{WM_USER, 0, 0, true},
                    // Full pointer-sized values, on 32 and 64 bit alike.
                    PostCase{WM_USER + 0x123, ~WPARAM(0), -1, true},
                    PostCase{WM_APP + 7, WPARAM(1) << (sizeof(WPARAM) * 8 - 1),
                             static_cast<LPARAM>(INTPTR_MIN), true},
                    PostCase{0xC123, 42, 0x7FFF, true},
                    // The system's own message range is not the add-in's.
                    PostCase{WM_USER - 1, 1, 2, false}, PostCase{WM_NULL, 0, 0, false},
                    PostCase{WM_TIMER, 0, 0, false}));

TEST(SendMessage, ShortFormPostsZeroParameters) {
    qvrtest::StartedAddIn addIn;
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    std::vector<Received> received;
    Record(m, received);
    m.SendMessage(WM_USER + 9);
    qvrtest::PumpMessages();
    EXPECT_EQ((std::vector<Received>{{m.InternalMessagingWindow(), WM_USER + 9, 0, 0}}), received);
}

TEST(SendMessage, AHandlerErrorIsReportedAndLaterMessagesStillArrive) {
    qvrtest::DialogRecorder dialogs;
    qvrtest::StartedAddIn addIn;
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    std::vector<UINT> received;
    m.OnSendMessage = [&](qvr::TObject*, UINT msg, WPARAM, LPARAM) {
        received.push_back(msg);
        if (msg == WM_USER + 1) throw qvr::EqvrError(L"message handler failed");
    };
    m.SendMessage(WM_USER + 1);
    m.SendMessage(WM_USER + 2);
    qvrtest::PumpMessages();
    EXPECT_EQ((std::vector<UINT>{WM_USER + 1, WM_USER + 2}), received);
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\nmessage handler failed",
              dialogs.dialogs[0].text);
    EXPECT_EQ(UINT(MB_ICONERROR), dialogs.dialogs[0].style & MB_ICONMASK);
}

TEST(SendMessage, AfterShutDownNothingArrives) {
    qvrtest::StartedAddIn addIn;
    std::vector<Received> received;
    Record(addIn.Module(), received);
    HWND window = addIn.Module().InternalMessagingWindow()->Handle();
    addIn.Module().SendMessage(WM_USER + 3);
    addIn.ShutDown();
    // The module and its window are gone; what was still queued reaches no code of the add-in.
    qvrtest::PumpMessages();
    EXPECT_TRUE(received.empty());
    EXPECT_FALSE(IsWindow(window));
}

}  // namespace
