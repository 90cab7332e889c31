// The image codec layer: encoded images (PNG, JPEG, BMP, GIF, TIFF) to and
// from image! values, and the `encode` and `decode` routines of the image codec objects of
// `system/codecs`. The format of data to decode is told by its signature, whatever the codec.
//
// Failures: data that does not decode raises access/bad-media, a file that cannot be read or
// decoded access/cannot-open with the file, encoding an image without pixels access/bad-media.
//
// Moving memory: decoding and encoding allocate the new image or binary.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/platform/images.h"

namespace kov::image_codecs {

// Format ids, as the codec objects pass them.
enum Format : uint32_t { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };

// No encoded image this small could hold more pixels than this per byte of its data (the
// deflate limit with 1-bit pixels, with room): more is a decompression bomb.
constexpr uint64_t max_pixels_per_byte = 1100 * 8;

os::ImageStatus decode_bmp(const uint8_t* data, std::size_t size, uint64_t max_bytes, os::DecodedImage& out);
os::ImageStatus encode_bmp(const uint8_t* pixels, uint32_t width, uint32_t height, os::EncodedImage& out);

// A new image on the value stack decoded from the bytes; none on the stack when no known
// signature starts them; access/bad-media when they do not decode.
Cell* load_binary(const uint8_t* bytes, std::size_t size);
// The image decoded from a binary! (as load_binary) or a file! (access/cannot-open on failure),
// pushed on the value stack.
Cell* decode(const Cell& data);
// A new binary on the value stack with the image encoded in the format.
Cell* encode(const Cell& image, uint32_t format);

void register_routines();

}  // namespace kov::image_codecs
