#include "ribbon/pictures.h"

namespace qvr {

// The conversion of glyphs and image-list entries into icon pictures and ICO streams is not
// built yet: until it is, Office gets no picture and shows the control without one.

Microsoft::WRL::ComPtr<IUnknown> RibbonControlPicture(const IqvrRibbonComponent&, TqvrCOMAddInModule&) { return {}; }

Microsoft::WRL::ComPtr<IUnknown> RibbonItemPicture(const IqvrRibbonComponent&, const std::wstring&, TqvrCOMAddInModule&) {
    return {};
}

}  // namespace qvr
