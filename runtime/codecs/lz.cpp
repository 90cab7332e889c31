// The LZ codec (see lz.h for the stream layout and its guarantees).
//
// The compressor keeps two hash heads per position (a 3-byte hash for short matches, a
// 4-byte hash with a chain for longer ones), all positions relative to the current block.
// Its tables are allocated per call on the tracked heap and freed on every path out.
#include "runtime/codecs/lz.h"

#include <algorithm>
#include <cstring>

#include "runtime/heap.h"
#include "runtime/memory.h"

namespace kov::lz {

namespace {

constexpr uint32_t min_match = 3;
constexpr uint32_t max_match = 566;
constexpr uint32_t max_distance = 262144;   // also the chain table's length
constexpr uint32_t hash3_heads = 1u << 19;
constexpr uint32_t hash4_heads = 1u << 20;
constexpr uint32_t chain_walk = 256;        // candidates tried at most per position
constexpr uint32_t short_match_reach = 65536;  // farther 3-byte matches cost more than literals
constexpr int32_t empty = -1;

// The most output one stream byte can stand for: the cheapest longest match is 22 bits
// (flag, 14-bit length code, 7-bit distance code) for 566 bytes, 8 × 566 / 22 < 206.
constexpr uint64_t max_expansion = 206;

uint32_t load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t hash3(uint32_t h, uint8_t byte) { return ((h << 7) + byte) & 0x7FFFF; }
uint32_t hash4(uint32_t h, uint8_t byte) { return ((h << 5) + byte) & 0xFFFFF; }

// How many times a must be shifted right by 3 before it is no longer greater than b: the
// extra length a farther match must bring to beat a nearer one.
uint32_t distance_penalty(uint32_t a, uint32_t b) {
    uint32_t n = 0;
    for (; a > b; a >>= 3) ++n;
    return n;
}

// The compressor's output: bytes go to a fixed area; running out of room sets `overflow`
// and stops further writes, which means the data does not shrink.
struct Output {
    uint8_t* data;
    uint64_t used;
    uint64_t capacity;
    bool overflow;
    uint64_t bits;   // pending bits, oldest in bit 0
    uint32_t count;  // number of pending bits (below 8 between calls)

    uint8_t* reserve(uint64_t n) {
        if (overflow || n > capacity - used) {
            overflow = true;
            return nullptr;
        }
        uint8_t* p = data + used;
        used += n;
        return p;
    }

    void put_bits(uint32_t n, uint32_t value) {
        bits |= uint64_t(value & ((1u << n) - 1)) << count;
        count += n;
        while (count >= 8) {
            if (uint8_t* p = reserve(1)) *p = uint8_t(bits);
            bits >>= 8;
            count -= 8;
        }
    }
};

void put_length(Output& out, uint32_t length) {
    uint32_t l = length - min_match;
    if (l < 4) {
        out.put_bits(1, 1);
        out.put_bits(2, l);
    } else if (l < 8) {
        out.put_bits(2, 2);
        out.put_bits(2, l - 4);
    } else if (l < 12) {
        out.put_bits(3, 4);
        out.put_bits(2, l - 8);
    } else if (l < 20) {
        out.put_bits(4, 8);
        out.put_bits(3, l - 12);
    } else if (l < 52) {
        out.put_bits(5, 16);
        out.put_bits(5, l - 20);
    } else {
        out.put_bits(5, 0);
        out.put_bits(9, l - 52);
    }
}

void put_distance(Output& out, uint32_t distance) {
    uint32_t d = distance - 1;
    uint32_t s = 2;
    while ((2u << s) <= d) ++s;  // the smallest s with 2^(s+1) > d
    out.put_bits(4, s - 2);
    if (s == 2) out.put_bits(3, d);
    else out.put_bits(s, d - (1u << s));
}

// Tracked-heap blocks released on every path out.
struct HeapBlock {
    void* p;
    explicit HeapBlock(std::size_t size) : p(heap::allocate(size)) {}
    ~HeapBlock() { heap::free(p); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
};

struct Compressor {
    int32_t* head3;   // hash3_heads entries, then the hash4_heads heads of head4
    int32_t* head4;
    int32_t* chain;   // indexed by position modulo max_distance
    uint8_t* window;  // the block, then max_match zero bytes for the hashes' read-ahead

    uint32_t match_length(uint32_t candidate, uint32_t p, uint32_t limit) const {
        uint32_t n = 0;
        while (n < limit && window[candidate + n] == window[p + n]) ++n;
        return n;
    }

    void block(Output& out, uint32_t n) {
        std::fill(head3, head3 + hash3_heads + hash4_heads, empty);
        std::memset(window + n, 0, max_match);
        uint32_t h3 = 0, h4 = 0;
        for (int i = 0; i < 3; ++i) h3 = hash3(h3, window[i]);
        for (int i = 0; i < 4; ++i) h4 = hash4(h4, window[i]);
        out.bits = 0;
        out.count = 0;

        for (uint32_t p = 0; p < n && !out.overflow;) {
            uint32_t limit = std::min(max_match, n - p);
            int64_t window_start = int64_t(p) - max_distance;
            uint32_t best = 2, best_distance = max_distance;

            int32_t c = head3[h3];
            if (c != empty && c >= window_start && window[c] == window[p]) {
                uint32_t m = match_length(uint32_t(c), p, limit);
                if (m > 2) {
                    best = m;
                    best_distance = p - uint32_t(c);
                }
            }
            if (best < limit) {
                c = head4[h4];
                for (uint32_t tries = 0; c != empty && c >= window_start && tries < chain_walk; ++tries) {
                    auto cu = uint32_t(c);
                    if (window[cu + best] == window[p + best] && window[cu] == window[p]) {
                        uint32_t m = match_length(cu, p, limit);
                        if (m > best + distance_penalty((p - cu) >> 4, best_distance)) {
                            best = m;
                            best_distance = p - cu;
                            if (best >= limit) break;
                        }
                    }
                    c = chain[cu % max_distance];
                }
            }
            if (best == min_match && best_distance > short_match_reach) best = 2;

            uint32_t advance;
            if (best < min_match) {
                out.put_bits(1, 0);
                out.put_bits(8, window[p]);
                advance = 1;
            } else {
                out.put_bits(1, 1);
                put_length(out, best);
                put_distance(out, best_distance);
                advance = best;
            }
            for (uint32_t q = p; q < p + advance; ++q) {
                head3[h3] = int32_t(q);
                chain[q % max_distance] = head4[h4];
                head4[h4] = int32_t(q);
                h3 = hash3(h3, window[q + 3]);
                h4 = hash4(h4, window[q + 4]);
            }
            p += advance;
        }
        out.put_bits(7, 0);  // pushes out the last partial byte; the padding left is dropped
    }
};

// Reads a block's bit stream; reading past the end gives 0 bits and clears `ok`.
struct BitReader {
    const uint8_t* data;
    uint64_t pos;
    uint64_t end;
    uint64_t bits = 0;
    uint32_t count = 0;
    bool ok = true;

    uint32_t get_bits(uint32_t n) {
        while (count < n) {
            if (pos >= end) {
                ok = false;
                return 0;
            }
            bits |= uint64_t(data[pos++]) << count;
            count += 8;
        }
        auto v = uint32_t(bits & ((1u << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }

    uint32_t get_length() {
        uint32_t zeros = 0;
        while (zeros < 5 && get_bits(1) == 0) ++zeros;
        switch (zeros) {
        case 0: return min_match + get_bits(2);
        case 1: return min_match + 4 + get_bits(2);
        case 2: return min_match + 8 + get_bits(2);
        case 3: return min_match + 12 + get_bits(3);
        case 4: return min_match + 20 + get_bits(5);
        default: return min_match + 52 + get_bits(9);
        }
    }

    uint32_t get_distance() {
        uint32_t r = get_bits(4);
        if (r == 0) return 1 + get_bits(3);
        uint32_t s = r + 2;
        return 1 + (1u << s) + get_bits(s);
    }
};

}  // namespace

int64_t compress(const uint8_t* in, uint64_t size, uint8_t* out) {
    if (size < min_input || size > UINT32_MAX) return -1;

    HeapBlock heads(sizeof(int32_t) * (hash3_heads + hash4_heads));
    HeapBlock chain(sizeof(int32_t) * max_distance);
    HeapBlock window(block_size + max_match);
    Compressor z;
    z.head3 = static_cast<int32_t*>(heads.p);
    z.head4 = z.head3 + hash3_heads;
    z.chain = static_cast<int32_t*>(chain.p);
    z.window = static_cast<uint8_t*>(window.p);

    Output o{out + header_size, 0, size - header_size, false, 0, 0};
    for (uint64_t start = 0; start < size && !o.overflow;) {
        auto n = uint32_t(std::min<uint64_t>(block_size, size - start));
        std::memcpy(z.window, in + start, n);
        uint8_t* length_field = o.reserve(4);
        if (!length_field) break;
        store32(length_field, n);
        z.block(o, n);
        start += n;
    }
    if (o.overflow) return -1;
    store32(out, uint32_t(o.used));
    store32(out + 4, uint32_t(size));
    return int64_t(o.used + header_size);
}

int64_t decompressed_size(const uint8_t* stream, uint64_t length) {
    if (length < header_size) return -1;
    uint64_t block_bytes = load32(stream);
    uint64_t size = load32(stream + 4);
    if (block_bytes > length - header_size) return -1;
    if (size > memory::max_buffer_size || size > block_bytes * max_expansion) return -1;
    return int64_t(size);
}

int64_t decompress_into(const uint8_t* stream, uint64_t length, uint8_t* out, uint64_t capacity) {
    int64_t declared = decompressed_size(stream, length);
    if (declared < 0 || uint64_t(declared) > capacity) return -1;
    auto size = uint64_t(declared);
    uint64_t end = header_size + uint64_t(load32(stream));
    uint64_t pos = header_size;
    uint64_t produced = 0;

    while (pos < end) {
        if (end - pos < 4) return -1;
        uint32_t n = load32(stream + pos);
        pos += 4;
        if (n < 1 || n > block_size || n > size - produced) return -1;
        uint64_t block_start = produced, block_end = produced + n;
        BitReader r{stream, pos, end};
        while (produced < block_end) {
            if (r.get_bits(1) == 0) {
                uint32_t byte = r.get_bits(8);
                if (!r.ok) return -1;
                out[produced++] = uint8_t(byte);
                continue;
            }
            uint32_t len = r.get_length();
            uint32_t distance = r.get_distance();
            if (!r.ok || distance > produced - block_start || len > block_end - produced) return -1;
            for (uint64_t from = produced - distance, stop = produced + len; produced < stop;)
                out[produced++] = out[from++];
        }
        pos = r.pos;  // the bits left in the last byte are its padding
    }
    if (produced != size) return -1;
    return declared;
}

uint8_t* decompress(const uint8_t* stream, uint64_t length, uint64_t* size_out) {
    int64_t size = decompressed_size(stream, length);
    if (size < 0) return nullptr;
    auto out = static_cast<uint8_t*>(heap::allocate(std::size_t(size)));
    if (decompress_into(stream, length, out, uint64_t(size)) < 0) {
        heap::free(out);
        return nullptr;
    }
    if (size_out) *size_out = uint64_t(size);
    return out;
}

}  // namespace kov::lz
