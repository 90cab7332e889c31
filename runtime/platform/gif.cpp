// GIF through giflib, opened on first use (see images.h). giflib reports errors by return
// codes. Decoding takes the first picture of the file on a canvas of the file's screen size;
// the pixels it leaves uncovered, and those of the transparent colour, are transparent black.
// Encoding keeps the colours exactly when there are at most 256 of them (255 with
// transparency) and quantises otherwise; a pixel is transparent when its opacity is below
// half, the format having no other degrees of opacity.
#include "runtime/platform/images.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include <gif_lib.h>

#include "runtime/platform/shared_library.h"

namespace kov::os {

namespace {

#define KOV_GIF_FUNCTIONS(X)                                                                              \
    X(DGifOpen) X(DGifCloseFile) X(DGifGetRecordType) X(DGifGetImageDesc) X(DGifGetLine)                 \
    X(DGifGetExtension) X(DGifGetExtensionNext) X(EGifOpen) X(EGifCloseFile) X(EGifSetGifVersion)        \
    X(EGifPutScreenDesc) X(EGifPutImageDesc) X(EGifPutLine) X(EGifPutExtension) X(GifMakeMapObject)      \
    X(GifFreeMapObject) X(GifQuantizeBuffer)

// The library's functions, or null when it cannot be opened or lacks one of them (asked once).
KOV_LAZY_LIBRARY("libgif.so.7", KOV_GIF_FUNCTIONS)

struct Source {
    const uint8_t* data;
    std::size_t size, at;
};

int read_bytes(GifFileType* gif, GifByteType* out, int n) {
    auto* s = static_cast<Source*>(gif->UserData);
    std::size_t k = std::size_t(n) < s->size - s->at ? std::size_t(n) : s->size - s->at;
    std::memcpy(out, s->data + s->at, k);
    s->at += k;
    return int(k);
}

int write_bytes(GifFileType* gif, const GifByteType* data, int n) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + n);
    return n;
}

constexpr uint64_t max_pixels_per_byte = 1100 * 8;

// The first picture onto the canvas; false on any failure.
bool read_first(const Library& lib, GifFileType* gif, uint64_t max_bytes, std::size_t size, DecodedImage& out) {
    uint64_t w = uint64_t(gif->SWidth), h = uint64_t(gif->SHeight);
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (lib.DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == TERMINATE_RECORD_TYPE) return false;  // no picture
        if (type == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* ext;
            if (lib.DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return false;
            while (ext) {
                if (code == GRAPHICS_EXT_FUNC_CODE && ext[0] >= 4 && (ext[1] & 1)) transparent = ext[4];
                if (lib.DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return false;
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) return false;
        if (lib.DGifGetImageDesc(gif) == GIF_ERROR) return false;
        break;
    }
    const GifImageDesc& d = gif->Image;
    if (d.Width < 1 || d.Height < 1 || d.Left < 0 || d.Top < 0) return false;
    if (w == 0 || h == 0) {
        w = uint64_t(d.Left) + d.Width;
        h = uint64_t(d.Top) + d.Height;
    }
    uint64_t frame = uint64_t(d.Width) * uint64_t(d.Height);
    if (w > 65535 || h > 65535 || w * h * 4 > max_bytes || w * h > uint64_t(size) * max_pixels_per_byte ||
        frame > uint64_t(size) * max_pixels_per_byte)
        return false;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map) return false;
    auto* pixels = static_cast<uint8_t*>(std::calloc(w * h, 4));
    if (!pixels) return false;
    std::vector<GifPixelType> line(std::size_t(d.Width));
    static const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = d.Interlace ? starts[pass] : 0; y < d.Height; y += d.Interlace ? steps[pass] : 1) {
            if (lib.DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
                std::free(pixels);
                return false;
            }
            uint64_t row = uint64_t(d.Top) + uint64_t(y);
            if (row >= h) continue;
            for (int x = 0; x < d.Width; ++x) {
                uint64_t col = uint64_t(d.Left) + uint64_t(x);
                if (col >= w) break;
                int index = line[std::size_t(x)];
                uint32_t px = 0;
                if (index != transparent && index < map->ColorCount) {
                    const GifColorType& c = map->Colors[index];
                    px = 0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
                }
                std::memcpy(pixels + (row * w + col) * 4, &px, 4);
            }
        }
    }
    out.width = uint32_t(w);
    out.height = uint32_t(h);
    out.pixels = pixels;
    return true;
}

}  // namespace

ImageStatus decode_gif(const uint8_t* data, std::size_t size, uint64_t max_bytes, DecodedImage& out) {
    const Library* lib = library();
    if (!lib) return ImageStatus::no_library;
    Source source{data, size, 0};
    int error = 0;
    GifFileType* gif = lib->DGifOpen(&source, read_bytes, &error);
    if (!gif) return ImageStatus::bad_data;
    bool ok = read_first(*lib, gif, max_bytes, size, out);
    lib->DGifCloseFile(gif, &error);
    return ok ? ImageStatus::ok : ImageStatus::bad_data;
}

ImageStatus encode_gif(const uint8_t* pixels, uint32_t width, uint32_t height, EncodedImage& out) {
    const Library* lib = library();
    if (!lib) return ImageStatus::no_library;
    uint64_t count = uint64_t(width) * height;
    auto colour = [&](uint64_t i) {
        uint32_t px;
        std::memcpy(&px, pixels + i * 4, 4);
        return px;
    };
    auto clear = [&](uint64_t i) { return (colour(i) >> 24) < 128; };
    bool any_clear = false;
    std::unordered_map<uint32_t, int> index;
    std::vector<GifColorType> palette;
    bool exact = true;
    for (uint64_t i = 0; i < count; ++i) {
        if (clear(i)) {
            any_clear = true;
            continue;
        }
        uint32_t rgb = colour(i) & 0xFFFFFF;
        if (index.count(rgb)) continue;
        if (index.size() >= 256) {
            exact = false;
            continue;
        }
        index.emplace(rgb, int(palette.size()));
        palette.push_back({GifByteType(rgb >> 16), GifByteType(rgb >> 8), GifByteType(rgb)});
    }
    if (exact && any_clear && palette.size() >= 256) exact = false;
    std::vector<GifPixelType> indexes(count);
    if (exact) {
        for (uint64_t i = 0; i < count; ++i)
            indexes[i] = GifPixelType(clear(i) ? int(palette.size()) : index[colour(i) & 0xFFFFFF]);
    } else {
        std::vector<GifByteType> r(count), g(count), b(count);
        for (uint64_t i = 0; i < count; ++i) {
            uint32_t px = colour(i);
            r[i] = GifByteType(px >> 16);
            g[i] = GifByteType(px >> 8);
            b[i] = GifByteType(px);
        }
        int size = any_clear ? 128 : 256;
        palette.assign(256, GifColorType{0, 0, 0});
        if (lib->GifQuantizeBuffer(width, height, &size, r.data(), g.data(), b.data(), indexes.data(), palette.data()) ==
            GIF_ERROR)
            return ImageStatus::bad_data;
        palette.resize(std::size_t(size));
        for (uint64_t i = 0; i < count; ++i)
            if (clear(i)) indexes[i] = GifPixelType(size);
    }
    int transparent = any_clear ? int(palette.size()) : -1;
    int used = int(palette.size()) + (any_clear ? 1 : 0);
    int entries = 2;
    while (entries < used) entries *= 2;
    palette.resize(std::size_t(entries), GifColorType{0, 0, 0});
    ColorMapObject* map = lib->GifMakeMapObject(entries, palette.data());
    if (!map) return ImageStatus::bad_data;
    std::vector<uint8_t> bytes;
    int error = 0;
    GifFileType* gif = lib->EGifOpen(&bytes, write_bytes, &error);
    bool ok = gif != nullptr;
    if (ok) {
        lib->EGifSetGifVersion(gif, true);
        ok = lib->EGifPutScreenDesc(gif, int(width), int(height), 8, 0, map) != GIF_ERROR;
        if (ok && transparent >= 0) {
            GifByteType control[4] = {1, 0, 0, GifByteType(transparent)};
            ok = lib->EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_ERROR;
        }
        ok = ok && lib->EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) != GIF_ERROR;
        for (uint32_t y = 0; ok && y < height; ++y)
            ok = lib->EGifPutLine(gif, indexes.data() + uint64_t(y) * width, int(width)) != GIF_ERROR;
        if (lib->EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
    }
    lib->GifFreeMapObject(map);
    if (!ok) return ImageStatus::bad_data;
    return hand_over(bytes.data(), bytes.size(), out);
}

}  // namespace kov::os
