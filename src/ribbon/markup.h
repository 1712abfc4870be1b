// The custom UI markup Office asks for: the text builder of a document, the writer that turns
// the module's ribbon components into a customUI document for one ribbon id, and the content of
// dynamic menus, which Office asks for later through a callback.
#pragma once

#include "module/module.h"
#include "ribbon/ribbon.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qvr {

class TqvrRibbonMenu;

// The two custom UI schemas Office publishes: Office 2007's and the one of Office 2010 and later.
inline constexpr const wchar_t* kCustomUINamespace2006 = L"http://schemas.microsoft.com/office/2006/01/customui";
inline constexpr const wchar_t* kCustomUINamespace2009 = L"http://schemas.microsoft.com/office/2009/07/customui";

// The text of one document. Lines are joined by CR LF, each level of depth is one TAB, there is
// no XML declaration and no line break after the last tag. Attributes go into the start tag
// written just before them.
class TqvrXMLHelper {
public:
    TqvrXMLHelper() = default;

    // Line break, indentation, "<AName>"; one level deeper afterwards.
    void WriteStartElement(std::wstring_view AName);
    // ` AName="AValue"` inside the start tag written last.
    void WriteAttributeString(std::wstring_view AName, std::wstring_view AValue);
    // The same for every pair of the list, in list order.
    void WriteAttributeString(const TqvrXmlAttributes& AValue);
    // A complete empty element, `<AName a="v" />`, at the current depth.
    void WriteElementWithAttributeString(std::wstring_view AName, const TqvrXmlAttributes& AValue);
    // One level up, line break, indentation, "</AName>".
    void WriteEndElement(std::wstring_view AName);

    const std::wstring& Text() const { return FText; }
    std::wstring TakeText() { return std::move(FText); }

private:
    void AppendIndentedTag(std::wstring_view open, std::wstring_view name);
    void AppendAttribute(std::wstring_view name, std::wstring_view value);

    std::wstring FNewLine;
    int32_t FIndent = 0;
    std::wstring FText;
};

// An attribute value as XML must hold it: the markup characters become entity references, the
// line break and tab characters character references (so that they survive attribute
// normalisation), and characters XML 1.0 cannot carry at all are left out.
std::wstring EscapeXmlAttribute(std::wstring_view value);

// Writes components into a document for one ribbon id. Shared by the whole-ribbon document and
// the content of dynamic menus.
class TqvrRibbonMarkupWriter {
public:
    TqvrRibbonMarkupWriter(TqvrCOMAddInModule& module, TqvrXMLHelper& xml) : module_(module), xml_(xml) {}

    // Writes Component and, recursively, its children; nothing when it does not belong on
    // RibbonID.
    void WriteControl(IqvrRibbonComponent& Component, int32_t ContextIndex, std::wstring_view RibbonID);

private:
    TqvrCOMAddInModule& module_;
    TqvrXMLHelper& xml_;
};

// The customUI document for RibbonID, built from the module's components. On the way it records
// the host kind and version, prunes the component registry to what belongs on that ribbon and
// chooses the custom UI namespace (all kept in the module). Errors of the module's ribbon event
// handlers go to its error report; any other error leaves the call.
void GetCustomUI(TqvrCOMAddInModule& module, const std::wstring& RibbonID, std::wstring& Xml);

// The content of a dynamic menu: a "menu" document with the menu's children, after the menu's
// OnCreate has run.
std::wstring GetContent(TqvrRibbonMenu& menu);

// The program id the "default" namespace prefix is bound to: the one of the module's class
// factory (the first factory of the server while the module is not connected).
std::wstring AddInProgID(const TqvrCOMAddInModule& module);

}  // namespace qvr
