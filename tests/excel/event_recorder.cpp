#include "event_recorder.h"

#include <algorithm>

namespace xltest {

#define PUBLISH(event)                                                                             \
    [](qvr::TComponent& root, const std::wstring& method, const Recorder& r) {                     \
        root.PublishMethod(method, qvr::TExcel##event##Event(r));                                  \
    }
#define COMPONENT_ONLY(event, kinds, ...)                                                          \
    EventRow {                                                                                     \
        #event, {__VA_ARGS__}, kinds,                                                              \
            [](qvr::TqvrExcelAppEvents& e, const Recorder& r) { e.On##event = r; }, nullptr,       \
            PUBLISH(event)                                                                         \
    }
#define BOTH(event, kinds, ...)                                                                    \
    EventRow {                                                                                     \
        #event, {__VA_ARGS__}, kinds,                                                              \
            [](qvr::TqvrExcelAppEvents& e, const Recorder& r) { e.On##event = r; },                \
            [](qvr::TExcelApplication& a, const Recorder& r) { a.On##event = r; },                 \
            PUBLISH(event)                                                                         \
    }

// Excel's application events, row by row.
const std::vector<EventRow>& EventTable() {
    static const std::vector<EventRow> rows = {
        BOTH(WindowResize, "WN", 1554),
        BOTH(WindowActivate, "WN", 1556),
        BOTH(WindowDeactivate, "WN", 1557),
        BOTH(SheetSelectionChange, "DR", 1558),
        BOTH(SheetBeforeDoubleClick, "DRX", 1559),
        BOTH(SheetBeforeRightClick, "DRX", 1560),
        BOTH(SheetActivate, "D", 1561),
        BOTH(SheetDeactivate, "D", 1562),
        BOTH(SheetCalculate, "D", 1563),
        BOTH(SheetChange, "DR", 1564),
        BOTH(NewWorkbook, "W", 1565),
        BOTH(WorkbookOpen, "W", 1567),
        BOTH(WorkbookActivate, "W", 1568),
        BOTH(WorkbookDeactivate, "W", 1569),
        BOTH(WorkbookBeforeClose, "WX", 1570),
        BOTH(WorkbookBeforeSave, "WBX", 1571),
        BOTH(WorkbookBeforePrint, "WX", 1572),
        BOTH(WorkbookNewSheet, "WD", 1573),
        BOTH(WorkbookAddinInstall, "W", 1574),
        BOTH(WorkbookAddinUninstall, "W", 1575),
        BOTH(SheetFollowHyperlink, "DH", 1854),
        COMPONENT_ONLY(SheetPivotTableUpdate, "DP", 2157),
        COMPONENT_ONLY(WorkbookPivotTableCloseConnection, "WP", 2160),
        COMPONENT_ONLY(WorkbookPivotTableOpenConnection, "WP", 2161),
        COMPONENT_ONLY(WorkbookSync, "WI", 2289),
        COMPONENT_ONLY(WorkbookBeforeXmlImport, "WDTBX", 2290),
        COMPONENT_ONLY(WorkbookAfterXmlImport, "WDBI", 2291),
        COMPONENT_ONLY(WorkbookBeforeXmlExport, "WDTX", 2292),
        COMPONENT_ONLY(WorkbookAfterXmlExport, "WDTI", 2293),
        COMPONENT_ONLY(WorkbookRowsetComplete, "WTTB", 2611),
        COMPONENT_ONLY(AfterCalculate, "", 2612),
        COMPONENT_ONLY(SheetPivotTableAfterValueChange, "DPR", 2895),
        COMPONENT_ONLY(SheetPivotTableBeforeAllocateChanges, "DPIIX", 2896),
        COMPONENT_ONLY(SheetPivotTableBeforeCommitChanges, "DPIIX", 2897),
        COMPONENT_ONLY(SheetPivotTableBeforeDiscardChanges, "DPII", 2898),
        COMPONENT_ONLY(ProtectedViewWindowOpen, "D", 2903),
        COMPONENT_ONLY(ProtectedViewWindowBeforeEdit, "DX", 2905),
        COMPONENT_ONLY(ProtectedViewWindowBeforeClose, "DIX", 2906),
        COMPONENT_ONLY(ProtectedViewWindowResize, "D", 2908),
        COMPONENT_ONLY(ProtectedViewWindowActivate, "D", 2909),
        COMPONENT_ONLY(ProtectedViewWindowDeactivate, "D", 2910),
        COMPONENT_ONLY(WorkbookAfterSave, "WB", 2911),
        COMPONENT_ONLY(WorkbookNewChart, "WC", 2912),
        COMPONENT_ONLY(SheetLensGalleryRenderComplete, "D", 3073, 3075),
        COMPONENT_ONLY(SheetTableUpdate, "DD", 3074, 3076),
        COMPONENT_ONLY(SheetBeforeDelete, "D", 3077, 3079),
        COMPONENT_ONLY(WorkbookModelChange, "WD", 3078, 3080),
    };
    return rows;
}

namespace {
IID KindIID(char kind) {
    switch (kind) {
        case 'W': return officesim::xl::IID_Workbook;
        case 'N': return officesim::xl::DIID_Window;
        case 'R': return officesim::xl::IID_Range;
        case 'H': return officesim::xl::IID_Hyperlink;
        case 'P': return officesim::xl::IID_PivotTable;
        case 'C': return officesim::xl::IID_Chart;
        default: return IID_NULL;
    }
}
bool IsObject(char kind) { return std::string("WNRHPCD").find(kind) != std::string::npos; }
}  // namespace

Arguments::Arguments(const std::string& kinds) {
    cancels.assign(std::count(kinds.begin(), kinds.end(), 'X'), VARIANT_FALSE);
    texts.reserve(kinds.size());
    size_t cancel = 0;
    for (size_t i = 0; i < kinds.size(); ++i) {
        char kind = kinds[i];
        VARIANT v;
        VariantInit(&v);
        Microsoft::WRL::ComPtr<officesim::AutomationObject> object;
        if (IsObject(kind)) {
            // Every object answers exactly its own kind (a plain IDispatch for D).
            IID iid = KindIID(kind);
            object = IsEqualIID(iid, IID_NULL) ? officesim::AutomationObject::Make() : officesim::AutomationObject::Make({iid});
            v.vt = VT_DISPATCH;
            v.pdispVal = object.Get();
        } else if (kind == 'B') {
            v.vt = VT_BOOL;
            v.boolVal = i % 2 ? VARIANT_FALSE : VARIANT_TRUE;
        } else if (kind == 'I') {
            v.vt = VT_I4;
            v.lVal = 100 + static_cast<LONG>(i);
        } else if (kind == 'T') {
            texts.push_back(officesim::Var::Text(L"text " + std::to_wstring(i)));
            v = texts.back();
        } else if (kind == 'X') {
            v.vt = VT_BYREF | VT_BOOL;
            v.pboolVal = &cancels[cancel++];
        }
        variants.push_back(v);
        objects.push_back(object);
    }
}

std::string Arguments::Mismatch(const std::string& kinds, const Log& log) const {
    if (log.args.size() != kinds.size())
        return "received " + std::to_string(log.args.size()) + " arguments, expected " + std::to_string(kinds.size());
    for (size_t i = 0; i < kinds.size(); ++i) {
        const Received& r = log.args[i];
        const VARIANT& v = variants[i];
        std::string at = "argument " + std::to_string(i) + ": ";
        if (r.kind != kinds[i]) return at + "type " + r.kind + ", expected " + kinds[i];
        if (IsObject(kinds[i]) && r.object != static_cast<void*>(objects[i].Get())) return at + "another object";
        if (kinds[i] == 'B' && r.number != (v.boolVal ? 1 : 0)) return at + "another Boolean";
        if (kinds[i] == 'I' && r.number != v.lVal) return at + "another integer";
        if (kinds[i] == 'T' && r.text != std::wstring(v.bstrVal)) return at + "another text";
        if (kinds[i] == 'X' && r.number != VARIANT_FALSE) return at + "Cancel was not False on entry";
    }
    return {};
}

Microsoft::WRL::ComPtr<officesim::ExcelApplicationSim> MakeExcel(std::wstring version, bool withEvents) {
    auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>(std::move(version));
    app->offersEvents = withEvents;
    return app;
}

namespace {
// Not an owning reference: the application usually holds the object (cycle otherwise).
officesim::AutomationObject::Member ApplicationMember(IDispatch* application) {
    return [application](const officesim::AutomationCall&, VARIANT* result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = application;
        application->AddRef();
        return S_OK;
    };
}
}  // namespace

Microsoft::WRL::ComPtr<officesim::AutomationObject> MakeWorkbook(const std::wstring& fullName, IDispatch* application) {
    auto book = officesim::AutomationObject::Make({officesim::xl::IID_Workbook});
    book->Property(officesim::xl::FullName, officesim::Var::Text(fullName));
    book->On(officesim::xl::SaveCopyAs, [](const officesim::AutomationCall&, VARIANT*) { return S_OK; });
    book->On(officesim::xl::Close, [](const officesim::AutomationCall&, VARIANT*) { return S_OK; });
    if (application) book->On(officesim::xl::Application, ApplicationMember(application));
    return book;
}

Microsoft::WRL::ComPtr<officesim::AutomationObject> MakeWindow(IDispatch* application) {
    auto window = officesim::AutomationObject::Make({officesim::xl::DIID_Window});
    if (application) window->On(officesim::xl::Application, ApplicationMember(application));
    return window;
}

}  // namespace xltest
