// Office's ribbon as the stand-in plays it: it asks the add-in for its custom UI markup, reads
// it, hands the add-in an IRibbonUI of its own through the onLoad callback, resolves every
// callback name through IDispatch, asks each control for its labels, tips, sizes, states and
// pictures, asks again when the add-in invalidates, and presses controls by invoking their
// action callbacks with an IRibbonControl of its own.
#pragma once

#include "com/handles.h"
#include "office_api.h"
#include "picture.h"
#include "sim_object.h"
#include "xml_reader.h"

#include <wrl/client.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace officesim {

class RibbonHost;

// Office's IRibbonUI: records what the add-in asks for and lets the ribbon ask again.
class RibbonUISim : public SimObject<mso::IRibbonUI> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE Invalidate() override;
    HRESULT STDMETHODCALLTYPE InvalidateControl(BSTR ControlID) override;
    HRESULT STDMETHODCALLTYPE InvalidateControlMso(BSTR ControlID) override;
    HRESULT STDMETHODCALLTYPE ActivateTab(BSTR ControlID) override;
    HRESULT STDMETHODCALLTYPE ActivateTabMso(BSTR ControlID) override;
    HRESULT STDMETHODCALLTYPE ActivateTabQ(BSTR ControlID, BSTR Namespace) override;

    // Every call, as text: "Invalidate", "InvalidateControl:<id>", "ActivateTabQ:<id>,<ns>", ...
    std::vector<std::wstring> calls;

private:
    friend class RibbonHost;
    HRESULT Record(std::wstring call, bool invalidates, const std::wstring& id);
    RibbonHost* host_ = nullptr;  // cleared when the ribbon goes
};

// Office's IRibbonControl for one control of the ribbon.
class RibbonControlSim : public SimObject<mso::IRibbonControl> {
public:
    RibbonControlSim(std::wstring id, std::wstring tag, IDispatch* context)
        : id_(std::move(id)), tag_(std::move(tag)), context_(context) {}
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE get_Id(BSTR* RHS) override;
    HRESULT STDMETHODCALLTYPE get_Context(IDispatch** RHS) override;
    HRESULT STDMETHODCALLTYPE get_Tag(BSTR* RHS) override;

private:
    std::wstring id_;
    std::wstring tag_;
    Microsoft::WRL::ComPtr<IDispatch> context_;
};

// One element of the ribbon and what the add-in answered for it.
struct RibbonElement {
    std::wstring element;  // "tab", "group", "button", ...
    std::wstring id;       // what Office hands in IRibbonControl.Id: id, idQ without its prefix, or idMso
    std::wstring tag;
    std::map<std::wstring, std::wstring> attributes;  // as written in the markup
    // Answers of the get... callbacks by property: "label", "screentip", "size" ("normal" or
    // "large"), "visible", "image" ("none", "picture 48x48", "ICO stream 48x48, 9662 bytes") ...;
    // list items as "item0.label" and so on.
    std::map<std::wstring, std::wstring> answers;
    // The pictures Office could show, decoded, by the same keys ("image", "item0.image").
    std::map<std::wstring, Image> pictures;
    std::vector<RibbonElement> children;

    const std::wstring* Answer(const std::wstring& property) const;
};

class RibbonHost {
public:
    RibbonHost();
    ~RibbonHost();
    RibbonHost(const RibbonHost&) = delete;
    RibbonHost& operator=(const RibbonHost&) = delete;

    // Office builds the ribbon `ribbonId`: asks the add-in for markup, reads it, resolves the
    // callbacks, loads it (onLoad) and asks every control. `context` is what IRibbonControl
    // reports as its Context (Excel's window). The result of GetCustomUI, or E_FAIL when the
    // markup is not well formed.
    HRESULT Load(IUnknown* addIn, const std::wstring& ribbonId, IDispatch* context);
    // Asks every control again (what Office does after Invalidate).
    void Refresh();
    // Presses a control as a user does: its onAction callback with the control (and the new
    // state of a toggle button or check box). E_INVALIDARG when there is no such control or it
    // has no action.
    HRESULT Press(const std::wstring& id);
    // Picks item `index` of a drop-down or gallery; types text into an edit box or combo box.
    HRESULT Select(const std::wstring& id, int index);
    HRESULT Change(const std::wstring& id, const std::wstring& text);
    // Lets go of the add-in (before it is unloaded); the add-in may keep the IRibbonUI.
    void Release();

    bool Loaded() const { return root_.has_value(); }
    const std::wstring& Markup() const { return markup_; }
    const std::vector<RibbonElement>& Tabs() const { return tabs_; }
    // The element with this id anywhere on the ribbon; nullptr when none.
    const RibbonElement* Find(const std::wstring& id) const;
    // The first element whose label (as the add-in answered it, or as written) is `label`.
    const RibbonElement* FindByLabel(const std::wstring& label) const;
    // What the ribbon shows, one line per element, indented by depth.
    std::vector<std::wstring> Describe() const;
    // Callback names and the dispatch ids the add-in gave for them.
    const std::map<std::wstring, DISPID>& CallbackIds() const { return callbackIds_; }
    // Callback names the add-in did not resolve.
    const std::vector<std::wstring>& Unresolved() const { return unresolved_; }
    RibbonUISim& UI() { return *ui_.Get(); }
    // Every call into the add-in that failed, and other problems, one line each.
    std::vector<std::wstring> problems;
    // Number of times the whole ribbon or single controls were asked again after an invalidation.
    int refreshes = 0;

private:
    friend class RibbonUISim;
    void Invalidated(const std::wstring& id);
    void ProcessInvalidations();
    RibbonElement Build(const XmlElement& x);
    void Ask(RibbonElement& e);
    // Keeps the answer to a picture callback: its description, its decoded picture, or a problem.
    void KeepPicture(RibbonElement& e, const std::wstring& key, const std::wstring& callback, const VARIANT& answer);
    void AskTree(std::vector<RibbonElement>& elements, const std::wstring& onlyId);
    HRESULT Call(const std::wstring& callbackName, std::vector<qvr::unique_variant>& args, qvr::unique_variant* result);
    qvr::unique_variant ControlArgument(const RibbonElement& e) const;
    RibbonElement* FindMutable(std::vector<RibbonElement>& list, const std::wstring& id);
    HRESULT Act(RibbonElement& e, const std::wstring& attribute, std::vector<qvr::unique_variant> extra);

    Microsoft::WRL::ComPtr<IDispatch> addIn_;
    Microsoft::WRL::ComPtr<IDispatch> context_;
    Microsoft::WRL::ComPtr<RibbonUISim> ui_;
    std::wstring markup_;
    std::optional<XmlElement> root_;
    std::vector<RibbonElement> tabs_;
    std::map<std::wstring, DISPID> callbackIds_;
    std::vector<std::wstring> unresolved_;
    int callDepth_ = 0;
    bool pendingAll_ = false;
    std::vector<std::wstring> pendingIds_;
};

// A picture the add-in handed over, as text: "none", "picture WxH" (an icon picture object) or
// "ICO stream WxH, N bytes".
std::wstring DescribePicture(const VARIANT& v);

// The ribbon as the stand-in shows it: the row of tab labels with tab `selected` open, and that
// tab's groups: large controls with their picture above their label, the others in columns of
// three with a small picture before the label, each group's label below it. Hidden controls are
// left out.
Image DrawRibbon(const std::vector<RibbonElement>& tabs, size_t selected);

}  // namespace officesim
