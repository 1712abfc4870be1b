// The stored configuration of a module: a readable text form of its published properties and
// its owned components, in the layout of Delphi-style form files:
//
//   object AddInModule: TAddInModule
//     AddInName = 'VORTELIX Excel'
//     SupportedApps = [ohaExcel]
//     object VORTELIXRibbon: TqvrRibbonTab
//       Controls = <
//         item
//           ControlTypes = {0100000007000000}
//         end>
//     end
//   end
//
// Values: 'text' (with '' for a quote and #nnn for any character, joined by +), integers,
// identifiers (True, enumeration members, method and component names), sets [a, b], binary
// data {hex}, collections <item ... end> (an item may carry an index: item [3]) and lists ( ... ).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

struct FormProperty;

struct FormItem {
    std::optional<int64_t> index;
    std::vector<FormProperty> properties;
};

struct FormValue {
    enum class Kind { String, Integer, Ident, Set, Binary, Collection, List };
    Kind kind = Kind::Ident;
    std::wstring text;                  // String, Ident
    int64_t integer = 0;                // Integer
    std::vector<std::wstring> members;  // Set
    std::vector<uint8_t> bytes;         // Binary
    std::vector<FormItem> items;        // Collection
    std::vector<FormValue> list;        // List

    static FormValue String(std::wstring s);
    static FormValue Integer(int64_t i);
    static FormValue Ident(std::wstring s);
    static FormValue Boolean(bool b) { return Ident(b ? L"True" : L"False"); }
    static FormValue Set(std::vector<std::wstring> names);
    static FormValue Binary(std::vector<uint8_t> data);

    // Typed reads that raise "Invalid property value" when the kind does not fit.
    const std::wstring& AsString() const;
    int64_t AsInteger() const;
    bool AsBoolean() const;
    const std::wstring& AsIdent() const;
};

struct FormProperty {
    std::wstring name;
    FormValue value;
};

struct FormObject {
    std::wstring name;
    std::wstring className;
    bool inherited = false;
    std::vector<FormProperty> properties;
    std::vector<FormObject> children;
};

// Parses one object; errors raise EqvrError with the line number.
FormObject ParseForm(const std::wstring& text);
// Writes the object back in the same text form (two-space indentation, CR LF line ends).
std::wstring WriteForm(const FormObject& object);

}  // namespace qvr
