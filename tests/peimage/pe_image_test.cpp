// What the shipped binaries say about themselves, read from their files as data: nothing of them
// runs, so a 64-bit program checks the 32-bit build as well as its own (on a machine that runs no
// 32-bit code, this is what can be known of the i686 outputs without running them).
//   pe_image_tests <bin folder> <installer folder> <i686|x86_64> <version> [gtest flags]
// The bin folder holds VORTELIXExcel.dll and VORTELIXExcelCheck.exe, the installer folder the
// package's custom action ExcelCheck.dll.
#include "support/system_dlls.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring gBin, gInstaller;
unsigned gMajor = 0, gMinor = 0, gBuild = 0;
bool g64 = false;

std::wstring AddIn() { return gBin + L"\\VORTELIXExcel.dll"; }

// A PE file as bytes, with its headers located and relative addresses mapped through the section
// table (the file is not loaded, so an address is not an offset).
class PeFile {
public:
    explicit PeFile(const std::wstring& path) {
        std::ifstream in(path.c_str(), std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), {});
        if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return;
        auto dos = At<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return;
        nt_ = static_cast<size_t>(dos->e_lfanew);
        auto signature = At<DWORD>(nt_);
        auto file = At<IMAGE_FILE_HEADER>(nt_ + 4);
        if (!signature || *signature != IMAGE_NT_SIGNATURE || !file) return;
        header_ = *file;
        optional_ = nt_ + 4 + sizeof(IMAGE_FILE_HEADER);
        auto magic = At<WORD>(optional_);
        if (!magic) return;
        magic_ = *magic;
        size_t sections = optional_ + header_.SizeOfOptionalHeader;
        for (WORD i = 0; i < header_.NumberOfSections; ++i)
            if (auto s = At<IMAGE_SECTION_HEADER>(sections + i * sizeof(IMAGE_SECTION_HEADER))) sections_.push_back(*s);
        valid_ = true;
    }
    bool Valid() const { return valid_; }
    const IMAGE_FILE_HEADER& Header() const { return header_; }
    WORD Magic() const { return magic_; }
    WORD DllCharacteristics() const {
        return magic_ == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? At<IMAGE_OPTIONAL_HEADER64>(optional_)->DllCharacteristics
                                                       : At<IMAGE_OPTIONAL_HEADER32>(optional_)->DllCharacteristics;
    }
    IMAGE_DATA_DIRECTORY Directory(int index) const {
        auto dirs = magic_ == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? At<IMAGE_OPTIONAL_HEADER64>(optional_)->DataDirectory
                                                            : At<IMAGE_OPTIONAL_HEADER32>(optional_)->DataDirectory;
        return dirs[index];
    }
    // The file offset of a relative virtual address, if a section holds it.
    std::optional<size_t> Offset(DWORD rva) const {
        for (const auto& s : sections_)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return static_cast<size_t>(rva - s.VirtualAddress + s.PointerToRawData);
        return std::nullopt;
    }
    template <typename T>
    const T* AtRva(DWORD rva) const {
        auto offset = Offset(rva);
        return offset ? At<T>(*offset) : nullptr;
    }
    std::string StringAt(DWORD rva) const {
        auto offset = Offset(rva);
        if (!offset) return "(outside the file)";
        std::string s;
        for (size_t i = *offset; i < bytes_.size() && bytes_[i]; ++i) s += static_cast<char>(bytes_[i]);
        return s;
    }
    std::set<std::string> Exports() const {
        std::set<std::string> names;
        auto dir = AtRva<IMAGE_EXPORT_DIRECTORY>(Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
        if (!dir) return names;
        for (DWORD i = 0; i < dir->NumberOfNames; ++i)
            if (auto name = AtRva<DWORD>(dir->AddressOfNames + i * 4)) names.insert(StringAt(*name));
        return names;
    }
    DWORD ExportedFunctions() const {
        auto dir = AtRva<IMAGE_EXPORT_DIRECTORY>(Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
        return dir ? dir->NumberOfFunctions : 0;
    }
    std::vector<std::string> Imports() const {
        std::vector<std::string> names;
        DWORD rva = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress;
        for (auto imp = AtRva<IMAGE_IMPORT_DESCRIPTOR>(rva); imp && imp->Name;
             rva += sizeof(IMAGE_IMPORT_DESCRIPTOR), imp = AtRva<IMAGE_IMPORT_DESCRIPTOR>(rva)) {
            std::string name = StringAt(imp->Name);
            for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            names.push_back(name);
        }
        return names;
    }

private:
    template <typename T>
    const T* At(size_t offset) const {
        return offset + sizeof(T) <= bytes_.size() ? reinterpret_cast<const T*>(bytes_.data() + offset) : nullptr;
    }
    std::vector<uint8_t> bytes_;
    IMAGE_FILE_HEADER header_{};
    std::vector<IMAGE_SECTION_HEADER> sections_;
    size_t nt_ = 0, optional_ = 0;
    WORD magic_ = 0;
    bool valid_ = false;
};

// ---------------------------------------------------------------------------------------------
// Every shipped binary: the machine Office of this bitness runs, the runtimes linked in
// ---------------------------------------------------------------------------------------------

struct Shipped {
    const char* name;
    std::wstring (*path)();
    bool dll;
    std::set<std::string> extraImports;  // beyond Windows' common libraries, what it is for
};
const Shipped kShipped[] = {
    {"AddIn", AddIn, true, {}},
    // version.dll and wintrust.dll are loaded from the system folder by full path: an import would
    // be looked for in the program's own folder first, where a planted copy may wait.
    {"HealthCheck", [] { return gBin + L"\\VORTELIXExcelCheck.exe"; }, false, {}},
    {"CustomAction", [] { return gInstaller + L"\\ExcelCheck.dll"; }, true, {"msi.dll"}},
};

void PrintTo(const Shipped& s, std::ostream* out) { *out << s.name; }

class ShippedBinary : public testing::TestWithParam<Shipped> {};

// The machine decides which Office loads the file: an x86 file in 64-bit Office (or the reverse)
// fails with "not a valid Win32 application" and Office turns the add-in off.
TEST_P(ShippedBinary, IsBuiltForOfficeOfItsBitness) {
    PeFile pe(GetParam().path());
    ASSERT_TRUE(pe.Valid()) << testing::PrintToString(GetParam().path());
    EXPECT_EQ(g64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386, pe.Header().Machine);
    EXPECT_EQ(g64 ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC, pe.Magic());
    const WORD c = pe.Header().Characteristics;
    EXPECT_TRUE(c & IMAGE_FILE_EXECUTABLE_IMAGE);
    EXPECT_EQ(GetParam().dll, (c & IMAGE_FILE_DLL) != 0);
    if (!g64) {
        EXPECT_TRUE(c & IMAGE_FILE_32BIT_MACHINE);
    }
    // Relocations kept, ASLR and DEP declared: hardened desks (Exploit Protection, mandatory
    // ASLR) load the file without rebasing it by force.
    EXPECT_FALSE(c & IMAGE_FILE_RELOCS_STRIPPED);
    EXPECT_TRUE(pe.DllCharacteristics() & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(pe.DllCharacteristics() & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
}

TEST_P(ShippedBinary, ImportsWindowsLibrariesOnly) {
    PeFile pe(GetParam().path());
    ASSERT_TRUE(pe.Valid());
    auto imports = pe.Imports();
    EXPECT_FALSE(imports.empty());
    for (const auto& name : imports)
        EXPECT_TRUE(qvrtest::kSystemDlls.count(name) || GetParam().extraImports.count(name))
            << name << " is not a Windows library: it would have to be shipped beside the file";
    if (std::string(GetParam().name) == "HealthCheck") {
        for (const char* planted : {"version.dll", "wintrust.dll"}) {
            EXPECT_EQ(imports.end(), std::find(imports.begin(), imports.end(), planted))
                << planted << " is not a known DLL: imported, a copy in the program's folder would be loaded";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedBinary, testing::ValuesIn(kShipped),
                         [](const testing::TestParamInfo<Shipped>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The add-in DLL: a COM server and nothing more, its version, its type library
// ---------------------------------------------------------------------------------------------

TEST(AddInImage, ExportsExactlyTheFourServerFunctions) {
    PeFile pe(AddIn());
    ASSERT_TRUE(pe.Valid());
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"}),
              pe.Exports());
    EXPECT_EQ(4u, pe.ExportedFunctions());
}

// The add-in registers its unwind tables with its own unwinder: the compiler's 32-bit start-up
// object looks up the shared GCC runtime by this name and, when another add-in has loaded it,
// registers the tables there, where the add-in's own unwinder never finds them (its first
// exception would end Excel). Where 32-bit programs run, dll_tests shows the throw caught with
// that runtime loaded; this is what the file itself shows on every machine.
TEST(AddInImage, NeverLooksForTheSharedGccRuntime) {
    std::ifstream in(AddIn().c_str(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    for (const char* name : {"libgcc_s_dw2-1.dll", "libgcc_s_seh-1.dll", "libgcc_s_sjlj-1.dll"})
        EXPECT_EQ(std::string::npos, bytes.find(name)) << name;
}

// Windows Installer compares FILEVERSION to decide whether an installed DLL is replaced, and an
// administrator reads the strings in the file's properties.
TEST(AddInImage, CarriesTheVersionOfThisBuild) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(AddIn().c_str(), &ignored);
    ASSERT_NE(0u, size) << "no version resource";
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(AddIn().c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed);
    EXPECT_EQ(VS_FFI_SIGNATURE, fixed->dwSignature);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(gMinor, gMajor)), fixed->dwFileVersionMS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(0, gBuild)), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    auto text = [&](const wchar_t* name) {
        wchar_t* value = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        return VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value
                   ? std::wstring(value)
                   : std::wstring(L"(missing)");
    };
    EXPECT_EQ(std::to_wstring(gMajor) + L"." + std::to_wstring(gMinor) + L"." + std::to_wstring(gBuild) + L".0",
              text(L"FileVersion"));
    EXPECT_EQ(L"VORTELIXExcel.dll", text(L"OriginalFilename"));
    EXPECT_EQ(L"VORTELIX Excel add-in", text(L"FileDescription"));
}

// RegisterTypeLib files the library's path under its system kind, and 32-bit Office and VBA look
// under win32 only: a 32-bit DLL carrying a win64 library registers where nothing finds it.
TEST(AddInImage, TypeLibraryDeclaresTheSystemKindOfItsBitness) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(AddIn().c_str(), REGKIND_NONE, &library)) << "the DLL's own TYPELIB resource";
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_EQ(g64 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
    library->ReleaseTLibAttr(attr);
    library->Release();
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 5 || (strcmp(argv[3], "i686") != 0 && strcmp(argv[3], "x86_64") != 0) ||
        sscanf(argv[4], "%u.%u.%u", &gMajor, &gMinor, &gBuild) != 3) {
        fprintf(stderr, "usage: pe_image_tests <bin folder> <installer folder> <i686|x86_64> <version> [gtest flags]\n");
        return 2;
    }
    // The build passes Unix paths; Wine shows the Unix root as drive Z:.
    auto wide = [](const char* s) {
        int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
        std::wstring w(n > 0 ? n - 1 : 0, L'\0');
        if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
        if (!w.empty() && w[0] == L'/') w = L"Z:" + w;
        for (wchar_t& c : w)
            if (c == L'/') c = L'\\';
        return w;
    };
    gBin = wide(argv[1]);
    gInstaller = wide(argv[2]);
    g64 = strcmp(argv[3], "x86_64") == 0;
    printf("checking the %s build's files in %s\n", argv[3], argv[1]);
    return RUN_ALL_TESTS();
}
