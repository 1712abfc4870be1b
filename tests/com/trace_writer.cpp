// trace_writer <trace folder> <tag> <records> <start event>: one more Excel process of the same
// user writing to the shared trace file. It waits for the named event, so that several writers
// start at once, then writes <records> records "<tag> <n> <padding>" (about 500 bytes each).
#include "com/log.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 5) return 2;
    qvr::ConfigureLog({L"", L"VORTELIXLogTest\\Excel", L"VORTELIXLogTest", L"VORTELIXExcel.log"});
    qvr::SetTraceFolderForTesting(argv[1]);
    const std::wstring tag = argv[2];
    const int records = _wtoi(argv[3]);
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
    if (!go || WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) return 3;
    CloseHandle(go);
    const std::wstring padding(440, L'.');
    for (int n = 0; n < records; ++n) qvr::LogDroppedError(tag, std::to_wstring(n), padding);
    LocalFree(argv);
    return 0;
}
