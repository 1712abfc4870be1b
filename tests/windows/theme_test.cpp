// Office's colour scheme: read from Office's theme key at start-up, and again when Office
// broadcasts a settings change to every top-level window.
#include "support/test_support.h"
#include "windows_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

using qvr::TqvrOfficeColorScheme;
using qvrtest::Stored;
using Scheme = TqvrOfficeColorScheme;

namespace qvr {
void PrintTo(TqvrOfficeColorScheme s, std::ostream* os) {
    static const char* const names[] = {"Unknown", "Blue", "Silver", "Black", "White", "LightGray", "DarkGray",
                                        "Colorful"};
    auto i = static_cast<unsigned>(s);
    *os << (i < 8 ? names[i] : "out of range ") << (i < 8 ? "" : std::to_string(i));
}
}  // namespace qvr

namespace {

const wchar_t kUiTheme[] = L"UI Theme";  // Office 2013 and later
const wchar_t kTheme[] = L"Theme";       // Office 2007 and 2010

// Office broadcasts its settings change to all top-level windows; the loop delivers it.
void BroadcastOfficeSettingsChange() {
    ASSERT_TRUE(PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"WM_MSO_BROADCASTCHANGE"), 0, 0));
    qvrtest::PumpMessages();
}

struct StoredTheme {
    const wchar_t* name;
    Stored stored;
    DWORD value;
};

struct StartupCase {
    int32_t version;
    StoredTheme theme;
    Scheme expected;
};

std::ostream& operator<<(std::ostream& os, const StartupCase& c) {
    os << "Office " << c.version << ", ";
    switch (c.theme.stored) {
        case Stored::NoKey: return os << "no Common key";
        case Stored::NoValue: return os << "no value";
        case Stored::Integer: return os << (c.theme.name == kTheme ? "Theme" : "UI Theme") << " = " << c.theme.value;
        case Stored::Text: return os << (c.theme.name == kTheme ? "Theme" : "UI Theme") << " = text";
    }
    return os;
}

class ThemeAtStartup : public testing::TestWithParam<StartupCase> {
protected:
    void SetUp() override { qvrtest::ClearThemes(); }
    void TearDown() override { qvrtest::ClearThemes(); }
};

TEST_P(ThemeAtStartup, FollowsTheVersionsThemeValueWithoutAnEvent) {
    const StartupCase& c = GetParam();
    qvrtest::StoreTheme(c.version, c.theme.name, c.theme.stored, c.theme.value);
    std::unique_ptr<qvr::TqvrCOMAddInModule> module = qvrtest::Factory().ModuleClass()(nullptr);
    int events = 0;
    module->OnOfficeColorSchemeChanged = [&](qvr::TObject*, Scheme) { ++events; };
    module->SetHostMajorVersion(c.version);
    module->ReadOfficeColorSchemeAtStartup();
    EXPECT_EQ(c.expected, module->OfficeColorScheme());
    EXPECT_EQ(0, events) << "start-up reads the scheme silently";
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ThemeAtStartup,
    testing::Values(
        // Office 2016 and later: Colorful unless "UI Theme" names Dark Gray, Black or White.
        StartupCase{16, {kUiTheme, Stored::NoKey, 0}, Scheme::Unknown},
        StartupCase{16, {kUiTheme, Stored::NoValue, 0}, Scheme::Colorful},
        StartupCase{16, {kUiTheme, Stored::Integer, 0}, Scheme::Colorful},
        StartupCase{16, {kUiTheme, Stored::Integer, 3}, Scheme::DarkGray},
        StartupCase{16, {kUiTheme, Stored::Integer, 4}, Scheme::Black},
        StartupCase{16, {kUiTheme, Stored::Integer, 5}, Scheme::White},
        StartupCase{16, {kUiTheme, Stored::Integer, 6}, Scheme::Colorful},
        StartupCase{16, {kUiTheme, Stored::Text, 4}, Scheme::Colorful},
        StartupCase{16, {kTheme, Stored::Integer, 3}, Scheme::Colorful},
        StartupCase{17, {kUiTheme, Stored::Integer, 4}, Scheme::Black},
        // Office 2013: White unless "UI Theme" is 0 to 3.
        StartupCase{15, {kUiTheme, Stored::NoKey, 0}, Scheme::Unknown},
        StartupCase{15, {kUiTheme, Stored::NoValue, 0}, Scheme::White},
        StartupCase{15, {kUiTheme, Stored::Integer, 0}, Scheme::White},
        StartupCase{15, {kUiTheme, Stored::Integer, 1}, Scheme::LightGray},
        StartupCase{15, {kUiTheme, Stored::Integer, 2}, Scheme::DarkGray},
        StartupCase{15, {kUiTheme, Stored::Integer, 3}, Scheme::Colorful},
        StartupCase{15, {kUiTheme, Stored::Integer, 4}, Scheme::White},
        StartupCase{15, {kUiTheme, Stored::Integer, 0xFFFFFFFF}, Scheme::White},
        StartupCase{15, {kUiTheme, Stored::Text, 1}, Scheme::White},
        // Office 2010 and 2007: "Theme" is the scheme's own number; otherwise Silver and Blue.
        StartupCase{14, {kTheme, Stored::NoKey, 0}, Scheme::Unknown},
        StartupCase{14, {kTheme, Stored::NoValue, 0}, Scheme::Silver},
        StartupCase{14, {kTheme, Stored::Integer, 1}, Scheme::Blue},
        StartupCase{14, {kTheme, Stored::Integer, 3}, Scheme::Black},
        StartupCase{14, {kTheme, Stored::Text, 1}, Scheme::Silver},
        StartupCase{14, {kTheme, Stored::Integer, 200}, Scheme::Silver},
        StartupCase{14, {kUiTheme, Stored::Integer, 3}, Scheme::Silver},
        StartupCase{12, {kTheme, Stored::NoValue, 0}, Scheme::Blue},
        StartupCase{12, {kTheme, Stored::Integer, 2}, Scheme::Silver},
        StartupCase{12, {kTheme, Stored::Text, 2}, Scheme::Blue},
        // A version without a default of its own keeps the scheme unless "Theme" names one.
        StartupCase{13, {kTheme, Stored::NoValue, 0}, Scheme::Unknown},
        StartupCase{11, {kTheme, Stored::Integer, 2}, Scheme::Silver}));

// Office's settings broadcast while the add-in runs.
struct BroadcastCase {
    int32_t version;
    StoredTheme before;  // at start-up
    StoredTheme after;   // when Office broadcasts
    std::optional<Scheme> fired;
    Scheme scheme;  // the module's scheme afterwards
};

std::ostream& operator<<(std::ostream& os, const BroadcastCase& c) {
    return os << StartupCase{c.version, c.before, c.scheme} << " then " << StartupCase{c.version, c.after, c.scheme};
}

class ThemeBroadcast : public testing::TestWithParam<BroadcastCase> {
protected:
    void SetUp() override { qvrtest::ClearThemes(); }
    void TearDown() override { qvrtest::ClearThemes(); }
};

TEST_P(ThemeBroadcast, UpdatesTheSchemeAndFiresUnlessTheValueReadIsTheCurrentOne) {
    const BroadcastCase& c = GetParam();
    qvrtest::StoreTheme(c.version, c.before.name, c.before.stored, c.before.value);
    qvrtest::StartedAddIn addIn({.hostMajorVersion = c.version});
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    std::vector<Scheme> fired;
    m.OnOfficeColorSchemeChanged = [&](qvr::TObject* sender, Scheme scheme) {
        EXPECT_EQ(static_cast<qvr::TObject*>(&m), sender);
        EXPECT_EQ(m.OfficeColorScheme(), scheme);
        fired.push_back(scheme);
    };
    qvrtest::StoreTheme(c.version, c.after.name, c.after.stored, c.after.value);

    BroadcastOfficeSettingsChange();
    EXPECT_EQ(c.fired ? std::vector<Scheme>{*c.fired} : std::vector<Scheme>{}, fired);
    EXPECT_EQ(c.scheme, m.OfficeColorScheme());

    // The same broadcast again finds the scheme it stored: silent, unless no theme could be read.
    fired.clear();
    BroadcastOfficeSettingsChange();
    const bool themeRead = c.after.stored == Stored::Integer || c.after.stored == Stored::Text;
    EXPECT_EQ(themeRead ? std::vector<Scheme>{} : std::vector<Scheme>{c.scheme}, fired);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ThemeBroadcast,
    testing::Values(
        // Office 2016: Black, then the user picks Colorful.
        BroadcastCase{16, {kUiTheme, Stored::Integer, 4}, {kUiTheme, Stored::Integer, 0}, Scheme::Colorful,
                      Scheme::Colorful},
        BroadcastCase{16, {kUiTheme, Stored::Integer, 4}, {kUiTheme, Stored::Integer, 4}, std::nullopt, Scheme::Black},
        BroadcastCase{16, {kUiTheme, Stored::Integer, 3}, {kUiTheme, Stored::Text, 3}, Scheme::Colorful,
                      Scheme::Colorful},
        // No value, or no key: the event reports the unchanged scheme every time.
        BroadcastCase{16, {kUiTheme, Stored::NoValue, 0}, {kUiTheme, Stored::NoValue, 0}, Scheme::Colorful,
                      Scheme::Colorful},
        BroadcastCase{16, {kUiTheme, Stored::Integer, 3}, {kUiTheme, Stored::NoValue, 0}, Scheme::DarkGray,
                      Scheme::DarkGray},
        BroadcastCase{16, {kUiTheme, Stored::NoKey, 0}, {kUiTheme, Stored::NoKey, 0}, Scheme::Unknown,
                      Scheme::Unknown},
        BroadcastCase{15, {kUiTheme, Stored::Integer, 1}, {kUiTheme, Stored::Integer, 2}, Scheme::DarkGray,
                      Scheme::DarkGray},
        BroadcastCase{15, {kUiTheme, Stored::Integer, 1}, {kUiTheme, Stored::Integer, 1}, std::nullopt,
                      Scheme::LightGray},
        BroadcastCase{15, {kUiTheme, Stored::Integer, 2}, {kUiTheme, Stored::Integer, 9}, Scheme::White,
                      Scheme::White},
        BroadcastCase{14, {kTheme, Stored::Integer, 1}, {kTheme, Stored::Text, 1}, Scheme::Silver, Scheme::Silver},
        BroadcastCase{14, {kTheme, Stored::NoValue, 0}, {kTheme, Stored::Integer, 3}, Scheme::Black, Scheme::Black},
        BroadcastCase{12, {kTheme, Stored::Integer, 3}, {kTheme, Stored::Text, 3}, Scheme::Blue, Scheme::Blue},
        // A version without a default of its own: a value that is not a number reads as Silver.
        BroadcastCase{13, {kTheme, Stored::NoValue, 0}, {kTheme, Stored::Text, 0}, Scheme::Silver, Scheme::Silver}));

TEST(ThemeBroadcastErrors, AHandlerErrorIsReportedAndTheWindowKeepsFollowingTheTheme) {
    qvrtest::ClearThemes();
    qvrtest::StoreTheme(16, kUiTheme, Stored::Integer, 4);
    qvrtest::DialogRecorder dialogs;
    qvrtest::StartedAddIn addIn;
    qvr::TqvrCOMAddInModule& m = addIn.Module();
    std::vector<Scheme> fired;
    m.OnOfficeColorSchemeChanged = [&](qvr::TObject*, Scheme scheme) {
        fired.push_back(scheme);
        if (fired.size() == 1) throw qvr::EqvrError(L"theme handler failed");
    };

    qvrtest::StoreTheme(16, kUiTheme, Stored::Integer, 5);
    BroadcastOfficeSettingsChange();
    EXPECT_EQ(Scheme::White, m.OfficeColorScheme()) << "the new scheme is kept although the handler failed";
    ASSERT_EQ(1u, dialogs.dialogs.size());
    EXPECT_EQ(L"VORTELIX Excel error: the add-in has fired an exception.\r\ntheme handler failed",
              dialogs.dialogs[0].text);

    qvrtest::StoreTheme(16, kUiTheme, Stored::Integer, 3);
    BroadcastOfficeSettingsChange();
    EXPECT_EQ((std::vector<Scheme>{Scheme::White, Scheme::DarkGray}), fired);
    EXPECT_EQ(1u, dialogs.dialogs.size());
    qvrtest::ClearThemes();
}

}  // namespace
