// A strict JSON reader for the tests: it accepts one document exactly as RFC 8259 writes it
// (no trailing commas, no control characters in strings, escapes decoded) and nothing else, so
// that a document it reads is one a fleet tool's parser reads too.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace jsontest {

struct Value {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // UTF-8
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;
    const Value& operator[](const std::string& name) const;
    const Value& operator[](size_t i) const { return items.at(i); }
};

// The document, or nothing (with the reason in *error) when it is not valid JSON.
std::optional<Value> Parse(const std::string& document, std::string* error = nullptr);

}  // namespace jsontest
