// The health check's findings and their two forms: text for the person at the console, one JSON
// document for fleet tools. The exit code sums them up: 0 all OK, 1 warnings, 2 failures.
#pragma once

#include <string>
#include <vector>

namespace qvrcheck {

enum class Status { Ok, Warn, Fail };

struct Check {
    std::wstring id;      // stable name for scripts, e.g. "addin-key"
    std::wstring title;   // what was checked
    Status status = Status::Ok;
    std::wstring detail;  // what was found and what it means
    std::wstring fix;     // how to put it right (empty when nothing is to be done)
};

struct Report {
    std::wstring computer, user;
    std::vector<Check> checks;
    // What --fix changed, one line each.
    std::vector<std::wstring> changes;
    // Repairs --fix tried and could not make.
    std::vector<std::wstring> fixErrors;
};

const wchar_t* StatusWord(Status status);
// 0 when every check is OK, 1 when the worst is a warning, 2 when any check failed.
int ExitCode(const Report& report);

// Text in UTF-8 for a JSON string (without the quotes): quote, backslash and every control
// character escaped, everything else as UTF-8; a UTF-16 half pair stands as \uXXXX.
std::string JsonEscape(const std::wstring& text);
std::string ToJson(const Report& report);
std::wstring ToText(const Report& report);

}  // namespace qvrcheck
