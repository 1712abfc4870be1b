// Just enough of the workbook file format for the stand-in: a zip package of stored (not
// compressed) entries, read, edited in memory and written again, and the cells of its first
// sheet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace officesim {

class XlsxPackage {
public:
    // Parses a package; nullopt when the bytes are not a zip of stored entries.
    static std::optional<XlsxPackage> Parse(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> Serialize() const;

    const std::string* Entry(const std::string& name) const;
    void SetEntry(const std::string& name, std::string content);

    // Sets a cell of the first sheet to an inline text (adds it as a row of its own when the
    // sheet has no such cell yet).
    void SetCellText(const std::string& ref, const std::string& text);
    // The texts and values of the first sheet's cells, in document order.
    std::vector<std::string> CellTexts() const;

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

std::vector<uint8_t> ReadWholeFile(const std::wstring& path, bool* ok = nullptr);
bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);

}  // namespace officesim
