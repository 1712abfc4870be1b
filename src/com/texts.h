// Texts the add-in shows to people come from string-table resources of the module that holds this
// code (the DLL, or a test program that links the framework), one table per language, so that a
// further language is a resource and not code. The language is Office's user-interface language,
// chosen once the add-in knows its host; until then the user's default UI language.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace qvr {

// The framework's own texts. The add-in numbers its texts from kFirstAddInText on.
inline constexpr UINT kTextErrorReport = 100;        // "%s error: the add-in has fired an exception.\r\n%s"
inline constexpr UINT kTextRunningHosts = 101;       // the running-instance dialog's text
inline constexpr UINT kTextButtonCancel = 102;
inline constexpr UINT kTextButtonRetry = 103;
inline constexpr UINT kTextButtonIgnore = 104;
inline constexpr UINT kTextRegistrationCancelled = 105;
inline constexpr UINT kTextCaptionError = 106;       // the caption of error dialogs
inline constexpr UINT kTextCaptionInformation = 107; // the caption of information dialogs
inline constexpr UINT kFirstAddInText = 1000;

// The language the texts are taken in; 0 until set, which means the user's default UI language.
void SetTextLanguage(LANGID language) noexcept;
LANGID TextLanguage() noexcept;

// The text `id` in the current language: the table of that exact language, else of its primary
// language, else English. Empty when no table holds the id (a build fault the tests catch).
std::wstring Text(UINT id);
// The same for a given language.
std::wstring TextIn(UINT id, LANGID language);

// Office's user-interface language, Application.LanguageSettings.LanguageID(msoLanguageIDUI),
// resolved by name; the user's default UI language when Office does not answer.
LANGID OfficeUiLanguage(IDispatch* application) noexcept;

}  // namespace qvr
