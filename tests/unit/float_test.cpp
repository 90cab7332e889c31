// float! and percent!, and integer! mixed with them, through their action slots.
#include <bit>
#include <cstring>
#include <cmath>
#include <limits>
#include <random>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

using FloatTest = Runtime;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double not_a_number = std::nan("");

Cell F(double d) { return float_::make(d); }
Cell P(double d) { return percent::make(d); }
Cell time_cell(double seconds) {
    Cell c{T_time, 0, 0, 0};
    cell::set_double(c, seconds);
    return c;
}

class PrettyGuard {
  public:
    explicit PrettyGuard(bool on) : saved_(float_::pretty_q()) { float_::set_pretty(on); }
    ~PrettyGuard() { float_::set_pretty(saved_); }

  private:
    bool saved_;
};

Cell math(actions::Slot slot, Cell a, Cell b) {
    using Fn = Cell* (*)(Cell*, Cell*);
    auto fn = reinterpret_cast<Fn>(actions::table[cell::type(a)][slot]);
    return *fn(&a, &b);
}

// The type and the value, as one comparable text.
std::string show(const Cell& c) {
    char buf[64];
    switch (cell::type(c)) {
    case T_float_: std::snprintf(buf, sizeof buf, "float %.17g", cell::get_double(c)); break;
    case T_percent: std::snprintf(buf, sizeof buf, "percent %.17g", cell::get_double(c)); break;
    case T_time: std::snprintf(buf, sizeof buf, "time %.17g", cell::get_double(c)); break;
    case T_integer: std::snprintf(buf, sizeof buf, "integer %d", integer::get(c)); break;
    default: std::snprintf(buf, sizeof buf, "type %u", cell::type(c)); break;
    }
    return buf;
}

Cell to(uint32_t target, const Cell& spec, bool make = false) {
    Cell s = spec;
    Cell proto{T_datatype, target, 0, 0};
    auto fn = make ? actions::lookup<actions::slot::make>(target) : actions::lookup<actions::slot::to>(target);
    return *fn(&proto, &s, target);
}

Cell round(Cell n, const Cell* scale, const std::string& how) {
    Cell s = scale ? *scale : Cell{};
    RoundArgs r{.even = how == "even", .down = how == "down", .half_down = how == "half-down",
                .floor = how == "floor", .ceiling = how == "ceiling", .half_ceiling = how == "half-ceiling"};
    actions::lookup<actions::slot::round>(cell::type(n))(&n, scale ? &s : nullptr, r);
    return n;
}

}  // namespace

TEST_F(FloatTest, FormAndMoldTables) {
    struct Row {
        Cell value;
        const char* form;
        const char* mold;
    } rows[] = {
        {F(1.0), "1.0", "1.0"},
        {F(1e20), "1.0e20", "1.0e20"},
        {F(1.5e-7), "1.5e-7", "0.00000015"},
        {F(0.1 + 0.2), "0.3", "0.30000000000000004"},
        {F(4.35 * 100), "435.0", "434.99999999999994"},
        {F(-0.0), "0.0", "-0.0"},
        {F(1e-17), "0.0", "1.0e-17"},
        {F(inf), "1.#INF", "1.#INF"},
        {F(-inf), "-1.#INF", "-1.#INF"},
        {F(not_a_number), "1.#NaN", "1.#NaN"},
        {F(-not_a_number), "1.#NaN", "1.#NaN"},
        {F(4.9e-324), "0.0", "5.0e-324"},                               // the smallest denormal
        {F(2.2250738585072009e-308), "0.0", "2.225073858507201e-308"},  // the largest denormal
        {F(1.7976931348623157e308), "1.797693134862316e308", "1.7976931348623157e308"},
        {F(100000.0), "100000.0", "100000.0"},
        {P(0.125), "12.5%", "12.5%"},
        {P(0.5), "50%", "50%"},
        {P(0.005), "0.5%", "0.5%"},
        {P(-0.0), "0%", "0%"},
        {P(inf), "1.#INF", "1.#INF"},
        {P(not_a_number), "1.#NaN", "1.#NaN"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(form(r.value), r.form) << r.mold;
        EXPECT_EQ(mold(r.value), r.mold) << r.form;
    }
    // The pretty? switch off: binary tails and tiny magnitudes print as they are; mold never
    // depends on it.
    PrettyGuard off(false);
    EXPECT_EQ(form(F(4.35 * 100)), "434.9999999999999");
    EXPECT_EQ(form(F(0.1 + 0.2)), "0.3");
    EXPECT_EQ(form(F(1e-17)), "1.0e-17");
    EXPECT_EQ(form(F(4.9e-324)), "4.940656458412465e-324");
    EXPECT_EQ(mold(F(4.35 * 100)), "434.99999999999994");
}

TEST_F(FloatTest, FormAndMoldLowerThePartLimit) {
    Cell* out = string::push(16, 1);
    Cell v = F(12.5);
    EXPECT_EQ(actions::lookup<actions::slot::form>(T_float_)(&v, out, nullptr, 10), 6);
    EXPECT_EQ(actions::lookup<actions::slot::mold>(T_float_)(&v, out, MoldArgs{}, 10), 6);
    Cell p = P(0.125);
    EXPECT_EQ(actions::lookup<actions::slot::mold>(T_percent)(&p, out, MoldArgs{}, 10), 5);
    EXPECT_EQ(text(*out), "12.512.512.5%");
}

TEST_F(FloatTest, MoldReadsBackAsTheSameDouble) {
    // Random bit patterns cover every exponent, denormals and the special values alike.
    std::mt19937_64 rng(20240611);
    Cell* out = string::push(64, 1);
    auto mold_fn = actions::lookup<actions::slot::mold>(T_float_);
    for (int i = 0; i < 100000; ++i) {
        double x = std::bit_cast<double>(rng());
        string::truncate_at(out->w2, 0);
        Cell v = F(x);
        mold_fn(&v, out, MoldArgs{}, 0x7FFFFFFF);
        std::string t = text(*out);
        std::size_t left = 99;
        double back = dtoa::parse(t.data(), t.data() + t.size(), 0, left);
        ASSERT_EQ(left, 0u) << t;
        if (std::isnan(x)) {
            ASSERT_TRUE(std::isnan(back)) << t;
        } else {
            ASSERT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(x)) << t;
        }
    }
}

TEST_F(FloatTest, ComparisonCodes) {
    using namespace actions;
    double third = 0.1 + 0.2;
    double ten_up = 0.3;
    for (int i = 0; i < 10; ++i) ten_up = std::nextafter(ten_up, 1.0);
    double eleven_up = std::nextafter(ten_up, 1.0);
    struct Row {
        Cell a, b;
        int32_t op;
        int32_t answer;
    } rows[] = {
        // Near-equality for equal? and not-equal?; exactness for strict-equal? and same?.
        {F(third), F(0.3), equal, 0},
        {F(third), F(0.3), not_equal, 0},
        {F(third), F(0.3), strict_equal, 1},
        {F(0.3), F(ten_up), equal, 0},
        {F(0.3), F(eleven_up), equal, 1},
        {F(-0.3), F(-ten_up), equal, 0},
        {F(1e-17), F(0.0), equal, 0},             // closer than the epsilon
        {F(1e-300), F(-1e-300), equal, 0},
        {F(1.0), F(1.0000001), equal, 1},
        {F(0.0), F(-0.0), strict_equal, 0},
        {F(0.0), F(-0.0), same, 1},
        {F(1.5), F(1.5), same, 0},
        {F(1.0), P(1.0), equal, 0},
        {F(1.0), P(1.0), strict_equal, 1},       // different types are never strictly equal
        {F(1.0), P(1.0), same, 1},
        {F(1.0), I(1), equal, 0},
        {F(1.0), I(1), find_equal, 1},
        {I(1), F(1.0), equal, 0},                // integer! hands the comparison to float!
        {I(1), F(1.0), strict_equal, 1},
        {I(2), F(2.5), lesser, -1},
        {I(3), P(2.5), greater, 1},
        {F(inf), F(1.7976931348623157e308), equal, 0},  // one representable step apart
        {F(inf), F(-inf), equal, 1},
        {F(1.0), time_cell(1.0), equal, 0},
        {F(1.0), Cell{T_char_, 0, 1, 0}, equal, not_comparable},
        {F(1.0), Cell{T_none, 0, 0, 0}, lesser, not_comparable},
        // NaN equals nothing, itself included; every ordering test with it is false.
        {F(not_a_number), F(not_a_number), equal, 1},
        {F(not_a_number), F(not_a_number), strict_equal, 1},
        {F(not_a_number), F(not_a_number), same, 0},  // the same bits
        {F(not_a_number), F(1.0), find_equal, 1},
        {F(not_a_number), F(1.0), parse_strict, 1},
        // Sorting puts NaN after every number, in one consistent order.
        {F(not_a_number), F(inf), sort_order, 1},
        {F(-inf), F(not_a_number), sort_order, -1},
        {F(not_a_number), F(not_a_number), sort_order, 0},
        {F(1.0), F(2.0), sort_order, -1},
    };
    for (const Row& r : rows)
        EXPECT_EQ(compare_raw(r.a, r.b, r.op), r.answer) << show(r.a) << " " << show(r.b) << " op " << r.op;

    for (double other : {1.0, not_a_number, inf}) {
        for (int32_t op : {lesser, lesser_or_equal, greater, greater_or_equal}) {
            EXPECT_FALSE(compare(F(not_a_number), F(other), op)) << op;
            EXPECT_FALSE(compare(F(other), F(not_a_number), op)) << op;
        }
    }
    EXPECT_EQ(error_of([] { compare(F(1.0), Cell{T_none, 0, 0, 0}, lesser); }), "script/invalid-compare");
}

TEST_F(FloatTest, MixedArithmeticResultTypes) {
    using namespace actions::slot;
    struct Row {
        actions::Slot slot;
        Cell a, b;
        const char* result;
    } rows[] = {
        {add, F(1.5), F(2.25), "float 3.75"},
        {add, I(1), F(0.5), "float 1.5"},
        {add, F(0.5), I(1), "float 1.5"},
        {divide, I(7), F(2.0), "float 3.5"},
        {add, F(1.0), Cell{T_char_, 0, 97, 0}, "float 98"},
        {add, P(0.1), I(1), "percent 1.1000000000000001"},  // 10% + 1 is 110%
        {add, I(1), P(0.1), "float 1.1000000000000001"},     // 1 + 10% is 1.1
        {multiply, F(2.0), P(0.1), "float 0.20000000000000001"},
        {multiply, P(0.5), P(0.5), "percent 0.25"},
        {add, P(0.5), F(0.25), "percent 0.75"},
        {subtract, I(1), P(0.5), "float 0.5"},
        {add, F(1.0), time_cell(2.0), "time 3"},
        // IEEE arithmetic: no errors for zero divisors or overflow.
        {divide, F(1.0), F(0.0), "float inf"},
        {divide, I(-1), F(0.0), "float -inf"},
        {multiply, F(1e308), F(10.0), "float inf"},
        {actions::slot::remainder, F(5.5), F(2.0), "float 1.5"},
        {actions::slot::remainder, F(-5.5), F(2.0), "float -1.5"},
        {actions::slot::remainder, F(5.0), F(inf), "float 5"},
        {actions::slot::remainder, F(5.0), F(0.0), "float nan"},
        {actions::slot::remainder, F(inf), F(2.0), "float nan"},
        {actions::slot::remainder, F(inf), F(inf), "float nan"},
        {actions::slot::remainder, F(5.0), F(not_a_number), "float nan"},
        {actions::slot::remainder, I(7), F(2.5), "float 2"},
    };
    for (const Row& r : rows) {
        std::string got = show(math(r.slot, r.a, r.b));
        // NaN prints with or without a sign depending on the operation; only NaN-ness matters.
        if (got.find("nan") != std::string::npos) got = "float nan";
        EXPECT_EQ(got, r.result) << show(r.a) << " " << show(r.b);
    }

    EXPECT_EQ(error_of([] { math(add, P(0.5), Cell{T_char_, 0, 1, 0}); }), "script/invalid-type");
    EXPECT_EQ(error_of([] { math(add, F(0.5), Cell{T_none, 0, 0, 0}); }), "script/invalid-type");
    EXPECT_EQ(error_of([] { math(and_t, I(1), F(1.0)); }), "script/cannot-use");
    EXPECT_EQ(error_of([] { math(subtract, F(1.0), Cell{T_pair, 0, 0, 0}); }), "script/not-related");
    EXPECT_EQ(error_of([] { math(divide, F(1.0), Cell{T_point2d, 0, 0, 0}); }), "script/not-related");
    EXPECT_TRUE(actions::lookup<and_t>(T_float_) == nullptr);  // float! has no bitwise actions
}

TEST_F(FloatTest, RoundTable) {
    struct Row {
        Cell value;
        const char* how;
        bool has_scale;
        Cell scale;
        const char* result;
    } rows[] = {
        {F(2.5), "", false, {}, "float 3"},
        {F(-2.5), "", false, {}, "float -3"},
        {F(2.4), "", false, {}, "float 2"},
        {F(2.5), "even", false, {}, "float 2"},
        {F(3.5), "even", false, {}, "float 4"},
        {F(-2.5), "even", false, {}, "float -2"},
        {F(2.6), "even", false, {}, "float 3"},
        {F(2.5), "half-down", false, {}, "float 2"},
        {F(-2.5), "half-down", false, {}, "float -2"},
        {F(-2.5), "half-ceiling", false, {}, "float -2"},
        {F(2.5), "half-ceiling", false, {}, "float 3"},
        {F(-2.7), "down", false, {}, "float -2"},
        {F(2.7), "down", false, {}, "float 2"},
        {F(-2.1), "floor", false, {}, "float -3"},
        {F(2.9), "floor", false, {}, "float 2"},
        {F(-2.9), "ceiling", false, {}, "float -2"},
        {F(2.1), "ceiling", false, {}, "float 3"},
        {F(1.2345), "", true, F(0.01), "float 1.23"},
        {F(1.235), "down", true, F(0.01), "float 1.23"},
        {F(7.3), "", true, I(2), "integer 8"},
        {F(-7.3), "", true, I(-2), "integer -8"},
        {F(17.0), "", true, F(5.0), "float 15"},
        {F(1e17), "", true, I(1), "type-limit"},   // integer! scale: the result must fit
        {F(not_a_number), "", true, I(1), "type-limit"},
        {F(inf), "", false, {}, "float inf"},
        {F(2.5), "", true, I(0), "float 2.5"},      // a scale of 0 changes nothing
        {F(-2.5), "", true, F(0.0), "float -2.5"},
        {F(-1e300), "", true, F(1e-300), "float -1.0000000000000001e+300"},  // no digits at that scale
        {F(3e-323), "", true, F(2e-323), "float 3.9525251667299724e-323"},   // a denormal scale
        {F(1.7e308), "", true, F(1e308), "overflow"},
        {P(0.125), "", false, {}, "percent 0.13"},  // 12.5% rounds in percent units to 13%
        {P(0.125), "even", false, {}, "percent 0.12"},
        {P(0.1234), "", true, P(0.001), "percent 0.123"},  // a percent! scale is a fraction already
        {P(0.1234), "", true, F(1.0), "float 0.12"},  // the scale counts in percent units
        {F(1.234), "", true, P(0.1), "percent 1.2"},  // the result takes the scale's type
        {I(7), "", true, F(2.5), "float 7.5"},        // integer! hands a non-integer scale over
        {I(7), "", true, P(0.5), "percent 7"},
        {I(-7), "floor", true, F(2.0), "float -8"},
    };
    for (const Row& r : rows) {
        std::string got;
        try {
            got = show(round(r.value, r.has_scale ? &r.scale : nullptr, r.how));
        } catch (const Error& e) {
            got = err::defs[e.id].word;
        }
        EXPECT_EQ(got, r.result) << show(r.value) << " " << r.how << " " << (r.has_scale ? show(r.scale) : "");
    }
    Cell money{T_money, 0, 0, 0};
    EXPECT_EQ(error_of([&] { round(F(1.5), &money, ""); }), "script/not-related");
    Cell none{T_none, 0, 0, 0};
    EXPECT_EQ(error_of([&] { round(F(1.5), &none, ""); }), "script/expect-arg");
}

TEST_F(FloatTest, UnaryActionsAndPower) {
    auto unary = [](actions::Slot slot, Cell c) {
        reinterpret_cast<Cell* (*)(Cell*)>(actions::table[cell::type(c)][slot])(&c);
        return c;
    };
    auto even = [](Cell c) { return actions::lookup<actions::slot::even_q>(cell::type(c))(&c); };
    auto odd = [](Cell c) { return actions::lookup<actions::slot::odd_q>(cell::type(c))(&c); };
    EXPECT_EQ(show(unary(actions::slot::negate, F(0.0))), "float 0");
    EXPECT_FALSE(std::signbit(cell::get_double(unary(actions::slot::negate, F(0.0)))));
    EXPECT_EQ(show(unary(actions::slot::negate, P(0.5))), "percent -0.5");
    EXPECT_EQ(show(unary(actions::slot::absolute, F(-2.5))), "float 2.5");
    EXPECT_FALSE(std::signbit(cell::get_double(unary(actions::slot::absolute, F(-not_a_number)))));

    EXPECT_FALSE(even(F(3.9)));
    EXPECT_TRUE(odd(F(-3.5)));
    EXPECT_TRUE(even(F(-0.5)));
    EXPECT_TRUE(even(F(1e300)));  // beyond 32 bits: no overflow, whole doubles that large are even
    EXPECT_TRUE(odd(F(4294967297.0)));
    EXPECT_TRUE(even(P(0.5)));
    for (double bad : {not_a_number, inf, -inf}) {
        EXPECT_EQ(error_of([&] { even(F(bad)); }), "script/invalid-arg");
        EXPECT_EQ(error_of([&] { odd(F(bad)); }), "script/invalid-arg");
    }

    EXPECT_EQ(show(math(actions::slot::power, F(2.0), I(10))), "float 1024");
    EXPECT_EQ(show(math(actions::slot::power, F(4.0), F(0.5))), "float 2");
    EXPECT_EQ(show(math(actions::slot::power, P(0.5), I(2))), "percent 0.25");
    EXPECT_EQ(show(math(actions::slot::power, I(2), F(1.5))), "float 2.8284271247461903");
    EXPECT_EQ(error_of([] { math(actions::slot::power, F(2.0), P(0.5)); }), "script/expect-arg");
    EXPECT_EQ(error_of([] {
                  Cell c = F(1.0);
                  actions::lookup<actions::slot::random>(T_float_)(&c, RandomArgs{});
              }),
              "internal/not-done");
}

TEST_F(FloatTest, MakeAndTo) {
    EXPECT_EQ(show(to(T_float_, I(3))), "float 3");
    EXPECT_EQ(show(to(T_float_, Cell{T_char_, 0, 65, 0})), "float 65");
    EXPECT_EQ(show(to(T_percent, F(0.5))), "percent 0.5");  // to percent! 0.5 is 50%
    EXPECT_EQ(show(to(T_float_, P(0.5))), "float 0.5");
    EXPECT_EQ(show(to(T_percent, I(2), true)), "percent 2");
    EXPECT_EQ(show(to(T_float_, time_cell(90.5))), "float 90.5");

    // Nothing allocates between making a series and converting it.
    auto block = [](std::initializer_list<Cell> items) {
        memory::Node n = memory::alloc_cells(items.size());
        memory::Buffer* b = memory::buffer(n);
        for (const Cell& c : items) {
            std::memcpy(b->data() + b->tail, &c, sizeof c);
            b->tail += sizeof c;
        }
        return Cell{T_block, 0, n, 0};
    };
    EXPECT_EQ(show(to(T_float_, block({I(15), I(-1)}))), "float 1.5");
    EXPECT_EQ(show(to(T_float_, block({F(2.5), F(2.9)}))), "float 250");  // exponent truncated
    EXPECT_EQ(show(to(T_float_, block({I(0), I(400)}))), "float 0");
    EXPECT_EQ(show(to(T_percent, block({I(5), I(-1)}))), "percent 0.5");
    EXPECT_EQ(error_of([&] { to(T_float_, block({I(1)})); }), "script/bad-to-arg");
    EXPECT_EQ(error_of([&] { to(T_float_, block({I(1), Cell{T_none, 0, 0, 0}})); }), "script/bad-to-arg");
    Cell skipped = block({I(9), I(15), I(-1)});
    skipped.w1 = 1;
    EXPECT_EQ(show(to(T_float_, skipped)), "float 1.5");

    auto binary = [](std::initializer_list<uint8_t> bytes) {
        memory::Node n = memory::alloc_bytes(bytes.size());
        memory::Buffer* b = memory::buffer(n);
        for (uint8_t x : bytes) b->data()[b->tail++] = x;
        return Cell{T_binary, 0, n, 0};
    };
    EXPECT_EQ(show(to(T_float_, binary({0x3F, 0xF8, 0, 0, 0, 0, 0, 0, 0xFF}))), "float 1.5");
    EXPECT_EQ(show(to(T_float_, binary({0, 1}))), "float 4.9406564584124654e-324");  // bit pattern 1
    EXPECT_EQ(show(to(T_float_, binary({}))), "float 0");

    EXPECT_EQ(error_of([] { to(T_float_, Cell{T_none, 0, 0, 0}); }), "script/bad-to-arg");
    EXPECT_EQ(error_of([] { to(T_percent, logic::make(true)); }), "script/bad-to-arg");

    // And back to integer!: truncated toward zero, checked.
    EXPECT_EQ(show(to(T_integer, F(-2.999))), "integer -2");
    EXPECT_EQ(show(to(T_integer, P(2147483647.9))), "integer 2147483647");
    EXPECT_EQ(show(to(T_integer, F(-2147483648.9))), "integer -2147483648");
    for (double bad : {2147483648.0, -2147483649.0, 1e10, not_a_number, inf})
        EXPECT_EQ(error_of([&] { to(T_integer, F(bad)); }), "script/type-limit") << bad;
}

TEST(FloatNumbers, Predicates) {
    EXPECT_TRUE(float_::nan_q(not_a_number));
    EXPECT_FALSE(float_::nan_q(inf));
    EXPECT_TRUE(float_::special_q(-inf));
    EXPECT_FALSE(float_::special_q(1.7976931348623157e308));
    EXPECT_TRUE(float_::unordered_q(std::nanf("")));
    EXPECT_EQ(float_::abs(-0.0), 0.0);
    EXPECT_FALSE(std::signbit(float_::abs(-0.0)));

    float one = 1.0f;
    float ten_up = one, eleven_up;
    for (int i = 0; i < 10; ++i) ten_up = std::nextafter(ten_up, 2.0f);
    eleven_up = std::nextafter(ten_up, 2.0f);
    float top = std::numeric_limits<float>::max();
    float finf = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(float_::equal_nan_safe_q(one, ten_up));
    EXPECT_FALSE(float_::equal_nan_safe_q(one, eleven_up));
    EXPECT_TRUE(float_::equal_nan_safe_q(0.0f, -0.0f));
    EXPECT_FALSE(float_::equal_nan_safe_q(std::nanf(""), std::nanf("")));
    EXPECT_TRUE(float_::equal_nan_safe_q(top, finf));
    EXPECT_FALSE(float_::equal_nan_safe_q(top, -finf));
    EXPECT_FALSE(float_::equal_nan_safe_q(-1e-45f, 1e-45f));
}
