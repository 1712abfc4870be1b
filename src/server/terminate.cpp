// The DLL's own adjustments to the C++ runtime it links statically. Only the DLL links this file:
// the test programs run the add-in's code with the runtime as it comes.
#include <windows.h>

#include <cstdlib>

namespace __gnu_cxx {

// The runtime's handler for std::terminate, replaced. The runtime's own one writes the type of the
// exception that ended the program to stderr, and for that links the whole C++ name demangler and
// the C library's printf machinery: some 60 KB of a DLL that Office maps into every Excel process
// at start-up, for text that nobody inside Excel would ever see (Excel has no stderr). The add-in
// lets no exception reach the runtime (every COM boundary converts it), so this runs only when
// something has already gone wrong beyond repair: it says so to a debugger and ends the process as
// the runtime's handler does.
void __verbose_terminate_handler() {
    OutputDebugStringW(L"VORTELIXExcel: std::terminate called (an exception was not handled); ending the process\n");
    std::abort();
}

// The runtime's release of its emergency exception pool (the C++ runtime defines it for leak
// checkers; it has no header).
void __freeres();

}  // namespace __gnu_cxx

namespace {

// The runtime allocates a pool for throwing exceptions when memory runs out (about 19 KB in the
// 32-bit DLL, 73 KB in the 64-bit one) each time the DLL is loaded, and never frees it: a process
// that loads and unloads the add-in again and again (Office does at each tick and untick in its
// COM add-ins list) would keep one more pool each time. The object below is constructed before
// every other static object of the DLL, so it is destroyed after all of them, when the DLL is
// unloaded (or the process ends): no code of the DLL runs after it, and the pool goes with the DLL.
struct ExceptionPoolRelease {
    ExceptionPoolRelease() {}
    ExceptionPoolRelease(const ExceptionPoolRelease&) = delete;
    ExceptionPoolRelease& operator=(const ExceptionPoolRelease&) = delete;
    ~ExceptionPoolRelease() { __gnu_cxx::__freeres(); }
};

// A user-provided constructor, so that the object is constructed (and its destruction registered)
// at the priority given, not constant-initialised.
__attribute__((init_priority(101))) ExceptionPoolRelease g_exceptionPoolRelease;

}  // namespace
