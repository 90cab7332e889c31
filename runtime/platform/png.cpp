// PNG through libpng, opened on first use (see images.h). libpng reports errors by a longjmp
// to the setjmp of the function that called it: the decoder and encoder keep only plain
// pointers and integers (volatile where changed after the setjmp) and free them on that path.
#include "runtime/platform/images.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include <png.h>

#include "runtime/platform/shared_library.h"

namespace kov::os {

void free_image_bytes(void* bytes) { std::free(bytes); }

ImageStatus hand_over(const uint8_t* data, std::size_t size, EncodedImage& out) {
    out.bytes = static_cast<uint8_t*>(std::malloc(size));
    if (!out.bytes) return ImageStatus::bad_data;
    std::memcpy(out.bytes, data, size);
    out.size = size;
    return ImageStatus::ok;
}

namespace {

#define KOV_PNG_FUNCTIONS(X)                                                                              \
    X(png_create_read_struct) X(png_create_write_struct) X(png_create_info_struct)                       \
    X(png_destroy_read_struct) X(png_destroy_write_struct) X(png_set_longjmp_fn) X(png_longjmp)         \
    X(png_set_read_fn) X(png_set_write_fn) X(png_get_io_ptr) X(png_error) X(png_set_user_limits)        \
    X(png_set_chunk_malloc_max) X(png_read_info) X(png_get_IHDR) X(png_get_valid)                       \
    X(png_set_palette_to_rgb) X(png_set_expand_gray_1_2_4_to_8) X(png_set_tRNS_to_alpha)                \
    X(png_set_strip_16) X(png_set_gray_to_rgb) X(png_set_bgr) X(png_set_filler)                         \
    X(png_set_interlace_handling) X(png_read_update_info) X(png_get_rowbytes) X(png_read_image)         \
    X(png_set_IHDR) X(png_write_info) X(png_write_image) X(png_write_end) X(png_set_keep_unknown_chunks)

// The library's functions, or null when it cannot be opened or lacks one of them (asked once).
KOV_LAZY_LIBRARY("libpng16.so.16", KOV_PNG_FUNCTIONS)

// Errors jump back without printing; warnings are dropped.
void on_error(png_structp png, png_const_charp) { library()->png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

struct Source {
    const uint8_t* data;
    std::size_t size;
    std::size_t at;
};

void read_bytes(png_structp png, png_bytep out, std::size_t n) {
    auto* s = static_cast<Source*>(library()->png_get_io_ptr(png));
    if (n > s->size - s->at) library()->png_error(png, "truncated");
    std::memcpy(out, s->data + s->at, n);
    s->at += n;
}

struct Sink {
    uint8_t* bytes;
    std::size_t size, capacity;
};

void write_bytes(png_structp png, png_bytep data, std::size_t n) {
    auto* s = static_cast<Sink*>(library()->png_get_io_ptr(png));
    if (n > s->capacity - s->size) {
        std::size_t want = s->capacity * 2 > s->size + n ? s->capacity * 2 : s->size + n;
        auto* grown = static_cast<uint8_t*>(std::realloc(s->bytes, want));
        if (!grown) library()->png_error(png, "out of memory");
        s->bytes = grown;
        s->capacity = want;
    }
    std::memcpy(s->bytes + s->size, data, n);
    s->size += n;
}

void flush_bytes(png_structp) {}

// Deflate expands at most about 1032 times; with 1-bit pixels a byte holds 8 of them.
constexpr uint64_t max_pixels_per_byte = 1100 * 8;

}  // namespace

ImageStatus decode_png(const uint8_t* data, std::size_t size, uint64_t max_bytes, DecodedImage& out) {
    const Library* lib = library();
    if (!lib) return ImageStatus::no_library;
    png_structp png = lib->png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return ImageStatus::bad_data;
    png_infop info = lib->png_create_info_struct(png);
    if (!info) {
        lib->png_destroy_read_struct(&png, nullptr, nullptr);
        return ImageStatus::bad_data;
    }
    Source source{data, size, 0};
    uint8_t* volatile pixels = nullptr;
    png_bytep* volatile rows = nullptr;
    if (setjmp(*lib->png_set_longjmp_fn(png, std::longjmp, sizeof(std::jmp_buf)))) {
        std::free(pixels);
        std::free(rows);
        lib->png_destroy_read_struct(&png, &info, nullptr);
        return ImageStatus::bad_data;
    }
    lib->png_set_read_fn(png, &source, read_bytes);
    lib->png_set_user_limits(png, 65535, 65535);
    lib->png_set_chunk_malloc_max(png, 64u << 20);
    // Every chunk but the image's own (header, palette, transparency, data, end) is skipped as
    // it is read, in small pieces: the library's handlers of the others (text, profiles) took
    // a buffer of the size the chunk claims, zeroed, before its data was read, past the chunk
    // limit too (a 254-byte file claiming a 1.2 GB text chunk took as much memory and three
    // seconds). The pixels never depended on those chunks: no gamma or background is applied.
    lib->png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    lib->png_read_info(png, info);
    png_uint_32 width, height;
    int depth, colour, interlace;
    lib->png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    uint64_t count = uint64_t(width) * height;
    if (count * 4 > max_bytes || count > uint64_t(size) * max_pixels_per_byte) lib->png_error(png, "too large");
    if (colour == PNG_COLOR_TYPE_PALETTE) lib->png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) lib->png_set_expand_gray_1_2_4_to_8(png);
    if (lib->png_get_valid(png, info, PNG_INFO_tRNS)) lib->png_set_tRNS_to_alpha(png);
    if (depth == 16) lib->png_set_strip_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) lib->png_set_gray_to_rgb(png);
    lib->png_set_bgr(png);
    lib->png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    lib->png_set_interlace_handling(png);
    lib->png_read_update_info(png, info);
    if (lib->png_get_rowbytes(png, info) != std::size_t(width) * 4) lib->png_error(png, "unexpected layout");
    pixels = static_cast<uint8_t*>(std::malloc(count * 4));
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
    if (!pixels || !rows) lib->png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels + std::size_t(y) * width * 4;
    lib->png_read_image(png, rows);
    // What follows the pixels (text chunks, the end marker) is not needed.
    std::free(rows);
    lib->png_destroy_read_struct(&png, &info, nullptr);
    out.width = width;
    out.height = height;
    out.pixels = pixels;
    return ImageStatus::ok;
}

ImageStatus encode_png(const uint8_t* pixels, uint32_t width, uint32_t height, EncodedImage& out) {
    const Library* lib = library();
    if (!lib) return ImageStatus::no_library;
    png_structp png = lib->png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return ImageStatus::bad_data;
    png_infop info = lib->png_create_info_struct(png);
    if (!info) {
        lib->png_destroy_write_struct(&png, nullptr);
        return ImageStatus::bad_data;
    }
    // The sink lives on the heap: the writer changes it between the setjmp and a jump.
    auto* sink = static_cast<Sink*>(std::calloc(1, sizeof(Sink)));
    if (!sink) {
        lib->png_destroy_write_struct(&png, &info);
        return ImageStatus::bad_data;
    }
    png_bytep* volatile rows = nullptr;
    if (setjmp(*lib->png_set_longjmp_fn(png, std::longjmp, sizeof(std::jmp_buf)))) {
        std::free(rows);
        std::free(sink->bytes);
        std::free(sink);
        lib->png_destroy_write_struct(&png, &info);
        return ImageStatus::bad_data;
    }
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
    if (!rows) lib->png_error(png, "out of memory");
    for (uint32_t y = 0; y < height; ++y) rows[y] = const_cast<uint8_t*>(pixels) + std::size_t(y) * width * 4;
    lib->png_set_write_fn(png, sink, write_bytes, flush_bytes);
    lib->png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                      PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    lib->png_write_info(png, info);
    lib->png_set_bgr(png);
    lib->png_write_image(png, rows);
    lib->png_write_end(png, nullptr);
    std::free(rows);
    lib->png_destroy_write_struct(&png, &info);
    out.bytes = sink->bytes;
    out.size = sink->size;
    std::free(sink);
    return ImageStatus::ok;
}

}  // namespace kov::os
