// Late-bound calls: one helper that packs arguments the way IDispatch::Invoke expects them
// (last argument first) and turns failures into errors.
#pragma once

#include "com/handles.h"

#include <initializer_list>
#include <string>

namespace qvr {

// What a callee that raised an exception (DISP_E_EXCEPTION) said about it: Excel's own
// explanation of a failure, which the bare code does not give the user.
struct TDispatchException {
    std::wstring source;
    std::wstring description;
};

// Calls member `id` of `target`; `args` are in declaration order. Returns the call's HRESULT: for
// an exception the callee raised, the exception's own code. Its source and description go to
// `exception` when given (emptied first).
HRESULT TryInvoke(IDispatch* target, DISPID id, WORD flags, LCID lcid, std::initializer_list<const VARIANT*> args,
                  unique_variant* result, TDispatchException* exception = nullptr);

// The text of a failed call: the callee's description with its source and the code, or the
// system's message for the code when the callee gave no description.
std::wstring DispatchFailureText(HRESULT hr, const TDispatchException& exception);

// The same as TryInvoke, raising an OLE error carrying the failure code and the callee's
// exception text (DispatchFailureText) instead of returning it.
unique_variant Invoke(IDispatch* target, DISPID id, WORD flags, LCID lcid = LOCALE_USER_DEFAULT,
                      std::initializer_list<const VARIANT*> args = {});

// Invoke for a member named by name (for members whose dispatch id is not fixed).
unique_variant InvokeByName(IDispatch* target, const wchar_t* name, WORD flags, LCID lcid = LOCALE_USER_DEFAULT,
                            std::initializer_list<const VARIANT*> args = {});

// A property get by name.
unique_variant GetPropertyByName(IDispatch* target, const wchar_t* name, LCID lcid = LOCALE_USER_DEFAULT);

// The same, returning the failure instead of raising it: for a property a host may well lack,
// where the missing member is an answer rather than an error.
HRESULT TryGetPropertyByName(IDispatch* target, const wchar_t* name, unique_variant& result,
                             LCID lcid = LOCALE_USER_DEFAULT);

// A copy of `value` (a by-reference value read through) converted to `type`; raises when it
// cannot be converted.
unique_variant ConvertedVariant(const VARIANT& value, VARTYPE type);

}  // namespace qvr
