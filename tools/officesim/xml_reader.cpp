#include "xml_reader.h"

#include <cwchar>
#include <stdexcept>

namespace officesim {

const std::wstring* XmlElement::Attribute(std::wstring_view attributeName) const {
    for (const auto& [n, v] : attributes)
        if (n == attributeName) return &v;
    return nullptr;
}

namespace {

struct NotWellFormed : std::runtime_error {
    NotWellFormed(std::wstring why, size_t at) : std::runtime_error("xml"), reason(std::move(why)), position(at) {}
    std::wstring reason;
    size_t position;
};

class Reader {
public:
    explicit Reader(std::wstring_view text) : s_(text) {}

    XmlElement Document() {
        SkipMisc();
        if (Starts(L"<?xml")) {
            size_t end = s_.find(L"?>", i_);
            if (end == std::wstring_view::npos) Fail(L"unterminated declaration");
            i_ = end + 2;
        }
        SkipMisc();
        if (!Starts(L"<")) Fail(L"no root element");
        XmlElement root = Element();
        SkipMisc();
        if (i_ != s_.size()) Fail(L"content after the root element");
        return root;
    }

private:
    [[noreturn]] void Fail(const std::wstring& why) const { throw NotWellFormed(why, i_); }
    bool Starts(std::wstring_view t) const { return s_.substr(i_, t.size()) == t; }
    static bool Space(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
    static bool NameChar(wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
               c == L':' || c == L'-' || c == L'.' || c > 0x7F;
    }
    void SkipSpace() {
        while (i_ < s_.size() && Space(s_[i_])) ++i_;
    }
    // White space and comments between elements.
    void SkipMisc() {
        for (;;) {
            SkipSpace();
            if (!Starts(L"<!--")) return;
            size_t end = s_.find(L"-->", i_ + 4);
            if (end == std::wstring_view::npos) Fail(L"unterminated comment");
            i_ = end + 3;
        }
    }
    std::wstring Name() {
        size_t start = i_;
        if (i_ >= s_.size() || !NameChar(s_[i_]) || s_[i_] == L'-' || s_[i_] == L'.' || (s_[i_] >= L'0' && s_[i_] <= L'9'))
            Fail(L"a name was expected");
        while (i_ < s_.size() && NameChar(s_[i_])) ++i_;
        return std::wstring(s_.substr(start, i_ - start));
    }
    void Expect(wchar_t c) {
        if (i_ >= s_.size() || s_[i_] != c) Fail(std::wstring(L"'") + c + L"' was expected");
        ++i_;
    }
    // A reference after its '&'.
    std::wstring Reference() {
        size_t end = s_.find(L';', i_);
        if (end == std::wstring_view::npos || end - i_ > 10) Fail(L"unterminated reference");
        std::wstring_view ref = s_.substr(i_, end - i_);
        i_ = end + 1;
        if (ref == L"amp") return L"&";
        if (ref == L"lt") return L"<";
        if (ref == L"gt") return L">";
        if (ref == L"quot") return L"\"";
        if (ref == L"apos") return L"'";
        if (ref.size() > 1 && ref[0] == L'#') {
            std::wstring digits(ref.substr(ref[1] == L'x' ? 2 : 1));
            wchar_t* stop = nullptr;
            unsigned long code = std::wcstoul(digits.c_str(), &stop, ref[1] == L'x' ? 16 : 10);
            bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xFFFD);
            if (digits.empty() || *stop || !allowed) Fail(L"bad character reference");
            return std::wstring(1, static_cast<wchar_t>(code));
        }
        Fail(L"unknown entity &" + std::wstring(ref) + L";");
    }
    std::wstring AttributeValue() {
        if (i_ >= s_.size() || (s_[i_] != L'"' && s_[i_] != L'\'')) Fail(L"a quoted value was expected");
        wchar_t quote = s_[i_++];
        std::wstring value;
        for (;;) {
            if (i_ >= s_.size()) Fail(L"unterminated attribute value");
            wchar_t c = s_[i_];
            if (c == quote) {
                ++i_;
                return value;
            }
            if (c == L'<') Fail(L"'<' in an attribute value");
            ++i_;
            if (c == L'&') value += Reference();
            // Attribute-value normalisation: literal white space reads as a blank.
            else value += Space(c) ? L' ' : c;
        }
    }
    XmlElement Element() {
        Expect(L'<');
        XmlElement e;
        e.name = Name();
        for (;;) {
            bool spaced = i_ < s_.size() && Space(s_[i_]);
            SkipSpace();
            if (Starts(L"/>")) {
                i_ += 2;
                return e;
            }
            if (Starts(L">")) {
                ++i_;
                break;
            }
            if (!spaced) Fail(L"white space was expected between attributes");
            std::wstring name = Name();
            SkipSpace();
            Expect(L'=');
            SkipSpace();
            std::wstring value = AttributeValue();
            if (e.Attribute(name)) Fail(L"attribute " + name + L" given twice");
            e.attributes.emplace_back(std::move(name), std::move(value));
        }
        for (;;) {
            SkipMisc();
            if (i_ >= s_.size()) Fail(L"element " + e.name + L" is not closed");
            if (Starts(L"</")) {
                i_ += 2;
                if (Name() != e.name) Fail(L"end tag does not match " + e.name);
                SkipSpace();
                Expect(L'>');
                return e;
            }
            if (s_[i_] != L'<') Fail(L"text content where only elements are expected");
            e.children.push_back(Element());
        }
    }

    std::wstring_view s_;
    size_t i_ = 0;
};

}  // namespace

std::optional<XmlElement> ParseXml(std::wstring_view text, std::wstring* error) {
    try {
        return Reader(text).Document();
    } catch (const NotWellFormed& e) {
        if (error) *error = e.reason + L" (at character " + std::to_wstring(e.position) + L")";
        return std::nullopt;
    }
}

}  // namespace officesim
