// Just enough XML for the stand-in to read the markup an add-in hands to Office: elements and
// attributes, character and entity references, comments and an optional declaration. Anything
// that is not well formed is refused with a reason, as Office refuses such markup.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace officesim {

struct XmlElement {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;  // in document order, references resolved
    std::vector<XmlElement> children;

    // The value of an attribute; nullptr when the element has none of that name.
    const std::wstring* Attribute(std::wstring_view attributeName) const;
};

// The root element of a document; nullopt (and the reason in *error) when it is not well formed.
std::optional<XmlElement> ParseXml(std::wstring_view text, std::wstring* error = nullptr);

}  // namespace officesim
