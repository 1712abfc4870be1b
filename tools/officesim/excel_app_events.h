// Excel's application events as the stand-in raises them: the connection point for AppEvents
// that Excel's application object offers through IConnectionPointContainer, the sinks advised
// on it, and the firing of any event with positional or named arguments, as Excel does.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <vector>

namespace officesim {

class ExcelAppEventsPoint final : public IConnectionPoint {
public:
    // `owner` is the application object: the point and its container live as long as it does,
    // and the container answers QueryInterface as the application (one COM identity).
    explicit ExcelAppEventsPoint(IUnknown& owner);
    ExcelAppEventsPoint(const ExcelAppEventsPoint&) = delete;
    ExcelAppEventsPoint& operator=(const ExcelAppEventsPoint&) = delete;

    // The application's IConnectionPointContainer.
    IConnectionPointContainer* Container();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override;
    // As Excel: the sink must answer the events interface.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    // Advises alive now, and all advises ever made.
    size_t AdviseCount() const { return sinks_.size(); }
    size_t TotalAdvises() const { return totalAdvises_; }
    // Cookies in the order they were unadvised.
    const std::vector<DWORD>& Unadvised() const { return unadvised_; }
    // The advised sinks (as the events interface each answered).
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> Sinks() const;
    // The next Advise fails with `hr`.
    void FailNextAdvise(HRESULT hr) { adviseFailure_ = hr; }
    // Fires event `id` at every advised sink. `args` are in declaration order; the last
    // `namedCount` of them are passed as named arguments (their positions as dispatch ids, in
    // declaration order), the others positionally (last first). Returns what each sink's Invoke
    // returned.
    std::vector<HRESULT> Fire(DISPID id, const std::vector<VARIANT>& args = {}, size_t namedCount = 0);

private:
    class ContainerTearOff final : public IConnectionPointContainer {
    public:
        explicit ContainerTearOff(ExcelAppEventsPoint& point) : point_(point) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override { return point_.owner_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return point_.owner_.Release(); }
        HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    private:
        ExcelAppEventsPoint& point_;
    };
    struct Advised {
        DWORD cookie;
        Microsoft::WRL::ComPtr<IDispatch> sink;
    };
    IUnknown& owner_;
    ContainerTearOff container_{*this};
    std::vector<Advised> sinks_;
    DWORD nextCookie_ = 1;
    size_t totalAdvises_ = 0;
    std::vector<DWORD> unadvised_;
    HRESULT adviseFailure_ = S_OK;
};

}  // namespace officesim
