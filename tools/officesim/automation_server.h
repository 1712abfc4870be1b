// Excel as a program of its own: started by COM as the local server of Excel.Application (the way a
// script or the health check's live check starts Excel: "/automation -Embedding"), or as a user
// starts it. Either way it loads the registered start-up add-in as Office does (turned-off add-ins
// stay off), keeps Office's COM add-ins list, and runs until Application.Quit is called.
//
// How it can be made to fail, for tests: values under HKCU\Software\ExcelSim (DWORD), read at start:
//   StartDelayMs       start-up takes this long before Excel offers its class (a start past the
//                      caller's time limit)
//   RefuseAddInObject  1: Office refuses the add-in's Object (COMAddIn.Object cannot be set)
//   NoRibbon           1: Excel does not ask the add-in for its ribbon
//   BusyMs             for this long after it handed out its application object, Excel rejects
//                      every call from another process (RPC_E_CALL_REJECTED), as a busy Excel does
#pragma once

#include <string>

namespace officesim {

inline constexpr wchar_t kServerFaultsKey[] = L"Software\\ExcelSim";

// The ProgID of the add-in Excel loads at start-up: the keys under ...\Excel\AddIns of the user
// and of the machine, each named by an add-in's ProgID, loaded when LoadBehavior is 3 (the
// user's key first). Empty when none.
std::wstring FindStartupAddIn();

// Runs Excel until it is asked to quit. `embedding`: started by COM, so it offers its class
// (single use) once it has started; otherwise it is a user's Excel, in the running object table
// only. Returns the exit code.
int RunExcelProcess(const std::wstring& version, bool embedding);

// Registers this program as Excel.Application's local server (ProgID and class, both views of
// HKEY_CLASSES_ROOT the program writes), or takes the registration away. True on success.
bool RegisterAutomationServer(const std::wstring& exePath);
bool UnregisterAutomationServer();

}  // namespace officesim
