#include "module/module.h"

#include "com/dialogs.h"
#include "com/dispatch.h"
#include "com/dll.h"
#include "com/guards.h"
#include "com/log.h"
#include "com/query.h"
#include "com/texts.h"
#include "module/excel_app.h"
#include "module/excel_events.h"

#include <algorithm>
#include <cwctype>

namespace qvr {

namespace {

// Host application interfaces in the order they are tried; the first one answered decides.
struct HostInterface {
    GUID iid;
    TqvrOfficeHostApp kind;
};
constexpr HostInterface kHostInterfaces[] = {
    {{0x00020970, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, ohaWord},
    {{0x000208D5, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, ohaExcel},
    {{0x00063001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, ohaOutlook},
    {{0x68CCE6C0, 0x6129, 0x101B, {0xAF, 0x4E, 0x00, 0xAA, 0x00, 0x3F, 0x0F, 0x07}}, ohaAccess},
    {{0x00020AFF, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, ohaProject},
    {{0x91493442, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}}, ohaPowerPoint},
    {{0x04DF1014, 0x7007, 0x11D1, {0x83, 0xBC, 0x00, 0x60, 0x97, 0xAB, 0xE6, 0x75}}, ohaFrontPage},
    {{0xD6D389CE, 0x1781, 0x47A0, {0x89, 0x84, 0x43, 0x49, 0x68, 0x7F, 0x65, 0xD6}}, ohaMapPoint},
    {{0x000D0700, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, ohaVisio},
    {{0x0002123E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, ohaPublisher},
    {{0x096CD72E, 0x0786, 0x11D1, {0x95, 0xFA, 0x00, 0x80, 0xC7, 0x8E, 0xE3, 0xBB}}, ohaInfoPath},
    {{0x452AC71A, 0xB655, 0x4967, {0xA2, 0x08, 0xA4, 0xCC, 0x39, 0xDD, 0x79, 0x49}}, ohaOneNote},
};

constexpr uint32_t kOutlookExplorerBit = 1u << 23;  // msrOutlookExplorer in the 2007 ribbon set
constexpr uint16_t kOutlookExplorer2010Bit = 1u << 0;  // msrOutlookExplorer2010

[[noreturn]] void RaiseEmptyProperty(const wchar_t* name) {
    throw EqvrError(FormatText(L"The %s property cannot be empty.", {name}), kErrEmptyProperty, ErrorKind::Ole, 0);
}

}  // namespace

TqvrHostAppSet HostAppSetFromNames(const std::vector<std::wstring>& names) {
    TqvrHostAppSet set;
    for (const auto& n : names)
        for (int i = 0; i < kHostCount; ++i)
            if (_wcsicmp(n.c_str(), kHosts[i].enumerator) == 0) set.bits = static_cast<uint16_t>(set.bits | (1u << i));
    return set;
}

std::vector<std::wstring> HostAppSetNames(TqvrHostAppSet set) {
    std::vector<std::wstring> names;
    for (int i = 0; i < kHostCount; ++i)
        if (set.Contains(static_cast<TqvrOfficeHostApp>(i))) names.emplace_back(kHosts[i].enumerator);
    return names;
}

TqvrCOMAddInModule::TqvrCOMAddInModule(TComponent* owner)
    : TComponent(owner), FRegistry(std::make_unique<TRegistry>(HKEY_CURRENT_USER, KEY_ALL_ACCESS)) {}

void TqvrCOMAddInModule::LoadStoredConfiguration() {
    HMODULE resources = ServerModule();
    if (!resources) resources = GetModuleHandleW(nullptr);
    std::wstring resourceName = ClassName();
    std::transform(resourceName.begin(), resourceName.end(), resourceName.begin(), towupper);
    TFormReader::ReadRoot(*this, TFormReader::LoadResourceForm(resources, resourceName));
    // Run-time references never come from stored data.
    FICmdBars.Reset();
    FCOMAddInClassInstance = nullptr;
    FAddInClass = nullptr;
    FAddInInstance.Reset();
    FRibbonUI.Reset();
    FCTPFactory.Reset();
}

TqvrCOMAddInModule::~TqvrCOMAddInModule() {
    // 1. The registry accessor.
    FRegistry.reset();
    // 2. The host binding: the host-event component is disconnected (it stays one of the
    //    module's components until step 7 destroys it), then the Excel application object is
    //    freed, which disconnects it from Excel.
    if (TqvrCustomEvents* events = std::exchange(FHostEvents, nullptr)) events->Disconnect();
    FExcelApp.reset();
    // 3. The ribbon lists. The tabs, destroyed with the other components in step 7, must not
    //    reach back into them.
    if (FRibbonHost)
        for (auto* list : {&FTabs, &FContextTabs})
            for (TqvrRibbonTab* tab : *list) FRibbonHost->DetachTab(*tab);
    FRibbonControls.Clear();
    FContextTabs.clear();
    FTabs.clear();
    FCommands.clear();
    // 4. Office's references and the connection.
    FRibbonUI.Reset();
    FCTPFactory.Reset();
    FICmdBars.Reset();
    FCOMAddInClassInstance = nullptr;
    FAddInClass = nullptr;
    FAddInInstance.Reset();
    FHostApp.reset();
    // 5. The hooks, before the windows they post to: none may run against a module in pieces.
    RemoveKeyboardHook();
    RemoveMessageHook();
    // 6. The hidden windows (there is no shortcut list: legacy command bars are not built).
    FNativeColorWindow.reset();
    FNativeWindow.reset();
    FInternalMessagingWindow.reset();
    // 7. The base destroys the owned components.
}

void TqvrCOMAddInModule::SetAddInName(const std::wstring& value) {
    if (value.empty()) RaiseEmptyProperty(L"AddInName");
    FAddInName = value;
}

void TqvrCOMAddInModule::SetSupportedApps(TqvrHostAppSet value) {
    if (value.Empty()) RaiseEmptyProperty(L"SupportedApps");
    FSupportedApps = value;
}

void TqvrCOMAddInModule::SetHandleShortcuts(bool value) {
    FHandleShortcuts = value;
    if (!DesignMode()) ResetShortcutHandling(value);
}

void TqvrCOMAddInModule::ResetShortcutHandling(bool install) {
    RemoveKeyboardHook();
    FNativeWindow.reset();
    if (!install) return;
    FNativeWindow = std::make_unique<TqvrNativeWindow>(*this);
    InstallKeyboardHook();
}

void TqvrCOMAddInModule::CreateHiddenWindows() {
    // Each old window goes before its successor is made.
    FNativeColorWindow.reset();
    FNativeColorWindow = std::make_unique<TqvrNativeColorWindow>(*this);
    FInternalMessagingWindow.reset();
    FInternalMessagingWindow = std::make_unique<TqvrInternalMessagingWindow>(*this);
}

void TqvrCOMAddInModule::SendMessage(UINT Msg, WPARAM wParam, LPARAM lParam) {
    // Posted, not sent: the add-in's work runs after the current call from Office has returned.
    if (FInternalMessagingWindow) PostMessageW(FInternalMessagingWindow->Handle(), Msg, wParam, lParam);
}

void TqvrCOMAddInModule::SetStartFromScratch(uint32_t value) {
    FStartFromScratch = value;
    // msrOutlookExplorer and msrOutlookExplorer2010 name the same ribbon.
    if (value & kOutlookExplorerBit)
        FStartFromScratch2010 = static_cast<uint16_t>(FStartFromScratch2010 | kOutlookExplorer2010Bit);
    else
        FStartFromScratch2010 = static_cast<uint16_t>(FStartFromScratch2010 & ~kOutlookExplorer2010Bit);
}

void TqvrCOMAddInModule::SetStartFromScratch2010(uint16_t value) {
    FStartFromScratch2010 = value;
    if (value & kOutlookExplorer2010Bit)
        FStartFromScratch |= kOutlookExplorerBit;
    else
        FStartFromScratch &= ~kOutlookExplorerBit;
}

std::wstring TqvrCOMAddInModule::RegistryKey() const {
    return FAddInClass ? FAddInClass->GetRegKey(FHostType) : std::wstring();
}

void TqvrCOMAddInModule::SetHostApp(IDispatch* app) {
    FHostApp = unique_variant::FromDispatch(app);
    FOfficeLanguageChosen = false;
}

std::wstring TqvrCOMAddInModule::HostVersion() {
    try {
        if (FHostType == ohaExcel && FExcelApp) return FExcelApp->Version(LOCALE_USER_DEFAULT);
    } catch (...) {
        // Excel that cannot say its version is taken for the oldest the framework knows.
        RecordDroppedError(L"host version");
    }
    return L"9.0.0.0";
}

void TqvrCOMAddInModule::HandleError(const EqvrError& E) {
    bool handled = false;
    if (OnError) {
        try {
            OnError(E, handled);
        } catch (...) {
            // The error the handler was given is reported below; its own is recorded.
            RecordDroppedError(L"error report");
            handled = false;
        }
    }
    if (handled) {
        LogVerbose(L"error report", L"handled by OnError: " + E.Message());
        return;
    }
    UseOfficeLanguage();
    const std::wstring text = FormatText(Text(kTextErrorReport), {FAddInName, E.Message()});
    LogErrorShown(L"error report", text);
    ShowMessageDialog(text, Text(kTextCaptionError), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void TqvrCOMAddInModule::UseOfficeLanguage() {
    if (FOfficeLanguageChosen) return;
    FOfficeLanguageChosen = true;
    SetTextLanguage(OfficeUiLanguage(FHostApp.vt == VT_DISPATCH ? FHostApp.pdispVal : nullptr));
}

void TqvrCOMAddInModule::ReadHostMajorVersionFromExecutable() {
    wchar_t path[262] = {};
    GetModuleFileNameW(nullptr, path, 262);
    std::wstring name = path;
    size_t slash = name.find_last_of(L"\\/:");
    if (slash != std::wstring::npos) name = name.substr(slash + 1);
    if (_wcsicmp(name.c_str(), L"dllhost.exe") == 0) {
        FHostMajorVersion = 14;
        return;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (!size) return;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info) return;
    FHostMajorVersion = static_cast<int32_t>(HIWORD(info->dwFileVersionMS));
}

void TqvrCOMAddInModule::BindHost() {
    if (FHostApp.vt != VT_DISPATCH || !FHostApp.pdispVal) return;
    for (const auto& host : kHostInterfaces) {
        Microsoft::WRL::ComPtr<IUnknown> answered = TryQuery<IUnknown>(FHostApp.pdispVal, host.iid);
        if (!answered) continue;
        FHostType = host.kind;
        if (host.kind != ohaExcel) return;  // other hosts are not served by this framework build

        // The interface answered is Excel's _Application.
        Microsoft::WRL::ComPtr<ExcelApplication> app(static_cast<ExcelApplication*>(answered.Get()));
        FExcelApp = std::make_unique<TExcelApplication>(nullptr);
        // Errors of handlers on ExcelApp's own events are the add-in's, like every other one.
        FExcelApp->SetErrorReport([this](const EqvrError& e) { HandleError(e); });
        FExcelApp->ConnectTo(app.Get());
        ReadHostMajorVersionFromExecutable();
        if (FHostMajorVersion > 11) FIsRibbon = true;
        BindHostEvents(app.Get());
        return;
    }
}

// ---- life cycle ----

void TqvrCOMAddInModule::Connect(const TqvrConnectInfo& info) {
    SetHostApp(info.Application);
    SetConnection(info.ClassInstance, info.AddInClass);
    if (info.RibbonHost) AttachRibbonHost(*info.RibbonHost);
    FHostStartMode = info.HostStartMode;
}

bool TqvrCOMAddInModule::StartupComplete() {
    if (++FStartupCompleteCounter > 1) return false;
    if (FExcelApp) return false;

    BindHost();

    // The add-in's own key stays open for the add-in until the last disconnection; the start mode
    // is read through it before any handler of the add-in runs.
    FRegistry->SetRootKey(HKEY_CURRENT_USER);
    const bool keyOpen = FRegistry->OpenKey(RegistryKey(), true);

    const bool rewriteStartMode = keyOpen && ReadStartMode();
    ReadOfficeColorSchemeAtStartup();

    // The host's command bars, for legacy command bars; any failure leaves them unset.
    FICmdBars = HostCommandBars();

    Fire(OnAddInInitialize, this);
    // Legacy command bars and custom task panes: this framework build defines none.
    Fire(OnAddInStartupComplete, this);

    // A key of its own: the add-in's handlers above may have moved the module's accessor.
    if (FStartMode == smFirstStart || rewriteStartMode) {
        TRegistry reg(HKEY_CURRENT_USER);
        if (reg.OpenKey(RegistryKey(), true)) reg.WriteString(L"QVRStartMode", L"NORMAL");
    }
    return true;
}

bool TqvrCOMAddInModule::ReadStartMode() {
    // One query for type and text: the registry's round trips are a good part of a start.
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!FRegistry->ReadValue(L"QVRStartMode", type, data)) {
        FStartMode = smFirstStart;
        return false;
    }
    // A value that is not text (a number written by a script or an administrative template) names
    // no start mode. It is taken like unrecognised text, and replaced with the text a start
    // writes, so that it does not stop every start that follows.
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        FStartMode = smUnrecognized;
        return true;
    }
    std::wstring mode = RegistryText(data);
    std::transform(mode.begin(), mode.end(), mode.begin(), towupper);
    if (mode == L"UNINSTALL")
        FStartMode = smUninstall;
    else if (mode == L"NORMAL")
        FStartMode = smNormal;
    else if (mode == L"FIRSTSTART")
        FStartMode = smFirstStart;
    else
        FStartMode = smUnrecognized;
    return false;
}

void TqvrCOMAddInModule::CreateWindowsAndHooks() {
    // The shortcut window and the keyboard hook, only when the add-in asked for key presses.
    if (FHandleShortcuts) ResetShortcutHandling(true);
    CreateHiddenWindows();
    // Office 2016 on Windows 10 redraws its ribbon per monitor DPI and needs the add-in's pictures
    // again after a DPI change.
    if (FHostMajorVersion >= 16 && WindowsMajorVersion() >= 10) InstallRibbonInvalidationHook();
}

void TqvrCOMAddInModule::BeginShutdown() { Fire(OnAddInBeginShutdown, this); }

void TqvrCOMAddInModule::Disconnect(int32_t RemoveMode, bool RaiseShutdownEvents) {
    // The add-in key is closed whatever happens below.
    const ScopeExit closeKey([this]() noexcept { FRegistry->CloseKey(); });

    if (RemoveMode != office::ext_dm_HostShutdown) {
        if (RaiseShutdownEvents) BeginShutdown();
        // Legacy command-bar state kept under the add-in key.
        TRegistry reg(HKEY_CURRENT_USER);
        std::wstring key = RegistryKey();
        for (const wchar_t* sub : {L"\\CommandBars", L"\\Controls"})
            if (reg.KeyExists(key + sub)) reg.DeleteKeyTree(key + sub);
    }
    if (RaiseShutdownEvents) Fire(OnAddInFinalize, this);
}

void TqvrCOMAddInModule::ExtensionEvent(const std::wstring& key, int i1, int i2, int i3, const std::wstring& s1,
                                        const std::wstring& s2, const std::wstring& s3) {
    if (FOnCallBack) FOnCallBack(key, i1, i2, i3, s1, s2, s3);
}

void TqvrCOMAddInModule::BindHostEvents(IDispatch* application) {
    // The first of the module's own components that handles Excel's application events.
    FHostEvents = nullptr;
    for (TComponent* c : Components()) {
        if (auto* events = dynamic_cast<TqvrExcelAppEvents*>(c)) {
            FHostEvents = events;
            break;
        }
    }
    if (FHostEvents) FHostEvents->ConnectTo(application);
}

void TqvrCOMAddInModule::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == static_cast<TComponent*>(FHostEvents)) FHostEvents = nullptr;
}

void TqvrCOMAddInModule::ReadOfficeColorSchemeAtStartup() {
    FOfficeColorScheme = StartupOfficeColorScheme(FHostMajorVersion, FOfficeColorScheme);
}

void TqvrCOMAddInModule::ReadProperty(const FormProperty& p) {
    const std::wstring& n = p.name;
    auto is = [&](const wchar_t* name) { return _wcsicmp(n.c_str(), name) == 0; };
    if (is(L"AddInName")) SetAddInName(p.value.AsString());
    else if (is(L"Description")) Description = p.value.AsString();
    else if (is(L"DisplayAlerts")) DisplayAlerts = p.value.AsBoolean();
    else if (is(L"LoadBehavior")) LoadBehavior = static_cast<int32_t>(p.value.AsInteger());
    else if (is(L"RegisterForAllUsers")) RegisterForAllUsers = p.value.AsBoolean();
    else if (is(L"SupportedApps")) SetSupportedApps(HostAppSetFromNames(p.value.members));
    else if (is(L"XLAutomationAddIn")) XLAutomationAddIn = p.value.AsBoolean();
    else if (is(L"HandleShortcuts")) FHandleShortcuts = p.value.AsBoolean();
    else if (is(L"Namespace")) Namespace = p.value.AsString();
    else if (is(L"StartFromScratch")) SetStartFromScratch(RibbonsFromValue(p.value).bits);
    else if (is(L"StartFromScratch2010")) SetStartFromScratch2010(Ribbons2010FromValue(p.value).bits);
    else if (is(L"TaskPanes")) FTaskPanesStored = true;  // custom task panes: none are built
    else if (is(L"OldCreateOrder")) FOldCreateOrder = p.value.AsBoolean();
    else if (is(L"Height")) FDesignHeight = p.value.AsInteger();
    else if (is(L"Width")) FDesignWidth = p.value.AsInteger();
    else if (is(L"OnAddInInitialize")) OnAddInInitialize = BindEvent<TNotifyEvent>(p);
    else if (is(L"OnAddInStartupComplete")) OnAddInStartupComplete = BindEvent<TNotifyEvent>(p);
    else if (is(L"OnAddInBeginShutdown")) OnAddInBeginShutdown = BindEvent<TNotifyEvent>(p);
    else if (is(L"OnAddInFinalize")) OnAddInFinalize = BindEvent<TNotifyEvent>(p);
    else if (is(L"OnAfterAddinRegister")) OnAfterAddinRegister = BindEvent<TNotifyEvent>(p);
    else if (is(L"OnBeforeAddinUnregister")) OnBeforeAddinUnregister = BindEvent<TNotifyEvent>(p);
    else if (is(L"OnError")) OnError = BindEvent<TqvrOnError>(p);
    else if (is(L"OnRibbonBeforeCreate")) OnRibbonBeforeCreate = BindEvent<TqvrRibbonBeforeCreateEvent>(p);
    else if (is(L"OnRibbonBeforeLoad")) OnRibbonBeforeLoad = BindEvent<TqvrRibbonBeforeLoadEvent>(p);
    else if (is(L"OnRibbonLoaded")) OnRibbonLoaded = BindEvent<TqvrRibbonLoadedEvent>(p);
    else if (is(L"OnOfficeColorSchemeChanged")) OnOfficeColorSchemeChanged = BindEvent<TqvrOfficeColorSchemeChanged>(p);
    else if (is(L"OnBeforeDisplayAlerts")) OnBeforeDisplayAlerts = BindEvent<TqvrBeforeDisplayAlertsEvent>(p);
    else if (is(L"OnSendMessage")) OnSendMessage = BindEvent<TqvrSendMessageEvent>(p);
    else if (is(L"OnKeyDown")) OnKeyDown = BindEvent<TqvrKeyDownEventHandler>(p);
    else ThrowUnknownProperty(n);
}

void TqvrCOMAddInModule::WriteProperties(std::vector<FormProperty>& out) const {
    // Values equal to the defaults are not stored.
    if (FOldCreateOrder) out.push_back({L"OldCreateOrder", FormValue::Boolean(true)});
    if (!FAddInName.empty()) out.push_back({L"AddInName", FormValue::String(FAddInName)});
    if (!Description.empty()) out.push_back({L"Description", FormValue::String(Description)});
    if (DisplayAlerts) out.push_back({L"DisplayAlerts", FormValue::Boolean(true)});
    if (LoadBehavior != 3) out.push_back({L"LoadBehavior", FormValue::Integer(LoadBehavior)});
    if (RegisterForAllUsers) out.push_back({L"RegisterForAllUsers", FormValue::Boolean(true)});
    if (!(FSupportedApps == TqvrHostAppSet{ohaExcel}))
        out.push_back({L"SupportedApps", FormValue::Set(HostAppSetNames(FSupportedApps))});
    if (XLAutomationAddIn) out.push_back({L"XLAutomationAddIn", FormValue::Boolean(true)});
    if (FHandleShortcuts) out.push_back({L"HandleShortcuts", FormValue::Boolean(true)});
    if (!Namespace.empty()) out.push_back({L"Namespace", FormValue::String(Namespace)});
    if (FStartFromScratch)
        out.push_back({L"StartFromScratch", FormValue::Set(RibbonsNames(TqvrRibbons(FStartFromScratch)))});
    if (FStartFromScratch2010)
        out.push_back({L"StartFromScratch2010", FormValue::Set(Ribbons2010Names(TqvrRibbons2010(FStartFromScratch2010)))});
    if (FTaskPanesStored) {
        FormValue panes;
        panes.kind = FormValue::Kind::Collection;
        out.push_back({L"TaskPanes", panes});
    }
    if (FDesignHeight) out.push_back({L"Height", FormValue::Integer(FDesignHeight)});
    if (FDesignWidth) out.push_back({L"Width", FormValue::Integer(FDesignWidth)});
    WriteEventBindings(out);
}

TObject* TqvrCOMAddInModule::FindRibbonControl(const std::wstring& ID) const {
    if (int i = FRibbonControls.IndexOf(ID); i >= 0) return FRibbonControls.Objects(i);
    // A component whose Id changed after it was registered is found by its current Id.
    if (!FRibbonHost) return nullptr;
    std::wstring id;
    for (const auto& e : FRibbonControls.Entries())
        if (FRibbonHost->ComponentId(e.object, id) && id == ID) return e.object;
    return nullptr;
}

TObject* TqvrCOMAddInModule::FindRibbonControl(int32_t Tag) const {
    if (!FRibbonHost) return nullptr;
    int32_t tag = 0;
    for (const auto& e : FRibbonControls.Entries())
        if (FRibbonHost->ComponentTag(e.object, tag) && tag == Tag) return e.object;
    return nullptr;
}

}  // namespace qvr
