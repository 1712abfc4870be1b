// The add-in's automation object: what Office hands out as the add-in's Object
// (Application.COMAddIns("<ProgID>").Object), so that a script, VBA or the health check can ask a
// running add-in how it is. Read-only: nothing in it changes the add-in's state.
#pragma once

#include <oaidl.h>

namespace qvr {

class TqvrAddin;

// The dual interface the add-in's type library declares with this IID and these members, in this
// order (dispatch ids 1 to 6).
struct IqvrAddInStatus;
// {3E8B6C14-7D25-4F9A-A1C3-5B0E92D7F468}
inline constexpr IID IID_IqvrAddInStatus = {0x3E8B6C14, 0x7D25, 0x4F9A, {0xA1, 0xC3, 0x5B, 0x0E, 0x92, 0xD7, 0xF4, 0x68}};
struct IqvrAddInStatus : public IDispatch {
    // The DLL's file version, "1.0.123.0".
    virtual HRESULT STDMETHODCALLTYPE get_Version(BSTR* value) = 0;
    // Whether the ribbon's load callback arrived (Office loaded the add-in's ribbon).
    virtual HRESULT STDMETHODCALLTYPE get_RibbonLoaded(VARIANT_BOOL* value) = 0;
    // The log level in force (0 off, 1 errors, 2 hand-offs, 3 verbose).
    virtual HRESULT STDMETHODCALLTYPE get_LogLevel(LONG* value) = 0;
    // The trace file's path.
    virtual HRESULT STDMETHODCALLTYPE get_TraceFile(BSTR* value) = 0;
    // The last error the add-in reported, shown to the user or returned to its caller; empty
    // when none.
    virtual HRESULT STDMETHODCALLTYPE get_LastErrorText(BSTR* value) = 0;
    // That error's HRESULT when it was returned; 0 for none, and for an error only shown.
    virtual HRESULT STDMETHODCALLTYPE get_LastErrorCode(LONG* value) = 0;
};

// A new status object of the connection object `addIn` (which it keeps while it lives), with one
// reference for the caller. Its type information is read from the type library at its first use.
IqvrAddInStatus* CreateAddInStatus(TqvrAddin& addIn);

}  // namespace qvr

// For __uuidof (ComPtr::As and friends).
__CRT_UUID_DECL(qvr::IqvrAddInStatus, 0x3E8B6C14, 0x7D25, 0x4F9A, 0xA1, 0xC3, 0x5B, 0x0E, 0x92, 0xD7, 0xF4, 0x68)
