// image!: a rectangle of 32-bit pixels in row order, a series whose positions are pixels.
//
// Cell: w1 the head index counted in pixels from the top-left pixel (it may lie past the tail
// and is clipped where it is used), w2 the node of the pixel buffer (0 when the width or the
// height is 0), w3 the size word: width in the low 16 bits, height in the high 16 bits.
//
// Pixels: the buffer's unit is 4; each pixel is the bytes B, G, R, A in memory (0xAARRGGBB
// read as a little-endian word), A the opacity (255 opaque). At the language level the fourth
// tuple byte and the `alpha` channel are transparencies: 255 minus A. The buffer always holds
// exactly width × height pixels: no action grows or shrinks it.
//
// Sizes are checked before anything is allocated: a side above 65535 or a pixel count whose
// bytes do not fit a buffer raises internal/no-memory.
//
// Moving memory: the constructors (scaling too), copy, to-binary and form/mold allocate; poke, change and
// the channel setters report to the owner, which may run Kov code. Pixel pointers are taken
// after the last such call and used before the next.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::image {

constexpr uint32_t max_side = 65535;
enum Channel : uint32_t { alpha = 0, rgb = 1, argb = 2 };

inline uint32_t width(const Cell& c) { return c.w3 & 0xFFFF; }
inline uint32_t height(const Cell& c) { return c.w3 >> 16; }
inline uint32_t pixel_count(const Cell& c) { return width(c) * height(c); }
// An image of width or height 0 has no pixel buffer (node 0).
inline bool has_pixels(const Cell& c) { return c.w2 != 0; }
inline Cell cell_of(memory::Node node, uint32_t w, uint32_t h, uint32_t index = 0) {
    return Cell{T_image, index, node, (w & 0xFFFF) | (h << 16)};
}

// The cell becomes a new image of w × h pixels, each the pixel value `fill` (0xAARRGGBB).
// Raises internal/no-memory for a side above 65535 or a size no buffer can hold.
Cell& make_at(Cell& c, int64_t w, int64_t h, uint32_t fill);
Cell* push(int64_t w, int64_t h, uint32_t fill);
// Pushes a new image of w × h pixels made by scaling the image by nearest neighbour (sizes
// below 0 count as 0, and their limits are those of make_at). An image without pixels scales
// to pixels with every byte 0.
Cell* push(const Cell& img, int64_t w, int64_t h);
// The image's pixel memory (B, G, R, A per pixel); null without pixels. Valid until the next
// allocation.
uint8_t* pixels(const Cell& c);
// A new binary of the whole image's channel data.
Cell* to_binary(const Cell& c, uint32_t channel);
// Sets a channel of the whole image from a binary!, tuple! or integer!; any other value
// raises script/invalid-arg.
void from_binary(const Cell& c, const Cell& value, uint32_t channel);

void init();

}  // namespace kov::image
