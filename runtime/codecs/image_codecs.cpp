#include "runtime/codecs/image_codecs.h"

#include <cstring>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/datatypes/binary.h"
#include "runtime/series_buffer.h"

namespace kov::image_codecs {

namespace {

[[noreturn]] void bad_media() { error::fire(err::access_bad_media); }
bool access_error(const Error& e) { return e.code() / 100 == err::code(err::access_cannot_open) / 100; }

bool starts(const uint8_t* b, std::size_t n, const char* sig, std::size_t len) {
    return n >= len && std::memcmp(b, sig, len) == 0;
}

// The decoded pixels made into a new image on the stack; the library's buffer is freed on
// every path.
Cell* adopt(os::DecodedImage& d) {
    struct Release {
        uint8_t* p;
        ~Release() { os::free_image_bytes(p); }
    } release{d.pixels};
    Cell* r = image::push(d.width, d.height, 0);
    if (image::has_pixels(*r)) std::memcpy(image::pixels(*r), d.pixels, uint64_t(d.width) * d.height * 4);
    return r;
}

// The bytes of a binary from its position; valid until the next allocation.
const uint8_t* bytes_of(const Cell& bin, std::size_t& n) {
    memory::Buffer* b = memory::buffer(series::node_of(bin));
    int64_t i = series::index_of(bin);
    int64_t used = b->used();
    if (i < 0) i = 0;
    if (i > used) i = used;
    n = std::size_t(used - i);
    return b->head_ptr() + i;
}

}  // namespace

Cell* load_binary(const uint8_t* bytes, std::size_t size) {
    os::DecodedImage d;
    os::ImageStatus status;
    if (starts(bytes, size, "\x89PNG", 4)) status = os::decode_png(bytes, size, memory::max_buffer_size, d);
    else if (starts(bytes, size, "BM", 2)) status = decode_bmp(bytes, size, memory::max_buffer_size, d);
    else if (starts(bytes, size, "\xFF\xD8\xFF", 3)) status = os::decode_jpeg(bytes, size, memory::max_buffer_size, d);
    else if (starts(bytes, size, "GIF87a", 6) || starts(bytes, size, "GIF89a", 6))
        status = os::decode_gif(bytes, size, memory::max_buffer_size, d);
    else if (starts(bytes, size, "II\x2A\x00", 4) || starts(bytes, size, "MM\x00\x2A", 4))
        status = os::decode_tiff(bytes, size, memory::max_buffer_size, d);
    else return none::push();
    if (status != os::ImageStatus::ok) bad_media();
    return adopt(d);
}

Cell* decode(const Cell& data) {
    if (cell::is(data, T_binary)) {
        // The bytes are copied out: decoding allocates the image, which may move the binary.
        std::size_t n;
        const uint8_t* at = bytes_of(data, n);
        std::string copy(reinterpret_cast<const char*>(at), n);
        return load_binary(reinterpret_cast<const uint8_t*>(copy.data()), copy.size());
    }
    if (!cell::is(data, T_file)) error::fire(err::script_invalid_arg, data);
    Cell file = data;
    collector::Root keep(file);
    Cell result = none::value;
    collector::Root keep_result(result);
    try {
        stack::Mark mark;
        ReadArgs read_args{};
        read_args.binary = true;
        Cell* source = stack::push(file);
        Cell bytes = *io::read(source, read_args);
        collector::Root keep_bytes(bytes);
        std::size_t n;
        const uint8_t* at = bytes_of(bytes, n);
        std::string copy(reinterpret_cast<const char*>(at), n);
        result = *load_binary(reinterpret_cast<const uint8_t*>(copy.data()), copy.size());
    } catch (const Error& e) {
        // The file's own failures (missing, unreadable, not an image) are told by its name;
        // anything else (no memory, an interrupt) goes on as it is.
        if (!access_error(e)) throw;
        error::fire(err::access_cannot_open, file);
    }
    if (cell::is(result, T_none)) error::fire(err::access_cannot_open, file);
    return stack::push(result);
}

Cell* encode(const Cell& img, uint32_t format) {
    if (!image::has_pixels(img)) bad_media();
    os::EncodedImage e;
    os::ImageStatus status;
    uint32_t w = image::width(img), h = image::height(img);
    switch (format) {
    case png: status = os::encode_png(image::pixels(img), w, h, e); break;
    case bmp: status = encode_bmp(image::pixels(img), w, h, e); break;
    case jpeg: status = os::encode_jpeg(image::pixels(img), w, h, e); break;
    case gif: status = os::encode_gif(image::pixels(img), w, h, e); break;
    case tiff: status = os::encode_tiff(image::pixels(img), w, h, e); break;
    default: error::fire(err::internal_not_done);
    }
    if (status != os::ImageStatus::ok) bad_media();
    struct Release {
        uint8_t* p;
        ~Release() { os::free_image_bytes(p); }
    } release{e.bytes};
    return binary::load(e.bytes, e.size);
}

namespace {

template <uint32_t Format>
void encode_routine(routines::Args& args, const Cell&) {
    if (!cell::is(*args.cell(0), T_image)) error::fire(err::script_invalid_arg, *args.cell(0));
    stack::Mark mark;
    *args.cell(0) = *encode(*args.cell(0), Format);
}

constexpr routines::Entry bmp_encode = encode_routine<bmp>;
constexpr routines::Entry png_encode = encode_routine<png>;
constexpr routines::Entry gif_encode = encode_routine<gif>;
constexpr routines::Entry jpeg_encode = encode_routine<jpeg>;
constexpr routines::Entry tiff_encode = encode_routine<tiff>;

void image_decode(routines::Args& args, const Cell&) {
    stack::Mark mark;
    *args.cell(0) = *decode(*args.cell(0));
}

}  // namespace

void register_routines() {
#define ROUTINES_image(index, entry) routines::register_entry(index, entry);
#include "runtime/interpreter/routines_register.h"
}

}  // namespace kov::image_codecs
