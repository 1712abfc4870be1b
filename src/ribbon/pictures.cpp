#include "ribbon/pictures.h"

#include "com/error.h"

#include <objidl.h>
#include <olectl.h>

#include <algorithm>
#include <cstring>

using Microsoft::WRL::ComPtr;

namespace qvr {

namespace {

template <typename T>
void Append(std::vector<uint8_t>& out, const T& value) {
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

size_t RowBytes(int width, int bitCount) { return ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4; }

// A 32-bit top-down DIB section holding a copy of the glyph. The common controls blacken the
// transparent colour in the bitmap they are given when they add it masked; the copy takes that,
// so that the control's own glyph keeps its colours for the next request.
// A glyph with an alpha channel is drawn by its alpha, which would leave the transparent colour
// visible: in the copy those pixels get alpha 0, keeping their colour so that the mask made from
// the colour takes them too.
unique_hbitmap GlyphCopy(const TqvrBitmap& glyph, COLORREF& bottomLeft) {
    std::vector<uint32_t> pixels = glyph.Pixels();
    const int width = glyph.Width(), height = glyph.Height();
    const uint32_t corner = pixels[static_cast<size_t>(height - 1) * width] & 0xFFFFFF;  // column 0 of the last row
    bottomLeft = RGB((corner >> 16) & 0xFF, (corner >> 8) & 0xFF, corner & 0xFF);
    bool hasAlpha = false;
    for (uint32_t p : pixels) hasAlpha |= (p >> 24) != 0;
    if (hasAlpha)
        for (uint32_t& p : pixels)
            if ((p & 0xFFFFFF) == corner) p = corner;
    return unique_hbitmap(CreateBitmap32(width, height, pixels.data()));
}

unique_hicon GlyphIcon(const TqvrBitmap& glyph) {
    COLORREF transparent = 0;
    unique_hbitmap copy = GlyphCopy(glyph, transparent);
    // Masked, at the display's own depth, as an image list of the glyph's size.
    unique_himagelist list(ImageList_Create(glyph.Width(), glyph.Height(), ILC_MASK | ILC_COLORDDB, 1, 1));
    if (!list) throw EqvrError(L"Error creating image list");
    const int index = ImageList_AddMasked(list.get(), copy.get(), transparent);
    if (index < 0) throw EqvrError(L"Failed to add image to the image list");
    if (index >= ImageList_GetImageCount(list.get())) return {};
    return unique_hicon(ImageList_GetIcon(list.get(), index, ILD_NORMAL));
}

// The masks of the plain (BI_RGB) layouts: pixels in these layouts need no bit fields.
bool PlainMasks(int bitCount, const DWORD masks[3]) {
    if (bitCount == 16) return masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F;
    if (bitCount == 32) return masks[0] == 0xFF0000 && masks[1] == 0x00FF00 && masks[2] == 0x0000FF;
    return false;
}

struct DibHeader {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];  // the colour table, or the three bit-field masks
};

// The header of a bottom-up, uncompressed DIB of a size and depth, without colour table.
DibHeader PlainDibHeader(int width, int height, int bitCount) {
    DibHeader info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bitCount);
    info.header.biCompression = BI_RGB;
    return info;
}

// One image as the content of an .ico file: the colour rows (bottom row first) in the layout
// `info` describes, the mask rows (1 bit per pixel, 1 = clear) below them.
std::vector<uint8_t> IcoFile(int width, int height, const DibHeader& info, std::vector<uint8_t> colourBits,
                             std::vector<uint8_t> maskBits) {
    const int depth = info.header.biBitCount;
    const size_t colourRow = RowBytes(width, depth), maskRow = RowBytes(width, 1);
    // Mask and alpha agree on what is clear, so that the picture looks the same to readers that
    // draw by the mask and to those that honour the alpha channel. A 32-bit icon without any alpha
    // is drawn through its mask alone: its alpha is made from the mask. In one with alpha, a
    // pixel of alpha 0 is invisible, and the mask says so too.
    if (depth == 32 && info.header.biCompression == BI_RGB) {
        bool anyAlpha = false;
        for (size_t i = 3; i < colourBits.size(); i += 4) anyAlpha |= colourBits[i] != 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t& alpha = colourBits[y * colourRow + x * 4 + 3];
                uint8_t& maskByte = maskBits[y * maskRow + x / 8];
                const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
                if (!anyAlpha) alpha = (maskByte & bit) ? 0 : 0xFF;
                else if (alpha == 0) maskByte |= bit;
            }
    }

    // The colour header: its own depth, a doubled height (colour and mask), the table or masks.
    size_t tableBytes = 0;
    if (depth <= 8) tableBytes = (size_t{1} << depth) * sizeof(RGBQUAD);
    else if (info.header.biCompression == BI_BITFIELDS) tableBytes = 3 * sizeof(DWORD);
    BITMAPINFOHEADER header = info.header;
    header.biHeight = height * 2;
    header.biSizeImage = static_cast<DWORD>(colourBits.size() + maskBits.size());
    header.biClrUsed = 0;
    header.biClrImportant = 0;
    const size_t imageBytes = sizeof(header) + tableBytes + colourBits.size() + maskBits.size();

    std::vector<uint8_t> out;
    out.reserve(22 + imageBytes);
    Append(out, uint16_t{0});  // reserved
    Append(out, uint16_t{1});  // an icon
    Append(out, uint16_t{1});  // one image
    out.push_back(static_cast<uint8_t>(width));
    out.push_back(static_cast<uint8_t>(height));
    out.push_back(static_cast<uint8_t>(depth));  // planes times bits per pixel, as the entry's colour count
    out.push_back(0);
    Append(out, uint16_t{0});  // planes: read from the image header
    Append(out, uint16_t{0});  // bit count: read from the image header
    Append(out, static_cast<uint32_t>(imageBytes));
    Append(out, uint32_t{22});
    Append(out, header);
    const auto* table = reinterpret_cast<const uint8_t*>(info.colours);
    out.insert(out.end(), table, table + tableBytes);
    Append(out, colourBits);
    Append(out, maskBits);
    return out;
}

// The ICO data made for Office 2010 and later, kept under the stamp of the picture it was made
// from (a glyph's, or an image list's with the index in it): making it takes milliseconds of
// image-list and GDI work, handing it out again a copy into a new stream. A stamp changes with
// every change of its picture and is never used again, so an entry can only ever be asked for
// while its picture is unchanged. Only bytes are kept (no GDI or USER object), the least
// recently used going first when the count or the size passes its bound.
class IcoCache {
public:
    // The stream for the key's data, or nullptr when none is kept.
    ComPtr<IUnknown> Answer(uint64_t stamp, int32_t index) {
        SrwExclusive lock(lock_);
        for (Item& item : items_)
            if (item.stamp == stamp && item.index == index) {
                item.used = ++clock_;
                return IcoStream(item.data);
            }
        return {};
    }

    void Keep(uint64_t stamp, int32_t index, const std::vector<uint8_t>& data) {
        if (data.size() > kMaxBytes / 4) return;  // a picture that large would push out the rest
        SrwExclusive lock(lock_);
        bytes_ += data.size();
        items_.push_back({stamp, index, ++clock_, data});
        while (items_.size() > kMaxItems || bytes_ > kMaxBytes) {
            auto oldest = std::min_element(items_.begin(), items_.end(),
                                           [](const Item& a, const Item& b) { return a.used < b.used; });
            bytes_ -= oldest->data.size();
            items_.erase(oldest);
        }
    }

private:
    static constexpr size_t kMaxItems = 64;
    static constexpr size_t kMaxBytes = 1024 * 1024;
    struct Item {
        uint64_t stamp;
        int32_t index;  // in the image list; -1 for a glyph
        uint64_t used;
        std::vector<uint8_t> data;
    };
    class SrwExclusive {
    public:
        explicit SrwExclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
        ~SrwExclusive() { ReleaseSRWLockExclusive(&lock_); }
        SrwExclusive(const SrwExclusive&) = delete;
        SrwExclusive& operator=(const SrwExclusive&) = delete;

    private:
        SRWLOCK& lock_;
    };
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<Item> items_;
    size_t bytes_ = 0;
    uint64_t clock_ = 0;
};

IcoCache g_icoCache;

// The picture of a glyph or of an image list's entry, through the cache from Office 2010 on.
ComPtr<IUnknown> Picture(const TqvrBitmap* glyph, int32_t imageIndex, const TImageList* images, int32_t hostVersion) {
    const bool hasGlyph = glyph && !glyph->Empty();
    if (hostVersion < kIcoStreamHostVersion || (!hasGlyph && (!images || imageIndex < 0)))
        return IconAnswer(RibbonPictureIcon(glyph, imageIndex, images), hostVersion);
    const uint64_t stamp = hasGlyph ? glyph->Stamp() : images->Stamp();
    const int32_t index = hasGlyph ? -1 : imageIndex;
    if (ComPtr<IUnknown> kept = g_icoCache.Answer(stamp, index)) return kept;
    // An image-list picture is read straight from the list's 32-bit bitmaps: the detour through
    // an icon costs a millisecond or two of the add-in's start, and on a display of fewer bits
    // per pixel the icon would lose the picture's alpha.
    std::vector<uint8_t> data;
    if (!hasGlyph) {
        data = ImageListIcoData(*images, imageIndex);
    } else if (unique_hicon icon = RibbonPictureIcon(glyph, imageIndex, images)) {
        data = IconFileData(icon.get());
    }
    if (data.empty()) return {};
    g_icoCache.Keep(stamp, index, data);
    return IcoStream(data);
}

}  // namespace

ComPtr<IUnknown> IcoStream(const std::vector<uint8_t>& data) {
    // The memory is filled first and handed to the stream, which frees it with itself.
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, data.size());
    if (!memory) throw EqvrError(L"Out of memory");
    if (void* bytes = GlobalLock(memory)) {
        std::memcpy(bytes, data.data(), data.size());
        GlobalUnlock(memory);
    } else {
        GlobalFree(memory);
        throw EqvrError(L"Out of memory");
    }
    ComPtr<IStream> stream;
    if (HRESULT hr = CreateStreamOnHGlobal(memory, TRUE, stream.GetAddressOf()); FAILED(hr)) {
        GlobalFree(memory);
        ThrowIfFailed(hr);
    }
    // The block may be larger than asked for; the stream is exactly the data, positioned after it.
    ULARGE_INTEGER size;
    size.QuadPart = data.size();
    ThrowIfFailed(stream->SetSize(size));
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(data.size());
    ThrowIfFailed(stream->Seek(end, STREAM_SEEK_SET, nullptr));
    ComPtr<IUnknown> answer;
    ThrowIfFailed(stream.As(&answer));
    return answer;
}

TImageList* RibbonImageList(TqvrCOMAddInModule& module, const std::wstring& controlId) {
    const TqvrRibbonControlList& registry = module.RibbonControls();
    const int index = registry.IndexOf(controlId);
    if (index < 0) return nullptr;
    auto* control = dynamic_cast<TqvrRibbonCustomControl*>(registry.Objects(index));
    if (!control) return nullptr;  // a tab has no list of its own to look up
    TqvrRibbonTab* tab = control->OwningTab();
    return tab ? tab->Images() : nullptr;
}

unique_hicon RibbonPictureIcon(const TqvrBitmap* glyph, int32_t imageIndex, const TImageList* images) {
    if (glyph && !glyph->Empty()) return GlyphIcon(*glyph);
    if (!images || imageIndex < 0 || imageIndex >= images->Count()) return {};
    // The list is used at its default drawing style and image type.
    return images->GetIcon(imageIndex);
}

std::vector<uint8_t> IconFileData(HICON icon) {
    ICONINFO ii{};
    if (!icon || !GetIconInfo(icon, &ii)) throw EqvrError(L"Invalid icon");
    unique_hbitmap colour(ii.hbmColor), mask(ii.hbmMask);
    if (!colour || !mask) throw EqvrError(L"The icon has no colour bitmap");
    BITMAP bm{};
    if (!GetObjectW(colour.get(), sizeof(bm), &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0)
        throw EqvrError(L"Invalid bitmap");
    const int width = bm.bmWidth, height = bm.bmHeight;
    const int depth = bm.bmPlanes * bm.bmBitsPixel;

    // The colour bitmap in the format the platform keeps it in.
    unique_hdc dc(CreateCompatibleDC(nullptr));
    if (!dc) throw EqvrError(L"Out of system resources");
    GdiFlush();
    DibHeader info = PlainDibHeader(width, height, depth);
    if (depth == 16 || depth == 32) {
        // Ask how the pixels are laid out; bit fields are kept only where they differ from the
        // plain layout. A 32-bit icon is then the standard form whose high byte is the alpha.
        DibHeader query{};
        query.header.biSize = sizeof(BITMAPINFOHEADER);
        if (GetDIBits(dc.get(), colour.get(), 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&query), DIB_RGB_COLORS) &&
            query.header.biCompression == BI_BITFIELDS && query.header.biBitCount == depth) {
            GetDIBits(dc.get(), colour.get(), 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&query), DIB_RGB_COLORS);
            const DWORD* masks = reinterpret_cast<const DWORD*>(query.colours);
            if (!PlainMasks(depth, masks)) {
                info.header.biCompression = BI_BITFIELDS;
                std::memcpy(info.colours, masks, 3 * sizeof(DWORD));
            }
        }
    }
    const size_t colourRow = RowBytes(width, depth);
    std::vector<uint8_t> colourBits(colourRow * height);
    if (GetDIBits(dc.get(), colour.get(), 0, static_cast<UINT>(height), colourBits.data(),
                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != height)
        throw EqvrError(L"Invalid bitmap");

    DibHeader maskInfo = PlainDibHeader(width, height, 1);
    const size_t maskRow = RowBytes(width, 1);
    std::vector<uint8_t> maskBits(maskRow * height);
    if (GetDIBits(dc.get(), mask.get(), 0, static_cast<UINT>(height), maskBits.data(),
                  reinterpret_cast<BITMAPINFO*>(&maskInfo), DIB_RGB_COLORS) != height)
        throw EqvrError(L"Invalid bitmap");

    return IcoFile(width, height, info, std::move(colourBits), std::move(maskBits));
}

std::vector<uint8_t> ImageListIcoData(const TImageList& list, int index) {
    if (index < 0 || index >= list.Count()) return {};
    const int width = list.Width(), height = list.Height();
    const std::vector<uint32_t> pixels = list.GetPixels(index);
    const std::vector<bool> clear = list.GetMask(index);
    DibHeader info = PlainDibHeader(width, height, 32);
    // An .ico file holds its rows bottom row first.
    const size_t maskRow = RowBytes(width, 1);
    std::vector<uint8_t> colourBits(pixels.size() * 4);
    std::vector<uint8_t> maskBits(maskRow * height);
    for (int y = 0; y < height; ++y) {
        const size_t from = static_cast<size_t>(height - 1 - y) * width;
        std::memcpy(&colourBits[static_cast<size_t>(y) * width * 4], &pixels[from], static_cast<size_t>(width) * 4);
        for (int x = 0; x < width; ++x)
            if (clear[from + x]) maskBits[y * maskRow + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    return IcoFile(width, height, info, std::move(colourBits), std::move(maskBits));
}

ComPtr<IUnknown> IconAnswer(unique_hicon icon, int32_t hostMajorVersion) {
    if (!icon) return {};
    ComPtr<IUnknown> answer;
    if (hostMajorVersion < kIcoStreamHostVersion) {
        // The picture object owns the handle and destroys it when Office lets the picture go;
        // nothing else keeps the handle, so without ownership every request would leak an icon.
        PICTDESC desc{};
        desc.cbSizeofstruct = sizeof(PICTDESC);
        desc.picType = PICTYPE_ICON;
        desc.icon.hicon = icon.get();
        ComPtr<IPictureDisp> picture;
        ThrowIfFailed(OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE,
                                               reinterpret_cast<void**>(picture.GetAddressOf())));
        icon.release();
        ThrowIfFailed(picture.As(&answer));
        return answer;
    }
    return IcoStream(IconFileData(icon.get()));
}

ComPtr<IUnknown> RibbonControlPicture(const IqvrRibbonComponent& control, TqvrCOMAddInModule& module) {
    const TqvrBitmap* glyph = control.Glyph();
    const bool hasGlyph = glyph && !glyph->Empty();
    TImageList* images = hasGlyph ? nullptr : RibbonImageList(module, control.Id());
    return Picture(glyph, control.ImageIndex(), images, module.HostMajorVersion());
}

ComPtr<IUnknown> RibbonItemPicture(const IqvrRibbonComponent& item, const std::wstring& controlId,
                                   TqvrCOMAddInModule& module) {
    const TqvrBitmap* glyph = item.Glyph();
    const bool hasGlyph = glyph && !glyph->Empty();
    TImageList* images = hasGlyph ? nullptr : RibbonImageList(module, controlId);
    return Picture(glyph, item.ImageIndex(), images, module.HostMajorVersion());
}

}  // namespace qvr
