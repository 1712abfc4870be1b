// Pictures as Office receives them from an add-in's image callbacks, decoded the way the stand-in
// shows them: an icon picture object (Office 2007) or a stream of .ico data (Office 2010 and
// later). The reader here is the stand-in's own; it checks the data as strictly as it reads it,
// so that a picture Office could not take is reported rather than shown. Pictures, and the ribbon
// drawn from them, are written as PNG files for a person to look at.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace officesim {

// Top-down pixels 0xAARRGGBB with straight (not premultiplied) alpha.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    Image() = default;
    Image(int w, int h, uint32_t fill = 0) : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
    bool Empty() const { return width <= 0 || height <= 0; }
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    uint32_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

// What the stand-in made of a picture answer.
struct ReceivedPicture {
    // "none", "picture" (an icon picture object), "ICO stream", or what else it was.
    std::wstring kind;
    Image image;
    size_t streamBytes = 0;      // size of the stream (ICO stream)
    bool streamAtEnd = false;    // the stream was handed over positioned after its last byte
    std::wstring error;          // why the picture cannot be shown; empty when it can
};

// Reads the content of a .ico file: its first image, which must lie inside the data and match
// its directory entry. Its transparency comes from the alpha channel of a 32-bit image that has
// one, else from the mask. False with the reason when the data is not a readable icon.
bool ReadIcoFile(const std::vector<uint8_t>& data, Image& image, std::wstring& why);

// The picture in an answer variant (VT_UNKNOWN or VT_DISPATCH; empty or null for none). A stream
// is read from its start and left where the add-in had put it.
ReceivedPicture ReadPictureAnswer(const VARIANT& answer);

// The header of a 32-bit top-down device-independent bitmap, as GDI reads and makes them.
BITMAPINFO TopDown32Info(int width, int height);

// The picture as a PNG file (8-bit RGBA, uncompressed deflate blocks).
std::vector<uint8_t> EncodePng(const Image& image);
bool WritePngFile(const std::wstring& path, const Image& image);

}  // namespace officesim
