#include "ribbon_host.h"

#include "office_host.h"

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cwctype>
#include <utility>

using Microsoft::WRL::ComPtr;
using qvr::unique_bstr;
using qvr::unique_variant;

namespace officesim {

namespace {

std::wstring Text(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

HRESULT ReturnText(BSTR* out, const std::wstring& text) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
}

bool StartsWith(const std::wstring& s, const wchar_t* prefix) { return s.rfind(prefix, 0) == 0; }

// Attributes that name a callback rather than carry a value.
bool IsCallbackAttribute(const std::wstring& name) {
    return name == L"onLoad" || name == L"loadImage" || StartsWith(name, L"get") || StartsWith(name, L"on");
}

// The item callbacks, asked once per item with its index.
const wchar_t* const kItemAttributes[] = {L"getItemID", L"getItemLabel", L"getItemScreentip", L"getItemSupertip",
                                          L"getItemImage"};
bool IsItemAttribute(const std::wstring& name) {
    return std::any_of(std::begin(kItemAttributes), std::end(kItemAttributes), [&](const wchar_t* a) { return name == a; });
}

// "getScreentip" -> "screentip".
std::wstring PropertyOf(const std::wstring& attribute) {
    std::wstring p = attribute.substr(3);
    if (!p.empty()) p[0] = static_cast<wchar_t>(towlower(p[0]));
    return p;
}

// "getItemScreentip" -> "screentip", "getItemID" -> "id".
std::wstring ItemPropertyOf(const std::wstring& attribute) {
    std::wstring p = attribute.substr(7);
    std::transform(p.begin(), p.end(), p.begin(), towlower);
    return p;
}

std::wstring AnswerText(const std::wstring& attribute, const VARIANT& v) {
    if (attribute == L"getImage" || attribute == L"getItemImage") return DescribePicture(v);
    if (attribute == L"getSize" && v.vt == VT_I4) return v.lVal == 1 ? L"large" : v.lVal == 0 ? L"normal" : std::to_wstring(v.lVal);
    switch (v.vt) {
        case VT_EMPTY: return L"";
        case VT_BSTR: return Text(v.bstrVal);
        case VT_BOOL: return v.boolVal ? L"true" : L"false";
        case VT_I4: return std::to_wstring(v.lVal);
        default: {
            unique_variant text;
            if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR))) return Text(text.bstrVal);
            return L"(variant type " + std::to_wstring(v.vt) + L")";
        }
    }
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

}  // namespace

std::wstring DescribePicture(const VARIANT& v) {
    IUnknown* unknown = v.vt == VT_UNKNOWN ? v.punkVal : v.vt == VT_DISPATCH ? v.pdispVal : nullptr;
    if (!unknown) return L"none";
    ComPtr<IPicture> picture;
    if (SUCCEEDED(unknown->QueryInterface(IID_IPicture, reinterpret_cast<void**>(picture.GetAddressOf())))) {
        OLE_XSIZE_HIMETRIC w = 0;
        OLE_YSIZE_HIMETRIC h = 0;
        picture->get_Width(&w);
        picture->get_Height(&h);
        // HIMETRIC (0.01 mm) at the screen's 96 pixels per inch.
        auto px = [](long himetric) { return std::to_wstring((himetric * 96 + 1270) / 2540); };
        return L"picture " + px(w) + L"x" + px(h);
    }
    ComPtr<IStream> stream;
    if (SUCCEEDED(unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf())))) {
        STATSTG stat{};
        stream->Stat(&stat, STATFLAG_NONAME);
        std::wstring size = std::to_wstring(stat.cbSize.QuadPart) + L" bytes";
        LARGE_INTEGER zero{};
        ULARGE_INTEGER position{};
        stream->Seek(zero, STREAM_SEEK_CUR, &position);
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        unsigned char header[8] = {};
        ULONG read = 0;
        stream->Read(header, sizeof(header), &read);
        LARGE_INTEGER back{};
        back.QuadPart = static_cast<LONGLONG>(position.QuadPart);
        stream->Seek(back, STREAM_SEEK_SET, nullptr);
        if (read == sizeof(header) && header[0] == 0 && header[1] == 0 && header[2] == 1 && header[3] == 0) {
            auto side = [](unsigned char b) { return std::to_wstring(b ? b : 256); };
            return L"ICO stream " + side(header[6]) + L"x" + side(header[7]) + L", " + size;
        }
        return L"stream, " + size;
    }
    return L"object";
}

// ---- Office's ribbon objects ----

HRESULT RibbonUISim::Record(std::wstring call, bool invalidates, const std::wstring& id) {
    calls.push_back(std::move(call));
    if (invalidates && host_) host_->Invalidated(id);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RibbonUISim::Invalidate() { return Record(L"Invalidate", true, L""); }
HRESULT STDMETHODCALLTYPE RibbonUISim::InvalidateControl(BSTR ControlID) {
    return Record(L"InvalidateControl:" + Text(ControlID), true, Text(ControlID));
}
HRESULT STDMETHODCALLTYPE RibbonUISim::InvalidateControlMso(BSTR ControlID) {
    return Record(L"InvalidateControlMso:" + Text(ControlID), true, Text(ControlID));
}
HRESULT STDMETHODCALLTYPE RibbonUISim::ActivateTab(BSTR ControlID) {
    return Record(L"ActivateTab:" + Text(ControlID), false, L"");
}
HRESULT STDMETHODCALLTYPE RibbonUISim::ActivateTabMso(BSTR ControlID) {
    return Record(L"ActivateTabMso:" + Text(ControlID), false, L"");
}
HRESULT STDMETHODCALLTYPE RibbonUISim::ActivateTabQ(BSTR ControlID, BSTR Namespace) {
    return Record(L"ActivateTabQ:" + Text(ControlID) + L"," + Text(Namespace), false, L"");
}

HRESULT STDMETHODCALLTYPE RibbonControlSim::get_Id(BSTR* RHS) { return ReturnText(RHS, id_); }
HRESULT STDMETHODCALLTYPE RibbonControlSim::get_Tag(BSTR* RHS) { return ReturnText(RHS, tag_); }
HRESULT STDMETHODCALLTYPE RibbonControlSim::get_Context(IDispatch** RHS) {
    if (!RHS) return E_POINTER;
    ComPtr<IDispatch> copy = context_;
    *RHS = copy.Detach();
    return S_OK;
}

const std::wstring* RibbonElement::Answer(const std::wstring& property) const {
    auto it = answers.find(property);
    return it == answers.end() ? nullptr : &it->second;
}

// ---- the ribbon ----

RibbonHost::RibbonHost() : ui_(RibbonUISim::Make<RibbonUISim>()) { ui_->host_ = this; }

RibbonHost::~RibbonHost() {
    Release();
    ui_->host_ = nullptr;
}

void RibbonHost::Release() {
    addIn_.Reset();
    context_.Reset();
}

HRESULT RibbonHost::Load(IUnknown* addIn, const std::wstring& ribbonId, IDispatch* context) {
    if (!addIn) return E_POINTER;
    markup_.clear();
    root_.reset();
    tabs_.clear();
    callbackIds_.clear();
    unresolved_.clear();
    context_ = context;

    ComPtr<mso::IRibbonExtensibility> extensibility;
    HRESULT hr = addIn->QueryInterface(__uuidof(mso::IRibbonExtensibility), reinterpret_cast<void**>(extensibility.GetAddressOf()));
    if (FAILED(hr)) {
        problems.push_back(L"the add-in has no IRibbonExtensibility: " + HResultText(hr));
        return hr;
    }
    hr = addIn->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(addIn_.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) return hr;

    unique_bstr xml;
    hr = extensibility->GetCustomUI(unique_bstr(ribbonId).get(), xml.put());
    if (FAILED(hr)) {
        problems.push_back(L"GetCustomUI(" + ribbonId + L") -> " + HResultText(hr));
        return hr;
    }
    markup_ = xml.str();
    if (markup_.empty()) return S_OK;  // no custom ribbon for this ribbon id

    std::wstring why;
    root_ = ParseXml(markup_, &why);
    if (!root_) {
        problems.push_back(L"the custom UI markup is not well formed: " + why);
        return E_FAIL;
    }
    if (root_->name != L"customUI") {
        problems.push_back(L"the custom UI markup has the root " + root_->name);
        root_.reset();
        return E_FAIL;
    }

    // Every callback name the markup uses, resolved once.
    std::vector<const XmlElement*> stack{&*root_};
    while (!stack.empty()) {
        const XmlElement* x = stack.back();
        stack.pop_back();
        for (const auto& [name, value] : x->attributes) {
            if (!IsCallbackAttribute(name) || callbackIds_.count(value) ||
                std::find(unresolved_.begin(), unresolved_.end(), value) != unresolved_.end())
                continue;
            DISPID id = DISPID_UNKNOWN;
            LPOLESTR names[] = {const_cast<LPOLESTR>(value.c_str())};
            if (SUCCEEDED(addIn_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
                callbackIds_[value] = id;
            else
                unresolved_.push_back(value);
        }
        for (const XmlElement& child : x->children) stack.push_back(&child);
    }

    for (const XmlElement& section : root_->children) {
        if (section.name != L"ribbon") continue;
        for (const XmlElement& part : section.children) {
            if (part.name == L"tabs")
                for (const XmlElement& tab : part.children) tabs_.push_back(Build(tab));
            if (part.name == L"contextualTabs")
                for (const XmlElement& set : part.children)
                    for (const XmlElement& tab : set.children) tabs_.push_back(Build(tab));
        }
    }

    // Loaded: the add-in gets Office's ribbon object, then Office asks every control.
    if (const std::wstring* onLoad = root_->Attribute(L"onLoad")) {
        std::vector<unique_variant> args;
        args.push_back(unique_variant::FromDispatch(ui_.Get()));
        unique_variant ignored;
        Call(*onLoad, args, &ignored);
    }
    AskTree(tabs_, L"");
    return S_OK;
}

RibbonElement RibbonHost::Build(const XmlElement& x) {
    RibbonElement e;
    e.element = x.name;
    for (const auto& [name, value] : x.attributes) e.attributes[name] = value;
    if (const std::wstring* id = x.Attribute(L"id")) e.id = *id;
    else if (const std::wstring* idQ = x.Attribute(L"idQ")) e.id = idQ->substr(idQ->find(L':') + 1);
    else if (const std::wstring* idMso = x.Attribute(L"idMso")) e.id = *idMso;
    if (const std::wstring* tag = x.Attribute(L"tag")) e.tag = *tag;
    for (const XmlElement& child : x.children) e.children.push_back(Build(child));
    return e;
}

unique_variant RibbonHost::ControlArgument(const RibbonElement& e) const {
    auto control = RibbonControlSim::Make<RibbonControlSim>(e.id, e.tag, context_.Get());
    return unique_variant::FromDispatch(control.Get());
}

HRESULT RibbonHost::Call(const std::wstring& callbackName, std::vector<unique_variant>& args, unique_variant* result) {
    if (!addIn_) return E_UNEXPECTED;
    auto it = callbackIds_.find(callbackName);
    if (it == callbackIds_.end()) {
        problems.push_back(callbackName + L": not resolved");
        return DISP_E_UNKNOWNNAME;
    }
    std::vector<VARIANT> reversed(args.size());
    for (size_t i = 0; i < args.size(); ++i) reversed[args.size() - 1 - i] = args[i];
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO excep{};
    UINT argErr = 0;
    ++callDepth_;
    HRESULT hr = addIn_->Invoke(it->second, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                result ? result->put() : nullptr, &excep, &argErr);
    --callDepth_;
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    if (FAILED(hr)) problems.push_back(callbackName + L" -> " + HResultText(hr));
    // Office re-reads invalidated controls once the add-in's call has returned.
    if (callDepth_ == 0) ProcessInvalidations();
    return hr;
}

void RibbonHost::Ask(RibbonElement& e) {
    if (e.id.empty()) return;
    for (const auto& [attribute, callback] : e.attributes) {
        if (!StartsWith(attribute, L"get") || IsItemAttribute(attribute) || attribute == L"getItemCount" ||
            attribute == L"getContent")
            continue;
        std::vector<unique_variant> args;
        args.push_back(ControlArgument(e));
        unique_variant answer;
        if (SUCCEEDED(Call(callback, args, &answer))) {
            e.answers[PropertyOf(attribute)] = AnswerText(attribute, answer);
            if (attribute == L"getImage") KeepPicture(e, L"image", callback, answer);
        }
    }
    if (auto count = e.attributes.find(L"getItemCount"); count != e.attributes.end()) {
        std::vector<unique_variant> args;
        args.push_back(ControlArgument(e));
        unique_variant answer;
        if (SUCCEEDED(Call(count->second, args, &answer))) {
            e.answers[L"itemCount"] = AnswerText(count->first, answer);
            LONG items = answer.vt == VT_I4 ? answer.lVal : 0;
            for (LONG i = 0; i < items; ++i)
                for (const wchar_t* attribute : kItemAttributes) {
                    auto it = e.attributes.find(attribute);
                    if (it == e.attributes.end()) continue;
                    std::vector<unique_variant> itemArgs;
                    itemArgs.push_back(ControlArgument(e));
                    itemArgs.push_back(unique_variant::FromInt(i));
                    unique_variant item;
                    if (SUCCEEDED(Call(it->second, itemArgs, &item))) {
                        const std::wstring key = L"item" + std::to_wstring(i) + L"." + ItemPropertyOf(attribute);
                        e.answers[key] = AnswerText(attribute, item);
                        if (attribute == std::wstring(L"getItemImage")) KeepPicture(e, key, it->second, item);
                    }
                }
        }
    }
    // A dynamic menu's content is markup of its own, asked whenever the menu opens.
    if (auto content = e.attributes.find(L"getContent"); content != e.attributes.end()) {
        std::vector<unique_variant> args;
        args.push_back(ControlArgument(e));
        unique_variant answer;
        if (SUCCEEDED(Call(content->second, args, &answer))) {
            std::wstring xml = AnswerText(content->first, answer);
            e.answers[L"content"] = xml;
            std::wstring why;
            if (auto menu = ParseXml(xml, &why)) {
                e.children.clear();
                for (const XmlElement& child : menu->children) e.children.push_back(Build(child));
                AskTree(e.children, L"");
            } else {
                problems.push_back(L"content of " + e.id + L" is not well formed: " + why);
            }
        }
    }
}

void RibbonHost::KeepPicture(RibbonElement& e, const std::wstring& key, const std::wstring& callback,
                             const VARIANT& answer) {
    ReceivedPicture received = ReadPictureAnswer(answer);
    if (!received.error.empty()) {
        e.pictures.erase(key);
        problems.push_back(callback + L" for " + e.id + L": Office cannot show the " + received.kind + L": " +
                           received.error);
        return;
    }
    if (received.image.Empty())
        e.pictures.erase(key);
    else
        e.pictures[key] = std::move(received.image);
}

void RibbonHost::AskTree(std::vector<RibbonElement>& elements, const std::wstring& onlyId) {
    for (RibbonElement& e : elements) {
        if (onlyId.empty() || e.id == onlyId) Ask(e);
        if (e.attributes.count(L"getContent") && (onlyId.empty() || e.id == onlyId)) continue;  // asked with the menu
        AskTree(e.children, onlyId);
    }
}

void RibbonHost::Refresh() { AskTree(tabs_, L""); }

void RibbonHost::Invalidated(const std::wstring& id) {
    if (id.empty())
        pendingAll_ = true;
    else if (std::find(pendingIds_.begin(), pendingIds_.end(), id) == pendingIds_.end())
        pendingIds_.push_back(id);
    if (callDepth_ == 0) ProcessInvalidations();
}

void RibbonHost::ProcessInvalidations() {
    if (!addIn_ || (!pendingAll_ && pendingIds_.empty())) return;
    bool all = std::exchange(pendingAll_, false);
    std::vector<std::wstring> ids = std::exchange(pendingIds_, {});
    ++refreshes;
    if (all) {
        Refresh();
        return;
    }
    for (const std::wstring& id : ids) AskTree(tabs_, id);
}

RibbonElement* RibbonHost::FindMutable(std::vector<RibbonElement>& list, const std::wstring& id) {
    for (RibbonElement& e : list) {
        if (e.id == id) return &e;
        if (RibbonElement* found = FindMutable(e.children, id)) return found;
    }
    return nullptr;
}

const RibbonElement* RibbonHost::Find(const std::wstring& id) const {
    return const_cast<RibbonHost*>(this)->FindMutable(const_cast<std::vector<RibbonElement>&>(tabs_), id);
}

const RibbonElement* RibbonHost::FindByLabel(const std::wstring& label) const {
    struct Search {
        const std::wstring& label;
        const RibbonElement* In(const std::vector<RibbonElement>& list) const {
            for (const RibbonElement& e : list) {
                const std::wstring* shown = e.Answer(L"label");
                auto written = e.attributes.find(L"label");
                if ((shown && *shown == label) || (!shown && written != e.attributes.end() && written->second == label))
                    return &e;
                if (const RibbonElement* found = In(e.children)) return found;
            }
            return nullptr;
        }
    };
    return Search{label}.In(tabs_);
}

HRESULT RibbonHost::Act(RibbonElement& e, const std::wstring& attribute, std::vector<unique_variant> extra) {
    auto it = e.attributes.find(attribute);
    if (it == e.attributes.end()) return E_INVALIDARG;
    std::vector<unique_variant> args;
    args.push_back(ControlArgument(e));
    for (auto& a : extra) args.push_back(std::move(a));
    return Call(it->second, args, nullptr);
}

HRESULT RibbonHost::Press(const std::wstring& id) {
    RibbonElement* e = FindMutable(tabs_, id);
    if (!e) return E_INVALIDARG;
    std::vector<unique_variant> extra;
    // A toggle button or check box reports the state it changes to.
    if (e->element == L"toggleButton" || e->element == L"checkBox") {
        const std::wstring* pressed = e->Answer(L"pressed");
        extra.push_back(unique_variant::FromBool(!(pressed && *pressed == L"true")));
    }
    return Act(*e, L"onAction", std::move(extra));
}

HRESULT RibbonHost::Select(const std::wstring& id, int index) {
    RibbonElement* e = FindMutable(tabs_, id);
    if (!e) return E_INVALIDARG;
    const std::wstring* itemId = e->Answer(L"item" + std::to_wstring(index) + L".id");
    std::vector<unique_variant> extra;
    extra.push_back(unique_variant::FromString(itemId ? *itemId : L""));
    extra.push_back(unique_variant::FromInt(index));
    return Act(*e, L"onAction", std::move(extra));
}

HRESULT RibbonHost::Change(const std::wstring& id, const std::wstring& text) {
    RibbonElement* e = FindMutable(tabs_, id);
    if (!e) return E_INVALIDARG;
    std::vector<unique_variant> extra;
    extra.push_back(unique_variant::FromString(text));
    return Act(*e, L"onChange", std::move(extra));
}

std::vector<std::wstring> RibbonHost::Describe() const {
    std::vector<std::wstring> lines;
    struct Walker {
        std::vector<std::wstring>& out;
        void Walk(const RibbonElement& e, int depth) {
            std::wstring line(static_cast<size_t>(depth) * 2, L' ');
            line += e.element;
            const std::wstring* label = e.Answer(L"label");
            if (!label && e.attributes.count(L"label")) label = &e.attributes.at(L"label");
            if (label) line += L" " + Quoted(*label);
            std::vector<std::wstring> details;
            if (const std::wstring* size = e.Answer(L"size")) details.push_back(*size);
            if (const std::wstring* visible = e.Answer(L"visible"); visible && *visible == L"false")
                details.push_back(L"hidden");
            if (const std::wstring* enabled = e.Answer(L"enabled"); enabled && *enabled == L"false")
                details.push_back(L"disabled");
            if (const std::wstring* image = e.Answer(L"image")) details.push_back(L"picture: " + *image);
            if (const std::wstring* tip = e.Answer(L"screentip"); tip && !tip->empty())
                details.push_back(L"screen tip " + Quoted(*tip));
            if (!details.empty()) {
                line += L" (";
                for (size_t i = 0; i < details.size(); ++i) line += (i ? L"; " : L"") + details[i];
                line += L")";
            }
            out.push_back(line);
            for (const RibbonElement& child : e.children) Walk(child, depth + 1);
        }
    } walker{lines};
    for (const RibbonElement& tab : tabs_) walker.Walk(tab, 0);
    return lines;
}

}  // namespace officesim
