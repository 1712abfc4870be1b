// A process named EXCEL.EXE that does nothing but run, until the test that started it ends it:
// what the package's Excel check looks for.
#include <windows.h>

int main() {
    Sleep(5 * 60 * 1000);
    return 0;
}
