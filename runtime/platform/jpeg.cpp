// JPEG through libjpeg-turbo, opened on first use (see images.h). The library reports errors
// through `error_exit`, which jumps back to the setjmp of the calling function: the whole
// state the library changes lives in one malloc'ed block, so nothing on the stack is read
// after a jump, and no C++ object is alive across it.
#include "runtime/platform/images.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "runtime/platform/shared_library.h"

namespace kov::os {

namespace {

#define KOV_JPEG_FUNCTIONS(X)                                                                             \
    X(jpeg_std_error) X(jpeg_CreateDecompress) X(jpeg_CreateCompress) X(jpeg_destroy_decompress)         \
    X(jpeg_destroy_compress) X(jpeg_mem_src) X(jpeg_mem_dest) X(jpeg_read_header)                       \
    X(jpeg_start_decompress) X(jpeg_read_scanlines) X(jpeg_set_defaults) X(jpeg_set_quality)            \
    X(jpeg_start_compress) X(jpeg_write_scanlines) X(jpeg_finish_compress)

// The library's functions, or null when it cannot be opened or lacks one of them (asked once).
KOV_LAZY_LIBRARY("libjpeg.so.62", KOV_JPEG_FUNCTIONS)

struct Errors {
    jpeg_error_mgr manager;  // first: the library's pointer to it is a pointer to this
    std::jmp_buf jump;
};

void on_error(j_common_ptr c) { std::longjmp(reinterpret_cast<Errors*>(c->err)->jump, 1); }
void on_message(j_common_ptr, int) {}
void on_output(j_common_ptr) {}

void quiet(Errors& e, const Library& lib) {
    lib.jpeg_std_error(&e.manager);
    e.manager.error_exit = on_error;
    e.manager.emit_message = on_message;
    e.manager.output_message = on_output;
}

struct Reading {
    jpeg_decompress_struct info;
    Errors errors;
    uint8_t* pixels;
};

struct Writing {
    jpeg_compress_struct info;
    Errors errors;
    unsigned char* bytes;
    unsigned long size;
};

// Quality of the encoder: high enough that a picture keeps its colours within a few levels.
constexpr int quality = 95;
constexpr uint64_t max_pixels_per_byte = 1100 * 8;

}  // namespace

ImageStatus decode_jpeg(const uint8_t* data, std::size_t size, uint64_t max_bytes, DecodedImage& out) {
    const Library* lib = library();
    if (!lib) return ImageStatus::no_library;
    auto* r = static_cast<Reading*>(std::calloc(1, sizeof(Reading)));
    if (!r) return ImageStatus::bad_data;
    quiet(r->errors, *lib);
    r->info.err = &r->errors.manager;
    if (setjmp(r->errors.jump)) {
        std::free(r->pixels);
        lib->jpeg_destroy_decompress(&r->info);
        std::free(r);
        return ImageStatus::bad_data;
    }
    lib->jpeg_CreateDecompress(&r->info, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct));
    lib->jpeg_mem_src(&r->info, data, static_cast<unsigned long>(size));
    lib->jpeg_read_header(&r->info, TRUE);
    uint64_t w = r->info.image_width, h = r->info.image_height;
    if (w < 1 || h < 1 || w > 65535 || h > 65535 || w * h * 4 > max_bytes || w * h > uint64_t(size) * max_pixels_per_byte)
        std::longjmp(r->errors.jump, 1);
    r->info.out_color_space = JCS_EXT_BGRA;
    lib->jpeg_start_decompress(&r->info);
    if (r->info.output_width != w || r->info.output_height != h || r->info.output_components != 4)
        std::longjmp(r->errors.jump, 1);
    r->pixels = static_cast<uint8_t*>(std::malloc(w * h * 4));
    if (!r->pixels) std::longjmp(r->errors.jump, 1);
    while (r->info.output_scanline < h) {
        JSAMPROW row = r->pixels + uint64_t(r->info.output_scanline) * w * 4;
        if (lib->jpeg_read_scanlines(&r->info, &row, 1) != 1) std::longjmp(r->errors.jump, 1);
    }
    // What follows the last scan line is not needed: the state is dropped without finishing.
    lib->jpeg_destroy_decompress(&r->info);
    out.width = uint32_t(w);
    out.height = uint32_t(h);
    out.pixels = r->pixels;
    std::free(r);
    return ImageStatus::ok;
}

ImageStatus encode_jpeg(const uint8_t* pixels, uint32_t width, uint32_t height, EncodedImage& out) {
    const Library* lib = library();
    if (!lib) return ImageStatus::no_library;
    auto* w = static_cast<Writing*>(std::calloc(1, sizeof(Writing)));
    if (!w) return ImageStatus::bad_data;
    quiet(w->errors, *lib);
    w->info.err = &w->errors.manager;
    if (setjmp(w->errors.jump)) {
        lib->jpeg_destroy_compress(&w->info);
        std::free(w->bytes);
        std::free(w);
        return ImageStatus::bad_data;
    }
    lib->jpeg_CreateCompress(&w->info, JPEG_LIB_VERSION, sizeof(jpeg_compress_struct));
    lib->jpeg_mem_dest(&w->info, &w->bytes, &w->size);
    w->info.image_width = width;
    w->info.image_height = height;
    w->info.input_components = 4;
    w->info.in_color_space = JCS_EXT_BGRA;
    lib->jpeg_set_defaults(&w->info);
    lib->jpeg_set_quality(&w->info, quality, TRUE);
    // Colour at full resolution: halving it would smear every sharp colour edge.
    for (int i = 0; i < w->info.num_components; ++i) w->info.comp_info[i].h_samp_factor = w->info.comp_info[i].v_samp_factor = 1;
    lib->jpeg_start_compress(&w->info, TRUE);
    while (w->info.next_scanline < height) {
        JSAMPROW row = const_cast<uint8_t*>(pixels) + uint64_t(w->info.next_scanline) * width * 4;
        lib->jpeg_write_scanlines(&w->info, &row, 1);
    }
    lib->jpeg_finish_compress(&w->info);
    lib->jpeg_destroy_compress(&w->info);
    out.bytes = w->bytes;
    out.size = w->size;
    std::free(w);
    return ImageStatus::ok;
}

}  // namespace kov::os
