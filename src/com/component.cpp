#include "com/component.h"

#include "com/error.h"
#include "com/locks.h"

#include <algorithm>
#include <utility>

namespace qvr {

namespace {
SrwLock g_classesLock;
std::map<std::wstring, TComponentFactory>& Classes() {
    static std::map<std::wstring, TComponentFactory> classes;
    return classes;
}
}  // namespace

void RegisterComponentClass(const std::wstring& className, TComponentFactory factory) {
    ExclusiveLock lock(g_classesLock);
    Classes()[className] = factory;
}

TComponentFactory FindComponentClass(const std::wstring& className) {
    ExclusiveLock lock(g_classesLock);
    auto it = Classes().find(className);
    return it == Classes().end() ? nullptr : it->second;
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    for (TComponent* c : std::exchange(freeNotifies_, {})) {
        c->Notification(this, TOperation::opRemove);
        auto& back = c->freeNotifies_;
        back.erase(std::remove(back.begin(), back.end(), this), back.end());
    }
    while (!components_.empty()) {
        TComponent* last = components_.back();
        delete last;  // its destructor removes it from components_
    }
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* c) {
    components_.push_back(c);
    // A component added to one being edited is edited too.
    if (designMode_) c->designMode_ = true;
    Notification(c, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
    c->owner_ = nullptr;
    if (!destroying_) Notification(c, TOperation::opRemove);
}

TComponent* TComponent::FindComponent(std::wstring_view name) const {
    for (TComponent* c : components_)
        if (_wcsicmp(c->name_.c_str(), std::wstring(name).c_str()) == 0) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
        freeNotifies_.push_back(other);
        other->freeNotifies_.push_back(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other), freeNotifies_.end());
    if (other)
        other->freeNotifies_.erase(std::remove(other->freeNotifies_.begin(), other->freeNotifies_.end(), this),
                                   other->freeNotifies_.end());
}

void TComponent::SetDesignMode(bool on) {
    designMode_ = on;
    for (TComponent* c : components_) c->SetDesignMode(on);
}

void TComponent::Notification(TComponent*, TOperation) {}

TComponent* TComponent::Root() {
    TComponent* c = this;
    while (c->owner_) c = c->owner_;
    return c;
}

void TComponent::ThrowUnknownProperty(const std::wstring& name) {
    throw EqvrError(FormatText(L"Property %s does not exist", {name}));
}

void TComponent::ThrowMethodNotFound(const std::wstring& name) {
    throw EqvrError(FormatText(L"Invalid property value: method %s not found", {name}));
}

void TComponent::ReadProperty(const FormProperty& property) { ThrowUnknownProperty(property.name); }

void TComponent::WriteProperties(std::vector<FormProperty>&) const {}

void TComponent::WriteEventBindings(std::vector<FormProperty>& out) const {
    for (const auto& [property, method] : eventBindings_) out.push_back({property, FormValue::Ident(method)});
}

namespace {
void ForEach(TComponent& c, const std::function<void(TComponent&)>& f) {
    f(c);
    for (TComponent* child : c.Components()) ForEach(*child, f);
}
}  // namespace

void TFormReader::ReadRoot(TComponent& root, const FormObject& form) {
    ForEach(root, [](TComponent& c) { c.loading_ = true; });
    struct EndLoading {
        TComponent& root;
        ~EndLoading() {
            ForEach(root, [](TComponent& c) { c.loading_ = false; });
        }
    } endLoading{root};

    if (!form.name.empty()) root.SetName(form.name);
    for (const auto& p : form.properties) root.ReadProperty(p);
    for (const auto& child : form.children) {
        TComponentFactory create = FindComponentClass(child.className);
        if (!create) throw EqvrError(FormatText(L"Class %s not found", {child.className}));
        TComponent* c = create(&root);
        c->loading_ = true;
        c->SetName(child.name);
        for (const auto& p : child.properties) c->ReadProperty(p);
        if (!child.children.empty())
            throw EqvrError(FormatText(L"Component %s cannot own stored components", {child.name}));
    }
    ForEach(root, [](TComponent& c) { c.Loaded(); });
}

FormObject TFormReader::LoadResourceForm(HMODULE module, const std::wstring& resourceName) {
    HRSRC info = FindResourceW(module, resourceName.c_str(), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL data = info ? LoadResource(module, info) : nullptr;
    const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    if (!bytes) throw EqvrError(FormatText(L"Resource %s not found", {resourceName}));
    int size = static_cast<int>(SizeofResource(module, info));
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes, size, nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes, size, text.data(), n);
    return ParseForm(text);
}

FormObject TFormReader::WriteRoot(const TComponent& root) {
    FormObject form;
    form.name = root.Name();
    form.className = root.ClassName();
    root.WriteProperties(form.properties);
    for (const TComponent* c : root.Components()) {
        FormObject child;
        child.name = c->Name();
        child.className = c->ClassName();
        c->WriteProperties(child.properties);
        form.children.push_back(std::move(child));
    }
    return form;
}

}  // namespace qvr
