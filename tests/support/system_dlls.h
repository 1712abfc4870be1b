// The libraries a shipped binary may import: Windows' own. The C and C++ runtimes are linked in,
// so that no libstdc++-6.dll or libgcc_s needs to sit next to the add-in on a clerk's desk.
#pragma once

#include <set>
#include <string>

namespace qvrtest {

inline const std::set<std::string> kSystemDlls = {
    "kernel32.dll", "user32.dll", "gdi32.dll",   "advapi32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll",
    "comctl32.dll", "version.dll", "shlwapi.dll", "msvcrt.dll",   "ntdll.dll", "uxtheme.dll"};

}  // namespace qvrtest
