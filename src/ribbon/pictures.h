// Pictures of ribbon controls as Office takes them from the image callbacks: from the control's
// glyph or from its entry in the tab's image list, handed over as an icon picture object (Office
// 2007, made anew on every request) or as a new stream holding an .ico file (Office 2010 and
// later). The .ico data is kept between requests under the stamp of the glyph or image list it
// was made from, so that a picture is made again only when its source changed; every request
// still gets a stream of its own.
#pragma once

#include "com/handles.h"
#include "module/module.h"
#include "ribbon/graphics.h"
#include "ribbon/ribbon.h"

#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvr {

// The first host version that gets an ICO stream instead of an icon picture object.
inline constexpr int32_t kIcoStreamHostVersion = 14;

// The picture of a control (its glyph, else its ImageIndex in its tab's image list); none when
// it has no picture.
Microsoft::WRL::ComPtr<IUnknown> RibbonControlPicture(const IqvrRibbonComponent& control, TqvrCOMAddInModule& module);

// The picture of an item of a list control; the image list is the one of the tab holding the
// control Office named by controlId (taken as it stands).
Microsoft::WRL::ComPtr<IUnknown> RibbonItemPicture(const IqvrRibbonComponent& item, const std::wstring& controlId,
                                                   TqvrCOMAddInModule& module);

// The Images list of the tab that holds the control registered under controlId (letter case
// ignored, no marker removed); nullptr when the id is not registered, names a tab, or the tab has
// no list.
TImageList* RibbonImageList(TqvrCOMAddInModule& module, const std::wstring& controlId);

// ---- the steps, each usable on its own ----

// The icon of a picture source: a glyph that is not empty (its bottom-left pixel's colour made
// transparent; the glyph itself is left as it is), else entry imageIndex of images. Empty when
// there is no list, the index is outside it, or the platform gives no icon. A failing image-list
// operation raises.
unique_hicon RibbonPictureIcon(const TqvrBitmap* glyph, int32_t imageIndex, const TImageList* images);

// An icon as the content of a one-image .ico file: the 22-byte header and directory entry, the
// colour bitmap at its own depth (header with doubled height, colour table up to 8 bits per
// pixel), the 1-bit mask.
std::vector<uint8_t> IconFileData(HICON icon);

// Entry `index` of an image list as the content of a one-image .ico file at 32 bits per pixel
// whatever the display (the list holds 32-bit pictures with alpha), read from the list's own
// bitmaps; on a display of 32 bits per pixel the same bytes as IconFileData gives for the list's
// icon of that entry. Empty when the index is outside the list.
std::vector<uint8_t> ImageListIcoData(const TImageList& list, int index);

// What Office gets for an icon: below kIcoStreamHostVersion an IPictureDisp of type icon that
// owns the handle (it is destroyed when Office releases the picture); from that version on an
// IStream over the icon's .ico data, positioned after its last byte (the icon is destroyed here).
Microsoft::WRL::ComPtr<IUnknown> IconAnswer(unique_hicon icon, int32_t hostMajorVersion);

// A new stream object owning a copy of `data`, positioned after its last byte.
Microsoft::WRL::ComPtr<IUnknown> IcoStream(const std::vector<uint8_t>& data);

}  // namespace qvr
