// tuple!, through Kov text: clamped byte arithmetic on 3 to 12 bytes, numbers on either side,
// colours from hexadecimal issues, making, paths, pick, reverse and comparison.
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using TupleTest = Kov;

namespace {

struct Case {
    const char* source;
    const char* result;
};

void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.result) << c.source;
}

Cell T(std::initializer_list<uint8_t> bytes) {
    Cell c{T_none, 0, 0, 0};
    return tuple::make_at(c, bytes.begin(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace

TEST_F(TupleTest, Arithmetic) {
    check({
        {"1.2.3 + 1.1.1", "2.3.4"},
        {"200.100.0 + 100", "255.200.100"},
        {"255.255.255 + 1", "255.255.255"},
        {"0.0.0 - 1", "0.0.0"},
        {"1.2.3 - 5", "0.0.0"},
        {"100.100.100 * 3", "255.255.255"},
        {"1.2.3 * 2147483647", "255.255.255"},  // beyond 32 bits clamps too
        {"1.2.3 - -2147483648", "255.255.255"},
        {"10.20.30 / 3", "3.6.10"},
        {"10.20.30 % 7", "3.6.2"},
        {"1.2.3 + 1.1.1.1", "2.3.4.1"},  // the longer length wins
        {"1.2.3.4 + 1.1.1", "2.3.4.4"},
        {"12.10.255 and 10", "8.10.10"},
        {"12.10.255 or 1.2.0", "13.10.255"},
        {"12.10.255 xor 255", "243.245.0"},
        {"5.5.5 or -1", "0.0.0"},  // a negative bitwise result clamps to 0
        {"10.20.30 * 1.5", "15.30.45"},
        {"10.20.30 * 50%", "5.10.15"},
        {"10.20.30 / 0.0", "255.255.255"},
        {"10.20.30 * -1.5", "0.0.0"},
        {"1.2.3 * 1.#NaN", "0.0.0"},
        {"1.2.3.4.5.6.7.8.9.10.11.12 + 1", "2.3.4.5.6.7.8.9.10.11.12.13"},
        {"1.2.3.4 / 1.1.1", "error: math/zero-divide"},  // the missing fourth byte is 0
        {"1.2.3 / 0", "error: math/zero-divide"},
        {"1.2.3 % 0.0.1", "error: math/zero-divide"},
        {"1.2.3 + 1x2", "error: script/invalid-type"},
        {"1.2.3 + 1:00", "error: script/invalid-type"},
        {"1.2.3 and 1.5", "error: script/expect-arg"},
    });
}

TEST_F(TupleTest, NumberOnTheLeft) {
    check({
        {"5 + 1.2.3", "6.7.8"},
        {"2 * 1.2.3", "2.4.6"},
        {"2.5 * 1.2.3", "2.5.7"},
        {"50% * 10.20.30", "5.10.15"},
        {"5 - 1.2.3", "error: script/not-related"},
        {"5 / 1.2.3", "error: script/not-related"},
        {"5 % 1.2.3", "error: script/not-related"},
        {"2.0 - 1.2.3", "error: script/not-related"},
        {"1:00 + 1.2.3", "error: script/invalid-type"},
    });
}

TEST_F(TupleTest, MakeAndText) {
    check({
        {"to tuple! #FFF", "255.255.255"},
        {"to tuple! #f80", "255.136.0"},
        {"to tuple! #00FF80", "0.255.128"},
        {"to tuple! #11223344", "17.34.51.68"},
        {"to tuple! #12345", "error: script/invalid-data"},
        {"to tuple! #12G", "error: script/invalid-data"},
        {"to tuple! #ÆÆÆ", "error: script/invalid-data"},  // no character above 127 is a digit
        {"to tuple! [1 2]", "1.2.0"},
        {"to tuple! []", "0.0.0"},
        {"make tuple! [1.9 #\"A\" 0 255.9]", "1.65.0.255"},
        {"to tuple! next [9 1 2 3]", "1.2.3"},
        {"to tuple! [1 2 3 4 5 6 7 8 9 10 11 12]", "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"to tuple! [1 2 3 4 5 6 7 8 9 10 11 12 13]", "error: script/bad-to-arg"},
        {"to tuple! [256]", "error: script/bad-to-arg"},
        {"to tuple! [-1]", "error: script/bad-to-arg"},
        {"to tuple! [1.#NaN]", "error: script/bad-to-arg"},
        {"to tuple! [a]", "error: script/bad-to-arg"},
        {"to tuple! #{0102030405}", "1.2.3.4.5"},
        {"to tuple! #{01}", "1.0.0"},
        {"to tuple! #{0102030405060708090A0B0C0D0E0F1011121314}", "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"to tuple! \"1.2.3.4\"", "1.2.3.4"},
        {"to tuple! %1.2.3", "1.2.3"},
        {"to tuple! \"1x2\"", "error: script/bad-to-arg"},
        {"to tuple! 1.2.3", "1.2.3"},
        {"to tuple! 5", "error: script/bad-to-arg"},
        {"255.0.0.128", "255.0.0.128"},
    });
}

TEST_F(TupleTest, PathsPickLengthReverse) {
    check({
        {"t: 1.2.3 reduce [t/1 t/3]", "[1 3]"},
        {"t: 1.2.3 t/2: 300 t", "1.255.3"},
        {"t: 1.2.3 t/2: -5 t", "1.0.3"},
        {"t: 1.2.3.4 t/4: none t", "1.2.3"},
        {"t: 1.2.3 t/2: none t", "1.0.0"},
        {"t: 1.2.3.4.5 t/2: none reduce [t length? t]", "[1.0.0 3]"},
        {"o: make object! [c: 1.2.3] o/c/2: 9 o/c", "1.9.3"},
        {"t: 1.2.3.4 t/5: 1", "error: script/out-of-range"},
        {"t: 1.2.3 t/0", "error: script/out-of-range"},
        {"t: 1.2.3 t/x", "error: script/invalid-type"},
        {"t: 1.2.3 t/1: 1.5", "error: script/invalid-type"},
        {"pick 1.2.3 3", "3"},
        {"pick 1.2.3 4", "error: script/out-of-range"},
        {"length? 1.2.3.4", "4"},
        {"reverse 1.2.3.4.5.6", "6.5.4.3.2.1"},
        {"reverse/skip 1.2.3.4.5.6 2", "5.6.3.4.1.2"},
        {"reverse/skip 1.2.3.4.5.6 3", "4.5.6.1.2.3"},
        {"reverse/skip 1.2.3.4 4", "1.2.3.4"},
        {"reverse/part 1.2.3.4 2", "2.1.3.4"},
        {"reverse/part 1.2.3.4 9", "4.3.2.1"},
        {"reverse/part/skip 1.2.3.4.5.6 4 2", "3.4.1.2.5.6"},
        {"reverse/skip 1.2.3.4.5.6 4", "error: script/invalid-refine-arg"},
        {"reverse/part/skip 1.2.3.4.5.6 5 2", "error: script/invalid-refine-arg"},
        {"reverse/skip 1.2.3.4 0", "error: script/out-of-range"},
        {"reverse/part 1.2.3.4 -1", "error: script/out-of-range"},
        {"reverse/part 1.2.3.4 \"ab\"", "error: script/invalid-refine-arg"},
    });
}

TEST_F(TupleTest, ComplementAndZero) {
    Cell t = T({0, 255, 15, 1});
    actions::lookup<actions::slot::complement>(T_tuple)(&t);
    EXPECT_EQ(tuple::length(t), 4u);
    EXPECT_EQ(tuple::byte_at(t, 0), 255);
    EXPECT_EQ(tuple::byte_at(t, 2), 240);
    EXPECT_EQ(tuple::byte_at(t, 3), 254);
    EXPECT_EQ(tuple::byte_at(t, 4), 0);  // past the length nothing changes

    EXPECT_TRUE(tuple::all_zero_q(T({0, 0, 0, 0})));
    EXPECT_FALSE(tuple::all_zero_q(T({0, 0, 0, 1})));
}

TEST_F(TupleTest, Constructors) {
    Cell c{T_integer | cell::new_line, 0, 0, 0};
    tuple::make_rgba(c, 1, 2, 3, -1);
    EXPECT_EQ(c.header, T_tuple | 3u << tuple::length_shift);
    tuple::make_rgba(c, 1, 2, 3, 4);
    EXPECT_EQ(tuple::length(c), 4u);
    EXPECT_EQ(tuple::byte_at(c, 3), 4);

    int32_t values[] = {258, 7};
    stack::Mark mark;
    Cell* p = tuple::push_from_ints(2, values);
    EXPECT_EQ(tuple::length(*p), 3u);
    EXPECT_EQ(tuple::byte_at(*p, 0), 2);  // the low byte
    EXPECT_EQ(tuple::byte_at(*p, 1), 7);
    EXPECT_EQ(tuple::byte_at(*p, 2), 0);
}

TEST_F(TupleTest, Comparison) {
    struct Row {
        Cell a, b;
        int32_t op;
        int32_t result;
    } rows[] = {
        {T({1, 2, 3}), T({1, 2, 3, 0}), actions::equal, 0},
        {T({1, 2, 3}), T({1, 2, 3, 1}), actions::lesser, -1},
        {T({1, 2, 10}), T({1, 2, 9}), actions::greater, 1},
        {T({1, 2, 3}), integer::make(1), actions::equal, actions::not_comparable},
    };
    for (Row& r : rows) EXPECT_EQ(actions::compare_direct(r.a, r.b, r.op), r.result) << "row " << (&r - rows);
    check({
        {"sort [1.2.10 1.2.9 1.2.3.4]", "[1.2.3.4 1.2.9 1.2.10]"},
        {"1.2.3 = 1.2.3.0", "true"},
        {"1.2.3 < 1.2.3.1", "true"},
        {"1.2.3 = 1", "false"},
    });
}
