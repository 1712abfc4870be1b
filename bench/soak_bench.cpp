// soak_bench: the memory a process keeps when an add-in is loaded and unloaded again and again in
// it, as Office does each time a user ticks and unticks the add-in in its COM add-ins list. The
// real VORTELIXExcel.dll and NullAddInWindows.dll (null_addin.cpp: an add-in that does nothing but
// keep the same two hidden top-level windows from connection to disconnection) go through the
// same cycles in the same process, one after the other, and each one's growth is measured from
// just before its own cycles to just after them.
//
// The cycle (default "tick", what Office does when the user ticks the add-in and later unticks it):
//   LoadLibrary, DllGetClassObject, CreateInstance, OnConnection (ConnectMode 0: loaded while the
//   host runs), OnAddInsUpdate, the ribbon (GetCustomUI, the markup read, every callback resolved
//   through GetIDsOfNames, onLoad and the first round of get... callbacks), OnDisconnection
//   (RemoveMode 1: removed by the user), OnAddInsUpdate, release, DllCanUnloadNow, FreeLibrary.
// Other cycles, to find which step keeps the memory:
//   load     LoadLibrary, FreeLibrary
//   create   + DllGetClassObject, CreateInstance, release, DllCanUnloadNow
//   connect  + OnConnection (0), OnDisconnection (1)
//   start    Excel's own start and quit: OnConnection (1), OnStartupComplete, the ribbon,
//            OnBeginShutdown, OnDisconnection (0)
//
// Figures, each the growth over the measured cycles:
//   - heap in use: the bytes of every busy block in every heap of the process (HeapWalk): exact to
//     the byte, and what a leak of the add-in's or its runtime's allocations shows in first;
//   - private bytes (PrivateUsage; Wine 8 answers 0, and then the pagefile usage is given, which
//     Wine 8 fills with the same resident-memory figure as the working set: pages never touched,
//     such as most of a large block allocated and left alone, do not show in it), the working set
//     and the virtual address space in use: what Task Manager and Office's own checks see;
//   - thread-local storage indexes (of the 1088 a process has), found by taking every free one;
//   - kernel handles (GetProcessHandleCount; Wine answers 0, and then the handle values that
//     GetHandleInformation accepts are counted), GDI and USER objects (GetGuiResources; Wine
//     answers 0, and then each 16-bit handle index is asked about).
// Every figure is printed as "ROW|<what>|<figure>|<baseline>|<note>" (bench/run.sh collects them).
//   soak_bench [cycles (300)] [cycle (tick)] [--check <KB>]
// With --check the program fails (exit code 3) when the add-in's heap grows by more than <KB> over
// the cycles, when it keeps GDI or USER objects the null add-in does not, or when it keeps any
// thread-local storage index.
#include "excel_like_process.h"
#include "excel_sim.h"
#include "office_host.h"
#include "ribbon_host.h"
#include "sim_object.h"

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kRibbonId[] = L"Microsoft.Excel.Workbook";
// The classes of VORTELIXExcel.dll (coVORTELIXExcel in VORTELIXExcel.idl; the bench links none of
// the add-in's code, so that only the DLL's copy of it is in the process) and NullAddInWindows.dll.
const CLSID kAddInClass = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};
const CLSID kNullClass = {0x6E1F0C2A, 0x9B4D, 0x4E57, {0x8A, 0x13, 0x2C, 0x5D, 0x7F, 0x90, 0xB1, 0xE5}};

enum class Cycle { Load, Create, Connect, Tick, Start };

struct CycleName {
    const char* name;
    Cycle cycle;
    const char* what;
};
const CycleName kCycles[] = {
    {"load", Cycle::Load, "LoadLibrary, FreeLibrary"},
    {"create", Cycle::Create, "LoadLibrary, create, release, FreeLibrary"},
    {"connect", Cycle::Connect, "LoadLibrary, create, OnConnection, OnDisconnection, release, FreeLibrary"},
    {"tick", Cycle::Tick,
     "tick and untick: LoadLibrary, create, OnConnection (0), OnAddInsUpdate, GetCustomUI and first callbacks, "
     "OnDisconnection (1), OnAddInsUpdate, release, FreeLibrary"},
    {"start", Cycle::Start,
     "Excel start and quit: LoadLibrary, create, OnConnection (1), OnStartupComplete, GetCustomUI and first "
     "callbacks, OnBeginShutdown, OnDisconnection (0), release, FreeLibrary"},
};

std::wstring Folder() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// An empty array of VARIANTs, as Office passes to OnAddInsUpdate.
struct EmptyCustom {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    ~EmptyCustom() {
        if (array) SafeArrayDestroy(array);
    }
};

// One cycle of `dll`; false when a step fails or the DLL stays mapped after it.
bool RunCycle(const std::wstring& dll, REFCLSID clsid, Cycle cycle) {
    if (cycle == Cycle::Load) {
        HMODULE module = LoadLibraryW(dll.c_str());
        if (!module) return false;
        FreeLibrary(module);
        return GetModuleHandleW(dll.c_str()) == nullptr;
    }
    {
        ComPtr<officesim::ExcelApplicationSim> app =
            officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
        ComPtr<officesim::COMAddInSim> inst = officesim::COMAddInSim::Make<officesim::COMAddInSim>();
        officesim::OfficeHost host;
        officesim::RibbonHost ribbon;
        HRESULT hr = host.LoadFromDll(dll, clsid);
        if (SUCCEEDED(hr) && cycle != Cycle::Create) {
            const bool start = cycle == Cycle::Start;
            hr = host.Connect(app.Get(), start ? 1 : 0, inst.Get());
            if (SUCCEEDED(hr) && cycle == Cycle::Tick) {
                EmptyCustom custom;
                hr = host.AddIn()->OnAddInsUpdate(&custom.array);
            }
            if (SUCCEEDED(hr) && start) hr = host.StartupComplete();
            if (SUCCEEDED(hr) && (cycle == Cycle::Tick || start)) hr = ribbon.Load(host.AddIn(), kRibbonId, app->Window());
            ribbon.Release();
            if (start) host.BeginShutdown();
            HRESULT off = host.Disconnect(start ? 0 : 1);
            if (SUCCEEDED(hr)) hr = off;
            if (SUCCEEDED(hr) && cycle == Cycle::Tick) {
                EmptyCustom custom;
                hr = host.AddIn()->OnAddInsUpdate(&custom.array);
            }
        }
        if (FAILED(hr))
            std::fprintf(stderr, "a cycle failed: %ls\n", officesim::HResultText(hr).c_str());
        inst->object.Reset();
        host.ReleaseAddIn();
        if (!host.Unload()) {
            std::fprintf(stderr, "the DLL did not allow its unloading (DllCanUnloadNow)\n");
            return false;
        }
        if (FAILED(hr)) return false;
    }
    return GetModuleHandleW(dll.c_str()) == nullptr;
}

// Bytes in busy blocks of every heap of the process.
double HeapInUse() {
    std::vector<HANDLE> heaps(64);
    DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (n > heaps.size()) {
        heaps.resize(n);
        n = GetProcessHeaps(n, heaps.data());
    }
    heaps.resize(n < heaps.size() ? n : heaps.size());
    double bytes = 0;
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heap, &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
        HeapUnlock(heap);
    }
    return bytes;
}

// The handle values GetHandleInformation accepts (Wine hands out multiples of 4 from 4 up).
std::set<uintptr_t> HandleValues() {
    std::set<uintptr_t> values;
    for (uintptr_t h = 4; h < 0x10000; h += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) values.insert(h);
    }
    return values;
}

long KernelHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return static_cast<long>(count);
    return static_cast<long>(HandleValues().size());
}

// The kinds of the handles in `after` that are not in `before`: "Semaphore x300, Event x2".
std::string KeptHandleKinds(const std::set<uintptr_t>& before, const std::set<uintptr_t>& after) {
    std::map<std::wstring, int> kinds;
    for (uintptr_t h : after) {
        if (before.count(h)) continue;
        alignas(8) unsigned char buffer[1024] = {};
        ULONG length = 0;
        std::wstring kind = L"?";
        if (NtQueryObject(reinterpret_cast<HANDLE>(h), ObjectTypeInformation, buffer, sizeof buffer, &length) >= 0) {
            const auto* info = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer);
            kind.assign(info->TypeName.Buffer, info->TypeName.Length / sizeof(wchar_t));
        }
        ++kinds[kind];
    }
    std::string text;
    for (const auto& [kind, n] : kinds) {
        char b[160];
        std::snprintf(b, sizeof b, "%s%ls x%d", text.empty() ? "" : ", ", kind.c_str(), n);
        text += b;
    }
    return text.empty() ? "none" : text;
}

// GDI and USER objects; under Wine, which answers 0 to GetGuiResources, found by asking about each
// 16-bit handle index (Wine accepts an index alone as a handle).
void GuiObjects(long& gdi, long& user) {
    SetLastError(0);
    gdi = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    user = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
    if (gdi != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return;
    gdi = user = 0;
    for (uintptr_t i = 1; i < 0x10000; ++i)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(i))) ++gdi;
    for (uintptr_t i = 0x20; i < 0x10000; i += 2) {
        if (IsWindow(reinterpret_cast<HWND>(i))) {
            ++user;
            continue;
        }
        ICONINFO ii{};
        if (GetIconInfo(reinterpret_cast<HICON>(i), &ii)) {
            ++user;
            if (ii.hbmColor) DeleteObject(ii.hbmColor);
            if (ii.hbmMask) DeleteObject(ii.hbmMask);
        }
    }
}

// Thread-local storage indexes in use: the process has a fixed number (1088 on Windows and Wine),
// and a DLL that takes one at each load and never gives it back makes TlsAlloc fail in the end.
long TlsIndexesInUse() {
    std::vector<DWORD> taken;
    for (DWORD i; (i = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(i);
    for (DWORD i : taken) TlsFree(i);
    return 1088 - static_cast<long>(taken.size());
}

struct Snapshot {
    double heap = 0, privateBytes = 0, pagefile = 0, workingSet = 0, addressSpace = 0;
    long handles = 0, gdi = 0, user = 0, tls = 0;
    std::string keptHandles;  // in a growth: the kinds of the handles kept
};

Snapshot Take() {
    Snapshot s;
    s.heap = HeapInUse();
    PROCESS_MEMORY_COUNTERS_EX c{};
    c.cb = sizeof c;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof c)) {
        s.privateBytes = static_cast<double>(c.PrivateUsage);
        s.pagefile = static_cast<double>(c.PagefileUsage);
        s.workingSet = static_cast<double>(c.WorkingSetSize);
    }
    MEMORYSTATUSEX m{};
    m.dwLength = sizeof m;
    if (GlobalMemoryStatusEx(&m)) s.addressSpace = static_cast<double>(m.ullTotalVirtual - m.ullAvailVirtual);
    s.handles = KernelHandles();
    GuiObjects(s.gdi, s.user);
    s.tls = TlsIndexesInUse();
    return s;
}

Snapshot Growth(const Snapshot& a, const Snapshot& b) {
    return {b.heap - a.heap, b.privateBytes - a.privateBytes, b.pagefile - a.pagefile,
            b.workingSet - a.workingSet, b.addressSpace - a.addressSpace, b.handles - a.handles,
            b.gdi - a.gdi, b.user - a.user, b.tls - a.tls, {}};
}

std::string Kb(double bytes, int cycles) {
    char b[96];
    std::snprintf(b, sizeof b, "%.0f KB (%.2f KB/cycle)", bytes / 1024, bytes / 1024 / cycles);
    return b;
}

// The growth of `cycles` cycles of one DLL; false when one failed.
bool Soak(const std::wstring& dll, REFCLSID clsid, Cycle cycle, int cycles, Snapshot& growth) {
    // First-use costs of this DLL's path through the process (OLE automation, the markup reader,
    // window classes, the loader's own tables) are paid before measuring.
    for (int i = 0; i < 3; ++i)
        if (!RunCycle(dll, clsid, cycle)) return false;
    Snapshot before = Take();
    const std::set<uintptr_t> handlesBefore = HandleValues();
    for (int i = 0; i < cycles; ++i)
        if (!RunCycle(dll, clsid, cycle)) {
            std::fprintf(stderr, "cycle %d failed\n", i + 1);
            return false;
        }
    growth = Growth(before, Take());
    growth.keptHandles = KeptHandleKinds(handlesBefore, HandleValues());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 300;
    const CycleName* cycle = &kCycles[3];
    double checkKb = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0 && i + 1 < argc) {
            checkKb = std::atof(argv[++i]);
            continue;
        }
        bool named = false;
        for (const CycleName& c : kCycles)
            if (std::strcmp(argv[i], c.name) == 0) {
                cycle = &c;
                named = true;
            }
        if (!named) cycles = std::atoi(argv[i]);
    }
    if (cycles <= 0) {
        std::fprintf(stderr, "usage: soak_bench [cycles] [load|create|connect|tick|start] [--check KB]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    int status = 0;
    {
        ExcelLikeProcess excel;
        if (!excel.Ready()) {
            std::fprintf(stderr, "no main window: is there a display?\n");
            return 2;
        }
        const std::wstring dll = Folder() + L"VORTELIXExcel.dll";
        const std::wstring nullDll = Folder() + L"NullAddInWindows.dll";
        Snapshot real, null;
        if (!Soak(nullDll, kNullClass, cycle->cycle, cycles, null) ||
            !Soak(dll, kAddInClass, cycle->cycle, cycles, real)) {
            CoUninitialize();
            return 1;
        }
        const int bits = static_cast<int>(sizeof(void*) * 8);
        char head[200];
        std::snprintf(head, sizeof head, "soak, %d-bit, %d cycles (%s)", bits, cycles, cycle->name);
        auto memoryRow = [&](const char* what, double Snapshot::*field, bool judged) {
            double above = real.*field - null.*field;
            char note[160];
            std::snprintf(note, sizeof note, "%+.0f KB above the null add-in", above / 1024);
            std::string n = note;
            if (judged) n += above <= 1024.0 * 1024.0 ? "; target <= 1 MB above: met" : "; target <= 1 MB above: NOT met";
            std::printf("ROW|%s: %s|%s|%s NullAddInWindows.dll|%s\n", head, what, Kb(real.*field, cycles).c_str(),
                        Kb(null.*field, cycles).c_str(), n.c_str());
        };
        std::printf("# cycle: %s\n", cycle->what);
        memoryRow("heap in use (busy blocks of every heap, HeapWalk)", &Snapshot::heap, true);
        if (real.privateBytes != 0 || null.privateBytes != 0)
            memoryRow("private bytes", &Snapshot::privateBytes, true);
        else
            memoryRow("pagefile usage (private bytes not reported; Wine gives the resident memory here, as for the working set)",
                      &Snapshot::pagefile, true);
        memoryRow("working set", &Snapshot::workingSet, false);
        memoryRow("virtual address space in use", &Snapshot::addressSpace, false);
        std::printf("ROW|%s: handles / GDI / USER objects|%+ld / %+ld / %+ld|%+ld / %+ld / %+ld NullAddInWindows.dll|%s"
                    " (handles kept: %s; by the null add-in: %s)\n",
                    head, real.handles, real.gdi, real.user, null.handles, null.gdi, null.user,
                    real.handles <= null.handles && real.gdi <= null.gdi && real.user <= null.user
                        ? "none kept beyond the null add-in's"
                        : "KEPT beyond the null add-in's",
                    real.keptHandles.c_str(), null.keptHandles.c_str());
        std::printf("ROW|%s: thread-local storage indexes|%+ld|%+ld NullAddInWindows.dll|%s\n", head, real.tls, null.tls,
                    real.tls <= null.tls ? "none kept beyond the null add-in's"
                                         : "KEPT beyond the null add-in's (a process has 1088)");
        if (checkKb >= 0) {
            // The add-in's own growth is bounded, not only its growth beyond the null add-in's: the
            // null add-in links the same C++ runtime, so a runtime leak at every load would show in
            // both and cancel out in the difference.
            const double grown = real.heap / 1024;
            if (grown > checkKb) {
                std::fprintf(stderr, "FAILED: the add-in's heap grew %.0f KB over %d cycles (bound %.0f KB; the null "
                             "add-in's grew %.0f KB)\n", grown, cycles, checkKb, null.heap / 1024);
                status = 3;
            }
            if (real.gdi > null.gdi || real.user > null.user) {
                std::fprintf(stderr, "FAILED: the add-in kept GDI or USER objects over %d cycles\n", cycles);
                status = 3;
            }
            // Not one: the process has 1088, and the threading library aborts the process when
            // it finds none free.
            if (real.tls > 0) {
                std::fprintf(stderr, "FAILED: the add-in kept %ld thread-local storage indexes over %d cycles\n",
                             real.tls, cycles);
                status = 3;
            }
            if (status == 0) std::printf("check passed: heap grew %.0f KB, bound %.0f KB\n", grown, checkKb);
        }
    }
    CoUninitialize();
    return status;
}
