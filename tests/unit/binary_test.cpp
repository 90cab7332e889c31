// binary!: the routines other modules call (the text form and its options, byte comparison,
// parse matches, the byte-buffer helpers), directly. The cases written in Kov are in
// tests/kov/binary.kov.
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using BinaryTest = Kov;

namespace {

std::string hex_of(int from, int to) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (int i = from; i < to; ++i) {
        s += digits[(i >> 4) & 15];
        s += digits[i & 15];
    }
    return s;
}

Cell* bytes(std::initializer_list<uint8_t> b) {
    std::vector<uint8_t> v(b);
    return binary::load(v.data(), v.size());
}

}  // namespace

TEST_F(BinaryTest, TextFormOptions) {
    Cell* b = bytes({});
    for (int i = 0; i < 33; ++i) {
        uint8_t x = static_cast<uint8_t>(i);
        binary::append_bytes(*b, &x, 1);
    }
    auto text_of = [&](bool only, bool flat, bool limited, int32_t budget, int32_t level, int32_t* left = nullptr) {
        Cell* out = string::push(16, 1);
        int32_t r = binary::form_hex(*b, *out, only, flat, limited, budget, level);
        if (left) *left = r;
        return text(*out);
    };
    // Indented one level deeper than the level given, the brace at the level itself.
    EXPECT_EQ(text_of(false, false, false, 1000, 1),
              "#{\n        " + hex_of(0, 32) + "\n        " + hex_of(32, 33) + "\n    }");
    EXPECT_EQ(text_of(false, true, false, 1000, 1), "#{" + hex_of(0, 33) + "}");
    EXPECT_EQ(text_of(true, true, false, 1000, 0), hex_of(0, 33));
    // The budget counts every character; writing stops once it falls below 1.
    int32_t left = 0;
    EXPECT_EQ(text_of(false, true, true, 7, 0, &left), "#{000102");
    EXPECT_EQ(left, -1);
    EXPECT_EQ(text_of(false, true, false, 100, 0, &left), "#{" + hex_of(0, 33) + "}");
    EXPECT_EQ(left, 100 - 69);
    // form is the text at level 0.
    EXPECT_EQ(form(*bytes({1, 2})), "#{0102}");
}

TEST_F(BinaryTest, CompareBytes) {
    using namespace kov::actions;
    // The routine itself compares any-string values by their UTF-8 bytes.
    Cell* ab = bytes({0xC3, 0xA9, 'x'});
    EXPECT_EQ(binary::compare_bytes(*ab, *str("\u00e9x"), equal, false), 0);
    EXPECT_EQ(binary::compare_bytes(*ab, *str("\u00e9"), equal, true), 0);
    EXPECT_NE(binary::compare_bytes(*ab, *str("x"), equal, true), 0);
    EXPECT_EQ(binary::compare_bytes(*ab, integer::make(1), equal, false), not_comparable);
}

TEST_F(BinaryTest, ParseMatches) {
    using namespace kov::actions;
    Cell* b = bytes({'a', 'b', 'c'});
    EXPECT_TRUE(binary::equal_or_char_q(*b, *bytes({'a', 'b'}), equal));
    EXPECT_TRUE(binary::equal_or_char_q(*b, *str("abc"), equal));
    EXPECT_FALSE(binary::equal_or_char_q(*b, *str("abcd"), equal));  // longer than the bytes
    EXPECT_FALSE(binary::equal_or_char_q(*b, *str("b"), equal));
    EXPECT_TRUE(binary::equal_or_char_q(*b, Cell{T_char_, 0, 'a', 0}, equal));
    EXPECT_FALSE(binary::equal_or_char_q(*b, Cell{T_char_, 0, 'b', 0}, equal));
    EXPECT_FALSE(binary::equal_or_char_q(*b, integer::make(97), equal));
    Cell at_tail = *b;
    at_tail.w1 = 3;
    EXPECT_FALSE(binary::equal_or_char_q(at_tail, Cell{T_char_, 0, 'a', 0}, equal));

    // A bitset of 16 bits holding bit 'a' & 15 = 1: bytes 0x40 0x00; bits past it follow
    // the complement flag.
    Cell* bits = bytes({0x40, 0x00});
    cell::set_type(*bits, T_bitset);
    Cell* one = bytes({1});
    Cell* two = bytes({2});
    Cell* high = bytes({'a'});
    EXPECT_TRUE(binary::bit_set_q(*one, *bits));
    EXPECT_FALSE(binary::bit_set_q(*two, *bits));
    EXPECT_FALSE(binary::bit_set_q(*high, *bits));
    memory::buffer(bits->w2)->flags |= 0x80000;
    EXPECT_TRUE(binary::bit_set_q(*high, *bits));
    EXPECT_FALSE(binary::bit_set_q(at_tail, *bits));
}

TEST_F(BinaryTest, ByteBufferRoutines) {
    Cell* b = bytes({1, 2});
    uint8_t more[] = {3, 4};
    binary::append_bytes(*b, more, 2);
    binary::append_int32_be(0x0A0B0C0D, *b);
    EXPECT_EQ(mold(*b), "#{010203040A0B0C0D}");
    b->w1 = 1;
    uint8_t ins[] = {0xEE, 0xFF};
    binary::insert_bytes(*b, 1, ins, 2);  // offset from the head index
    b->w1 = 0;
    EXPECT_EQ(mold(*b), "#{0102EEFF03040A0B0C0D}");
    EXPECT_EQ(binary::length(*b), 10u);
    EXPECT_EQ(binary::byte_at(*b, 2), 0xEE);
    // Growing a full buffer keeps everything.
    for (int i = 0; i < 200; ++i) binary::insert_bytes(*b, 0, ins, 2);
    EXPECT_EQ(binary::length(*b), 410u);
    EXPECT_EQ(binary::byte_at(*b, 409), 0x0D);

    uint8_t x = 0;
    binary::byte_of_value(&x, integer::make(300));
    EXPECT_EQ(x, 44);
    binary::byte_of_value(&x, Cell{T_char_, 0, 0x20AC, 0});
    EXPECT_EQ(x, 0xAC);
    EXPECT_EQ(error_of([&] { binary::byte_of_value(&x, none::value); }), "script/invalid-arg");

    // Measuring and writing agree, and writing stays within the room given.
    Cell* text = str("h\u00e9llo");
    EXPECT_EQ(binary::insert_value(nullptr, *text, -1, false, binary::measure_mode), 6u);
    EXPECT_EQ(binary::insert_value(nullptr, *text, 2, false, binary::measure_mode), 2u);
    Cell* out = binary::push(16);
    binary::Target t{out->w2, 0, 3};
    binary::insert_value(&t, *text, -1, false, binary::write_mode);
    memory::buffer(out->w2)->tail = 3;
    EXPECT_EQ(mold(*out), "#{68C3A9}");
    EXPECT_EQ(error_of([&] { binary::insert_value(nullptr, Cell{T_float_, 0, 0, 0}, -1, false, binary::measure_mode); }),
              "script/bad-to-arg");
}

