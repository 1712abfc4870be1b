#include "ribbon/host.h"

#include "ribbon/dispatch.h"
#include "ribbon/markup.h"
#include "ribbon/ribbon.h"

namespace qvr {

namespace {

class TqvrRibbonHost final : public IqvrRibbonHost {
public:
    void DetachTab(TqvrRibbonTab& tab) const override { tab.DetachFromModule(); }

    bool ComponentId(TObject* object, std::wstring& id) const override {
        IqvrRibbonComponent* c = AsRibbonComponent(object);
        if (!c) return false;
        id = c->Id();
        return true;
    }

    bool ComponentTag(TObject* object, int32_t& tag) const override {
        if (auto* tab = dynamic_cast<TqvrRibbonTab*>(object)) {
            tag = tab->Tag();
            return true;
        }
        if (auto* control = dynamic_cast<TqvrRibbonCustomControl*>(object)) {
            tag = control->Tag();
            return true;
        }
        return false;
    }

    std::wstring CustomUI(TqvrCOMAddInModule& module, const std::wstring& ribbonId) const override {
        std::wstring xml;
        GetCustomUI(module, ribbonId, xml);
        return xml;
    }

    HRESULT GetIDsOfNames(ITypeInfo* typeInfo, LPOLESTR* names, UINT count, DISPID* ids) const override {
        return RibbonGetIDsOfNames(typeInfo, names, count, ids);
    }

    HRESULT Invoke(const TqvrRibbonDispatchTarget& target, DISPID id, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, UINT* argErr) const override {
        return RibbonInvoke(target, id, flags, params, result, excep, argErr);
    }
};

const TqvrRibbonHost g_host{};

}  // namespace

const IqvrRibbonHost& RibbonHost() noexcept { return g_host; }

}  // namespace qvr
