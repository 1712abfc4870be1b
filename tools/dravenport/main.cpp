// Dravenport stand-in: the real uploader reads %TEMP%\VortelixExcel\Order.xlsx and sends it to
// the VORTELIX platform. This one only records, in Dravenport.log next to itself, that it
// started, how, what it found at the copy path, and whether the copy was there, whole, before the
// process was started (a hand-off must save the copy first: a quick save after the start would
// still be found, so the order is read from the times, not from finding the file).
#include "xlsx.h"

#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

// "yes" when the copy's last write is not later than this process's creation.
const char* WrittenBeforeStart(const std::wstring& copy) {
    FILETIME created{}, exited{}, kernel{}, user{};
    WIN32_FILE_ATTRIBUTE_DATA file{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) ||
        !GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &file))
        return "unknown";
    return CompareFileTime(&file.ftLastWriteTime, &created) <= 0 ? "yes" : "no";
}

std::wstring CopyPath() {
    wchar_t temp[MAX_PATH] = {}, longTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    GetLongPathNameW(temp, longTemp, MAX_PATH);
    return std::wstring(longTemp) + L"VortelixExcel\\Order.xlsx";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int show) {
    // "--stay": an uploader still open from an earlier hand-off (tests), until the event is set
    // or a minute has passed. It records nothing.
    if (commandLine && wcsstr(commandLine, L"--stay")) {
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"VortelixDravenportStandInGo");
        if (go) {
            WaitForSingleObject(go, 60000);
            CloseHandle(go);
        }
        return 0;
    }
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    folder.erase(folder.find_last_of(L'\\') + 1);
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);

    std::string log = "started\r\n";
    log += "arguments=" + Utf8(commandLine ? commandLine : L"") + "\r\n";
    log += "show=" + std::to_string(show) + "\r\n";
    log += "directory=" + Utf8(cwd) + "\r\n";
    std::wstring copy = CopyPath();
    log += "copy=" + Utf8(copy) + "\r\n";
    bool ok = false;
    std::vector<uint8_t> bytes = officesim::ReadWholeFile(copy, &ok);
    log += std::string("found=") + (ok ? "yes" : "no") + "\r\n";
    if (ok) {
        log += "size=" + std::to_string(bytes.size()) + "\r\n";
        auto package = officesim::XlsxPackage::Parse(bytes);
        log += std::string("complete_before_start=") + (package ? WrittenBeforeStart(copy) : "no") + "\r\n";
        if (package) {
            log += "cells=";
            for (const auto& t : package->CellTexts()) log += t + "|";
            log += "\r\n";
        } else {
            log += "cells=(not a workbook)\r\n";
        }
    }
    std::vector<uint8_t> out(log.begin(), log.end());
    officesim::WriteWholeFile(folder + L"Dravenport.log", out);
    return 0;
}
