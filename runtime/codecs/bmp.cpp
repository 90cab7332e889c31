// BMP, read and written here: every header version (core, info, V4, V5), 1-, 4-, 8-, 16-,
// 24- and 32-bit pixels, palettes, bit-field masks and RLE4/RLE8 compression, top-down or
// bottom-up. Written images are 32-bit with a V4 header whose masks keep the alpha channel,
// so an image read back is the same pixel for pixel.
//
// Every offset and count is checked against the data before it is used; the size checks run
// before the pixels are allocated.
#include "runtime/codecs/image_codecs.h"

#include <cstdlib>
#include <cstring>

namespace kov::image_codecs {

namespace {

inline uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }
inline void put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// A channel of a bit-field pixel scaled to 0-255; a missing mask gives `absent`.
struct Field {
    uint32_t mask = 0, shift = 0, max = 0;
    void set(uint32_t m) {
        mask = m;
        shift = m ? uint32_t(__builtin_ctz(m)) : 0;
        max = m >> shift;
    }
    uint32_t get(uint32_t px, uint32_t absent) const {
        if (!mask) return absent;
        uint32_t v = (px & mask) >> shift;
        return max == 255 ? v : (v * 255 + max / 2) / max;
    }
};

enum Compression : uint32_t { rgb = 0, rle8 = 1, rle4 = 2, bitfields = 3, alpha_bitfields = 6 };

}  // namespace

os::ImageStatus decode_bmp(const uint8_t* data, std::size_t size, uint64_t max_bytes, os::DecodedImage& out) {
    using os::ImageStatus;
    if (size < 26 || data[0] != 'B' || data[1] != 'M') return ImageStatus::bad_data;
    uint32_t offset = u32(data + 10), dib = u32(data + 14);
    int64_t width, height;
    uint32_t bpp, compression = rgb, colours_used = 0, entry = 4;
    if (dib == 12) {
        width = u16(data + 18);
        height = static_cast<int16_t>(u16(data + 20));
        bpp = u16(data + 24);
        entry = 3;
    } else if (dib >= 40 && dib <= 124 && size >= 54) {
        width = static_cast<int32_t>(u32(data + 18));
        height = static_cast<int32_t>(u32(data + 22));
        bpp = u16(data + 28);
        compression = u32(data + 30);
        colours_used = u32(data + 46);
    } else {
        return ImageStatus::bad_data;
    }
    bool top_down = height < 0;
    if (top_down) height = -height;
    if (width < 1 || height < 1 || width > 65535 || height > 65535) return ImageStatus::bad_data;
    uint64_t count = uint64_t(width) * uint64_t(height);
    if (count * 4 > max_bytes || count > uint64_t(size) * max_pixels_per_byte) return ImageStatus::bad_data;
    if (offset >= size) return ImageStatus::bad_data;

    Field r, g, b, a;
    bool masked = compression == bitfields || compression == alpha_bitfields;
    if (masked) {
        if (bpp != 16 && bpp != 32) return ImageStatus::bad_data;
        bool with_alpha = compression == alpha_bitfields || dib >= 56;
        if (14 + 40 + (with_alpha ? 16u : 12u) > size) return ImageStatus::bad_data;
        r.set(u32(data + 54));
        g.set(u32(data + 58));
        b.set(u32(data + 62));
        if (with_alpha) a.set(u32(data + 66));
    } else if (compression == rgb && bpp == 16) {
        r.set(0x7C00);
        g.set(0x03E0);
        b.set(0x001F);
    } else if (compression == rle8 ? bpp != 8 : compression == rle4 ? bpp != 4 : compression != rgb) {
        return ImageStatus::bad_data;
    }
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return ImageStatus::bad_data;

    // The palette, as opaque pixels.
    uint32_t palette[256] = {};
    uint32_t palette_size = 0;
    if (bpp <= 8) {
        palette_size = colours_used && colours_used < (1u << bpp) ? colours_used : 1u << bpp;
        uint64_t at = 14 + uint64_t(dib);
        for (uint32_t i = 0; i < palette_size && at + entry <= offset && at + 3 <= size; ++i, at += entry)
            palette[i] = 0xFF000000u | uint32_t(data[at + 2]) << 16 | uint32_t(data[at + 1]) << 8 | data[at];
    }

    auto* pixels = static_cast<uint8_t*>(std::malloc(count * 4));
    if (!pixels) return ImageStatus::bad_data;
    auto row_of = [&](int64_t y) { return pixels + uint64_t(top_down ? y : height - 1 - y) * uint64_t(width) * 4; };
    auto put = [&](uint8_t* at, uint32_t px) { std::memcpy(at, &px, 4); };
    const uint8_t* src = data + offset;
    std::size_t available = size - offset;

    if (compression == rle8 || compression == rle4) {
        // The pixels the data skips are undefined in the format: they stay transparent black.
        std::memset(pixels, 0, count * 4);
        int64_t x = 0, y = 0;
        std::size_t i = 0;
        while (i + 1 < available && y < height) {
            uint32_t n = src[i], c = src[i + 1];
            i += 2;
            if (n) {
                for (uint32_t k = 0; k < n && x < width; ++k, ++x) {
                    uint32_t index = compression == rle8 ? c : (k & 1 ? c & 15 : c >> 4);
                    put(row_of(y) + x * 4, index < palette_size ? palette[index] : 0xFF000000u);
                }
                continue;
            }
            if (c == 0) {
                x = 0;
                ++y;
            } else if (c == 1) {
                break;
            } else if (c == 2) {
                if (i + 1 >= available) break;
                x += src[i];
                y += src[i + 1];
                i += 2;
            } else {
                std::size_t bytes = compression == rle8 ? c : (c + 1) / 2;
                if (bytes > available - i) break;
                for (uint32_t k = 0; k < c && x < width; ++k, ++x) {
                    uint32_t index = compression == rle8 ? src[i + k] : (k & 1 ? src[i + k / 2] & 15 : src[i + k / 2] >> 4);
                    put(row_of(y) + x * 4, index < palette_size ? palette[index] : 0xFF000000u);
                }
                i += (bytes + 1) & ~std::size_t(1);
            }
        }
    } else {
        uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
        if (stride * uint64_t(height) > available) {
            std::free(pixels);
            return ImageStatus::bad_data;
        }
        bool alpha_seen = false;
        for (int64_t y = 0; y < height; ++y) {
            const uint8_t* line = src + uint64_t(y) * stride;
            uint8_t* row = row_of(y);
            for (int64_t x = 0; x < width; ++x) {
                uint32_t px;
                if (bpp <= 8) {
                    uint64_t bit = uint64_t(x) * bpp;
                    uint32_t index = (line[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                    px = index < palette_size ? palette[index] : 0xFF000000u;
                } else if (bpp == 24) {
                    const uint8_t* p = line + x * 3;
                    px = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
                } else {
                    uint32_t v = bpp == 16 ? u16(line + x * 2) : u32(line + x * 4);
                    if (bpp == 32 && !masked) {
                        px = v;
                        if (px >> 24) alpha_seen = true;
                    } else {
                        px = a.get(v, 255) << 24 | r.get(v, 0) << 16 | g.get(v, 0) << 8 | b.get(v, 0);
                    }
                }
                put(row + x * 4, px);
            }
        }
        // A 32-bit image without masks has a spare fourth byte, which writers leave at 0:
        // such an image is opaque. Only when some pixel fills it is it taken as alpha.
        if (bpp == 32 && !masked && !alpha_seen)
            for (uint64_t k = 0; k < count; ++k) pixels[k * 4 + 3] = 255;
    }
    out.width = uint32_t(width);
    out.height = uint32_t(height);
    out.pixels = pixels;
    return ImageStatus::ok;
}

os::ImageStatus encode_bmp(const uint8_t* pixels, uint32_t width, uint32_t height, os::EncodedImage& out) {
    constexpr uint32_t header = 14 + 108;
    uint64_t data = uint64_t(width) * height * 4;
    uint64_t total = header + data;
    if (total > 0xFFFFFFFFu) return os::ImageStatus::bad_data;
    auto* bytes = static_cast<uint8_t*>(std::calloc(1, total));
    if (!bytes) return os::ImageStatus::bad_data;
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(bytes + 2, uint32_t(total));
    put32(bytes + 10, header);
    put32(bytes + 14, 108);
    put32(bytes + 18, width);
    put32(bytes + 22, height);
    put16(bytes + 26, 1);
    put16(bytes + 28, 32);
    put32(bytes + 30, bitfields);
    put32(bytes + 34, uint32_t(data));
    put32(bytes + 38, 2835);  // 72 dots per inch
    put32(bytes + 42, 2835);
    put32(bytes + 54, 0x00FF0000u);
    put32(bytes + 58, 0x0000FF00u);
    put32(bytes + 62, 0x000000FFu);
    put32(bytes + 66, 0xFF000000u);
    put32(bytes + 70, 0x73524742u);  // the sRGB colour space
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(bytes + header + uint64_t(y) * width * 4, pixels + uint64_t(height - 1 - y) * width * 4,
                    uint64_t(width) * 4);
    out.bytes = bytes;
    out.size = total;
    return os::ImageStatus::ok;
}

}  // namespace kov::image_codecs
