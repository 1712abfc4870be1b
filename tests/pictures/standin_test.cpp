// The stand-in's side: it reads the picture Office would get, refuses ICO data Office could not
// take, and draws the tab with the button's picture in it.
#include "dispatch_support.h"
#include "picture_support.h"

#include "picture.h"
#include "ribbon/pictures.h"
#include "ribbon_host.h"
#include "support/addin_facts.h"

#include <gtest/gtest.h>
#include <objidl.h>

#include <functional>

using namespace qvr;
using namespace dispatchtest;
using namespace picturetest;
using Microsoft::WRL::ComPtr;

namespace {

const std::wstring kButton = qvrtest::kAddInButtonId;

// The .ico data the add-in writes for a made-up 48 x 48 picture in an image list.
std::vector<uint8_t> AddInIco() {
    TImageList list(nullptr);
    list.SetWidth(48);
    list.SetHeight(48);
    unique_hbitmap colour = ColourBitmap(MadeUpPicture()), mask = MaskBitmap(MadeUpPicture());
    list.Add(colour.get(), mask.get());
    unique_hicon icon = RibbonPictureIcon(nullptr, 0, &list);
    return IconFileData(icon.get());
}

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(StandInReader, ReadsTheAddInsIcoAsTheImageListHoldsIt) {
    officesim::Image image;
    std::wstring why;
    ASSERT_TRUE(officesim::ReadIcoFile(AddInIco(), image, why)) << why.c_str();
    const Pixels made = MadeUpPicture();
    ASSERT_EQ(48, image.width);
    ASSERT_EQ(48, image.height);
    for (size_t i = 0; i < made.argb.size(); ++i)
        if (made.clear[i]) EXPECT_EQ(0u, image.pixels[i] >> 24) << i;
        else EXPECT_EQ(made.argb[i], image.pixels[i]) << i;
}

TEST(StandInReader, RefusesIcoDataOfficeCouldNotTake) {
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> spoil;
        const wchar_t* reason;
    };
    for (const Case& c : {
             Case{"reserved field set", [](auto& d) { d[0] = 1; }, L"reserved"},
             Case{"a cursor", [](auto& d) { d[2] = 2; }, L"resource type is 2"},
             Case{"no image", [](auto& d) { d[4] = 0; }, L"no image"},
             Case{"entry wider than the bitmap", [](auto& d) { d[6] = 32; }, L"directory entry 32 x 48"},
             Case{"height not doubled", [](auto& d) { Put32(d, 22 + 8, 48); }, L"bitmap header reads 48 x 48"},
             Case{"size field one short", [](auto& d) { Put32(d, 14, static_cast<uint32_t>(d.size() - 23)); },
                  L"size field says"},
             Case{"offset past the end", [](auto& d) { Put32(d, 18, static_cast<uint32_t>(d.size())); },
                  L"lies outside"},
             Case{"cut short", [](auto& d) { d.resize(d.size() - 1); }, L"lies outside"},
             Case{"24 planes", [](auto& d) { d[22 + 12] = 24; }, L"planes"},
             Case{"run-length compression", [](auto& d) { Put32(d, 22 + 16, BI_RLE8); }, L"compression"},
             Case{"image size of the colour rows alone", [](auto& d) { Put32(d, 22 + 20, 48 * 48 * 4); },
                  L"image size says 9216 bytes, colour and mask rows take 9600"},
         }) {
        std::vector<uint8_t> data = AddInIco();
        c.spoil(data);
        officesim::Image image;
        std::wstring why;
        EXPECT_FALSE(officesim::ReadIcoFile(data, image, why)) << c.what;
        EXPECT_NE(std::wstring::npos, why.find(c.reason)) << c.what << ": " << std::string(why.begin(), why.end());
    }
}

// ---- the stand-in's ribbon against the add-in ----

class StandInPictures : public DispatchFixture, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        Connect();
        Module().SetHostMajorVersion(GetParam());
        ASSERT_EQ(S_OK, ribbon.Load(addIn.Get(), L"Microsoft.Excel.Workbook", app->Window()));
    }
    void TearDown() override {
        ribbon.Release();
        DispatchFixture::TearDown();
    }
    officesim::RibbonHost ribbon;
};

TEST_P(StandInPictures, TheButtonShowsTheImageListsPicture) {
    EXPECT_EQ(std::vector<std::wstring>{}, ribbon.problems);
    const officesim::RibbonElement* button = ribbon.Find(kButton);
    ASSERT_NE(nullptr, button);
    EXPECT_EQ(GetParam() < 14 ? L"picture 48x48" : L"ICO stream 48x48, 9662 bytes", *button->Answer(L"image"));
    auto shown = button->pictures.find(L"image");
    ASSERT_NE(button->pictures.end(), shown);
    TImageList* list = RibbonImageList(Module(), kButton);
    ASSERT_NE(nullptr, list);
    // The picture has an alpha channel: the stand-in shows it as the list holds it, faint edges too.
    EXPECT_EQ(list->GetPixels(0), shown->second.pixels);
}

// Where a picture blended over a plain background lies in a drawing; {-1, -1} when nowhere.
std::pair<int, int> Find(const officesim::Image& drawing, const officesim::Image& picture, uint32_t background) {
    auto blend = [background](uint32_t p) {
        const uint32_t a = p >> 24;
        uint32_t out = 0;
        for (int shift : {0, 8, 16}) {
            const uint32_t s = (p >> shift) & 0xFF, d = (background >> shift) & 0xFF;
            out |= ((s * a + d * (255 - a) + 127) / 255) << shift;
        }
        return out;
    };
    std::vector<uint32_t> expected;
    for (uint32_t p : picture.pixels) expected.push_back(blend(p));
    for (int y = 0; y + picture.height <= drawing.height; ++y)
        for (int x = 0; x + picture.width <= drawing.width; ++x) {
            bool same = true;
            for (int py = 0; same && py < picture.height; ++py)
                for (int px = 0; same && px < picture.width; ++px)
                    same = (drawing.At(x + px, y + py) & 0xFFFFFF) == expected[static_cast<size_t>(py) * picture.width + px];
            if (same) return {x, y};
        }
    return {-1, -1};
}

TEST_P(StandInPictures, TheDrawnTabHoldsTheButtonsPictureAtItsOwnSize) {
    const officesim::RibbonElement* button = ribbon.Find(kButton);
    ASSERT_NE(nullptr, button);
    const officesim::Image& picture = button->pictures.at(L"image");
    const officesim::Image drawing = officesim::DrawRibbon(ribbon.Tabs(), 0);
    ASSERT_FALSE(drawing.Empty());
    const auto at = Find(drawing, picture, 0xF3F3F3);
    EXPECT_NE(-1, at.first) << "the picture, blended over the ribbon's background, is in the drawing";
    for (uint32_t p : drawing.pixels) ASSERT_EQ(0xFFu, p >> 24) << "the drawing is opaque";

    // For the native checks: the drawing as a PNG file and as its raw pixels.
    if (const std::wstring folder = OutputFolder(); !folder.empty() && GetParam() == 16) {
        std::vector<uint8_t> rgba;
        for (uint32_t p : drawing.pixels)
            rgba.insert(rgba.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p),
                                     static_cast<uint8_t>(p >> 24)});
        const std::wstring size = std::to_wstring(drawing.width) + L"x" + std::to_wstring(drawing.height);
        EXPECT_TRUE(officesim::WritePngFile(folder + L"\\drawn-tab.png", drawing));
        EXPECT_TRUE(WriteFile(folder + L"\\drawn-tab-" + size + L".rgba", rgba));
        EXPECT_TRUE(officesim::WritePngFile(folder + L"\\addin-button.png", picture));
    }
}

INSTANTIATE_TEST_SUITE_P(OfficeVersions, StandInPictures, ::testing::Values(12, 16),
                         [](const auto& info) { return "Office" + std::to_string(info.param); });

}  // namespace
