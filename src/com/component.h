// The component base of the framework: components own components, hear when a component they
// refer to is destroyed, and read their published properties from the stored configuration.
#pragma once

#include "com/formdata.h"

#include <windows.h>

#include <any>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

class TComponent;

// Anything that can be the Sender of an event.
class TObject {
public:
    virtual ~TObject() = default;
    virtual std::wstring ClassName() const = 0;
};

enum class TOperation { opInsert, opRemove };

using TComponentFactory = TComponent* (*)(TComponent* owner);

// Classes the stored configuration may create by name.
void RegisterComponentClass(const std::wstring& className, TComponentFactory factory);
TComponentFactory FindComponentClass(const std::wstring& className);

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    // Destroys the owned components (last created first), tells every component that asked for
    // free notification, and leaves the owner.
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    const std::wstring& Name() const { return name_; }
    void SetName(const std::wstring& name) { name_ = name; }
    const std::vector<TComponent*>& Components() const { return components_; }
    TComponent* FindComponent(std::wstring_view name) const;

    // Asks that `other` hears (through Notification) when this component is destroyed.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    bool DesignMode() const { return designMode_; }
    void SetDesignMode(bool on);
    bool Loading() const { return loading_; }

    // A published method of this component, found by name when event properties are read.
    template <typename Handler>
    void PublishMethod(const std::wstring& name, Handler handler) {
        methods_[name] = std::move(handler);
    }
    template <typename Handler>
    Handler MethodAddress(const std::wstring& name) const {
        auto it = methods_.find(name);
        if (it == methods_.end()) ThrowMethodNotFound(name);
        if (const Handler* h = std::any_cast<Handler>(&it->second)) return *h;
        ThrowMethodNotFound(name);
    }

    // Binds a stored event property to the root's published method of that name and remembers
    // the binding so that it is written back.
    template <typename Handler>
    Handler BindEvent(const FormProperty& property) {
        Handler h = Root()->MethodAddress<Handler>(property.value.AsIdent());
        eventBindings_.emplace_back(property.name, property.value.AsIdent());
        return h;
    }
    void WriteEventBindings(std::vector<FormProperty>& out) const;

    // Reads one stored property; the base knows none and raises "Property X does not exist".
    virtual void ReadProperty(const FormProperty& property);
    // Appends the stored form of this component's properties (children are written separately).
    virtual void WriteProperties(std::vector<FormProperty>& out) const;
    // Called on every component of a tree once the whole tree has been read.
    virtual void Loaded() {}

    // The component whose published methods and components event and reference properties name:
    // the top of the ownership chain.
    TComponent* Root();

protected:
    virtual void Notification(TComponent* component, TOperation operation);
    void SetLoading(bool on) { loading_ = on; }
    [[noreturn]] static void ThrowUnknownProperty(const std::wstring& name);

private:
    friend class TFormReader;
    [[noreturn]] static void ThrowMethodNotFound(const std::wstring& name);
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);

    TComponent* owner_;
    std::wstring name_;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    std::map<std::wstring, std::any> methods_;
    std::vector<std::pair<std::wstring, std::wstring>> eventBindings_;
    bool designMode_ = false;
    bool loading_ = false;
    bool destroying_ = false;
};

// Applies a stored object to an existing root component: its properties, then its child objects
// created by class name with the root as owner, then Loaded on every component.
class TFormReader {
public:
    static void ReadRoot(TComponent& root, const FormObject& form);
    // The RCDATA resource `resourceName` of `module` holds the form text (UTF-8).
    static FormObject LoadResourceForm(HMODULE module, const std::wstring& resourceName);
    // Writes the root and its owned components back to a stored object.
    static FormObject WriteRoot(const TComponent& root);
};

}  // namespace qvr
