#include "ribbon/graphics.h"

#include "com/error.h"
#include "module/ribbon_types.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace qvr {

namespace {

// Bytes of one row of a DIB: rows are padded to 32 bits.
size_t DibStride(int width, int bitCount) { return ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4; }

BITMAPINFOHEADER TopDown32(int width, int height) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(h);
    h.biWidth = width;
    h.biHeight = -height;
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    return h;
}

}  // namespace

uint64_t NewPictureStamp() {
    static std::atomic<uint64_t> last{0};
    return ++last;
}

HBITMAP CreateBitmap32(int width, int height, const uint32_t* pixels) {
    BITMAPINFO info{};
    info.bmiHeader = TopDown32(width, height);
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp || !bits) throw EqvrError(L"Out of system resources");
    std::memcpy(bits, pixels, static_cast<size_t>(width) * height * 4);
    return bmp;
}

namespace {

// The pixels of an area of any bitmap, top-down, 32-bit: GDI converts; a 32-bit source keeps its
// alpha byte. Only the area's rows are read: an image list keeps all its pictures in one bitmap.
// (A DIB section's own header cannot tell its row order: GetObject reports every height as
// positive. The rows are asked for bottom-up, where GetDIBits counts scan lines from the last.)
std::vector<uint32_t> ReadArea32(HBITMAP bmp, const RECT& area) {
    BITMAP bm{};
    if (!GetObjectW(bmp, sizeof(bm), &bm) || area.left < 0 || area.top < 0 || area.right > bm.bmWidth ||
        area.bottom > bm.bmHeight || area.right <= area.left || area.bottom <= area.top)
        throw EqvrError(L"Invalid bitmap");
    const int width = area.right - area.left, rows = area.bottom - area.top;
    BITMAPINFO info{};
    info.bmiHeader = TopDown32(bm.bmWidth, bm.bmHeight);
    info.bmiHeader.biHeight = bm.bmHeight;
    std::vector<uint32_t> bottomUp(static_cast<size_t>(bm.bmWidth) * rows);
    unique_hdc dc(CreateCompatibleDC(nullptr));
    GdiFlush();
    if (GetDIBits(dc.get(), bmp, static_cast<UINT>(bm.bmHeight - area.bottom), static_cast<UINT>(rows), bottomUp.data(),
                  &info, DIB_RGB_COLORS) != rows)
        throw EqvrError(L"Invalid bitmap");
    std::vector<uint32_t> out(static_cast<size_t>(width) * rows);
    for (int y = 0; y < rows; ++y) {
        const uint32_t* row = &bottomUp[static_cast<size_t>(rows - 1 - y) * bm.bmWidth + area.left];
        std::memcpy(&out[static_cast<size_t>(y) * width], row, static_cast<size_t>(width) * 4);
    }
    return out;
}

// A .bmp file or an image-list stream read piece by piece; running short is an error.
class ByteReader {
public:
    ByteReader(const std::vector<uint8_t>& data, const wchar_t* error) : data_(data), error_(error) {}
    template <typename T>
    T Read() {
        T v;
        Need(sizeof(T));
        std::memcpy(&v, data_.data() + pos_, sizeof(T));
        pos_ += sizeof(T);
        return v;
    }
    const uint8_t* At(size_t pos, size_t n) {
        if (pos > data_.size() || n > data_.size() - pos) Fail();
        return data_.data() + pos;
    }
    size_t Pos() const { return pos_; }
    void Seek(size_t pos) {
        if (pos > data_.size()) Fail();
        pos_ = pos;
    }
    [[noreturn]] void Fail() const { throw EqvrError(error_); }

private:
    void Need(size_t n) const {
        if (n > data_.size() - pos_) Fail();
    }
    const std::vector<uint8_t>& data_;
    const wchar_t* error_;
    size_t pos_ = 0;
};

// One DIB of a .bmp file at the reader's position: its header, palette and pixel bits.
struct StoredDib {
    std::vector<uint8_t> info;  // BITMAPINFOHEADER (or larger) plus colour table
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;  // positive: bottom-up
    int bitCount = 0;
    size_t stride = 0;

    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(info.data()); }
    int Rows() const { return height < 0 ? -height : height; }
    const uint8_t* Row(int y) const { return bits + static_cast<size_t>(height > 0 ? Rows() - 1 - y : y) * stride; }
};

StoredDib ReadDib(ByteReader& r) {
    size_t start = r.Pos();
    auto fileHeader = r.Read<BITMAPFILEHEADER>();
    if (fileHeader.bfType != 0x4D42) r.Fail();  // "BM"
    size_t infoStart = r.Pos();
    auto header = r.Read<BITMAPINFOHEADER>();
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biPlanes != 1 || (header.biCompression != BI_RGB && header.biCompression != BI_BITFIELDS))
        r.Fail();
    StoredDib dib;
    dib.width = header.biWidth;
    dib.height = header.biHeight;
    dib.bitCount = header.biBitCount;
    if (dib.bitCount != 1 && dib.bitCount != 4 && dib.bitCount != 8 && dib.bitCount != 16 && dib.bitCount != 24 &&
        dib.bitCount != 32)
        r.Fail();
    dib.stride = DibStride(dib.width, dib.bitCount);
    size_t bitsAt = start + fileHeader.bfOffBits;
    if (fileHeader.bfOffBits < sizeof(BITMAPFILEHEADER) + header.biSize) r.Fail();
    size_t infoSize = bitsAt - infoStart;
    const uint8_t* info = r.At(infoStart, infoSize);
    dib.info.assign(info, info + infoSize);
    size_t imageSize = dib.stride * static_cast<size_t>(dib.Rows());
    dib.bits = r.At(bitsAt, imageSize);
    r.Seek(bitsAt + imageSize);
    return dib;
}

// A DIB in any supported format as top-down 32-bit pixels (32-bit data exactly as stored).
std::vector<uint32_t> DibPixels(const StoredDib& dib) {
    std::vector<uint32_t> out(static_cast<size_t>(dib.width) * dib.Rows());
    if (dib.bitCount == 32 && dib.Info()->bmiHeader.biCompression == BI_RGB) {
        for (int y = 0; y < dib.Rows(); ++y)
            std::memcpy(&out[static_cast<size_t>(y) * dib.width], dib.Row(y), static_cast<size_t>(dib.width) * 4);
        return out;
    }
    unique_hdc dc(CreateCompatibleDC(nullptr));
    void* bits = nullptr;
    unique_hbitmap source(CreateDIBSection(dc.get(), dib.Info(), DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!source || !bits) throw EqvrError(L"Out of system resources");
    std::memcpy(bits, dib.bits, dib.stride * static_cast<size_t>(dib.Rows()));
    GdiFlush();
    BITMAPINFO info{};
    info.bmiHeader = TopDown32(dib.width, dib.Rows());
    if (!GetDIBits(dc.get(), source.get(), 0, static_cast<UINT>(dib.Rows()), out.data(), &info, DIB_RGB_COLORS))
        throw EqvrError(L"Invalid bitmap");
    return out;
}

// A 1-bit mask DIB: true where the pixel is transparent (bit set).
std::vector<bool> DibMask(const StoredDib& dib) {
    std::vector<bool> out(static_cast<size_t>(dib.width) * dib.Rows());
    if (dib.bitCount == 1) {
        for (int y = 0; y < dib.Rows(); ++y)
            for (int x = 0; x < dib.width; ++x)
                out[static_cast<size_t>(y) * dib.width + x] = (dib.Row(y)[x / 8] >> (7 - x % 8)) & 1;
        return out;
    }
    auto pixels = DibPixels(dib);
    for (size_t i = 0; i < pixels.size(); ++i) out[i] = (pixels[i] & 0xFFFFFF) != 0;
    return out;
}

// A monochrome bitmap (set = transparent) for the common controls.
HBITMAP CreateMaskBitmap(int width, int height, const std::vector<bool>& mask) {
    size_t stride = ((static_cast<size_t>(width) + 15) / 16) * 2;  // CreateBitmap rows are word aligned
    std::vector<uint8_t> bits(stride * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (mask[static_cast<size_t>(y) * width + x]) bits[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    HBITMAP bmp = CreateBitmap(width, height, 1, 1, bits.data());
    if (!bmp) throw EqvrError(L"Out of system resources");
    return bmp;
}

template <typename T>
void Append(std::vector<uint8_t>& out, const T& v) {
    size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &v, sizeof(T));
}

// A bottom-up .bmp file from top-down rows.
void AppendBmpFile(std::vector<uint8_t>& out, int width, int height, int bitCount, const std::vector<uint8_t>& palette,
                   const std::vector<uint8_t>& topDownBits) {
    size_t stride = DibStride(width, bitCount);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + palette.size());
    fh.bfSize = static_cast<DWORD>(fh.bfOffBits + stride * height);
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof(ih);
    ih.biWidth = width;
    ih.biHeight = height;
    ih.biPlanes = 1;
    ih.biBitCount = static_cast<WORD>(bitCount);
    ih.biCompression = BI_RGB;
    ih.biSizeImage = static_cast<DWORD>(stride * height);
    Append(out, fh);
    Append(out, ih);
    out.insert(out.end(), palette.begin(), palette.end());
    for (int y = height - 1; y >= 0; --y)
        out.insert(out.end(), topDownBits.begin() + static_cast<ptrdiff_t>(y * stride),
                   topDownBits.begin() + static_cast<ptrdiff_t>((y + 1) * stride));
}

// The header of the common controls' image-list stream.
#pragma pack(push, 2)
struct ImageListHeader {
    uint16_t magic;    // "IL"
    uint16_t version;  // 0x0101
    uint16_t count;
    uint16_t capacity;
    uint16_t grow;
    uint16_t cx;
    uint16_t cy;
    uint32_t background;
    uint16_t flags;
    int16_t overlays[4];
};
#pragma pack(pop)
static_assert(sizeof(ImageListHeader) == 28);

constexpr uint16_t kImageListMagic = 0x4C49;  // "IL"
constexpr uint16_t kImageListVersion = 0x0101;
constexpr int kTilesPerRow = 4;
constexpr size_t kStreamTrailer = 22;
constexpr const wchar_t* kBadImageList = L"Failed to read ImageList data from stream";

}  // namespace

// ---- TqvrBitmap ----

void TqvrBitmap::SetHandle(HBITMAP bitmap) {
    handle_.reset(bitmap);
    width_ = height_ = 0;
    BITMAP bm{};
    if (bitmap && GetObjectW(bitmap, sizeof(bm), &bm)) {
        width_ = bm.bmWidth;
        height_ = bm.bmHeight;
    }
    Changed();
}

void TqvrBitmap::Assign(const TqvrBitmap& source) {
    if (&source == this) return;
    if (source.Empty()) {
        SetHandle(nullptr);
        return;
    }
    SetPixels(source.Width(), source.Height(), source.Pixels());
}

void TqvrBitmap::SetPixels(int width, int height, const std::vector<uint32_t>& pixels) {
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * height) {
        SetHandle(nullptr);
        return;
    }
    SetHandle(CreateBitmap32(width, height, pixels.data()));
}

std::vector<uint32_t> TqvrBitmap::Pixels() const {
    if (Empty()) return {};
    return ReadArea32(handle_.get(), RECT{0, 0, width_, height_});
}

void TqvrBitmap::LoadFromBytes(const std::vector<uint8_t>& bmpFile) {
    if (bmpFile.empty()) {
        SetHandle(nullptr);
        return;
    }
    ByteReader r(bmpFile, L"Bitmap image is not valid");
    StoredDib dib = ReadDib(r);
    SetPixels(dib.width, dib.Rows(), DibPixels(dib));
}

std::vector<uint8_t> TqvrBitmap::SaveToBytes() const {
    std::vector<uint8_t> out;
    if (Empty()) return out;
    auto pixels = Pixels();
    std::vector<uint8_t> bits(pixels.size() * 4);
    std::memcpy(bits.data(), pixels.data(), bits.size());
    AppendBmpFile(out, width_, height_, 32, {}, bits);
    return out;
}

// ---- TImageList ----

TImageList::TImageList(TComponent* owner) : TComponent(owner) { Recreate(); }

void TImageList::Recreate() {
    Touch();
    list_.reset();
    stored_.reset();
}

HIMAGELIST TImageList::Handle() const {
    if (list_) return list_.get();
    const int count = stored_ ? static_cast<int>(stored_->pixels.size()) : 0;
    unique_himagelist list(ImageList_Create(width_, height_, ILC_COLOR32 | (masked_ ? ILC_MASK : 0),
                                            stored_ ? std::max(stored_->capacity, count) : 0, allocBy_));
    if (!list) throw EqvrError(L"Error creating image list");
    for (int i = 0; i < count; ++i) {
        unique_hbitmap colour(CreateBitmap32(width_, height_, stored_->pixels[i].data()));
        unique_hbitmap mono(masked_ ? CreateMaskBitmap(width_, height_, stored_->masks[i]) : nullptr);
        if (ImageList_Add(list.get(), colour.get(), mono.get()) < 0) throw EqvrError(L"Failed to add image to the image list");
    }
    list_ = std::move(list);
    stored_.reset();
    return list_.get();
}

void TImageList::SetWidth(int value) {
    if (value == width_ || value <= 0) return;
    width_ = value;
    Recreate();
}

void TImageList::SetHeight(int value) {
    if (value == height_ || value <= 0) return;
    height_ = value;
    Recreate();
}

int TImageList::Count() const {
    if (stored_) return static_cast<int>(stored_->pixels.size());
    return list_ ? ImageList_GetImageCount(list_.get()) : 0;
}

int TImageList::Add(HBITMAP image, HBITMAP mask) {
    HIMAGELIST list = Handle();
    Touch();
    int index = ImageList_Add(list, image, mask);
    if (index < 0) throw EqvrError(L"Failed to add image to the image list");
    return index;
}

void TImageList::Clear() {
    Touch();
    stored_.reset();
    if (list_) ImageList_RemoveAll(list_.get());
}

unique_hicon TImageList::GetIcon(int index) const {
    return unique_hicon(ImageList_GetIcon(Handle(), index, ILD_NORMAL));
}

std::vector<uint32_t> TImageList::GetPixels(int index) const {
    if (stored_) {
        if (index < 0 || index >= Count()) throw EqvrError(L"List index out of bounds");
        return stored_->pixels[index];
    }
    IMAGEINFO info{};
    if (!ImageList_GetImageInfo(Handle(), index, &info)) throw EqvrError(L"List index out of bounds");
    return ReadArea32(info.hbmImage, info.rcImage);
}

std::vector<bool> TImageList::GetMask(int index) const {
    if (stored_) {
        if (index < 0 || index >= Count()) throw EqvrError(L"List index out of bounds");
        return masked_ ? stored_->masks[index] : std::vector<bool>(static_cast<size_t>(width_) * height_, false);
    }
    IMAGEINFO info{};
    if (!ImageList_GetImageInfo(Handle(), index, &info)) throw EqvrError(L"List index out of bounds");
    if (!info.hbmMask) return std::vector<bool>(static_cast<size_t>(width_) * height_, false);
    const std::vector<uint32_t> mask = ReadArea32(info.hbmMask, info.rcImage);
    std::vector<bool> out(mask.size());
    for (size_t i = 0; i < mask.size(); ++i) out[i] = (mask[i] & 0xFFFFFF) != 0;
    return out;
}

// The stream is taken apart here rather than by ImageList_Read: the list is rebuilt at 32 bits
// per pixel so that pictures keep their graded transparency whatever depth the stream names.
void TImageList::ReadData(const std::vector<uint8_t>& stream) {
    ByteReader r(stream, kBadImageList);
    auto head = r.Read<ImageListHeader>();
    if (head.magic != kImageListMagic || head.version != kImageListVersion || head.cx == 0 || head.cy == 0) r.Fail();
    StoredDib image = ReadDib(r);
    bool masked = (head.flags & ILC_MASK) != 0;
    std::vector<bool> mask;
    if (masked) {
        StoredDib maskDib = ReadDib(r);
        if (maskDib.width != image.width || maskDib.Rows() != image.Rows()) r.Fail();
        mask = DibMask(maskDib);
    }
    int columns = image.width / head.cx;
    int rows = image.Rows() / head.cy;
    if (head.count > 0 && (columns < 1 || head.count > columns * rows)) r.Fail();
    auto pixels = DibPixels(image);

    // The pictures are kept as read; the list of the common controls is made from them on first
    // use of its handle (a ribbon's pictures need only the pixels).
    auto entries = std::make_unique<StoredEntries>();
    entries->capacity = head.capacity;
    for (int i = 0; i < head.count; ++i) {
        std::vector<uint32_t> tile(static_cast<size_t>(head.cx) * head.cy);
        std::vector<bool> tileMask(masked ? tile.size() : 0);
        int x0 = (i % columns) * head.cx, y0 = (i / columns) * head.cy;
        for (int y = 0; y < head.cy; ++y)
            for (int x = 0; x < head.cx; ++x) {
                size_t from = static_cast<size_t>(y0 + y) * image.width + x0 + x;
                tile[static_cast<size_t>(y) * head.cx + x] = pixels[from];
                if (masked) tileMask[static_cast<size_t>(y) * head.cx + x] = mask[from];
            }
        entries->pixels.push_back(std::move(tile));
        entries->masks.push_back(std::move(tileMask));
    }
    Touch();
    list_.reset();
    stored_ = std::move(entries);
    width_ = head.cx;
    height_ = head.cy;
    allocBy_ = head.grow;
    masked_ = masked;
}

std::vector<uint8_t> TImageList::WriteData() const {
    int count = Count();
    int rows = std::max(1, (count + kTilesPerRow - 1) / kTilesPerRow);
    // A row holds up to four images; a shorter list is stored only as wide as its images.
    int columns = std::clamp(count, 1, kTilesPerRow);
    int wide = width_ * columns, high = height_ * rows;
    std::vector<uint32_t> pixels(static_cast<size_t>(wide) * high);
    std::vector<bool> mask(pixels.size(), true);  // unused slots are transparent
    for (int i = 0; i < count; ++i) {
        auto tile = GetPixels(i);
        auto tileMask = masked_ ? GetMask(i) : std::vector<bool>(tile.size(), false);
        int x0 = (i % columns) * width_, y0 = (i / columns) * height_;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                size_t to = static_cast<size_t>(y0 + y) * wide + x0 + x;
                pixels[to] = tile[static_cast<size_t>(y) * width_ + x];
                mask[to] = tileMask[static_cast<size_t>(y) * width_ + x];
            }
    }
    std::vector<uint8_t> out;
    ImageListHeader head{};
    head.magic = kImageListMagic;
    head.version = kImageListVersion;
    head.count = static_cast<uint16_t>(count);
    head.capacity = static_cast<uint16_t>(std::max(count, rows * kTilesPerRow) + allocBy_);
    head.grow = static_cast<uint16_t>(allocBy_);
    head.cx = static_cast<uint16_t>(width_);
    head.cy = static_cast<uint16_t>(height_);
    head.background = CLR_NONE;
    // Device-dependent colour depth (the platform's default), masked as the list is.
    head.flags = static_cast<uint16_t>(0x1000 | ILC_COLORDDB | (masked_ ? ILC_MASK : 0));
    for (auto& o : head.overlays) o = -1;
    Append(out, head);

    std::vector<uint8_t> bits(pixels.size() * 4);
    std::memcpy(bits.data(), pixels.data(), bits.size());
    AppendBmpFile(out, wide, high, 32, {}, bits);
    if (masked_) {
        size_t stride = DibStride(wide, 1);
        std::vector<uint8_t> maskBits(stride * high);
        for (int y = 0; y < high; ++y)
            for (int x = 0; x < wide; ++x)
                if (mask[static_cast<size_t>(y) * wide + x]) maskBits[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        AppendBmpFile(out, wide, high, 1, {0, 0, 0, 0, 255, 255, 255, 0}, maskBits);
    }
    out.insert(out.end(), kStreamTrailer, 0);
    return out;
}

void TImageList::ReadProperty(const FormProperty& p) {
    auto is = [&](const wchar_t* name) { return SameText(p.name, name); };
    if (is(L"Width")) SetWidth(static_cast<int>(p.value.AsInteger()));
    else if (is(L"Height")) SetHeight(static_cast<int>(p.value.AsInteger()));
    else if (is(L"AllocBy")) SetAllocBy(static_cast<int>(p.value.AsInteger()));
    else if (is(L"Left")) designLeft_ = p.value.AsInteger();
    else if (is(L"Top")) designTop_ = p.value.AsInteger();
    else if (is(L"Bitmap")) {
        if (p.value.kind != FormValue::Kind::Binary) throw EqvrError(L"Invalid property value");
        ReadData(p.value.bytes);
    } else ThrowUnknownProperty(p.name);
}

void TImageList::WriteProperties(std::vector<FormProperty>& out) const {
    if (height_ != 16) out.push_back({L"Height", FormValue::Integer(height_)});
    if (width_ != 16) out.push_back({L"Width", FormValue::Integer(width_)});
    if (allocBy_ != 4) out.push_back({L"AllocBy", FormValue::Integer(allocBy_)});
    if (designLeft_) out.push_back({L"Left", FormValue::Integer(designLeft_)});
    if (designTop_) out.push_back({L"Top", FormValue::Integer(designTop_)});
    if (Count() > 0) out.push_back({L"Bitmap", FormValue::Binary(WriteData())});
}

}  // namespace qvr
