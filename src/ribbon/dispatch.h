// The ribbon callbacks: Office calls the names written into the markup through IDispatch on the
// connection object. Here are their fixed dispatch ids, the decoding of Office's arguments, the
// lookup from the control Office names to the ribbon component, and the answers.
#pragma once

#include "module/module.h"
#include "module/ribbon_host.h"
#include "ribbon/ribbon.h"

#include <oaidl.h>

#include <string>

namespace qvr {

// One ribbon callback: the name the markup gives Office and its dispatch id.
struct TqvrRibbonCallback {
    const wchar_t* name;
    DISPID id;
};
inline constexpr size_t kRibbonCallbackCount = 40;
// In table order; the ids are not contiguous.
extern const TqvrRibbonCallback kRibbonCallbacks[kRibbonCallbackCount];

// The dispatch id of a callback name (compared exactly, letter case included, as 8-bit text of
// at most 255 characters); DISPID_UNKNOWN when it names no callback.
DISPID RibbonCallbackId(const wchar_t* name);

// IDispatch::GetIDsOfNames of the connection object: the type library first, then the callback
// table for the first name (the others get DISPID_UNKNOWN).
HRESULT RibbonGetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids);

// IDispatch::Invoke of the connection object: the type library first, then the callback of the
// table. A callback that fails publishes its error and gives DISP_E_EXCEPTION with EXCEPINFO
// filled (source: errorSource; description: the error's message; scode: its HRESULT); an id
// outside the table gets the type library's answer.
HRESULT RibbonInvoke(const TqvrRibbonDispatchTarget& target, DISPID id, WORD flags, DISPPARAMS* params,
                     VARIANT* result, EXCEPINFO* excep, UINT* argErr);

// The component a control id names: with `unwrap` the first "wrapped" (the inner button of a
// split button) is removed, then a context-menu marker with up to four characters after it; the
// rest is looked up in the module's registry without regard to letter case. nullptr when there
// is none (or no module).
IqvrRibbonComponent* FindRibbonComponent(TqvrCOMAddInModule* module, std::wstring controlId, bool unwrap);

// Whether a control shows a picture: a glyph, else an image index, else a built-in image.
bool RibbonHasImage(const IqvrRibbonComponent& component);

}  // namespace qvr
