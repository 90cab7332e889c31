// char! through its action slots: bounded arithmetic, conversions, form and the molded escapes.
#include <cmath>

#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

using CharTest = Runtime;

namespace {

Cell C(int32_t cp) { return char_::make(cp); }
Cell F(double d) { return float_::make(d); }

Cell math(actions::Slot slot, Cell a, Cell b) {
    using Fn = Cell* (*)(Cell*, Cell*);
    auto fn = reinterpret_cast<Fn>(actions::table[cell::type(a)][slot]);
    return *fn(&a, &b);
}

std::string show(const Cell& c) {
    if (cell::is(c, T_char_)) return "char " + std::to_string(char_::get(c));
    if (cell::is(c, T_integer)) return "integer " + std::to_string(integer::get(c));
    return "type " + std::to_string(cell::type(c));
}

Cell to(const Cell& spec) {
    Cell s = spec;
    Cell proto{T_datatype, T_char_, 0, 0};
    return *actions::lookup<actions::slot::to>(T_char_)(&proto, &s, T_char_);
}

}  // namespace

TEST_F(CharTest, ArithmeticStaysInTheCodePointRange) {
    using namespace actions::slot;
    struct Row {
        actions::Slot slot;
        Cell a, b;
        const char* result;
    } rows[] = {
        {add, C('a'), I(1), "char 98"},
        {multiply, C('a'), I(2), "char 194"},
        {divide, C('a'), I(2), "char 48"},  // truncated, never a float!
        {add, C('a'), F(1.7), "char 98"},
        {subtract, C('a'), F(-1.7), "char 98"},
        {add, C('a'), C(1), "char 98"},
        {actions::slot::remainder, C('a'), I(10), "char 7"},
        {and_t, C('a'), I(0xDF), "char 65"},
        {or_t, C('A'), I(0x20), "char 97"},
        {xor_t, C('a'), I(0x20), "char 65"},
        {subtract, C('a'), I(97), "char 0"},
        {add, C(0x10FFFE), I(1), "char 1114111"},
        // integer! on the left keeps integer!'s math.
        {add, I(1), C('a'), "integer 98"},
    };
    for (const Row& r : rows) EXPECT_EQ(show(math(r.slot, r.a, r.b)), r.result) << show(r.a) << " " << show(r.b);

    struct Bad {
        actions::Slot slot;
        Cell a, b;
        const char* error;
    } bad[] = {
        {subtract, C('a'), I(98), "math/overflow"},
        {add, C(0x10FFFF), I(1), "math/overflow"},
        {multiply, C(0x10FFFF), I(0x10FFFF), "math/overflow"},  // overflows 32 bits on the way
        {add, C('a'), I(2147483647), "math/overflow"},
        {add, C('a'), F(1e10), "math/overflow"},                // no 32-bit value to add
        {add, C('a'), F(std::nan("")), "math/overflow"},
        {xor_t, C('a'), I(-1), "math/overflow"},
        {divide, C('a'), I(0), "math/zero-divide"},
        {actions::slot::remainder, C('a'), C(0), "math/zero-divide"},
        {add, C('a'), percent::make(0.5), "script/invalid-type"},
        {add, C('a'), Cell{T_time, 0, 0, 0}, "script/invalid-type"},
        {add, C('a'), Cell{T_none, 0, 0, 0}, "script/invalid-type"},
    };
    for (const Bad& r : bad) EXPECT_EQ(error_of([&] { math(r.slot, r.a, r.b); }), r.error) << show(r.b);

    // Slots taken from integer! work on the code point and keep the type.
    Cell c = C('b');
    EXPECT_TRUE(actions::lookup<actions::slot::even_q>(T_char_)(&c));
    EXPECT_FALSE(actions::lookup<actions::slot::odd_q>(T_char_)(&c));
    EXPECT_EQ(show(*actions::lookup<actions::slot::absolute>(T_char_)(&c)), "char 98");
    EXPECT_TRUE(actions::lookup<actions::slot::negate>(T_char_) == nullptr);
    EXPECT_TRUE(actions::lookup<actions::slot::round>(T_char_) == nullptr);
}

TEST_F(CharTest, MoldedEscapes) {
    struct Row {
        int32_t cp;
        const char* mold;
        const char* mold_all;
    } rows[] = {
        {0, "#\"^@\"", "#\"^@\""},
        {1, "#\"^A\"", "#\"^A\""},
        {8, "#\"^H\"", "#\"^H\""},
        {9, "#\"^-\"", "#\"^-\""},
        {10, "#\"^/\"", "#\"^/\""},
        {11, "#\"^K\"", "#\"^K\""},
        {26, "#\"^Z\"", "#\"^Z\""},
        {27, "#\"^[\"", "#\"^[\""},
        {28, "#\"^\\\"", "#\"^\\\""},
        {29, "#\"^]\"", "#\"^]\""},
        {30, "#\"^(1E)\"", "#\"^(1E)\""},
        {31, "#\"^_\"", "#\"^_\""},
        {'"', "#\"^\"\"", "#\"^\"\""},
        {'^', "#\"^^\"", "#\"^^\""},
        {127, "#\"^~\"", "#\"^~\""},
        {128, "#\"^(80)\"", "#\"^(80)\""},
        {159, "#\"^(9F)\"", "#\"^(9F)\""},
        {' ', "#\" \"", "#\" \""},
        {'a', "#\"a\"", "#\"a\""},
        {'{', "#\"{\"", "#\"{\""},
        {0xE9, "#\"\u00e9\"", "#\"^(E9)\""},
        {0x263A, "#\"\u263a\"", "#\"^(263A)\""},
        {0x1F600, "#\"\U0001F600\"", "#\"^(1F600)\""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(mold(C(r.cp)), r.mold) << r.cp;
        EXPECT_EQ(mold(C(r.cp), true), r.mold_all) << r.cp;
    }

    // The part limit drops by 4 whatever the escape's length; form by 1.
    Cell* out = string::push(8, 1);
    Cell v = C(30);
    EXPECT_EQ(actions::lookup<actions::slot::mold>(T_char_)(&v, out, MoldArgs{}, 10), 6);
    EXPECT_EQ(actions::lookup<actions::slot::form>(T_char_)(&v, out, nullptr, 10), 9);
}

TEST_F(CharTest, FormAppendsTheCharacter) {
    EXPECT_EQ(form(C('\n')), "\n");
    EXPECT_EQ(form(C(0x263A)), "\u263a");
    Cell* out = str("ab");
    Cell v = C(0x1F600);
    actions::lookup<actions::slot::form>(T_char_)(&v, out, nullptr, 10);
    EXPECT_EQ(unit_of(*out), 4u);  // the output widens
    EXPECT_EQ(text(*out), "ab\U0001F600");
}

TEST_F(CharTest, MakeToAndCompare) {
    EXPECT_EQ(show(to(I(65))), "char 65");
    EXPECT_EQ(show(to(C(0x10FFFF))), "char 1114111");
    EXPECT_EQ(show(to(F(65.9))), "char 65");
    EXPECT_EQ(show(to(percent::make(66.5))), "char 66");
    EXPECT_EQ(show(to(*str("abc"))), "char 97");
    EXPECT_EQ(show(to(*str("\u263a"))), "char 9786");
    Cell second = *str("abc");
    second.w1 = 1;
    EXPECT_EQ(show(to(second)), "char 98");
    Cell make_spec = I(66), proto{T_datatype, T_char_, 0, 0};
    EXPECT_EQ(show(*actions::lookup<actions::slot::make>(T_char_)(&proto, &make_spec, T_char_)), "char 66");

    for (const Cell& bad : {I(-1), I(1114112), F(-0.5 - 1), F(1e10), F(std::nan("")), F(1114112.0)})
        EXPECT_EQ(error_of([&] { to(bad); }), "script/out-of-range");
    EXPECT_EQ(error_of([] { to(*str("")); }), "script/bad-to-arg");
    Cell past = *str("a");
    past.w1 = 1;
    EXPECT_EQ(error_of([&] { to(past); }), "script/bad-to-arg");
    EXPECT_EQ(error_of([] { to(Cell{T_none, 0, 0, 0}); }), "script/bad-to-arg");

    // Nothing allocates between making the binary and converting it.
    auto binary = [](std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
        memory::Node n = memory::alloc_bytes(bytes.size());
        memory::Buffer* b = memory::buffer(n);
        for (uint8_t x : bytes) b->data()[b->tail++] = x;
        return Cell{T_binary, index, n, 0};
    };
    EXPECT_EQ(show(to(binary({0xC3, 0xA9}))), "char 233");
    EXPECT_EQ(show(to(binary({'x', 0xF0, 0x9F, 0x98, 0x80}, 1))), "char 128512");
    EXPECT_EQ(show(to(binary({'A', 0xFF}))), "char 65");
    EXPECT_EQ(error_of([&] { to(binary({0xE2, 0x98})); }), "script/bad-to-arg");  // cut by the tail
    EXPECT_EQ(error_of([&] { to(binary({})); }), "script/bad-to-arg");
    EXPECT_EQ(error_of([&] { to(binary({'a'}, 1)); }), "script/bad-to-arg");
    EXPECT_EQ(error_of([&] { to(binary({0xC3, 'a'})); }), "access/invalid-utf8");

    EXPECT_EQ(compare_raw(C('A'), I(65), actions::equal), 0);
    EXPECT_EQ(compare_raw(C('A'), I(65), actions::strict_equal), 1);
    EXPECT_EQ(compare_raw(C('A'), I(65), actions::find_equal), 1);
    EXPECT_EQ(compare_raw(C('a'), C('A'), actions::equal), 1);
    EXPECT_EQ(compare_raw(C('a'), C('b'), actions::lesser), -1);
    EXPECT_EQ(compare_raw(C('a'), F(97.0), actions::equal), actions::not_comparable);
}
