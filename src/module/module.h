// The add-in module: the component that owns an add-in's components and settings, knows its
// host, fires the add-in's life-cycle events and is where every part of the add-in reports an
// error.
#pragma once

#include "com/component.h"
#include "com/error.h"
#include "com/handles.h"
#include "com/office.h"
#include "com/registry.h"
#include "module/addin_class.h"
#include "module/hidden_windows.h"
#include "module/ribbon_host.h"
#include "module/ribbon_types.h"
#include "module/types.h"

#include <wrl/client.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvr {

class TExcelApplication;
class TqvrCustomEvents;
class TqvrRibbonTab;
class TqvrCOMAddInModule;

// Method-reference events of the module.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TqvrOnError = std::function<void(const EqvrError& E, bool& Handled)>;
using TqvrRibbonBeforeCreateEvent = std::function<void(TObject* Sender, const std::wstring& RibbonID)>;
using TqvrRibbonBeforeLoadEvent = std::function<void(TObject* Sender, const std::wstring& RibbonID, std::wstring& Xml)>;
using TqvrRibbonLoadedEvent = std::function<void(TObject* Sender, IRibbonUI* RibbonUI)>;
using TqvrOfficeColorSchemeChanged = std::function<void(TObject* Sender, TqvrOfficeColorScheme Theme)>;
using TqvrBeforeDisplayAlertsEvent = std::function<void(TObject* Sender, TqvrHostAppSet HostApplications, bool& Handled)>;
using TqvrSendMessageEvent = std::function<void(TObject* Sender, UINT Msg, WPARAM wParam, LPARAM lParam)>;
using TqvrOnCallBack = std::function<void(const std::wstring& key, int i1, int i2, int i3, const std::wstring& s1,
                                          const std::wstring& s2, const std::wstring& s3)>;

// Key press report of the keyboard hook. A handler that sets Handled keeps the key from the host.
struct TqvrKeyDownEventArgs {
    bool Ctrl = false;
    bool Alt = false;
    bool Shift = false;
    bool Handled = false;
    int32_t KeyStrokeFlags = 0;  // repeat count, scan code, previous-state and transition bits
    int32_t VirtualKey = 0;
};
using TqvrKeyDownEventHandler = std::function<void(TObject* Sender, TqvrKeyDownEventArgs& E)>;

// The module classes that a factory can create: normal construction followed by loading the
// class's stored configuration.
using TqvrModuleClass = std::unique_ptr<TqvrCOMAddInModule> (*)(TComponent* owner);

class TqvrCOMAddInModule : public TComponent {
public:
    // Defaults constructor: sets every default and creates the owned objects; loads nothing.
    explicit TqvrCOMAddInModule(TComponent* owner);
    ~TqvrCOMAddInModule() override;
    std::wstring ClassName() const override { return L"TqvrCOMAddInModule"; }

    // Normal construction of a module class: defaults, the class's stored configuration (RCDATA
    // resource named after the class, upper case), then the run-time references cleared.
    template <typename T>
    static std::unique_ptr<TqvrCOMAddInModule> Create(TComponent* owner) {
        auto m = std::make_unique<T>(owner);
        m->LoadStoredConfiguration();
        return m;
    }
    void LoadStoredConfiguration();

    // ---- published properties (stored configuration names) ----
    const std::wstring& AddInName() const { return FAddInName; }
    void SetAddInName(const std::wstring& value);
    std::wstring Description;
    bool DisplayAlerts = false;
    int32_t LoadBehavior = 3;
    bool RegisterForAllUsers = false;
    TqvrHostAppSet SupportedApps() const { return FSupportedApps; }
    void SetSupportedApps(TqvrHostAppSet value);
    bool XLAutomationAddIn = false;
    bool HandleShortcuts() const { return FHandleShortcuts; }
    void SetHandleShortcuts(bool value);
    TqvrKeyDownEventHandler OnKeyDown;
    TqvrOnError OnError;
    TNotifyEvent OnAddInInitialize;
    TNotifyEvent OnAddInStartupComplete;
    TNotifyEvent OnAddInBeginShutdown;
    TNotifyEvent OnAddInFinalize;
    TNotifyEvent OnAfterAddinRegister;
    TNotifyEvent OnBeforeAddinUnregister;
    std::wstring Namespace;
    uint32_t StartFromScratch() const { return FStartFromScratch; }
    void SetStartFromScratch(uint32_t value);
    uint16_t StartFromScratch2010() const { return FStartFromScratch2010; }
    void SetStartFromScratch2010(uint16_t value);
    TqvrRibbonBeforeCreateEvent OnRibbonBeforeCreate;
    TqvrRibbonBeforeLoadEvent OnRibbonBeforeLoad;
    TqvrRibbonLoadedEvent OnRibbonLoaded;
    TqvrOfficeColorSchemeChanged OnOfficeColorSchemeChanged;
    TqvrBeforeDisplayAlertsEvent OnBeforeDisplayAlerts;
    TqvrSendMessageEvent OnSendMessage;

    // ---- public read-only properties ----
    // The object Office connected (the COM class's instance), and the class that made it: known
    // to the module through Office's interface and the class's own interface only.
    IDTExtensibility2* COMAddInClassInstance() const { return FCOMAddInClassInstance; }
    IqvrAddInClass* COMAddInClassFactory() const { return FAddInClass; }
    // The class that connected or registers the module; nullptr before.
    IqvrAddInClass* AddInClass() const { return FAddInClass; }
    std::wstring RegistryKey() const;
    TRegistry& Registry() { return *FRegistry; }
    const VARIANT& HostApp() const { return FHostApp; }
    // Texts shown from now on come in Office's user-interface language, asked of the host once
    // (the first time a text is about to be shown, not at start-up); without a host, the user's.
    void UseOfficeLanguage();
    TqvrOfficeHostApp HostType() const { return FHostType; }
    COMAddIn* AddInInstance() const { return FAddInInstance.Get(); }
    TqvrStartMode StartMode() const { return FStartMode; }
    TqvrHostStartMode HostStartMode() const { return FHostStartMode; }
    TExcelApplication* ExcelApp() const { return FExcelApp.get(); }
    // The host-event component connected by host binding, or none.
    TqvrCustomEvents* HostEvents() const { return FHostEvents; }
    TqvrOfficeColorScheme OfficeColorScheme() const { return FOfficeColorScheme; }
    std::wstring HostVersion();
    int32_t HostMajorVersion() const { return FHostMajorVersion; }
    IRibbonUI* RibbonUI() const { return FRibbonUI.Get(); }
    // The custom UI namespace the markup writer chose; empty before.
    const std::wstring& OfficeXMLNS() const { return FOfficeXMLNS; }
    void SetOfficeXMLNS(const std::wstring& ns) { FOfficeXMLNS = ns; }

    // ---- ribbon components ----
    // Every tab and control by the id it is registered under, in creation order.
    TqvrRibbonControlList& RibbonControls() { return FRibbonControls; }
    // Ordinary and contextual tabs, in creation order; command overrides (none here).
    std::vector<TqvrRibbonTab*>& Tabs() { return FTabs; }
    std::vector<TqvrRibbonTab*>& ContextTabs() { return FContextTabs; }
    std::vector<TObject*>& Commands() { return FCommands; }
    // The ribbon layer that knows the components of these lists: attached by the first tab made
    // for the module.
    void AttachRibbonHost(const IqvrRibbonHost& host) { FRibbonHost = &host; }
    const IqvrRibbonHost* RibbonHost() const { return FRibbonHost; }
    // The tab or control registered under ID (letter case ignored), else the first whose
    // current Id is ID; nullptr if none.
    TObject* FindRibbonControl(const std::wstring& ID) const;
    // The first registered tab or control whose Tag is Tag; nullptr if none.
    TObject* FindRibbonControl(int32_t Tag) const;
    // The host's command bars, read afresh (late bound, as Excel's "CommandBars"); none when the
    // host has none or will not say.
    Microsoft::WRL::ComPtr<_CommandBars> HostCommandBars() const noexcept;
    // Office's built-in controls, asked through the host's command bars (office_commands.cpp):
    // false, empty or none while the host has no command bars; a failing call raises.
    bool GetRibbonControlEnabled(const std::wstring& idMso);
    bool GetRibbonControlPressed(const std::wstring& idMso);
    bool GetRibbonControlVisible(const std::wstring& idMso);
    std::wstring GetRibbonControlCaption(const std::wstring& idMso);
    std::wstring GetRibbonControlScreentip(const std::wstring& idMso);
    std::wstring GetRibbonControlSupertip(const std::wstring& idMso);
    Microsoft::WRL::ComPtr<IPictureDisp> GetRibbonControlImage(const std::wstring& idMso, int32_t Width, int32_t Height);
    void RibbonControlExecute(const std::wstring& idMso);
    // Selects a tab, from Office 2010 on and once the ribbon is loaded; Office's errors go to the
    // error report.
    void ActivateRibbonTabMso(const std::wstring& ControlID);
    void ActivateRibbonTabQ(const std::wstring& ControlID, const std::wstring& TabNamespace);

    // ---- hidden windows, hooks and posted messages ----
    // Posts Msg to the internal messaging window, which hands it to OnSendMessage once the
    // current call has returned; does nothing before the window exists.
    void SendMessage(UINT Msg, WPARAM wParam, LPARAM lParam);
    void SendMessage(UINT Msg) { SendMessage(Msg, 0, 0); }
    // Start-up: a new colour scheme window and a new internal messaging window, replacing any.
    void CreateHiddenWindows();
    // Removes the keyboard hook and the shortcut window; when `install`, creates a new shortcut
    // window and installs the keyboard hook for the current thread.
    void ResetShortcutHandling(bool install);
    TqvrNativeWindow* NativeWindow() const { return FNativeWindow.get(); }
    TqvrNativeColorWindow* NativeColorWindow() const { return FNativeColorWindow.get(); }
    TqvrInternalMessagingWindow* InternalMessagingWindow() const { return FInternalMessagingWindow.get(); }
    bool IsRibbon() const { return FIsRibbon; }

    // ---- error report and event firing ----
    // OnError, else the modal error dialog.
    void HandleError(const EqvrError& E);
    // Calls an assigned handler; a framework error it raises goes to the error report and the
    // caller carries on.
    template <typename Handler, typename... Args>
    void Fire(const Handler& handler, Args&&... args) {
        if (!handler) return;
        try {
            handler(std::forward<Args>(args)...);
        } catch (const std::exception&) {
            HandleError(CurrentError());
        }
    }

    // ---- life cycle: the connection object forwards Office's calls to these ----
    // What the connection object hands over when Office connects it.
    struct TqvrConnectInfo {
        IDispatch* Application = nullptr;
        IDTExtensibility2* ClassInstance = nullptr;
        IqvrAddInClass* AddInClass = nullptr;
        const IqvrRibbonHost* RibbonHost = nullptr;
        TqvrHostStartMode HostStartMode = hsmUnknown;
    };
    // The host application, the connecting class and the way the host was started.
    void Connect(const TqvrConnectInfo& info);
    // The host's add-in object, once start-up has run when the add-in was loaded later.
    void ConnectAddInInstance(COMAddIn* instance) { FAddInInstance = instance; }
    // Start-up, up to and including the first start's start mode being written: binds the host,
    // opens the add-in key, reads the start mode and the colour scheme, fetches the command bars
    // and fires OnAddInInitialize and OnAddInStartupComplete. False when this pass has nothing to
    // do (start-up has begun before, or the host is bound already); true when the host event
    // relays, hidden windows and hooks are to follow.
    bool StartupComplete();
    // Start-up's last steps: the shortcut window and keyboard hook (when HandleShortcuts), the
    // hidden windows, and the ribbon invalidation hook from Office 2016 on Windows 10.
    void CreateWindowsAndHooks();
    // Fires OnAddInBeginShutdown.
    void BeginShutdown();
    // Shut-down before the module is destroyed: when the user removed the add-in (RemoveMode not
    // ext_dm_HostShutdown), OnAddInBeginShutdown and the legacy command-bar keys; then
    // OnAddInFinalize. Without RaiseShutdownEvents neither event fires. The add-in key is closed
    // whatever fails.
    void Disconnect(int32_t RemoveMode, bool RaiseShutdownEvents = true);
    // The task pane factory Office offers (custom task panes: none are built).
    void CTPFactoryAvailable(ICTPFactory* factory) { FCTPFactory = factory; }
    ICTPFactory* CTPFactory() const { return FCTPFactory.Get(); }
    // The framework's in-process extension call, handed to the callback handler when one is set.
    void ExtensionEvent(const std::wstring& key, int i1, int i2, int i3, const std::wstring& s1,
                        const std::wstring& s2, const std::wstring& s3);

    // ---- host recognition and binding (once per module, from start-up) ----
    void BindHost();
    // The host's major version taken from the process's executable (14 in the COM surrogate);
    // unchanged when the executable has no readable version.
    void ReadHostMajorVersionFromExecutable();

    // Start-up reading of the Office colour scheme into OfficeColorScheme.
    void ReadOfficeColorSchemeAtStartup();

    // Set by registration before its events fire (a module made there has no connection), by
    // the ribbon layer as the markup is written and the ribbon loads, by the colour scheme
    // window, and by tests that stand in for those.
    void SetConnection(IDTExtensibility2* instance, IqvrAddInClass* addInClass) {
        FCOMAddInClassInstance = instance;
        FAddInClass = addInClass;
    }
    void SetHostApp(IDispatch* app);
    void SetHostType(TqvrOfficeHostApp type) { FHostType = type; }
    void SetHostMajorVersion(int32_t v) { FHostMajorVersion = v; }
    void SetIsRibbon(bool v) { FIsRibbon = v; }
    void SetOfficeColorScheme(TqvrOfficeColorScheme scheme) { FOfficeColorScheme = scheme; }
    void SetRibbonUI(IRibbonUI* ui) { FRibbonUI = ui; }
    const TqvrOnCallBack& OnCallBack() const { return FOnCallBack; }

    // Stored configuration of the module's own published properties.
    void ReadProperty(const FormProperty& property) override;
    void WriteProperties(std::vector<FormProperty>& out) const override;

protected:
    // Connects the module's host event component (the first of its components that handles
    // Excel's application events) to Excel's application object.
    virtual void BindHostEvents(IDispatch* application);
    // The start mode from "QVRStartMode"; true when the stored value is of a type that must be
    // replaced after start-up.
    bool ReadStartMode();
    // Forgets the host-event component when it is destroyed before the module.
    void Notification(TComponent* component, TOperation operation) override;

    // ---- fields (declared order as the framework keeps them) ----
    Microsoft::WRL::ComPtr<_CommandBars> FICmdBars;
    std::unique_ptr<TqvrNativeWindow> FNativeWindow;
    TqvrCustomEvents* FHostEvents = nullptr;  // one of the module's own components
    Microsoft::WRL::ComPtr<IRibbonUI> FRibbonUI;
    Microsoft::WRL::ComPtr<ICTPFactory> FCTPFactory;
    bool FIsRibbon = false;
    int32_t FStartupCompleteCounter = 0;
    std::vector<TObject*> FCommands;
    std::vector<TqvrRibbonTab*> FTabs;
    std::vector<TqvrRibbonTab*> FContextTabs;
    TqvrRibbonControlList FRibbonControls;
    int32_t FHostMajorVersion = 0;
    std::unique_ptr<TqvrNativeColorWindow> FNativeColorWindow;
    std::unique_ptr<TqvrInternalMessagingWindow> FInternalMessagingWindow;
    std::wstring FOfficeXMLNS;
    TqvrOnCallBack FOnCallBack;
    const IqvrRibbonHost* FRibbonHost = nullptr;

private:
    std::wstring FAddInName;
    TqvrHostAppSet FSupportedApps{ohaExcel};
    bool FHandleShortcuts = false;
    uint32_t FStartFromScratch = 0;
    uint16_t FStartFromScratch2010 = 0;
    IDTExtensibility2* FCOMAddInClassInstance = nullptr;
    IqvrAddInClass* FAddInClass = nullptr;
    std::unique_ptr<TRegistry> FRegistry;
    unique_variant FHostApp;
    bool FOfficeLanguageChosen = false;
    TqvrOfficeHostApp FHostType = ohaExcel;
    Microsoft::WRL::ComPtr<COMAddIn> FAddInInstance;
    TqvrStartMode FStartMode = smFirstStart;
    TqvrHostStartMode FHostStartMode = hsmUnknown;
    std::unique_ptr<TExcelApplication> FExcelApp;
    TqvrOfficeColorScheme FOfficeColorScheme = TqvrOfficeColorScheme::Unknown;
    // Stored for the designer only.
    bool FOldCreateOrder = false;
    int64_t FDesignHeight = 0;
    int64_t FDesignWidth = 0;
    bool FTaskPanesStored = false;
};

// Names of the published host kinds (for stored sets).
TqvrHostAppSet HostAppSetFromNames(const std::vector<std::wstring>& names);
std::vector<std::wstring> HostAppSetNames(TqvrHostAppSet set);

}  // namespace qvr
