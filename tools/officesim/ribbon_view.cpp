// The stand-in's picture of the ribbon: drawn with GDI into a 32-bit DIB, with the pictures the
// add-in handed over blended in by their alpha, in Excel's colours.
#include "ribbon_host.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>

namespace officesim {

namespace {

void DeleteGdiObject(HGDIOBJ object) noexcept { DeleteObject(object); }
using unique_gdiobj = qvr::unique_any<HGDIOBJ, DeleteGdiObject>;

// Excel's ribbon colours (COLORREF: 0x00BBGGRR).
constexpr COLORREF kTabBar = RGB(0x21, 0x73, 0x46);
constexpr COLORREF kTabBarText = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kBody = RGB(0xF3, 0xF3, 0xF3);
constexpr COLORREF kLine = RGB(0xD4, 0xD4, 0xD4);
constexpr COLORREF kText = RGB(0x26, 0x26, 0x26);
constexpr COLORREF kGroupText = RGB(0x66, 0x66, 0x66);

constexpr int kTabRow = 28;
constexpr int kPad = 6;
constexpr int kSmallPicture = 16;
constexpr int kLargePictureMax = 48;
constexpr int kSmallRow = 24;
constexpr int kLineHeight = 16;
constexpr int kContentHeight = kPad + kLargePictureMax + 4 + 2 * kLineHeight + kPad;
constexpr int kGroupLabel = 20;

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// The first of the user-interface faces this machine has.
std::wstring FontFace(HDC dc) {
    for (const wchar_t* face : {L"Segoe UI", L"Tahoma", L"DejaVu Sans", L"Arial", L"Liberation Sans"}) {
        LOGFONTW want{};
        want.lfCharSet = DEFAULT_CHARSET;
        wcsncpy(want.lfFaceName, face, LF_FACESIZE - 1);
        bool found = false;
        EnumFontFamiliesExW(dc, &want, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
        if (found) return face;
    }
    return L"";
}

// An image resized to w x h by averaging the source pixels each target pixel covers (weighted by
// alpha, so that clear pixels lend no colour).
Image Resized(const Image& source, int w, int h) {
    if (source.width == w && source.height == h) return source;
    Image out(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int x0 = x * source.width / w, x1 = std::max(x0 + 1, (x + 1) * source.width / w);
            const int y0 = y * source.height / h, y1 = std::max(y0 + 1, (y + 1) * source.height / h);
            double a = 0, r = 0, g = 0, b = 0;
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx) {
                    const uint32_t p = source.At(sx, sy);
                    const double pa = (p >> 24) / 255.0;
                    a += pa;
                    r += pa * ((p >> 16) & 0xFF);
                    g += pa * ((p >> 8) & 0xFF);
                    b += pa * (p & 0xFF);
                }
            const double n = static_cast<double>((x1 - x0) * (y1 - y0));
            if (a <= 0) continue;
            out.At(x, y) = static_cast<uint32_t>(a / n * 255 + 0.5) << 24 | static_cast<uint32_t>(r / a + 0.5) << 16 |
                           static_cast<uint32_t>(g / a + 0.5) << 8 | static_cast<uint32_t>(b / a + 0.5);
        }
    return out;
}

std::wstring LabelOf(const RibbonElement& e) {
    if (const std::wstring* shown = e.Answer(L"label")) return *shown;
    auto written = e.attributes.find(L"label");
    return written == e.attributes.end() ? std::wstring() : written->second;
}

bool Hidden(const RibbonElement& e) {
    const std::wstring* visible = e.Answer(L"visible");
    return visible && *visible == L"false";
}

bool IsLarge(const RibbonElement& e) {
    if (const std::wstring* size = e.Answer(L"size")) return *size == L"large";
    auto written = e.attributes.find(L"size");
    return written != e.attributes.end() && written->second == L"large";
}

const Image* PictureOf(const RibbonElement& e) {
    auto it = e.pictures.find(L"image");
    if (it == e.pictures.end()) return nullptr;
    if (const std::wstring* show = e.Answer(L"showImage"); show && *show == L"false") return nullptr;
    return &it->second;
}

// A large control's label on two lines, split at the space nearest its middle, as Office does.
std::vector<std::wstring> LargeLabelLines(const std::wstring& label) {
    size_t best = std::wstring::npos;
    for (size_t i = label.find(L' '); i != std::wstring::npos; i = label.find(L' ', i + 1))
        if (best == std::wstring::npos || std::abs(static_cast<long>(2 * i) - static_cast<long>(label.size())) <
                                              std::abs(static_cast<long>(2 * best) - static_cast<long>(label.size())))
            best = i;
    if (best == std::wstring::npos) return {label};
    return {label.substr(0, best), label.substr(best + 1)};
}

// The controls of a group as they stand in it: containers without a look of their own (boxes,
// button groups) are opened.
void Flatten(const std::vector<RibbonElement>& elements, std::vector<const RibbonElement*>& out) {
    for (const RibbonElement& e : elements) {
        if (Hidden(e)) continue;
        if (e.element == L"box" || e.element == L"buttonGroup")
            Flatten(e.children, out);
        else
            out.push_back(&e);
    }
}

struct PicturePlacement {
    const Image* image;
    RECT at;
};

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height), dc_(CreateCompatibleDC(nullptr)) {
        BITMAPINFO info = TopDown32Info(width, height);
        bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
        if (bitmap_) oldBitmap_ = SelectObject(dc_.get(), bitmap_.get());
        SetBkMode(dc_.get(), TRANSPARENT);
    }
    ~Canvas() {
        if (oldFont_) SelectObject(dc_.get(), oldFont_);
        if (oldBitmap_) SelectObject(dc_.get(), oldBitmap_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool Ok() const { return bitmap_ && bits_; }
    HDC Dc() const { return dc_.get(); }
    void UseFont(HFONT font) {
        HGDIOBJ old = SelectObject(dc_.get(), font);
        if (!oldFont_) oldFont_ = old;
    }
    void Fill(RECT r, COLORREF colour) {
        unique_gdiobj brush(CreateSolidBrush(colour));
        FillRect(dc_.get(), &r, static_cast<HBRUSH>(brush.get()));
    }
    void Text(const std::wstring& text, RECT r, COLORREF colour, UINT align = DT_CENTER) {
        SetTextColor(dc_.get(), colour);
        DrawTextW(dc_.get(), text.c_str(), static_cast<int>(text.size()), &r, align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    }
    // The picture blended over what is drawn, by its alpha, scaled to the rectangle.
    void Blend(const Image& picture, RECT r) {
        const Image scaled = Resized(picture, r.right - r.left, r.bottom - r.top);
        auto* px = static_cast<uint32_t*>(bits_);
        for (int y = 0; y < scaled.height; ++y)
            for (int x = 0; x < scaled.width; ++x) {
                const int cx = r.left + x, cy = r.top + y;
                if (cx < 0 || cy < 0 || cx >= width_ || cy >= height_) continue;
                const uint32_t s = scaled.At(x, y), d = px[static_cast<size_t>(cy) * width_ + cx];
                const uint32_t a = s >> 24;
                auto mix = [a](uint32_t sc, uint32_t dc) { return (sc * a + dc * (255 - a) + 127) / 255; };
                px[static_cast<size_t>(cy) * width_ + cx] = mix((s >> 16) & 0xFF, (d >> 16) & 0xFF) << 16 |
                                                            mix((s >> 8) & 0xFF, (d >> 8) & 0xFF) << 8 | mix(s & 0xFF, d & 0xFF);
            }
    }
    Image Result() const {
        Image out(width_, height_);
        const auto* px = static_cast<const uint32_t*>(bits_);
        for (size_t i = 0; i < out.pixels.size(); ++i) out.pixels[i] = px[i] | 0xFF000000;
        return out;
    }

private:
    int width_, height_;
    qvr::unique_hdc dc_;
    qvr::unique_hbitmap bitmap_;
    void* bits_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    HGDIOBJ oldFont_ = nullptr;
};

int TextWidth(HDC dc, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// One column of a group: a large control, or up to three small ones.
struct Column {
    std::vector<const RibbonElement*> controls;
    bool large = false;
    int width = 0;
};

struct GroupLayout {
    const RibbonElement* group;
    std::vector<Column> columns;
    int width = 0;
};

}  // namespace

Image DrawRibbon(const std::vector<RibbonElement>& tabs, size_t selected) {
    // Measure with a scratch device context carrying the font.
    qvr::unique_hdc measure(CreateCompatibleDC(nullptr));
    const std::wstring face = FontFace(measure.get());
    unique_gdiobj font(CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, face.c_str()));
    HGDIOBJ oldFont = SelectObject(measure.get(), font.get());
    HDC m = measure.get();

    std::vector<int> tabWidths;
    int tabRowWidth = kPad;
    for (const RibbonElement& tab : tabs) {
        tabWidths.push_back(TextWidth(m, LabelOf(tab)) + 4 * kPad);
        tabRowWidth += tabWidths.back();
    }

    std::vector<GroupLayout> groups;
    int bodyWidth = kPad;
    if (selected < tabs.size())
        for (const RibbonElement& g : tabs[selected].children) {
            if (Hidden(g)) continue;
            GroupLayout layout{&g, {}, 0};
            std::vector<const RibbonElement*> controls;
            Flatten(g.children, controls);
            for (const RibbonElement* c : controls) {
                if (IsLarge(*c)) {
                    Column column{{c}, true, 0};
                    const Image* picture = PictureOf(*c);
                    int w = picture ? std::min(picture->width, kLargePictureMax) : 32;
                    for (const std::wstring& line : LargeLabelLines(LabelOf(*c))) w = std::max(w, TextWidth(m, line));
                    column.width = w + 2 * kPad;
                    layout.columns.push_back(column);
                    continue;
                }
                if (layout.columns.empty() || layout.columns.back().large || layout.columns.back().controls.size() == 3)
                    layout.columns.push_back(Column{});
                Column& column = layout.columns.back();
                column.controls.push_back(c);
                column.width = std::max(column.width, kSmallPicture + 4 + TextWidth(m, LabelOf(*c)) + 2 * kPad);
            }
            int content = 0;
            for (const Column& c : layout.columns) content += c.width;
            layout.width = std::max(content, TextWidth(m, LabelOf(g)) + 2 * kPad) + 2 * kPad;
            bodyWidth += layout.width + 1;
            groups.push_back(std::move(layout));
        }
    SelectObject(m, oldFont);

    const int width = std::max({tabRowWidth + kPad, bodyWidth + kPad, 240});
    const int bodyTop = kTabRow;
    const int height = bodyTop + kContentHeight + 2 + kGroupLabel + kPad;
    Canvas canvas(width, height);
    if (!canvas.Ok()) return {};
    canvas.UseFont(static_cast<HFONT>(font.get()));

    // The tab row: every tab's label, the open tab in the body's colour.
    canvas.Fill({0, 0, width, height}, kBody);
    canvas.Fill({0, 0, width, kTabRow}, kTabBar);
    int x = kPad;
    for (size_t i = 0; i < tabs.size(); ++i) {
        const RECT r{x, 4, x + tabWidths[i], kTabRow};
        if (i == selected) canvas.Fill(r, kBody);
        canvas.Text(LabelOf(tabs[i]), r, i == selected ? kTabBar : kTabBarText);
        x += tabWidths[i];
    }
    canvas.Fill({0, height - 1, width, height}, kLine);

    // The groups of the open tab.
    std::vector<PicturePlacement> pictures;
    x = kPad;
    const int top = bodyTop + kPad;
    for (const GroupLayout& g : groups) {
        int cx = x + kPad;
        for (const Column& column : g.columns) {
            if (column.large) {
                const RibbonElement& c = *column.controls.front();
                const Image* picture = PictureOf(c);
                int labelTop = top + kPad + 32 + 4;
                if (picture) {
                    const int w = std::min(picture->width, kLargePictureMax), h = std::min(picture->height, kLargePictureMax);
                    const int px = cx + (column.width - w) / 2;
                    pictures.push_back({picture, {px, top + kPad, px + w, top + kPad + h}});
                    labelTop = top + kPad + h + 4;
                }
                for (const std::wstring& line : LargeLabelLines(LabelOf(c))) {
                    canvas.Text(line, {cx, labelTop, cx + column.width, labelTop + kLineHeight}, kText);
                    labelTop += kLineHeight;
                }
            } else {
                int cy = top;
                for (const RibbonElement* c : column.controls) {
                    const int py = cy + (kSmallRow - kSmallPicture) / 2;
                    if (const Image* picture = PictureOf(*c))
                        pictures.push_back({picture, {cx + kPad, py, cx + kPad + kSmallPicture, py + kSmallPicture}});
                    const int tx = cx + kPad + kSmallPicture + 4;
                    canvas.Text(LabelOf(*c), {tx, cy, cx + column.width, cy + kSmallRow}, kText, DT_LEFT);
                    cy += kSmallRow;
                }
            }
            cx += column.width;
        }
        const int labelTop = bodyTop + kContentHeight + 2;
        canvas.Text(LabelOf(*g.group), {x, labelTop, x + g.width, labelTop + kGroupLabel}, kGroupText);
        x += g.width;
        canvas.Fill({x, bodyTop + kPad, x + 1, height - kPad}, kLine);
        x += 1;
    }
    GdiFlush();
    for (const PicturePlacement& p : pictures) canvas.Blend(*p.image, p.at);
    return canvas.Result();
}

}  // namespace officesim
