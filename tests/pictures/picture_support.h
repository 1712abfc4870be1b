// What the picture tests share: a reader of .ico data of their own (it shares nothing with the
// add-in's writer or the stand-in's reader), the pixels of an icon handle read through GDI, the
// process's GDI and USER object counts, and pictures made up for the tests.
#pragma once

#include "com/handles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace picturetest {

// Top-down pixels 0xAARRGGBB as stored, and the mask (true = clear).
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;
    std::vector<bool> clear;
};

// An .ico file taken apart: every header field as it stands, and the first image's pixels.
struct IcoFile {
    size_t fileBytes = 0;
    uint16_t reserved = 0xFFFF, type = 0, count = 0;
    uint8_t width = 0, height = 0, colourCount = 0, entryReserved = 0xFF;
    uint16_t planes = 0xFFFF, bitCount = 0xFFFF;
    uint32_t bytesInRes = 0, imageOffset = 0;
    BITMAPINFOHEADER header{};
    std::vector<uint32_t> masks;  // the bit-field masks after the header, if any
    Pixels image;
};

// The file's fields and, for a 16-, 24- or 32-bit image whose parts lie inside the file, its
// pixels (16-bit ones opaque, their transparency in the mask); nullopt with the reason otherwise.
std::optional<IcoFile> ReadIco(const std::vector<uint8_t>& data, std::string& why);

// The colour bitmap (as 32-bit pixels, its own alpha kept) and the mask of an icon handle; a
// colour bitmap without any alpha gets the alpha the mask gives it on screen.
std::optional<Pixels> IconPixels(HICON icon);

// The whole content of a stream from its start; its position afterwards is where it was.
std::vector<uint8_t> StreamBytes(IStream* stream, uint64_t* position = nullptr);

// The GDI and USER objects the process holds: GetGuiResources where the platform answers it;
// under Wine, which does not, the GDI objects, windows and icons found by their handles.
struct GuiObjects {
    long gdi = 0;
    long user = 0;
    bool operator==(const GuiObjects&) const = default;
};
GuiObjects CountGuiObjects();

// A 48 x 48 picture: a clear border of 4 pixels, a soft (half transparent) ring, an opaque
// inside of several colours. Its mask is set where its alpha is 0.
Pixels MadeUpPicture(int size = 48);
// A bitmap of the pixels (32-bit top-down DIB section) and a monochrome mask bitmap.
qvr::unique_hbitmap ColourBitmap(const Pixels& p);
qvr::unique_hbitmap MaskBitmap(const Pixels& p);

// A folder for files that the native checks read after the test program has run: the Unix
// folder QVR_PICTURE_FILES names, seen through Wine's drive Z:; empty when it is not set.
std::wstring OutputFolder();
bool WriteFile(const std::wstring& path, const std::vector<uint8_t>& bytes);

}  // namespace picturetest
