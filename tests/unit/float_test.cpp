// float! and percent!: their text, the predicates and what the natives keep away from the
// actions (tests/kov/numbers.kov holds their arithmetic, rounding, comparison and conversions).
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

// The natives' specs keep these operands away; the actions still refuse them themselves.
TEST_F(FloatTest, ArithmeticRefusesUnrelatedOperands) {
    using namespace actions::slot;
    EXPECT_EQ(error_of([] { math(add, F(0.5), Cell{T_none, 0, 0, 0}); }), "script/invalid-type");
    EXPECT_EQ(error_of([] { math(and_t, I(1), F(1.0)); }), "script/cannot-use");
    EXPECT_TRUE(actions::lookup<and_t>(T_float_) == nullptr);  // float! has no bitwise actions
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
