// A process named EXCEL.EXE that does nothing but run, until the test that started it ends it:
// what the package's Excel check looks for. Given a DLL's path, it loads it first and holds it,
// as Excel holds the add-in it loaded.
#include <windows.h>
#include <shellapi.h>

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc > 1 && !LoadLibraryW(argv[1])) return 2;
    Sleep(5 * 60 * 1000);
    return 0;
}
