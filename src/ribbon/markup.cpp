#include "ribbon/markup.h"

#include "ribbon/controls.h"

#include <algorithm>
#include <cwctype>
#include <functional>
#include <vector>

namespace qvr {

// ---- text builder ----

namespace {

constexpr wchar_t kCRLF[] = L"\r\n";

bool IsXmlChar(wchar_t c) {
    // XML 1.0 allows TAB, LF, CR and everything from the space on, except the two
    // non-characters at the end of the basic plane. Surrogates come in pairs and are kept.
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c != 0xFFFE && c != 0xFFFF);
}

}  // namespace

std::wstring EscapeXmlAttribute(std::wstring_view value) {
    std::wstring out;
    out.reserve(value.size());
    for (wchar_t c : value) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'"': out += L"&quot;"; break;
            case L'\t': out += L"&#9;"; break;
            case L'\n': out += L"&#10;"; break;
            case L'\r': out += L"&#13;"; break;
            default:
                if (IsXmlChar(c)) out += c;
        }
    }
    return out;
}

void TqvrXMLHelper::AppendIndentedTag(std::wstring_view open, std::wstring_view name) {
    FText += FNewLine;
    FText.append(static_cast<size_t>(std::max(FIndent, 0)), L'\t');
    FText += open;
    FText += name;
}

void TqvrXMLHelper::AppendAttribute(std::wstring_view name, std::wstring_view value) {
    FText += L' ';
    FText += name;
    FText += L"=\"";
    FText += EscapeXmlAttribute(value);
    FText += L'"';
}

void TqvrXMLHelper::WriteStartElement(std::wstring_view AName) {
    AppendIndentedTag(L"<", AName);
    FText += L'>';
    FNewLine = kCRLF;
    ++FIndent;
}

void TqvrXMLHelper::WriteAttributeString(std::wstring_view AName, std::wstring_view AValue) {
    // The attribute goes in front of the last character, the ">" of the start tag written just
    // before. Taking that character off and putting it back keeps every insertion at the end of
    // the text, so a document is built in time linear in its length.
    if (FText.empty()) {
        AppendAttribute(AName, AValue);
        return;
    }
    wchar_t last = FText.back();
    FText.pop_back();
    AppendAttribute(AName, AValue);
    FText += last;
}

void TqvrXMLHelper::WriteAttributeString(const TqvrXmlAttributes& AValue) {
    if (AValue.Count() == 0) return;
    if (FText.empty()) {
        for (const auto& [name, value] : AValue.Pairs()) AppendAttribute(name, value);
        return;
    }
    wchar_t last = FText.back();
    FText.pop_back();
    for (const auto& [name, value] : AValue.Pairs()) AppendAttribute(name, value);
    FText += last;
}

void TqvrXMLHelper::WriteElementWithAttributeString(std::wstring_view AName, const TqvrXmlAttributes& AValue) {
    AppendIndentedTag(L"<", AName);
    for (const auto& [name, value] : AValue.Pairs()) AppendAttribute(name, value);
    FText += L" />";
}

void TqvrXMLHelper::WriteEndElement(std::wstring_view AName) {
    --FIndent;
    AppendIndentedTag(L"</", AName);
    FText += L'>';
}

// ---- shared helpers ----

namespace {

bool Matches(std::wstring_view ribbonId, const IqvrRibbonComponent& c) {
    return MatchesRibbon(ribbonId, c.Ribbons(), c.Ribbons2010());
}

bool DirectlyInButtonGroup(const TqvrRibbonCustomControl& control) {
    const IqvrRibbonComponent* container = control.ContainerComponent();
    return container && container->GetControlType() == rctButtonGroup;
}

// The root attributes shared by the customUI document and dynamic menu content: the custom UI
// namespace and, when the add-in shares ids with others, the two prefixes of its ids.
void WriteNamespaces(TqvrXMLHelper& xml, const TqvrCOMAddInModule& module) {
    xml.WriteAttributeString(L"xmlns", module.OfficeXMLNS());
    if (!module.Namespace.empty()) {
        xml.WriteAttributeString(L"xmlns:default", AddInProgID(module));
        xml.WriteAttributeString(L"xmlns:shared", module.Namespace);
    }
}

// The name of the process's executable file, in lower case.
std::wstring ExecutableName() {
    wchar_t path[262] = {};
    GetModuleFileNameW(nullptr, path, 262);
    std::wstring name = path;
    if (size_t slash = name.find_last_of(L"\\/:"); slash != std::wstring::npos) name.erase(0, slash + 1);
    std::transform(name.begin(), name.end(), name.begin(), towlower);
    return name;
}

// The host kind named by a ribbon id, in the order the hosts are tried; false for an id that
// names none of them.
bool HostTypeFromRibbonId(std::wstring_view ribbonId, TqvrOfficeHostApp& host) {
    struct Marker {
        const wchar_t* text;
        TqvrOfficeHostApp host;
    };
    static constexpr Marker kMarkers[] = {
        {L"Microsoft.Access.", ohaAccess},       {L"Microsoft.Excel.", ohaExcel},
        {L"Microsoft.PowerPoint.", ohaPowerPoint}, {L"Microsoft.Word.", ohaWord},
        {L"Microsoft.InfoPath.", ohaInfoPath},   {L"Microsoft.Publisher.", ohaPublisher},
        {L"Microsoft.Project.", ohaProject},     {L"Microsoft.Visio.", ohaVisio},
        {L"Microsoft.Outlook.", ohaOutlook},     {L"Microsoft.OMS.MMS", ohaOutlook},
        {L"Microsoft.OMS.SMS", ohaOutlook},
    };
    for (const Marker& m : kMarkers)
        if (ribbonId.find(m.text) != std::wstring_view::npos) {
            host = m.host;
            return true;
        }
    return false;
}

// Drops from the registry what does not belong on the ribbon. For Outlook everything that
// targets any Outlook ribbon stays, so that the later calls for other Outlook windows still find
// their controls. The list is rebuilt in one pass rather than erased entry by entry.
void PruneRegistry(TqvrCOMAddInModule& module, std::wstring_view ribbonId) {
    constexpr uint32_t kOutlookRibbons = 0x00FFFFF0u;     // msrOutlookMailRead .. msrOutlookExplorer
    constexpr uint16_t kOutlookRibbons2010 = 0x001Fu;     // msrOutlookExplorer2010 .. MMS compose
    const bool outlook = module.HostType() == ohaOutlook;
    TqvrRibbonControlList& registry = module.RibbonControls();
    std::vector<TqvrRibbonControlList::Entry> kept;
    kept.reserve(static_cast<size_t>(registry.Count()));
    for (const auto& e : registry.Entries()) {
        const IqvrRibbonComponent* c = AsRibbonComponent(e.object);
        TqvrRibbons ribbons = c ? c->Ribbons() : TqvrRibbons();
        TqvrRibbons2010 ribbons2010 = c ? c->Ribbons2010() : TqvrRibbons2010();
        bool keep = outlook ? ((ribbons.bits & kOutlookRibbons) != 0 || (ribbons2010.bits & kOutlookRibbons2010) != 0)
                            : MatchesRibbon(ribbonId, ribbons, ribbons2010);
        if (keep) kept.push_back(e);
    }
    if (kept.size() == registry.Entries().size()) return;
    registry.Clear();
    for (auto& e : kept) registry.Add(e.key, e.object);
}

// Office 2010 and later read both namespaces; the 2009 one is needed only for what Office 2007's
// schema lacks: separators in button groups and group scaling.
bool NeedsNamespace2009(TqvrCOMAddInModule& module, std::wstring_view ribbonId) {
    for (const auto& e : module.RibbonControls().Entries()) {
        if (auto* separator = dynamic_cast<TqvrRibbonSeparator*>(e.object)) {
            if (Matches(ribbonId, *separator) && DirectlyInButtonGroup(*separator)) return true;
        } else if (auto* group = dynamic_cast<TqvrRibbonGroup*>(e.object)) {
            if (Matches(ribbonId, *group) && (group->AutoScale() || group->CenterVertically())) return true;
        }
    }
    return false;
}

std::wstring Lower(std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), towlower);
    return s;
}

}  // namespace

std::wstring AddInProgID(const TqvrCOMAddInModule& module) {
    if (IqvrAddInClass* addInClass = module.AddInClass()) return addInClass->ProgID();
    if (IqvrAddInClass* first = FirstServerClass()) return first->ProgID();
    return {};
}

// ---- WriteControl ----

void TqvrRibbonMarkupWriter::WriteControl(IqvrRibbonComponent& Component, int32_t ContextIndex,
                                          std::wstring_view RibbonID) {
    if (!Matches(RibbonID, Component)) return;
    const std::wstring name = Component.GetElementName();
    // A control standing for a type code without a class of its own has no element: writing
    // one would make the whole document unreadable.
    if (name.empty()) return;
    const TqvrXmlAttributes attributes = Component.GetXmlAttributes(ContextIndex);
    TqvrRibbonControls* children = Component.GetControls();
    // The writer reaches the menu, split button and separator through the component itself
    // (that is what a lookup of its own id finds), so duplicate or empty ids change nothing.
    auto* control = dynamic_cast<TqvrRibbonCustomControl*>(&Component);

    if (children) {
        if (name == L"menu" && Component.GetControlType() == rctMenu)
            if (auto* menu = control ? control->AsRibbonMenu() : nullptr) menu->DoCreate();
        // A dynamic menu gets its content through a callback; a built-in control written as
        // "control" has no content in the schema.
        if (children->Count() == 0 || name == L"dynamicMenu" || name == L"control") {
            xml_.WriteElementWithAttributeString(name, attributes);
            return;
        }
        xml_.WriteStartElement(name);
        xml_.WriteAttributeString(attributes);
        if (name == L"splitButton" && Component.IdMso().empty())
            if (auto* split = control ? control->AsRibbonSplitButton() : nullptr)
                xml_.WriteElementWithAttributeString(split->GetWrappedButtonElementName(),
                                                     split->GetWrappedButtonXmlAttributes(ContextIndex));
        for (TCollectionItem* child : children->Items())
            WriteControl(*static_cast<TqvrRibbonCustomControl*>(child), ContextIndex, RibbonID);
        xml_.WriteEndElement(name);
        return;
    }

    if (name == L"dialogBoxLauncher") {
        xml_.WriteStartElement(name);
        xml_.WriteElementWithAttributeString(L"button", attributes);
        xml_.WriteEndElement(name);
        return;
    }
    // Neither of Office's custom UI schemas has separators in button groups (the 2009 one no more
    // than Office 2007's), and Office refuses a whole document that breaks its schema: such a
    // separator is left out whatever the namespace.
    if (name == L"separator" && control && DirectlyInButtonGroup(*control)) return;
    xml_.WriteElementWithAttributeString(name, attributes);
}

// ---- GetCustomUI ----

void GetCustomUI(TqvrCOMAddInModule& module, const std::wstring& RibbonID, std::wstring& Xml) {
    Xml.clear();

    // 1. The host's version, from the executable (14 in the COM surrogate, where OneNote keeps
    //    what it found itself).
    if (!(ExecutableName() == L"dllhost.exe" && module.HostType() == ohaOneNote))
        module.ReadHostMajorVersionFromExecutable();
    // 2. The host kind, from the ribbon id.
    if (TqvrOfficeHostApp host; HostTypeFromRibbonId(RibbonID, host)) module.SetHostType(host);
    // 3.
    module.SetIsRibbon(true);
    module.Fire(module.OnRibbonBeforeCreate, static_cast<TObject*>(&module), RibbonID);
    // 4.
    PruneRegistry(module, RibbonID);

    // 5.-7. The root with its namespace and the two document-wide callbacks.
    TqvrXMLHelper xml;
    TqvrRibbonMarkupWriter writer(module, xml);
    xml.WriteStartElement(L"customUI");
    const int32_t version = module.HostMajorVersion();
    if (version == 12)
        module.SetOfficeXMLNS(kCustomUINamespace2006);
    else if (version >= 14)
        module.SetOfficeXMLNS(NeedsNamespace2009(module, RibbonID) ? kCustomUINamespace2009 : kCustomUINamespace2006);
    WriteNamespaces(xml, module);
    xml.WriteAttributeString(L"onLoad", RibbonCallbackName(rcbRibbonLoaded));
    xml.WriteAttributeString(L"loadImage", RibbonCallbackName(rcbGetImages));

    // 8. Start from scratch: the ribbon opens now, whatever follows.
    const bool fromScratch = (module.StartFromScratch() != 0 || module.StartFromScratch2010() != 0) &&
                             MatchesRibbon(RibbonID, TqvrRibbons(module.StartFromScratch()),
                                           TqvrRibbons2010(module.StartFromScratch2010()));
    bool ribbonOpen = false;
    auto openRibbon = [&] {
        if (ribbonOpen) return;
        xml.WriteStartElement(L"ribbon");
        if (fromScratch) xml.WriteAttributeString(L"startFromScratch", L"true");
        ribbonOpen = true;
    };
    if (fromScratch) openRibbon();

    // 9. Tabs.
    if (!module.Tabs().empty()) {
        openRibbon();
        bool tabsOpen = false;
        for (TqvrRibbonTab* tab : module.Tabs()) {
            if (!tabsOpen && Matches(RibbonID, *tab)) {
                xml.WriteStartElement(L"tabs");
                tabsOpen = true;
            }
            writer.WriteControl(*tab, 0, RibbonID);
        }
        if (tabsOpen) xml.WriteEndElement(L"tabs");
    }

    // 10. Contextual tabs, grouped by their tab set; Office 2013 and later, and Outlook's
    //     compose tools before that.
    const std::vector<TqvrRibbonTab*>& contextTabs = module.ContextTabs();
    if (!contextTabs.empty()) {
        openRibbon();
        std::vector<const TqvrRibbonTab*> written;
        auto isWritten = [&](const TqvrRibbonTab* t) {
            return std::find(written.begin(), written.end(), t) != written.end();
        };
        bool contextualOpen = false;
        for (size_t i = 0; i < contextTabs.size(); ++i) {
            TqvrRibbonTab* tab = contextTabs[i];
            const std::wstring context = tab->Context();
            if (!(Lower(context) == L"outlook.tabcomposetools" || version >= 15)) continue;
            if (!contextualOpen && Matches(RibbonID, *tab)) {
                xml.WriteStartElement(L"contextualTabs");
                contextualOpen = true;
            }
            if (!contextualOpen || isWritten(tab)) continue;
            xml.WriteStartElement(L"tabSet");
            size_t dot = context.find(L'.');
            xml.WriteAttributeString(L"idMso", dot == std::wstring::npos ? context : context.substr(dot + 1));
            writer.WriteControl(*tab, 0, RibbonID);
            for (size_t j = i + 1; j < contextTabs.size(); ++j) {
                TqvrRibbonTab* other = contextTabs[j];
                if (other->Context() == context && !isWritten(other)) {
                    writer.WriteControl(*other, 0, RibbonID);
                    written.push_back(other);
                }
            }
            written.push_back(tab);
            xml.WriteEndElement(L"tabSet");
        }
        if (contextualOpen) xml.WriteEndElement(L"contextualTabs");
    }

    // 11.
    if (ribbonOpen) xml.WriteEndElement(L"ribbon");
    xml.WriteEndElement(L"customUI");

    // 12. The add-in may still change the document; a handler that fails changes nothing.
    Xml = xml.TakeText();
    if (module.OnRibbonBeforeLoad) {
        std::wstring edited = Xml;
        bool completed = false;
        std::function<void(TObject*)> run = [&](TObject* sender) {
            module.OnRibbonBeforeLoad(sender, RibbonID, edited);
            completed = true;
        };
        module.Fire(run, static_cast<TObject*>(&module));
        if (completed) Xml = std::move(edited);
    }
}

// ---- dynamic menu content ----

std::wstring GetContent(TqvrRibbonMenu& menu) {
    menu.DoCreate();
    TqvrCOMAddInModule* module = menu.Module();
    TqvrXMLHelper xml;
    xml.WriteStartElement(L"menu");
    if (module) WriteNamespaces(xml, *module);
    else xml.WriteAttributeString(L"xmlns", L"");
    if (menu.ItemSize() == TqvrRibbonXItemSize::Large) xml.WriteAttributeString(L"itemSize", L"large");
    if (module) {
        TqvrRibbonMarkupWriter writer(*module, xml);
        for (TCollectionItem* child : menu.Controls().Items())
            writer.WriteControl(*static_cast<TqvrRibbonCustomControl*>(child), 0, L"DynamicMenu");
    }
    xml.WriteEndElement(L"menu");
    return xml.TakeText();
}

}  // namespace qvr
