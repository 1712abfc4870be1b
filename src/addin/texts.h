// The add-in's own texts (string tables in texts.rc, one per language; com/texts.h finds them).
#pragma once

#include "com/texts.h"

namespace vortelix {

inline constexpr UINT kTextUploaderMissing = qvr::kFirstAddInText + 0;      // %s: the uploader's path
inline constexpr UINT kTextWorkFolderError = qvr::kFirstAddInText + 1;
inline constexpr UINT kTextLeftoverNotRecycled = qvr::kFirstAddInText + 2;  // %s: the leftover copy
inline constexpr UINT kTextUploaderNotStarted = qvr::kFirstAddInText + 3;   // %s uploader, %s copy
inline constexpr UINT kTextOriginalKept = qvr::kFirstAddInText + 4;         // %s: the workbook's file
inline constexpr UINT kTextNotConnected = qvr::kFirstAddInText + 5;
inline constexpr UINT kTextNoActiveWindow = qvr::kFirstAddInText + 6;
inline constexpr UINT kTextNoActiveWorkbook = qvr::kFirstAddInText + 7;
inline constexpr UINT kTextUploaderStillRunning = qvr::kFirstAddInText + 8;  // %s: the uploader's path
inline constexpr UINT kTextLeftoverRecycled = qvr::kFirstAddInText + 9;      // %s: the leftover copy

}  // namespace vortelix
