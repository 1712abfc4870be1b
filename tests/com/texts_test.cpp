// The texts people see: one table per language in the resources, Office's UI language choosing.
#include "com/texts.h"

#include "addin/texts.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

constexpr LANGID kDutch = MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH);
constexpr LANGID kFlemish = MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH_BELGIAN);
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kBritish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);

TEST(Texts, EachLanguageFindsItsTableAndOthersFallBackToEnglish) {
    struct Case {
        LANGID language;
        const wchar_t* errorReport;
    };
    const wchar_t* english = L"%s error: the add-in has fired an exception.\r\n%s";
    const wchar_t* dutch = L"Fout in %s: de invoegtoepassing heeft een fout gemeld.\r\n%s";
    const Case cases[] = {{kEnglish, english}, {kBritish, english}, {kGerman, english},
                          {kDutch, dutch},     {kFlemish, dutch}};
    for (const Case& c : cases) EXPECT_EQ(c.errorReport, qvr::TextIn(qvr::kTextErrorReport, c.language)) << c.language;
}

TEST(Texts, EveryFrameworkTextHasItsEnglishWordingAndADutchOne) {
    const std::map<UINT, std::wstring> english = {
        {qvr::kTextErrorReport, L"%s error: the add-in has fired an exception.\r\n%s"},
        {qvr::kTextRunningHosts, L"Please close all running host application instances:\r\n"},
        {qvr::kTextButtonCancel, L"Cancel"},
        {qvr::kTextButtonRetry, L"&Retry"},
        {qvr::kTextButtonIgnore, L"&Ignore"},
        {qvr::kTextRegistrationCancelled, L"The registration process has been canceled."},
        {qvr::kTextCaptionError, L"Error"},
        {qvr::kTextCaptionInformation, L"Information"},
    };
    for (const auto& [id, text] : english) {
        EXPECT_EQ(text, qvr::TextIn(id, kEnglish)) << id;
        const std::wstring dutch = qvr::TextIn(id, kDutch);
        EXPECT_FALSE(dutch.empty()) << id;
        EXPECT_NE(text, dutch) << id << " is not translated";
    }
    EXPECT_EQ(L"", qvr::TextIn(999, kEnglish)) << "an id no table holds";
}

// The clerks read Dutch Excel, where "werkmap" is the workbook and "map" a folder: a text about
// the hand-off's folder that said "werkmap" told them their workbook could not be made.
TEST(Texts, TheAddInsTextsNameThingsAsExcelDoes) {
    struct Case {
        UINT id;
        const wchar_t* english;
        const wchar_t* dutch;
    };
    const Case cases[] = {
        {vortelix::kTextWorkFolderError, L"Error creating work directory.",
         L"De tijdelijke map voor de overdracht kan niet worden gemaakt."},
        {vortelix::kTextUploaderStillRunning,
         L"The previous order is still being sent: the order upload program %s is still open. Finish or close it, "
         L"then press the button again. Nothing was changed.",
         L"De vorige bestelling wordt nog verzonden: het uploadprogramma voor bestellingen %s is nog geopend. Rond het "
         L"af of sluit het en druk dan opnieuw op de knop. Er is niets gewijzigd."},
        {vortelix::kTextLeftoverRecycled,
         L"An order from an earlier hand-off that was never sent was moved to the Recycle Bin (%s).",
         L"Een bestelling van een eerdere overdracht die nooit is verzonden, is naar de Prullenbak verplaatst (%s)."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.english, qvr::TextIn(c.id, kEnglish)) << c.id;
        EXPECT_EQ(c.dutch, qvr::TextIn(c.id, kDutch)) << c.id;
    }
}

TEST(Texts, TheChosenLanguageHoldsUntilChanged) {
    qvr::SetTextLanguage(kDutch);
    EXPECT_EQ(L"Annuleren", qvr::Text(qvr::kTextButtonCancel));
    qvr::SetTextLanguage(kEnglish);
    EXPECT_EQ(L"Cancel", qvr::Text(qvr::kTextButtonCancel));
    qvr::SetTextLanguage(0);
    EXPECT_EQ(GetUserDefaultUILanguage(), qvr::TextLanguage());
}

// Office's application as far as the language question goes: LanguageSettings, then
// LanguageID(msoLanguageIDUI). Each member can be made to fail.
class FakeOffice : public IDispatch {
public:
    enum Fail { None, NoLanguageSettings, NoLanguageId, InvokeFails, NotANumber };
    FakeOffice(Fail fail, LONG language, bool settingsObject = false)
        : fail_(fail), language_(language), settings_(settingsObject) {}
    virtual ~FakeOffice() { EXPECT_EQ(0, refs_ - 1) << "references left on the fake"; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
        const std::wstring name = names[0];
        if (!settings_ && name == L"LanguageSettings" && fail_ != NoLanguageSettings) return *ids = 7, S_OK;
        if (settings_ && name == L"LanguageID" && fail_ != NoLanguageId) return *ids = 1, S_OK;
        *ids = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return E_INVALIDARG;
        if (!settings_ && id == 7) {
            if (!child_) child_ = new FakeOffice(fail_, language_, true);
            result->vt = VT_DISPATCH;
            result->pdispVal = child_;
            child_->AddRef();
            return S_OK;
        }
        if (settings_ && id == 1) {
            if (fail_ == InvokeFails) return DISP_E_EXCEPTION;
            if (params->cArgs != 1 || params->rgvarg[0].vt != VT_I4 || params->rgvarg[0].lVal != 2) return E_INVALIDARG;
            if (fail_ == NotANumber) {
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(L"nl-NL");
                return S_OK;
            }
            result->vt = VT_I4;
            result->lVal = language_;
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }
    void Drop() {
        if (child_) {
            EXPECT_EQ(1, child_->refs_) << "the add-in kept LanguageSettings";
            delete child_;
            child_ = nullptr;
        }
    }

private:
    Fail fail_;
    LONG language_;
    bool settings_;
    LONG refs_ = 1;
    FakeOffice* child_ = nullptr;
};

TEST(Texts, OfficeUiLanguageIsAskedByNameAndFallsBackToTheUsersLanguage) {
    struct Case {
        const char* what;
        FakeOffice::Fail fail;
        LANGID expected;
    };
    const LANGID user = GetUserDefaultUILanguage();
    const Case cases[] = {
        {"Office answers Dutch", FakeOffice::None, kDutch},
        {"no LanguageSettings", FakeOffice::NoLanguageSettings, user},
        {"no LanguageID", FakeOffice::NoLanguageId, user},
        {"LanguageID raises", FakeOffice::InvokeFails, user},
        {"LanguageID answers text", FakeOffice::NotANumber, user},
    };
    for (const Case& c : cases) {
        FakeOffice office(c.fail, kDutch);
        EXPECT_EQ(c.expected, qvr::OfficeUiLanguage(&office)) << c.what;
        office.Drop();
    }
    EXPECT_EQ(user, qvr::OfficeUiLanguage(nullptr));
}

}  // namespace
