// Encoded images through the system's image libraries, as 32-bit pixels: the bytes B, G, R, A
// per pixel (A the opacity, straight), rows top to bottom, no padding.
//
// The libraries are opened on first use, not linked: a program that never touches an image
// pays nothing for them at start-up. Their error paths jump (setjmp/longjmp) out of library
// code; the functions here are plain C-style code with no C++ object alive across such a
// jump, and every buffer they hand out is malloc'ed and released with `free_image_bytes`.
//
// Sizes are checked before the pixels are allocated: a side above 65535, more bytes than
// `max_bytes`, or a pixel count no such small file could hold (a decompression bomb) is
// refused as bad data.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::os {

enum class ImageStatus : int { ok, bad_data, no_library };

struct DecodedImage {
    uint32_t width = 0, height = 0;
    uint8_t* pixels = nullptr;  // width × height × 4 bytes, or null
};

struct EncodedImage {
    uint8_t* bytes = nullptr;
    std::size_t size = 0;
};

void free_image_bytes(void* bytes);
// Copies an encoder's output into out (its bytes then freed with free_image_bytes); bad_data
// when the memory cannot be had.
ImageStatus hand_over(const uint8_t* data, std::size_t size, EncodedImage& out);

ImageStatus decode_png(const uint8_t* data, std::size_t size, uint64_t max_bytes, DecodedImage& out);
// pixels: width × height × 4 bytes as above; width and height at least 1.
ImageStatus encode_png(const uint8_t* pixels, uint32_t width, uint32_t height, EncodedImage& out);
// JPEG has no transparency: decoded pixels are opaque, and the encoder drops the opacity.
ImageStatus decode_jpeg(const uint8_t* data, std::size_t size, uint64_t max_bytes, DecodedImage& out);
ImageStatus encode_jpeg(const uint8_t* pixels, uint32_t width, uint32_t height, EncodedImage& out);
ImageStatus decode_gif(const uint8_t* data, std::size_t size, uint64_t max_bytes, DecodedImage& out);
ImageStatus encode_gif(const uint8_t* pixels, uint32_t width, uint32_t height, EncodedImage& out);
ImageStatus decode_tiff(const uint8_t* data, std::size_t size, uint64_t max_bytes, DecodedImage& out);
ImageStatus encode_tiff(const uint8_t* pixels, uint32_t width, uint32_t height, EncodedImage& out);

}  // namespace kov::os
