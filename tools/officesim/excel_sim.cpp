#include "excel_sim.h"

#include <cwctype>
#include <utility>

namespace officesim {

namespace {

HRESULT ReturnDispatch(VARIANT* result, IDispatch* object) {
    if (!result) return S_OK;
    VariantInit(result);
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    if (object) object->AddRef();  // the caller owns the returned reference
    return S_OK;
}

HRESULT ReturnText(VARIANT* result, const std::wstring& text) {
    if (!result) return S_OK;
    VariantInit(result);
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
}

// Argument i in declaration order, or null when not passed.
const VARIANT* Arg(const DISPPARAMS* params, UINT i) {
    if (!params || i >= params->cArgs) return nullptr;
    return &params->rgvarg[params->cArgs - 1 - i];
}

std::vector<uint8_t> BlankWorkbook() {
    XlsxPackage p;
    p.SetEntry("xl/worksheets/sheet1.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
               "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData></sheetData></worksheet>");
    return p.Serialize();
}

HRESULT ReturnInt(VARIANT* result, LONG value) {
    if (!result) return S_OK;
    VariantInit(result);
    result->vt = VT_I4;
    result->lVal = value;
    return S_OK;
}

HRESULT ReturnBool(VARIANT* result, bool value) {
    if (!result) return S_OK;
    VariantInit(result);
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace

LONG xlformat::ForName(const std::wstring& name) {
    size_t dot = name.find_last_of(L'.');
    size_t slash = name.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return Workbook;
    std::wstring ext = name.substr(dot + 1);
    for (wchar_t& c : ext) c = static_cast<wchar_t>(towlower(c));
    if (ext == L"xlsm") return MacroWorkbook;
    if (ext == L"xlsb") return BinaryWorkbook;
    if (ext == L"xls") return Excel8;
    return Workbook;
}

HRESULT ExcelFailure::Raise(EXCEPINFO* excep) const {
    if (description.empty()) return code;
    if (excep) {
        *excep = {};
        excep->bstrSource = SysAllocString(source.c_str());
        excep->bstrDescription = SysAllocString(description.c_str());
        excep->scode = code;
    }
    return DISP_E_EXCEPTION;
}

// ---- workbook ----

WorkbookSim::WorkbookSim(ExcelApplicationSim& app, std::wstring fullName, std::optional<XlsxPackage> package,
                         HANDLE file)
    : app_(app), fullName_(std::move(fullName)), package_(std::move(package)), file_(file) {}

WorkbookSim::~WorkbookSim() { ReleaseFile(); }

void WorkbookSim::ReleaseFile() {
    if (file_) CloseHandle(file_);
    file_ = nullptr;
}

void* WorkbookSim::QueryExtra(REFIID riid) {
    static const IID workbook = {0x000208DA, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    return IsEqualIID(riid, workbook) ? static_cast<IDispatch*>(this) : nullptr;
}

void WorkbookSim::Edit(const std::string& ref, const std::string& text) {
    if (package_) package_->SetCellText(ref, text);
    saved_ = false;
}

HRESULT STDMETHODCALLTYPE WorkbookSim::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                                              VARIANT* result, EXCEPINFO* excep, UINT*) {
    app_.Record(L"Workbook", id, lcid, flags, params);
    if (closed_) return E_UNEXPECTED;  // a closed workbook's object no longer works
    const ExcelFailures& fail = app_.failures;
    switch (id) {
        case xl::FullName:
            if (fail.fullName.Fails()) return fail.fullName.Raise(excep);
            return ReturnText(result, fullName_);
        case xl::ReadOnly:
            if (fail.readOnly.Fails()) return fail.readOnly.Raise(excep);
            return ReturnBool(result, readOnly_);
        case xl::FileFormat:
            if (fail.fileFormat.Fails()) return fail.fileFormat.Raise(excep);
            return ReturnInt(result, fileFormat_);
        case xl::Name:
            return ReturnText(result, fullName_.substr(fullName_.find_last_of(L"\\/") + 1));
        case xl::Application:
            return ReturnDispatch(result, &app_);
        case xl::SaveCopyAs: {
            if (fail.saveCopyAs.Fails()) return fail.saveCopyAs.Raise(excep);
            const VARIANT* name = Arg(params, 0);
            if (!name || name->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
            std::vector<uint8_t> bytes = package_ ? package_->Serialize() : BlankWorkbook();
            if (!WriteWholeFile(name->bstrVal, bytes)) return HRESULT_FROM_WIN32(GetLastError());
            return S_OK;  // the workbook keeps its name, file and saved state
        }
        case xl::Close: {
            if (fail.close.Fails()) return fail.close.Raise(excep);
            const VARIANT* save = Arg(params, 0);
            bool saveChanges = save && save->vt == VT_BOOL && save->boolVal != VARIANT_FALSE;
            if (saveChanges && package_) {
                ReleaseFile();
                WriteWholeFile(fullName_, package_->Serialize());
                saved_ = true;
            }
            closed_ = true;
            ReleaseFile();
            app_.WorkbookClosed(this);
            if (result) VariantInit(result);
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

// ---- window ----

void* WindowSim::QueryExtra(REFIID riid) {
    return IsEqualIID(riid, mso::DIID_Window) ? static_cast<IDispatch*>(this) : nullptr;
}

HRESULT STDMETHODCALLTYPE WindowSim::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                                            VARIANT* result, EXCEPINFO* excep, UINT*) {
    app_.Record(L"Window", id, lcid, flags, params);
    if (id == xl::Application && (flags & DISPATCH_PROPERTYGET)) {
        if (app_.failures.windowApplication.Fails()) return app_.failures.windowApplication.Raise(excep);
        return ReturnDispatch(result, &app_);
    }
    return DISP_E_MEMBERNOTFOUND;
}

// ---- application ----

ExcelApplicationSim::ExcelApplicationSim(std::wstring version)
    : version_(std::move(version)), window_(new WindowSim(*this)) {}

ExcelApplicationSim::~ExcelApplicationSim() { RevokeRunning(); }

void ExcelApplicationSim::Record(const wchar_t* object, DISPID id, LCID lcid, WORD flags, const DISPPARAMS* params) {
    ExcelCall call{object, id, lcid, flags, {}};
    for (UINT i = 0; params && i < params->cArgs; ++i) {
        qvr::unique_variant copy;
        VariantCopy(&copy, const_cast<VARIANT*>(Arg(params, i)));
        call.args.push_back(std::move(copy));
    }
    calls_.push_back(std::move(call));
}

std::vector<const ExcelCall*> ExcelApplicationSim::CallsTo(DISPID id) const {
    std::vector<const ExcelCall*> found;
    for (const auto& c : calls_)
        if (c.id == id) found.push_back(&c);
    return found;
}

WorkbookSim* ExcelApplicationSim::Open(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    // Excel keeps the file open while the workbook is: it cannot be deleted meanwhile.
    HANDLE file = CreateFileW(full, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    std::optional<XlsxPackage> package = XlsxPackage::Parse(bytes);
    if (!package) {
        CloseHandle(file);
        return nullptr;
    }
    books_.emplace_back(new WorkbookSim(*this, full, std::move(package), file));
    // Excel opens a file that carries the read-only attribute read-only.
    DWORD attributes = GetFileAttributesW(full);
    books_.back()->SetReadOnly(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY));
    books_.back()->SetFileFormat(xlformat::ForName(full));
    return books_.back().Get();
}

WorkbookSim* ExcelApplicationSim::NewUntitled(const std::wstring& title) {
    books_.emplace_back(new WorkbookSim(*this, title, XlsxPackage::Parse(BlankWorkbook()), nullptr));
    return books_.back().Get();
}

WorkbookSim* ExcelApplicationSim::ActiveWorkbook() const {
    for (auto it = books_.rbegin(); it != books_.rend(); ++it)
        if (!(*it)->Closed()) return it->Get();
    return nullptr;
}

size_t ExcelApplicationSim::OpenWorkbooks() const {
    size_t n = 0;
    for (const auto& b : books_) n += b->Closed() ? 0 : 1;
    return n;
}

void ExcelApplicationSim::WorkbookClosed(WorkbookSim*) {}

// Office's LanguageSettings object: LanguageID(msoLanguageIDUI) is the application's UI language.
class LanguageSettingsSim : public SimObject<IDispatch> {
public:
    explicit LanguageSettingsSim(LANGID ui) : ui_(ui) {}
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 1 || _wcsicmp(names[0], L"LanguageID") != 0) return DISP_E_UNKNOWNNAME;
        *ids = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (id != 1 || !(flags & DISPATCH_PROPERTYGET) || !params || params->cArgs != 1) return DISP_E_MEMBERNOTFOUND;
        Var which;
        if (FAILED(VariantChangeType(&which, &params->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
        if (!result) return S_OK;
        VariantInit(result);
        result->vt = VT_I4;
        // msoLanguageIDUI (2) is the UI language; the others are the installation's, English here.
        result->lVal = which.lVal == 2 ? ui_ : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
        return S_OK;
    }

private:
    LANGID ui_;
};

HRESULT STDMETHODCALLTYPE ExcelApplicationSim::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    static const struct {
        const wchar_t* name;
        DISPID id;
    } kNames[] = {{L"LanguageSettings", xl::LanguageSettings}, {L"COMAddIns", xl::COMAddIns}, {L"Quit", xl::Quit},
                  {L"Version", xl::Version},                   {L"DisplayAlerts", xl::DisplayAlerts},
                  {L"Visible", xl::Visible}};
    if (!names || !ids) return E_POINTER;
    if (count != 1) return DISP_E_UNKNOWNNAME;
    for (const auto& known : kNames)
        if (_wcsicmp(names[0], known.name) == 0) {
            *ids = known.id;
            return S_OK;
        }
    *ids = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE ExcelApplicationSim::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                                                      VARIANT* result, EXCEPINFO* excep, UINT*) {
    // Reading Office's UI language changes nothing in Excel: not among the calls tests count.
    if (id == xl::LanguageSettings)
        return ReturnDispatch(result, SimObject<IDispatch>::Make<LanguageSettingsSim>(uiLanguage).Get());
    Record(L"Application", id, lcid, flags, params);
    if (HRESULT hr; Scripted(id, lcid, flags, params, result, hr)) return hr;
    switch (id) {
        case xl::Version:
            return ReturnText(result, version_);
        case xl::Application:
            return ReturnDispatch(result, this);

        case xl::ActiveWindow:
            if (failures.activeWindow.Fails()) return failures.activeWindow.Raise(excep);
            return ReturnDispatch(result, failures.noActiveWindow || !ActiveWorkbook() ? nullptr : window_.Get());
        case xl::ActiveWorkbook:
            if (failures.activeWorkbook.Fails()) return failures.activeWorkbook.Raise(excep);
            return ReturnDispatch(result, failures.noActiveWorkbook ? nullptr : ActiveWorkbook());
        case xl::Workbooks:
            return ReturnDispatch(result, AutomationObject::Make({xl::IID_Workbooks}).Get());
        case xl::COMAddIns:
            return ReturnDispatch(result, SimObject<IDispatch>::Make<COMAddInsSim>(comAddIns).Get());
        case xl::DisplayAlerts:
        case xl::Visible: {
            bool& flag = id == xl::Visible ? visible : displayAlerts;
            if (flags & DISPATCH_PROPERTYPUT) {
                Var value;
                if (!params || params->cArgs != 1 || FAILED(VariantChangeType(&value, &params->rgvarg[0], 0, VT_BOOL)))
                    return DISP_E_TYPEMISMATCH;
                flag = value.boolVal != VARIANT_FALSE;
                return S_OK;
            }
            return ReturnBool(result, flag);
        }
        case xl::Quit:
            if (failures.quit.Fails()) return failures.quit.Raise(excep);
            ++quitCalls;
            if (cancelQuits > 0) {
                --cancelQuits;
                ++cancelledQuits;
            } else if (onQuit) {
                onQuit();
            }
            if (result) VariantInit(result);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

// ---- application: what tests script, events, registration with COM ----

bool ExcelApplicationSim::Scripted(DISPID id, LCID lcid, WORD flags, const DISPPARAMS* params, VARIANT* result,
                                   HRESULT& hr) {
    if (auto failure = scriptedFailures_.find(id); failure != scriptedFailures_.end()) {
        hr = failure->second;
        scriptedFailures_.erase(failure);
        return true;
    }
    auto member = scripted_.find(id);
    if (member == scripted_.end()) return false;
    AutomationCall call{id, flags, lcid, {}};
    for (UINT i = 0; params && i < params->cArgs; ++i) call.args.emplace_back(*Arg(params, i));
    Var ignored;
    if (result) VariantInit(result);
    hr = member->second(call, result ? result : &ignored);
    return true;
}

void ExcelApplicationSim::Property(DISPID id, const Var& value) {
    On(id, [value](const AutomationCall&, VARIANT* result) { return VariantCopy(result, const_cast<Var*>(&value)); });
}

void ExcelApplicationSim::SetActiveWindow(IDispatch* window) {
    if (!window) {
        scripted_.erase(xl::ActiveWindow);
        return;
    }
    Property(xl::ActiveWindow, Var::Object(window));
}

void ExcelApplicationSim::SetActiveWorkbook(IDispatch* workbook) {
    if (!workbook) {
        scripted_.erase(xl::ActiveWorkbook);
        return;
    }
    Property(xl::ActiveWorkbook, Var::Object(workbook));
}

void* ExcelApplicationSim::QueryExtra(REFIID riid) {
    if (offersEvents && IsEqualIID(riid, IID_IConnectionPointContainer)) return events_.Container();
    return nullptr;
}

void ExcelApplicationSim::RegisterRunning() {
    if (rotCookie_) return;
    if (FAILED(RegisterActiveObject(static_cast<IUnknown*>(this), xl::CLSID_Application, ACTIVEOBJECT_STRONG,
                                    &rotCookie_)))
        rotCookie_ = 0;
}

void ExcelApplicationSim::RevokeRunning() {
    if (rotCookie_) RevokeActiveObject(std::exchange(rotCookie_, 0), nullptr);
}

class ExcelApplicationSim::Factory::ClassObject final : public SimObject<IClassFactory> {
public:
    explicit ClassObject(Factory& owner) : owner_(&owner) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!owner_) return E_UNEXPECTED;
        auto app = Make<ExcelApplicationSim>();
        owner_->created.push_back(app);
        return app->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    void Orphan() { owner_ = nullptr; }

private:
    Factory* owner_;
};

std::shared_ptr<ExcelApplicationSim::Factory> ExcelApplicationSim::RegisterFactory() {
    std::shared_ptr<Factory> factory(new Factory);
    factory->classObject_ = SimObject<IClassFactory>::Make<Factory::ClassObject>(*factory);
    if (FAILED(CoRegisterClassObject(xl::CLSID_Application, factory->classObject_.Get(), CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &factory->cookie_)))
        factory->cookie_ = 0;
    return factory;
}

ExcelApplicationSim::Factory::~Factory() {
    if (cookie_) CoRevokeClassObject(cookie_);
    if (classObject_) static_cast<ClassObject*>(classObject_.Get())->Orphan();
}

}  // namespace officesim
