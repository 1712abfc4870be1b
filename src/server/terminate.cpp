// The C++ runtime's handler for std::terminate, replaced in the DLL. The runtime's own one writes
// the type of the exception that ended the program to stderr, and for that links the whole C++
// name demangler and the C library's printf machinery: some 60 KB of a DLL that Office maps into
// every Excel process at start-up, for text that nobody inside Excel would ever see (Excel has no
// stderr). The add-in lets no exception reach the runtime (every COM boundary converts it), so
// this runs only when something has already gone wrong beyond repair: it says so to a debugger
// and ends the process as the runtime's handler does.
#include <windows.h>

#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    OutputDebugStringW(L"VORTELIXExcel: std::terminate called (an exception was not handled); ending the process\n");
    std::abort();
}

}  // namespace __gnu_cxx
