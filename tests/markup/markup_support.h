// What the markup tests share: a module of the framework's own class holding one tab, connected
// to the add-in's class factory (whose program id the "default" prefix names), and the writing
// of documents for the schema check.
#pragma once

#include "ribbon/markup.h"
#include "ribbon_support.h"

#include <string>
#include <vector>

namespace markuptest {

inline const std::wstring kExcel = L"Microsoft.Excel.Workbook";

class MarkupFixture : public ribbontest::RibbonFixture {
protected:
    MarkupFixture();
    ~MarkupFixture() override;

    // The document for `ribbonId` as Office of major version `version` gets it.
    std::wstring Markup(int version, const std::wstring& ribbonId = kExcel);

    qvr::TqvrRibbonGroup* group = nullptr;  // "G1", in the fixture's tab
};

// Lines of text joined by CR LF, as the writer separates them.
std::wstring Lines(const std::vector<std::wstring>& lines);
std::vector<std::wstring> SplitLines(const std::wstring& text);

// Keeps a document for the schema check run after this program (under the name given; the
// folder comes from QVR_MARKUP_DOCUMENTS). Also checks that the document is well formed.
void KeepForSchemaCheck(const std::wstring& name, const std::wstring& document);

}  // namespace markuptest
