// The files the order hand-off works with: the add-in's own folder, the private work folder
// under the user's temporary folder, and emptying that folder.
#pragma once

#include "com/handles.h"

#include <string>

namespace vortelix {

// The folder of this DLL (not of the host's executable), ending in a separator.
std::wstring AddInFolder();
// %TEMP% in its long form followed by "VortelixExcel", without a trailing separator; empty when
// the platform reports no usable temporary folder (the uploader would not look anywhere else).
std::wstring WorkFolder();
// Creates the folder and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::wstring& folder);
// The folder opened as a directory the hand-off may empty: a directory of its own (not a file, and
// not a junction or symbolic link, whose purge would empty the tree it points to) that this user
// owns (a folder another user made, in a shared temporary folder, is not ours to empty or to leave
// an order in). Both are checked on the handle, which is opened without delete sharing: while it
// is open the folder cannot be renamed, removed or replaced by a link. Empty when the folder is
// not such a directory.
qvr::unique_hfile OpenOwnDirectory(const std::wstring& folder);
// What became of a file handed to the Recycle Bin.
enum class TRecycled {
    Moved,         // it is in the Recycle Bin, restorable
    NoRecycleBin,  // kept: its drive has no Recycle Bin (a share, a mapped drive, a USB stick)
    Kept,          // kept: the shell could not recycle it, or the user declined to delete it for good
};
// Whether files on the volume of this path go to a Recycle Bin: not for a UNC path, nor for a
// network or removable drive (the shell deletes such files for good), nor when the volume cannot
// be told.
bool HasRecycleBin(const std::wstring& path);
// Moves a file to the Recycle Bin without progress or error windows. A file the shell cannot
// recycle is never deleted for good without the user's word: the shell asks (and a "no" keeps
// it); a file on a drive without a Recycle Bin is not handed to the shell at all.
TRecycled MoveToRecycleBin(const std::wstring& path);
// The record's words for a file that was handed to the Recycle Bin and kept.
const wchar_t* KeptReason(TRecycled result);
// True while a process started from exactly this program file runs in this session (or one whose
// program file cannot be read, when in doubt).
bool ProgramIsRunning(const std::wstring& program);
// Deletes every file in the folder tree; folders stay. Files that cannot be deleted are left
// alone. A subfolder is entered only through OpenOwnDirectory, held open while it is emptied:
// linked folders and folders of other users are not ours.
void ClearFolderTree(const std::wstring& folder);
// True for a full name that names a file by absolute path ("C:\..." or "\\server\...").
bool IsAbsolutePath(const std::wstring& path);

}  // namespace vortelix
