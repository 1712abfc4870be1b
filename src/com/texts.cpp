#include "com/texts.h"

#include "com/error.h"
#include "com/handles.h"

#include <atomic>

namespace qvr {

namespace {

std::atomic<LANGID> g_language{0};

HMODULE ThisModule() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// A string table keeps sixteen strings per block, each as a length and that many characters.
bool FindInTable(HMODULE module, UINT id, LANGID language, std::wstring& text) {
    HRSRC info = FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */, MAKEINTRESOURCEW((id >> 4) + 1), language);
    if (!info) return false;
    HGLOBAL loaded = LoadResource(module, info);
    const auto* p = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    if (!p) return false;
    const WCHAR* end = p + SizeofResource(module, info) / sizeof(WCHAR);
    for (UINT i = 0; i < (id & 15); ++i) {
        if (p >= end) return false;
        p += 1 + *p;
    }
    if (p >= end || *p == 0 || p + 1 + *p > end) return false;
    text.assign(p + 1, *p);
    return true;
}

}  // namespace

void SetTextLanguage(LANGID language) noexcept { g_language = language; }

LANGID TextLanguage() noexcept {
    LANGID language = g_language;
    return language ? language : GetUserDefaultUILanguage();
}

std::wstring TextIn(UINT id, LANGID language) {
    HMODULE module = ThisModule();
    std::wstring text;
    const LANGID tries[] = {language, MAKELANGID(PRIMARYLANGID(language), SUBLANG_NEUTRAL),
                            MAKELANGID(PRIMARYLANGID(language), SUBLANG_DEFAULT),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)};
    for (LANGID l : tries)
        if (FindInTable(module, id, l, text)) return text;
    return text;
}

std::wstring Text(UINT id) { return TextIn(id, TextLanguage()); }

LANGID OfficeUiLanguage(IDispatch* application) noexcept {
    const LANGID fallback = GetUserDefaultUILanguage();
    if (!application) return fallback;
    try {
        auto idOf = [](IDispatch* target, const wchar_t* name, DISPID& id) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
            return SUCCEEDED(target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        };
        DISPID id = DISPID_UNKNOWN;
        if (!idOf(application, L"LanguageSettings", id)) return fallback;
        DISPPARAMS none{};
        unique_variant settings;
        if (FAILED(application->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, settings.put(),
                                       nullptr, nullptr)) ||
            settings.vt != VT_DISPATCH || !settings.pdispVal)
            return fallback;
        if (!idOf(settings.pdispVal, L"LanguageID", id)) return fallback;
        unique_variant which = unique_variant::FromInt(2);  // msoLanguageIDUI
        DISPPARAMS args{&which, nullptr, 1, 0};
        unique_variant answer;
        if (FAILED(settings.pdispVal->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &args,
                                             answer.put(), nullptr, nullptr)) ||
            FAILED(VariantChangeType(&answer, &answer, 0, VT_I4)) || answer.lVal <= 0 || answer.lVal > 0xFFFF)
            return fallback;
        return static_cast<LANGID>(answer.lVal);
    } catch (...) {
        // The texts then follow Windows' language.
        RecordDroppedError(L"Office language");
        return fallback;
    }
}

}  // namespace qvr
