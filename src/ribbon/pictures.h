// Pictures of ribbon controls as Office takes them from the image callbacks.
#pragma once

#include "module/module.h"
#include "ribbon/ribbon.h"

#include <wrl/client.h>

#include <string>

namespace qvr {

// The picture of a control (its glyph, else its ImageIndex in its tab's image list); none when
// it has no picture.
Microsoft::WRL::ComPtr<IUnknown> RibbonControlPicture(const IqvrRibbonComponent& control, TqvrCOMAddInModule& module);

// The picture of an item of a list control; the image list is the one of the tab holding the
// control Office named by controlId (taken as it stands).
Microsoft::WRL::ComPtr<IUnknown> RibbonItemPicture(const IqvrRibbonComponent& item, const std::wstring& controlId,
                                                   TqvrCOMAddInModule& module);

}  // namespace qvr
