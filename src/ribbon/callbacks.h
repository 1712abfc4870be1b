// The ribbon callbacks, defined once: the name the markup gives Office, the dispatch id Office
// calls it by, what kind of call it is and the handler that answers it. The markup writers take
// their names from this table and the connection object's IDispatch its ids and handlers, so a
// callback cannot be written into the markup under one name and answered under another.
#pragma once

#include "com/handles.h"

#include <oaidl.h>

namespace qvr {

class TqvrCOMAddInModule;
// Office's arguments of one call, in Office's order (ribbon/dispatch.cpp).
class TqvrCallbackArguments;

// The dispatch ids. They are fixed: Office resolves each name once per session and keeps the id.
enum TqvrRibbonCallbackId : DISPID {
    rcbRibbonLoaded = 10,
    rcbGetImages = 11,
    rcbGetVisible = 12,
    rcbGetKeyTip = 13,
    rcbGetLabel = 14,
    rcbGetEnabled = 15,
    rcbGetPressed = 16,
    rcbGetImage = 17,
    rcbGetSuperTip = 19,
    rcbGetScreenTip = 20,
    rcbGetSize = 21,
    rcbGetShowLabel = 22,
    rcbGetShowImage = 23,
    rcbGetDescription = 24,
    rcbGetText = 25,
    rcbGetItemCount = 26,
    rcbGetItemID = 27,
    rcbGetItemImage = 28,
    rcbGetItemLabel = 29,
    rcbGetItemScreenTip = 30,
    rcbGetItemSuperTip = 31,
    rcbGetShowItemImage = 32,
    rcbGetSelectedItemIndex = 33,
    rcbGetSelectedItemId = 34,
    rcbGetItemHeight = 35,
    rcbGetItemWidth = 36,
    rcbGetContent = 37,
    rcbGetTitle = 38,
    rcbOnActionCommon = 50,
    rcbOnActionCommonRepurposed = 51,
    rcbOnActionState = 52,
    rcbOnActionStateRepurposed = 53,
    rcbOnActionSelected = 54,
    rcbOnChange = 55,
    rcbOnBackstageShow = 60,
    rcbOnBackstageHide = 61,
    rcbGetTarget = 62,
    rcbGetAltText = 63,
    rcbGetHelperText = 64,
    rcbGetStyle = 65,
};

enum class TqvrRibbonCallbackKind {
    Event,       // Office tells the add-in something (the ribbon loaded, the Backstage view shown)
    Getter,      // Office asks for a value of a control or of an item of a list control
    Action,      // the user acted on a control
    Repurpose,   // the user used a built-in command the add-in may override: Office reads a cancel flag back
};

// Answers one call: the value Office asked for, or an empty value for the calls that give none.
// Throws on failure (the dispatcher turns the error into Office's exception information).
using TqvrRibbonCallbackHandler = unique_variant (*)(TqvrCOMAddInModule* module, DISPID id,
                                                     const TqvrCallbackArguments& args);

// The handlers, one per way of answering (ribbon/dispatch.cpp).
namespace ribbon_callbacks {
unique_variant RibbonLoaded(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&);
unique_variant Images(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&);
unique_variant Property(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&);
unique_variant Image(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&);
unique_variant ItemImage(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&);
unique_variant Act(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&);
unique_variant Repurpose(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&);
// No component of this framework takes part in the Backstage view: the call is accepted.
unique_variant Ignore(TqvrCOMAddInModule*, DISPID, const TqvrCallbackArguments&);
}  // namespace ribbon_callbacks

struct TqvrRibbonCallback {
    TqvrRibbonCallbackId id;
    const wchar_t* name;
    TqvrRibbonCallbackKind kind;
    UINT arguments;  // as Office passes them: the control, then an item index, a state, a cancel flag...
    TqvrRibbonCallbackHandler handler;
};

inline constexpr TqvrRibbonCallback kRibbonCallbacks[] = {
    {rcbRibbonLoaded, L"RibbonLoaded_Callback", TqvrRibbonCallbackKind::Event, 1, &ribbon_callbacks::RibbonLoaded},
    {rcbGetImages, L"GetImages_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Images},
    {rcbGetVisible, L"GetVisible_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetKeyTip, L"GetKeyTip_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetLabel, L"GetLabel_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetEnabled, L"GetEnabled_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetPressed, L"GetPressed_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetImage, L"GetImage_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Image},
    {rcbGetSuperTip, L"GetSuperTip_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetScreenTip, L"GetScreenTip_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetSize, L"GetSize_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetShowLabel, L"GetShowLabel_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetShowImage, L"GetShowImage_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetDescription, L"GetDescription_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetText, L"GetText_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetItemCount, L"GetItemCount_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetItemID, L"GetItemID_Callback", TqvrRibbonCallbackKind::Getter, 2, &ribbon_callbacks::Property},
    {rcbGetItemImage, L"GetItemImage_Callback", TqvrRibbonCallbackKind::Getter, 2, &ribbon_callbacks::ItemImage},
    {rcbGetItemLabel, L"GetItemLabel_Callback", TqvrRibbonCallbackKind::Getter, 2, &ribbon_callbacks::Property},
    {rcbGetItemScreenTip, L"GetItemScreenTip_Callback", TqvrRibbonCallbackKind::Getter, 2, &ribbon_callbacks::Property},
    {rcbGetItemSuperTip, L"GetItemSuperTip_Callback", TqvrRibbonCallbackKind::Getter, 2, &ribbon_callbacks::Property},
    {rcbGetShowItemImage, L"GetShowItemImage_Callback", TqvrRibbonCallbackKind::Getter, 2, &ribbon_callbacks::Property},
    {rcbGetSelectedItemIndex, L"GetSelectedItemIndex_Callback", TqvrRibbonCallbackKind::Getter, 1,
     &ribbon_callbacks::Property},
    {rcbGetSelectedItemId, L"GetSelectedItemId_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetItemHeight, L"GetItemHeight_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetItemWidth, L"GetItemWidth_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetContent, L"GetContent_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetTitle, L"GetTitle_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbOnActionCommon, L"OnActionCommon_Callback", TqvrRibbonCallbackKind::Action, 1, &ribbon_callbacks::Act},
    {rcbOnActionCommonRepurposed, L"OnActionCommonRepurposed_Callback", TqvrRibbonCallbackKind::Repurpose, 2,
     &ribbon_callbacks::Repurpose},
    {rcbOnActionState, L"OnActionState_Callback", TqvrRibbonCallbackKind::Action, 2, &ribbon_callbacks::Act},
    {rcbOnActionStateRepurposed, L"OnActionStateRepurposed_Callback", TqvrRibbonCallbackKind::Repurpose, 3,
     &ribbon_callbacks::Repurpose},
    {rcbOnActionSelected, L"OnActionSelected_Callback", TqvrRibbonCallbackKind::Action, 3, &ribbon_callbacks::Act},
    {rcbOnChange, L"OnChange_Callback", TqvrRibbonCallbackKind::Action, 2, &ribbon_callbacks::Act},
    {rcbOnBackstageShow, L"OnBackstageShow_Callback", TqvrRibbonCallbackKind::Event, 1, &ribbon_callbacks::Ignore},
    {rcbOnBackstageHide, L"OnBackstageHide_Callback", TqvrRibbonCallbackKind::Event, 1, &ribbon_callbacks::Ignore},
    {rcbGetTarget, L"GetTarget_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetAltText, L"GetAltText_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetHelperText, L"GetHelperText_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
    {rcbGetStyle, L"GetStyle_Callback", TqvrRibbonCallbackKind::Getter, 1, &ribbon_callbacks::Property},
};

// The table's row for a dispatch id; nullptr when the id names no callback.
constexpr const TqvrRibbonCallback* FindRibbonCallback(DISPID id) {
    for (const TqvrRibbonCallback& c : kRibbonCallbacks)
        if (c.id == id) return &c;
    return nullptr;
}

// The name the markup writes for a callback.
constexpr const wchar_t* RibbonCallbackName(TqvrRibbonCallbackId id) {
    const TqvrRibbonCallback* c = FindRibbonCallback(id);
    return c ? c->name : nullptr;
}

// The dispatch id of a callback name (compared exactly, letter case included, as 8-bit text of
// at most 255 characters); DISPID_UNKNOWN when it names no callback.
DISPID RibbonCallbackId(const wchar_t* name);

}  // namespace qvr
