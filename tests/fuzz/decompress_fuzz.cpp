// libFuzzer targets for the decompressors, one per method (zlib_fuzz, deflate_fuzz, gzip_fuzz,
// zstd_fuzz: KOV_FUZZ_METHOD names it). The decoder is called as `decompress` calls it: first
// asked for the size, then into an output of exactly that size, and once more if it asks for
// more. It must refuse, or give a size within the method's bound, without touching memory
// outside what it is given. Inputs whose first byte is 'Z' also make a round trip through the
// method's compressor, which must give them back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/codecs/compress.h"

namespace {

using namespace kov;

int decode_sized(compress::Method m, const uint8_t* in, uint32_t length, std::unique_ptr<uint8_t[]>& out,
                 uint32_t& size) {
    size = 0;
    int r = compress::decode(m, nullptr, size, in, length);
    if (r == 0) {
        if (size != 0) std::abort();  // only empty output fits no room
        return r;
    }
    if (r != 1) return r;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (size > compress::max_output(m, length)) std::abort();
        // Exactly the room asked for, so a write past it is caught.
        out.reset(new uint8_t[size ? size : 1]);
        uint32_t room = size;
        r = compress::decode(m, out.get(), room, in, length);
        if (r == 0 && room > size) std::abort();
        if (r != 1) {
            size = room;
            return r;
        }
        size = room;
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x100000) return 0;
    constexpr auto m = static_cast<compress::Method>(KOV_FUZZ_METHOD);
    uint32_t length = static_cast<uint32_t>(size);
    // A private copy of exactly the input's size, so a read past it is caught.
    std::unique_ptr<uint8_t[]> in(new uint8_t[length ? length : 1]);
    if (length) std::memcpy(in.get(), data, length);

    std::unique_ptr<uint8_t[]> out;
    uint32_t produced = 0;
    decode_sized(m, in.get(), length, out, produced);

    if (length >= 1 && data[0] == 'Z') {
        uint32_t room = length + length / 2048 + 32;
        std::unique_ptr<uint8_t[]> packed(new uint8_t[room]);
        int r = compress::encode(m, packed.get(), room, in.get(), length, -1);
        if (r == 1) {
            packed.reset(new uint8_t[room]);
            r = compress::encode(m, packed.get(), room, in.get(), length, -1);
        }
        if (r != 0) std::abort();
        std::unique_ptr<uint8_t[]> back;
        uint32_t back_size = 0;
        // Data that already is a gzip member goes out unchanged and need not decode.
        bool passed_through = m == compress::m_gzip && length > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 8;
        if (!passed_through) {
            if (decode_sized(m, packed.get(), room, back, back_size) != 0) std::abort();
            if (back_size != length || (length && std::memcmp(back.get(), in.get(), length) != 0)) std::abort();
        }
    }
    return 0;
}
