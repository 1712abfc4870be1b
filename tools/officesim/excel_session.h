// One Excel session with the add-in, as Office runs it: start (load the add-in, connect, start
// up), calls into the add-in, and Office's shut-down, which follows a Quit once the call that
// asked for it has returned.
#pragma once

#include "excel_sim.h"
#include "office_host.h"
#include "ribbon_host.h"

#include <string>
#include <vector>

namespace officesim {

class ExcelSession {
public:
    explicit ExcelSession(std::wstring version = L"16.0");
    ~ExcelSession();

    // Loads the add-in from a DLL path (or by ProgID when dllPath is empty), connects it with
    // ConnectMode 1, builds the workbook ribbon as Office does before the start-up completes,
    // and completes the start-up. A ribbon that fails is logged; Excel starts without it.
    HRESULT Start(const std::wstring& dllPath);
    // After a call into the add-in: runs the shut-down when Excel was asked to quit. True when it ran.
    bool AfterCall();
    // Office's shut-down: OnBeginShutdown, OnDisconnection(0), the last release, the DLL unload.
    void Shutdown();

    ExcelApplicationSim& App() { return *app_.Get(); }
    OfficeHost& Host() { return host_; }
    COMAddInSim& AddInObject() { return *comAddIn_.Get(); }
    // Excel's workbook ribbon with the add-in's controls.
    RibbonHost& Ribbon() { return ribbon_; }
    bool Running() const { return running_; }
    bool Unloaded() const { return unloaded_; }
    // False: Excel does not ask the add-in for its ribbon (as when the ribbon cannot be shown).
    bool loadRibbon = true;
    // What happened, one line per step.
    std::vector<std::wstring> log;

private:
    void Note(const std::wstring& line) { log.push_back(line); }
    Microsoft::WRL::ComPtr<ExcelApplicationSim> app_;
    Microsoft::WRL::ComPtr<COMAddInSim> comAddIn_;
    OfficeHost host_;
    RibbonHost ribbon_;
    bool running_ = false;
    bool unloaded_ = false;
};

}  // namespace officesim
