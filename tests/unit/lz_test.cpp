// The LZ codec: round trips, the exact bit layout of a small stream, and corrupt streams that
// must fail without reading or writing outside what they are given (run under asan).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/codecs/lz.h"
#include "runtime/heap.h"

using namespace kov;

namespace {

using Bytes = std::vector<uint8_t>;

// A writer for hand-made streams, kept apart from the codec's own: one bit at a time.
struct StreamWriter {
    Bytes out = Bytes(8, 0);
    uint32_t bit = 8;  // bits used in the last byte (8: start a new byte)

    void bits(uint32_t n, uint32_t v) {
        for (uint32_t i = 0; i < n; ++i) {
            if (bit == 8) {
                out.push_back(0);
                bit = 0;
            }
            out.back() = uint8_t(out.back() | ((v >> i) & 1) << bit++);
        }
    }
    void block(uint32_t length) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(length >> 8 * i));
        bit = 8;
    }
    void literal(uint8_t b) {
        bits(1, 0);
        bits(8, b);
    }
    void match(uint32_t length, uint32_t distance) {
        bits(1, 1);
        uint32_t l = length - 3;
        // One prefix bit at a time, as a reader sees them: k zeros then a one (five zeros
        // for the longest lengths).
        static const struct { uint32_t zeros, base, width; } codes[] = {
            {0, 0, 2}, {1, 4, 2}, {2, 8, 2}, {3, 12, 3}, {4, 20, 5}, {5, 52, 9}};
        const auto* c = &codes[0];
        for (const auto& e : codes)
            if (l >= e.base) c = &e;
        for (uint32_t i = 0; i < c->zeros; ++i) bits(1, 0);
        if (c->zeros < 5) bits(1, 1);
        bits(c->width, l - c->base);
        uint32_t d = distance - 1;
        if (d < 8) {
            bits(4, 0);
            bits(3, d);
        } else {
            uint32_t s = 31 - uint32_t(__builtin_clz(d));
            bits(4, s - 2);
            bits(s, d - (1u << s));
        }
    }
    // Fills the header: the block bytes written and the declared size.
    Bytes finish(uint32_t declared) {
        Bytes s = out;
        uint32_t block_bytes = uint32_t(s.size() - 8);
        for (int i = 0; i < 4; ++i) {
            s[i] = uint8_t(block_bytes >> 8 * i);
            s[4 + i] = uint8_t(declared >> 8 * i);
        }
        return s;
    }
};

// The stream in a block of exactly its size, so that asan sees any read past it.
struct Exact {
    std::unique_ptr<uint8_t[]> p;
    uint64_t n;
    explicit Exact(const Bytes& b) : p(new uint8_t[b.size() ? b.size() : 1]), n(b.size()) {
        if (n) std::memcpy(p.get(), b.data(), n);
    }
};

// Decodes through both entry points and checks that they agree; false on failure.
bool decode(const Bytes& stream, Bytes& result) {
    Exact in(stream);
    uint64_t size = 0;
    uint8_t* heap_out = lz::decompress(in.p.get(), in.n, &size);
    int64_t declared = lz::decompressed_size(in.p.get(), in.n);
    std::unique_ptr<uint8_t[]> room(new uint8_t[declared > 0 ? declared : 1]);
    int64_t into = declared < 0 ? -1 : lz::decompress_into(in.p.get(), in.n, room.get(), uint64_t(declared));
    EXPECT_EQ(heap_out != nullptr, into >= 0);
    if (!heap_out) return false;
    result.assign(heap_out, heap_out + size);
    EXPECT_EQ(Bytes(room.get(), room.get() + into), result);
    heap::free(heap_out);
    return true;
}

Bytes compress(const Bytes& in) {
    Exact src(in);
    Bytes out(in.size());
    int64_t n = lz::compress(src.p.get(), src.n, out.data());
    if (n < 0) return {};
    out.resize(uint64_t(n));
    return out;
}

Bytes random_bytes(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// Text-like data: words from a small vocabulary, so there are matches at every distance.
Bytes text_bytes(std::size_t n, uint32_t seed) {
    static const char* words[] = {"the ", "quick ", "brown ", "fox ", "jumps ", "over ", "a ",
                                  "lazy ", "dog; ", "value ", "series ", "block\n", "[1 2 3] "};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char* w = words[rng() % 13];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

Bytes repeated(std::size_t n, uint8_t byte) { return Bytes(n, byte); }

}  // namespace

TEST(Lz, RoundTrips) {
    struct Case {
        const char* name;
        Bytes data;
    } cases[] = {
        {"shortest compressed", repeated(128, 'a')},
        {"text", text_bytes(5000, 1)},
        {"highly repetitive, two blocks", repeated(lz::block_size + 1000, 0)},
        {"exactly one block", text_bytes(lz::block_size, 2)},
        {"text over three blocks", text_bytes(2 * lz::block_size + 12345, 3)},
        {"patterned", [] {
             Bytes b(300000);
             for (std::size_t i = 0; i < b.size(); ++i) b[i] = uint8_t((i * i) >> 7);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes z = compress(c.data);
        ASSERT_FALSE(z.empty());
        EXPECT_LE(z.size(), c.data.size());
        uint64_t blocks = (c.data.size() + lz::block_size - 1) / lz::block_size;
        EXPECT_GE(z.size(), 8 + 4 * blocks);
        Bytes back;
        ASSERT_TRUE(decode(z, back));
        EXPECT_TRUE(back == c.data);
        EXPECT_EQ(compress(c.data), z);  // the same input gives the same stream
    }
}

TEST(Lz, ShortOrIncompressibleInputIsNotCompressed) {
    for (std::size_t n : {0, 1, 127}) EXPECT_TRUE(compress(repeated(n, 'x')).empty()) << n;
    EXPECT_TRUE(compress(random_bytes(200000, 7)).empty());
    // Random data with a compressible start still fails as a whole.
    Bytes mixed = repeated(1000, 'x');
    Bytes noise = random_bytes(100000, 8);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    EXPECT_TRUE(compress(mixed).empty());
}

TEST(Lz, StreamLayoutOfARun) {
    // 128 equal bytes: a literal, then one match of 127 at distance 1, padded to a byte.
    StreamWriter w;
    w.block(128);
    w.literal('a');
    w.match(127, 1);
    Bytes expected = w.finish(128);
    EXPECT_EQ(expected.size(), 16u);
    EXPECT_EQ(compress(repeated(128, 'a')), expected);
}

TEST(Lz, HandMadeStreamsDecode) {
    // Every length and distance code, in a block of literals and overlapping matches.
    StreamWriter w;
    Bytes expected;
    uint32_t total = 0;
    std::mt19937 rng(5);
    for (int i = 0; i < 300; ++i) expected.push_back(uint8_t(rng()));
    w.block(0);  // patched below
    for (uint8_t b : expected) w.literal(b);
    uint32_t lengths[] = {3, 6, 7, 10, 11, 14, 15, 22, 23, 54, 55, 566, 300};
    uint32_t distances[] = {1, 8, 9, 16, 17, 100, 255, 256, 299, 300, 2, 3, 1};
    for (int i = 0; i < 13; ++i) {
        w.match(lengths[i], distances[i]);
        for (uint32_t k = 0; k < lengths[i]; ++k) expected.push_back(expected[expected.size() - distances[i]]);
    }
    total = uint32_t(expected.size());
    for (int i = 0; i < 4; ++i) w.out[8 + i] = uint8_t(total >> 8 * i);
    Bytes back;
    ASSERT_TRUE(decode(w.finish(total), back));
    EXPECT_EQ(back, expected);

    // Longest distance: a second block can reach 262,144 bytes back only within itself, so
    // this block first makes that many bytes.
    StreamWriter far;
    uint32_t n = 262144 + 4;
    far.block(n);
    far.literal(1);
    far.literal(2);
    far.literal(3);
    far.literal(4);
    for (uint32_t made = 4; made < 262144;) {
        uint32_t len = std::min<uint32_t>(566, 262144 - made);
        if (len < 3) {
            far.literal(9);
            ++made;
            continue;
        }
        far.match(len, 1);
        made += len;
    }
    far.match(4, 262144);
    ASSERT_TRUE(decode(far.finish(n), back));
    ASSERT_EQ(back.size(), n);
    EXPECT_EQ(Bytes(back.end() - 4, back.end()), (Bytes{1, 2, 3, 4}));

    // No blocks: an empty result.
    ASSERT_TRUE(decode(Bytes(8, 0), back));
    EXPECT_TRUE(back.empty());
}

TEST(Lz, CorruptStreamsFail) {
    auto literals = [](uint32_t block_length, int count, uint32_t declared) {
        StreamWriter w;
        w.block(block_length);
        for (int i = 0; i < count; ++i) w.literal(uint8_t('a' + i));
        return w.finish(declared);
    };
    struct Case {
        const char* name;
        Bytes stream;
    } cases[] = {
        {"empty", {}},
        {"header cut", {0, 0, 0, 0, 0, 0, 0}},
        {"block bytes beyond the stream", [] {
             Bytes s(8, 0);
             s[0] = 1;
             return s;
         }()},
        {"no blocks but a size", [] {
             Bytes s(8, 0);
             s[4] = 1;
             return s;
         }()},
        {"size beyond what the blocks can make", literals(3, 3, 1000000)},
        {"largest declared size", literals(3, 3, 0xFFFFFFFF)},
        {"block length 0", literals(0, 3, 3)},
        {"block length 1 MiB + 1", literals(lz::block_size + 1, 3, 3)},
        {"block length past the declared size", literals(4, 4, 3)},
        {"bit stream ends early", literals(5, 3, 5)},
        {"blocks make less than declared", [&] {
             Bytes s = literals(3, 3, 3);
             s[4] = 4;
             return s;
         }()},
        {"block length field cut", [&] {
             Bytes s = literals(3, 3, 3);
             s.insert(s.end(), {1, 0});
             s[0] = uint8_t(s.size() - 8);
             return s;
         }()},
        {"match before the output start", [] {
             StreamWriter w;
             w.block(4);
             w.match(4, 1);
             return w.finish(4);
         }()},
        {"match reaching into the previous block", [] {
             StreamWriter w;
             w.block(2);
             w.literal('a');
             w.literal('b');
             w.block(3);
             w.match(3, 2);
             return w.finish(5);
         }()},
        {"match running past the block", [] {
             StreamWriter w;
             w.block(4);
             w.literal('a');
             w.match(4, 1);
             return w.finish(4);
         }()},
        {"match distance beyond the output", [] {
             StreamWriter w;
             w.block(20);
             for (int i = 0; i < 10; ++i) w.literal('a');
             w.match(10, 11);
             return w.finish(20);
         }()},
        {"longest match cut by its bits", [] {
             StreamWriter w;
             w.block(600);
             w.literal('a');
             w.bits(1, 1);
             w.bits(5, 0);  // the nine length bits and the distance are missing
             return w.finish(600);
         }()},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_FALSE(decode(c.stream, out)) << c.name;
    }

    // A declared size larger than the caller's room.
    Bytes ok = literals(3, 3, 3);
    uint8_t room[2];
    EXPECT_EQ(lz::decompress_into(ok.data(), ok.size(), room, 2), -1);
    uint8_t full[3];
    EXPECT_EQ(lz::decompress_into(ok.data(), ok.size(), full, 3), 3);
}

TEST(Lz, DamagedCompressedStreams) {
    // Every cut of a real stream (its header patched to the bytes kept) and every single-bit
    // change must fail or decode to exactly the declared size, and stay inside its memory.
    Bytes z = compress(text_bytes(3000, 9));
    ASSERT_FALSE(z.empty());
    Bytes out;
    for (std::size_t keep = 8; keep < z.size(); ++keep) {
        Bytes s(z.begin(), z.begin() + long(keep));
        uint32_t block_bytes = uint32_t(keep - 8);
        for (int i = 0; i < 4; ++i) s[i] = uint8_t(block_bytes >> 8 * i);
        EXPECT_FALSE(decode(s, out)) << keep;
    }
    for (std::size_t bit = 0; bit < z.size() * 8; ++bit) {
        Bytes s = z;
        s[bit / 8] ^= uint8_t(1 << (bit % 8));
        if (decode(s, out)) {
            EXPECT_EQ(out.size(), 3000u) << bit;
        }
    }
}
