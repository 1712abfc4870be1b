// What the installer tests share: msiexec runs with their log, the packages' tables read through
// the Windows Installer API, the installed products of a product line, and the file system as far
// as a package changes it.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace msitest {

// The bitness of the packages under test: this program's own, unless the build names another
// (a 64-bit program reading the tables of the x86 packages, on a machine that runs no 32-bit code).
#ifdef QVR_PACKAGE_BITS
constexpr bool k64Bit = QVR_PACKAGE_BITS == 64;
#else
constexpr bool k64Bit = sizeof(void*) == 8;
#endif
constexpr DWORD kInstallFailure = ERROR_INSTALL_FAILURE;               // 1603
constexpr DWORD kRestartRequired = ERROR_SUCCESS_REBOOT_REQUIRED;      // 3010

std::wstring Upper(std::wstring s);
std::wstring Quoted(const std::wstring& s);
std::wstring TempFolder();

// msiexec, silent, with a verbose log; the log's end is shown when the run did not end as
// expected. The log's text of the last run (UTF-16 reduced to its ASCII) stays readable.
DWORD Msiexec(const std::wstring& arguments, DWORD expected = ERROR_SUCCESS);
std::string LastMsiexecLog();
// msiexec with the basic UI (/qb), where Windows Installer tells the user why it refuses to
// install (a launch condition's message box, "Install Failed" under Wine). The box is read and
// closed; its text is returned in *shown (empty when none appeared).
DWORD MsiexecShowingMessage(const std::wstring& arguments, DWORD expected, std::wstring* shown);

// "Program Files" of this program's bitness: "Program Files (x86)" for a 32-bit program on
// 64-bit Windows, as for 32-bit Office.
std::wstring ProgramFiles();
std::wstring LocalAppData();
std::string Contents(const std::wstring& path);
std::set<std::wstring> FileNames(const std::wstring& folder);
// Windows Installer's cache of installed packages.
std::wstring InstallerCache();

class MsiHandle {
public:
    MsiHandle() = default;
    ~MsiHandle() {
        if (h_) MsiCloseHandle(h_);
    }
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    MSIHANDLE* put() { return &h_; }
    MSIHANDLE get() const { return h_; }

private:
    MSIHANDLE h_ = 0;
};

// The rows of a query, every column as text; nullopt when the query fails (a missing table).
using Rows = std::vector<std::vector<std::wstring>>;
std::optional<Rows> Query(MSIHANDLE database, const std::wstring& sql);
// The same on a package file.
std::optional<Rows> QueryPackage(const std::wstring& package, const std::wstring& sql);
// A property of a package file; empty when it has none.
std::wstring PackageProperty(const std::wstring& package, const std::wstring& name);
// A summary-information property (PID_...) of a package file, as text.
std::wstring SummaryText(const std::wstring& package, UINT property);
int SummaryNumber(const std::wstring& package, UINT property);
// The installed products of a product line.
std::set<std::wstring> InstalledProducts(const std::wstring& upgradeCode);
// Removes every installed product of the product lines of these packages (for this user and for
// the machine): a test leaves the machine as it found it, also when it failed half-way.
void RemoveEveryProductOf(std::initializer_list<std::wstring> packages);

}  // namespace msitest
