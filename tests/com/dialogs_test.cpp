// The custom-button dialog as the user meets it: the real system dialog (no test handler), found
// and answered from a second thread the way a user would, with a button, Esc or the close button.
// Needs a display (the test command runs under Xvfb).
#include "com/dialogs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace {

const wchar_t kCaption[] = L"VORTELIX dialog test";

// The dialog box of this test, once it is on screen; null after `timeoutMs`.
HWND WaitForBox(DWORD timeoutMs = 15000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        HWND box = FindWindowW(L"#32770", kCaption);
        if (box && IsWindowVisible(box)) return box;
        Sleep(50);
    }
    return nullptr;
}

// The push button of the box that shows `caption`, or null.
HWND ButtonCaptioned(HWND box, const std::wstring& caption) {
    for (HWND child = FindWindowExW(box, nullptr, L"Button", nullptr); child;
         child = FindWindowExW(box, child, L"Button", nullptr)) {
        wchar_t text[64] = {};
        GetWindowTextW(child, text, 64);
        if (caption == text) return child;
    }
    return nullptr;
}

struct Answer {
    const char* name;
    std::function<void(HWND box)> act;  // what the user does, on the watcher thread
    int expected;                       // what ShowButtonDialog returns
};
void PrintTo(const Answer& a, std::ostream* os) { *os << a.name; }

class RunningInstanceStyleDialog : public testing::TestWithParam<Answer> {};

// The dialog of the running-instance check: Cancel, Retry, Ignore. Esc and the close button must
// do what Cancel does (the system only allows either on a box that has a Cancel button).
TEST_P(RunningInstanceStyleDialog, AnswersWithTheButtonTheUserChose) {
    const Answer& a = GetParam();
    std::atomic<bool> found{false};
    std::wstring cancelCaption;
    std::thread user([&] {
        HWND box = WaitForBox();
        if (!box) return;
        found = true;
        wchar_t text[64] = {};
        GetDlgItemTextW(box, IDCANCEL, text, 64);
        cancelCaption = text;
        Sleep(100);  // the box has set its captions and focus
        a.act(box);
    });
    int answer = qvr::ShowButtonDialog(L"Please close all running host application instances:\r\nExcel ", kCaption,
                                       MB_ICONINFORMATION, {L"Cancel", L"&Retry", L"&Ignore"});
    user.join();
    ASSERT_TRUE(found) << "the dialog appeared";
    EXPECT_EQ(a.expected, answer);
    EXPECT_EQ(L"Cancel", cancelCaption) << "the box's own Cancel button carries the first caption";
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunningInstanceStyleDialog,
    testing::Values(
        Answer{"CancelButton", [](HWND box) { PostMessageW(ButtonCaptioned(box, L"Cancel"), BM_CLICK, 0, 0); }, 1},
        Answer{"RetryButton", [](HWND box) { PostMessageW(ButtonCaptioned(box, L"&Retry"), BM_CLICK, 0, 0); }, 2},
        Answer{"IgnoreButton", [](HWND box) { PostMessageW(ButtonCaptioned(box, L"&Ignore"), BM_CLICK, 0, 0); }, 3},
        Answer{"Escape",
               [](HWND box) {
                   HWND focus = GetDlgItem(box, IDCANCEL);
                   PostMessageW(focus ? focus : box, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
                   PostMessageW(focus ? focus : box, WM_KEYUP, VK_ESCAPE, 0xC0010001);
               },
               1},
        Answer{"CloseButton", [](HWND box) { PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); }, 1}),
    [](const testing::TestParamInfo<Answer>& info) { return std::string(info.param.name); });

}  // namespace
