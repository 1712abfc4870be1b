// Pictures of ribbon components: the glyph bitmap a control owns and the image list a tab
// refers to.
#pragma once

#include "com/component.h"
#include "com/handles.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qvr {

// A new 32-bit top-down DIB section holding `pixels` (width x height); the caller owns it.
HBITMAP CreateBitmap32(int width, int height, const uint32_t* pixels);

// A number never handed out before in this process. Bitmaps and image lists take a new one at
// every change of their content, so that what is made from a picture (the icon data Office gets)
// can be kept under it: the same stamp means the same content, of the same object.
uint64_t NewPictureStamp();

// A device-independent bitmap that tells its owner when its content changes.
class TqvrBitmap {
public:
    TqvrBitmap() = default;
    TqvrBitmap(const TqvrBitmap&) = delete;
    TqvrBitmap& operator=(const TqvrBitmap&) = delete;

    bool Empty() const { return !handle_ || width_ == 0 || height_ == 0; }
    HBITMAP Handle() const { return handle_.get(); }
    int Width() const { return width_; }
    int Height() const { return height_; }

    // Takes ownership of a bitmap (nullptr empties the picture).
    void SetHandle(HBITMAP bitmap);
    // Copies the other picture (an empty one empties this one).
    void Assign(const TqvrBitmap& source);
    // A 32-bit picture from top-down BGRA pixels (alpha in the high byte).
    void SetPixels(int width, int height, const std::vector<uint32_t>& pixels);
    // The picture as top-down 32-bit BGRA pixels; empty for an empty picture.
    std::vector<uint32_t> Pixels() const;

    // Stored form: the content of a .bmp file; an empty vector for an empty picture.
    void LoadFromBytes(const std::vector<uint8_t>& bmpFile);
    std::vector<uint8_t> SaveToBytes() const;

    // Called after every change of the content.
    std::function<void()> OnChange;

    // Changes with every change of the content made through these members (drawing into
    // Handle() directly is not seen: set the picture anew instead).
    uint64_t Stamp() const { return stamp_; }

private:
    void Changed() {
        stamp_ = NewPictureStamp();
        if (OnChange) OnChange();
    }
    uint64_t stamp_ = NewPictureStamp();
    unique_hbitmap handle_;
    int width_ = 0;
    int height_ = 0;
};

// An image list of the platform's common controls as a component: a row of same-sized
// pictures, with a mask, that ribbon controls refer to by index.
class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* owner);
    std::wstring ClassName() const override { return L"TImageList"; }

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Changing the size empties the list.
    void SetWidth(int value);
    void SetHeight(int value);
    int AllocBy() const { return allocBy_; }
    void SetAllocBy(int value) { allocBy_ = value; }
    bool Masked() const { return masked_; }

    // The list of the common controls, made on first use: neither the empty lists a stored list's
    // size settings would make while it loads nor, until asked for, the stored list itself.
    HIMAGELIST Handle() const;
    int Count() const;
    // Adds a picture and its mask (the mask may be nullptr); returns its index.
    int Add(HBITMAP image, HBITMAP mask);
    void Clear();
    // The picture at `index` as an icon (colour with alpha, and mask).
    unique_hicon GetIcon(int index) const;
    // The picture at `index` as top-down 32-bit BGRA pixels of Width x Height.
    std::vector<uint32_t> GetPixels(int index) const;
    // The mask of the picture at `index`, top-down, one entry per pixel: true = transparent.
    std::vector<bool> GetMask(int index) const;

    // Stored form: the image-list stream of the common controls (ImageList_Read/Write).
    void ReadData(const std::vector<uint8_t>& stream);
    std::vector<uint8_t> WriteData() const;

    void ReadProperty(const FormProperty& property) override;
    void WriteProperties(std::vector<FormProperty>& out) const override;

    // Changes with every change of the pictures made through these members (changes made
    // through Handle() directly are not seen).
    uint64_t Stamp() const { return stamp_; }

private:
    void Recreate();
    void Touch() { stamp_ = NewPictureStamp(); }

    // A list read from its stored form keeps the pictures as read until its handle is first
    // needed; then they go into a list of the common controls.
    struct StoredEntries {
        std::vector<std::vector<uint32_t>> pixels;  // per entry, top-down, Width x Height
        std::vector<std::vector<bool>> masks;       // per entry (empty for an unmasked list)
        int capacity = 0;
    };
    mutable unique_himagelist list_;
    mutable std::unique_ptr<StoredEntries> stored_;
    int width_ = 16;
    int height_ = 16;
    int allocBy_ = 4;
    bool masked_ = true;
    int64_t designLeft_ = 0;
    int64_t designTop_ = 0;
    uint64_t stamp_ = 0;
};

}  // namespace qvr
