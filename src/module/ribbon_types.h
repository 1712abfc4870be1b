// The ribbon's value types: control type codes, the ribbon filter sets and their member names,
// the kinds of values Office asks for, the action record and the event types, the ordered XML
// attribute list and the module's component registry.
#pragma once

#include "com/component.h"
#include "com/formdata.h"
#include "com/handles.h"
#include "com/office.h"

#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr {

// The ordinal is the code used by TqvrRibbonControls::Add(AType), by GetControlType and in the
// stored "ControlTypes" list.
enum TqvrRibbonControlType : uint8_t {
    rctCommand = 0,
    rctTab,
    rctQAT,
    rctOfficeMenu,
    rctGroup,
    rctBox,
    rctButtonGroup,
    rctButton,
    rctSplitButton,
    rctLabel,
    rctCheckBox,
    rctEditBox,
    rctComboBox,
    rctDropDown,
    rctGallery,
    rctMenu,
    rctSeparator,
    rctMenuSeparator,
    rctDialogBoxLauncher,
    rctItem,
    rctContextMenu,
    rctBackstageView,
    rctBackstageTab,
    rctBackstageFastCommandButton,
    rctBackstageTaskFormGroup,
    rctBackstageTaskFormGroupCategory,
    rctBackstageTaskFormGroupTask,
    rctBackstageGroup,
    rctBackstageTaskGroup,
    rctBackstageTaskGroupCategory,
    rctBackstageTaskGroupTask,
    rctBackstagePrimaryMenu,
    rctBackstageSubMenu,
    rctBackstageMenuGroup,
    rctBackstageMenuButton,
    rctBackstageMenuCheckBox,
    rctBackstageMenuToggleButton,
    rctBackstageRegularButton,
    rctBackstageCheckBox,
    rctBackstageGroupButton,
    rctBackstageEditBox,
    rctBackstageComboBox,
    rctBackstageDropDown,
    rctBackstageRadioGroup,
    rctBackstageHyperlink,
    rctBackstageLabelControl,
    rctBackstageImageControl,
    rctBackstageGroupBox,
    rctBackstageLayoutContainer,
    rctBackstageItem,
};

// Ribbons of Office 2007 (bit i = member i, 24 members in 32 bits).
enum TqvrRibbon : uint8_t {
    msrAccessDatabase = 0,
    msrExcelWorkbook,
    msrPowerPointPresentation,
    msrWordDocument,
    msrOutlookMailRead,
    msrOutlookMailCompose,
    msrOutlookMeetingRequestRead,
    msrOutlookMeetingRequestSend,
    msrOutlookAppointment,
    msrOutlookContact,
    msrOutlookJournal,
    msrOutlookTask,
    msrOutlookDistributionList,
    msrOutlookReport,
    msrOutlookResend,
    msrOutlookResponseRead,
    msrOutlookResponseCompose,
    msrOutlookResponseCounterPropose,
    msrOutlookRSS,
    msrOutlookPostRead,
    msrOutlookPostCompose,
    msrOutlookSharingRead,
    msrOutlookSharingCompose,
    msrOutlookExplorer,
};
inline constexpr int kRibbonCount = 24;

// Ribbons added by Office 2010 (12 members in 16 bits). "Infor" is the stored spelling.
enum TqvrRibbon2010 : uint8_t {
    msrOutlookExplorer2010 = 0,
    msrOutlookSMSRead2010,
    msrOutlookSMSCompose2010,
    msrOutlookMMSRead2010,
    msrOutlookMMSCompose2010,
    msrInfoPathDesigner2010,
    msrInforPathFiller2010,
    msrInfoPathPrintPreview2010,
    msrPublisherPublication2010,
    msrProjectProject2010,
    msrVisioDrawing2010,
    msrOneNote,
};
inline constexpr int kRibbon2010Count = 12;

// A set over a small enumeration, kept in the bits of Bits.
template <typename E, typename Bits>
struct TqvrSmallSet {
    Bits bits = 0;
    constexpr TqvrSmallSet() = default;
    constexpr explicit TqvrSmallSet(Bits b) : bits(b) {}
    constexpr TqvrSmallSet(std::initializer_list<E> members) {
        for (E m : members) bits = static_cast<Bits>(bits | (Bits(1) << m));
    }
    constexpr bool Contains(E m) const { return (bits >> m) & 1u; }
    constexpr bool Empty() const { return bits == 0; }
    constexpr TqvrSmallSet With(E m) const { return TqvrSmallSet(static_cast<Bits>(bits | (Bits(1) << m))); }
    constexpr TqvrSmallSet Without(E m) const { return TqvrSmallSet(static_cast<Bits>(bits & ~(Bits(1) << m))); }
    constexpr TqvrSmallSet Union(TqvrSmallSet o) const { return TqvrSmallSet(static_cast<Bits>(bits | o.bits)); }
    constexpr bool operator==(const TqvrSmallSet&) const = default;
};
using TqvrRibbons = TqvrSmallSet<TqvrRibbon, uint32_t>;
using TqvrRibbons2010 = TqvrSmallSet<TqvrRibbon2010, uint16_t>;

struct RibbonMemberInfo {
    const wchar_t* name;      // the stored member name, "msrExcelWorkbook"
    const wchar_t* ribbonId;  // the id Office passes to GetCustomUI, "Microsoft.Excel.Workbook"
};
extern const RibbonMemberInfo kRibbonMembers[kRibbonCount];
extern const RibbonMemberInfo kRibbon2010Members[kRibbon2010Count];

// Stored sets: member names in bit order; reading skips names that are not members (letter
// case ignored). A stored value that is not a set raises "Invalid property value".
TqvrRibbons RibbonsFromNames(const std::vector<std::wstring>& names);
TqvrRibbons2010 Ribbons2010FromNames(const std::vector<std::wstring>& names);
TqvrRibbons RibbonsFromValue(const FormValue& value);
TqvrRibbons2010 Ribbons2010FromValue(const FormValue& value);
std::vector<std::wstring> RibbonsNames(TqvrRibbons set);
std::vector<std::wstring> Ribbons2010Names(TqvrRibbons2010 set);

// Equality without regard to letter case (names of stored properties and members, ids). Quick
// for ASCII, where the stored configuration's names live.
bool SameText(std::wstring_view a, std::wstring_view b);

// The ribbon filter test: does a component with these sets belong on the ribbon RibbonID?
bool MatchesRibbon(std::wstring_view RibbonID, TqvrRibbons Ribbons, TqvrRibbons2010 Ribbons2010);

// The filter a new component starts from before it inherits or is narrowed.
inline constexpr TqvrRibbons kDefaultRibbons{msrAccessDatabase,    msrExcelWorkbook,   msrPowerPointPresentation,
                                             msrWordDocument,      msrOutlookMailRead, msrOutlookMailCompose,
                                             msrOutlookExplorer};
inline constexpr TqvrRibbons2010 kDefaultRibbons2010{msrOutlookExplorer2010};

enum TqvrRibbonXControlSize : uint8_t { csRegular = 0, csLarge };
enum class TqvrRibbonXItemSize : uint8_t { Normal = 0, Large };
enum TqvrRibbonXBoxStyle : uint8_t { bsHorizontal = 0, bsVertical };
enum TqvrParseMsoXmlTypeAs : uint8_t { pxtDefault = 0, pxtControl };

// A key tip: at most 3 characters of the system's 8-bit code page.
using TqvrRibbonKeyTip = std::string;
inline constexpr size_t kMaxKeyTipLength = 3;
TqvrRibbonKeyTip KeyTipFromText(std::wstring_view text);
std::wstring KeyTipToText(const TqvrRibbonKeyTip& keyTip);

// The kind of value Office asks for (0 to 29).
enum TqvrRibbonControlPropertyType : uint8_t {
    rcptVisible = 0,
    rcptKeyTip,
    rcptCaption,
    rcptEnabled,
    rcptPressed,
    rcptGlyph,
    rcptScreenTip,
    rcptSuperTip,
    rcptShowCaption,
    rcptShowImage,
    rcptSize,
    rcptDescription,
    rcptText,
    rcptItemCount,
    rcptSelectedItemIndex,
    rcptSelectedItemID,
    rcptItemHeight,
    rcptItemWidth,
    rcptContent,
    rcptTitle,
    rcptItemID,
    rcptItemCaption,
    rcptItemScreenTip,
    rcptItemSuperTip,
    rcptItemGlyph,
    rcptShowItemImage,
    rcptTarget,
    rcptAltText,
    rcptHelperText,
    rcptGroupStyle,
};

// What a ribbon action hands to a component.
struct TqvrRibbonActionArguments {
    Microsoft::WRL::ComPtr<IRibbonControl> Control;
    bool Pressed = false;
    std::wstring SelectedID;
    int32_t SelectedIndex = 0;
    bool Cancel = false;
    std::wstring Text;
};

using TqvrRibbonOnClick = std::function<void(TObject* Sender, IRibbonControl* RibbonControl)>;
using TqvrRibbonOnChange = std::function<void(TObject* Sender, IRibbonControl* RibbonControl)>;
using TqvrRibbonPropertyChanging = std::function<void(TObject* Sender, TqvrRibbonControlPropertyType PropertyType,
                                                      unique_variant& Value, IDispatch* Context)>;
using TqvrRibbonItemPropertyChanging =
    std::function<void(TObject* Sender, TqvrRibbonControlPropertyType PropertyType, unique_variant& Value,
                       IDispatch* Context, int32_t Index)>;

// An ordered name=value list of XML attributes. Adding an empty value adds nothing and removes an
// earlier pair of that name; adding a name that is present replaces its value in place.
class TqvrXmlAttributes {
public:
    using Pair = std::pair<std::wstring, std::wstring>;
    void Add(std::wstring_view name, std::wstring_view value);
    const std::vector<Pair>& Pairs() const { return pairs_; }
    size_t Count() const { return pairs_.size(); }
    // The value of a name, empty when absent.
    std::wstring Value(std::wstring_view name) const;
    bool Has(std::wstring_view name) const;
    std::vector<std::wstring> Names() const;

private:
    std::vector<Pair> pairs_;
};

// The module's component registry: every tab and control in creation order under the text it
// is registered with. Unsorted; lookups ignore letter case; duplicates are allowed.
// Office names a control by its id in every callback, so IndexOf is answered from a hash index
// over the keys (folded as SameText folds them) rather than by a walk over the list: a callback
// for the last of many controls costs what one for the first does. The index follows Add,
// SetString and Clear as they happen; a Delete that is not of the last entry shifts the indexes
// after it, so it only marks the index stale, and the next lookup rebuilds it in one pass (a
// component tree being destroyed deletes many entries in a row and looks nothing up).
class TqvrRibbonControlList {
public:
    struct Entry {
        std::wstring key;
        TObject* object;
    };
    int Count() const { return static_cast<int>(entries_.size()); }
    const std::wstring& Strings(int index) const { return entries_.at(static_cast<size_t>(index)).key; }
    TObject* Objects(int index) const { return entries_.at(static_cast<size_t>(index)).object; }
    void Add(const std::wstring& key, TObject* object);
    void Delete(int index);
    // First entry whose key equals `key` without regard to letter case; -1 if none.
    int IndexOf(std::wstring_view key) const;
    // The entry of `object`, searched from the end (new components are near it); -1 if none.
    int IndexOfObject(const TObject* object) const;
    void SetString(int index, const std::wstring& key);
    void Clear();
    const std::vector<Entry>& Entries() const { return entries_; }

private:
    static constexpr int32_t kEmpty = -1;
    static constexpr int32_t kRemoved = -2;  // a slot whose entry left; lookups probe past it
    void IndexEntry(int32_t index) const;
    void UnindexEntry(int32_t index) const;
    void Reindex() const;

    std::vector<Entry> entries_;
    std::vector<uint32_t> hashes_;  // the folded hash of each entry's key, in step with entries_
    // Open addressing, linear probing, a power of two long: the number of an entry, or kEmpty or
    // kRemoved. Built on the first lookup; empty until then (a module that is never asked costs
    // nothing).
    mutable std::vector<int32_t> slots_;
    mutable size_t used_ = 0;  // slots that are not kEmpty
    mutable bool stale_ = true;
};

}  // namespace qvr
