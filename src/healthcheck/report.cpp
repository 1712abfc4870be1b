#include "healthcheck/report.h"

#include <cstdio>

namespace qvrcheck {

namespace {
void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendEscapedUnit(std::string& out, unsigned unit) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", unit & 0xFFFF);
    out += buf;
}

std::string Quoted(const std::wstring& text) { return "\"" + JsonEscape(text) + "\""; }
}  // namespace

const wchar_t* StatusWord(Status status) {
    switch (status) {
        case Status::Ok: return L"OK";
        case Status::Warn: return L"WARN";
        case Status::Fail: return L"FAIL";
    }
    return L"FAIL";
}

int ExitCode(const Report& report) {
    int code = 0;
    for (const Check& c : report.checks) {
        if (c.status == Status::Fail) return 2;
        if (c.status == Status::Warn) code = 1;
    }
    // A repair that was asked for and could not be made leaves the machine as it was: at least a warning.
    if (!report.fixErrors.empty() && code == 0) code = 1;
    return code;
}

std::string JsonEscape(const std::wstring& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned c = static_cast<unsigned>(text[i]) & 0xFFFF;
        switch (c) {
            case L'"': out += "\\\""; continue;
            case L'\\': out += "\\\\"; continue;
            case L'\b': out += "\\b"; continue;
            case L'\f': out += "\\f"; continue;
            case L'\n': out += "\\n"; continue;
            case L'\r': out += "\\r"; continue;
            case L'\t': out += "\\t"; continue;
            default: break;
        }
        if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) {
            AppendEscapedUnit(out, c);
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
                   (static_cast<unsigned>(text[i + 1]) & 0xFFFF) >= 0xDC00 &&
                   (static_cast<unsigned>(text[i + 1]) & 0xFFFF) <= 0xDFFF) {
            const unsigned low = static_cast<unsigned>(text[++i]) & 0xFFFF;
            AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendEscapedUnit(out, c);  // half a pair has no UTF-8 form
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::string ToJson(const Report& report) {
    int counts[3] = {0, 0, 0};
    for (const Check& c : report.checks) ++counts[static_cast<int>(c.status)];
    const int exitCode = ExitCode(report);
    std::string out = "{\n";
    out += "  \"tool\": \"VORTELIXExcelCheck\",\n";
    out += "  \"computer\": " + Quoted(report.computer) + ",\n";
    out += "  \"user\": " + Quoted(report.user) + ",\n";
    out += "  \"result\": " + Quoted(exitCode == 0 ? L"OK" : exitCode == 1 ? L"WARN" : L"FAIL") + ",\n";
    out += "  \"exitCode\": " + std::to_string(exitCode) + ",\n";
    out += "  \"counts\": {\"ok\": " + std::to_string(counts[0]) + ", \"warn\": " + std::to_string(counts[1]) +
           ", \"fail\": " + std::to_string(counts[2]) + "},\n";
    auto list = [&](const char* name, const std::vector<std::wstring>& items) {
        out += "  \"" + std::string(name) + "\": [";
        for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + Quoted(items[i]);
        out += "],\n";
    };
    list("changes", report.changes);
    list("fixErrors", report.fixErrors);
    out += "  \"checks\": [";
    for (size_t i = 0; i < report.checks.size(); ++i) {
        const Check& c = report.checks[i];
        out += i ? ",\n" : "\n";
        out += "    {\"id\": " + Quoted(c.id) + ", \"title\": " + Quoted(c.title) + ", \"status\": " +
               Quoted(StatusWord(c.status)) + ", \"detail\": " + Quoted(c.detail) + ", \"fix\": " + Quoted(c.fix) + "}";
    }
    out += report.checks.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::wstring ToText(const Report& report) {
    std::wstring out = L"VORTELIX Excel health check, computer " + report.computer + L", user " + report.user + L"\r\n";
    for (const std::wstring& change : report.changes) out += L"changed: " + change + L"\r\n";
    for (const std::wstring& error : report.fixErrors) out += L"NOT changed: " + error + L"\r\n";
    if (!report.changes.empty() || !report.fixErrors.empty()) out += L"\r\n";
    int warnings = 0, failures = 0;
    for (const Check& c : report.checks) {
        std::wstring word = StatusWord(c.status);
        word.resize(4, L' ');
        out += L"[" + word + L"] " + c.title + L"\r\n";
        out += L"       " + c.detail + L"\r\n";
        if (c.status != Status::Ok && !c.fix.empty()) out += L"       Fix: " + c.fix + L"\r\n";
        warnings += c.status == Status::Warn;
        failures += c.status == Status::Fail;
    }
    out += L"\r\nResult: " + std::wstring(ExitCode(report) == 0 ? L"OK" : ExitCode(report) == 1 ? L"WARN" : L"FAIL") +
           L" (" + std::to_wstring(failures) + L" failed, " + std::to_wstring(warnings) + L" warning(s)); exit code " +
           std::to_wstring(ExitCode(report)) + L"\r\n";
    return out;
}

}  // namespace qvrcheck
