// The base 2, 16, 58 and 64 codecs: published vectors, round trips at every unit width, the
// skipping rules, invalid text, and text read from a series that may move.
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "runtime/codecs/base_codecs.h"
#include "runtime/collector.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

namespace {

using Bytes = std::string;

struct Codec {
    int base;
    uint64_t (*size)(uint64_t);
    uint8_t* (*encode)(uint8_t*, const uint8_t*, uint64_t);
    memory::Node (*decode)(const uint8_t*, uint64_t, uint32_t);
};

const Codec codecs[] = {
    {2, base2::encoded_size, base2::encode, base2::decode},
    {16, base16::encoded_size, base16::encode, base16::decode},
    {58, base58::encoded_size, base58::encode, base58::decode},
    {64, base64::encoded_size, base64::encode, base64::decode},
};

const Codec& codec(int base) {
    for (const auto& c : codecs)
        if (c.base == base) return c;
    throw std::logic_error("no such base");
}

std::string encode(const Codec& c, const Bytes& data) {
    uint64_t room = c.size(data.size());
    std::unique_ptr<uint8_t[]> out(new uint8_t[room + 1]);
    auto in = reinterpret_cast<const uint8_t*>(data.data());
    uint8_t* end = c.encode(out.get(), in, data.size());
    EXPECT_LE(uint64_t(end - out.get()), room);
    if (c.base != 58) {
        EXPECT_EQ(uint64_t(end - out.get()), room) << "the size is exact";
    }
    return std::string(reinterpret_cast<char*>(out.get()), reinterpret_cast<char*>(end));
}

// The bytes of a decoder's result; nullopt for nothing. Checks the binary's shape.
std::optional<Bytes> result(memory::Node node) {
    if (!node) return std::nullopt;
    memory::Buffer* b = memory::buffer(node);
    EXPECT_EQ(b->unit(), 1u);
    EXPECT_EQ(b->head, 0u);
    return Bytes(reinterpret_cast<char*>(b->data()), b->tail);
}

// Decodes code points given at a unit width, from a block of exactly their size.
std::optional<Bytes> decode_units(const Codec& c, const std::vector<uint32_t>& chars, uint32_t unit) {
    std::unique_ptr<uint8_t[]> text(new uint8_t[chars.size() * unit + 1]);
    for (std::size_t i = 0; i < chars.size(); ++i) unicode::put_char(text.get() + i * unit, unit, chars[i]);
    return result(c.decode(text.get(), chars.size(), unit));
}

std::vector<uint32_t> code_points(const std::string& s) {
    return std::vector<uint32_t>(reinterpret_cast<const uint8_t*>(s.data()),
                                 reinterpret_cast<const uint8_t*>(s.data()) + s.size());
}

// Decodes ASCII text at all three widths and checks they agree.
std::optional<Bytes> decode(const Codec& c, const std::string& text) {
    auto one = decode_units(c, code_points(text), 1);
    for (uint32_t unit : {2u, 4u}) EXPECT_EQ(decode_units(c, code_points(text), unit), one) << "unit " << unit;
    return one;
}

Bytes hex(const std::string& digits) {
    Bytes b;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) b.push_back(char(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return b;
}

using BaseCodecs = Runtime;

}  // namespace

TEST_F(BaseCodecs, PublishedVectors) {
    struct Case {
        int base;
        Bytes data;
        std::string text;
    } cases[] = {
        {64, "", ""}, {64, "f", "Zg=="}, {64, "fo", "Zm8="}, {64, "foo", "Zm9v"},
        {64, "foob", "Zm9vYg=="}, {64, "fooba", "Zm9vYmE="}, {64, "foobar", "Zm9vYmFy"},
        {64, hex("FBFF"), "+/8="}, {64, "abc", "YWJj"},
        {16, "foobar", "666F6F626172"}, {16, hex("00FF"), "00FF"}, {16, "", ""},
        {58, "Hello World!", "2NEpo7TZRRrLZSi2U"},
        {58, "The quick brown fox jumps over the lazy dog.",
         "USm3fpXnKG5EUBx2ndxBDMPVciP5hGey2Jh4NDv6gmeo1LkMeiKrLJUUBk6Z"},
        {58, hex("000000287FB4CD"), "111233QC4"}, {58, hex("0001"), "12"}, {58, hex("0000"), "11"},
        {58, hex("FF"), "5Q"}, {58, hex("3A"), "21"}, {58, hex("39"), "z"}, {58, "", ""},
        {2, hex("A5"), "10100101"}, {2, hex("00FF"), "0000000011111111"}, {2, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.base) + " " + c.text);
        EXPECT_EQ(encode(codec(c.base), c.data), c.text);
        EXPECT_EQ(decode(codec(c.base), c.text), c.data);
    }
}

TEST_F(BaseCodecs, RoundTrips) {
    // Lengths across the base-64 groups and the base-58 limbs, with leading zero bytes.
    std::mt19937 rng(11);
    for (const auto& c : codecs)
        for (std::size_t n : {1, 2, 3, 4, 5, 7, 8, 9, 31, 32, 33, 100, 1000})
            for (std::size_t zeros : {0, 1, 5}) {
                Bytes data(zeros, '\0');
                for (std::size_t i = 0; i < n; ++i) data.push_back(char(rng()));
                std::string text = encode(c, data);
                ASSERT_EQ(decode(c, text), data) << c.base << " " << n << " " << zeros;
            }
    Bytes all_ff(70, '\xFF');
    EXPECT_EQ(decode(codec(58), encode(codec(58), all_ff)), all_ff);
}

TEST_F(BaseCodecs, DecodingRules) {
    const std::optional<Bytes> nothing;
    struct Case {
        int base;
        std::string text;
        std::optional<Bytes> bytes;
    } cases[] = {
        // base 2: anything at or below space is skipped; leftover bits fail.
        {2, "0000 0001\r\n\t11111111", hex("01FF")},
        {2, "0000000", nothing},
        {2, "000000001", nothing},
        {2, "0000'0001", nothing},
        {2, "00000002", nothing},
        {2, "0000;note\n0001 ;trailing note 1", hex("01")},
        // base 16: either case; odd last digit dropped; the apostrophe fails.
        {16, "0ff", hex("0F")},
        {16, "de AD\nbE;comment ff\nef", hex("DEADBEEF")},
        {16, "0'F", nothing},
        {16, "0G", nothing},
        {16, "", Bytes()},
        {16, "  \n ", Bytes()},
        // base 58: spacing and apostrophes skipped; 0, O, I and l are not digits.
        {58, "2NEpo7 TZRR'rLZ\tSi2U", "Hello World!"},
        {58, "1", hex("00")},
        {58, " ", Bytes()},
        {58, "0", nothing},
        {58, "O", nothing},
        {58, "I", nothing},
        {58, "l", nothing},
        {58, "2N\x0B", nothing},  // vertical tab is not spacing here
        {58, "5Q;ff", hex("FF")},
        // base 64: "=" ends the text; groups cut without it are dropped.
        {64, "YQ", Bytes()},
        {64, "YQ==", "a"},
        {64, "YWI=", "ab"},
        {64, "Y===", nothing},
        {64, "=", nothing},
        {64, "YWI=!! anything", "ab"},
        {64, "YWJjZA", "abc"},
        {64, "YW'Jj", "abc"},
        {64, "Zm9v\r\n\tYmFy ", "foobar"},
        {64, "Zm9v;Zm9v\nYmFy", "foobar"},
        {64, "Zm9v;YmFy", "foo"},
        {64, "Zm9v-YmFy", nothing},
        {64, "Zm\x0B9v", nothing},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(codec(c.base), c.text), c.bytes) << c.base << " " << c.text;
}

TEST_F(BaseCodecs, WideCharactersAreInvalid) {
    // 0x130 and 0x10031 have the low byte of a digit; above 127 nothing is a digit.
    for (const auto& c : codecs)
        for (uint32_t wide : {0x80u, 0xE9u, 0x130u, 0x10031u, 0x1F600u}) {
            std::vector<uint32_t> text = code_points(c.base == 2 ? "0000000000000001" : "31");
            text.insert(text.begin() + 1, wide);
            uint32_t unit = wide > 0xFFFF ? 4 : wide > 0xFF ? 2 : 1;
            EXPECT_EQ(decode_units(c, text, unit), std::nullopt) << c.base << " " << wide;
            if (unit < 4) {
                EXPECT_EQ(decode_units(c, text, 4), std::nullopt) << c.base << " " << wide;
            }
        }
    // Wide characters inside a comment are not read as text.
    std::vector<uint32_t> commented = code_points("YWJj;");
    commented.push_back(0x1F600);
    EXPECT_EQ(decode_units(codec(64), commented, 4), Bytes("abc"));
}

TEST_F(BaseCodecs, ReadsOnlyTheCountGiven) {
    // The characters after the count would change the result if they were read.
    struct Case {
        int base;
        std::string text;
        std::size_t count;
        Bytes bytes;
    } cases[] = {
        {2, "00000001x", 8, hex("01")},
        {16, "0F0", 2, hex("0F")},
        {58, "5Qx", 2, hex("FF")},
        {64, "YWJjZGVm", 4, "abc"},
    };
    for (const auto& c : cases)
        for (uint32_t unit : {1u, 2u, 4u}) {
            std::vector<uint32_t> cps = code_points(c.text);
            cps.resize(c.count);  // the block ends right after the count, for asan
            EXPECT_EQ(decode_units(codec(c.base), cps, unit), c.bytes) << c.base;
        }
}

TEST_F(BaseCodecs, TextInAMovableSeries) {
    // The decoder allocates its result after reading the text; with the collector on, that
    // allocation may slide the text's buffer down over a series that died just before.
    CollectorOn on;
    collector::set_stress_interval(1);
    struct Case {
        int base;
        std::string text;
        Bytes bytes;
    } cases[] = {{2, "01100001", "a"}, {16, "6162", "ab"}, {58, "2NEpo7TZRRrLZSi2U", "Hello World!"},
                 {64, "YWJjZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXo=", "abcdefghijklmnopqrstuvwxyz"}};
    for (const auto& c : cases)
        for (uint32_t unit : {1u, 2u, 4u}) {
            memory::Node text;
            {
                memory::Node pad = memory::alloc_bytes(4000);
                collector::RootNode keep_pad(pad);
                text = memory::alloc_units(c.text.size(), unit);
            }
            collector::RootNode keep_text(text);
            memory::Buffer* b = memory::buffer(text);
            for (std::size_t i = 0; i < c.text.size(); ++i)
                unicode::put_char(b->data() + i * unit, unit, uint8_t(c.text[i]));
            b->tail = uint32_t(c.text.size() * unit);
            EXPECT_EQ(result(codec(c.base).decode(b->data(), c.text.size(), unit)), c.bytes) << c.base;
        }
}
