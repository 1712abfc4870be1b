#include "module/ribbon_types.h"

#include "com/error.h"

#include <algorithm>
#include <cwctype>
#include <stdexcept>

namespace qvr {

const RibbonMemberInfo kRibbonMembers[kRibbonCount] = {
    {L"msrAccessDatabase", L"Microsoft.Access.Database"},
    {L"msrExcelWorkbook", L"Microsoft.Excel.Workbook"},
    {L"msrPowerPointPresentation", L"Microsoft.PowerPoint.Presentation"},
    {L"msrWordDocument", L"Microsoft.Word.Document"},
    {L"msrOutlookMailRead", L"Microsoft.Outlook.Mail.Read"},
    {L"msrOutlookMailCompose", L"Microsoft.Outlook.Mail.Compose"},
    {L"msrOutlookMeetingRequestRead", L"Microsoft.Outlook.MeetingRequest.Read"},
    {L"msrOutlookMeetingRequestSend", L"Microsoft.Outlook.MeetingRequest.Send"},
    {L"msrOutlookAppointment", L"Microsoft.Outlook.Appointment"},
    {L"msrOutlookContact", L"Microsoft.Outlook.Contact"},
    {L"msrOutlookJournal", L"Microsoft.Outlook.Journal"},
    {L"msrOutlookTask", L"Microsoft.Outlook.Task"},
    {L"msrOutlookDistributionList", L"Microsoft.Outlook.DistributionList"},
    {L"msrOutlookReport", L"Microsoft.Outlook.Report"},
    {L"msrOutlookResend", L"Microsoft.Outlook.Resend"},
    {L"msrOutlookResponseRead", L"Microsoft.Outlook.Response.Read"},
    {L"msrOutlookResponseCompose", L"Microsoft.Outlook.Response.Compose"},
    {L"msrOutlookResponseCounterPropose", L"Microsoft.Outlook.Response.CounterPropose"},
    {L"msrOutlookRSS", L"Microsoft.Outlook.RSS"},
    {L"msrOutlookPostRead", L"Microsoft.Outlook.Post.Read"},
    {L"msrOutlookPostCompose", L"Microsoft.Outlook.Post.Compose"},
    {L"msrOutlookSharingRead", L"Microsoft.Outlook.Sharing.Read"},
    {L"msrOutlookSharingCompose", L"Microsoft.Outlook.Sharing.Compose"},
    {L"msrOutlookExplorer", L"Microsoft.Outlook.Explorer"},
};

const RibbonMemberInfo kRibbon2010Members[kRibbon2010Count] = {
    {L"msrOutlookExplorer2010", L"Microsoft.Outlook.Explorer"},
    {L"msrOutlookSMSRead2010", L"Microsoft.OMS.SMS.Read"},
    {L"msrOutlookSMSCompose2010", L"Microsoft.OMS.SMS.Compose"},
    {L"msrOutlookMMSRead2010", L"Microsoft.OMS.MMS.Read"},
    {L"msrOutlookMMSCompose2010", L"Microsoft.OMS.MMS.Compose"},
    {L"msrInfoPathDesigner2010", L"Microsoft.InfoPath.Designer"},
    {L"msrInforPathFiller2010", L"Microsoft.InfoPath.Editor"},
    {L"msrInfoPathPrintPreview2010", L"Microsoft.InfoPath.PrintPreview"},
    {L"msrPublisherPublication2010", L"Microsoft.Publisher.Publication"},
    {L"msrProjectProject2010", L"Microsoft.Project.Project"},
    {L"msrVisioDrawing2010", L"Microsoft.Visio.Drawing"},
    {L"msrOneNote", L"Microsoft.OneNote"},
};

bool SameText(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x == y) continue;
        if (x < 128 && y < 128) {
            if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 32);
            if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 32);
            if (x != y) return false;
        } else if (towlower(x) != towlower(y)) {
            return false;
        }
    }
    return true;
}

namespace {

template <typename Bits, size_t N>
Bits BitsFromNames(const std::vector<std::wstring>& names, const RibbonMemberInfo (&members)[N]) {
    Bits bits = 0;
    for (const auto& n : names)
        for (size_t i = 0; i < N; ++i)
            if (SameText(n, members[i].name)) bits = static_cast<Bits>(bits | (Bits(1) << i));
    return bits;
}

template <typename Bits, size_t N>
std::vector<std::wstring> NamesFromBits(Bits bits, const RibbonMemberInfo (&members)[N]) {
    std::vector<std::wstring> names;
    for (size_t i = 0; i < N; ++i)
        if ((bits >> i) & 1u) names.emplace_back(members[i].name);
    return names;
}

const std::vector<std::wstring>& SetMembers(const FormValue& value) {
    if (value.kind != FormValue::Kind::Set) throw EqvrError(L"Invalid property value");
    return value.members;
}

}  // namespace

TqvrRibbons RibbonsFromNames(const std::vector<std::wstring>& names) {
    return TqvrRibbons(BitsFromNames<uint32_t>(names, kRibbonMembers));
}
TqvrRibbons2010 Ribbons2010FromNames(const std::vector<std::wstring>& names) {
    return TqvrRibbons2010(BitsFromNames<uint16_t>(names, kRibbon2010Members));
}
TqvrRibbons RibbonsFromValue(const FormValue& value) { return RibbonsFromNames(SetMembers(value)); }
TqvrRibbons2010 Ribbons2010FromValue(const FormValue& value) { return Ribbons2010FromNames(SetMembers(value)); }
std::vector<std::wstring> RibbonsNames(TqvrRibbons set) { return NamesFromBits(set.bits, kRibbonMembers); }
std::vector<std::wstring> Ribbons2010Names(TqvrRibbons2010 set) { return NamesFromBits(set.bits, kRibbon2010Members); }

bool MatchesRibbon(std::wstring_view RibbonID, TqvrRibbons Ribbons, TqvrRibbons2010 Ribbons2010) {
    if (Ribbons.Empty() && Ribbons2010.Empty()) return false;
    if (RibbonID == L"DynamicMenu" || RibbonID == L"Microsoft.Mso.IMLayerUI") return true;
    for (int i = 0; i < kRibbonCount; ++i)
        if (Ribbons.Contains(static_cast<TqvrRibbon>(i)) && RibbonID == kRibbonMembers[i].ribbonId) return true;
    for (int i = 0; i < kRibbon2010Count; ++i) {
        if (!Ribbons2010.Contains(static_cast<TqvrRibbon2010>(i))) continue;
        if (RibbonID == kRibbon2010Members[i].ribbonId) return true;
        // The SMS and MMS forms also answer to the ribbon id of their whole family.
        if ((i == 1 || i == 2) && RibbonID == L"Microsoft.OMS.SMS") return true;
        if ((i == 3 || i == 4) && RibbonID == L"Microsoft.OMS.MMS") return true;
    }
    return false;
}

TqvrRibbonKeyTip KeyTipFromText(std::wstring_view text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    if (out.size() > kMaxKeyTipLength) out.resize(kMaxKeyTipLength);
    return out;
}

std::wstring KeyTipToText(const TqvrRibbonKeyTip& keyTip) {
    if (keyTip.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, keyTip.data(), static_cast<int>(keyTip.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, keyTip.data(), static_cast<int>(keyTip.size()), out.data(), n);
    return out;
}

void TqvrXmlAttributes::Add(std::wstring_view name, std::wstring_view value) {
    auto it = std::find_if(pairs_.begin(), pairs_.end(), [&](const Pair& p) { return p.first == name; });
    if (value.empty()) {
        if (it != pairs_.end()) pairs_.erase(it);
        return;
    }
    if (it != pairs_.end())
        it->second = value;
    else
        pairs_.emplace_back(name, value);
}

std::wstring TqvrXmlAttributes::Value(std::wstring_view name) const {
    for (const auto& p : pairs_)
        if (p.first == name) return p.second;
    return {};
}

bool TqvrXmlAttributes::Has(std::wstring_view name) const {
    return std::any_of(pairs_.begin(), pairs_.end(), [&](const Pair& p) { return p.first == name; });
}

std::vector<std::wstring> TqvrXmlAttributes::Names() const {
    std::vector<std::wstring> names;
    for (const auto& p : pairs_) names.push_back(p.first);
    return names;
}

namespace {

// The hash of a key as SameText compares it: ASCII letters folded directly, the rest by towlower.
// FNV-1a over the folded characters.
uint32_t FoldedHash(std::wstring_view key) {
    uint32_t h = 2166136261u;
    for (wchar_t c : key) {
        if (c < 128) {
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
        } else {
            c = static_cast<wchar_t>(towlower(c));
        }
        h = (h ^ static_cast<uint32_t>(c)) * 16777619u;
    }
    return h;
}

}  // namespace

void TqvrRibbonControlList::Add(const std::wstring& key, TObject* object) {
    entries_.push_back({key, object});
    hashes_.push_back(FoldedHash(key));
    if (!stale_) IndexEntry(static_cast<int32_t>(entries_.size() - 1));
}

void TqvrRibbonControlList::Delete(int index) {
    const size_t at = static_cast<size_t>(index);
    if (at >= entries_.size()) throw EqvrError(L"TqvrRibbonControlList::Delete");
    const bool last = at + 1 == entries_.size();
    if (!stale_) {
        if (last)
            UnindexEntry(index);
        else
            stale_ = true;  // every later entry moves down by one
    }
    entries_.erase(entries_.begin() + index);
    hashes_.erase(hashes_.begin() + index);
}

void TqvrRibbonControlList::SetString(int index, const std::wstring& key) {
    Entry& e = entries_.at(static_cast<size_t>(index));
    if (!stale_) UnindexEntry(index);
    e.key = key;
    hashes_[static_cast<size_t>(index)] = FoldedHash(key);
    if (!stale_) IndexEntry(index);
}

void TqvrRibbonControlList::Clear() {
    entries_.clear();
    hashes_.clear();
    slots_.clear();
    used_ = 0;
    stale_ = true;
}

int TqvrRibbonControlList::IndexOf(std::wstring_view key) const {
    if (entries_.empty()) return -1;
    if (stale_) Reindex();
    const uint32_t h = FoldedHash(key);
    const size_t mask = slots_.size() - 1;
    // Duplicates may sit anywhere along the probe run: the first entry is the lowest number seen.
    int32_t found = -1;
    for (size_t s = h & mask; slots_[s] != kEmpty; s = (s + 1) & mask) {
        const int32_t i = slots_[s];
        if (i >= 0 && hashes_[static_cast<size_t>(i)] == h && (found < 0 || i < found) &&
            SameText(entries_[static_cast<size_t>(i)].key, key))
            found = i;
    }
    return found;
}

int TqvrRibbonControlList::IndexOfObject(const TObject* object) const {
    for (size_t i = entries_.size(); i-- > 0;)
        if (entries_[i].object == object) return static_cast<int>(i);
    return -1;
}

void TqvrRibbonControlList::IndexEntry(int32_t index) const {
    // At most half the slots in use (removed ones included), so that probe runs stay short and
    // one slot is always empty.
    if ((used_ + 1) * 2 > slots_.size()) {
        Reindex();  // takes in every entry, this one too
        return;
    }
    const size_t mask = slots_.size() - 1;
    size_t s = hashes_[static_cast<size_t>(index)] & mask;
    while (slots_[s] >= 0) s = (s + 1) & mask;
    if (slots_[s] == kEmpty) ++used_;
    slots_[s] = index;
}

void TqvrRibbonControlList::UnindexEntry(int32_t index) const {
    if (slots_.empty()) return;
    const size_t mask = slots_.size() - 1;
    for (size_t s = hashes_[static_cast<size_t>(index)] & mask; slots_[s] != kEmpty; s = (s + 1) & mask)
        if (slots_[s] == index) {
            slots_[s] = kRemoved;
            return;
        }
}

void TqvrRibbonControlList::Reindex() const {
    size_t size = 16;
    while (size < entries_.size() * 4) size *= 2;  // a quarter full: room to grow before the next rebuild
    slots_.assign(size, kEmpty);
    used_ = 0;
    stale_ = false;
    const size_t mask = size - 1;
    for (size_t i = 0; i < entries_.size(); ++i) {
        size_t s = hashes_[i] & mask;
        while (slots_[s] != kEmpty) s = (s + 1) & mask;
        slots_[s] = static_cast<int32_t>(i);
        ++used_;
    }
}

}  // namespace qvr
