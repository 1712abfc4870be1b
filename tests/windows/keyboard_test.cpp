// Key presses typed into Office's window, through Windows' own input queue: the keyboard hook
// reports each first key-down through OnKeyDown while HandleShortcuts is on, and a key the
// add-in handles never reaches the host.
#include "support/test_support.h"
#include "windows_support.h"

#include <gtest/gtest.h>

#include <vector>

using qvrtest::HostWindow;
using qvrtest::Stroke;

namespace {

constexpr uint32_t kPreviousStateAndTransition = 0xC0000000u;

struct Reported {
    bool ctrl, alt, shift;
    int32_t virtualKey;
    bool operator==(const Reported&) const = default;
};

void PrintTo(const Reported& r, std::ostream* os) {
    *os << "{vk " << r.virtualKey << (r.ctrl ? " Ctrl" : "") << (r.alt ? " Alt" : "") << (r.shift ? " Shift" : "")
        << "}";
}

class KeyPresses : public testing::Test {
protected:
    // The add-in's handler: records every report and handles the keys in `handled`.
    void Listen(qvr::TqvrCOMAddInModule& m) {
        m.OnKeyDown = [this](qvr::TObject* sender, qvr::TqvrKeyDownEventArgs& e) {
            EXPECT_EQ(nullptr, sender);
            EXPECT_FALSE(e.Handled);
            EXPECT_EQ(0u, static_cast<uint32_t>(e.KeyStrokeFlags) & kPreviousStateAndTransition)
                << "only a first key-down is reported";
            EXPECT_EQ(1, e.KeyStrokeFlags & 0xFFFF) << "repeat count";
            reported.push_back({e.Ctrl, e.Alt, e.Shift, e.VirtualKey});
            for (WORD key : handled)
                if (e.VirtualKey == key) e.Handled = true;
        };
    }
    // The key-downs the host window received, as virtual keys.
    std::vector<WPARAM> KeyDownsAtHost() const {
        std::vector<WPARAM> downs;
        for (const auto& k : excel.keys)
            if (k.message == WM_KEYDOWN || k.message == WM_SYSKEYDOWN) downs.push_back(k.virtualKey);
        return downs;
    }

    HostWindow excel{WS_OVERLAPPEDWINDOW | WS_VISIBLE};
    std::vector<Reported> reported;
    std::vector<WORD> handled;
};

TEST_F(KeyPresses, HandleShortcutsOffMeansNoHookAndNoReportEvenWithAHandler) {
    qvrtest::StartedAddIn addIn;
    Listen(addIn.Module());
    EXPECT_EQ(nullptr, qvr::KeyboardHook());
    excel.TakeFocus();
    qvrtest::Type(excel, {{'K'}, {'K', true}, {VK_SHIFT}, {'J'}, {'J', true}, {VK_SHIFT, true}});
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ((std::vector<WPARAM>{'K', VK_SHIFT, 'J'}), KeyDownsAtHost());
}

TEST_F(KeyPresses, AHandledKeyNeverReachesTheHostAndHeldDownRepeatsAreNotReported) {
    qvrtest::StartedAddIn addIn({.handleShortcuts = true});
    Listen(addIn.Module());
    handled = {'K'};
    excel.TakeFocus();
    // Ctrl+K held down (one repeat), then J.
    qvrtest::Type(excel, {{VK_CONTROL}, {'K'}, {'K'}, {'K', true}, {'J'}, {'J', true}, {VK_CONTROL, true}});

    // Ctrl's own press sees the keyboard as it was before it: Ctrl not yet down.
    EXPECT_EQ((std::vector<Reported>{{false, false, false, VK_CONTROL}, {true, false, false, 'K'},
                                     {true, false, false, 'J'}}),
              reported);
    // The first K went to the add-in only; its repeat was not reported, so the host gets it.
    ASSERT_EQ((std::vector<WPARAM>{VK_CONTROL, 'K', 'J'}), KeyDownsAtHost());
    for (const auto& k : excel.keys) {
        if (k.virtualKey == 'K' && k.message == WM_KEYDOWN) {
            EXPECT_NE(0u, k.flags & 0x40000000u) << "the K that reached the host is the repeat";
        }
    }
}

TEST_F(KeyPresses, AKeyLookedAtButLeftInTheQueueIsReportedOnlyWhenTaken) {
    qvrtest::StartedAddIn addIn({.handleShortcuts = true});
    Listen(addIn.Module());
    excel.TakeFocus();
    qvrtest::Type(excel, {{'P'}, {'P', true}}, false);
    // Office looks at its queue without taking the key: the hook runs, but this is no key press.
    ASSERT_NE(DWORD(WAIT_TIMEOUT), MsgWaitForMultipleObjects(0, nullptr, FALSE, 2000, QS_KEY));
    MSG peeked;
    ASSERT_TRUE(PeekMessageW(&peeked, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE));
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(qvrtest::PumpMessagesUntil([&] { return excel.KeyUps() == 1; })) << "P's key-up arrived";
    EXPECT_EQ((std::vector<Reported>{{false, false, false, 'P'}}), reported);
    EXPECT_EQ((std::vector<WPARAM>{'P'}), KeyDownsAtHost());
}

struct ModifierCase {
    const char* name;
    std::vector<WORD> held;
    bool ctrl, alt, shift;
};

class KeyModifiers : public KeyPresses, public testing::WithParamInterface<ModifierCase> {};

TEST_P(KeyModifiers, ComeFromTheLeftAndRightModifierKeys) {
    const ModifierCase& c = GetParam();
    qvrtest::StartedAddIn addIn({.handleShortcuts = true});
    Listen(addIn.Module());
    excel.TakeFocus();
    std::vector<Stroke> strokes;
    for (WORD key : c.held) strokes.push_back({key});
    strokes.push_back({'Q'});
    strokes.push_back({'Q', true});
    for (auto it = c.held.rbegin(); it != c.held.rend(); ++it) strokes.push_back({*it, true});
    qvrtest::Type(excel, strokes);

    ASSERT_FALSE(reported.empty());
    EXPECT_EQ((Reported{c.ctrl, c.alt, c.shift, 'Q'}), reported.back());
    EXPECT_EQ(c.held.size() + 1, reported.size()) << "each modifier's own press is reported once too";
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyModifiers,
                         testing::Values(ModifierCase{"None", {}, false, false, false},
                                         ModifierCase{"LeftShift", {VK_LSHIFT}, false, false, true},
                                         ModifierCase{"LeftCtrl", {VK_LCONTROL}, true, false, false},
                                         ModifierCase{"RightCtrl", {VK_RCONTROL}, true, false, false},
                                         ModifierCase{"LeftAlt", {VK_LMENU}, false, true, false},
                                         ModifierCase{"CtrlShift", {VK_LCONTROL, VK_LSHIFT}, true, false, true},
                                         ModifierCase{"CtrlAltShift", {VK_LCONTROL, VK_LMENU, VK_LSHIFT}, true,
                                                      true, true}),
                         [](const testing::TestParamInfo<ModifierCase>& info) { return info.param.name; });

TEST_F(KeyPresses, AHandlerErrorIsSwallowedAndTheKeyStillReachesTheHost) {
    qvrtest::DialogRecorder dialogs;
    qvrtest::StartedAddIn addIn({.handleShortcuts = true});
    int calls = 0;
    addIn.Module().OnKeyDown = [&](qvr::TObject*, qvr::TqvrKeyDownEventArgs& e) {
        ++calls;
        e.Handled = true;
        if (e.VirtualKey == 'A') throw qvr::EqvrError(L"key handler failed");
    };
    excel.TakeFocus();
    qvrtest::Type(excel, {{'A'}, {'A', true}, {'B'}, {'B', true}});
    EXPECT_EQ(2, calls);
    EXPECT_EQ((std::vector<WPARAM>{'A'}), KeyDownsAtHost()) << "A failed in the handler; B was handled";
    EXPECT_TRUE(dialogs.dialogs.empty());
}

TEST_F(KeyPresses, TheSetterInstallsAndRemovesShortcutHandlingWhileTheAddInRuns) {
    qvrtest::StartedAddIn addIn;
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    Listen(m);
    excel.TakeFocus();

    m.SetHandleShortcuts(true);
    ASSERT_NE(nullptr, m.NativeWindow());
    const HWND shortcutWindow = m.NativeWindow()->Handle();
    const HHOOK hook = qvr::KeyboardHook();
    ASSERT_NE(nullptr, hook);
    qvrtest::Type(excel, {{'M'}, {'M', true}});
    EXPECT_EQ((std::vector<Reported>{{false, false, false, 'M'}}), reported);

    m.SetHandleShortcuts(false);
    EXPECT_FALSE(m.HandleShortcuts());
    EXPECT_EQ(nullptr, m.NativeWindow());
    EXPECT_FALSE(IsWindow(shortcutWindow));
    EXPECT_EQ(nullptr, qvr::KeyboardHook());
    EXPECT_FALSE(UnhookWindowsHookEx(hook)) << "the keyboard hook is still installed";
    qvrtest::Type(excel, {{'N'}, {'N', true}});
    EXPECT_EQ(1u, reported.size());

    // The other hidden windows go on serving the add-in without the shortcut window.
    EXPECT_EQ(&m, qvr::CurrentModule());
    int posted = 0;
    m.OnSendMessage = [&](qvr::TObject*, UINT, WPARAM, LPARAM) { ++posted; };
    m.SendMessage(WM_USER + 4);
    qvrtest::PumpMessages();
    EXPECT_EQ(1, posted);
}

}  // namespace
