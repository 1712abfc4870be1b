#include "json_reader.h"

#include <cstdlib>
#include <stdexcept>

namespace jsontest {

namespace {

struct Reader {
    const std::string& s;
    size_t at = 0;

    [[noreturn]] void Fail(const std::string& why) { throw std::runtime_error(why + " at " + std::to_string(at)); }
    void Space() {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\n' || s[at] == '\r')) ++at;
    }
    void Expect(char c) {
        if (at >= s.size() || s[at] != c) Fail(std::string("expected ") + c);
        ++at;
    }
    bool Literal(const char* word) {
        size_t n = std::char_traits<char>::length(word);
        if (s.compare(at, n, word) != 0) return false;
        at += n;
        return true;
    }
    unsigned Hex4() {
        if (at + 4 > s.size()) Fail("short \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = s[at++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') v |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= static_cast<unsigned>(c - 'A' + 10);
            else Fail("bad hex digit");
        }
        return v;
    }
    static void Utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) out += static_cast<char>(0xC0 | (cp >> 6)), out += static_cast<char>(0x80 | (cp & 0x3F));
        else if (cp < 0x10000)
            out += static_cast<char>(0xE0 | (cp >> 12)), out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                out += static_cast<char>(0x80 | (cp & 0x3F));
        else
            out += static_cast<char>(0xF0 | (cp >> 18)), out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    std::string Str() {
        Expect('"');
        std::string out;
        while (true) {
            if (at >= s.size()) Fail("unterminated string");
            unsigned char c = static_cast<unsigned char>(s[at++]);
            if (c == '"') return out;
            if (c < 0x20) Fail("control character in a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at >= s.size()) Fail("unterminated escape");
            char e = s[at++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned cp = Hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF && s.compare(at, 2, "\\u") == 0) {
                        size_t back = at;
                        at += 2;
                        unsigned low = Hex4();
                        if (low >= 0xDC00 && low <= 0xDFFF) cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        else at = back;
                    }
                    Utf8(out, cp);
                    break;
                }
                default: Fail("unknown escape");
            }
        }
    }
    Value Val() {
        Space();
        Value v;
        if (at >= s.size()) Fail("value expected");
        char c = s[at];
        if (c == '{') {
            v.kind = Value::Object;
            ++at;
            Space();
            if (at < s.size() && s[at] == '}') return ++at, v;
            while (true) {
                Space();
                std::string name = Str();
                Space();
                Expect(':');
                v.members.emplace_back(name, Val());
                Space();
                if (at < s.size() && s[at] == ',') { ++at; continue; }
                Expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.kind = Value::Array;
            ++at;
            Space();
            if (at < s.size() && s[at] == ']') return ++at, v;
            while (true) {
                v.items.push_back(Val());
                Space();
                if (at < s.size() && s[at] == ',') { ++at; continue; }
                Expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = Value::String;
            v.text = Str();
            return v;
        }
        if (Literal("true")) return v.kind = Value::Bool, v.boolean = true, v;
        if (Literal("false")) return v.kind = Value::Bool, v;
        if (Literal("null")) return v;
        size_t start = at;
        if (s[at] == '-') ++at;
        if (at >= s.size() || s[at] < '0' || s[at] > '9') Fail("bad number");
        if (s[at] == '0') ++at;
        else while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
        if (at < s.size() && s[at] == '.') {
            ++at;
            if (at >= s.size() || s[at] < '0' || s[at] > '9') Fail("bad fraction");
            while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
        }
        v.kind = Value::Number;
        v.number = std::strtod(s.substr(start, at - start).c_str(), nullptr);
        return v;
    }
};

}  // namespace

const Value& Value::operator[](const std::string& name) const {
    for (const auto& [n, v] : members)
        if (n == name) return v;
    throw std::out_of_range("no member " + name);
}

std::optional<Value> Parse(const std::string& document, std::string* error) {
    Reader r{document};
    try {
        Value v = r.Val();
        r.Space();
        if (r.at != document.size()) r.Fail("text after the document");
        return v;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

}  // namespace jsontest
