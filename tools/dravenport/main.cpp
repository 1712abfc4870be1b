// Dravenport stand-in: the real uploader reads %TEMP%\VortelixExcel\Order.xlsx and sends it to
// the VORTELIX platform. This one only records, in Dravenport.log next to itself, that it
// started, how, and what it found at the copy path.
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

std::wstring CopyPath() {
    wchar_t temp[MAX_PATH] = {}, longTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    GetLongPathNameW(temp, longTemp, MAX_PATH);
    return std::wstring(longTemp) + L"VortelixExcel\\Order.xlsx";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int show) {
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
        if (auto package = officesim::XlsxPackage::Parse(bytes)) {
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
