// addin_bench: the add-in as Excel meets it, through the real VORTELIXExcel.dll.
//   - load time: class creation to the end of OnStartupComplete, plus GetCustomUI and the first
//     round of property callbacks, next to a null add-in made here that answers the same
//     interfaces (IDTExtensibility2, IRibbonExtensibility, IDispatch) and does nothing;
//   - the memory the process grows by when it loads the add-in, starts it and builds its ribbon;
//   - the DLL's size;
//   - the picture of the add-in's button (GetImage_Callback) next to its label;
//   - purging a tree of small files with ClearFolderTree next to a plain DeleteFileW loop.
// Every figure is printed as "ROW|<what>|<figure>|<baseline>|<note>" (bench/run.sh collects them).
//   addin_bench [files to purge (10000)] [load rounds (15)]
#include "addin/coclass.h"
#include "addin/handoff_files.h"
#include "com/handles.h"
#include "excel_sim.h"
#include "office_host.h"
#include "ribbon_host.h"
#include "sim_object.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using qvr::unique_variant;

namespace {

const wchar_t kButton[] = L"qvrRibbonButtonA92C6E14F83B47D0B5E1094D7C26E8F3";
const wchar_t kRibbonId[] = L"Microsoft.Excel.Workbook";

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Folder() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

void Row(const char* what, const std::string& figure, const std::string& baseline, const std::string& note) {
    std::printf("ROW|%s|%s|%s|%s\n", what, figure.c_str(), baseline.c_str(), note.c_str());
}

std::string Format(const char* format, double value) {
    char b[64];
    std::snprintf(b, sizeof b, format, value);
    return b;
}

// The add-in that does nothing: the same interfaces, a one-button ribbon without callbacks.
class NullAddIn : public officesim::SimObject<IDTExtensibility2, IRibbonExtensibility> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch*, LONG, IDispatch*, SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDisconnection(LONG, SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY**) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR, BSTR* xml) override {
        if (!xml) return E_POINTER;
        *xml = SysAllocString(
            L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\"><ribbon><tabs>"
            L"<tab id=\"NullTab\" label=\"Null\"><group id=\"NullGroup\" label=\"Null\">"
            L"<button id=\"NullButton\" label=\"Null\"/></group></tab></tabs></ribbon></customUI>");
        return *xml ? S_OK : E_OUTOFMEMORY;
    }
};

class NullFactory : public officesim::SimObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        ComPtr<NullAddIn> addIn = NullAddIn::Make<NullAddIn>();
        return addIn->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// One start of an add-in as Excel makes it: created, connected (ConnectMode 1), started, its
// ribbon built; then stopped, released and (for a DLL) unloaded.
struct Start {
    ComPtr<officesim::ExcelApplicationSim> app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    ComPtr<officesim::COMAddInSim> inst = officesim::COMAddInSim::Make<officesim::COMAddInSim>();
    officesim::OfficeHost host;
    officesim::RibbonHost ribbon;
    bool ok = false;
    double create = 0, start = 0, ribbonTime = 0;  // seconds: class creation, connect + start-up, ribbon

    // The dll path, or empty for the null add-in.
    bool Run(const std::wstring& dll, IClassFactory* nullFactory) {
        double t0 = Now();
        HRESULT hr = dll.empty() ? host.LoadFromFactory(nullFactory) : host.LoadFromDll(dll, vortelix::CLSID_coVORTELIXExcel);
        double t1 = Now();
        if (SUCCEEDED(hr)) hr = host.Connect(app.Get(), 1, inst.Get());
        if (SUCCEEDED(hr)) hr = host.StartupComplete();
        double t2 = Now();
        if (SUCCEEDED(hr)) hr = ribbon.Load(host.AddIn(), kRibbonId, app->Window());
        double t3 = Now();
        create = t1 - t0;
        start = t2 - t1;
        ribbonTime = t3 - t2;
        ok = SUCCEEDED(hr);
        if (!ok) std::fprintf(stderr, "start failed: %s\n", Utf8(officesim::HResultText(hr)).c_str());
        return ok;
    }
    ~Start() {
        ribbon.Release();
        if (host.AddIn()) {
            host.BeginShutdown();
            host.Disconnect(0);
        }
        inst->object.Reset();
        host.ReleaseAddIn();
        host.Unload();
    }
};

struct Memory {
    SIZE_T privateBytes = 0;
    SIZE_T workingSet = 0;
};

Memory MemoryNow() {
    PROCESS_MEMORY_COUNTERS_EX c{};
    c.cb = sizeof c;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof c);
    return {c.PrivateUsage, c.WorkingSetSize};
}

// Seconds per call of `body`: the best of five rounds of `n` calls.
double PerCall(int n, const std::function<void()>& body) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        double start = Now();
        for (int i = 0; i < n; ++i) body();
        best = std::min(best, (Now() - start) / n);
    }
    return best;
}

using FileHandle = qvr::unique_any<HANDLE, qvr::detail::CloseKernelHandle, -1>;

// 50 nested folders (each inside the one before), `files` small files spread over them.
bool MakeTree(const std::wstring& root, int files) {
    std::wstring folder = root;
    if (!vortelix::ForceDirectories(folder)) return false;
    const int kFolders = 50;
    int made = 0;
    for (int f = 0; f < kFolders; ++f) {
        wchar_t name[8];
        swprintf(name, 8, L"\\d%02d", f);
        folder += name;
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        int here = files / kFolders + (f < files % kFolders ? 1 : 0);
        for (int i = 0; i < here; ++i, ++made) {
            wchar_t file[16];
            swprintf(file, 16, L"\\f%04d.txt", i);
            FileHandle h(CreateFileW((folder + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!h) return false;
            DWORD written = 0;
            WriteFile(h.get(), "order\r\n", 7, &written, nullptr);
        }
    }
    return made == files;
}

// The baseline: every file of the tree deleted with DeleteFileW, folders kept.
void PlainDelete(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    qvr::unique_find find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            PlainDelete(path);
        else
            DeleteFileW(path.c_str());
    } while (FindNextFileW(find.get(), &data));
}

int CountFiles(const std::wstring& folder) {
    int n = 0;
    WIN32_FIND_DATAW data;
    qvr::unique_find find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return 0;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        n += (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? CountFiles(folder + L"\\" + name) : 1;
    } while (FindNextFileW(find.get(), &data));
    return n;
}

void RemoveTree(const std::wstring& folder) {
    PlainDelete(folder);
    for (int depth = 50; depth >= 0; --depth) {
        std::wstring path = folder;
        for (int f = 0; f < depth; ++f) {
            wchar_t name[8];
            swprintf(name, 8, L"\\d%02d", f);
            path += name;
        }
        RemoveDirectoryW(path.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const std::wstring dll = Folder() + L"VORTELIXExcel.dll";
    auto nullFactory = NullFactory::Make<NullFactory>();
    int status = 0;
    {
        // The host's own first-use costs (OLE automation, the markup reader) paid before measuring.
        { Start warm; if (!warm.Run(L"", nullFactory.Get())) return 1; }

        // The first load of the DLL: its memory, and its time including LoadLibrary.
        Memory before = MemoryNow();
        double coldTime = 0;
        {
            Start cold;
            double t0 = Now();
            if (!cold.Run(dll, nullptr)) return 1;
            coldTime = Now() - t0;
            Memory after = MemoryNow();
            double privateGrowth = (static_cast<double>(after.privateBytes) - static_cast<double>(before.privateBytes)) / 1024.0;
            double setGrowth = (static_cast<double>(after.workingSet) - static_cast<double>(before.workingSet)) / 1024.0;
            if (before.privateBytes == 0 && after.privateBytes == 0)
                Row("memory growth, private bytes (load + start + ribbon)", "not reported", "-",
                    "GetProcessMemoryInfo gives no private bytes here (Wine)");
            else
                Row("memory growth, private bytes (load + start + ribbon)", Format("%.0f KB", privateGrowth),
                    Format("%.0f KB before", static_cast<double>(before.privateBytes) / 1024.0),
                    privateGrowth < 2048 ? "target < 2 MB: met" : "target < 2 MB: NOT met");
            Row("memory growth, working set (load + start + ribbon)", Format("%.0f KB", setGrowth),
                Format("%.0f KB before", static_cast<double>(before.workingSet) / 1024.0),
                setGrowth < 2048 ? "target < 2 MB: met" : "target < 2 MB: NOT met");

            // The button's picture against its label, as Office asks for them.
            ComPtr<IDispatch> dispatch;
            cold.host.AddIn()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()));
            auto control = officesim::RibbonControlSim::Make<officesim::RibbonControlSim>(kButton, L"", cold.app->Window());
            unique_variant arg = unique_variant::FromDispatch(control.Get());
            DISPPARAMS params{&arg, nullptr, 1, 0};
            auto idOf = [&](const wchar_t* name) {
                LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
                DISPID id = DISPID_UNKNOWN;
                dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
                return id;
            };
            DISPID image = idOf(L"GetImage_Callback"), label = idOf(L"GetLabel_Callback");
            HRESULT imageResult = S_OK;
            double picture = PerCall(200, [&] {
                unique_variant result;
                imageResult = dispatch->Invoke(image, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                               result.put(), nullptr, nullptr);
            });
            double text = PerCall(2000, [&] {
                unique_variant result;
                dispatch->Invoke(label, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.put(), nullptr,
                                 nullptr);
            });
            const officesim::RibbonElement* button = cold.ribbon.Find(kButton);
            const std::wstring* answer = button ? button->Answer(L"image") : nullptr;
            std::string what = answer ? Utf8(*answer) : "no picture";
            if (FAILED(imageResult)) what += ", failed: " + Utf8(officesim::HResultText(imageResult));
            Row("picture: GetImage_Callback for the button (vs its GetLabel_Callback)", Format("%.1f us", picture * 1e6),
                Format("%.2f us", text * 1e6), Format("x%.0f; ", picture / text) + what);
        }

        // Warm starts, the null add-in and the DLL taking turns. The DLL stays mapped between them
        // (as it does in Excel once loaded), so that the class creation is measured, not LoadLibrary.
        qvr::unique_hmodule keep(LoadLibraryW(dll.c_str()));
        std::vector<double> nullTimes, realTimes, creates, starts, ribbons;
        for (int r = 0; r < rounds; ++r) {
            {
                Start s;
                double t0 = Now();
                if (!s.Run(L"", nullFactory.Get())) return 1;
                nullTimes.push_back(Now() - t0);
            }
            {
                Start s;
                double t0 = Now();
                if (!s.Run(dll, nullptr)) return 1;
                realTimes.push_back(Now() - t0);
                creates.push_back(s.create);
                starts.push_back(s.start);
                ribbons.push_back(s.ribbonTime);
            }
        }
        double real = Median(realTimes), null = Median(nullTimes);
        double ratio = real / null;
        char phases[160];
        std::snprintf(phases, sizeof phases, " (creation %.3f ms, connect + start-up %.3f ms, ribbon %.3f ms)",
                      Median(creates) * 1e3, Median(starts) * 1e3, Median(ribbons) * 1e3);
        std::string verdict = std::string(ratio <= 2 ? "target <= 2x: met" : "target <= 2x: NOT met") +
                              (real < 0.1 ? ", far below 1,000 ms" : real < 1 ? ", below 1,000 ms" : ", OVER 1,000 ms");
        Row("add-in load: create to OnStartupComplete + GetCustomUI + first callbacks (median of warm starts)",
            Format("%.3f ms", real * 1e3), Format("%.3f ms null add-in", null * 1e3),
            Format("x%.1f; ", ratio) + verdict + phases);
        Row("add-in load, first (cold) start including LoadLibrary", Format("%.3f ms", coldTime * 1e3),
            Format("%.3f ms null add-in", null * 1e3),
            Format("x%.0f; ", coldTime / null) + (coldTime < 1 ? "below 1,000 ms" : "OVER 1,000 ms"));

        // The DLL's size.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExW(dll.c_str(), GetFileExInfoStandard, &data)) {
            double bytes = static_cast<double>(data.nFileSizeLow);
            Row("VORTELIXExcel.dll size", Format("%.0f bytes", bytes), "-",
                Format("%.0f KB; ", bytes / 1024) + (bytes < 1024.0 * 1024.0 ? "target < 1 MB: met" : "target < 1 MB: NOT met"));
        }
    }

    // Purging a tree of small files.
    if (files > 0) {
        wchar_t temp[MAX_PATH];
        DWORD n = GetTempPathW(MAX_PATH, temp);
        std::wstring root = std::wstring(temp, n) + L"vbench" + std::to_wstring(GetCurrentProcessId());
        double best[2] = {1e30, 1e30};  // ClearFolderTree, DeleteFileW loop
        for (int order : {0, 1, 1, 0}) {
            if (!MakeTree(root, files)) {
                std::fprintf(stderr, "could not make the tree of %d files\n", files);
                status = 1;
                break;
            }
            double t0 = Now();
            if (order == 0)
                vortelix::ClearFolderTree(root);
            else
                PlainDelete(root);
            double t = Now() - t0;
            int left = CountFiles(root);
            if (left != 0) {
                std::fprintf(stderr, "%d files left after the purge\n", left);
                status = 1;
            }
            best[order] = std::min(best[order], t);
        }
        RemoveTree(root);
        if (status == 0) {
            char what[160];
            std::snprintf(what, sizeof what, "folder purge: %d small files in 50 nested folders, ClearFolderTree", files);
            Row(what, Format("%.1f ms", best[0] * 1e3), Format("%.1f ms DeleteFileW loop", best[1] * 1e3),
                Format("x%.2f (best of 2 each)", best[0] / best[1]));
        }
    }
    CoUninitialize();
    return status;
}
