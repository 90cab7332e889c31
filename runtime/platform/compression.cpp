// Raw deflate through zlib and Zstandard frames through libzstd, wrapped to the codec contract
// of compression.h.
//
// Both libraries are opened on first use, not linked: loading them would cost every start-up
// about 330,000 instructions of symbol relocation, which a program that never compresses
// should not pay. The functions are typed from the libraries' own headers. When a library
// cannot be opened, its routines answer bad data (2).
#include "runtime/platform/compression.h"
#include "runtime/platform/shared_library.h"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace kov::os {

namespace {

#define KOV_ZLIB_FUNCTIONS(X) \
    X(deflateInit2_) X(deflateBound) X(deflate) X(deflateEnd) X(inflateInit2_) X(inflate) X(inflateEnd)
#define KOV_ZSTD_FUNCTIONS(X)                                                                         \
    X(ZSTD_compressBound) X(ZSTD_isError) X(ZSTD_compress) X(ZSTD_getFrameContentSize)              \
    X(ZSTD_findFrameCompressedSize) X(ZSTD_decompress) X(ZSTD_createDCtx) X(ZSTD_freeDCtx)          \
    X(ZSTD_decompressStream)

namespace zlib_library {
KOV_LAZY_LIBRARY("libz.so.1", KOV_ZLIB_FUNCTIONS)
}
namespace zstd_library {
KOV_LAZY_LIBRARY("libzstd.so.1", KOV_ZSTD_FUNCTIONS)
}
using Zlib = zlib_library::Library;
using Zstd = zstd_library::Library;
// The libraries' functions, or null when one cannot be opened or lacks one (asked once).
const Zlib* zlib() { return zlib_library::library(); }
const Zstd* zstd() { return zstd_library::library(); }

constexpr std::size_t scratch_size = 64 * 1024;

// Compression writes straight into the output when it has room for the worst case; otherwise
// into a scratch buffer of that size, so that the size needed can be told.
template <class Encode>
int encode_via_scratch(uint8_t* out, uint32_t& capacity, std::size_t bound, Encode encode) {
    if (capacity >= bound) {
        std::size_t produced = 0;
        if (!encode(out, bound, produced)) return codec_bad;
        capacity = static_cast<uint32_t>(produced);
        return codec_done;
    }
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[bound ? bound : 1]);
    if (!scratch) return codec_bad;
    std::size_t produced = 0;
    if (!encode(scratch.get(), bound, produced)) return codec_bad;
    if (produced > 0xFFFFFFFFu) return codec_bad;
    bool fits = produced <= capacity;
    if (fits && produced) std::memcpy(out, scratch.get(), produced);
    capacity = static_cast<uint32_t>(produced);
    return fits ? codec_done : codec_short;
}

// The sum of the sizes the frames declare, ZSTD_CONTENTSIZE_UNKNOWN when one declares none,
// ZSTD_CONTENTSIZE_ERROR when the frames do not tile the input.
unsigned long long declared_size(const Zstd* zs, const uint8_t* in, std::size_t length) {
    unsigned long long total = 0;
    std::size_t pos = 0;
    while (pos < length) {
        unsigned long long size = zs->ZSTD_getFrameContentSize(in + pos, length - pos);
        if (size == ZSTD_CONTENTSIZE_ERROR) return size;
        std::size_t frame = zs->ZSTD_findFrameCompressedSize(in + pos, length - pos);
        if (zs->ZSTD_isError(frame) || frame == 0) return ZSTD_CONTENTSIZE_ERROR;
        if (size == ZSTD_CONTENTSIZE_UNKNOWN || total == ZSTD_CONTENTSIZE_UNKNOWN) total = ZSTD_CONTENTSIZE_UNKNOWN;
        else if (size > (1ull << 62) - total) return ZSTD_CONTENTSIZE_ERROR;
        else total += size;
        pos += frame;
    }
    return total;
}

}  // namespace

int deflate_raw(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level) {
    const Zlib* zl = zlib();
    if (!zl) return codec_bad;
    z_stream z{};
    if (zl->deflateInit2_(&z, level < 0 ? Z_DEFAULT_COMPRESSION : level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY,
                          ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) != Z_OK)
        return codec_bad;
    std::size_t bound = zl->deflateBound(&z, length);
    int result = encode_via_scratch(out, capacity, bound, [&](uint8_t* to, std::size_t room, std::size_t& produced) {
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = length;
        z.next_out = to;
        z.avail_out = static_cast<uInt>(room);
        bool ok = zl->deflate(&z, Z_FINISH) == Z_STREAM_END;
        produced = z.total_out;
        return ok;
    });
    zl->deflateEnd(&z);
    return result;
}

int inflate_raw(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, uint64_t limit) {
    const Zlib* zl = zlib();
    if (!zl) return codec_bad;
    z_stream z{};
    if (zl->inflateInit2_(&z, -15, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) != Z_OK) return codec_bad;
    // Output past the capacity goes to the scratch buffer, only to be counted.
    std::unique_ptr<uint8_t[]> scratch;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = length;
    uint64_t total = 0;
    int result = codec_bad;
    for (;;) {
        if (total < capacity) {
            z.next_out = out + total;
            z.avail_out = static_cast<uInt>(capacity - total);
        } else {
            if (!scratch) scratch.reset(new (std::nothrow) uint8_t[scratch_size]);
            if (!scratch) break;
            z.next_out = scratch.get();
            z.avail_out = scratch_size;
        }
        uInt room = z.avail_out;
        int r = zl->inflate(&z, Z_NO_FLUSH);
        total += room - z.avail_out;
        if (total > limit) break;
        if (r == Z_STREAM_END) {
            result = total > capacity ? codec_short : codec_done;
            capacity = static_cast<uint32_t>(total);
            break;
        }
        // With room to write, a stall means the input ended before the stream did.
        if (r != Z_OK || (room == z.avail_out && z.avail_in == 0)) break;
    }
    zl->inflateEnd(&z);
    return result;
}

int zstd_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level) {
    const Zstd* zs = zstd();
    if (!zs) return codec_bad;
    std::size_t bound = zs->ZSTD_compressBound(length);
    if (zs->ZSTD_isError(bound)) return codec_bad;
    return encode_via_scratch(out, capacity, bound, [&](uint8_t* to, std::size_t room, std::size_t& produced) {
        std::size_t n = zs->ZSTD_compress(to, room, in, length, level < 0 ? 0 : level);
        if (zs->ZSTD_isError(n)) return false;
        produced = n;
        return true;
    });
}

int zstd_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, uint64_t limit) {
    if (length == 0) return codec_bad;  // not even a frame header
    const Zstd* zs = zstd();
    if (!zs) return codec_bad;
    unsigned long long declared = declared_size(zs, in, length);
    if (declared == ZSTD_CONTENTSIZE_ERROR) return codec_bad;
    if (declared != ZSTD_CONTENTSIZE_UNKNOWN) {
        // Every frame declares its size: it is checked against the limit before anything is
        // decoded, and the library checks that each frame gives exactly what it declared.
        if (declared > limit) return codec_bad;
        if (declared > capacity) {
            capacity = static_cast<uint32_t>(declared);
            return codec_short;
        }
        std::size_t n = zs->ZSTD_decompress(out, capacity, in, length);
        if (zs->ZSTD_isError(n) || n != declared) return codec_bad;
        capacity = static_cast<uint32_t>(n);
        return codec_done;
    }
    // Frames without a declared size are decoded as a stream, counting what goes past the
    // capacity as inflate_raw does.
    ZSTD_DCtx* dctx = zs->ZSTD_createDCtx();
    if (!dctx) return codec_bad;
    std::unique_ptr<uint8_t[]> scratch;
    ZSTD_inBuffer input{in, length, 0};
    uint64_t total = 0;
    std::size_t pending = 1;  // non-zero while a frame is unfinished
    int result = codec_bad;
    for (;;) {
        ZSTD_outBuffer output;
        if (total < capacity) {
            output = {out + total, static_cast<std::size_t>(capacity - total), 0};
        } else {
            if (!scratch) scratch.reset(new (std::nothrow) uint8_t[scratch_size]);
            if (!scratch) break;
            output = {scratch.get(), scratch_size, 0};
        }
        std::size_t in_before = input.pos;
        pending = zs->ZSTD_decompressStream(dctx, &output, &input);
        if (zs->ZSTD_isError(pending)) break;
        total += output.pos;
        if (total > limit) break;
        if (input.pos == input.size && pending == 0) {
            result = total > capacity ? codec_short : codec_done;
            capacity = static_cast<uint32_t>(total);
            break;
        }
        // No progress with room left: the input ended inside a frame.
        if (output.pos == 0 && input.pos == in_before) break;
    }
    zs->ZSTD_freeDCtx(dctx);
    return result;
}

}  // namespace kov::os
