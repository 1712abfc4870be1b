// The files the order hand-off works with: the add-in's own folder, the private work folder
// under the user's temporary folder, and emptying that folder.
#pragma once

#include <string>

namespace vortelix {

// The folder of this DLL (not of the host's executable), ending in a separator.
std::wstring AddInFolder();
// %TEMP% in its long form followed by "VortelixExcel", without a trailing separator; empty when
// the platform reports no usable temporary folder (the uploader would not look anywhere else).
std::wstring WorkFolder();
// Creates the folder and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::wstring& folder);
// True for a folder that is a directory of its own: not a file, and not a junction or symbolic
// link, whose purge would empty the tree it points to.
bool IsRealDirectory(const std::wstring& folder);
// Moves a file to the Recycle Bin without any question, progress or error window; where its
// volume has no Recycle Bin the file is deleted. True when the file is gone afterwards.
bool MoveToRecycleBin(const std::wstring& path);
// Deletes every file in the folder tree; folders stay. Files that cannot be deleted are left
// alone. Linked folders (reparse points) are not entered: their files are not ours.
void ClearFolderTree(const std::wstring& folder);
// True for a full name that names a file by absolute path ("C:\..." or "\\server\...").
bool IsAbsolutePath(const std::wstring& path);

}  // namespace vortelix
