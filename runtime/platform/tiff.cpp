// TIFF through libtiff, opened on first use (see images.h), reading and writing memory.
// libtiff reports errors by return codes (its message handlers are silenced). Pictures of
// 8-bit RGB or RGBA strips with unassociated alpha (what the encoder writes) are read sample
// for sample; every other layout goes through the library's RGBA reader, whose colours of
// partly transparent pixels are premultiplied and are divided back here.
#include "runtime/platform/images.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <tiffio.h>

#include "runtime/platform/shared_library.h"

namespace kov::os {

namespace {

#define KOV_TIFF_FUNCTIONS(X)                                                                             \
    X(TIFFClientOpen) X(TIFFClose) X(TIFFGetField) X(TIFFGetFieldDefaulted) X(TIFFSetField)              \
    X(TIFFReadRGBAImageOriented) X(TIFFReadScanline) X(TIFFWriteScanline) X(TIFFScanlineSize)            \
    X(TIFFIsTiled) X(TIFFDefaultStripSize) X(TIFFSetErrorHandler) X(TIFFSetWarningHandler)

// Errors and warnings are not printed: a failed call answers for itself.
KOV_LAZY_LIBRARY_PREPARED("libtiff.so.6", KOV_TIFF_FUNCTIONS, quiet_tiff)
bool quiet_tiff(Library& lib) {
    lib.TIFFSetErrorHandler(nullptr);
    lib.TIFFSetWarningHandler(nullptr);
    return true;
}

// A file in memory: read from the caller's bytes, or written into a growing vector.
struct Memory {
    const uint8_t* data;
    std::vector<uint8_t>* out;
    uint64_t size, at;
};

tsize_t read_proc(thandle_t h, tdata_t buffer, tsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (!m->data || n < 0 || m->at >= m->size) return 0;
    uint64_t k = uint64_t(n) < m->size - m->at ? uint64_t(n) : m->size - m->at;
    std::memcpy(buffer, m->data + m->at, k);
    m->at += k;
    return tsize_t(k);
}

tsize_t write_proc(thandle_t h, tdata_t buffer, tsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (!m->out || n < 0) return 0;
    uint64_t end = m->at + uint64_t(n);
    if (end > m->out->size()) m->out->resize(end);
    std::memcpy(m->out->data() + m->at, buffer, std::size_t(n));
    m->at = end;
    if (end > m->size) m->size = end;
    return n;
}

toff_t seek_proc(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(h);
    uint64_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
    uint64_t to = base + offset;
    if (m->data && to > m->size) return toff_t(-1);
    if (to > (uint64_t(1) << 32)) return toff_t(-1);
    m->at = to;
    return to;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return static_cast<Memory*>(h)->size; }
// The bytes being read are handed to the library as its mapped file (it reads mapped files
// more leniently than streamed ones); nothing is mapped for writing.
int map_proc(thandle_t h, tdata_t* base, toff_t* size) {
    auto* m = static_cast<Memory*>(h);
    if (!m->data) return 0;
    *base = const_cast<uint8_t*>(m->data);
    *size = m->size;
    return 1;
}
void unmap_proc(thandle_t, tdata_t, toff_t) {}

TIFF* open(const Library& lib, Memory& m, const char* mode) {
    return lib.TIFFClientOpen("memory", mode, &m, read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                              unmap_proc);
}

constexpr uint64_t max_pixels_per_byte = 1100 * 8;

// 8-bit RGB or RGBA (unassociated alpha) in strips, one plane: read as it lies.
bool plain_layout(const Library& lib, TIFF* tif, uint16_t& samples) {
    uint16_t bits = 0, photometric = 0, planar = 0, extra_count = 0;
    uint16_t* extra = nullptr;
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (!lib.TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    if (bits != 8 || photometric != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG || lib.TIFFIsTiled(tif)) return false;
    if (samples == 3) return extra_count == 0;
    return samples == 4 && extra_count == 1 && extra && extra[0] == EXTRASAMPLE_UNASSALPHA;
}

}  // namespace

ImageStatus decode_tiff(const uint8_t* data, std::size_t size, uint64_t max_bytes, DecodedImage& out) {
    const Library* lib = library();
    if (!lib) return ImageStatus::no_library;
    Memory m{data, nullptr, size, 0};
    TIFF* tif = open(*lib, m, "r");
    if (!tif) return ImageStatus::bad_data;
    uint32_t w = 0, h = 0;
    lib->TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    lib->TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    uint64_t count = uint64_t(w) * h;
    if (w < 1 || h < 1 || w > 65535 || h > 65535 || count * 4 > max_bytes || count > uint64_t(size) * max_pixels_per_byte) {
        lib->TIFFClose(tif);
        return ImageStatus::bad_data;
    }
    auto* pixels = static_cast<uint8_t*>(std::malloc(count * 4));
    if (!pixels) {
        lib->TIFFClose(tif);
        return ImageStatus::bad_data;
    }
    bool ok = true;
    uint16_t samples = 0;
    if (plain_layout(*lib, tif, samples) && uint64_t(lib->TIFFScanlineSize(tif)) == uint64_t(w) * samples) {
        std::vector<uint8_t> line(std::size_t(w) * samples);
        for (uint32_t y = 0; ok && y < h; ++y) {
            ok = lib->TIFFReadScanline(tif, line.data(), y, 0) == 1;
            for (uint32_t x = 0; ok && x < w; ++x) {
                const uint8_t* s = line.data() + std::size_t(x) * samples;
                uint8_t* p = pixels + (uint64_t(y) * w + x) * 4;
                p[0] = s[2];
                p[1] = s[1];
                p[2] = s[0];
                p[3] = samples == 4 ? s[3] : 255;
            }
        }
    } else {
        auto* raster = reinterpret_cast<uint32_t*>(pixels);
        ok = lib->TIFFReadRGBAImageOriented(tif, w, h, raster, ORIENTATION_TOPLEFT, 0) == 1;
        for (uint64_t i = 0; ok && i < count; ++i) {
            uint32_t v = raster[i];
            uint32_t r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF, a = v >> 24;
            if (a && a < 255) {
                r = (r * 255 + a / 2) / a;
                g = (g * 255 + a / 2) / a;
                b = (b * 255 + a / 2) / a;
                if (r > 255) r = 255;
                if (g > 255) g = 255;
                if (b > 255) b = 255;
            }
            raster[i] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    lib->TIFFClose(tif);
    if (!ok) {
        std::free(pixels);
        return ImageStatus::bad_data;
    }
    out.width = w;
    out.height = h;
    out.pixels = pixels;
    return ImageStatus::ok;
}

ImageStatus encode_tiff(const uint8_t* pixels, uint32_t width, uint32_t height, EncodedImage& out) {
    const Library* lib = library();
    if (!lib) return ImageStatus::no_library;
    std::vector<uint8_t> bytes;
    Memory m{nullptr, &bytes, 0, 0};
    TIFF* tif = open(*lib, m, "w");
    if (!tif) return ImageStatus::bad_data;
    uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    lib->TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    lib->TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    lib->TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    lib->TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    lib->TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    lib->TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    lib->TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    lib->TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    lib->TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, lib->TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> line(std::size_t(width) * 4);
    bool ok = true;
    for (uint32_t y = 0; ok && y < height; ++y) {
        const uint8_t* p = pixels + uint64_t(y) * width * 4;
        for (uint32_t x = 0; x < width; ++x) {
            line[x * 4] = p[x * 4 + 2];
            line[x * 4 + 1] = p[x * 4 + 1];
            line[x * 4 + 2] = p[x * 4];
            line[x * 4 + 3] = p[x * 4 + 3];
        }
        ok = lib->TIFFWriteScanline(tif, line.data(), y, 0) == 1;
    }
    lib->TIFFClose(tif);
    if (!ok) return ImageStatus::bad_data;
    return hand_over(bytes.data(), bytes.size(), out);
}

}  // namespace kov::os
