// QueryInterface written once, as WIL's query and try_query: a typed ComPtr back, the interface's
// own IID by default, and either a raised error or an empty pointer when the object does not
// answer.
#pragma once

#include "com/error.h"

#include <unknwn.h>
#include <wrl/client.h>

namespace qvr {

// The interface, or an empty pointer when object is null or does not answer iid.
template <typename I>
Microsoft::WRL::ComPtr<I> TryQuery(IUnknown* object, REFIID iid = __uuidof(I)) noexcept {
    Microsoft::WRL::ComPtr<I> result;
    if (object && FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(result.GetAddressOf())))) result.Reset();
    return result;
}

// The interface; raises QueryInterface's failure as an OLE error (E_POINTER for a null object).
template <typename I>
Microsoft::WRL::ComPtr<I> Query(IUnknown* object, REFIID iid = __uuidof(I)) {
    if (!object) ThrowIfFailed(E_POINTER);
    Microsoft::WRL::ComPtr<I> result;
    ThrowIfFailed(object->QueryInterface(iid, reinterpret_cast<void**>(result.GetAddressOf())));
    if (!result) ThrowIfFailed(E_NOINTERFACE);
    return result;
}

}  // namespace qvr
