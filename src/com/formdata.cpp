#include "com/formdata.h"

#include "com/error.h"
#include "com/numbers.h"

#include <cwctype>
#include <utility>

namespace qvr {

FormValue FormValue::String(std::wstring s) {
    FormValue v;
    v.kind = Kind::String;
    v.text = std::move(s);
    return v;
}
FormValue FormValue::Integer(int64_t i) {
    FormValue v;
    v.kind = Kind::Integer;
    v.integer = i;
    return v;
}
FormValue FormValue::Ident(std::wstring s) {
    FormValue v;
    v.kind = Kind::Ident;
    v.text = std::move(s);
    return v;
}
FormValue FormValue::Set(std::vector<std::wstring> names) {
    FormValue v;
    v.kind = Kind::Set;
    v.members = std::move(names);
    return v;
}
FormValue FormValue::Binary(std::vector<uint8_t> data) {
    FormValue v;
    v.kind = Kind::Binary;
    v.bytes = std::move(data);
    return v;
}

namespace {

[[noreturn]] void InvalidValue() { throw EqvrError(L"Invalid property value"); }
}  // namespace

const std::wstring& FormValue::AsString() const {
    if (kind != Kind::String) InvalidValue();
    return text;
}
int64_t FormValue::AsInteger() const {
    if (kind != Kind::Integer) InvalidValue();
    return integer;
}
bool FormValue::AsBoolean() const {
    if (kind == Kind::Ident) {
        if (_wcsicmp(text.c_str(), L"True") == 0) return true;
        if (_wcsicmp(text.c_str(), L"False") == 0) return false;
    }
    InvalidValue();
}
const std::wstring& FormValue::AsIdent() const {
    if (kind != Kind::Ident) InvalidValue();
    return text;
}

namespace {

class Parser {
public:
    explicit Parser(const std::wstring& text) : s_(text) {}

    FormObject Object() {
        SkipSpace();
        FormObject obj;
        std::wstring head = Word();
        if (Eq(head, L"inherited"))
            obj.inherited = true;
        else if (!Eq(head, L"object"))
            Fail(L"'object' expected");
        obj.name = Word();
        SkipSpace();
        if (Peek() == L':') {
            ++pos_;
            obj.className = Word();
        } else {
            obj.className = std::exchange(obj.name, std::wstring());
        }
        for (;;) {
            SkipSpace();
            size_t save = pos_;
            std::wstring w = Word();
            if (Eq(w, L"end")) return obj;
            if (Eq(w, L"object") || Eq(w, L"inherited")) {
                pos_ = save;
                obj.children.push_back(Object());
                continue;
            }
            obj.properties.push_back(Property(w));
        }
    }

    void ExpectEnd() {
        SkipSpace();
        if (pos_ < s_.size()) Fail(L"end of text expected");
    }

private:
    // Keywords are ASCII: compared without the C library's locale machinery, which is slow.
    static bool Eq(const std::wstring& a, const wchar_t* b) {
        size_t i = 0;
        for (; i < a.size() && b[i]; ++i) {
            wchar_t x = a[i], y = b[i];
            if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 32);
            if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 32);
            if (x != y) return false;
        }
        return i == a.size() && !b[i];
    }

    [[noreturn]] void Fail(const std::wstring& what) {
        int line = 1;
        for (size_t i = 0; i < pos_ && i < s_.size(); ++i)
            if (s_[i] == L'\n') ++line;
        throw EqvrError(FormatText(L"Error reading stored configuration, line %d: %s", {DecimalText(line), what}));
    }

    wchar_t Peek() const { return pos_ < s_.size() ? s_[pos_] : L'\0'; }

    void SkipSpace() {
        while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
    }

    static bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r') || (c >= 128 && iswspace(c)); }
    static bool IsWordChar(wchar_t c) {
        if (c < 128)
            return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' ||
                   c == L'.';
        return iswalnum(c);
    }

    std::wstring Word() {
        SkipSpace();
        size_t start = pos_;
        while (pos_ < s_.size() && IsWordChar(s_[pos_])) ++pos_;
        if (start == pos_) Fail(L"identifier expected");
        return s_.substr(start, pos_ - start);
    }

    void Expect(wchar_t c) {
        SkipSpace();
        if (Peek() != c) Fail(std::wstring(L"'") + c + L"' expected");
        ++pos_;
    }

    FormProperty Property(std::wstring name) {
        Expect(L'=');
        return FormProperty{std::move(name), Value()};
    }

    FormValue Value() {
        SkipSpace();
        wchar_t c = Peek();
        if (c == L'\'' || c == L'#') return FormValue::String(Text());
        if (c == L'[') return SetValue();
        if (c == L'{') return BinaryValue();
        if (c == L'<') return CollectionValue();
        if (c == L'(') return ListValue();
        if (c == L'-' || iswdigit(c)) return Number();
        return FormValue::Ident(Word());
    }

    std::wstring Text() {
        std::wstring out;
        for (;;) {
            SkipSpace();
            if (Peek() == L'\'') {
                ++pos_;
                for (;;) {
                    if (pos_ >= s_.size() || s_[pos_] == L'\n') Fail(L"unterminated string");
                    wchar_t c = s_[pos_++];
                    if (c == L'\'') {
                        if (Peek() == L'\'') {
                            out += L'\'';
                            ++pos_;
                            continue;
                        }
                        break;
                    }
                    out += c;
                }
            } else if (Peek() == L'#') {
                ++pos_;
                size_t start = pos_;
                while (pos_ < s_.size() && iswdigit(s_[pos_])) ++pos_;
                if (start == pos_) Fail(L"character code expected");
                out += static_cast<wchar_t>(std::stoul(s_.substr(start, pos_ - start)));
            } else {
                break;
            }
            // Strings continue directly ('a'#13'b') or across lines with '+'.
            size_t save = pos_;
            SkipSpace();
            if (Peek() == L'+') {
                ++pos_;
                SkipSpace();
                if (Peek() != L'\'' && Peek() != L'#') Fail(L"string expected");
            } else if (!(save == pos_ && (Peek() == L'\'' || Peek() == L'#'))) {
                pos_ = save;
                break;
            }
        }
        return out;
    }

    FormValue Number() {
        size_t start = pos_;
        if (Peek() == L'-') ++pos_;
        while (pos_ < s_.size() && iswdigit(s_[pos_])) ++pos_;
        std::wstring digits = s_.substr(start, pos_ - start);
        if (digits == L"-") Fail(L"number expected");
        try {
            return FormValue::Integer(std::stoll(digits));
        } catch (...) {
            Fail(L"number out of range");
        }
    }

    FormValue SetValue() {
        Expect(L'[');
        std::vector<std::wstring> names;
        SkipSpace();
        if (Peek() == L']') {
            ++pos_;
            return FormValue::Set(std::move(names));
        }
        for (;;) {
            names.push_back(Word());
            SkipSpace();
            if (Peek() == L',') {
                ++pos_;
                continue;
            }
            Expect(L']');
            return FormValue::Set(std::move(names));
        }
    }

    // A picture is stored as thousands of digits: read without the C library's character classes.
    static int HexDigit(wchar_t c) {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'A' && c <= L'F') return c - L'A' + 10;
        if (c >= L'a' && c <= L'f') return c - L'a' + 10;
        return -1;
    }

    FormValue BinaryValue() {
        Expect(L'{');
        std::vector<uint8_t> bytes;
        if (const size_t close = s_.find(L'}', pos_); close != std::wstring::npos) bytes.reserve((close - pos_) / 2);
        int half = -1;
        for (;;) {
            SkipSpace();
            wchar_t c = Peek();
            if (c == L'}') {
                ++pos_;
                break;
            }
            const int v = HexDigit(c);
            if (v < 0) Fail(L"hexadecimal digit expected");
            ++pos_;
            if (half < 0) {
                half = v;
            } else {
                bytes.push_back(static_cast<uint8_t>(half * 16 + v));
                half = -1;
            }
        }
        if (half >= 0) Fail(L"odd number of hexadecimal digits");
        return FormValue::Binary(std::move(bytes));
    }

    FormValue CollectionValue() {
        Expect(L'<');
        FormValue v;
        v.kind = FormValue::Kind::Collection;
        for (;;) {
            SkipSpace();
            if (Peek() == L'>') {
                ++pos_;
                return v;
            }
            if (!Eq(Word(), L"item")) Fail(L"'item' expected");
            FormItem item;
            SkipSpace();
            if (Peek() == L'[') {
                ++pos_;
                SkipSpace();
                item.index = Number().integer;
                Expect(L']');
            }
            for (;;) {
                std::wstring w = Word();
                if (Eq(w, L"end")) break;
                item.properties.push_back(Property(w));
            }
            v.items.push_back(std::move(item));
        }
    }

    FormValue ListValue() {
        Expect(L'(');
        FormValue v;
        v.kind = FormValue::Kind::List;
        for (;;) {
            SkipSpace();
            if (Peek() == L')') {
                ++pos_;
                return v;
            }
            v.list.push_back(Value());
        }
    }

    const std::wstring& s_;
    size_t pos_ = 0;
};

void Indent(std::wstring& out, int depth) { out.append(static_cast<size_t>(depth) * 2, L' '); }

std::wstring Quote(const std::wstring& text) {
    if (text.empty()) return L"''";
    std::wstring out;
    bool inQuote = false;
    for (wchar_t c : text) {
        if (c >= 32 && c < 127) {
            if (!inQuote) out += L'\'';
            inQuote = true;
            out += c;
            if (c == L'\'') out += L'\'';
        } else {
            if (inQuote) out += L'\'';
            inQuote = false;
            out += L'#' + DecimalText(static_cast<unsigned>(c));
        }
    }
    if (inQuote) out += L'\'';
    return out;
}

void WriteValue(std::wstring& out, const FormValue& v, int depth);

void WriteProperties(std::wstring& out, const std::vector<FormProperty>& props, int depth) {
    for (const auto& p : props) {
        Indent(out, depth);
        out += p.name + L" = ";
        WriteValue(out, p.value, depth);
        out += L"\r\n";
    }
}

void WriteValue(std::wstring& out, const FormValue& v, int depth) {
    static const wchar_t hex[] = L"0123456789ABCDEF";
    switch (v.kind) {
        case FormValue::Kind::String: out += Quote(v.text); break;
        case FormValue::Kind::Integer: out += DecimalText(v.integer); break;
        case FormValue::Kind::Ident: out += v.text; break;
        case FormValue::Kind::Set:
            out += L'[';
            for (size_t i = 0; i < v.members.size(); ++i) out += (i ? L", " : L"") + v.members[i];
            out += L']';
            break;
        case FormValue::Kind::Binary:
            out += L'{';
            for (size_t i = 0; i < v.bytes.size(); ++i) {
                if (i % 32 == 0) {
                    out += L"\r\n";
                    Indent(out, depth + 1);
                }
                out += hex[v.bytes[i] >> 4];
                out += hex[v.bytes[i] & 15];
            }
            out += L'}';
            break;
        case FormValue::Kind::Collection:
            out += L'<';
            for (const auto& item : v.items) {
                out += L"\r\n";
                Indent(out, depth + 1);
                out += L"item";
                if (item.index) out += L" [" + DecimalText(*item.index) + L"]";
                out += L"\r\n";
                WriteProperties(out, item.properties, depth + 2);
                Indent(out, depth + 1);
                out += L"end";
            }
            out += L'>';
            break;
        case FormValue::Kind::List:
            out += L'(';
            for (const auto& e : v.list) {
                out += L"\r\n";
                Indent(out, depth + 1);
                WriteValue(out, e, depth + 1);
            }
            out += L')';
            break;
    }
}

void WriteObject(std::wstring& out, const FormObject& obj, int depth) {
    Indent(out, depth);
    out += obj.inherited ? L"inherited " : L"object ";
    out += obj.name.empty() ? obj.className : obj.name + L": " + obj.className;
    out += L"\r\n";
    WriteProperties(out, obj.properties, depth + 1);
    for (const auto& child : obj.children) WriteObject(out, child, depth + 1);
    Indent(out, depth);
    out += L"end\r\n";
}

}  // namespace

FormObject ParseForm(const std::wstring& text) {
    Parser p(text);
    FormObject obj = p.Object();
    p.ExpectEnd();
    return obj;
}

std::wstring WriteForm(const FormObject& object) {
    std::wstring out;
    WriteObject(out, object, 0);
    return out;
}

}  // namespace qvr
