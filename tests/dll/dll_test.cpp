// VORTELIXExcel.dll itself: its exports and imports, the COM server functions, the type library
// and the connection object's COM identity, all through the real DLL.
#include "addin/coclass.h"
#include "excel_sim.h"
#include "office_host.h"
#include "ribbon_host.h"
#include "support/system_dlls.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

std::wstring DllPath() { return qvrtest::AddInDllPath(); }

class Dll : public testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryW(DllPath().c_str());
        ASSERT_NE(nullptr, module);
        getClassObject = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
        ASSERT_NE(nullptr, getClassObject);
        ASSERT_NE(nullptr, canUnload);
    }
    void TearDown() override {
        EXPECT_EQ(S_OK, canUnload()) << "every scenario ends with the DLL free to unload";
        FreeLibrary(module);
    }
    ComPtr<IClassFactory> Factory() {
        ComPtr<IClassFactory> f;
        EXPECT_EQ(S_OK, getClassObject(vortelix::CLSID_coVORTELIXExcel, IID_IClassFactory,
                                       reinterpret_cast<void**>(f.GetAddressOf())));
        return f;
    }
    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadFn canUnload = nullptr;
};

const IMAGE_DATA_DIRECTORY& Directory(HMODULE m, int index) {
    auto base = reinterpret_cast<const BYTE*>(m);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[index];
}

TEST_F(Dll, ExportsExactlyTheFourServerFunctions) {
    auto base = reinterpret_cast<const BYTE*>(module);
    auto dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
    std::set<std::string> exported;
    for (DWORD i = 0; i < dir->NumberOfNames; ++i) exported.insert(reinterpret_cast<const char*>(base + names[i]));
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"}),
              exported);
    EXPECT_EQ(4u, dir->NumberOfFunctions);
}

TEST_F(Dll, ImportsSystemLibrariesOnly) {
    const std::set<std::string>& system = qvrtest::kSystemDlls;
    auto base = reinterpret_cast<const BYTE*>(module);
    auto imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
    int count = 0;
    for (; imp->Name; ++imp, ++count) {
        std::string name = reinterpret_cast<const char*>(base + imp->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
        EXPECT_TRUE(system.count(name)) << name << " is not a system library";
    }
    EXPECT_GT(count, 0);
}

TEST_F(Dll, GetClassObjectFindsOnlyTheAddInClass) {
    struct Case {
        const char* what;
        CLSID clsid;
        IID iid;
        HRESULT expected;
        bool result;
    };
    const CLSID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    Case cases[] = {
        {"class factory", vortelix::CLSID_coVORTELIXExcel, IID_IClassFactory, S_OK, true},
        {"unknown", vortelix::CLSID_coVORTELIXExcel, IID_IUnknown, S_OK, true},
        {"interface the factory lacks", vortelix::CLSID_coVORTELIXExcel, IID_IDispatch, E_NOINTERFACE, false},
        {"other class", other, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE, false},
    };
    for (const Case& c : cases) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(c.expected, getClassObject(c.clsid, c.iid, &out)) << c.what;
        EXPECT_EQ(c.result, out != nullptr) << c.what;
        if (out) static_cast<IUnknown*>(out)->Release();
    }
    EXPECT_EQ(E_POINTER, getClassObject(vortelix::CLSID_coVORTELIXExcel, IID_IClassFactory, nullptr));
}

TEST_F(Dll, CanUnloadNowFollowsFactoryReferencesLocksAndObjects) {
    EXPECT_EQ(S_OK, canUnload());
    {
        ComPtr<IClassFactory> f = Factory();
        EXPECT_EQ(S_FALSE, canUnload()) << "factory reference";
        ASSERT_EQ(S_OK, f->LockServer(TRUE));
        ComPtr<IClassFactory> again = f;
        f.Reset();
        again.Reset();
        EXPECT_EQ(S_FALSE, canUnload()) << "server lock";
        f = Factory();
        ASSERT_EQ(S_OK, f->LockServer(FALSE));
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf())));
        f.Reset();
        EXPECT_EQ(S_FALSE, canUnload()) << "live connection object";
    }
    EXPECT_EQ(S_OK, canUnload());
}

TEST_F(Dll, CreateInstanceGivesOneObjectWhileItLivesAndANewOneAfter) {
    ComPtr<IClassFactory> f = Factory();
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(a.GetAddressOf())));
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, __uuidof(IDTExtensibility2), reinterpret_cast<void**>(b.GetAddressOf())));
    ComPtr<IUnknown> bIdentity;
    ASSERT_EQ(S_OK, b.As(&bIdentity));
    EXPECT_EQ(a.Get(), bIdentity.Get());
    a.Reset();
    b.Reset();
    bIdentity.Reset();
    EXPECT_EQ(S_FALSE, canUnload()) << "the factory is still referenced";
    f.Reset();
    ASSERT_EQ(S_OK, canUnload()) << "the first object was destroyed with its last reference";

    // So the next one is a new object, which works.
    f = Factory();
    ComPtr<IUnknown> c;
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(c.GetAddressOf())));
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, c.As(&dispatch));
    UINT count = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, f->CreateInstance(nullptr, IID_IStream, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_POINTER, f->CreateInstance(nullptr, IID_IUnknown, nullptr));
}

// An outer object may ask only for IUnknown; anything else is refused before an object exists.
TEST_F(Dll, AggregationIsRefusedAndLeavesNothingAlive) {
    ComPtr<IClassFactory> f = Factory();
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(outer.GetAddressOf())));
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, f->CreateInstance(outer.Get(), IID_IDispatch, &none));
    EXPECT_EQ(nullptr, none);
    outer.Reset();
    none = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, f->CreateInstance(reinterpret_cast<IUnknown*>(f.Get()), IID_IDispatch, &none))
        << "with no object alive";
    EXPECT_EQ(nullptr, none);
    f.Reset();
    EXPECT_EQ(S_OK, canUnload()) << "no object was left alive";
}

TEST_F(Dll, AFailedFirstQueryLeavesNothingAlive) {
    ComPtr<IClassFactory> f = Factory();
    void* none = nullptr;
    EXPECT_EQ(E_NOINTERFACE, f->CreateInstance(nullptr, IID_IStream, &none));
    f.Reset();
    EXPECT_EQ(S_OK, canUnload()) << "the object that nobody holds was destroyed";
}

TEST_F(Dll, ConnectionObjectAnswersItsInterfacesAsOneObject) {
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, Factory()->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf())));
    const IID answered[] = {__uuidof(ICustomTaskPaneConsumer), __uuidof(IRibbonExtensibility),
                            __uuidof(IDTExtensibility2),      vortelix::IID_IcoVORTELIXExcel_,
                            IID_IDispatch,                    IID_IProvideClassInfo,
                            IID_ISupportErrorInfo,            IID_IUnknown};
    for (const IID& iid : answered) {
        ComPtr<IUnknown> itf, identity;
        ASSERT_EQ(S_OK, object->QueryInterface(iid, reinterpret_cast<void**>(itf.GetAddressOf())));
        ASSERT_EQ(S_OK, itf.As(&identity));
        EXPECT_EQ(object.Get(), identity.Get());
        // Reached from any of its interfaces, every other one is there too (symmetric, transitive).
        for (const IID& other : answered) {
            ComPtr<IUnknown> again;
            EXPECT_EQ(S_OK, itf->QueryInterface(other, reinterpret_cast<void**>(again.GetAddressOf())));
        }
    }
    // What hosts really ask for and the object does not have: refused, with the out pointer
    // cleared. Answering IProvideClassInfo2 with the IProvideClassInfo part would let a caller of
    // GetGUID run past the end of the table.
    const IID refused[] = {IID_IProvideClassInfo2, IID_IMarshal,  IID_IPersist, IID_IPersistStreamInit,
                           IID_IOleObject,         IID_IConnectionPointContainer, IID_IStream};
    for (const IID& iid : refused) {
        void* none = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(iid, &none));
        EXPECT_EQ(nullptr, none);
    }
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, object.As(&support));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(__uuidof(IDTExtensibility2)));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IStream));

    ComPtr<IProvideClassInfo> provide;
    ASSERT_EQ(S_OK, object.As(&provide));
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, provide->GetClassInfo(&coclass));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(vortelix::CLSID_coVORTELIXExcel, attr->guid));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    coclass->ReleaseTypeAttr(attr);

    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, object.As(&dispatch));
    UINT count = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, 0, &info));
    BSTR name = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    EXPECT_STREQ(L"IcoVORTELIXExcel", name);
    SysFreeString(name);
    EXPECT_EQ(DISP_E_BADINDEX, dispatch->GetTypeInfo(1, 0, &info));
}

TEST_F(Dll, TypeLibraryDescribesTheAddInsIdentity) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &lib));
    TLIBATTR* la = nullptr;
    ASSERT_EQ(S_OK, lib->GetLibAttr(&la));
    const GUID libid = {0xC4E19B27, 0x8A53, 0x4D0E, {0xB6, 0xF2, 0x19, 0xA7, 0xE3, 0xC0, 0x5D, 0x84}};
    EXPECT_TRUE(IsEqualGUID(libid, la->guid));
    EXPECT_EQ(1, la->wMajorVerNum);
    EXPECT_EQ(0, la->wMinorVerNum);
    EXPECT_EQ(0x409u, la->lcid);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, la->syskind) << "the system kind of the DLL's own bitness";
    EXPECT_EQ(0, la->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN));
    lib->ReleaseTLibAttr(la);

    struct Entry {
        const wchar_t* name;
        const wchar_t* help;
        TYPEKIND kind;
    };
    const Entry expected[] = {{L"VORTELIXExcel", L"VORTELIXExcel Library", TKIND_MAX},
                              {L"IcoVORTELIXExcel", L"Dispatch interface for coVORTELIXExcel Object", TKIND_DISPATCH},
                              {L"coVORTELIXExcel", L"coVORTELIXExcel Object", TKIND_COCLASS}};
    for (const Entry& e : expected) {
        BSTR name = nullptr, help = nullptr;
        if (e.kind == TKIND_MAX) {
            ASSERT_EQ(S_OK, lib->GetDocumentation(-1, &name, &help, nullptr, nullptr));
        } else {
            ComPtr<ITypeInfo> info;
            const GUID& guid = e.kind == TKIND_COCLASS ? vortelix::CLSID_coVORTELIXExcel : vortelix::IID_IcoVORTELIXExcel_;
            ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(guid, &info));
            ASSERT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr));
            TYPEATTR* attr = nullptr;
            ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
            EXPECT_EQ(e.kind, attr->typekind) << e.name;
            EXPECT_EQ(1, attr->wMajorVerNum);
            if (e.kind == TKIND_DISPATCH) {
                EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
                // The interface half of the dual interface carries the automation flag.
                HREFTYPE vtablePart = 0;
                ComPtr<ITypeInfo> itf;
                ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(-1, &vtablePart));
                ASSERT_EQ(S_OK, info->GetRefTypeInfo(vtablePart, &itf));
                TYPEATTR* itfAttr = nullptr;
                ASSERT_EQ(S_OK, itf->GetTypeAttr(&itfAttr));
                EXPECT_TRUE(itfAttr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
                EXPECT_EQ(TKIND_INTERFACE, itfAttr->typekind);
                itf->ReleaseTypeAttr(itfAttr);
                EXPECT_EQ(7, attr->cFuncs) << "IUnknown and IDispatch only, no members of its own";
            } else {
                EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
                INT flags = 0;
                ASSERT_EQ(S_OK, info->GetImplTypeFlags(0, &flags));
                EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
            }
            info->ReleaseTypeAttr(attr);
        }
        EXPECT_STREQ(e.name, name);
        EXPECT_STREQ(e.help, help);
        SysFreeString(name);
        SysFreeString(help);
    }
}

TEST_F(Dll, ExcelStartsAndStopsTheAddInAndTheDllCanGo) {
    auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    auto inst = officesim::COMAddInSim::Make<officesim::COMAddInSim>();
    officesim::OfficeHost host;
    ASSERT_EQ(S_OK, host.LoadFromDll(DllPath(), vortelix::CLSID_coVORTELIXExcel));
    ASSERT_EQ(S_OK, host.Connect(app.Get(), 1, inst.Get()));
    ASSERT_EQ(S_OK, host.StartupComplete());
    EXPECT_EQ(S_FALSE, host.CanUnloadNow());
    ASSERT_EQ(S_OK, host.BeginShutdown());
    ASSERT_EQ(S_OK, host.Disconnect(0));
    inst->object.Reset();
    host.ReleaseAddIn();
    EXPECT_EQ(S_OK, host.CanUnloadNow());
    EXPECT_EQ(1, app->RefCount()) << "the add-in released Excel";
}

// Loading the DLL does no work under the loader lock: its type library is loaded at the first use
// and let go of once the DLL may unload. Seen through the one library object that the automation
// library keeps per file (Wine and Windows hand out the same object for the same path): its
// reference count tells whether the DLL holds it.
TEST(DllLoad, TypeLibraryIsLoadedAtFirstUseAndReleasedWhenTheDllCanUnload) {
    ASSERT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll"));
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &library));
    auto references = [&] {
        library->AddRef();
        return library->Release();
    };
    const ULONG ours = references();

    HMODULE module = LoadLibraryW(DllPath().c_str());
    ASSERT_NE(nullptr, module);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    EXPECT_EQ(ours, references()) << "loading the DLL does not load its type library";
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject(vortelix::CLSID_coVORTELIXExcel, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.GetAddressOf())));
        EXPECT_GT(references(), ours) << "the first use loads it";
        EXPECT_EQ(S_FALSE, canUnload());
        EXPECT_GT(references(), ours) << "kept while the factory is referenced";
    }
    EXPECT_EQ(S_OK, canUnload());
    EXPECT_EQ(ours, references()) << "released once the DLL can unload";

    // Used again before it was unloaded: built again, and released again.
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject(vortelix::CLSID_coVORTELIXExcel, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.GetAddressOf())));
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf())));
    }
    EXPECT_EQ(S_OK, canUnload());
    EXPECT_EQ(ours, references());
    library.Reset();
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll")) << "the DLL unloaded";
}

// Every thread-local storage index the process has free, taken (and later given back) by the
// test; what the DLL does at load and unload is measured against it.
struct TlsIndexes {
    std::vector<DWORD> taken;
    void TakeAll() {
        for (DWORD i; (i = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(i);
    }
    void TakeAllBut(size_t keep) {
        TakeAll();
        for (size_t n = 0; n < keep && !taken.empty(); ++n) {
            TlsFree(taken.back());
            taken.pop_back();
        }
    }
    void GiveBack() {
        for (DWORD i : taken) TlsFree(i);
        taken.clear();
    }
    ~TlsIndexes() { GiveBack(); }
};

size_t FreeTlsIndexes() {
    TlsIndexes all;
    all.TakeAll();
    return all.taken.size();
}

// The runtime's threading library keeps a TLS index for the DLL, which the DLL gives back at
// unload, whichever thread loaded it. The unload must never make a record of the unloading thread
// in the library: with no TLS index left in the process (a host full of components) that can end
// the process. Each case loads the DLL with one index free (the runtime takes it at load) and
// unloads it on this thread with none free; afterwards the process has the indexes it had before.
enum class Loader { ThisThread, EndedThread, RunningThread };

struct LoadOn {
    HMODULE module = nullptr;
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE loaded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;
    static DWORD WINAPI Run(void* self) {
        auto* me = static_cast<LoadOn*>(self);
        me->module = LoadLibraryW(DllPath().c_str());
        SetEvent(me->loaded);
        WaitForSingleObject(me->stop, INFINITE);
        return 0;
    }
    explicit LoadOn(Loader loader) {
        if (loader == Loader::ThisThread) {
            module = LoadLibraryW(DllPath().c_str());
            return;
        }
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        WaitForSingleObject(loaded, INFINITE);
        if (loader == Loader::EndedThread) End();
    }
    void End() {
        if (!thread) return;
        SetEvent(stop);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        thread = nullptr;
    }
    ~LoadOn() {
        End();
        CloseHandle(stop);
        CloseHandle(loaded);
    }
};

TEST(DllLoad, UnloadWithNoTlsIndexLeftNeitherEndsTheProcessNorKeepsAnIndex) {
    const struct {
        Loader loader;
        const char* what;
    } cases[] = {
        {Loader::ThisThread, "loaded and unloaded on one thread (Office)"},
        {Loader::EndedThread, "loaded on a thread that has ended since"},
        {Loader::RunningThread, "loaded on a thread that still runs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll"));
        const size_t freeBefore = FreeTlsIndexes();
        ASSERT_GT(freeBefore, 1u);
        {
            TlsIndexes host;
            host.TakeAllBut(1);
            LoadOn load(c.loader);
            ASSERT_NE(nullptr, load.module);
            TlsIndexes rest;
            rest.TakeAll();
            EXPECT_EQ(0u, FreeTlsIndexes()) << "the process has no TLS index left";
            EXPECT_TRUE(FreeLibrary(load.module));
            EXPECT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll"));
        }
        EXPECT_EQ(freeBefore, FreeTlsIndexes()) << "the DLL kept no TLS index";
    }
}

// Another component's TLS slot may hold the same pointer as the library's (a stale pointer to
// memory since reused for the library's record). Only the library's own index is freed at unload.
TEST(DllLoad, UnloadFreesOnlyTheRuntimesOwnTlsIndex) {
    ASSERT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll"));
    const DWORD host = TlsAlloc();  // the lowest free index: below the one the runtime takes
    ASSERT_NE(TLS_OUT_OF_INDEXES, host);
    const DWORD slots = 1088;
    std::vector<void*> before(slots);
    for (DWORD i = 0; i < slots; ++i) before[i] = TlsGetValue(i);
    HMODULE module = LoadLibraryW(DllPath().c_str());
    ASSERT_NE(nullptr, module);
    std::vector<void*> records;
    for (DWORD i = 0; i < slots; ++i)
        if (i != host && !before[i] && TlsGetValue(i)) records.push_back(TlsGetValue(i));
    ASSERT_EQ(1u, records.size()) << "the runtime stored this thread's record at load";
    TlsSetValue(host, records[0]);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(records[0], TlsGetValue(host)) << "the host's index was left alone";
    TlsSetValue(host, nullptr);
    TlsFree(host);
}

// Other add-ins built with MinGW ship the shared GCC runtime, and Excel may have loaded it before
// this add-in. The add-in's own errors are still thrown and caught inside it: here a ribbon
// callback called with too few arguments, which the add-in answers through EXCEPINFO after
// throwing and catching its error. (Were the add-in's unwind tables registered with the foreign
// runtime, its own unwinder would find none and the throw would end the process.)
TEST(DllLoad, ItsErrorsAreCaughtWhenAnotherAddInsGccRuntimeIsLoaded) {
    ASSERT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll"));
    const std::wstring folder = DllPath().substr(0, DllPath().find_last_of(L"\\/") + 1);
    const std::wstring foreign = folder + L"foreign-gcc-runtime\\" QVR_FOREIGN_GCC_RUNTIME;
    HMODULE gcc = LoadLibraryExW(foreign.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(nullptr, gcc) << "the shared GCC runtime loads: " << GetLastError();
    HMODULE module = LoadLibraryW(DllPath().c_str());
    ASSERT_NE(nullptr, module);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject(vortelix::CLSID_coVORTELIXExcel, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.GetAddressOf())));
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())));
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"GetLabel_Callback")};
        ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excep{};
        UINT argErr = 0;
        EXPECT_EQ(DISP_E_EXCEPTION,
                  dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, &excep, &argErr));
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, excep.scode);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_TRUE(FreeLibrary(gcc));
}

// ---- the add-in's status object: Application.COMAddIns("<ProgID>").Object ----

// A property of an automation object by name, as a script reads it (late bound).
HRESULT ReadProperty(IDispatch* object, const wchar_t* name, VARIANT* value) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

std::wstring FileVersionOfDll() {
    DWORD ignored = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(DllPath().c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (data.empty() || !GetFileVersionInfoW(DllPath().c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size))
        return L"(none)";
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

// Office hands the add-in's own status object to whoever asks the add-in's COMAddIn for its
// Object: read-only, late bound, and telling the DLL's version, whether the ribbon was loaded, the
// log level and trace file, and the last error the add-in reported.
TEST(AddInStatus, TellsTheAddInsStateAndChangesNothing) {
    ASSERT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll"));
    auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
    auto inst = officesim::COMAddInSim::Make<officesim::COMAddInSim>();
    {
        officesim::OfficeHost host;
        officesim::RibbonHost ribbon;
        ASSERT_EQ(S_OK, host.LoadFromDll(DllPath(), vortelix::CLSID_coVORTELIXExcel));
        ASSERT_EQ(S_OK, host.Connect(app.Get(), 1, inst.Get()));
        ASSERT_EQ(S_OK, host.StartupComplete());
        ComPtr<IDispatch> status;
        ASSERT_EQ(S_OK, inst->get_Object(&status));
        ASSERT_NE(nullptr, status.Get()) << "the add-in set its Object";
        ComPtr<IDTExtensibility2> connection;
        EXPECT_EQ(E_NOINTERFACE, status.As(&connection)) << "an object of its own, not the connection object";

        auto read = [&](const wchar_t* name) {
            VARIANT v;
            VariantInit(&v);
            EXPECT_EQ(S_OK, ReadProperty(status.Get(), name, &v)) << testing::PrintToString(std::wstring(name));
            return v;
        };
        auto text = [&](const wchar_t* name) {
            VARIANT v = read(name);
            std::wstring t = v.vt == VT_BSTR && v.bstrVal ? v.bstrVal : L"";
            EXPECT_EQ(VT_BSTR, v.vt) << testing::PrintToString(std::wstring(name));
            VariantClear(&v);
            return t;
        };
        auto number = [&](const wchar_t* name) {
            VARIANT v = read(name);
            EXPECT_EQ(VT_I4, v.vt) << testing::PrintToString(std::wstring(name));
            return v.lVal;
        };
        auto flag = [&](const wchar_t* name) {
            VARIANT v = read(name);
            EXPECT_EQ(VT_BOOL, v.vt) << testing::PrintToString(std::wstring(name));
            return v.boolVal == VARIANT_TRUE;
        };

        EXPECT_EQ(FileVersionOfDll(), text(L"Version"));
        EXPECT_FALSE(flag(L"RibbonLoaded")) << "no ribbon yet";
        EXPECT_EQ(2, number(L"LogLevel")) << "the default level (no policy in this prefix)";
        const std::wstring trace = text(L"TraceFile");
        EXPECT_NE(std::wstring::npos, trace.find(L"\\VORTELIX\\Excel\\Logs\\VORTELIXExcel.log")) << testing::PrintToString(trace);
        EXPECT_EQ(L"", text(L"LastErrorText"));
        EXPECT_EQ(0, number(L"LastErrorCode"));

        ASSERT_EQ(S_OK, ribbon.Load(host.AddIn(), L"Microsoft.Excel.Workbook", app->Window()));
        EXPECT_TRUE(flag(L"RibbonLoaded")) << "the ribbon's load callback arrived";

        // An error the add-in returns to its caller: a callback called with too few arguments.
        ComPtr<IDispatch> addIn;
        ASSERT_EQ(S_OK, host.AddIn()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(addIn.GetAddressOf())));
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"GetLabel_Callback")};
        ASSERT_EQ(S_OK, addIn->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        EXCEPINFO excep{};
        VARIANT ignored;
        VariantInit(&ignored);
        EXPECT_EQ(DISP_E_EXCEPTION, addIn->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &ignored, &excep, nullptr));
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, number(L"LastErrorCode"));
        const std::wstring lastError = text(L"LastErrorText");
        EXPECT_NE(std::wstring::npos, lastError.find(L"GetLabel_Callback")) << testing::PrintToString(lastError);

        // Read-only: no property can be set, and nothing changes.
        for (const wchar_t* name : {L"Version", L"RibbonLoaded", L"LogLevel", L"TraceFile", L"LastErrorText", L"LastErrorCode"}) {
            DISPID property = DISPID_UNKNOWN;
            LPOLESTR n[] = {const_cast<LPOLESTR>(name)};
            ASSERT_EQ(S_OK, status->GetIDsOfNames(IID_NULL, n, 1, LOCALE_USER_DEFAULT, &property));
            VARIANT value;
            value.vt = VT_I4;
            value.lVal = 0;
            DISPID named = DISPID_PROPERTYPUT;
            DISPPARAMS put{&value, &named, 1, 1};
            EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
                      status->Invoke(property, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr))
                << testing::PrintToString(std::wstring(name));
        }
        EXPECT_EQ(2, number(L"LogLevel"));
        EXPECT_TRUE(flag(L"RibbonLoaded"));

        ribbon.Release();
        ASSERT_EQ(S_OK, host.BeginShutdown());
        ASSERT_EQ(S_OK, host.Disconnect(0));
        EXPECT_FALSE(flag(L"RibbonLoaded")) << "disconnected: no ribbon";
        status.Reset();
        addIn.Reset();
        inst->object.Reset();
        host.ReleaseAddIn();
        EXPECT_EQ(S_OK, host.CanUnloadNow()) << "nothing of the add-in is kept once Office lets go of its Object";
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(L"VORTELIXExcel.dll"));
}

// The type library describes the status object as scripts and VBA see it: six read-only
// properties, in the order of their dispatch ids.
TEST_F(Dll, TypeLibraryDescribesTheStatusObject) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &library));
    const IID status = {0x3E8B6C14, 0x7D25, 0x4F9A, {0xA1, 0xC3, 0x5B, 0x0E, 0x92, 0xD7, 0xF4, 0x68}};
    ComPtr<ITypeInfo> dispatchView, info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(status, &dispatchView));
    HREFTYPE vtableView = 0;
    ASSERT_EQ(S_OK, dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableView)) << "a dual interface";
    ASSERT_EQ(S_OK, dispatchView->GetRefTypeInfo(vtableView, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    const TYPEKIND kind = attr->typekind;
    const WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    // A dual interface's own description; its dispatch view is the one scripts use.
    ASSERT_EQ(TKIND_INTERFACE, kind);
    const struct {
        const wchar_t* name;
        VARTYPE type;
    } expected[] = {{L"Version", VT_BSTR},       {L"RibbonLoaded", VT_BOOL},  {L"LogLevel", VT_I4},
                    {L"TraceFile", VT_BSTR},     {L"LastErrorText", VT_BSTR}, {L"LastErrorCode", VT_I4}};
    ASSERT_EQ(std::size(expected), functions);
    for (WORD i = 0; i < functions; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(i, &f));
        BSTR name = nullptr;
        UINT count = 0;
        info->GetNames(f->memid, &name, 1, &count);
        EXPECT_EQ(std::wstring(expected[i].name), name ? name : L"");
        EXPECT_EQ(static_cast<MEMBERID>(i + 1), f->memid);
        EXPECT_EQ(INVOKE_PROPERTYGET, f->invkind) << "read-only";
        ASSERT_EQ(1, f->cParams);
        EXPECT_EQ(VT_PTR, f->lprgelemdescParam[0].tdesc.vt);
        EXPECT_EQ(expected[i].type, f->lprgelemdescParam[0].tdesc.lptdesc->vt);
        SysFreeString(name);
        info->ReleaseFuncDesc(f);
    }
}

}  // namespace
