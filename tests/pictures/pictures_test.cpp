// The pictures Office gets from the image callbacks: the add-in's button in every Office version,
// the cases of glyphs, image indexes, missing lists and context menus, the transparency of what
// is handed over, who frees the icon, and no GDI or USER object left behind.
#include "dispatch_support.h"
#include "picture_support.h"

#include "picture.h"
#include "ribbon/pictures.h"
#include "support/addin_facts.h"

#include <gtest/gtest.h>
#include <objidl.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdlib>
#include <functional>

using namespace qvr;
using namespace dispatchtest;
using namespace picturetest;
using Microsoft::WRL::ComPtr;

namespace {

const std::wstring kButton = qvrtest::kAddInButtonId;

// The HIMETRIC length (0.01 mm) of a number of pixels at 96 pixels per inch.
long Himetric(int pixels) { return MulDiv(pixels, 2540, 96); }

// What Office received, read by the tests' own means: "none", "icon picture WxH" (below Office
// 2010), "ICO WxH" (from Office 2010 on), or what was wrong with it; the pixels when it was one.
struct Received {
    std::wstring what;
    Pixels pixels;
    std::optional<IcoFile> ico;
    bool streamAtEnd = false;
};

Received Receive(const VARIANT& answer) {
    Received r;
    IUnknown* unknown = answer.vt == VT_UNKNOWN ? answer.punkVal : answer.vt == VT_DISPATCH ? answer.pdispVal : nullptr;
    if (!unknown) {
        r.what = answer.vt == VT_UNKNOWN || answer.vt == VT_DISPATCH || answer.vt == VT_EMPTY ? L"none" : L"not an object";
        return r;
    }
    ComPtr<IPictureDisp> disp;
    ComPtr<IPicture> picture;
    if (SUCCEEDED(unknown->QueryInterface(IID_IPictureDisp, reinterpret_cast<void**>(disp.GetAddressOf()))) &&
        SUCCEEDED(disp.As(&picture))) {
        SHORT type = 0;
        OLE_HANDLE handle = 0;
        picture->get_Type(&type);
        picture->get_Handle(&handle);
        if (type != PICTYPE_ICON) return r.what = L"picture of type " + std::to_wstring(type), r;
        std::optional<Pixels> pixels = IconPixels(reinterpret_cast<HICON>(static_cast<UINT_PTR>(handle)));
        if (!pixels) return r.what = L"icon picture without a readable icon", r;
        OLE_XSIZE_HIMETRIC w = 0;
        OLE_YSIZE_HIMETRIC h = 0;
        picture->get_Width(&w);
        picture->get_Height(&h);
        if (w != Himetric(pixels->width) || h != Himetric(pixels->height))
            return r.what = L"icon picture whose size differs from its icon", r;
        r.pixels = *pixels;
        r.what = L"icon picture " + std::to_wstring(pixels->width) + L"x" + std::to_wstring(pixels->height);
        return r;
    }
    ComPtr<IStream> stream;
    if (SUCCEEDED(unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf())))) {
        uint64_t position = 0;
        const std::vector<uint8_t> bytes = StreamBytes(stream.Get(), &position);
        r.streamAtEnd = position == bytes.size();
        std::string why;
        r.ico = ReadIco(bytes, why);
        if (!r.ico) return r.what = L"unreadable ICO: " + std::wstring(why.begin(), why.end()), r;
        r.pixels = r.ico->image;
        r.what = L"ICO " + std::to_wstring(r.pixels.width) + L"x" + std::to_wstring(r.pixels.height);
        return r;
    }
    r.what = L"an object that is neither picture nor stream";
    return r;
}

// The answer expected of a version for a picture of a size.
std::wstring Expected(int version, int width, int height) {
    const std::wstring size = std::to_wstring(width) + L"x" + std::to_wstring(height);
    return version < 14 ? L"icon picture " + size : L"ICO " + size;
}

// Pixels equal as the screen shows them: the mask alike, and the colour and alpha alike where the
// pixel is not clear.
::testing::AssertionResult SamePicture(const Pixels& expected, const Pixels& got) {
    if (expected.width != got.width || expected.height != got.height)
        return ::testing::AssertionFailure() << "size " << got.width << "x" << got.height << ", expected "
                                             << expected.width << "x" << expected.height;
    for (size_t i = 0; i < expected.argb.size(); ++i) {
        const int x = static_cast<int>(i) % expected.width, y = static_cast<int>(i) / expected.width;
        if (expected.clear[i] != got.clear[i])
            return ::testing::AssertionFailure() << "mask differs at " << x << "," << y;
        if (!expected.clear[i] && expected.argb[i] != got.argb[i])
            return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << std::hex << got.argb[i]
                                                 << ", expected " << expected.argb[i];
    }
    return ::testing::AssertionSuccess();
}

// ---- the add-in's button ----

class AddInButton : public DispatchFixture, public ::testing::WithParamInterface<int> {};

TEST_P(AddInButton, IsItsImageListPictureInTheVersionsForm) {
    const int version = GetParam();
    Connect();
    Module().SetHostMajorVersion(version);
    TImageList* list = RibbonImageList(Module(), kButton);
    ASSERT_NE(nullptr, list) << "the button's tab holds the add-in's image list";
    ASSERT_EQ(1, list->Count());
    Pixels held{list->Width(), list->Height(), list->GetPixels(0), list->GetMask(0)};
    ASSERT_EQ(48, held.width);

    unique_variant answer = Ask(L"GetImage_Callback", kButton);
    ASSERT_EQ(VT_UNKNOWN, answer.vt);
    Received got = Receive(answer);
    ASSERT_EQ(Expected(version, 48, 48), got.what);
    EXPECT_TRUE(SamePicture(held, got.pixels));

    // Clear parts reach Office as clear: in the mask, and in the alpha channel of the 32-bit image.
    size_t clear = 0;
    for (size_t i = 0; i < held.argb.size(); ++i)
        if ((held.argb[i] >> 24) == 0) {
            ++clear;
            EXPECT_TRUE(got.pixels.clear[i]) << i;
            EXPECT_EQ(0u, got.pixels.argb[i] >> 24) << i;
        }
    EXPECT_GT(clear, 0u) << "the picture has a clear background";

    if (version < 14) return;
    const IcoFile& ico = *got.ico;
    EXPECT_TRUE(got.streamAtEnd) << "the stream is handed over after its last byte";
    struct Field {
        const char* name;
        uint64_t value, expected;
    };
    for (const Field& f : {Field{"reserved", ico.reserved, 0}, Field{"type", ico.type, 1}, Field{"count", ico.count, 1},
                           Field{"width", ico.width, 48}, Field{"height", ico.height, 48},
                           Field{"colour count", ico.colourCount, 32u * ico.header.biPlanes},
                           Field{"entry reserved", ico.entryReserved, 0}, Field{"planes", ico.planes, 0},
                           Field{"bit count", ico.bitCount, 0}, Field{"image offset", ico.imageOffset, 22},
                           Field{"bytes in image", ico.bytesInRes, ico.fileBytes - 22},
                           Field{"header size", ico.header.biSize, 40}, Field{"header width", static_cast<uint64_t>(ico.header.biWidth), 48},
                           Field{"header height", static_cast<uint64_t>(ico.header.biHeight), 96},
                           Field{"header bits", ico.header.biBitCount, 32},
                           Field{"header image size (colour and mask)", ico.header.biSizeImage, 48 * 48 * 4 + 48 * 8},
                           Field{"file size", ico.fileBytes, 22 + 40 + 48 * 48 * 4 + 48 * 8}})
        EXPECT_EQ(f.expected, f.value) << f.name;

    // For the native checks: the ICO as Office 2016 gets it, and the image list's pixels.
    if (const std::wstring folder = OutputFolder(); !folder.empty() && version == 16) {
        ComPtr<IStream> stream;
        ASSERT_EQ(S_OK, answer.punkVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf())));
        EXPECT_TRUE(WriteFile(folder + L"\\addin-button.ico", StreamBytes(stream.Get())));
        std::vector<uint8_t> rgba;
        for (uint32_t p : held.argb)
            rgba.insert(rgba.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p),
                                     static_cast<uint8_t>(p >> 24)});
        EXPECT_TRUE(WriteFile(folder + L"\\addin-button.rgba", rgba));
    }
}

INSTANTIATE_TEST_SUITE_P(OfficeVersions, AddInButton, ::testing::Values(12, 14, 15, 16),
                         [](const auto& info) { return "Office" + std::to_string(info.param); });

// ---- the cases of glyphs, indexes and lists ----

// Tab "T" with a 48 x 48 list of one picture, tab "T2" without a list.
class Sources : public DispatchFixture, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        Connect([this](TqvrCOMAddInModule& m) {
            Tree t(m);
            list = new TImageList(&m);
            list->SetWidth(48);
            list->SetHeight(48);
            unique_hbitmap colour = ColourBitmap(MadeUpPicture()), mask = MaskBitmap(MadeUpPicture());
            list->Add(colour.get(), mask.get());
            t.tab->SetImages(list);
            t.Add<TqvrRibbonButton>(rctButton, L"Indexed")->SetImageIndex(0);
            t.Add<TqvrRibbonButton>(rctButton, L"NoIndex")->SetImageIndex(-1);
            t.Add<TqvrRibbonButton>(rctButton, L"AtCount")->SetImageIndex(1);
            auto* glyphed = t.Add<TqvrRibbonButton>(rctButton, L"Glyph");
            glyphed->SetImageIndex(7);
            glyphed->GlyphBitmap().SetPixels(16, 24, Glyph(true));
            auto* menu = t.Add<TqvrRibbonMenu>(rctMenu, L"Menu");
            t.Add<TqvrRibbonButton>(menu->Controls(), rctButton, L"InMenu")->SetImageIndex(0);
            auto* combo = t.Add<TqvrRibbonComboBox>(rctComboBox, L"Fruit");
            combo->Items().AddItem()->SetImageIndex(0);
            TqvrRibbonItem* withGlyph = combo->Items().AddItem();
            withGlyph->SetImageIndex(0);
            withGlyph->GlyphBitmap().SetPixels(16, 24, Glyph(true));
            combo->Items().AddItem()->SetImageIndex(-1);

            Tree bare(m);
            bare.tab->SetId(L"T2");
            bare.group->SetId(L"G2");
            bare.Add<TqvrRibbonButton>(rctButton, L"Bare")->SetImageIndex(0);
            bare.Add<TqvrRibbonButton>(rctButton, L"BareGlyph")->GlyphBitmap().SetPixels(16, 24, Glyph(false));
        });
        Module().SetHostMajorVersion(GetParam());
    }

public:
    // 16 x 24: its bottom-left colour (magenta) also inside it, black, and colours; alpha 0xFF
    // throughout or none at all.
    static std::vector<uint32_t> Glyph(bool alpha) {
        std::vector<uint32_t> p(16 * 24);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 16; ++x) {
                uint32_t rgb = (x + y) % 5 == 0 ? 0xFF00FF : y % 3 == 0 ? 0x000000 : 0x204060u + 0x0A0000u * x + 0x000508u * y;
                p[static_cast<size_t>(y) * 16 + x] = (alpha ? 0xFF000000u : 0u) | rgb;
            }
        p[23 * 16] = (alpha ? 0xFF000000u : 0u) | 0xFF00FF;
        return p;
    }

protected:
    TImageList* list = nullptr;
};

TEST_P(Sources, GiveThePictureOrNone) {
    const int v = GetParam();
    struct Case {
        const wchar_t* callback;
        std::wstring control;
        std::optional<int> index;
        std::wstring expected;
        const char* why;
    };
    const std::wstring list48 = Expected(v, 48, 48), glyph = Expected(v, 16, 24), none = L"none";
    for (const Case& c : {
             Case{L"GetImage_Callback", L"Indexed", {}, list48, "index 0 in the tab's list"},
             Case{L"GetImage_Callback", L"INDEXED", {}, list48, "the control found whatever the letter case"},
             Case{L"GetImage_Callback", L"NoIndex", {}, none, "index -1 and no glyph"},
             Case{L"GetImage_Callback", L"AtCount", {}, none, "index equal to the number of pictures"},
             Case{L"GetImage_Callback", L"Glyph", {}, glyph, "the glyph before an index outside the list"},
             Case{L"GetImage_Callback", L"InMenu", {}, list48, "the list of the tab above the menu"},
             Case{L"GetImage_Callback", L"Bare", {}, none, "a tab without a list"},
             Case{L"GetImage_Callback", L"BareGlyph", {}, glyph, "a glyph needs no list"},
             Case{L"GetImage_Callback", L"T", {}, none, "a tab has no picture"},
             Case{L"GetImage_Callback", L"NoSuchControl", {}, none, "no control"},
             Case{L"GetItemImage_Callback", L"Fruit", 0, list48, "an item's index in the tab's list"},
             Case{L"GetItemImage_Callback", L"fruit", 0, list48, "the list found whatever the letter case"},
             Case{L"GetItemImage_Callback", L"Fruit", 1, glyph, "an item's glyph"},
             Case{L"GetItemImage_Callback", L"Fruit", 2, none, "an item without a picture"},
             Case{L"GetItemImage_Callback", L"Fruit_qvr_context_menu_1", 0, none, "an item in a context menu finds no list"},
             Case{L"GetItemImage_Callback", L"Fruit_qvr_context_menu_1", 1, glyph, "but shows its glyph"},
         }) {
        unique_variant answer = Ask(c.callback, c.control, c.index);
        EXPECT_EQ(c.expected, Receive(answer).what) << c.why;
    }
    // The image callback of the markup's image ids names the control by text.
    unique_variant byImageId;
    ASSERT_EQ(S_OK, Call(L"GetImages_Callback", [] {
                  std::vector<unique_variant> a;
                  a.push_back(unique_variant::FromString(L"Indexed"));
                  return a;
              }(), &byImageId));
    EXPECT_EQ(list48, Receive(byImageId).what);
}

TEST_P(Sources, TheImageListIsTheOneOfTheTabHoldingTheRegisteredControl) {
    struct Case {
        std::wstring id;
        TImageList* expected;
    };
    for (const Case& c : {Case{L"Indexed", list}, Case{L"inmenu", list}, Case{L"Fruit", list}, Case{L"Bare", nullptr},
                          Case{L"T", nullptr}, Case{L"G", list}, Case{L"NoSuchControl", nullptr},
                          Case{L"Fruit_qvr_context_menu_1", nullptr}, Case{L"Menuwrapped", nullptr}})
        EXPECT_EQ(c.expected, RibbonImageList(Module(), c.id)) << c.id.c_str();
}

TEST_P(Sources, TheGlyphsBottomLeftColourIsClearAndTheGlyphKeepsItsColours) {
    for (const wchar_t* id : {L"Glyph", L"BareGlyph"}) {
        auto* button = Component<TqvrRibbonButton>(id);
        const std::vector<uint32_t> before = button->GlyphBitmap().Pixels();
        Received first = Receive(Ask(L"GetImage_Callback", id));
        Received second = Receive(Ask(L"GetImage_Callback", id));
        ASSERT_EQ(Expected(GetParam(), 16, 24), first.what) << id;
        EXPECT_EQ(before, button->GlyphBitmap().Pixels()) << id << ": the control's glyph is left as it was";
        EXPECT_TRUE(SamePicture(first.pixels, second.pixels)) << id << ": every request gives the same picture";
        for (size_t i = 0; i < before.size(); ++i) {
            const bool key = (before[i] & 0xFFFFFF) == 0xFF00FF;
            EXPECT_EQ(key, first.pixels.clear[i]) << id << " mask at " << i;
            if (key) EXPECT_EQ(0u, first.pixels.argb[i] >> 24) << id << " alpha at " << i;
            else EXPECT_EQ(0xFF000000u | before[i], first.pixels.argb[i]) << id << " at " << i;
        }
    }
}

// ---- a picture changes, Office asks again ----

// What Office should see of a glyph: its colours opaque, its bottom-left colour clear.
Pixels SeenGlyph(int width, int height, const std::vector<uint32_t>& glyph) {
    Pixels p{width, height, {}, {}};
    const uint32_t key = glyph[static_cast<size_t>(height - 1) * width] & 0xFFFFFF;
    for (uint32_t g : glyph) {
        p.argb.push_back(0xFF000000u | (g & 0xFFFFFF));
        p.clear.push_back((g & 0xFFFFFF) == key);
    }
    return p;
}

// The picture at `index` of a list, as the list holds it.
Pixels Held(const TImageList& list, int index) {
    return Pixels{list.Width(), list.Height(), list.GetPixels(index), list.GetMask(index)};
}

// The made-up picture in other colours.
Pixels Recoloured(Pixels p, uint32_t xorRgb) {
    for (uint32_t& v : p.argb) v ^= xorRgb;
    return p;
}

TEST_P(Sources, AChangedGlyphImageIndexOrImageListGivesTheNewPictureAtOnce) {
    auto* tab = Component<TqvrRibbonTab>(L"T");
    auto* indexed = Component<TqvrRibbonButton>(L"Indexed");
    auto* glyphed = Component<TqvrRibbonButton>(L"Glyph");
    TqvrRibbonItem* fruit = Component<TqvrRibbonComboBox>(L"Fruit")->Items().GetItem(1);
    ASSERT_TRUE(tab && indexed && glyphed && fruit);
    const Pixels blue = Recoloured(MadeUpPicture(), 0x00FF00), red = Recoloured(MadeUpPicture(), 0x0000FF);
    auto add = [](TImageList& to, const Pixels& p) {
        unique_hbitmap colour = ColourBitmap(p), mask = MaskBitmap(p);
        return to.Add(colour.get(), mask.get());
    };
    std::vector<uint32_t> otherGlyph = Glyph(true);
    for (uint32_t& p : otherGlyph) p ^= 0x00302010;
    auto* second = new TImageList(&Module());
    second->SetWidth(48);
    second->SetHeight(48);
    add(*second, red);

    struct Step {
        const char* change;
        std::function<void()> make;
        const wchar_t* callback;
        const wchar_t* control;
        std::optional<int> item;
        std::function<Pixels()> expected;
    };
    const Step steps[] = {
        {"none (the first request)", [] {}, L"GetImage_Callback", L"Indexed", {}, [&] { return Held(*list, 0); }},
        {"another image index", [&] { indexed->SetImageIndex(add(*list, blue)); }, L"GetImage_Callback", L"Indexed", {},
         [&] { return Held(*list, 1); }},
        {"the image index back", [&] { indexed->SetImageIndex(0); }, L"GetImage_Callback", L"Indexed", {},
         [&] { return Held(*list, 0); }},
        {"the list's pictures, same index", [&] {
             list->Clear();
             add(*list, blue);
         }, L"GetImage_Callback",
         L"Indexed", {}, [&] { return Held(*list, 0); }},
        {"the list read from a stored one", [&] { list->ReadData(second->WriteData()); }, L"GetImage_Callback",
         L"Indexed", {}, [&] { return Held(*second, 0); }},
        {"the list's size", [&] {
             list->SetWidth(32);
             list->SetHeight(32);
             add(*list, MadeUpPicture(32));
         },
         L"GetImage_Callback", L"Indexed", {}, [&] { return Held(*list, 0); }},
        {"another image list on the tab", [&] { tab->SetImages(second); }, L"GetImage_Callback", L"Indexed", {},
         [&] { return Held(*second, 0); }},
        {"a glyph given to an indexed control", [&] { indexed->GlyphBitmap().SetPixels(16, 24, otherGlyph); },
         L"GetImage_Callback", L"Indexed", {}, [&] { return SeenGlyph(16, 24, otherGlyph); }},
        {"that glyph taken away", [&] { indexed->GlyphBitmap().SetHandle(nullptr); }, L"GetImage_Callback", L"Indexed",
         {}, [&] { return Held(*second, 0); }},
        {"none (the glyph's first request)", [] {}, L"GetImage_Callback", L"Glyph", {},
         [&] { return SeenGlyph(16, 24, Glyph(true)); }},
        {"the glyph's pixels", [&] { glyphed->GlyphBitmap().SetPixels(16, 24, otherGlyph); }, L"GetImage_Callback",
         L"Glyph", {}, [&] { return SeenGlyph(16, 24, otherGlyph); }},
        {"the glyph assigned from another", [&] { glyphed->GlyphBitmap().Assign(fruit->GlyphBitmap()); },
         L"GetImage_Callback", L"Glyph", {}, [&] { return SeenGlyph(16, 24, Glyph(true)); }},
        {"an item's glyph", [&] { fruit->GlyphBitmap().SetPixels(16, 24, otherGlyph); }, L"GetItemImage_Callback",
         L"Fruit", 1, [&] { return SeenGlyph(16, 24, otherGlyph); }},
        {"the item's glyph emptied by an empty stored bitmap",
         [&] { fruit->GlyphBitmap().LoadFromBytes(indexed->GlyphBitmap().SaveToBytes()); },
         L"GetItemImage_Callback", L"Fruit", 1, [&] { return Held(*second, 0); }},
    };
    for (const Step& step : steps) {
        step.make();
        // Asked twice: the second answer comes from what the first one made, if anything is kept.
        for (int round = 0; round < 2; ++round) {
            Received got = Receive(Ask(step.callback, step.control, step.item));
            const Pixels expected = step.expected();
            ASSERT_EQ(Expected(GetParam(), expected.width, expected.height), got.what) << "after " << step.change;
            EXPECT_TRUE(SamePicture(expected, got.pixels)) << "after " << step.change << ", request " << round + 1;
        }
    }
}

TEST_P(Sources, EveryRequestGetsAnObjectOfItsOwn) {
    unique_variant first = Ask(L"GetImage_Callback", L"Indexed");
    unique_variant second = Ask(L"GetImage_Callback", L"Indexed");
    ASSERT_EQ(VT_UNKNOWN, first.vt);
    ASSERT_EQ(VT_UNKNOWN, second.vt);
    EXPECT_NE(first.punkVal, second.punkVal);
    const Received expected = Receive(second);
    if (GetParam() >= 14) {
        // Office reads its stream from the start and may do anything with it: nothing of that
        // reaches the next answer.
        ComPtr<IStream> stream;
        ASSERT_EQ(S_OK, first.punkVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf())));
        const std::vector<uint8_t> garbage(64, 0xEE);
        LARGE_INTEGER start{};
        ASSERT_EQ(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
        ULONG written = 0;
        ASSERT_EQ(S_OK, stream->Write(garbage.data(), static_cast<ULONG>(garbage.size()), &written));
        ULARGE_INTEGER small;
        small.QuadPart = 100;
        ASSERT_EQ(S_OK, stream->SetSize(small));
    }
    first = unique_variant();
    Received third = Receive(Ask(L"GetImage_Callback", L"Indexed"));
    ASSERT_EQ(expected.what, third.what);
    EXPECT_TRUE(third.streamAtEnd || GetParam() < 14);
    EXPECT_TRUE(SamePicture(expected.pixels, third.pixels));
    if (GetParam() >= 14) {
        EXPECT_EQ(expected.ico->fileBytes, third.ico->fileBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(OfficeVersions, Sources, ::testing::Values(12, 16),
                         [](const auto& info) { return "Office" + std::to_string(info.param); });

// ---- an image list's picture read straight from the list ----

int ScreenDepth() {
    HDC screen = GetDC(nullptr);
    const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    return bits;
}

// The ICO data of every entry of a list, read straight from the list, is the data of the icon the
// platform makes of that entry: pictures anywhere in the list's bitmap (several rows of them),
// widths that are no multiple of 8 (mask bits across bytes), pictures added without a mask,
// pictures without any alpha.
TEST(ImageListIco, IsTheIconsIcoDataForEveryEntry) {
    if (ScreenDepth() != 32)
        GTEST_SKIP() << "the platform makes icons at the display's depth: the bytes agree at 32 bits per pixel";

    // A picture of a size: MadeUpPicture's, cut or widened, in colours of its own per entry.
    auto picture = [](int width, int height, uint32_t xorRgb, bool alpha) {
        const Pixels made = MadeUpPicture(48);
        Pixels p{width, height, {}, {}};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const size_t from = static_cast<size_t>(y % 48) * 48 + x % 48;
                uint32_t v = made.argb[from] ^ xorRgb;
                p.argb.push_back(alpha ? v : v & 0xFFFFFF);
                p.clear.push_back(made.clear[from]);
            }
        return p;
    };
    struct Case {
        const char* what;
        int width, height, count;
        bool masked, alpha;
    };
    for (const Case& c : {Case{"the add-in's size, one entry", 48, 48, 1, true, true},
                          Case{"nine entries: rows of pictures", 48, 48, 9, true, true},
                          Case{"13 x 7: mask rows across bytes", 13, 7, 6, true, true},
                          Case{"no alpha: the mask gives it", 20, 20, 5, true, false},
                          Case{"added without a mask", 16, 16, 5, false, true}}) {
        TImageList list(nullptr);
        list.SetWidth(c.width);
        list.SetHeight(c.height);
        for (int i = 0; i < c.count; ++i) {
            const Pixels p = picture(c.width, c.height, 0x0F0F0Fu * i, c.alpha);
            unique_hbitmap colour = ColourBitmap(p), mask = MaskBitmap(p);
            list.Add(colour.get(), c.masked ? mask.get() : nullptr);
        }
        ASSERT_EQ(c.count, list.Count()) << c.what;
        for (int i = 0; i < c.count; ++i) {
            unique_hicon icon = list.GetIcon(i);
            ASSERT_TRUE(icon) << c.what;
            EXPECT_EQ(IconFileData(icon.get()), ImageListIcoData(list, i)) << c.what << ", entry " << i;
        }
        EXPECT_TRUE(ImageListIcoData(list, c.count).empty()) << c.what << ": past the last entry";
        EXPECT_TRUE(ImageListIcoData(list, -1).empty()) << c.what;
    }
}

// A list read from its stored form answers with the pictures it was stored with, before its list of
// the common controls is made (on first use of its handle) and after; adding to it keeps them.
TEST(ImageListIco, AStoredListGivesItsPicturesBeforeAndAfterItsListIsMade) {
    const Pixels made = MadeUpPicture(48);
    TImageList source(nullptr);
    source.SetWidth(20);
    source.SetHeight(20);
    for (int i = 0; i < 6; ++i) {  // two rows of the stored bitmap
        Pixels p{20, 20, {}, {}};
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) {
                const size_t from = static_cast<size_t>(y + 2 * i) * 48 + x + i;
                p.argb.push_back(made.argb[from] ^ (0x102030u * i));
                p.clear.push_back(made.clear[from]);
            }
        unique_hbitmap colour = ColourBitmap(p), mask = MaskBitmap(p);
        source.Add(colour.get(), mask.get());
    }
    const std::vector<uint8_t> stored = source.WriteData();

    struct Seen {
        std::vector<uint32_t> pixels;
        std::vector<bool> mask;
        std::vector<uint8_t> ico;
        bool operator==(const Seen&) const = default;
    };
    auto look = [](const TImageList& list, int i) {
        return Seen{list.GetPixels(i), list.GetMask(i), ImageListIcoData(list, i)};
    };

    TImageList read(nullptr);
    read.ReadData(stored);
    ASSERT_EQ(6, read.Count());
    EXPECT_EQ(stored, read.WriteData()) << "written back as read";
    EXPECT_THROW(read.GetPixels(6), EqvrError);
    std::vector<Seen> before;
    for (int i = 0; i < 6; ++i) {
        before.push_back(look(read, i));
        EXPECT_EQ(source.GetPixels(i), before.back().pixels) << i;
        EXPECT_EQ(source.GetMask(i), before.back().mask) << i;
        EXPECT_EQ(ImageListIcoData(source, i), before.back().ico) << i;
    }

    ASSERT_NE(nullptr, read.Handle());
    ASSERT_EQ(6, ImageList_GetImageCount(read.Handle())) << "the list made holds every stored picture";
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(before[i] == look(read, i)) << "entry " << i << " once the list is made";
        if (ScreenDepth() == 32) {
            unique_hicon icon = read.GetIcon(i);
            EXPECT_EQ(IconFileData(icon.get()), before[i].ico) << "entry " << i << ": the icon route agrees";
        }
    }

    TImageList added(nullptr);
    added.ReadData(stored);
    added.SetWidth(20);  // the same size: nothing changes
    Pixels small{20, 20, std::vector<uint32_t>(400, 0xFF336699u), std::vector<bool>(400, false)};
    unique_hbitmap smallColour = ColourBitmap(small), smallMask = MaskBitmap(small);
    EXPECT_EQ(6, added.Add(smallColour.get(), smallMask.get())) << "added after the stored pictures";
    ASSERT_EQ(7, added.Count());
    EXPECT_TRUE(before[0] == look(added, 0));
    EXPECT_EQ(small.argb, added.GetPixels(6));

    TImageList cleared(nullptr);
    cleared.ReadData(stored);
    cleared.Clear();
    EXPECT_EQ(0, cleared.Count());
    EXPECT_TRUE(ImageListIcoData(cleared, 0).empty());
}

class AddInList : public DispatchFixture {};

TEST_F(AddInList, ReadStraightIsTheIconsIcoData) {
    if (ScreenDepth() != 32)
        GTEST_SKIP() << "the platform makes icons at the display's depth: the bytes agree at 32 bits per pixel";
    Connect();
    const TImageList* list = RibbonImageList(Module(), kButton);
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(1, list->Count());
    unique_hicon icon = list->GetIcon(0);
    ASSERT_TRUE(icon);
    EXPECT_EQ(IconFileData(icon.get()), ImageListIcoData(*list, 0));
}

// ---- who frees what ----

unique_hicon NewIcon() {
    Pixels p = MadeUpPicture(32);
    unique_hbitmap colour = ColourBitmap(p), mask = MaskBitmap(p);
    ICONINFO ii{TRUE, 0, 0, mask.get(), colour.get()};
    return unique_hicon(CreateIconIndirect(&ii));
}

bool IsIcon(HICON icon) { return IconPixels(icon).has_value(); }

TEST(IconOwnership, ThePictureObjectDestroysTheIconWhenOfficeReleasesIt) {
    unique_hicon icon = NewIcon();
    ASSERT_TRUE(icon);
    const HICON handle = icon.get();
    ComPtr<IUnknown> answer = IconAnswer(std::move(icon), 12);
    ComPtr<IPicture> picture;
    ASSERT_EQ(S_OK, answer.As(&picture));
    OLE_HANDLE held = 0;
    ASSERT_EQ(S_OK, picture->get_Handle(&held));
    EXPECT_EQ(handle, reinterpret_cast<HICON>(static_cast<UINT_PTR>(held)));
    EXPECT_TRUE(IsIcon(handle)) << "alive while Office holds the picture";
    picture.Reset();
    answer.Reset();
    EXPECT_FALSE(IsIcon(handle)) << "destroyed with the picture";
}

TEST(IconOwnership, TheStreamAnswerLeavesNoIconBehind) {
    unique_hicon icon = NewIcon();
    const HICON handle = icon.get();
    ComPtr<IUnknown> answer = IconAnswer(std::move(icon), 16);
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, answer.As(&stream));
    EXPECT_FALSE(IsIcon(handle)) << "the ICO data is all Office needs";
    answer.Reset();
    EXPECT_EQ(0u, stream.Reset()) << "the stream is Office's alone, and frees its memory with it";
}

TEST(IconOwnership, NoIconGivesNoAnswerInAnyVersion) {
    for (int version : {12, 14, 16}) EXPECT_EQ(nullptr, IconAnswer(unique_hicon(), version).Get()) << version;
}

// ---- nothing left behind ----

TEST_P(Sources, ManyRequestsLeaveNoGdiOrUserObjectBehind) {
    // One round first, so that what the platform creates once (caches, the OLE picture class)
    // is there before counting.
    for (const wchar_t* id : {L"Indexed", L"Glyph"}) Ask(L"GetImage_Callback", id);
    Ask(L"GetItemImage_Callback", L"Fruit", 1);
    const GuiObjects before = CountGuiObjects();
    for (int i = 0; i < 300; ++i) {
        for (const wchar_t* id : {L"Indexed", L"Glyph"}) Ask(L"GetImage_Callback", id);
        Ask(L"GetItemImage_Callback", L"Fruit", 1);
    }
    const GuiObjects after = CountGuiObjects();
    EXPECT_EQ(before.gdi, after.gdi);
    EXPECT_EQ(before.user, after.user);
    EXPECT_GT(before.gdi, 0) << "the count is real";
}

}  // namespace

// ---- a display of 16 bits per pixel ----

// Icons are made at the display's depth, 16 bits there: a glyph's ICO carries its colours in 16
// bits (with their bit fields when the layout is not the plain one) and its clear parts in the
// mask alone. An image list's picture is read from the list's own 32-bit bitmaps and keeps its
// alpha. Run by pictures_tests_16bit under a display of that depth; skipped elsewhere.
class SixteenBitDisplay : public DispatchFixture {
protected:
    void SetUp() override {
        if (ScreenDepth() != 16) GTEST_SKIP() << "needs a display of 16 bits per pixel (pictures_tests_16bit)";
    }
};

// Colours alike within what 5 or 6 bits keep, and the mask alike, for the pixels the source holds
// opaque; clear ones clear.
::testing::AssertionResult AlikeAtSixteenBits(const Pixels& held, const Pixels& got) {
    if (held.width != got.width || held.height != got.height) return ::testing::AssertionFailure() << "size differs";
    for (size_t i = 0; i < held.argb.size(); ++i) {
        if (held.clear[i] != got.clear[i]) return ::testing::AssertionFailure() << "mask differs at " << i;
        if (held.clear[i] || (held.argb[i] >> 24) != 0xFF) continue;
        for (int shift : {0, 8, 16}) {
            const int a = (held.argb[i] >> shift) & 0xFF, b = (got.argb[i] >> shift) & 0xFF;
            if (std::abs(a - b) > 8)
                return ::testing::AssertionFailure() << "pixel " << i << " is " << std::hex << got.argb[i] << ", held "
                                                     << held.argb[i];
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_F(SixteenBitDisplay, TheButtonKeepsItsPictureAt32Bits) {
    Connect();
    Module().SetHostMajorVersion(16);
    TImageList* list = RibbonImageList(Module(), kButton);
    ASSERT_NE(nullptr, list);
    const Pixels held{list->Width(), list->Height(), list->GetPixels(0), list->GetMask(0)};
    unique_variant answer = Ask(L"GetImage_Callback", kButton);
    Received got = Receive(answer);
    ASSERT_EQ(L"ICO 48x48", got.what);
    EXPECT_EQ(32, got.ico->header.biBitCount);
    EXPECT_TRUE(SamePicture(held, got.pixels)) << "colours and soft edges as the list holds them";

    officesim::ReceivedPicture shown = officesim::ReadPictureAnswer(answer);
    EXPECT_EQ(L"", shown.error) << "the stand-in reads it";
    EXPECT_EQ(48, shown.image.width);
}

TEST_F(SixteenBitDisplay, AGlyphIsA16BitIcoWhoseSizeFieldAndMaskHold) {
    const std::vector<uint32_t> glyph = Sources::Glyph(false);
    Connect([&](TqvrCOMAddInModule& m) {
        Tree t(m);
        t.Add<TqvrRibbonButton>(rctButton, L"Glyph")->GlyphBitmap().SetPixels(16, 24, glyph);
    });
    Module().SetHostMajorVersion(16);
    unique_variant answer = Ask(L"GetImage_Callback", L"Glyph");
    Received got = Receive(answer);
    ASSERT_EQ(L"ICO 16x24", got.what);
    const IcoFile& ico = *got.ico;
    EXPECT_EQ(16, ico.header.biBitCount);
    EXPECT_EQ(16, ico.colourCount) << "planes times bits per pixel";
    EXPECT_EQ(22u, ico.imageOffset);
    EXPECT_EQ(ico.fileBytes - 22, ico.bytesInRes);
    EXPECT_EQ(48, ico.header.biHeight);
    const size_t fields = ico.header.biCompression == BI_BITFIELDS ? 12 : 0;
    EXPECT_EQ(fields / 4, ico.masks.size());
    EXPECT_EQ(22 + 40 + fields + 32 * 24 + 4 * 24, ico.fileBytes) << "header, masks, colour rows, mask rows";
    EXPECT_EQ(32u * 24 + 4 * 24, ico.header.biSizeImage) << "colour rows and mask rows";
    EXPECT_TRUE(AlikeAtSixteenBits(SeenGlyph(16, 24, glyph), got.pixels));

    officesim::ReceivedPicture shown = officesim::ReadPictureAnswer(answer);
    EXPECT_EQ(L"", shown.error) << "the stand-in reads it";
    EXPECT_EQ(16, shown.image.width);
}

TEST_F(SixteenBitDisplay, Office2007GetsTheIconPictureAndGlyphsKeepTheirClearColour) {
    Connect([](TqvrCOMAddInModule& m) {
        Tree t(m);
        t.Add<TqvrRibbonButton>(rctButton, L"Glyph")->GlyphBitmap().SetPixels(16, 24, Sources::Glyph(false));
    });
    for (int version : {12, 16}) {
        Module().SetHostMajorVersion(version);
        Received got = Receive(Ask(L"GetImage_Callback", L"Glyph"));
        ASSERT_EQ(Expected(version, 16, 24), got.what);
        const std::vector<uint32_t> glyph = Sources::Glyph(false);
        for (size_t i = 0; i < glyph.size(); ++i) EXPECT_EQ(glyph[i] == 0xFF00FF, got.pixels.clear[i]) << version << " " << i;
    }
}
