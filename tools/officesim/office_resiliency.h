// How Office turns COM add-ins off, as the stand-in's Excel does it at start-up:
// - an add-in whose load or connection fails gets LoadBehavior 2 in the user's add-in key;
// - an add-in that crashes Excel while it loads gets an entry in the user's DisabledItems;
// - an add-in whose start-up takes longer than the threshold (1,000 ms) is recorded under
//   Resiliency and gets LoadBehavior 2, unless it is listed in DoNotDisableAddinList;
// and at the next start an add-in in one of these states is not loaded. The administrator's
// policy list (Policies ...\Resiliency\AddinList) wins: "1" always loads it, "0" never.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace officesim {

class AddInResiliency {
public:
    // version: the Office version's key name ("16.0"); progId: the add-in key's name.
    AddInResiliency(std::wstring version, std::wstring progId);
    ~AddInResiliency();
    AddInResiliency(const AddInResiliency&) = delete;
    AddInResiliency& operator=(const AddInResiliency&) = delete;

    // Why Excel does not load the add-in at this start; empty when it loads it. A crash marker
    // left by a start that did not end is turned into a DisabledItems entry first, as Office does.
    std::wstring WhyNotLoaded();
    // Before creating the add-in: marks it in CrashingAddinList, watches for a crash, starts the clock.
    void BeginLoad();
    // After the load returned (creation, connection, ribbon, start-up complete): clears the crash
    // marker and records a failure (hr: of creating or connecting the add-in) or a slow start.
    // Returns what Excel recorded, one line each.
    std::vector<std::wstring> EndLoad(HRESULT hr);
    double LoadMilliseconds() const { return milliseconds_; }

    // Start-ups longer than this are slow: set here, else by QVR_SLOW_START_MS, else 1,000 ms.
    static void SetSlowStartThreshold(DWORD milliseconds);
    static DWORD SlowStartThreshold();

private:
    static LONG WINAPI OnCrash(EXCEPTION_POINTERS* info);
    std::wstring DllPath() const;
    std::wstring FriendlyName() const;
    std::wstring Policy() const;
    bool HasDisabledItem() const;
    void WriteDisabledItem() const;
    void SetUserLoadBehavior(DWORD value) const;

    std::wstring version_, progId_;
    LARGE_INTEGER start_{};
    double milliseconds_ = 0;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter_ = nullptr;
    bool watching_ = false;
};

}  // namespace officesim
