// The DLL's own adjustments to the C++ runtime it links statically. Only the DLL links this file:
// the test programs run the add-in's code with the runtime as it comes.
#include <windows.h>

#include <cstdint>
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

// The threading library under the C++ runtime (winpthreads, linked statically). It is not used
// through its header, which declares its functions as imported from its DLL.
extern "C" {
uintptr_t pthread_self(void);
// The library's record of thread `id`; nullptr when it has none.
void* __pth_gpointer_locked(uintptr_t id);
// The library's TLS callback, which does its end-of-thread work for the calling thread.
extern PIMAGE_TLS_CALLBACK __xl_f;
}

namespace {

// The threading library keeps a record of each thread that first calls into it (the runtime does,
// at the DLL's load in the 32-bit build and for the first thread-safe static or thread_local in
// both): a duplicated thread handle, an event, memory, and a thread-local storage index of its own
// for the whole DLL. It gives these back when the thread ends, and never when the DLL is unloaded
// before that: each load and unload would keep one handle, one event and one of the process's
// 1088 TLS indexes, and the library ends the process (abort) when TlsAlloc fails: after about a
// thousand ticks and unticks in one Excel session. At unload this runs the library's own
// end-of-thread work for the unloading thread (the thread that loaded the DLL, in Office) and
// frees the index, which the library keeps the record in.
void ReleaseThreadingRecord() noexcept {
    void* record = __pth_gpointer_locked(pthread_self());
    if (!record || !__xl_f) return;
    // The index is found by the record stored in it: the library keeps it in a static of its own.
    DWORD index = TLS_OUT_OF_INDEXES;
    for (DWORD i = 0; i < 1088 && index == TLS_OUT_OF_INDEXES; ++i)
        if (TlsGetValue(i) == record) index = i;
    __xl_f(nullptr, DLL_THREAD_DETACH, nullptr);
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
}

// True while the process ends (ExitProcess), false when the DLL is unloaded alone. Then nothing
// needs giving back, and other threads may have been ended in the middle of a call into the
// threading library, holding its lock. Looked up by name: the function has no import library entry
// in every Windows version the add-in loads on; without it the process is taken to be ending.
bool ProcessEnding() noexcept {
    using ShutdownInProgress = BOOLEAN(NTAPI*)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto inProgress = ntdll ? reinterpret_cast<ShutdownInProgress>(
                                  reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDllShutdownInProgress")))
                            : nullptr;
    return !inProgress || inProgress();
}

// The runtime allocates a pool for throwing exceptions when memory runs out (about 19 KB in the
// 32-bit DLL, 73 KB in the 64-bit one) each time the DLL is loaded, and never frees it: a process
// that loads and unloads the add-in again and again (Office does at each tick and untick in its
// COM add-ins list) would keep one more pool each time. The object below is constructed before
// every other static object of the DLL, so it is destroyed after all of them, when the DLL is
// unloaded: no code of the DLL runs after it, and the pool and the threading library's record of
// the unloading thread go with the DLL.
struct RuntimeRelease {
    RuntimeRelease() {}
    RuntimeRelease(const RuntimeRelease&) = delete;
    RuntimeRelease& operator=(const RuntimeRelease&) = delete;
    ~RuntimeRelease() {
        if (ProcessEnding()) return;
        __gnu_cxx::__freeres();
        ReleaseThreadingRecord();
    }
};

// A user-provided constructor, so that the object is constructed (and its destruction registered)
// at the priority given, not constant-initialised.
__attribute__((init_priority(101))) RuntimeRelease g_runtimeRelease;

}  // namespace
