// The module's view of the ribbon layer above it. The module keeps the lists of its tabs and
// controls, but only the ribbon layer knows what a tab or a control is: what the module, and the
// connection object beside it, need of them goes through this interface, which the ribbon layer
// implements (ribbon/host.h).
#pragma once

#include "com/component.h"

#include <oaidl.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qvr {

class TqvrCOMAddInModule;
class TqvrRibbonTab;

// The object that carries the ribbon callbacks, as the callback dispatch sees it.
struct TqvrRibbonDispatchTarget {
    TqvrCOMAddInModule* module;  // nullptr while the add-in is not connected
    IDispatch* self;             // the object, for its type library's own dispatch
    ITypeInfo* typeInfo;         // that type library's dispatch interface
    GUID errorIID;               // how failing callbacks publish their error information
    std::wstring_view errorSource;  // the class's ProgID, kept by the caller for the call
};

class IqvrRibbonHost {
public:
    // ---- the module's lists ----
    // The module is being destroyed: the tab stops touching the module's lists.
    virtual void DetachTab(TqvrRibbonTab& tab) const = 0;
    // The current Id of a registered tab or control; false for any other object.
    virtual bool ComponentId(TObject* object, std::wstring& id) const = 0;
    // The Tag of a registered tab or control; false for any other object.
    virtual bool ComponentTag(TObject* object, int32_t& tag) const = 0;

    // ---- what Office asks of the connection object ----
    // The customUI document for a ribbon id, built from the module's components.
    virtual std::wstring CustomUI(TqvrCOMAddInModule& module, const std::wstring& ribbonId) const = 0;
    // IDispatch::GetIDsOfNames and Invoke for the ribbon callbacks named in the markup.
    virtual HRESULT GetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids) const = 0;
    virtual HRESULT Invoke(const TqvrRibbonDispatchTarget& target, DISPID id, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excep, UINT* argErr) const = 0;

protected:
    ~IqvrRibbonHost() = default;
};

}  // namespace qvr
