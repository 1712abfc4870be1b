#include "ribbon/ribbon_types.h"

#include "com/error.h"

#include <algorithm>
#include <cwctype>

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

void TqvrXmlAttributes::Add(const std::wstring& name, const std::wstring& value) {
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

void TqvrRibbonControlList::Delete(int index) {
    entries_.erase(entries_.begin() + index);
}

int TqvrRibbonControlList::IndexOf(std::wstring_view key) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (SameText(entries_[i].key, key)) return static_cast<int>(i);
    return -1;
}

int TqvrRibbonControlList::IndexOfObject(const TObject* object) const {
    for (size_t i = entries_.size(); i-- > 0;)
        if (entries_[i].object == object) return static_cast<int>(i);
    return -1;
}

}  // namespace qvr
