#include "markup_support.h"

#include "support/test_support.h"
#include "xml_reader.h"

#include <gtest/gtest.h>

namespace markuptest {

MarkupFixture::MarkupFixture() {
    module->SetConnection(nullptr, &qvrtest::Factory());
    group = AddGroup();
    group->SetId(L"G1");
}

MarkupFixture::~MarkupFixture() { module->SetConnection(nullptr, nullptr); }

std::wstring MarkupFixture::Markup(int version, const std::wstring& ribbonId) {
    module->SetHostMajorVersion(version);
    std::wstring xml = L"(not written)";
    qvr::GetCustomUI(*module, ribbonId, xml);
    return xml;
}

std::wstring Lines(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? L"\r\n" : L"") + lines[i];
    return text;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t at; (at = text.find(L"\r\n", start)) != std::wstring::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    return lines;
}

namespace {

std::wstring DocumentsFolder() {
    wchar_t unixPath[1024] = {};
    if (!GetEnvironmentVariableW(L"QVR_MARKUP_DOCUMENTS", unixPath, 1024)) return {};
    // Wine shows the Unix file system as drive Z:.
    std::wstring folder = std::wstring(L"Z:") + unixPath;
    static bool cleared = false;
    if (!cleared) {
        cleared = true;
        CreateDirectoryW(folder.c_str(), nullptr);
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"\\*.xml").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do DeleteFileW((folder + L"\\" + found.cFileName).c_str());
            while (FindNextFileW(find, &found));
            FindClose(find);
        }
    }
    return folder;
}

}  // namespace

void KeepForSchemaCheck(const std::wstring& name, const std::wstring& document) {
    std::wstring why;
    EXPECT_TRUE(officesim::ParseXml(document, &why).has_value()) << "not well formed: " << why.c_str();
    std::wstring folder = DocumentsFolder();
    if (folder.empty()) return;
    int n = WideCharToMultiByte(CP_UTF8, 0, document.data(), static_cast<int>(document.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, document.data(), static_cast<int>(document.size()), utf8.data(), n, nullptr, nullptr);
    HANDLE file = CreateFileW((folder + L"\\" + name + L".xml").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << "cannot write the document for the schema check";
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
    EXPECT_EQ(utf8.size(), written);
}

}  // namespace markuptest
