// The hidden windows and hooks exist from start-up until the module is destroyed; afterwards no
// window of their classes, no window class and no hook of the add-in remains, and the DLL unloads.
#include "excel_sim.h"
#include "office_host.h"
#include "support/test_support.h"
#include "windows_support.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

constexpr std::array<const wchar_t*, 3> kWindowClasses = {L"TqvrNativeColorWindow", L"TqvrInternalMessagingWindow",
                                                          L"TqvrNativeWindow"};

struct WindowSearch {
    const wchar_t* windowClass;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM p) {
    auto* search = reinterpret_cast<WindowSearch*>(p);
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    if (std::wstring(name) == search->windowClass) search->found.push_back(hwnd);
    return TRUE;
}

// Windows of a class on this thread.
std::vector<HWND> ThreadWindows(const wchar_t* windowClass) {
    WindowSearch search{windowClass, {}};
    EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ClassRegistered(HINSTANCE instance, const wchar_t* windowClass) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    return GetClassInfoExW(instance, windowClass, &wc) != FALSE;
}

HINSTANCE ThisProgram() { return GetModuleHandleW(nullptr); }

TEST(HiddenWindows, StartUpCreatesHiddenDesktopWindowsAndShutDownLeavesNothing) {
    qvrtest::StartedAddIn addIn({.hostMajorVersion = 16, .handleShortcuts = true});
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    ASSERT_NE(nullptr, m.NativeColorWindow());
    ASSERT_NE(nullptr, m.InternalMessagingWindow());
    ASSERT_NE(nullptr, m.NativeWindow());
    const std::array<HWND, 3> windows = {m.NativeColorWindow()->Handle(), m.InternalMessagingWindow()->Handle(),
                                         m.NativeWindow()->Handle()};
    for (size_t i = 0; i < windows.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "class " << testing::PrintToString(std::wstring(kWindowClasses[i])));
        EXPECT_EQ((std::vector<HWND>{windows[i]}), ThreadWindows(kWindowClasses[i]));
        EXPECT_EQ(GetDesktopWindow(), GetAncestor(windows[i], GA_PARENT));
        EXPECT_FALSE(IsWindowVisible(windows[i]));
        // Windows' shut-down query is answered "may shut down".
        EXPECT_EQ(1, SendMessageW(windows[i], WM_QUERYENDSESSION, 0, 0));
    }
    EXPECT_EQ(&m, qvr::CurrentModule());
    const HHOOK keyboardHook = qvr::KeyboardHook();
    ASSERT_NE(nullptr, keyboardHook);

    addIn.ShutDown();
    for (size_t i = 0; i < windows.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "class " << testing::PrintToString(std::wstring(kWindowClasses[i])));
        EXPECT_FALSE(IsWindow(windows[i]));
        EXPECT_EQ(nullptr, FindWindowW(kWindowClasses[i], nullptr));
        EXPECT_FALSE(ClassRegistered(ThisProgram(), kWindowClasses[i]));
    }
    EXPECT_EQ(nullptr, qvr::CurrentModule());
    EXPECT_EQ(nullptr, qvr::KeyboardHook());
    EXPECT_FALSE(UnhookWindowsHookEx(keyboardHook)) << "the keyboard hook is still installed";
}

TEST(HiddenWindows, WithoutHandleShortcutsThereIsNoShortcutWindowAndNoKeyboardHook) {
    qvrtest::StartedAddIn addIn;
    EXPECT_EQ(nullptr, addIn.Module().NativeWindow());
    EXPECT_TRUE(ThreadWindows(L"TqvrNativeWindow").empty());
    EXPECT_EQ(nullptr, qvr::KeyboardHook());
    EXPECT_EQ(1u, ThreadWindows(L"TqvrNativeColorWindow").size());
    EXPECT_EQ(1u, ThreadWindows(L"TqvrInternalMessagingWindow").size());
}

TEST(HiddenWindows, CreatingThemAgainReplacesTheOldOnes) {
    qvrtest::StartedAddIn addIn;
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    HWND oldColor = m.NativeColorWindow()->Handle();
    HWND oldMessaging = m.InternalMessagingWindow()->Handle();
    m.CreateHiddenWindows();
    EXPECT_FALSE(IsWindow(oldColor));
    EXPECT_FALSE(IsWindow(oldMessaging));
    EXPECT_EQ((std::vector<HWND>{m.NativeColorWindow()->Handle()}), ThreadWindows(L"TqvrNativeColorWindow"));
    EXPECT_EQ((std::vector<HWND>{m.InternalMessagingWindow()->Handle()}),
              ThreadWindows(L"TqvrInternalMessagingWindow"));
    EXPECT_EQ(&m, qvr::CurrentModule());
}

TEST(HiddenWindows, AModuleThatNeverStartedIsDestroyedWithoutWindowsOrHooks) {
    std::unique_ptr<qvr::TqvrCOMAddInModule> module = qvrtest::Factory().ModuleClass()(nullptr);
    EXPECT_EQ(nullptr, module->NativeColorWindow());
    module.reset();
    EXPECT_EQ(nullptr, qvr::CurrentModule());
    for (const wchar_t* windowClass : kWindowClasses) EXPECT_TRUE(ThreadWindows(windowClass).empty());
}

// The real DLL, loaded and driven as Office does it: its windows belong to the DLL, and once it
// is unloaded none of its windows or window classes is left to call into freed code.
TEST(HiddenWindows, TheDllUnloadsAndTakesItsWindowClassesWithIt) {
    const std::wstring dll = qvrtest::AddInDllPath();
    const CLSID clsid = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};

    auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    officesim::OfficeHost host;
    ASSERT_EQ(S_OK, host.LoadFromDll(dll, clsid));
    HMODULE module = host.Module();
    // Loaded while Excel runs: OnConnection runs the start-up itself.
    ASSERT_EQ(S_OK, host.Connect(app.Get(), 0, nullptr));
    for (const wchar_t* windowClass : {L"TqvrNativeColorWindow", L"TqvrInternalMessagingWindow"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(windowClass)));
        std::vector<HWND> found = ThreadWindows(windowClass);
        ASSERT_EQ(1u, found.size());
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(module), GetWindowLongPtrW(found[0], GWLP_HINSTANCE));
        EXPECT_TRUE(ClassRegistered(module, windowClass));
    }
    qvrtest::PumpMessages();

    ASSERT_EQ(S_OK, host.BeginShutdown());
    ASSERT_EQ(S_OK, host.Disconnect(0));
    host.ReleaseAddIn();
    EXPECT_EQ(S_OK, host.CanUnloadNow());
    ASSERT_TRUE(host.Unload());
    EXPECT_EQ(nullptr, GetModuleHandleW(dll.c_str()));
    for (const wchar_t* windowClass : kWindowClasses) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(windowClass)));
        EXPECT_TRUE(ThreadWindows(windowClass).empty());
        EXPECT_FALSE(ClassRegistered(module, windowClass));
    }
    // Office's loop goes on with the DLL gone.
    PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"WM_MSO_BROADCASTCHANGE"), 0, 0);
    qvrtest::PumpMessages();
}

}  // namespace
