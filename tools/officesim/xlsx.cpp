#include "xlsx.h"

#include <windows.h>

#include <cstring>

namespace officesim {

namespace {

const char kSheet[] = "xl/worksheets/sheet1.xml";

uint32_t Crc32(const std::string& data) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char ch : data) crc = table[(crc ^ ch) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

std::optional<XlsxPackage> XlsxPackage::Parse(const std::vector<uint8_t>& b) {
    XlsxPackage p;
    size_t at = 0;
    while (at + 30 <= b.size() && Get32(b, at) == 0x04034b50) {
        uint16_t method = Get16(b, at + 8);
        uint32_t size = Get32(b, at + 18);
        uint16_t nameLen = Get16(b, at + 26), extraLen = Get16(b, at + 28);
        size_t data = at + 30 + nameLen + extraLen;
        if (method != 0 || data + size > b.size()) return std::nullopt;
        std::string name(reinterpret_cast<const char*>(&b[at + 30]), nameLen);
        p.entries_.emplace_back(name, std::string(reinterpret_cast<const char*>(b.data() + data), size));
        at = data + size;
    }
    if (p.entries_.empty()) return std::nullopt;
    return p;
}

std::vector<uint8_t> XlsxPackage::Serialize() const {
    std::vector<uint8_t> out, central;
    for (const auto& [name, content] : entries_) {
        uint32_t offset = static_cast<uint32_t>(out.size());
        uint32_t crc = Crc32(content);
        auto header = [&](std::vector<uint8_t>& b, bool isCentral) {
            Put32(b, isCentral ? 0x02014b50 : 0x04034b50);
            if (isCentral) Put16(b, 20);
            Put16(b, 20);  // version needed
            Put16(b, 0);   // flags
            Put16(b, 0);   // stored
            Put16(b, 0x4800);  // 09:00
            Put16(b, 0x5D81);  // 2026-12-01
            Put32(b, crc);
            Put32(b, static_cast<uint32_t>(content.size()));
            Put32(b, static_cast<uint32_t>(content.size()));
            Put16(b, static_cast<uint16_t>(name.size()));
            Put16(b, 0);
            if (isCentral) {
                Put16(b, 0);
                Put16(b, 0);
                Put16(b, 0);
                Put32(b, 0);
                Put32(b, offset);
            }
            b.insert(b.end(), name.begin(), name.end());
        };
        header(out, false);
        out.insert(out.end(), content.begin(), content.end());
        header(central, true);
    }
    uint32_t centralAt = static_cast<uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint16_t>(entries_.size()));
    Put16(out, static_cast<uint16_t>(entries_.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralAt);
    Put16(out, 0);
    return out;
}

const std::string* XlsxPackage::Entry(const std::string& name) const {
    for (const auto& e : entries_)
        if (e.first == name) return &e.second;
    return nullptr;
}

void XlsxPackage::SetEntry(const std::string& name, std::string content) {
    for (auto& e : entries_)
        if (e.first == name) {
            e.second = std::move(content);
            return;
        }
    entries_.emplace_back(name, std::move(content));
}

void XlsxPackage::SetCellText(const std::string& ref, const std::string& text) {
    std::string sheet = Entry(kSheet) ? *Entry(kSheet) : std::string();
    std::string cell = "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
    size_t found = sheet.find("<c r=\"" + ref + "\"");
    if (found != std::string::npos) {
        size_t end = sheet.find("</c>", found);
        sheet.replace(found, end + 4 - found, cell);
    } else {
        std::string row = ref.substr(ref.find_first_of("0123456789"));
        size_t close = sheet.find("</sheetData>");
        if (close == std::string::npos) return;
        sheet.insert(close, "<row r=\"" + row + "\">" + cell + "</row>");
    }
    SetEntry(kSheet, sheet);
}

std::vector<std::string> XlsxPackage::CellTexts() const {
    std::vector<std::string> texts;
    const std::string* sheet = Entry(kSheet);
    if (!sheet) return texts;
    size_t at = 0;
    for (;;) {
        size_t t = sheet->find("<t>", at), v = sheet->find("<v>", at);
        size_t open = std::min(t, v);
        if (open == std::string::npos) break;
        size_t close = sheet->find("</", open);
        texts.push_back(sheet->substr(open + 3, close - open - 3));
        at = close;
    }
    return texts;
}

std::vector<uint8_t> ReadWholeFile(const std::wstring& path, bool* ok) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (ok) *ok = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        if (ok) *ok = false;
    }
    CloseHandle(file);
    return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return done && written == bytes.size();
}

}  // namespace officesim
