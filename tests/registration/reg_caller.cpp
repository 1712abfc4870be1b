// Loads a DLL and calls its DllRegisterServer or DllUnregisterServer, the way an installer does;
// its own command line carries any further switches (such as /REGSERVERPERUSER) into the DLL.
//   reg_caller <dll> register|unregister [switches...]
// Exit code: 0 for S_OK, 1 for E_FAIL, 3 for any other result, 2 when the DLL or the export is
// missing.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HMODULE dll = LoadLibraryW(argv[1]);
    if (!dll) return 2;
    bool reg = wcscmp(argv[2], L"register") == 0;
    using Export = HRESULT(STDAPICALLTYPE*)();
    auto call = reinterpret_cast<Export>(
        reinterpret_cast<void*>(GetProcAddress(dll, reg ? "DllRegisterServer" : "DllUnregisterServer")));
    if (!call) return 2;
    HRESULT hr = call();
    FreeLibrary(dll);
    return hr == S_OK ? 0 : hr == E_FAIL ? 1 : 3;
}
