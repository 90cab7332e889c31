// integer! and the unit types, through their action slots.
#include <cmath>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

using IntegerTest = Runtime;

namespace {
Cell F(double d) {
    Cell c{T_float_, 0, 0, 0};
    cell::set_double(c, d);
    return c;
}

// Runs an arithmetic slot on copies and gives the result.
Cell math(actions::Slot slot, Cell a, Cell b) {
    using Fn = Cell* (*)(Cell*, Cell*);
    auto fn = reinterpret_cast<Fn>(actions::table[cell::type(a)][slot]);
    return *fn(&a, &b);
}

std::string show(const Cell& c) {
    if (cell::is(c, T_float_)) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "float %.17g", cell::get_double(c));
        return buf;
    }
    if (cell::is(c, T_integer)) return "integer " + std::to_string(integer::get(c));
    return "type " + std::to_string(cell::type(c));
}
}  // namespace

TEST_F(IntegerTest, ArithmeticOverflowsIntoFloat) {
    struct Row {
        actions::Slot slot;
        int32_t a, b;
        const char* result;
    } rows[] = {
        {actions::slot::add, 2147483647, 1, "float 2147483648"},
        {actions::slot::subtract, -2147483647 - 1, 1, "float -2147483649"},
        {actions::slot::multiply, 65536, 65536, "float 4294967296"},
        {actions::slot::add, 1, 2, "integer 3"},
        {actions::slot::divide, 7, 2, "float 3.5"},
        {actions::slot::divide, 6, 2, "integer 3"},
        {actions::slot::remainder, -7, 2, "integer -1"},
        {actions::slot::remainder, 7, -1, "integer 0"},
        {actions::slot::and_t, 12, 10, "integer 8"},
        {actions::slot::or_t, 12, 10, "integer 14"},
        {actions::slot::xor_t, 12, 10, "integer 6"},
    };
    for (auto& r : rows) EXPECT_EQ(show(math(r.slot, I(r.a), I(r.b))), r.result) << r.a << " " << r.b;
    EXPECT_EQ(error_of([] { math(actions::slot::divide, I(1), I(0)); }), "math/zero-divide");
    EXPECT_EQ(error_of([] { math(actions::slot::remainder, I(1), I(0)); }), "math/zero-divide");
    // The one quotient that has no 32-bit answer, and its remainder, are refused.
    EXPECT_EQ(error_of([] { math(actions::slot::divide, I(-2147483647 - 1), I(-1)); }), "math/overflow");
    EXPECT_EQ(error_of([] { math(actions::slot::remainder, I(-2147483647 - 1), I(-1)); }), "math/overflow");
    EXPECT_EQ(error_of([] { math(actions::slot::add, I(1), Cell{T_none, 0, 0, 0}); }), "script/invalid-type");
    // A char! on the right computes with its code point.
    EXPECT_EQ(show(math(actions::slot::add, I(1), Cell{T_char_, 0, 97, 0})), "integer 98");
}

TEST_F(IntegerTest, UnaryActionsAndPower) {
    auto unary = [](actions::Slot slot, int32_t v) {
        Cell c = I(v);
        reinterpret_cast<Cell* (*)(Cell*)>(actions::table[T_integer][slot])(&c);
        return c;
    };
    EXPECT_EQ(integer::get(unary(actions::slot::negate, 5)), -5);
    EXPECT_EQ(integer::get(unary(actions::slot::absolute, -5)), 5);
    EXPECT_EQ(integer::get(unary(actions::slot::complement, 0)), -1);
    EXPECT_EQ(error_of([&] { unary(actions::slot::absolute, -2147483647 - 1); }), "math/overflow");
    EXPECT_EQ(error_of([&] { unary(actions::slot::negate, -2147483647 - 1); }), "math/overflow");

    EXPECT_EQ(show(math(actions::slot::power, I(65536), I(1))), "integer 65536");
    EXPECT_EQ(show(math(actions::slot::power, I(2), I(31))), "float 2147483648");
    EXPECT_EQ(show(math(actions::slot::power, I(2), I(-1))), "float 0.5");
    EXPECT_EQ(show(math(actions::slot::power, I(3), I(4))), "integer 81");
    EXPECT_EQ(show(math(actions::slot::power, I(-2), I(31))), "integer -2147483648");
    EXPECT_EQ(error_of([] { math(actions::slot::power, I(2), Cell{T_none, 0, 0, 0}); }), "script/expect-arg");
    Cell two = I(2);
    EXPECT_TRUE(actions::lookup<actions::slot::even_q>(T_integer)(&two));
    EXPECT_FALSE(actions::lookup<actions::slot::odd_q>(T_integer)(&two));
}

TEST_F(IntegerTest, RoundTable) {
    auto round = [](int32_t v, int32_t scale, const char* how) {
        Cell n = I(v), s = I(scale);
        std::string h = how;
        RoundArgs r{.even = h == "even", .down = h == "down", .half_down = h == "half-down", .floor = h == "floor",
                    .ceiling = h == "ceiling", .half_ceiling = h == "half-ceiling"};
        actions::lookup<actions::slot::round>(T_integer)(&n, &s, r);
        return integer::get(n);
    };
    struct Row {
        int32_t v, scale;
        const char* how;
        int32_t result;
    } rows[] = {
        {17, 5, "", 15},         {18, 5, "", 20},          {-18, 5, "", -20},        {25, 10, "even", 20},
        {35, 10, "even", 40},    {25, 10, "half-down", 20}, {-11, 5, "floor", -15},  {-11, 5, "ceiling", -10},
        {11, 5, "floor", 10},    {11, 5, "ceiling", 15},   {7, 0, "", 7},            {-25, 10, "", -30},
        {-25, 10, "half-ceiling", -20}, {25, 10, "half-ceiling", 30}, {19, 5, "down", 15}, {-19, 5, "down", -15},
        {-2147483647 - 1, 7, "", -2147483647 - 1},
    };
    for (auto& r : rows) EXPECT_EQ(round(r.v, r.scale, r.how), r.result) << r.v << " " << r.scale << " " << r.how;
    EXPECT_EQ(error_of([&] { round(2147483646, 10, ""); }), "math/overflow");
}

TEST_F(IntegerTest, ToInteger) {
    auto to = [](const Cell& spec) {
        Cell s = spec;
        Cell proto{T_datatype, T_integer, 0, 0};
        return *actions::lookup<actions::slot::to>(T_integer)(&proto, &s, T_integer);
    };
    EXPECT_EQ(integer::get(to(F(2.999))), 2);
    EXPECT_EQ(integer::get(to(F(-2.999))), -2);
    EXPECT_EQ(error_of([&] { to(F(1e10)); }), "script/type-limit");
    EXPECT_EQ(error_of([&] { to(F(std::nan(""))); }), "script/type-limit");
    Cell t{T_time, 0, 0, 0};
    cell::set_double(t, 1.5);
    EXPECT_EQ(integer::get(to(t)), 2);
    cell::set_double(t, -1.5);
    EXPECT_EQ(integer::get(to(t)), -1);
    EXPECT_EQ(integer::get(to(*str("12"))), 12);
    EXPECT_EQ(integer::get(to(*str("-2147483648"))), -2147483647 - 1);
    EXPECT_EQ(error_of([&] { to(*str("2147483648")); }), "script/bad-to-arg");
    EXPECT_EQ(error_of([&] { to(*str("12a")); }), "script/bad-to-arg");
    EXPECT_EQ(error_of([&] { to(*str("")); }), "script/bad-to-arg");

    auto binary = [&](std::initializer_list<uint8_t> bytes) {
        memory::Node n = memory::alloc_bytes(bytes.size());
        memory::Buffer* b = memory::buffer(n);
        for (uint8_t x : bytes) b->data()[b->tail++] = x;
        return integer::get(to(Cell{T_binary, 0, n, 0}));
    };
    EXPECT_EQ(binary({1, 2}), 258);
    EXPECT_EQ(binary({1, 2, 3, 4, 5}), 16909060);
    EXPECT_EQ(binary({}), 0);
    EXPECT_EQ(integer::get(to(Cell{T_char_, 0, 65, 0})), 65);
    EXPECT_EQ(error_of([&] { to(Cell{T_none, 0, 0, 0}); }), "script/bad-to-arg");
}

TEST_F(IntegerTest, FormAndCompare) {
    EXPECT_EQ(form(I(-2147483647 - 1)), "-2147483648");
    EXPECT_EQ(form(I(0)), "0");
    EXPECT_EQ(mold(I(42)), "42");
    Cell A{T_char_, 0, 65, 0};
    EXPECT_EQ(compare_raw(I(65), A, actions::equal), 0);
    EXPECT_EQ(compare_raw(I(65), A, actions::strict_equal), 1);
    EXPECT_EQ(compare_raw(I(1), I(2), actions::lesser), -1);
    EXPECT_EQ(compare_raw(I(-2147483647 - 1), I(1), actions::lesser), -1);  // no wrap in the difference
    EXPECT_EQ(compare_raw(I(1), Cell{T_none, 0, 0, 0}, actions::lesser), actions::not_comparable);
}

TEST_F(IntegerTest, UnitTypes) {
    Cell t = logic::true_value, f = logic::false_value, n = none::value, u = unset::value;
    EXPECT_EQ(form(t), "true");
    EXPECT_EQ(mold(f, true), "#(false)");
    EXPECT_EQ(mold(n, true), "#(none)");
    EXPECT_EQ(form(n), "none");
    EXPECT_EQ(form(u), "");
    EXPECT_EQ(mold(u), "unset");
    Cell dt{T_datatype, T_integer, 0, 0};
    EXPECT_EQ(form(dt), "integer");
    EXPECT_EQ(mold(dt, true), "#(integer!)");
    EXPECT_GT(compare_raw(t, f, actions::equal), 0);  // true is greater than false
    EXPECT_EQ(compare_raw(n, n, actions::lesser), actions::not_comparable);
    EXPECT_EQ(compare_raw(dt, dt, actions::equal), 0);

    auto to_logic = [](const Cell& spec, bool make) {
        Cell s = spec, proto{T_datatype, T_logic, 0, 0};
        auto fn = make ? actions::lookup<actions::slot::make>(T_logic) : actions::lookup<actions::slot::to>(T_logic);
        return fn(&proto, &s, T_logic)->w1 != 0;
    };
    EXPECT_TRUE(to_logic(I(0), false));
    EXPECT_FALSE(to_logic(I(0), true));
    EXPECT_FALSE(to_logic(F(0.0), true));
    EXPECT_TRUE(to_logic(F(std::nan("")), true));
    EXPECT_FALSE(to_logic(n, false));
    EXPECT_TRUE(to_logic(u, false));

    Cell c = t;
    actions::lookup<actions::slot::complement>(T_logic)(&c);
    EXPECT_EQ(c.w1, 0u);
    Cell x = t, y = I(1);
    EXPECT_EQ(error_of([&] { actions::lookup<actions::slot::and_t>(T_logic)(&x, &y); }), "script/expect-arg");

    // Truth tests: none and false are false, unset! raises when asked to.
    EXPECT_FALSE(logic::true_value_q(n, true, nullptr));
    EXPECT_TRUE(logic::true_value_q(I(0), true, nullptr));
    EXPECT_EQ(error_of([&] { logic::true_value_q(u, true, nullptr); }), "script/no-value");
    EXPECT_TRUE(logic::true_value_q(u, false, nullptr));
    // none answers none to find, select, take, clear, remove and length?.
    Cell none_series = n;
    EXPECT_TRUE(cell::is(*actions::lookup<actions::slot::length_q>(T_none)(&none_series), T_none));
}
