// Float text: digits, layouts, text by kind and reading, checked against known texts and by
// round-tripping random doubles.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "runtime/float_text.h"

using namespace kov;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

std::string mold(double x, int32_t precision, bool dot_zero) {
    FloatText t;
    std::string_view v = float_::form_mold(x, precision, dot_zero, t);
    EXPECT_EQ(std::strlen(t.text), v.size());
    return std::string(v);
}

// The text is copied into a buffer of exactly its size (no NUL after it), so that the
// sanitizer catches any read past the end of the range.
double read(std::string_view text, int32_t adjustment = 0, std::size_t* left = nullptr) {
    auto bytes = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(bytes.get(), text.data(), text.size());
    std::size_t rest = 12345;
    double v = dtoa::parse(bytes.get(), bytes.get() + text.size(), adjustment, rest);
    if (left) *left = rest;
    return v;
}

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

class PrettyGuard {
  public:
    explicit PrettyGuard(bool on) : saved_(float_::pretty_q()) { float_::set_pretty(on); }
    ~PrettyGuard() { float_::set_pretty(saved_); }

  private:
    bool saved_;
};

}  // namespace

TEST(FloatText, DigitsShortestAndByPrecision) {
    struct Case {
        double x;
        int32_t precision;
        const char* text;
        int32_t point;
    };
    const Case cases[] = {
        {0.1, 0, "1", 0},
        {1.0 / 3, 0, "3333333333333333", 0},
        {-0.5, 0, "-5", 0},
        {4.9e-324, 0, "5", -323},
        {1234567.0, 6, "123457", 7},
        {3.14159265, 6, "314159", 1},
        {100.0, 6, "1", 3},  // trailing zeros removed
        // Money's 22 digits are the exact binary value's, correctly rounded.
        {0.1, 22, "1000000000000000055511", 0},
        {1.0 / 3, 22, "3333333333333333148296", 0},
        {4.9e-324, 22, "4940656458412465441766", -323},
        // Exact ties round to even.
        {0.125, 2, "12", 0},
        {0.375, 2, "38", 0},
        {2.5, 1, "2", 1},
        {3.5, 1, "4", 1},
        // Precision beyond the supported maximum is held there.
        {0.1, 1000, "1000000000000000055511151231257827021182", 0},
    };
    for (const Case& c : cases) {
        FloatText t;
        dtoa::Digits d = dtoa::format(c.x, c.precision, true, t);
        SCOPED_TRACE(testing::Message() << c.x << " precision " << c.precision);
        EXPECT_STREQ(d.text, c.text);
        EXPECT_EQ(d.point, c.point);
        EXPECT_EQ(d.negative, c.text[0] == '-');
        EXPECT_EQ(d.count, int32_t(std::strlen(c.text)) - d.negative);
    }

    struct Special {
        double x;
        bool dot_zero;
        const char* text;
        int32_t point;
    };
    const Special specials[] = {
        {0.0, true, "0.0", dtoa::zero_point},      {0.0, false, "0", dtoa::zero_point},
        {-0.0, true, "-0.0", dtoa::zero_point},    {-0.0, false, "-0", dtoa::zero_point},
        {inf, true, "1.#INF", dtoa::special_point}, {-inf, false, "-1.#INF", dtoa::special_point},
        {not_a_number, true, "1.#NaN", dtoa::special_point}, {-not_a_number, false, "1.#NaN", dtoa::special_point},
    };
    for (const Special& s : specials) {
        FloatText t;
        dtoa::Digits d = dtoa::format(s.x, 0, s.dot_zero, t);
        EXPECT_STREQ(d.text, s.text);
        EXPECT_EQ(d.point, s.point) << s.text;
        EXPECT_EQ(d.negative, s.text[0] == '-') << s.text;
    }
}

TEST(FloatText, FormMoldLayout) {
    struct Case {
        double x;
        int32_t precision;
        const char* with_dot_zero;
        const char* without;
    };
    const Case cases[] = {
        {0.1, 0, "0.1", "0.1"},
        {1.0 / 3, 0, "0.3333333333333333", "0.3333333333333333"},
        {0.1 + 0.2, 0, "0.30000000000000004", "0.30000000000000004"},
        {4.35 * 100, 0, "434.99999999999994", "434.99999999999994"},
        {0.05, 0, "0.05", "0.05"},
        {123.0, 0, "123.0", "123"},
        {1e5, 0, "100000.0", "100000"},
        {123.45, 0, "123.45", "123.45"},
        {-1.5, 0, "-1.5", "-1.5"},
        {1e20, 0, "1.0e20", "1e20"},
        {1.2345e20, 0, "1.2345e20", "1.2345e20"},
        {9.999e16, 0, "99990000000000000.0", "99990000000000000"},  // point 17: still plain
        {1e17, 0, "1.0e17", "1e17"},                                // point 18: exponent
        {1e-7, 0, "0.0000001", "0.0000001"},                        // point -6: still plain
        {1e-8, 0, "1.0e-8", "1e-8"},                                // point -7: exponent
        {-2.5e-9, 0, "-2.5e-9", "-2.5e-9"},
        {123456789012345680000.0, 0, "1.2345678901234568e20", "1.2345678901234568e20"},
        {4.9e-324, 0, "5.0e-324", "5e-324"},
        {2.2250738585072014e-308, 0, "2.2250738585072014e-308", "2.2250738585072014e-308"},
        {1.7976931348623157e308, 0, "1.7976931348623157e308", "1.7976931348623157e308"},
        {0.0, 0, "0.0", "0"},
        {-0.0, 0, "-0.0", "-0"},
        {inf, 0, "1.#INF", "1.#INF"},
        {-inf, 0, "-1.#INF", "-1.#INF"},
        {not_a_number, 0, "1.#NaN", "1.#NaN"},
        {-not_a_number, 0, "1.#NaN", "1.#NaN"},
        {3.14159265, 6, "3.14159", "3.14159"},
        {1234567.0, 6, "1234570.0", "1234570"},
        {-1e-7, 6, "-0.0000001", "-0.0000001"},
        {1.0, 22, "1.0", "1"},
        {0.1, 22, "0.1000000000000000055511", "0.1000000000000000055511"},
        {-99999999999999984.0, 22, "-99999999999999984.0", "-99999999999999984"},
        {1.00001e-5, 22, "0.00001000009999999999934324", "0.00001000009999999999934324"},
        // The longest layouts fit the buffer.
        {-7.7e-6, dtoa::max_precision, "-0.000007700000000000000816230763533987158098171",
         "-0.000007700000000000000816230763533987158098171"},
        {-2.2250738585072014e-308, dtoa::max_precision,
         "-2.225073858507201383090232717332404064219e-308",
         "-2.225073858507201383090232717332404064219e-308"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.with_dot_zero << " precision " << c.precision);
        EXPECT_EQ(mold(c.x, c.precision, true), c.with_dot_zero);
        EXPECT_EQ(mold(c.x, c.precision, false), c.without);
    }
}

TEST(FloatText, FormatByKind) {
    using K = float_::Kind;
    struct Case {
        K kind;
        double x;
        const char* pretty;
        const char* plain;  // pretty? off
    };
    const double below_nines = std::nextafter(4.35e22, 0.0);  // %.16g: 4.349999999999999e+22
    const Case cases[] = {
        {K::float64, 1.0, "1.0", "1.0"},
        {K::float64, 1e20, "1.0e20", "1.0e20"},
        {K::float64, 1.5e-7, "1.5e-7", "1.5e-7"},
        {K::float64, 1.5e-300, "0.0", "1.5e-300"},
        {K::float64, 1e300, "1.0e300", "1.0e300"},
        {K::float64, 0.1 + 0.2, "0.3", "0.3"},
        {K::float64, 4.35 * 100, "435.0", "434.9999999999999"},
        {K::float64, -4.35 * 100, "-435.0", "-434.9999999999999"},
        {K::float64, 0.1 + 0.7, "0.8", "0.7999999999999999"},
        {K::float64, below_nines, "4.35e22", "4.349999999999999e22"},
        {K::float64, 1.000000000000001, "1.0", "1.000000000000001"},  // a "01" tail
        // Without an exponent, a leading 0 needs more than 17 characters to be suspect.
        {K::float64, 0.123456789012399, "0.123456789012399", "0.123456789012399"},
        {K::float64, 12.34567890123499, "12.345678901235", "12.34567890123499"},
        {K::float64, 1e-17, "0.0", "1.0e-17"},
        {K::float64, -0.0, "0.0", "-0.0"},
        {K::float64, 123456789012345680000.0, "1.234567890123457e20", "1.234567890123457e20"},
        {K::float32, 3.0, "3.0", "3.0"},
        {K::float32, double(0.1f), "0.1", "0.1"},
        {K::float32, double(3.4028235e38f), "3.402823e38", "3.402823e38"},
        {K::percent64, 50.0, "50%", "50%"},
        {K::percent64, 12.5, "12.5%", "12.5%"},
        {K::percent64, (0.1 + 0.2) * 100, "30%", "30%"},
        {K::percent64, 1e-17, "0%", "1e-17%"},
        {K::percent32, double(0.125f) * 100, "12.5%", "12.5%"},
        {K::percent32, 0.0, "0%", "0%"},
        {K::seconds, 1.5, "1.5", "1.5"},
        {K::seconds, 12.0, "12", "12"},
        {K::seconds, 59.9999999, "60", "60"},
        {K::seconds, 1.5e-8, "1.5e-8", "1.5e-8"},
        {K::seconds, 0.0, "0.0", "0"},
        {K::point, 3.0, "3", "3"},
        {K::point, 1.5, "1.5", "1.5"},
        {K::point, 1e20, "1e20", "1e20"},
        {K::point, -1e-17, "0", "-1e-17"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << int(c.kind) << " " << c.plain);
        FloatText t;
        {
            PrettyGuard on(true);
            EXPECT_EQ(float_::format(c.x, c.kind, t), c.pretty);
        }
        {
            PrettyGuard off(false);
            EXPECT_EQ(float_::format(c.x, c.kind, t), c.plain);
        }
    }
    for (int kind = 0; kind <= 5; ++kind) {
        FloatText t;
        EXPECT_EQ(float_::format(inf, K(kind), t), "1.#INF");
        EXPECT_EQ(float_::format(-inf, K(kind), t), "-1.#INF");
        EXPECT_EQ(float_::format(not_a_number, K(kind), t), "1.#NaN");
        EXPECT_EQ(float_::format(-not_a_number, K(kind), t), "1.#NaN");
    }
}

TEST(FloatText, Switches) {
    // The defaults as the process starts; no other test leaves them changed.
    EXPECT_TRUE(float_::pretty_q());
    EXPECT_FALSE(float_::full_q());
    float_::set_full(true);
    EXPECT_TRUE(float_::full_q());
    FloatText t;
    EXPECT_EQ(float_::format(4.35 * 100, float_::Kind::float64, t), "435.0");  // not read here
    float_::set_full(false);
    EXPECT_FALSE(float_::full_q());
}

TEST(FloatText, ParseValuesAndStoppingPoint) {
    struct Case {
        const char* text;
        int32_t adjustment;
        double value;
        std::size_t left;
    };
    const double min_denormal = std::numeric_limits<double>::denorm_min();
    const Case cases[] = {
        {"0.1", 0, 0.1, 0},
        {"+12.5", 0, 12.5, 0},
        {"-0012.50", 0, -12.5, 0},
        {".5", 0, 0.5, 0},
        {"5.", 0, 5.0, 0},
        {"0.000123", 0, 0.000123, 0},
        {"1.5e3]", 0, 1500.0, 1},
        {"1E+3", 0, 1000.0, 0},
        {"25e-1", 0, 2.5, 0},
        {"12.5", -2, 0.125, 0},                  // a percent read directly, not 12.5 / 100
        {"0.07", -2, 0.0007, 0},
        {"3", 400, inf, 0},
        {"1e", 0, 1.0, 1},                        // an exponent needs a digit
        {"1e+", 0, 1.0, 2},
        {"7x", 0, 7.0, 1},
        {"1.5.5", 0, 1.5, 2},
        {"12.#INF", 0, 12.0, 4},                  // one digit only starts a special text
        {"1.#X", 0, 1.0, 2},
        {"4.9e-324", 0, min_denormal, 0},
        {"2.4703282292062328e-324", 0, min_denormal, 0},  // just above half of it
        {"2.4703282292062327e-324", 0, 0.0, 0},           // just below
        {"2.2250738585072011e-308", 0, 2.2250738585072009e-308, 0},
        {"2.2250738585072014e-308", 0, 2.2250738585072014e-308, 0},
        {"1.7976931348623158e308", 0, 1.7976931348623157e308, 0},
        {"1.7976931348623159e308", 0, inf, 0},
        {"1e400", 0, inf, 0},
        {"-1e400", 0, -inf, 0},
        {"1e99999999999999999999999", 0, inf, 0},
        {"1e-99999999999999999999999", 0, 0.0, 0},
        {"0e999999", 0, 0.0, 0},
    };
    for (const Case& c : cases) {
        std::size_t left = 0;
        double v = read(c.text, c.adjustment, &left);
        EXPECT_EQ(bits(v), bits(c.value)) << c.text << " gave " << v;
        EXPECT_EQ(left, c.left) << c.text;
    }
    // Underflow keeps the sign.
    EXPECT_EQ(bits(read("1e-400")), bits(0.0));
    EXPECT_EQ(bits(read("-1e-400")), bits(-0.0));
    EXPECT_EQ(bits(read("-0.0")), bits(-0.0));

    // Nothing that reads as a number: 0, nothing consumed.
    for (const char* text : {"", "-", "+", ".", "-.e5", "abc", "e5"}) {
        std::size_t left = 0;
        EXPECT_EQ(bits(read(text, 0, &left)), bits(0.0)) << text;
        EXPECT_EQ(left, std::strlen(text)) << text;
    }

    // The range, not a terminator, ends the text.
    const char digits[] = "1.5e10";
    std::size_t left = 0;
    EXPECT_EQ(dtoa::parse(digits, digits + 5, 0, left), 15.0);
    EXPECT_EQ(left, 0u);
}

TEST(FloatText, ParseSpecialTexts) {
    struct Case {
        const char* text;
        double value;
        std::size_t left;
    };
    const Case cases[] = {
        {"1.#INF", inf, 0},
        {"-1.#INF", -inf, 0},
        {"+1.#inf", inf, 0},
        {"1.#INF]", inf, 1},
    };
    for (const Case& c : cases) {
        std::size_t left = 0;
        EXPECT_EQ(read(c.text, 0, &left), c.value) << c.text;
        EXPECT_EQ(left, c.left) << c.text;
    }
    for (const char* text : {"1.#NaN", "-1.#NaN", "1.#nan"}) {
        std::size_t left = 9;
        EXPECT_TRUE(std::isnan(read(text, 0, &left))) << text;
        EXPECT_EQ(left, 0u) << text;
    }
}

TEST(FloatText, ParseLongTextsRoundCorrectly) {
    // 1 + 2^-53 is exactly halfway between 1 and the next double: ties go to the even 1.0,
    // but any non-zero digit after it, however far, tips it up.
    const std::string half = "1.00000000000000011102230246251565404236316680908203125";
    const double up = std::nextafter(1.0, 2.0);
    EXPECT_EQ(read(half), 1.0);
    EXPECT_EQ(read(half + std::string(2000, '0')), 1.0);
    EXPECT_EQ(read(half + std::string(2000, '0') + "1"), up);
    EXPECT_EQ(read(half + std::string(700, '0') + "1"), up);
    // The same midpoint written with a huge integer part and a matching exponent.
    std::string shifted = "100000000000000011102230246251565404236316680908203125" + std::string(900, '0');
    EXPECT_EQ(read(shifted + "e-953"), 1.0);
    EXPECT_EQ(read(shifted + "7e-954"), up);
    // Many leading zeros after the point only shift the exponent.
    EXPECT_EQ(read("0." + std::string(1000, '0') + "1e1001"), 1.0);
}

TEST(FloatText, RandomDoublesRoundTripThroughMoldText) {
    std::mt19937_64 rng(20240611);
    int checked = 0;
    while (checked < 100000) {
        double x = std::bit_cast<double>(rng());
        if (!std::isfinite(x)) continue;
        ++checked;
        FloatText t;
        std::string_view text = float_::form_mold(x, 0, true, t);
        std::size_t left = 99;
        double back = dtoa::parse(text.data(), text.data() + text.size(), 0, left);
        ASSERT_EQ(bits(back), bits(x)) << text;
        ASSERT_EQ(left, 0u) << text;
    }
    // Subnormals are rare among random bit patterns: walk some of them on purpose.
    for (uint64_t m = 1; m < (uint64_t{1} << 52); m = m * 3 + 1) {
        double x = std::bit_cast<double>(m);
        FloatText t;
        std::string_view text = float_::form_mold(-x, 0, false, t);
        std::size_t left = 99;
        ASSERT_EQ(bits(dtoa::parse(text.data(), text.data() + text.size(), 0, left)), bits(-x)) << text;
    }
}
