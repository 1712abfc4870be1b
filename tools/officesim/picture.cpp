#include "picture.h"

#include "com/handles.h"

#include <objidl.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>

using Microsoft::WRL::ComPtr;

namespace officesim {

namespace {

// Little-endian fields of a byte buffer; reading past the end is reported, never done.
class Bytes {
public:
    explicit Bytes(const std::vector<uint8_t>& data) : data_(data) {}
    bool Has(size_t at, size_t n) const { return at <= data_.size() && n <= data_.size() - at; }
    uint8_t U8(size_t at) const { return data_[at]; }
    uint16_t U16(size_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
    uint32_t U32(size_t at) const {
        return static_cast<uint32_t>(data_[at]) | static_cast<uint32_t>(data_[at + 1]) << 8 |
               static_cast<uint32_t>(data_[at + 2]) << 16 | static_cast<uint32_t>(data_[at + 3]) << 24;
    }
    int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }
    size_t Size() const { return data_.size(); }

private:
    const std::vector<uint8_t>& data_;
};

std::wstring Num(uint64_t n) { return std::to_wstring(n); }

// One colour channel selected by a bit-field mask, widened to 8 bits.
uint32_t Channel(uint32_t pixel, uint32_t mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    uint32_t bits = mask >> shift;
    int width = 0;
    while ((bits >> width) & 1) ++width;
    const uint32_t value = (pixel & mask) >> shift;
    const uint32_t max = (width >= 32) ? 0xFFFFFFFFu : ((1u << width) - 1);
    return max ? (value * 255 + max / 2) / max : 0;
}

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

// Transparency of an icon's pixels: a 32-bit image that carries any alpha is drawn by it,
// everything else by the mask (set = clear).
void ApplyTransparency(Image& image, const std::vector<bool>& clear, bool hasAlphaChannel) {
    if (hasAlphaChannel)
        for (uint32_t p : image.pixels)
            if (p >> 24) return;
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = (image.pixels[i] & 0xFFFFFF) | (clear[i] ? 0u : 0xFF000000u);
}

// The rows of a bitmap as top-down 32-bit pixels, through GDI.
bool ReadBitmap32(HDC dc, HBITMAP bitmap, int width, int height, std::vector<uint32_t>& out) {
    BITMAPINFO info = TopDown32Info(width, height);
    out.assign(static_cast<size_t>(width) * height, 0);
    return GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), out.data(), &info, DIB_RGB_COLORS) == height;
}

// An icon handle as the screen shows it.
bool ReadIconHandle(HICON icon, Image& image, std::wstring& why) {
    ICONINFO ii{};
    if (!icon || !GetIconInfo(icon, &ii)) {
        why = L"the picture's icon handle is not an icon";
        return false;
    }
    qvr::unique_hbitmap colour(ii.hbmColor), mask(ii.hbmMask);
    BITMAP bm{};
    if (!colour || !GetObjectW(colour.get(), sizeof(bm), &bm)) {
        why = L"the icon has no colour bitmap";
        return false;
    }
    qvr::unique_hdc dc(CreateCompatibleDC(nullptr));
    std::vector<uint32_t> colourPixels, maskPixels;
    if (!ReadBitmap32(dc.get(), colour.get(), bm.bmWidth, bm.bmHeight, colourPixels) ||
        !ReadBitmap32(dc.get(), mask.get(), bm.bmWidth, bm.bmHeight, maskPixels)) {
        why = L"the icon's bitmaps cannot be read";
        return false;
    }
    image = Image(bm.bmWidth, bm.bmHeight);
    image.pixels = colourPixels;
    std::vector<bool> clear(maskPixels.size());
    for (size_t i = 0; i < maskPixels.size(); ++i) clear[i] = (maskPixels[i] & 0xFFFFFF) != 0;
    ApplyTransparency(image, clear, bm.bmBitsPixel * bm.bmPlanes == 32);
    return true;
}

// ---- PNG ----

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = CrcTable()[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(std::vector<uint8_t>& out, const char type[5], const std::vector<uint8_t>& body) {
    PutBE32(out, static_cast<uint32_t>(body.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    PutBE32(out, Crc32(out.data() + typeAt, out.size() - typeAt));
}

}  // namespace

bool ReadIcoFile(const std::vector<uint8_t>& data, Image& image, std::wstring& why) {
    auto fail = [&why](std::wstring reason) {
        why = std::move(reason);
        return false;
    };
    const Bytes b(data);
    if (!b.Has(0, 6)) return fail(L"shorter than an icon file header (" + Num(data.size()) + L" bytes)");
    if (b.U16(0) != 0) return fail(L"the reserved header field is " + Num(b.U16(0)));
    if (b.U16(2) != 1) return fail(L"the resource type is " + Num(b.U16(2)) + L", not 1 (icon)");
    const uint16_t count = b.U16(4);
    if (count == 0) return fail(L"the file holds no image");
    if (!b.Has(6, 16u * count)) return fail(L"the directory is cut short");

    const int width = b.U8(6) ? b.U8(6) : 256;
    const int height = b.U8(7) ? b.U8(7) : 256;
    const uint32_t bytes = b.U32(14), offset = b.U32(18);
    if (!b.Has(offset, bytes))
        return fail(L"the image (offset " + Num(offset) + L", " + Num(bytes) + L" bytes) lies outside the " +
                     Num(data.size()) + L" bytes of the file");
    if (!b.Has(offset, 40)) return fail(L"the image is shorter than a bitmap header");
    if (b.Has(offset, 8) && b.U32(offset) == 0x474E5089)
        return fail(L"the image is a PNG, which this reader does not take");

    const uint32_t headerSize = b.U32(offset);
    const int32_t biWidth = b.I32(offset + 4), biHeight = b.I32(offset + 8);
    const uint16_t planes = b.U16(offset + 12), bitCount = b.U16(offset + 14);
    const uint32_t compression = b.U32(offset + 16), sizeImage = b.U32(offset + 20), clrUsed = b.U32(offset + 32);
    if (headerSize < 40 || headerSize > bytes) return fail(L"the bitmap header size is " + Num(headerSize));
    if (biWidth != width || biHeight != 2 * height)
        return fail(L"the bitmap header reads " + std::to_wstring(biWidth) + L" x " + std::to_wstring(biHeight) +
                     L", the directory entry " + Num(width) + L" x " + Num(height) + L" (height doubled: " +
                     Num(2 * height) + L")");
    if (planes != 1) return fail(L"the bitmap has " + Num(planes) + L" planes");
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        return fail(L"the bitmap has " + Num(bitCount) + L" bits per pixel");
    const bool bitFields = compression == BI_BITFIELDS;
    if (compression != BI_RGB && !(bitFields && (bitCount == 16 || bitCount == 32)))
        return fail(L"the bitmap's compression " + Num(compression) + L" is not taken at " + Num(bitCount) +
                     L" bits per pixel");

    size_t at = offset + headerSize;
    uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
    if (bitCount == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    if (bitFields) {
        // The masks follow a 40-byte header; larger headers carry them inside.
        const size_t masksAt = offset + 40;
        if (!b.Has(masksAt, 12)) return fail(L"the bit-field masks are cut short");
        for (int i = 0; i < 3; ++i) masks[i] = b.U32(masksAt + 4 * i);
        if (headerSize == 40) at += 12;
    }
    std::vector<uint32_t> palette;
    if (bitCount <= 8) {
        const uint32_t entries = clrUsed ? clrUsed : (1u << bitCount);
        if (entries > (1u << bitCount)) return fail(L"the colour table has " + Num(entries) + L" entries");
        if (!b.Has(at, entries * 4)) return fail(L"the colour table is cut short");
        for (uint32_t i = 0; i < entries; ++i) palette.push_back(b.U32(at + 4 * i) & 0xFFFFFF);
        at += entries * 4;
    }
    const size_t colourRow = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
    const size_t maskRow = (static_cast<size_t>(width) + 31) / 32 * 4;
    const size_t colourAt = at, maskAt = at + colourRow * height;
    const size_t needed = maskAt + maskRow * height - offset;
    if (needed != bytes)
        return fail(L"the directory's size field says " + Num(bytes) + L" bytes, the image has " + Num(needed));
    // An icon's image size counts the colour rows and the mask rows; a loader that sizes its
    // buffers from it reads the mask out of bounds when it counts the colour alone. Zero is allowed
    // for an uncompressed bitmap.
    const size_t pixelBytes = colourRow * height + maskRow * height;
    if (sizeImage != 0 && sizeImage != pixelBytes)
        return fail(L"the bitmap header's image size says " + Num(sizeImage) + L" bytes, colour and mask rows take " +
                    Num(pixelBytes));

    Image out(width, height);
    std::vector<bool> clear(out.pixels.size());
    for (int y = 0; y < height; ++y) {
        const size_t row = colourAt + colourRow * static_cast<size_t>(height - 1 - y);  // rows are stored bottom-up
        const size_t mrow = maskAt + maskRow * static_cast<size_t>(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            uint32_t argb = 0;
            switch (bitCount) {
                case 1: case 4: case 8: {
                    const size_t bit = static_cast<size_t>(x) * bitCount;
                    const uint32_t index = (b.U8(row + bit / 8) >> (8 - bitCount - bit % 8)) & ((1u << bitCount) - 1);
                    if (index >= palette.size()) return fail(L"a pixel names colour " + Num(index) + L" beyond the table");
                    argb = palette[index];
                    break;
                }
                case 16: {
                    const uint32_t p = b.U16(row + 2 * static_cast<size_t>(x));
                    argb = Argb(0, Channel(p, masks[0]), Channel(p, masks[1]), Channel(p, masks[2]));
                    break;
                }
                case 24:
                    argb = Argb(0, b.U8(row + 3 * x + 2), b.U8(row + 3 * x + 1), b.U8(row + 3 * x));
                    break;
                case 32: {
                    const uint32_t p = b.U32(row + 4 * static_cast<size_t>(x));
                    const bool alphaFree = ((masks[0] | masks[1] | masks[2]) & 0xFF000000) == 0;
                    argb = Argb(alphaFree ? p >> 24 : 0, Channel(p, masks[0]), Channel(p, masks[1]), Channel(p, masks[2]));
                    break;
                }
            }
            out.At(x, y) = argb;
            clear[static_cast<size_t>(y) * width + x] = (b.U8(mrow + x / 8) >> (7 - x % 8)) & 1;
        }
    }
    ApplyTransparency(out, clear, bitCount == 32);
    image = std::move(out);
    return true;
}

ReceivedPicture ReadPictureAnswer(const VARIANT& answer) {
    ReceivedPicture r;
    IUnknown* unknown = answer.vt == VT_UNKNOWN ? answer.punkVal : answer.vt == VT_DISPATCH ? answer.pdispVal : nullptr;
    if (!unknown) {
        r.kind = L"none";
        return r;
    }
    ComPtr<IPicture> picture;
    if (SUCCEEDED(unknown->QueryInterface(IID_IPicture, reinterpret_cast<void**>(picture.GetAddressOf())))) {
        r.kind = L"picture";
        SHORT type = PICTYPE_UNINITIALIZED;
        OLE_HANDLE handle = 0;
        if (FAILED(picture->get_Type(&type)) || type != PICTYPE_ICON)
            r.error = L"a picture of type " + std::to_wstring(type) + L", not an icon";
        else if (FAILED(picture->get_Handle(&handle)))
            r.error = L"the picture has no handle";
        else
            // OLE_HANDLE is 32 bits on both platforms; a 64-bit handle is its sign extension.
            ReadIconHandle(reinterpret_cast<HICON>(static_cast<LONG_PTR>(static_cast<LONG>(handle))), r.image,
                           r.error);
        return r;
    }
    ComPtr<IStream> stream;
    if (SUCCEEDED(unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf())))) {
        r.kind = L"stream";
        STATSTG stat{};
        LARGE_INTEGER zero{};
        ULARGE_INTEGER position{};
        if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &position))) {
            r.error = L"the stream tells neither its size nor its position";
            return r;
        }
        r.streamBytes = static_cast<size_t>(stat.cbSize.QuadPart);
        r.streamAtEnd = position.QuadPart == stat.cbSize.QuadPart;
        std::vector<uint8_t> data(r.streamBytes);
        ULONG read = 0;
        HRESULT hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (SUCCEEDED(hr) && !data.empty()) hr = stream->Read(data.data(), static_cast<ULONG>(data.size()), &read);
        LARGE_INTEGER back{};
        back.QuadPart = static_cast<LONGLONG>(position.QuadPart);
        stream->Seek(back, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr) || read != data.size()) {
            r.error = L"the stream cannot be read";
            return r;
        }
        if (data.size() >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0) r.kind = L"ICO stream";
        ReadIcoFile(data, r.image, r.error);
        return r;
    }
    r.kind = L"object";
    r.error = L"neither a picture nor a stream";
    return r;
}

std::vector<uint8_t> EncodePng(const Image& image) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBE32(header, static_cast<uint32_t>(image.width));
    PutBE32(header, static_cast<uint32_t>(image.height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, filter set 0, no interlace
    Chunk(out, "IHDR", header);

    // Each row: filter type 0, then R G B A per pixel.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(image.height) * (1 + 4 * static_cast<size_t>(image.width)));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < image.width; ++x) {
            const uint32_t p = image.At(x, y);
            raw.insert(raw.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p),
                                   static_cast<uint8_t>(p >> 24)});
        }
    }
    // A zlib stream of stored (uncompressed) deflate blocks of at most 65,535 bytes.
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.insert(z.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(~n),
                           static_cast<uint8_t>(~n >> 8)});
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at), raw.begin() + static_cast<ptrdiff_t>(at + n));
        at += n;
    } while (at < raw.size());
    uint32_t s1 = 1, s2 = 0;
    for (uint8_t byte : raw) {
        s1 = (s1 + byte) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    PutBE32(z, s2 << 16 | s1);
    Chunk(out, "IDAT", z);
    Chunk(out, "IEND", {});
    return out;
}

bool WritePngFile(const std::wstring& path, const Image& image) {
    if (image.Empty()) return false;
    const std::vector<uint8_t> png = EncodePng(image);
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    qvr::unique_handle file(handle);
    DWORD written = 0;
    return WriteFile(file.get(), png.data(), static_cast<DWORD>(png.size()), &written, nullptr) && written == png.size();
}

BITMAPINFO TopDown32Info(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace officesim
