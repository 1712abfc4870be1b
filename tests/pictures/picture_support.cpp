#include "picture_support.h"

#include <objidl.h>

#include <algorithm>
#include <cstring>

namespace picturetest {

namespace {

uint16_t U16(const std::vector<uint8_t>& d, size_t at) { return static_cast<uint16_t>(d[at] | d[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& d, size_t at) { return U16(d, at) | static_cast<uint32_t>(U16(d, at + 2)) << 16; }

bool ReadBits32(HDC dc, HBITMAP bitmap, int width, int height, std::vector<uint32_t>& out) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    out.assign(static_cast<size_t>(width) * height, 0);
    return GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), out.data(), &info, DIB_RGB_COLORS) == height;
}

}  // namespace

std::optional<IcoFile> ReadIco(const std::vector<uint8_t>& d, std::string& why) {
    IcoFile f;
    f.fileBytes = d.size();
    if (d.size() < 22) return why = "shorter than header and one directory entry", std::nullopt;
    f.reserved = U16(d, 0);
    f.type = U16(d, 2);
    f.count = U16(d, 4);
    f.width = d[6];
    f.height = d[7];
    f.colourCount = d[8];
    f.entryReserved = d[9];
    f.planes = U16(d, 10);
    f.bitCount = U16(d, 12);
    f.bytesInRes = U32(d, 14);
    f.imageOffset = U32(d, 18);
    if (f.imageOffset > d.size() || d.size() - f.imageOffset < sizeof(BITMAPINFOHEADER))
        return why = "no bitmap header at the image offset", std::nullopt;
    std::memcpy(&f.header, d.data() + f.imageOffset, sizeof(BITMAPINFOHEADER));

    const BITMAPINFOHEADER& h = f.header;
    const int bpp = h.biBitCount;
    const bool fields = h.biCompression == BI_BITFIELDS;
    if ((h.biCompression != BI_RGB && !(fields && bpp == 16)) || (bpp != 16 && bpp != 24 && bpp != 32))
        return why = "only 16-bit (plain or bit fields), 24- and 32-bit (plain) images are read here", std::nullopt;
    const int width = h.biWidth, height = h.biHeight / 2;
    if (width <= 0 || height <= 0) return why = "the header gives no size", std::nullopt;
    const size_t colourRow = (static_cast<size_t>(width) * bpp + 31) / 32 * 4;
    const size_t maskRow = (static_cast<size_t>(width) + 31) / 32 * 4;
    size_t colourAt = f.imageOffset + h.biSize;
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (fields) {
        if (colourAt + 12 > d.size()) return why = "the bit-field masks run past the end of the file", std::nullopt;
        for (int i = 0; i < 3; ++i) masks[i] = U32(d, colourAt + 4 * i);
        colourAt += 12;
        f.masks.assign(masks, masks + 3);
    }
    // A channel of a 16-bit pixel on the scale of 0 to 255 (its mask's bits are contiguous).
    auto widen = [](uint32_t pixel, uint32_t mask) -> uint32_t {
        if (!mask) return 0;
        int shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        const uint32_t max = mask >> shift;
        return (((pixel & mask) >> shift) * 255 + max / 2) / max;
    };
    const size_t maskAt = colourAt + colourRow * height;
    if (maskAt + maskRow * height > d.size()) return why = "the pixels run past the end of the file", std::nullopt;

    f.image.width = width;
    f.image.height = height;
    for (int y = 0; y < height; ++y) {
        const size_t row = colourAt + colourRow * (height - 1 - y);
        const size_t mrow = maskAt + maskRow * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            uint32_t argb;
            if (bpp == 32) {
                argb = U32(d, row + 4 * x);
            } else if (bpp == 24) {
                argb = 0xFF000000u | d[row + 3 * x + 2] << 16 | d[row + 3 * x + 1] << 8 | d[row + 3 * x];
            } else {
                const uint32_t p = U16(d, row + 2 * x);
                argb = 0xFF000000u | widen(p, masks[0]) << 16 | widen(p, masks[1]) << 8 | widen(p, masks[2]);
            }
            f.image.argb.push_back(argb);
            f.image.clear.push_back((d[mrow + x / 8] & (0x80 >> (x % 8))) != 0);
        }
    }
    return f;
}

std::optional<Pixels> IconPixels(HICON icon) {
    ICONINFO ii{};
    if (!icon || !GetIconInfo(icon, &ii)) return std::nullopt;
    qvr::unique_hbitmap colour(ii.hbmColor), mask(ii.hbmMask);
    BITMAP bm{};
    if (!colour || !GetObjectW(colour.get(), sizeof(bm), &bm)) return std::nullopt;
    qvr::unique_hdc dc(CreateCompatibleDC(nullptr));
    Pixels p;
    p.width = bm.bmWidth;
    p.height = bm.bmHeight;
    std::vector<uint32_t> maskBits;
    if (!ReadBits32(dc.get(), colour.get(), p.width, p.height, p.argb) ||
        !ReadBits32(dc.get(), mask.get(), p.width, p.height, maskBits))
        return std::nullopt;
    for (uint32_t m : maskBits) p.clear.push_back((m & 0xFFFFFF) != 0);
    // An icon whose colour bitmap has no alpha at all is drawn through its mask alone.
    if (std::none_of(p.argb.begin(), p.argb.end(), [](uint32_t c) { return c >> 24; }))
        for (size_t i = 0; i < p.argb.size(); ++i) p.argb[i] |= p.clear[i] ? 0 : 0xFF000000u;
    return p;
}

std::vector<uint8_t> StreamBytes(IStream* stream, uint64_t* position) {
    LARGE_INTEGER zero{};
    ULARGE_INTEGER at{};
    STATSTG stat{};
    if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &at)) || FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return {};
    if (position) *position = at.QuadPart;
    std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    bytes.resize(read);
    LARGE_INTEGER back{};
    back.QuadPart = static_cast<LONGLONG>(at.QuadPart);
    stream->Seek(back, STREAM_SEEK_SET, nullptr);
    return bytes;
}

GuiObjects CountGuiObjects() {
    SetLastError(0);
    GuiObjects n{static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)),
                 static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS))};
    if (n.gdi != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return n;
    // Wine keeps GDI and USER handles in tables of 16-bit indexes and accepts an index alone as a
    // handle, so the live objects are found by asking about each index.
    n = {};
    for (uintptr_t i = 1; i < 0x10000; ++i)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(i))) ++n.gdi;
    for (uintptr_t i = 0x20; i < 0x10000; i += 2) {
        if (IsWindow(reinterpret_cast<HWND>(i))) {
            ++n.user;
            continue;
        }
        ICONINFO ii{};
        if (GetIconInfo(reinterpret_cast<HICON>(i), &ii)) {
            ++n.user;
            qvr::unique_hbitmap colour(ii.hbmColor), mask(ii.hbmMask);
        }
    }
    return n;
}

Pixels MadeUpPicture(int size) {
    Pixels p;
    p.width = p.height = size;
    const double centre = (size - 1) / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double dx = x - centre, dy = y - centre;
            const double r = dx * dx + dy * dy;
            const double outer = centre - 4, inner = centre - 8;
            uint32_t alpha = r > outer * outer ? 0 : r > inner * inner ? 0x80 : 0xFF;
            uint32_t rgb = alpha == 0 ? 0 : (x < size / 2 ? 0x1F4E79u : 0xF28C28u) ^ static_cast<uint32_t>(y * 3);
            p.argb.push_back(alpha << 24 | rgb);
            p.clear.push_back(alpha == 0);
        }
    return p;
}

qvr::unique_hbitmap ColourBitmap(const Pixels& p) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = p.width;
    info.bmiHeader.biHeight = -p.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    qvr::unique_hbitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bitmap && bits) std::memcpy(bits, p.argb.data(), p.argb.size() * 4);
    return bitmap;
}

qvr::unique_hbitmap MaskBitmap(const Pixels& p) {
    const size_t stride = (static_cast<size_t>(p.width) + 15) / 16 * 2;
    std::vector<uint8_t> bits(stride * p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.clear[static_cast<size_t>(y) * p.width + x]) bits[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return qvr::unique_hbitmap(CreateBitmap(p.width, p.height, 1, 1, bits.data()));
}

std::wstring OutputFolder() {
    wchar_t unixPath[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"QVR_PICTURE_FILES", unixPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    // Wine shows the Unix file system as drive Z:.
    const std::wstring folder = std::wstring(L"Z:") + unixPath;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool WriteFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    qvr::unique_handle file(h);
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

}  // namespace picturetest
