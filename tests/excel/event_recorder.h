// A handler that fits every Excel event property and records what it received, and the table
// of Excel's application events as test data, written out independently of the code under test.
#pragma once

#include "excel_sim.h"
#include "module/excel_events.h"

#include <ostream>
#include <string>
#include <vector>

namespace xltest {

// What one argument arrived as. `kind` is fixed by the handler's parameter type:
// W _Workbook, N Window, R Range, H Hyperlink, P PivotTable, C _Chart, D IDispatch,
// B Boolean, I integer, T string, X by-reference Cancel.
struct Received {
    Received(char k, void* o = nullptr, LONG n = 0, std::wstring t = {})
        : kind(k), object(o), number(n), text(std::move(t)) {}
    char kind;
    void* object;
    LONG number;
    std::wstring text;
};

struct Log {
    int calls = 0;
    qvr::TObject* sender = nullptr;
    std::vector<Received> args;
};

// Assignable to any event property. Records the call; sets every Cancel to True.
struct Recorder {
    Log* log;
    template <typename... A>
    void operator()(qvr::TObject* sender, A&&... args) const {
        ++log->calls;
        log->sender = sender;
        log->args.clear();
        (Add(std::forward<A>(args)), ...);
    }
    void Add(ExcelWorkbook* p) const { log->args.push_back({'W', p}); }
    void Add(ExcelWindow* p) const { log->args.push_back({'N', p}); }
    void Add(ExcelRange* p) const { log->args.push_back({'R', p}); }
    void Add(ExcelHyperlink* p) const { log->args.push_back({'H', p}); }
    void Add(ExcelPivotTable* p) const { log->args.push_back({'P', p}); }
    void Add(ExcelChart* p) const { log->args.push_back({'C', p}); }
    void Add(IDispatch* p) const { log->args.push_back({'D', p}); }
    void Add(bool b) const { log->args.push_back({'B', nullptr, b ? 1 : 0}); }
    void Add(LONG i) const { log->args.push_back({'I', nullptr, i}); }
    void Add(const std::wstring& s) const { log->args.push_back({'T', nullptr, 0, s}); }
    void Add(VARIANT_BOOL& cancel) const {
        log->args.push_back({'X', nullptr, cancel});
        cancel = VARIANT_TRUE;
    }
};

// One row of the event table.
struct EventRow {
    const char* name;
    std::vector<DISPID> ids;
    std::string kinds;  // the arguments after the sender, as Received kinds
    void (*assignComponent)(qvr::TqvrExcelAppEvents&, const Recorder&);
    void (*assignApplication)(qvr::TExcelApplication&, const Recorder&);  // null: not one of the 21
    // Publishes a recorder as a method of `root` under `method`, of the event's handler type, for
    // a stored configuration to bind to.
    void (*publish)(qvr::TComponent& root, const std::wstring& method, const Recorder&);
};

inline std::ostream& operator<<(std::ostream& os, const EventRow& row) { return os << row.name; }

const std::vector<EventRow>& EventTable();

// The stand-in's Excel, answering Version with `version`; `withEvents` false: no connection
// point container (subscription must fail quietly).
Microsoft::WRL::ComPtr<officesim::ExcelApplicationSim> MakeExcel(std::wstring version = L"16.0",
                                                                 bool withEvents = true);
// A workbook object whose calls a test reads one by one: answers _Workbook; FullName (the text
// given), SaveCopyAs, Close and Application (not held: the application must outlive it).
Microsoft::WRL::ComPtr<officesim::AutomationObject> MakeWorkbook(const std::wstring& fullName,
                                                                 IDispatch* application = nullptr);
// A window object of the same kind: answers Window; Application (not held either).
Microsoft::WRL::ComPtr<officesim::AutomationObject> MakeWindow(IDispatch* application = nullptr);

// Excel's _Application, as the add-in obtains it (QueryInterface).
inline Microsoft::WRL::ComPtr<ExcelApplication> AsExcel(IDispatch* app) {
    Microsoft::WRL::ComPtr<ExcelApplication> typed;
    if (app) app->QueryInterface(__uuidof(ExcelApplication), reinterpret_cast<void**>(typed.GetAddressOf()));
    return typed;
}

// Arguments for an event with the given kinds, in declaration order: a new automation object of the
// right kind for objects, distinct values for the others, and a by-reference Boolean (False)
// for Cancel, whose variable is `cancels[i]` for the i-th Cancel.
struct Arguments {
    explicit Arguments(const std::string& kinds);
    std::vector<VARIANT> variants;  // not owning: `objects`, `texts` and `cancels` own the values
    std::vector<Microsoft::WRL::ComPtr<officesim::AutomationObject>> objects;  // per argument (null for values)
    std::vector<officesim::Var> texts;
    std::vector<VARIANT_BOOL> cancels;
    // Checks `log` against these arguments (type kinds, identities and values, Cancel False on
    // entry); returns a description of the first difference, or empty.
    std::string Mismatch(const std::string& kinds, const Log& log) const;
};

}  // namespace xltest
