// Late-bound calls: one helper that packs arguments the way IDispatch::Invoke expects them
// (last argument first) and turns failures into errors.
#pragma once

#include "com/handles.h"

#include <initializer_list>

namespace qvr {

// Calls member `id` of `target`; `args` are in declaration order. Returns the call's HRESULT.
HRESULT TryInvoke(IDispatch* target, DISPID id, WORD flags, LCID lcid, std::initializer_list<const VARIANT*> args,
                  unique_variant* result);

// The same, raising an OLE error carrying the failure code (and the callee's exception text,
// when it gave one) instead of returning it.
unique_variant Invoke(IDispatch* target, DISPID id, WORD flags, LCID lcid = LOCALE_USER_DEFAULT,
                      std::initializer_list<const VARIANT*> args = {});

// A property get by name (for members whose dispatch id is not fixed).
unique_variant GetPropertyByName(IDispatch* target, const wchar_t* name, LCID lcid = LOCALE_USER_DEFAULT);

}  // namespace qvr
