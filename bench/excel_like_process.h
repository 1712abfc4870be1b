// Excel as an add-in finds it: its main window is up and the system libraries the add-in links
// against are loaded long before any COM add-in is. A bench's own process has neither, so without
// this the first top-level window of the process (the window system's connection, a few MB under
// Wine) and those libraries would be charged to whichever add-in loads first.
#pragma once

#include <windows.h>

#include <vector>

class ExcelLikeProcess {
public:
    ExcelLikeProcess() {
        for (const wchar_t* name : {L"comctl32.dll", L"shell32.dll", L"shlwapi.dll", L"version.dll", L"uxtheme.dll"})
            libraries_.push_back(LoadLibraryW(name));
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"XLMAIN";
        RegisterClassW(&wc);
        main_ = CreateWindowExW(0, L"XLMAIN", L"Excel", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                wc.hInstance, nullptr);
    }
    ~ExcelLikeProcess() {
        if (main_) DestroyWindow(main_);
        UnregisterClassW(L"XLMAIN", GetModuleHandleW(nullptr));
        for (HMODULE m : libraries_)
            if (m) FreeLibrary(m);
    }
    ExcelLikeProcess(const ExcelLikeProcess&) = delete;
    ExcelLikeProcess& operator=(const ExcelLikeProcess&) = delete;
    bool Ready() const { return main_ != nullptr; }

private:
    std::vector<HMODULE> libraries_;
    HWND main_ = nullptr;
};
