// The ribbon is invalidated after a DPI change of one of Office's visible top-level windows, on
// Office 2016 and later under Windows 10 and later. Windows tells a window about its new DPI by
// sending it WM_DPICHANGED; the tests send it the same way to a window of Office's thread.
//
// Wine takes the Windows version it reports from the registry when a process starts, and a fresh
// prefix reports Windows 7. The Windows 10 cases therefore run in a child process of this
// program for which the version is set to Windows 10; they are disabled in a normal run.
#include "com/registry.h"
#include "support/test_support.h"
#include "windows_support.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

using Microsoft::WRL::ComPtr;
using qvrtest::HostWindow;
using qvrtest::RecordingRibbonUI;

namespace {

constexpr UINT kDpiChanged = 0x02E0;

// What Windows does when the window moves to a monitor of another DPI.
void ChangeDpi(HWND hwnd) {
    RECT suggested = {0, 0, 600, 450};
    SendMessageW(hwnd, kDpiChanged, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
}

ComPtr<RecordingRibbonUI> MakeRibbon() { return RecordingRibbonUI::Make<RecordingRibbonUI>(); }

TEST(RibbonRefresh, BeforeWindows10NoHookIsInstalledAndADpiChangeDoesNothing) {
    if (qvr::WindowsMajorVersion() >= 10) GTEST_SKIP() << "this prefix already reports Windows 10";
    auto ribbon = MakeRibbon();
    qvrtest::StartedAddIn addIn({.hostMajorVersion = 16, .ribbon = ribbon.Get()});
    EXPECT_EQ(nullptr, qvr::MessageHook());
    HostWindow excel(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ChangeDpi(excel.Handle());
    qvrtest::PumpMessages();
    EXPECT_EQ(0, ribbon->invalidations);
}

// Runs the Windows 10 cases in a child process that Wine starts as Windows 10.
TEST(RibbonRefresh, OnWindows10) {
    wchar_t self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
    std::wstring path = self;
    const std::wstring exe = path.substr(path.find_last_of(L"\\/") + 1);
    const std::wstring appDefaults = L"Software\\Wine\\AppDefaults\\" + exe;
    {
        qvr::TRegistry reg(HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(L"\\" + appDefaults, true));
        reg.WriteString(L"Version", L"win10");
    }
    std::wstring command = L"\"" + path +
                           L"\" --gtest_filter=*RibbonRefreshOnWindows10*:Windows10Cases.* --gtest_brief=1";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    qvr::unique_handle process(pi.hProcess), thread(pi.hThread);
    DWORD waited = WaitForSingleObject(process.get(), 120000);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    qvrtest::DeleteUserKey(appDefaults);
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "the Windows 10 run did not finish";
    EXPECT_EQ(0u, code) << "the Windows 10 cases failed (their output is above)";
}

// ---- Windows 10 cases (run by RibbonRefresh.OnWindows10) ----

// Where the process does not report Windows 10 (the prefix's own version) they are skipped: the
// child process that RibbonRefresh.OnWindows10 starts as Windows 10 runs them.
class Windows10Cases : public testing::Test {
protected:
    void SetUp() override {
        if (qvr::WindowsMajorVersion() < 10) GTEST_SKIP() << "run as Windows 10 by RibbonRefresh.OnWindows10";
    }
};

enum class Target { VisibleTopLevel, HiddenTopLevel, VisibleChild, VisiblePopup };

struct DpiCase {
    const char* name;
    int32_t hostMajorVersion;
    Target target;
    int invalidations;
};

class RibbonRefreshOnWindows10 : public testing::TestWithParam<DpiCase> {
protected:
    void SetUp() override {
        if (qvr::WindowsMajorVersion() < 10) GTEST_SKIP() << "run as Windows 10 by RibbonRefresh.OnWindows10";
    }
};

TEST_P(RibbonRefreshOnWindows10, InvalidatesOnlyForAVisibleTopLevelWindowOnOffice16) {
    const DpiCase& c = GetParam();
    auto ribbon = MakeRibbon();
    qvrtest::StartedAddIn addIn({.hostMajorVersion = c.hostMajorVersion, .ribbon = ribbon.Get()});
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    EXPECT_EQ(c.hostMajorVersion >= 16, qvr::MessageHook() != nullptr);

    HostWindow excel(c.target == Target::HiddenTopLevel ? WS_OVERLAPPEDWINDOW
                     : c.target == Target::VisiblePopup ? WS_POPUP | WS_VISIBLE
                                                        : WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    std::unique_ptr<HostWindow> child;
    if (c.target == Target::VisibleChild)
        child = std::make_unique<HostWindow>(WS_CHILD | WS_VISIBLE | WS_BORDER, excel.Handle());
    const HWND changed = child ? child->Handle() : excel.Handle();

    ChangeDpi(changed);
    EXPECT_EQ(0, ribbon->invalidations) << "the ribbon waits until the DPI change has been processed";
    if (c.invalidations) {
        MSG queued;
        ASSERT_TRUE(PeekMessageW(&queued, m.NativeColorWindow()->Handle(), 0, 0, PM_NOREMOVE));
        EXPECT_EQ(qvr::InvalidateMessageId(), queued.message);
        EXPECT_EQ(1u, queued.wParam);
        EXPECT_EQ(reinterpret_cast<LPARAM>(changed), queued.lParam);
    }
    qvrtest::PumpMessages();
    EXPECT_EQ(c.invalidations, ribbon->invalidations);
}

INSTANTIATE_TEST_SUITE_P(Windows, RibbonRefreshOnWindows10,
                         testing::Values(DpiCase{"Office16VisibleTopLevel", 16, Target::VisibleTopLevel, 1},
                                         DpiCase{"Office17VisibleTopLevel", 17, Target::VisibleTopLevel, 1},
                                         DpiCase{"Office16Hidden", 16, Target::HiddenTopLevel, 0},
                                         DpiCase{"Office16Child", 16, Target::VisibleChild, 0},
                                         DpiCase{"Office16PopupWithoutFrame", 16, Target::VisiblePopup, 0},
                                         DpiCase{"Office15VisibleTopLevel", 15, Target::VisibleTopLevel, 0}),
                         [](const testing::TestParamInfo<DpiCase>& info) { return info.param.name; });

TEST_F(Windows10Cases, AnInvalidateFailureIsReportedAndTheNextChangeStillInvalidates) {
    auto ribbon = MakeRibbon();
    ribbon->invalidateResult = E_ACCESSDENIED;
    qvrtest::DialogRecorder dialogs;
    qvrtest::StartedAddIn addIn({.ribbon = ribbon.Get()});
    HostWindow excel(WS_OVERLAPPEDWINDOW | WS_VISIBLE);

    ChangeDpi(excel.Handle());
    qvrtest::PumpMessages();
    EXPECT_EQ(1, ribbon->invalidations);
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\n" + qvr::SysErrorMessage(E_ACCESSDENIED),
              dialogs.dialogs[0].text);

    ribbon->invalidateResult = S_OK;
    ChangeDpi(excel.Handle());
    qvrtest::PumpMessages();
    EXPECT_EQ(2, ribbon->invalidations);
    EXPECT_EQ(1u, dialogs.dialogs.size());
}

TEST_F(Windows10Cases, WithoutARibbonYetADpiChangeDoesNothing) {
    qvrtest::DialogRecorder dialogs;
    qvrtest::StartedAddIn addIn;
    ASSERT_NE(nullptr, qvr::MessageHook());
    HostWindow excel(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ChangeDpi(excel.Handle());
    qvrtest::PumpMessages();
    EXPECT_TRUE(dialogs.dialogs.empty());

    // Once Office has loaded the ribbon, the next change refreshes it.
    auto ribbon = MakeRibbon();
    addIn.Module().SetRibbonUI(ribbon.Get());
    ChangeDpi(excel.Handle());
    qvrtest::PumpMessages();
    EXPECT_EQ(1, ribbon->invalidations);
}

TEST_F(Windows10Cases, ShutDownRemovesTheMessageHook) {
    auto ribbon = MakeRibbon();
    qvrtest::StartedAddIn addIn({.ribbon = ribbon.Get()});
    const HHOOK hook = qvr::MessageHook();
    ASSERT_NE(nullptr, hook);
    const UINT invalidate = qvr::InvalidateMessageId();
    EXPECT_EQ(RegisterWindowMessageW(L"WM_INVALIDATE_RIBBON_CONTROLS_NTV"), invalidate);

    addIn.ShutDown();
    EXPECT_EQ(nullptr, qvr::MessageHook());
    EXPECT_FALSE(UnhookWindowsHookEx(hook)) << "the message hook is still installed";
    HostWindow excel(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ChangeDpi(excel.Handle());
    qvrtest::PumpMessages();
    EXPECT_EQ(0, ribbon->invalidations);
    EXPECT_EQ(invalidate, qvr::InvalidateMessageId()) << "the message stays registered for the process";
}

}  // namespace
