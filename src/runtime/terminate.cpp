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

// The process's thread-local storage slots: 64 in each thread's own block and 1024 expansion slots.
constexpr DWORD kTlsSlots = 1088;

// The threading library keeps a record of each thread that first calls into it (the runtime makes
// one for the loading thread while the DLL loads, in both builds): a duplicated thread handle, an
// event, memory, and one thread-local storage index of its own for the whole DLL, which holds
// each thread's record. It gives a thread's record back when the thread ends, and never gives the
// index back: each load and unload would keep one of the process's 1088 TLS indexes (and, when
// the unloading thread still runs, its handle and event), and the library ends the process (abort)
// when TlsAlloc fails: after about a thousand ticks and unticks in one Excel session.
//
// The library does not say which index is its own. It is found once, at load, by the loading
// thread's record, which the library has just made and stored in it; asking the library for the
// record then makes nothing new. At unload the record is never asked for: on a thread without one
// that would make one, and may end the process inside the library. Instead the unloading thread's
// slot of that index is read, and when it holds a record, the library's own end-of-thread work
// gives it back (which empties the slot). The index is then freed: after the unload nothing of the
// library is left to use it, and TlsFree empties it on every thread.
class ThreadingIndex {
public:
    // At load, on the loading thread.
    void Find() noexcept {
        const DWORD lastError = GetLastError();
        void* record = __pth_gpointer_locked(pthread_self());
        DWORD found = TLS_OUT_OF_INDEXES;
        int matches = 0;
        for (DWORD i = 0; record && i < kTlsSlots; ++i) {
            if (TlsGetValue(i) == record) {
                found = i;
                ++matches;
            }
        }
        // Another slot holding the same pointer would make the choice a guess; then no index is
        // freed at unload (one index kept is a small loss; another component's freed is a broken
        // component).
        index_ = matches == 1 ? found : TLS_OUT_OF_INDEXES;
        SetLastError(lastError);
    }

    // At unload, on the unloading thread (the loading one, in Office).
    void Release() noexcept {
        if (index_ == TLS_OUT_OF_INDEXES) return;
        const DWORD lastError = GetLastError();
        if (TlsGetValue(index_) && __xl_f) __xl_f(nullptr, DLL_THREAD_DETACH, nullptr);
        TlsFree(index_);
        index_ = TLS_OUT_OF_INDEXES;
        SetLastError(lastError);
    }

private:
    DWORD index_ = TLS_OUT_OF_INDEXES;
};

ThreadingIndex g_threadingIndex;

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
    RuntimeRelease() { g_threadingIndex.Find(); }
    RuntimeRelease(const RuntimeRelease&) = delete;
    RuntimeRelease& operator=(const RuntimeRelease&) = delete;
    ~RuntimeRelease() {
        if (ProcessEnding()) return;
        __gnu_cxx::__freeres();
        g_threadingIndex.Release();
    }
};

// A user-provided constructor, so that the object is constructed (and its destruction registered)
// at the priority given, not constant-initialised.
__attribute__((init_priority(101))) RuntimeRelease g_runtimeRelease;

}  // namespace
