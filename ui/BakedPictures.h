#pragma once
// Pictures rendered from their designs at build time (by picture_baker, in this folder), as
// premultiplied ARGB pixels, row by row: the notification-area icon is drawn at every start, and
// drawing it from its SVG would parse and render the design each time.
#include <cstddef>
#include <cstdint>

namespace vantrel {

struct BakedPicture {
    const char* design;  // the design's name in pictures/, without ".svg"
    int side;            // its width and height in device pixels
    const uint32_t* pixels;
};

extern const BakedPicture kBakedPictures[];
extern const size_t kBakedPictureCount;

}  // namespace vantrel
