// Shared helpers of the test programs.
#pragma once

#include "com/dialogs.h"
#include "server/comserver.h"
#include "server/factory.h"

#include <windows.h>

#include <string>
#include <vector>

namespace qvrtest {

void StartServer();
void StopServer();
qvr::TqvrFactory& Factory();

// Records every dialog instead of showing it, answering with `answer`, while it lives.
class DialogRecorder {
public:
    explicit DialogRecorder(int answer = IDOK);
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;
    std::vector<qvr::DialogRequest> dialogs;
    int answer;

private:
    qvr::DialogHandler previous_;
};

// A registry key under HKEY_CURRENT_USER removed with everything under it.
void DeleteUserKey(const std::wstring& path);

// The folder of this test program, with a trailing backslash: the build puts the add-in DLL, the
// stand-ins and the test programs side by side.
std::wstring ProgramFolder();
// The built VORTELIXExcel.dll next to the test program.
std::wstring AddInDllPath();
// Whether a file or folder is there.
bool Exists(const std::wstring& path);

}  // namespace qvrtest
