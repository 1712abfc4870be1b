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

// An object of one side (the stand-in's Office, or the add-in) as the other side sees it: the
// interface `To` as its own declaration has it, asked for by IID as COM does. The stand-in declares
// Office's interfaces itself, so the pointer a test holds is never the other side's type. Null when
// the object does not answer; the object keeps the reference it had.
template <typename To>
To* AsSeenThroughIID(IUnknown* object) {
    To* seen = nullptr;
    if (!object || FAILED(object->QueryInterface(__uuidof(To), reinterpret_cast<void**>(&seen))) || !seen) return nullptr;
    seen->Release();
    return seen;
}

}  // namespace qvrtest
