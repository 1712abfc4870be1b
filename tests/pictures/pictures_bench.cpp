// pictures_bench: the add-in's button picture asked for 10,000 times through "GetImage_Callback",
// as Office asks for it, for Office 2007 (icon picture objects), for Office 2016 (ICO streams) and
// for a 32 x 32 glyph. Prints the time per picture and the process's GDI and USER object counts
// before and after each run; exits 1 when a count grew or the add-in could not unload.
#include "picture_support.h"

#include "com/handles.h"
#include "excel_sim.h"
#include "module/module.h"
#include "ribbon/controls.h"
#include "ribbon/pictures.h"
#include "ribbon_host.h"
#include "server/addin.h"
#include "server/comserver.h"
#include "server/factory.h"
#include "support/recording_module.h"
#include "support/test_support.h"
#include "support/addin_facts.h"

#include <cstdio>
#include <functional>
#include <utility>

using Microsoft::WRL::ComPtr;
using qvr::unique_variant;

namespace {

constexpr const wchar_t* kButton = qvrtest::kAddInButtonId;
constexpr int kPictures = 10000;

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// One request as Office makes it; false when it failed or gave no picture.
bool AskPicture(IDispatch* addIn, DISPID id, IDispatch* window) {
    auto control = officesim::RibbonControlSim::Make<officesim::RibbonControlSim>(kButton, L"", window);
    unique_variant arg = unique_variant::FromDispatch(control.Get());
    DISPPARAMS params{&arg, nullptr, 1, 0};
    unique_variant result;
    EXCEPINFO excep{};
    UINT argErr = 0;
    HRESULT hr = addIn->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excep, &argErr);
    return SUCCEEDED(hr) && result.vt == VT_UNKNOWN && result.punkVal;
}

bool Run(const char* what, qvr::TqvrCOMAddInModule& module, int version, IDispatch* addIn, DISPID id, IDispatch* window) {
    module.SetHostMajorVersion(version);
    for (int i = 0; i < 10; ++i) AskPicture(addIn, id, window);  // what the platform creates once
    const picturetest::GuiObjects before = picturetest::CountGuiObjects();
    int failed = 0;
    const double start = Now();
    for (int i = 0; i < kPictures; ++i) failed += AskPicture(addIn, id, window) ? 0 : 1;
    const double seconds = Now() - start;
    const picturetest::GuiObjects after = picturetest::CountGuiObjects();
    std::printf("%-40s %6d pictures, %7.1f us per picture; GDI objects %ld -> %ld, USER objects %ld -> %ld%s\n", what,
                kPictures, seconds * 1e6 / kPictures, before.gdi, after.gdi, before.user, after.user,
                failed ? " (requests failed)" : "");
    return failed == 0 && after.gdi <= before.gdi && after.user <= before.user;
}

qvr::TImageList* RibbonImageListOf(qvr::TqvrCOMAddInModule& module) { return qvr::RibbonImageList(module, kButton); }

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    qvrtest::StartServer();
    bool ok = true;
    {
        auto app = officesim::ExcelApplicationSim::Make<officesim::ExcelApplicationSim>();
        ComPtr<IDTExtensibility2> addIn;
        ComPtr<IDispatch> dispatch;
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"GetImage_Callback")};
        if (FAILED(qvrtest::Factory().CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                                     reinterpret_cast<void**>(addIn.GetAddressOf()))) ||
            FAILED(addIn->OnConnection(app.Get(), 1, nullptr, nullptr)) || FAILED(addIn.As(&dispatch)) ||
            FAILED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
            std::printf("the add-in did not connect\n");
            return 1;
        }
        qvr::TqvrCOMAddInModule& module = *qvrtest::AsAddin(addIn.Get())->COMAddInModule();
        ok &= Run("image list, Office 2007 (picture)", module, 12, dispatch.Get(), id, app->Window());
        ok &= Run("image list, Office 2016 (ICO stream)", module, 16, dispatch.Get(), id, app->Window());
        auto* button = dynamic_cast<qvr::TqvrRibbonButton*>(module.FindRibbonControl(kButton));
        picturetest::Pixels glyph = picturetest::MadeUpPicture(32);
        button->GlyphBitmap().SetPixels(glyph.width, glyph.height, glyph.argb);
        ok &= Run("32 x 32 glyph, Office 2007 (picture)", module, 12, dispatch.Get(), id, app->Window());
        ok &= Run("32 x 32 glyph, Office 2016 (ICO stream)", module, 16, dispatch.Get(), id, app->Window());
        // Where the time goes: the steps of an image-list picture one by one, the platform's own
        // icon from the list first.
        qvr::TImageList* list = RibbonImageListOf(module);
        qvr::unique_hicon icon = qvr::RibbonPictureIcon(nullptr, 0, list);
        const std::pair<const char*, std::function<void()>> steps[] = {
            {"step: ImageList_GetIcon + DestroyIcon", [&] { DestroyIcon(ImageList_GetIcon(list->Handle(), 0, ILD_NORMAL)); }},
            {"step: icon to ICO data", [&] { qvr::IconFileData(icon.get()); }},
            {"step: ICO data into a stream", [&] { qvr::IconAnswer(qvr::RibbonPictureIcon(nullptr, 0, list), 16); }},
            {"step: icon into a picture object", [&] { qvr::IconAnswer(qvr::RibbonPictureIcon(nullptr, 0, list), 12); }},
        };
        for (const auto& [name, step] : steps) {
            const double start = Now();
            for (int i = 0; i < kPictures / 10; ++i) step();
            std::printf("%-40s %6d times,    %7.1f us each\n", name, kPictures / 10, (Now() - start) * 1e6 / (kPictures / 10));
        }
        addIn->OnDisconnection(0, nullptr);
    }
    const bool unloads = qvr::TComServer::Instance()->CanUnloadNow() == S_OK;
    if (!unloads) std::printf("a COM reference was left behind\n");
    qvrtest::StopServer();
    CoUninitialize();
    return ok && unloads ? 0 : 1;
}
