#include "support/test_support.h"

#include "com/registry.h"

namespace vortelix {
void RegisterAddInFactory(qvr::TComServer& server);
}

namespace qvrtest {

namespace {
const CLSID kClsid = {0x5A7C2E91, 0x3D48, 0x4B6F, {0x9E, 0x21, 0x7C, 0x0D, 0x4A, 0x8B, 0x3F, 0x65}};
}

void StartServer() {
    qvr::TComServer& server = qvr::TComServer::Create(GetModuleHandleW(nullptr));
    vortelix::RegisterAddInFactory(server);
}

void StopServer() { qvr::TComServer::Destroy(); }

qvr::TqvrFactory& Factory() { return *qvr::TComServer::Instance()->FindFactory(kClsid); }

DialogRecorder::DialogRecorder(int a) : answer(a) {
    previous_ = qvr::SetDialogHandler([this](const qvr::DialogRequest& r) {
        dialogs.push_back(r);
        return answer;
    });
}

DialogRecorder::~DialogRecorder() { qvr::SetDialogHandler(previous_); }

void DeleteUserKey(const std::wstring& path) {
    qvr::TRegistry reg(HKEY_CURRENT_USER);
    reg.DeleteKeyTree(path);
}

std::wstring ProgramFolder() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring AddInDllPath() { return ProgramFolder() + L"VORTELIXExcel.dll"; }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace qvrtest
