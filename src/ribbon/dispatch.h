// The ribbon callbacks: Office calls the names written into the markup through IDispatch on the
// connection object. Here are the connection object's IDispatch for them (their table is in
// ribbon/callbacks.h), the decoding of Office's arguments, the lookup from the control Office
// names to the ribbon component, and the answers.
#pragma once

#include "module/module.h"
#include "module/ribbon_host.h"
#include "ribbon/callbacks.h"
#include "ribbon/ribbon.h"

#include <oaidl.h>

#include <string>

namespace qvr {

// IDispatch::GetIDsOfNames of the connection object: the callback table for the first name (the
// others get DISPID_UNKNOWN), else the type library. No callback name is a member of the type
// library, so the order changes no answer; it spares Office's many lookups of callback names a
// search of the type library and of the interfaces it inherits (stdole2, loaded for it).
HRESULT RibbonGetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids);

// IDispatch::Invoke of the connection object: the callback of the table, else the type library
// (the table's ids are kept for the callbacks: an add-in's own members need others). A callback
// that fails publishes its error and gives DISP_E_EXCEPTION with EXCEPINFO filled (source:
// errorSource; description: the error's message; scode: its HRESULT).
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
