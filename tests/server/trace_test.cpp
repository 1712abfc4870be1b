// The trace an administrator reads when start-up was slow or a button did nothing: the built DLL,
// loaded by the Excel stand-in as Excel loads it, at the level the user's setting asks for.
#include "excel_session.h"
#include "support/test_support.h"
#include "support/addin_facts.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <fstream>
#include <sstream>

namespace {

const wchar_t kSettingsKey[] = L"Software\\VORTELIX\\Excel";
constexpr const wchar_t* kButtonId = qvrtest::kAddInButtonId;

std::wstring TraceFile() {
    wchar_t local[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
    return std::wstring(local) + L"\\VORTELIX\\Excel\\Logs\\VORTELIXExcel.log";
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void SetUserLevel(const DWORD* level) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    if (!level) return;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                             nullptr));
    RegSetValueExW(key, L"LogLevel", 0, REG_DWORD, reinterpret_cast<const BYTE*>(level), sizeof(*level));
    RegCloseKey(key);
}

std::string RunOneExcelSession() {
    DeleteFileW(TraceFile().c_str());
    officesim::ExcelSession session;
    EXPECT_EQ(S_OK, session.Start(qvrtest::AddInDllPath()));
    session.Shutdown();
    EXPECT_TRUE(session.Unloaded());
    return ReadAll(TraceFile());
}

TEST(VerboseTrace, TheLoadSequenceAndEachCallbackAreTracedInOrderWithTheirTimes) {
    const DWORD verbose = 3;
    SetUserLevel(&verbose);
    const std::string trace = RunOneExcelSession();
    SetUserLevel(nullptr);
    const std::string button(kButtonId, kButtonId + wcslen(kButtonId));
    const std::string steps[] = {
        " VERBOSE connection OnConnection -> 0x00000000 took ",
        " VERBOSE connection GetCustomUI -> 0x00000000 took ",
        " VERBOSE callback GetLabel_Callback " + button + " -> S_OK took ",
        " VERBOSE connection OnStartupComplete -> 0x00000000 took ",
        " VERBOSE connection OnBeginShutdown -> 0x00000000 took ",
        " VERBOSE connection OnDisconnection -> 0x00000000 took ",
    };
    size_t at = 0;
    for (const std::string& step : steps) {
        size_t found = trace.find(step, at);
        ASSERT_NE(std::string::npos, found) << "missing, or out of order: \"" << step << "\" in\n" << trace;
        at = found;
        const size_t ms = trace.find(" ms", found + step.size());
        EXPECT_EQ(trace.find('\n', found), ms + 4) << "each step ends with its time in ms";
    }
}

TEST(VerboseTrace, BelowTheVerboseLevelALoadWritesNothing) {
    const DWORD errors = 1;
    for (const DWORD* level : {static_cast<const DWORD*>(nullptr), &errors}) {
        SetUserLevel(level);
        EXPECT_EQ("", RunOneExcelSession()) << "level " << (level ? *level : 2);
    }
    SetUserLevel(nullptr);
}

}  // namespace
