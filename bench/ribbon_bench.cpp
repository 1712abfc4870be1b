// Creating a large ribbon from its stored text: a module with one tab, 10 groups and 1,000 buttons
// (each with id, caption, tip, image index, size and filter). Prints the time to parse the text,
// to build the components from it, to write it back and to destroy the module, and the memory the
// built tree holds per control. A benchmark, not a test: it prints figures and checks only that
// the tree it built is complete.
#include "bench_support.h"
#include "com/formdata.h"
#include "module/module.h"
#include "ribbon/controls.h"
#include "ribbon/ribbon.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

// ---- heap accounting: every C++ allocation of the process is counted ----

namespace {
std::atomic<long long> g_liveBytes{0};
std::atomic<long long> g_allocations{0};
constexpr size_t kHeader = 16;  // keeps the caller's block 16-byte aligned

void* Allocate(size_t n) {
    auto* p = static_cast<unsigned char*>(std::malloc(n + kHeader));
    if (!p) throw std::bad_alloc();
    *reinterpret_cast<size_t*>(p) = n;
    g_liveBytes += static_cast<long long>(n);
    ++g_allocations;
    return p + kHeader;
}

void Release(void* q) noexcept {
    if (!q) return;
    auto* p = static_cast<unsigned char*>(q) - kHeader;
    g_liveBytes -= static_cast<long long>(*reinterpret_cast<size_t*>(p));
    std::free(p);
}
}  // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

using namespace qvr;

constexpr int kGroups = 10;
constexpr int kButtonsPerGroup = 100;
constexpr int kButtons = kGroups * kButtonsPerGroup;
constexpr int kRuns = 30;

class BenchModule : public TqvrCOMAddInModule {
public:
    explicit BenchModule(TComponent* owner) : TqvrCOMAddInModule(owner) {
        RegisterRibbonClasses();
        PublishMethod<TqvrRibbonOnClick>(L"ButtonClick", [](TObject*, IRibbonControl*) {});
    }
    std::wstring ClassName() const override { return L"TBenchModule"; }
};

std::wstring Hex32(uint32_t v) {
    wchar_t b[9];
    swprintf(b, 9, L"%02X%02X%02X%02X", v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24);
    return b;
}

std::wstring StoredText() {
    std::wstring t = L"object BenchModule: TBenchModule\n  AddInName = 'Bench'\n  object Tab: TqvrRibbonTab\n"
                     L"    Caption = 'Bench'\n    Controls = <\n";
    for (int g = 0; g < kGroups; ++g) {
        t += L"      item\n        Id = 'Group" + std::to_wstring(g) + L"'\n        Caption = 'Group " +
             std::to_wstring(g) + L"'\n        Ribbons = [msrExcelWorkbook]\n        Ribbons2010 = []\n";
        t += L"        ControlTypes = {" + Hex32(kButtonsPerGroup);
        for (int b = 0; b < kButtonsPerGroup; ++b) t += Hex32(rctButton);
        t += L"}\n        Controls_ = <\n";
        for (int b = 0; b < kButtonsPerGroup; ++b) {
            std::wstring n = std::to_wstring(g * kButtonsPerGroup + b);
            t += L"          item\n            Id = 'qvrRibbonButton" + n + L"'\n            Description = 'Order " + n +
                 L"'\n            ImageIndex = 0\n            ScreenTip = 'Hand order " + n +
                 L" over'\n            Size = csLarge\n            OnClick = ButtonClick\n            Caption = 'Button " +
                 n + L"'\n            Ribbons = [msrExcelWorkbook]\n            Ribbons2010 = []\n          end\n";
        }
        t += L"        >\n      end\n";
    }
    t += L"    >\n    Id = 'BenchTab'\n    Ribbons = [msrExcelWorkbook]\n    Ribbons2010 = []\n  end\nend\n";
    return t;
}

// Milliseconds.
double Now() { return bench::Now() * 1000.0; }

struct Stats {
    std::vector<double> samples;
    double Median() {
        std::sort(samples.begin(), samples.end());
        return samples[samples.size() / 2];
    }
    double Min() { return *std::min_element(samples.begin(), samples.end()); }
};

}  // namespace

int main() {
    std::wstring text = StoredText();
    Stats parse, build, write, destroy;
    long long treeBytes = 0, treeAllocations = 0;
    int registered = 0;
    for (int run = 0; run < kRuns; ++run) {
        double t0 = Now();
        FormObject form = ParseForm(text);
        double t1 = Now();

        long long bytesBefore = g_liveBytes, allocationsBefore = g_allocations;
        double t2 = Now();
        auto* module = new BenchModule(nullptr);
        TFormReader::ReadRoot(*module, form);
        double t3 = Now();
        treeBytes = g_liveBytes - bytesBefore;
        treeAllocations = g_allocations - allocationsBefore;
        registered = module->RibbonControls().Count();

        double t4 = Now();
        std::wstring written = WriteForm(TFormReader::WriteRoot(*module));
        double t5 = Now();
        delete module;
        double t6 = Now();

        parse.samples.push_back(t1 - t0);
        build.samples.push_back(t3 - t2);
        write.samples.push_back(t5 - t4);
        destroy.samples.push_back(t6 - t5);
        if (written.size() < text.size() / 2) {
            std::printf("written form is incomplete\n");
            return 1;
        }
    }
    if (registered != 1 + kGroups + kButtons) {
        std::printf("expected %d registered components, found %d\n", 1 + kGroups + kButtons, registered);
        return 1;
    }
    std::printf("ribbon_bench: 1 tab, %d groups, %d buttons from %zu characters of stored text, %d runs\n", kGroups,
                kButtons, text.size(), kRuns);
    std::printf("  parse text          median %7.3f ms   min %7.3f ms\n", parse.Median(), parse.Min());
    std::printf("  create components   median %7.3f ms   min %7.3f ms   (%.2f us per control)\n", build.Median(),
                build.Min(), build.Median() * 1000.0 / (kButtons + kGroups + 1));
    std::printf("  parse + create      median %7.3f ms\n", parse.Median() + build.Median());
    std::printf("ROW|ribbon components: %d buttons in %d groups created from stored text|%.3f ms create|%.3f ms parse "
                "text|%.2f us per control; %.0f bytes per control\n",
                kButtons, kGroups, build.Median(), parse.Median(), build.Median() * 1000.0 / (kButtons + kGroups + 1),
                static_cast<double>(treeBytes) / (kButtons + kGroups + 1));
    std::printf("  write back          median %7.3f ms   min %7.3f ms\n", write.Median(), write.Min());
    std::printf("  destroy module      median %7.3f ms   min %7.3f ms\n", destroy.Median(), destroy.Min());
    std::printf("  memory of the tree  %lld bytes in %lld allocations: %.0f bytes per control\n", treeBytes,
                treeAllocations, static_cast<double>(treeBytes) / (kButtons + kGroups + 1));
    return 0;
}
