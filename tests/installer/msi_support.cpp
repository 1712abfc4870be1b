#include "msi_support.h"

#include "reg_support.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

namespace msitest {

std::wstring Upper(std::wstring s) {
    CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

namespace {
std::wstring LogPath() { return TempFolder() + L"msiexec.log"; }
}  // namespace

std::string LastMsiexecLog() {
    std::ifstream in(LogPath().c_str(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::erase(text, '\0');  // the log may be UTF-16
    return text;
}

// Windows Installer processes still running (under Wine the removal of a product replaced by an
// upgrade runs in a process of its own that can outlive the msiexec that started it).
int InstallerProcesses() {
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (lstrcmpiW(entry.szExeFile, L"msiexec.exe") == 0) ++count;
    CloseHandle(snapshot);
    return count;
}

void WaitForInstallerProcesses() {
    for (int i = 0; i < 300 && InstallerProcesses() > 0; ++i) Sleep(100);
}

DWORD Msiexec(const std::wstring& arguments, DWORD expected) {
    std::wstring log = LogPath();
    DeleteFileW(log.c_str());
    auto start = std::chrono::steady_clock::now();
    DWORD code = regtest::RunProgram(L"msiexec.exe", arguments + L" /qn /l*v " + Quoted(log), 180000);
    WaitForInstallerProcesses();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("msiexec %ls: exit code %lu after %.2f s\n", arguments.c_str(), static_cast<unsigned long>(code),
                took.count());
    if (code != expected) {
        std::string text = LastMsiexecLog();
        ADD_FAILURE() << "msiexec " << testing::PrintToString(arguments) << " ended with " << code << ", expected "
                      << expected << "; its log ends:\n"
                      << text.substr(text.size() > 6000 ? text.size() - 6000 : 0);
    }
    return code;
}

DWORD MsiexecShowingMessage(const std::wstring& arguments, DWORD expected, std::wstring* shown) {
    shown->clear();
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done) {
            if (HWND box = FindWindowW(L"#32770", nullptr)) {
                wchar_t caption[256] = {}, text[2048] = {};
                GetWindowTextW(box, caption, 256);
                GetDlgItemTextW(box, 0xFFFF, text, 2048);
                // Read once the box is filled in; then close it as its OK button would.
                if (text[0] && caption[0]) {
                    if (shown->empty()) *shown = std::wstring(caption) + L": " + text;
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                }
            }
            Sleep(100);
        }
    });
    std::wstring log = LogPath();
    DeleteFileW(log.c_str());
    DWORD code = regtest::RunProgram(L"msiexec.exe", arguments + L" /qb /l*v " + Quoted(log), 180000);
    WaitForInstallerProcesses();
    done = true;
    watcher.join();
    std::printf("msiexec /qb %ls: exit code %lu, message %ls\n", arguments.c_str(), static_cast<unsigned long>(code),
                shown->c_str());
    EXPECT_EQ(expected, code) << "msiexec " << testing::PrintToString(arguments);
    return code;
}

std::wstring ProgramFiles() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring LocalAppData() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::string Contents(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::set<std::wstring> FileNames(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.insert(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::wstring InstallerCache() {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\Installer";
}

std::optional<Rows> Query(MSIHANDLE database, const std::wstring& sql) {
    MsiHandle view;
    if (MsiDatabaseOpenViewW(database, sql.c_str(), view.put()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
        return std::nullopt;
    Rows rows;
    for (;;) {
        MsiHandle record;
        if (MsiViewFetch(view.get(), record.put()) != ERROR_SUCCESS) break;
        std::vector<std::wstring> row;
        for (UINT i = 1, n = MsiRecordGetFieldCount(record.get()); i <= n; ++i) {
            wchar_t text[1024] = {};
            DWORD length = 1024;
            MsiRecordGetStringW(record.get(), i, text, &length);
            row.emplace_back(text);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<Rows> QueryPackage(const std::wstring& package, const std::wstring& sql) {
    MsiHandle database;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.put()) != ERROR_SUCCESS) return std::nullopt;
    return Query(database.get(), sql);
}

std::wstring PackageProperty(const std::wstring& package, const std::wstring& name) {
    auto rows = QueryPackage(package, L"SELECT `Value` FROM `Property` WHERE `Property` = '" + name + L"'");
    return rows && rows->size() == 1 ? rows->front().front() : L"";
}

namespace {
bool Summary(const std::wstring& package, UINT property, std::wstring* text, int* number) {
    MsiHandle database;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.put()) != ERROR_SUCCESS) return false;
    MsiHandle summary;
    if (MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.put()) != ERROR_SUCCESS) return false;
    wchar_t buffer[512] = {};
    DWORD length = 512;
    UINT type = 0;
    INT value = 0;
    if (MsiSummaryInfoGetPropertyW(summary.get(), property, &type, &value, nullptr, buffer, &length) != ERROR_SUCCESS)
        return false;
    if (text) *text = buffer;
    if (number) *number = value;
    return true;
}
}  // namespace

std::wstring SummaryText(const std::wstring& package, UINT property) {
    std::wstring text;
    Summary(package, property, &text, nullptr);
    return text;
}

int SummaryNumber(const std::wstring& package, UINT property) {
    int number = -1;
    Summary(package, property, nullptr, &number);
    return number;
}

std::set<std::wstring> InstalledProducts(const std::wstring& upgradeCode) {
    std::set<std::wstring> products;
    wchar_t product[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, product) == ERROR_SUCCESS; ++i)
        products.insert(product);
    return products;
}

void RemoveEveryProductOf(std::initializer_list<std::wstring> packages) {
    // The product line's list, and each package's own product (Wine's upgrades can lose a line's
    // list while its products stay installed).
    std::set<std::wstring> products;
    for (const auto& package : packages) {
        products.merge(InstalledProducts(PackageProperty(package, L"UpgradeCode")));
        std::wstring own = PackageProperty(package, L"ProductCode");
        if (MsiQueryProductStateW(own.c_str()) == INSTALLSTATE_DEFAULT) products.insert(own);
    }
    for (const auto& product : products) {
        regtest::RunProgram(L"msiexec.exe", L"/x " + product + L" /qn", 180000);
        WaitForInstallerProcesses();
    }
}

}  // namespace msitest
