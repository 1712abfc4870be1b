#include "addin/handoff_files.h"

#include "com/handles.h"
#include "server/comserver.h"

#include <windows.h>
#include <shellapi.h>

namespace vortelix {

std::wstring AddInFolder() {
    qvr::TComServer* server = qvr::TComServer::Instance();
    std::wstring path = qvr::GetModulePath(server ? server->Module() : nullptr);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring WorkFolder() {
    // GetTempPathW answers at most MAX_PATH + 1 characters; a longer %TMP% makes it fail.
    wchar_t temp[MAX_PATH + 2] = {};
    DWORD n = GetTempPathW(MAX_PATH + 2, temp);
    if (n == 0 || n > MAX_PATH + 1) return {};
    std::wstring longForm(32768, L'\0');
    DWORD m = GetLongPathNameW(temp, longForm.data(), static_cast<DWORD>(longForm.size()));
    if (m == 0 || m >= longForm.size())
        longForm = temp;
    else
        longForm.resize(m);
    if (!longForm.empty() && longForm.back() != L'\\') longForm += L'\\';
    return longForm + L"VortelixExcel";
}

bool ForceDirectories(const std::wstring& folder) {
    if (folder.empty()) return false;
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t cut = folder.find_last_of(L"\\/");
    if (cut != std::wstring::npos && cut > 0 && folder[cut - 1] != L':' && folder[cut - 1] != L'\\') {
        if (!ForceDirectories(folder.substr(0, cut))) return false;
    }
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool IsRealDirectory(const std::wstring& folder) {
    DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool MoveToRecycleBin(const std::wstring& path) {
    std::wstring from = path;
    from.push_back(L'\0');  // a list of names, ended by an empty one
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    // No connected elements: only this file goes, never a folder that the shell pairs with it.
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI | FOF_NO_CONNECTED_ELEMENTS;
    int result = SHFileOperationW(&operation);
    return result == 0 && !operation.fAnyOperationsAborted &&
           GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

void ClearFolderTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    qvr::unique_find find(FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
    if (!find) return;
    do {
        std::wstring name = entry.cFileName;
        std::wstring path = folder + L"\\" + name;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            // Read-only, hidden and system files go too; a file that is in use stays.
            if (!DeleteFileW(path.c_str()) && (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
                SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
                DeleteFileW(path.c_str());
            }
        } else if (name != L"." && name != L".." && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            ClearFolderTree(path);
        }
    } while (FindNextFileW(find.get(), &entry));
}

bool IsAbsolutePath(const std::wstring& path) {
    if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) return true;
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

}  // namespace vortelix
