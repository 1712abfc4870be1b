// The module's Excel application wrapper (ExcelApp): holds Excel's application object and calls
// it through IDispatch with Excel's published dispatch ids.
#pragma once

#include "com/component.h"
#include "com/handles.h"

#include <wrl/client.h>

namespace qvr {

// Excel's dispatch ids used by the add-in.
namespace xldisp {
inline constexpr DISPID Application = 148;
inline constexpr DISPID ActiveWindow = 759;
inline constexpr DISPID ActiveWorkbook = 308;
inline constexpr DISPID CommandBars = 1439;
inline constexpr DISPID Workbooks = 572;
inline constexpr DISPID Quit = 302;
inline constexpr DISPID Version = 392;
inline constexpr DISPID Close = 277;
inline constexpr DISPID FullName = 289;
inline constexpr DISPID Name = 110;
inline constexpr DISPID SaveCopyAs = 175;
}  // namespace xldisp

class TExcelApplication : public TComponent {
public:
    explicit TExcelApplication(TComponent* owner) : TComponent(owner) {}
    ~TExcelApplication() override;
    std::wstring ClassName() const override { return L"TExcelApplication"; }

    void ConnectTo(IDispatch* application);
    void Disconnect();
    bool Connected() const { return app_ != nullptr; }
    // The application interface; null when not connected.
    IDispatch* DefaultInterface() const { return app_.Get(); }

    // The application's Version text, read with the given locale.
    std::wstring Version(LCID lcid);

private:
    Microsoft::WRL::ComPtr<IDispatch> app_;
};

}  // namespace qvr
