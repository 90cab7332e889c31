#include "runtime/codecs/compress.h"

#include <cstring>
#include <memory>
#include <new>

#include "runtime/interpreter/checksum.h"
#include "runtime/memory.h"
#include "runtime/platform/compression.h"

namespace kov::compress {

namespace {

constexpr uint8_t gzip_magic[3] = {0x1F, 0x8B, 0x08};

// A private copy of a decoder's input; null when the memory cannot be had.
std::unique_ptr<uint8_t[]> private_copy(const uint8_t* in, uint32_t length) {
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[length ? length : 1]);
    if (copy && length) std::memcpy(copy.get(), in, length);
    return copy;
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }
uint32_t le16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
void put_be32(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v); }
void put_le32(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24); }

uint8_t zlib_flags(int level) {
    if (level >= 7) return 0xDA;
    if (level == 6) return 0x9C;
    if (level >= 2) return 0x5E;
    return 0x01;
}

uint8_t gzip_extra_flags(int level) {
    if (level <= 1) return 4;
    return level == 9 ? 2 : 0;
}

int inflate_bounded(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, uint64_t limit) {
    return os::inflate_raw(out, capacity, in, length, limit);
}

}  // namespace

Method method_of(const uint8_t* spelling, uint32_t length) {
    static const char* const names[] = {"zlib", "deflate", "gzip", "zstd"};
    for (int m = 0; m < 4; ++m) {
        const char* name = names[m];
        if (std::strlen(name) != length) continue;
        uint32_t i = 0;
        while (i < length && (spelling[i] | 0x20) == uint8_t(name[i])) ++i;
        if (i == length) return static_cast<Method>(m);
    }
    return m_none;
}

uint64_t max_output(Method method, uint64_t length) {
    // Deflate expands at most 1032 to 1 (a 258-byte match in two bits); a Zstandard block of
    // 128 KiB repeating one byte takes four bytes. The slack covers headers and short inputs.
    uint64_t ratio = method == m_zstd ? 32768 : 1032;
    uint64_t most = length * ratio + 0x10000;
    return most < memory::max_buffer_size ? most : memory::max_buffer_size;
}

// ---- zlib container -------------------------------------------------------------------------

namespace {
// Deflates the data after a header of `head` bytes already in out, leaving `tail` bytes for a
// trailer: the deflater's result, or codec_short when the whole does not fit; capacity becomes
// the whole length (what would be needed) and room the deflated length.
int deflate_framed(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level,
                   uint32_t head, uint32_t tail, uint32_t& room) {
    room = capacity - head;
    int r = os::deflate_raw(out + head, room, in, length, level);
    uint64_t total = uint64_t(room) + head + tail;
    if (total > 0xFFFFFFFFu) return os::codec_bad;
    bool fits = total <= capacity;
    capacity = static_cast<uint32_t>(total);
    if (r != os::codec_done) return r;
    return fits ? os::codec_done : os::codec_short;
}
}  // namespace

int zlib_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level) {
    if (capacity < 6) {
        capacity = length + 6;
        return os::codec_bad;
    }
    out[0] = 0x78;
    out[1] = zlib_flags(level);
    uint32_t room;
    int r = deflate_framed(out, capacity, in, length, level, 2, 4, room);
    if (r != os::codec_done) return r;
    put_be32(out + 2 + room, checksum::adler32(in, length));
    return os::codec_done;
}

int zlib_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in_given, uint32_t length) {
    if (length < 6) return os::codec_bad;
    auto copy = private_copy(in_given, length);
    if (!copy) return os::codec_bad;
    const uint8_t* in = copy.get();
    uint8_t cmf = in[0], flg = in[1];
    if ((cmf * 256u + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return os::codec_bad;
    int r = inflate_bounded(out, capacity, in + 2, length - 6, max_output(m_zlib, length));
    if (r != os::codec_done) return r;
    return checksum::adler32(out, capacity) == be32(in + length - 4) ? os::codec_done : os::codec_bad;
}

// ---- gzip container -------------------------------------------------------------------------

int gzip_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level) {
    // Data that already is a gzip member goes out as it is.
    if (length > 2 && std::memcmp(in, gzip_magic, 3) == 0) {
        if (capacity < length) {
            capacity = length;
            return os::codec_short;
        }
        std::memmove(out, in, length);
        capacity = length;
        return os::codec_done;
    }
    if (capacity < 18) {
        capacity = length + 18;
        return os::codec_bad;
    }
    const uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, gzip_extra_flags(level), 4};
    std::memcpy(out, header, 10);
    uint32_t room;
    int r = deflate_framed(out, capacity, in, length, level, 10, 8, room);
    if (r != os::codec_done) return r;
    put_le32(out + 10 + room, checksum::crc32(in, length));
    put_le32(out + 14 + room, length);
    return os::codec_done;
}

int gzip_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in_given, uint32_t length) {
    if (length < 18) return os::codec_bad;
    auto copy = private_copy(in_given, length);
    if (!copy) return os::codec_bad;
    const uint8_t* in = copy.get();
    uint8_t flg = in[3];
    if (std::memcmp(in, gzip_magic, 3) != 0 || (flg & 0xE0)) return os::codec_bad;
    uint32_t pos = 10;
    uint32_t body_end = length - 8;
    if (flg & 0x04) {  // FEXTRA
        uint32_t xlen = le16(in + pos);
        if (xlen > length - 12) return os::codec_bad;
        pos += 2 + xlen;
    }
    for (uint8_t field : {uint8_t(0x08), uint8_t(0x10)}) {  // FNAME, FCOMMENT
        if (!(flg & field)) continue;
        while (pos < length && in[pos]) ++pos;
        if (pos >= length) return os::codec_bad;
        ++pos;
    }
    if (flg & 0x02) {  // FHCRC
        if (pos + 2 > length) return os::codec_bad;
        if ((checksum::crc32(in, pos) & 0xFFFF) != le16(in + pos)) return os::codec_bad;
        pos += 2;
    }
    if (pos > body_end) return os::codec_bad;
    uint32_t isize = le32(in + length - 4);
    // A size the body could never expand to is a lie, not a request for memory.
    if (isize > max_output(m_gzip, length)) return os::codec_bad;
    if (capacity < isize) {
        capacity = isize;
        return os::codec_short;
    }
    // The stream may give exactly ISIZE bytes: more is as bad as fewer.
    uint32_t produced = capacity;
    int r = inflate_bounded(out, produced, in + pos, body_end - pos, isize);
    if (r != os::codec_done || produced != isize) return os::codec_bad;
    if (checksum::crc32(out, isize) != le32(in + body_end)) return os::codec_bad;
    capacity = isize;
    return os::codec_done;
}

// ---- raw deflate and Zstandard ------------------------------------------------------------------

int deflate_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level) {
    return os::deflate_raw(out, capacity, in, length, level);
}

int deflate_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in_given, uint32_t length) {
    auto copy = private_copy(in_given, length);
    if (!copy) return os::codec_bad;
    return inflate_bounded(out, capacity, copy.get(), length, max_output(m_deflate, length));
}

int zstd_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level) {
    return os::zstd_compress(out, capacity, in, length, level);
}

int zstd_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in_given, uint32_t length) {
    auto copy = private_copy(in_given, length);
    if (!copy) return os::codec_bad;
    return os::zstd_decompress(out, capacity, copy.get(), length, max_output(m_zstd, length));
}

int encode(Method method, uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level) {
    switch (method) {
    case m_zlib: return zlib_compress(out, capacity, in, length, level);
    case m_deflate: return deflate_compress(out, capacity, in, length, level);
    case m_gzip: return gzip_compress(out, capacity, in, length, level);
    case m_zstd: return zstd_compress(out, capacity, in, length, level);
    default: return os::codec_bad;
    }
}

int decode(Method method, uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length) {
    switch (method) {
    case m_zlib: return zlib_decompress(out, capacity, in, length);
    case m_deflate: return deflate_decompress(out, capacity, in, length);
    case m_gzip: return gzip_decompress(out, capacity, in, length);
    case m_zstd: return zstd_decompress(out, capacity, in, length);
    default: return os::codec_bad;
    }
}

}  // namespace kov::compress
