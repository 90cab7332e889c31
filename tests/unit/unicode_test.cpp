// Unicode text and string units: decoders, encoders, loaders, the conversion cache, widening,
// case mapping and display width.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

using namespace kov;
using namespace kov::unicode;
using memory::Buffer;
using memory::Node;
using Bytes = std::vector<uint8_t>;
using Chars = std::vector<uint32_t>;

namespace {

struct UnicodeTest : ::testing::Test {
    void SetUp() override {
        memory::init();
        init_case_table();
    }
};

Cell make_string(const Chars& cps, uint32_t unit, int32_t head_offset = 0) {
    // A head in the middle of the data leaves only half of it after the head.
    uint64_t room = cps.empty() ? 1 : cps.size();
    Node n = memory::alloc_series(head_offset < 0 ? 2 * room + 16 : room, unit, head_offset);
    Buffer* b = memory::buffer(n);
    for (std::size_t i = 0; i < cps.size(); ++i) put_char(b->head_ptr() + i * unit, unit, cps[i]);
    b->tail = b->head + static_cast<uint32_t>(cps.size() * unit);
    return cell::make(T_string, 0, n, 0);
}

Chars chars_of(Node n) {
    Buffer* b = memory::buffer(n);
    Chars out;
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p += b->unit()) out.push_back(char_at(p, b->unit()));
    return out;
}

template <class F>
Error error_of(F f) {
    try {
        f();
    } catch (const Error& e) {
        return e;
    }
    return Error(err::id_count);
}

// Exactly n bytes on the heap, so that the sanitizer catches any read past them.
std::unique_ptr<uint8_t[]> exact(const Bytes& bytes) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(p.get(), bytes.data(), bytes.size());
    return p;
}

// An independent notion of a valid sequence: the bits of the pattern decode to a scalar value
// whose shortest encoding is these very bytes.
bool valid_utf8(const uint8_t* s, int n, uint32_t& cp) {
    int len = s[0] < 0x80 ? 1 : (s[0] & 0xE0) == 0xC0 ? 2 : (s[0] & 0xF0) == 0xE0 ? 3 : (s[0] & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || len != n) return false;
    cp = len == 1 ? s[0] : s[0] & (0x7F >> len);
    for (int i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return false;
        cp = cp << 6 | (s[i] & 0x3F);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    uint8_t again[4];
    return encode_utf8(cp, again) == len && std::memcmp(again, s, len) == 0;
}

}  // namespace

// ---- tables -----------------------------------------------------------------------------------

TEST_F(UnicodeTest, GeneratedTablesHaveTheirCountsAndOrder) {
    EXPECT_EQ(to_upper_bmp_count, 1265u);
    EXPECT_EQ(to_lower_bmp_count, 1173u);
    EXPECT_EQ(to_upper_astral_count, 260u);
    EXPECT_EQ(to_lower_astral_count, 260u);
    EXPECT_EQ(zero_width_ranges_words, 2 * 348u);
    EXPECT_EQ(wide_ranges_words, 2 * 122u);

    auto sorted_bmp = [](const uint16_t (*p)[2], uint32_t n) {
        for (uint32_t i = 1; i < n; ++i)
            if (p[i - 1][0] >= p[i][0]) return false;
        return true;
    };
    auto sorted_astral = [](const uint32_t (*p)[2], uint32_t n) {
        for (uint32_t i = 1; i < n; ++i)
            if (p[i - 1][0] >= p[i][0] || p[i][0] < 0x10000) return false;
        return p[0][0] >= 0x10000;
    };
    auto disjoint = [](const uint32_t* t, uint32_t words) {
        for (uint32_t i = 0; i < words; i += 2)
            if (t[i] > t[i + 1] || (i && t[i] <= t[i - 1] + 1)) return false;  // merged, so gaps
        return true;
    };
    EXPECT_TRUE(sorted_bmp(to_upper_bmp, to_upper_bmp_count));
    EXPECT_TRUE(sorted_bmp(to_lower_bmp, to_lower_bmp_count));
    EXPECT_TRUE(sorted_astral(to_upper_astral, to_upper_astral_count));
    EXPECT_TRUE(sorted_astral(to_lower_astral, to_lower_astral_count));
    EXPECT_TRUE(disjoint(zero_width_ranges, zero_width_ranges_words));
    EXPECT_TRUE(disjoint(wide_ranges, wide_ranges_words));

    // The first and last rows.
    EXPECT_EQ(to_upper_astral[0][0], 0x10428u);
    EXPECT_EQ(to_upper_astral[0][1], 0x10400u);
    EXPECT_EQ(to_upper_astral[259][0], 0x1E943u);
    EXPECT_EQ(to_upper_astral[259][1], 0x1E921u);
    EXPECT_EQ(to_lower_astral[0][0], 0x10400u);
    EXPECT_EQ(to_lower_astral[259][1], 0x1E943u);
    EXPECT_EQ(to_upper_bmp[1264][0], 0xFF5Au);
    EXPECT_EQ(to_upper_bmp[1264][1], 0xFF3Au);
    EXPECT_EQ(to_lower_bmp[1172][0], 0xFF3Au);
    EXPECT_EQ(to_lower_bmp[1172][1], 0xFF5Au);
    const uint32_t* z = zero_width_ranges;
    uint32_t zw = zero_width_ranges_words;
    EXPECT_EQ(z[0], 0x300u);
    EXPECT_EQ(z[1], 0x36Fu);
    EXPECT_EQ(z[zw - 2], 0xE0100u);
    EXPECT_EQ(z[zw - 1], 0xE01EFu);
    const uint32_t* w = wide_ranges;
    uint32_t ww = wide_ranges_words;
    EXPECT_EQ(w[0], 0x1100u);
    EXPECT_EQ(w[1], 0x115Fu);
    const uint32_t tail[] = {0x1FAF0, 0x1FAF6, 0x20000, 0x2FFFD, 0x30000, 0x3FFFD};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(w[ww - 6 + i], tail[i]);
}

// The case lists follow Unicode 14.0; the pairs that involve letters added in 12.0 to 14.0
// are exactly what separates them from the same rules applied to 11.0 (1250, 1158, 225, 225).
TEST_F(UnicodeTest, CasePairsBeyondUnicode11AreTheNewLetters) {
    auto added = [](uint32_t cp) {
        return (cp >= 0xA7BA && cp <= 0xA7CA) || cp == 0xA7F5 || cp == 0xA7F6 || cp == 0x2C2F ||
               cp == 0x2C5F || (cp >= 0xA7D0 && cp <= 0xA7D9) || (cp >= 0x10570 && cp <= 0x105BC);
    };
    auto older = [&](auto pairs, uint32_t n) {
        uint32_t k = 0;
        for (uint32_t i = 0; i < n; ++i) k += !added(pairs[i][0]) && !added(pairs[i][1]);
        return k;
    };
    EXPECT_EQ(older(to_upper_bmp, to_upper_bmp_count), 1250u);
    EXPECT_EQ(older(to_lower_bmp, to_lower_bmp_count), 1158u);
    EXPECT_EQ(older(to_upper_astral, to_upper_astral_count), 225u);
    EXPECT_EQ(older(to_lower_astral, to_lower_astral_count), 225u);
}

TEST_F(UnicodeTest, CaseMapRows) {
    struct Row {
        uint32_t cp;
        bool upper;
        uint32_t mapped;
    } rows[] = {
        {'a', true, 'A'},       {'A', true, 'A'},         {'A', false, 'a'},      {0xB5, true, 0x39C},
        {0xDF, true, 0x53},     {0x131, true, 'I'},       {0x1C5, true, 0x1C4},   {0x1C5, false, 0x1C6},
        {0x3C2, true, 0x3A3},   {0x10D0, true, 0x1C90},   {0x1E9E, false, 0xDF},  {0x2126, false, 0x3C9},
        {0x212A, false, 'k'},   {0x13A0, false, 0xAB70},  {0xFF41, true, 0xFF21}, {0xFF3A, false, 0xFF5A},
        {0x1F80, true, 0x1F88},  // the simple mapping where the full one is longer
        {0xFB01, true, 'F'},    {0x130, false, 'i'},      {0x1E922, true, 0x1E900}, {0x1E900, false, 0x1E922},
        {0x10428, true, 0x10400}, {0x10400, true, 0x10400}, {0x10570, false, 0x10597},
        {0x10FFFF, true, 0x10FFFF}, {0x10427, true, 0x10427}, {0x1E944, true, 0x1E944}, {0xFFFFFFFF, false, 0xFFFFFFFF},
    };
    for (const Row& r : rows) EXPECT_EQ(case_map(r.cp, r.upper), r.mapped) << std::hex << r.cp;
}

// ---- scanning UTF-8 ---------------------------------------------------------------------------

TEST_F(UnicodeTest, TableDecoderAgreesWithStrictUtf8AndNeverReadsPastTheEnd) {
    auto check = [](const Bytes& bytes) {
        auto buf = exact(bytes);
        int n = static_cast<int>(bytes.size());
        int32_t cp;
        const uint8_t* after = decode_utf8_char(buf.get(), buf.get() + n, cp);
        uint32_t want;
        bool ok = valid_utf8(buf.get(), n, want);
        if (ok) return cp == int32_t(want) && after == buf.get() + n;
        // A valid shorter sequence at the start is decoded on its own; anything else fails.
        if (cp >= 0) return valid_utf8(buf.get(), static_cast<int>(after - buf.get()), want) && cp == int32_t(want);
        return after > buf.get() && after <= buf.get() + n;
    };
    int failures = 0;
    for (int a = 0; a < 256; ++a) {
        failures += !check({uint8_t(a)});
        for (int b = 0; b < 256; ++b) {
            failures += !check({uint8_t(a), uint8_t(b)});
            if (a >= 0xE0 && a <= 0xEF)
                for (int c = 0; c < 256; ++c) failures += !check({uint8_t(a), uint8_t(b), uint8_t(c)});
            if (a >= 0xF0 && a <= 0xF7)
                for (int c : {0x00, 0x80, 0xBF, 0xC0})
                    for (int d : {0x41, 0x80, 0x8F, 0xBF}) failures += !check({uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)});
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST_F(UnicodeTest, TableDecoderConsumptionOnErrors) {
    struct Row {
        Bytes bytes;
        int32_t cp;
        int consumed;
    } rows[] = {
        {{0x41, 0x42}, 0x41, 1},        // the next byte is not consumed
        {{0xC3, 0xA9, 0x41}, 0xE9, 2},
        {{0xC0, 0x80}, -1, 1},          // a lead byte that is never valid
        {{0xE2, 0x41, 0x42}, -1, 2},    // up to and including the byte that made it invalid
        {{0xED, 0xA0, 0x80}, -1, 2},    // a surrogate
        {{0xE2, 0x82}, -1, 2},          // cut by the end
        {{0xF4, 0x90, 0x80, 0x80}, -1, 2},
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
    };
    for (const Row& r : rows) {
        auto buf = exact(r.bytes);
        int32_t cp;
        const uint8_t* after = decode_utf8_char(buf.get(), buf.get() + r.bytes.size(), cp);
        EXPECT_EQ(cp, r.cp);
        EXPECT_EQ(after - buf.get(), r.consumed);
    }
    int32_t cp = 0;
    uint8_t none = 0;
    EXPECT_EQ(decode_utf8_char(&none, &none, cp), &none);
    EXPECT_EQ(cp, -1);
}

TEST_F(UnicodeTest, CountSkipAndLeadLength) {
    Bytes text = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0xFF, 'z', 0xE2, 0x82};
    auto buf = exact(text);
    const uint8_t* s = buf.get();
    const uint8_t* e = s + text.size();
    EXPECT_EQ(utf8_count(s, e), 7);  // a, é, €, 😀, bad byte, z, cut sequence
    EXPECT_EQ(utf8_skip(s, e, 0), s);
    EXPECT_EQ(utf8_skip(s, e, 3), s + 6);
    EXPECT_EQ(utf8_skip(s, e, 100), e);
    EXPECT_EQ(utf8_count(s, s), 0);
    struct Row {
        uint8_t byte;
        int32_t length;
    } rows[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 2}, {0xDF, 2}, {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF8, 4}, {0xFF, 4}};
    for (const Row& r : rows) EXPECT_EQ(utf8_lead_length(r.byte), r.length) << int(r.byte);
}

// ---- encoding ---------------------------------------------------------------------------------

TEST_F(UnicodeTest, EncodersAndTheirLimits) {
    struct Row {
        uint32_t cp;
        Bytes utf8;
        Bytes utf16;
    } rows[] = {
        {0x00, {0x00}, {0x00, 0x00}},
        {0x7F, {0x7F}, {0x7F, 0x00}},
        {0x80, {0xC2, 0x80}, {0x80, 0x00}},
        {0x7FF, {0xDF, 0xBF}, {0xFF, 0x07}},
        {0x800, {0xE0, 0xA0, 0x80}, {0x00, 0x08}},
        {0xD800, {0xED, 0xA0, 0x80}, {0x00, 0xD8}},  // surrogates are encoded like others
        {0xFFFF, {0xEF, 0xBF, 0xBF}, {0xFF, 0xFF}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}, {0x00, 0xD8, 0x00, 0xDC}},
        {0x1F600, {0xF0, 0x9F, 0x98, 0x80}, {0x3D, 0xD8, 0x00, 0xDE}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}, {0xFF, 0xDB, 0xFF, 0xDF}},
    };
    for (const Row& r : rows) {
        uint8_t out[4] = {};
        ASSERT_EQ(encode_utf8(r.cp, out), int32_t(r.utf8.size()));
        EXPECT_EQ(Bytes(out, out + r.utf8.size()), r.utf8);
        EXPECT_EQ(utf8_length(r.cp), int32_t(r.utf8.size()));
        ASSERT_EQ(encode_utf16le(r.cp, out), int32_t(r.utf16.size() / 2));
        EXPECT_EQ(Bytes(out, out + r.utf16.size()), r.utf16);
    }
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_EQ(encode_utf8_to(0x20AC, out, 2), 2);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0xE2, 0x82, 9}));
    EXPECT_EQ(encode_utf8_to(0x20AC, out, 0), 0);
    EXPECT_EQ(encode_utf8_to(0x20AC, out, -5), 0);
    EXPECT_EQ(encode_utf8_to('A', out, 8), 1);
    EXPECT_EQ(encode_utf16le(0x110000, out), 0);

    for (auto f : {+[] { utf8_length(0x110000); }, +[] { uint8_t o[4]; encode_utf8(0xFFFFFFFF, o); },
                   +[] { uint8_t o[4]; encode_utf8_to(0x110000, o, 4); }}) {
        Error e = error_of(f);
        EXPECT_EQ(e.id, err::script_invalid_char);
    }
    Error e = error_of([] { utf8_length(0x123456); });
    ASSERT_EQ(e.arg_count, 1);
    EXPECT_TRUE(cell::is(e.args[0], T_integer));
    EXPECT_EQ(e.args[0].w2, 0x123456u);

    Bytes wide = {'a', 0, 0, 0, 0x00, 0x01, 0, 0, 0x00, 0xF6, 0x01, 0, 10, 0, 0, 0};
    EXPECT_EQ(utf8_size(wide.data(), wide.data() + 16, 4), 1 + 2 + 4 + 1);
    EXPECT_EQ(utf16_extra_size(wide.data(), wide.data() + 16, 4), 4);
    Bytes bad = {0, 0, 0x11, 0};
    EXPECT_EQ(error_of([&] { utf8_size(bad.data(), bad.data() + 4, 4); }).id, err::script_invalid_char);
}

TEST_F(UnicodeTest, WriteUtf8WithLimitsAndABudget) {
    Cell s = make_string({'a', 0xE9, 0x20AC, 0x1F600}, 4);
    uint8_t out[16];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(write_utf8(s, out, -1, true), 10);
    EXPECT_EQ(Bytes(out, out + 11), (Bytes{'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0}));
    EXPECT_EQ(write_utf8(s, out, 2, false), 3);
    EXPECT_EQ(write_utf8(s, out, 0, true), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(write_utf8(s, out, 99, false), 10);
    s.w1 = 3;  // from the head index
    EXPECT_EQ(write_utf8(s, out, -1, false), 4);
    s.w1 = 9;  // an index past the tail is clipped
    EXPECT_EQ(write_utf8(s, out, -1, false), 0);
    s.w1 = 0;

    // The room is a hard bound, the terminator included; the last character may be cut.
    for (int room = 0; room <= 12; ++room) {
        std::unique_ptr<uint8_t[]> buf(new uint8_t[room ? room : 1]);
        int64_t n = write_utf8_bounded(s, buf.get(), room, 0, true);
        EXPECT_EQ(n, room == 0 ? 0 : std::min(room - 1, 10));
        if (room) {
            EXPECT_EQ(buf[n], 0);
        }
    }
    std::unique_ptr<uint8_t[]> buf(new uint8_t[5]);
    EXPECT_EQ(write_utf8_bounded(s, buf.get(), 5, 0, false), 5);  // a, é, and 2 bytes of €
    EXPECT_EQ(Bytes(buf.get(), buf.get() + 5), (Bytes{'a', 0xC3, 0xA9, 0xE2, 0x82}));
    EXPECT_EQ(write_utf8_bounded(s, buf.get(), 5, 1, false), 1);  // the limit applies from 1
    EXPECT_EQ(write_utf8_bounded(s, buf.get(), 5, 4, false), 5);  // but not at the count
}

// ---- widening ---------------------------------------------------------------------------------

TEST_F(UnicodeTest, WideningKeepsTheTextAndLeavesRoomForOneMore) {
    struct Row {
        uint32_t from, to;
        Buffer* (*widen)(Node);
    } rows[] = {{1, 2, widen_1_to_2}, {1, 4, widen_1_to_4}, {2, 4, widen_2_to_4}};
    for (const Row& r : rows) {
        for (int32_t head : {0, -1}) {  // the head at the start or in the middle of the data
            Chars text;
            for (uint32_t i = 0; i < 37; ++i) text.push_back(i * 7 % (r.from == 1 ? 256 : 65536));
            Cell s = make_string(text, r.from, head);
            Buffer* b = r.widen(s.w2);
            EXPECT_EQ(b, memory::buffer(s.w2));
            EXPECT_EQ(b->unit(), r.to);
            EXPECT_GE(b->size, b->tail + r.to);
            EXPECT_EQ(chars_of(s.w2), text);
            EXPECT_EQ(memory::verify(), nullptr);
        }
    }
    Cell empty = make_string({}, 1);
    EXPECT_EQ(widen_1_to_4(empty.w2)->used(), 0u);
    EXPECT_GE(memory::buffer(empty.w2)->size, 4u);
}

// ---- loading ----------------------------------------------------------------------------------

TEST_F(UnicodeTest, CheckingDecoder) {
    struct Row {
        Bytes bytes;
        int32_t cp;  // -1: cut; -2: invalid
        int64_t length;
    } rows[] = {
        {{0x41}, 0x41, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xC0, 0x80}, 0, 2},  // overlong forms are accepted
        {{0xED, 0xA0, 0x80}, 0xD800, 3},
        {{0xED, 0xAF, 0xBF}, 0xDBFF, 3},
        {{0xED, 0xB4, 0x80}, 0xDD00, 3},
        {{0xED, 0xB0, 0x80}, 0xDC00, 3},  // every surrogate, as the encoder writes them
        {{0xED, 0xB3, 0xBF}, 0xDCFF, 3},
        {{0xED, 0xBF, 0xBF}, 0xDFFF, 3},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0xC3}, -1, 1},
        {{0xF0, 0x9F, 0x98}, -1, 3},
        {{0xF0, 0x41, 0x41}, -1, 3},  // the budget is checked first
        {{0x80}, -2, 1},
        {{0xC0, 0x41}, -2, 2},
        {{0xED, 0x30, 0x80}, -2, 3},
        {{0xF4, 0x90, 0x80, 0x80}, -2, 4},
        {{0xF8, 0x88, 0x80, 0x80, 0x80}, -2, 5},
        {{0xE2, 0x82, 0x41, 0x42, 0x43}, -2, 5},
    };
    for (const Row& r : rows) {
        auto buf = exact(r.bytes);
        int64_t budget = r.length;
        if (r.cp == -2) {
            Error e = error_of([&] { decode_utf8_bounded(buf.get(), budget); });
            ASSERT_EQ(e.id, err::access_invalid_utf8);
            ASSERT_TRUE(cell::is(e.args[0], T_binary));
            uint32_t n = std::min<uint32_t>(4, uint32_t(r.bytes.size()));
            Buffer* b = memory::buffer(e.args[0].w2);
            EXPECT_EQ(b->unit(), 1u);
            EXPECT_EQ(Bytes(b->head_ptr(), b->tail_ptr()), Bytes(r.bytes.begin(), r.bytes.begin() + n));
        } else {
            EXPECT_EQ(decode_utf8_bounded(buf.get(), budget), r.cp);
            if (r.cp >= 0) {
                EXPECT_EQ(budget, r.length);
            }
        }
    }
}

TEST_F(UnicodeTest, LoadingUtf8PicksTheNarrowestUnit) {
    struct Row {
        Bytes bytes;
        bool crlf;
        uint32_t unit;
        Chars chars;
        int64_t remaining;
    } rows[] = {
        {{0xEF, 0xBB, 0xBF}, false, 1, {}, 0},
        {{0xEF, 0xBB, 0xBF, 'a'}, false, 1, {'a'}, 0},
        {{0xEF, 0xBB}, false, 1, {}, 2},  // too short to be a mark: a cut sequence
        {{0xC3, 0xA9}, false, 1, {0xE9}, 0},
        {{'a', 0xC5, 0x81, 'b'}, false, 2, {'a', 0x141, 'b'}, 0},
        {{'a', 0xF0, 0x9F, 0x98, 0x80}, false, 4, {'a', 0x1F600}, 0},
        {{'a', 0xC5, 0x81, 0xF0, 0x9F, 0x98, 0x80, 'z'}, false, 4, {'a', 0x141, 0x1F600, 'z'}, 0},
        {{'a', 0xE2, 0x82}, false, 1, {'a'}, 2},
        {{'a', 0xF0, 0x9F, 0x98}, false, 1, {'a'}, 3},
        {{'a', 13, 10, 'b', 13, 'c', 13}, true, 1, {'a', 10, 'b', 10, 'c', 10}, 0},
        {{'a', 13, 10, 'b'}, false, 1, {'a', 13, 10, 'b'}, 0},
        {{0xC0, 0x80, 0xED, 0xA0, 0x80}, false, 2, {0, 0xD800}, 0},
        {{'a', 0xED, 0xB0, 0x80, 'b'}, false, 2, {'a', 0xDC00, 'b'}, 0},
    };
    for (const Row& r : rows) {
        auto buf = exact(r.bytes);
        int64_t remaining = -7;
        Node n = load_utf8(buf.get(), int64_t(r.bytes.size()), 0, &remaining, r.crlf);
        EXPECT_EQ(memory::buffer(n)->unit(), r.unit);
        EXPECT_EQ(chars_of(n), r.chars);
        EXPECT_EQ(remaining, r.remaining);
    }
    EXPECT_EQ(chars_of(load_utf8_new("", 0)), Chars{});

    uint8_t bad[] = {'a', 0xC0, 0x41};
    EXPECT_EQ(error_of([&] { load_utf8_new(bad, 3); }).id, err::access_invalid_utf8);
}

TEST_F(UnicodeTest, LoadingUtf8GrowsThroughEveryUnit) {
    // Mostly wide text after a narrow start exercises widening and the growth steps.
    Bytes text;
    Chars want;
    for (int i = 0; i < 300; ++i) {
        uint32_t cp = i < 100 ? 'a' + i % 26 : i < 200 ? 0x400 + i : 0x1F300 + i;
        uint8_t enc[4];
        int n = encode_utf8(cp, enc);
        text.insert(text.end(), enc, enc + n);
        want.push_back(cp);
    }
    Node n = load_utf8_new(text.data(), int64_t(text.size()));
    EXPECT_EQ(memory::buffer(n)->unit(), 4u);
    EXPECT_EQ(chars_of(n), want);

    // Into a target: it keeps its unit and is overwritten from its head.
    Cell target = make_string({'x', 'y', 'z', 'w', 'v'}, 2);
    int64_t remaining = 0;
    load_utf8_into("ab", 2, target, &remaining);
    EXPECT_EQ(memory::buffer(target.w2)->unit(), 2u);
    EXPECT_EQ(chars_of(target.w2), (Chars{'a', 'b'}));
    Cell small = make_string({}, 1);
    load_utf8_into(text.data(), int64_t(text.size()), small, &remaining);
    EXPECT_EQ(chars_of(small.w2), want);

    // From a series: the source is fetched again after the target's allocations.
    Node source = memory::alloc_bytes(text.size());
    std::memcpy(memory::buffer(source)->data(), text.data(), text.size());
    memory::buffer(source)->tail = uint32_t(text.size());
    Node loaded = load_utf8(ByteSource::in_series(source, 0), int64_t(text.size()), 0, nullptr, false);
    EXPECT_EQ(chars_of(loaded), want);
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(UnicodeTest, LoadingUtf16le) {
    struct Row {
        Bytes bytes;
        bool cr;
        uint32_t unit;
        Chars chars;
    } rows[] = {
        {{'a', 0, 13, 0, 10, 0}, false, 1, {'a', 13, 10}},
        {{'a', 0, 13, 0, 10, 0}, true, 1, {'a', 10}},
        {{0x41, 0x01, 13, 0, 'b', 0}, false, 2, {0x141, 13, 'b'}},
        {{0x41, 0x01, 13, 0, 'b', 0}, true, 2, {0x141, 'b'}},
        {{0x3D, 0xD8, 0x00, 0xDE}, false, 4, {0x1F600}},
        {{0x3D, 0xD8, 0x41, 0x00}, false, 4, {0xD83D, 'A'}},  // a lone high surrogate is kept
        {{0x00, 0xDC, 0x3D, 0xD8}, false, 4, {0xDC00, 0xD83D}},
        {{0x3D, 0xD8, 0x00, 0xDE, 13, 0}, true, 4, {0x1F600}},
        {{}, false, 2, {}},
    };
    for (const Row& r : rows) {
        auto buf = exact(r.bytes);
        int64_t units = int64_t(r.bytes.size() / 2);
        EXPECT_EQ(utf16_unit_width(buf.get(), units), r.bytes.empty() ? 1u : r.unit);
        Node n = load_utf16le(buf.get(), units, nullptr, r.cr);
        EXPECT_EQ(memory::buffer(n)->unit(), r.unit);
        EXPECT_EQ(chars_of(n), r.chars);
    }

    // Into a target cell, and from its conversion cache.
    Cell target = make_string({'q', 'r', 's'}, 1);
    uint8_t pair[] = {0x3D, 0xD8, 0x00, 0xDE, 'z', 0};
    load_utf16le(pair, 2, &target, false);
    EXPECT_EQ(memory::buffer(target.w2)->unit(), 4u);
    EXPECT_EQ(chars_of(target.w2), Chars{0x1F600});
    std::memcpy(string::cache_buffer(target, 6), pair, 6);
    load_utf16le(ByteSource(), 3, &target, false);
    EXPECT_EQ(chars_of(target.w2), (Chars{0x1F600, 'z'}));
    load_utf16le(ByteSource(), 1000, &target, false);  // bounded by the cache
    EXPECT_LE(chars_of(target.w2).size(), memory::buffer(target.w3)->size / 2);
    EXPECT_EQ(memory::verify(), nullptr);
}

// ---- conversions into the cache -------------------------------------------------------------

TEST_F(UnicodeTest, Utf8CacheIsReusedAndConvertsLineBreaks) {
    Cell s = make_string({'a', 10, 0xE9, 10}, 1);
    int64_t count = -1;
    const char* text = to_utf8_text(s, count);
    EXPECT_EQ(count, 5);
    EXPECT_STREQ(text, "a\n\xC3\xA9\n");
    Node cache = s.w3;
    ASSERT_NE(cache, 0u);

    count = -1;
    text = to_utf8_buffer(s, count, true);
    EXPECT_EQ(count, 7);
    EXPECT_STREQ(text, "a\r\n\xC3\xA9\r\n");
    EXPECT_EQ(s.w3, cache);

    count = 2;  // at most two characters
    text = to_utf8_text(s, count);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(text, "a\n");

    // A longer text grows the same cache node.
    Chars many(500, 0x1F600);
    Cell big = make_string(many, 4);
    big.w3 = cache;
    count = -1;
    text = to_utf8_text(big, count);
    EXPECT_EQ(count, 2000);
    EXPECT_EQ(big.w3, cache);
    EXPECT_EQ(std::strlen(text), 2000u);

    Cell bad = make_string({'a', 0x110000}, 4);
    count = -1;
    EXPECT_EQ(error_of([&] { to_utf8_text(bad, count); }).id, err::script_invalid_char);
}

TEST_F(UnicodeTest, Utf16CacheText) {
    struct Row {
        Chars chars;
        uint32_t unit;
        bool crlf;
        std::vector<uint16_t> units;
    } rows[] = {
        {{0x10000}, 4, false, {0xD800, 0xDC00}},
        {{'a', 10, 0x1F600}, 4, true, {'a', 13, 10, 0xD83D, 0xDE00}},
        {{'a', 10, 0xE9}, 1, true, {'a', 13, 10, 0xE9}},
        {{'a', 10, 0xE9}, 1, false, {'a', 10, 0xE9}},
        {{0x141, 10}, 2, true, {0x141, 13, 10}},
        {{0x141, 10}, 2, false, {0x141, 10}},
    };
    for (const Row& r : rows) {
        Cell s = make_string(r.chars, r.unit);
        int64_t count = -1;
        const uint8_t* text = to_utf16_text(s, count, r.crlf);
        ASSERT_NE(text, nullptr);
        ASSERT_EQ(count, int64_t(r.units.size()));
        for (std::size_t i = 0; i <= r.units.size(); ++i) {
            uint16_t u = uint16_t(text[2 * i] | text[2 * i + 1] << 8);
            EXPECT_EQ(u, i < r.units.size() ? r.units[i] : 0);
        }
    }
    Cell s = make_string({'a', 'b', 'c'}, 1);
    int64_t count = 2;
    to_utf16_text(s, count, false);
    EXPECT_EQ(count, 2);
    Cell crlf = make_string({10}, 1);
    const uint8_t* t = to_utf16_crlf(crlf);
    EXPECT_EQ(Bytes(t, t + 6), (Bytes{13, 0, 10, 0, 0, 0}));
    Cell bad = make_string({'a', 0x110000}, 4);
    count = -1;
    EXPECT_EQ(to_utf16_text(bad, count, false), nullptr);
}

// ---- case change ------------------------------------------------------------------------------

namespace {
struct Report {
    int calls = 0;
    bool upper = false;
    uint32_t index = 0, count = 0;
} report;
void note_change(const Cell&, bool upper, uint32_t index, uint32_t count) {
    report = {report.calls + 1, upper, index, count};
}
}  // namespace

TEST_F(UnicodeTest, ChangeCase) {
    Cell c = cell::make(T_char_, 0, 0xDF, 0);
    EXPECT_EQ(change_case(c, nullptr, true).w2, 0x53u);
    c.w2 = 0x1E9E;
    EXPECT_EQ(change_case(c, nullptr, false).w2, 0xDFu);

    on_case_changed = note_change;
    report = {};
    // Upper-casing Latin-1 can need unit 2 (ÿ, µ) and the position carries over.
    Cell s = make_string({'a', 0xFF, 'b', 0xB5, 'c'}, 1);
    s.w1 = 1;
    change_case(s, nullptr, true);
    EXPECT_EQ(memory::buffer(s.w2)->unit(), 2u);
    EXPECT_EQ(chars_of(s.w2), (Chars{'a', 0x178, 'B', 0x39C, 'C'}));
    EXPECT_EQ(report.calls, 1);
    EXPECT_TRUE(report.upper);
    EXPECT_EQ(report.index, 1u);
    EXPECT_EQ(report.count, 4u);

    Cell astral = make_string({0x1E922, 'x'}, 4);
    change_case(astral, nullptr, true);
    EXPECT_EQ(chars_of(astral.w2), (Chars{0x1E900, 'X'}));

    struct Part {
        Cell part;
        Chars result;
    } parts[] = {
        {cell::make(T_integer, 0, 2, 0), {'A', 'B', 'c', 'd'}},
        {cell::make(T_integer, 0, 99, 0), {'A', 'B', 'C', 'D'}},         // limited to the tail
        {cell::make(T_integer, 0, uint32_t(-3), 0), {'a', 'b', 'c', 'd'}},  // negative: nothing
        {cell::make(T_integer, 0, 0, 0), {'a', 'b', 'c', 'd'}},
    };
    for (const Part& p : parts) {
        Cell t = make_string({'a', 'b', 'c', 'd'}, 1);
        change_case(t, &p.part, true);
        EXPECT_EQ(chars_of(t.w2), p.result);
    }
    // A position in the same series.
    Cell t = make_string({'a', 'b', 'c', 'd'}, 1);
    t.w1 = 1;
    Cell at = t;
    at.w1 = 3;
    change_case(t, &at, true);
    EXPECT_EQ(chars_of(t.w2), (Chars{'a', 'B', 'C', 'd'}));
    EXPECT_EQ(report.index, 1u);
    EXPECT_EQ(report.count, 2u);

    Cell other = make_string({'x'}, 1);  // another series
    Error e = error_of([&] { change_case(t, &other, true); });
    EXPECT_EQ(e.id, err::script_invalid_refine_arg);
    EXPECT_EQ(e.args[1].w2, other.w2);
    Cell word = cell::make(T_word, 0, 1, 0);
    EXPECT_EQ(error_of([&] { change_case(t, &word, false); }).id, err::script_invalid_refine_arg);
    on_case_changed = nullptr;
}

// ---- display width ----------------------------------------------------------------------------

TEST_F(UnicodeTest, CharWidth) {
    struct Row {
        uint32_t cp;
        int32_t width;
    } rows[] = {
        {0, 0},      {'A', 1},    {1, 1},        {31, 1},       {0x7F, 1},     {0x9F, 1},     {0xA0, 1},
        {0xAD, 1},   {0x300, 0},  {0x301, 0},    {0x36F, 0},    {0x370, 1},    {0x200B, 0},   {0x1160, 0},
        {0x11FF, 0}, {0x1100, 2}, {0x115F, 2},   {0x4E00, 2},   {0xFF01, 2},   {0x1F600, 2},  {0x1FAF6, 2},
        {0x1FAF7, 1}, {0x2A6E0, 2}, {0x2FFFD, 2}, {0x2FFFE, 1},  {0x3FFFD, 2},  {0xE0100, 0},  {0xE01EF, 0},
        {0xE01F0, 1}, {0x10FFFF, 1}, {0x110000, 1},
    };
    for (const Row& r : rows) EXPECT_EQ(char_width(r.cp), r.width) << std::hex << r.cp;
}

// The search must agree with a scan of the ranges in order, at every boundary.
TEST_F(UnicodeTest, InRangesAgreesWithAnOrderedScan) {
    auto scan = [](uint32_t cp, const uint32_t* t, uint32_t words) {
        if (words < 2 || cp < t[0] || cp > t[words - 1]) return false;
        for (uint32_t i = 0; i < words; i += 2)
            if (t[i] <= cp && cp <= t[i + 1]) return true;
        return false;
    };
    int failures = 0;
    struct Table {
        const uint32_t* t;
        uint32_t words;
    };
    for (auto [t, words] : {Table{zero_width_ranges, zero_width_ranges_words}, Table{wide_ranges, wide_ranges_words}})
        for (uint32_t i = 0; i < words; ++i)
            for (uint32_t cp : {t[i] - 1, t[i], t[i] + 1}) failures += in_ranges_q(cp, t, words) != scan(cp, t, words);
    EXPECT_EQ(failures, 0);
    const uint32_t one[] = {5, 9};
    EXPECT_FALSE(in_ranges_q(4, one, 2));
    EXPECT_TRUE(in_ranges_q(9, one, 2));
    EXPECT_FALSE(in_ranges_q(10, one, 2));
    EXPECT_FALSE(in_ranges_q(5, one, 0));
}
