#include "addin/handoff_files.h"

#include "com/handles.h"
#include "server/comserver.h"

#include <windows.h>
#include <aclapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <vector>

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

namespace {

// Whether `sid` is this user: the token's user, or the default owner of what it creates (for an
// administrator with a full token, the Administrators group owns the folders it makes).
bool IsThisUser(PSID sid) {
    qvr::unique_handle token;
    {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
        token.reset(raw);
    }
    for (TOKEN_INFORMATION_CLASS what : {TokenUser, TokenOwner}) {
        DWORD size = 0;
        GetTokenInformation(token.get(), what, nullptr, 0, &size);
        if (size == 0) continue;
        std::vector<BYTE> buffer(size);
        if (!GetTokenInformation(token.get(), what, buffer.data(), size, &size)) continue;
        PSID mine = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                      : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
        if (EqualSid(sid, mine)) return true;
    }
    return false;
}

}  // namespace

qvr::unique_hfile OpenOwnDirectory(const std::wstring& folder) {
    qvr::unique_hfile directory(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!directory) return directory;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(directory.get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        tag.ReparseTag != 0)
        return {};
    // And by name, now that the folder at that name is held in place: a file system that cannot
    // open a link itself (Wine's, for a Unix symbolic link) opens its target instead, and only
    // the name's attributes show the link.
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return {};
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(directory.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return {};
    const bool ours = owner && IsThisUser(owner);
    LocalFree(descriptor);
    if (!ours) return {};
    return directory;
}

bool HasRecycleBin(const std::wstring& path) {
    // "\\server\share\..." and "\\?\UNC\server\share\...": a share's files are deleted for good.
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\' &&
        !(path.rfind(L"\\\\?\\", 0) == 0 && path.rfind(L"\\\\?\\UNC\\", 0) != 0))
        return false;
    std::wstring volume(MAX_PATH + 1, L'\0');
    if (!GetVolumePathNameW(path.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) return false;
    volume.resize(wcslen(volume.c_str()));
    if (volume.rfind(L"\\\\", 0) == 0 && volume.rfind(L"\\\\?\\", 0) != 0) return false;
    switch (GetDriveTypeW(volume.c_str())) {
        case DRIVE_REMOTE:
        case DRIVE_REMOVABLE:
        case DRIVE_NO_ROOT_DIR:
        case DRIVE_UNKNOWN:
            return false;
        default:
            return true;
    }
}

TRecycled MoveToRecycleBin(const std::wstring& path) {
    if (!HasRecycleBin(path)) return TRecycled::NoRecycleBin;
    std::wstring from = path;
    from.push_back(L'\0');  // a list of names, ended by an empty one
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    // No connected elements: only this file goes, never a folder that the shell pairs with it.
    // With FOF_WANTNUKEWARNING the shell asks before it deletes for good a file it cannot recycle
    // (larger than the bin, the bin turned off by policy): without it, it would do so silently.
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_WANTNUKEWARNING | FOF_SILENT | FOF_NOERRORUI |
                       FOF_NO_CONNECTED_ELEMENTS;
    int result = SHFileOperationW(&operation);
    return result == 0 && !operation.fAnyOperationsAborted && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES
               ? TRecycled::Moved
               : TRecycled::Kept;
}

const wchar_t* KeptReason(TRecycled result) {
    return result == TRecycled::NoRecycleBin ? L"kept: its drive has no Recycle Bin" : L"kept: it could not be recycled";
}

bool ProgramIsRunning(const std::wstring& program) {
    const std::wstring name = program.substr(program.find_last_of(L"\\/") + 1);
    DWORD ourSession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &ourSession);
    qvr::unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    // Without the list of processes nobody can tell: in doubt the uploader runs.
    if (!snapshot) return true;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) return true;
    do {
        if (_wcsicmp(entry.szExeFile, name.c_str()) != 0) continue;
        // Another user's session has its own work folder: its uploader is not ours.
        DWORD session = 0;
        if (ProcessIdToSessionId(entry.th32ProcessID, &session) && session != ourSession) continue;
        qvr::unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) return true;
        std::wstring image(32768, L'\0');
        DWORD size = static_cast<DWORD>(image.size());
        if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) return true;
        image.resize(size);
        if (_wcsicmp(image.c_str(), program.c_str()) == 0) return true;
    } while (Process32NextW(snapshot.get(), &entry));
    return false;
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
            // Checked on its own handle, which stays open (and the folder in place) while it is
            // emptied: the listing above may be older than the folder now at that name.
            if (qvr::unique_hfile held = OpenOwnDirectory(path)) ClearFolderTree(path);
        }
    } while (FindNextFileW(find.get(), &entry));
}

bool IsAbsolutePath(const std::wstring& path) {
    if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) return true;
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

}  // namespace vortelix
