// Number conversion from text without the lexer (to and make of string values), and the cell
// constructors of the literal datatypes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/lexer/tokenizer.h"
#include "tests/unit/harness.h"

using namespace kov;

namespace {

// The characters of an ASCII or UTF-8 text at a unit width (1, 2 or 4).
std::vector<uint8_t> units(const std::u32string& text, uint32_t unit) {
    std::vector<uint8_t> out;
    for (char32_t c : text)
        for (uint32_t b = 0; b < unit; ++b) out.push_back(uint8_t(uint32_t(c) >> (8 * b)));
    return out;
}

}  // namespace

TEST(Tokenizer, ScanInteger) {
    struct Row {
        const char32_t* text;
        int32_t value;
        int32_t error;
    } rows[] = {
        {U"+12", 12, 0},           {U"1'000", 1000, 0},      {U"-45", -45, 0},
        {U"12a", 12, -1},          {U"2147483648", 0, -2},   {U"-2147483648", INT32_MIN, 0},
        {U"-21474836480", 0, -2},  {U"2147483647", INT32_MAX, 0}, {U"", 0, -1},
        {U"-", 0, -1},             {U"1\u0131", 1, -1},  // a wide character is never a digit
        {U"\u0660", 0, -1},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (auto& r : rows) {
            std::u32string t = r.text;
            if (unit == 1 && std::any_of(t.begin(), t.end(), [](char32_t c) { return c > 255; })) continue;
            auto u = units(t, unit);
            int32_t error = 99;
            int32_t v = tokenizer::scan_integer(u.data(), int64_t(t.size()), unit, &error);
            EXPECT_EQ(v, r.value) << unit;
            EXPECT_EQ(error, r.error) << unit;
        }
    }
}

TEST(Tokenizer, ScanFloat) {
    struct Row {
        const char32_t* text;
        double value;
        bool ok;
    } rows[] = {
        {U"1,5", 1.5, true},      {U"1'000.25", 1000.25, true}, {U"-2.5e3", -2500.0, true}, {U".5", 0.5, true},
        {U"1e", 0, false},        {U"abc", 0, false},          {U"1.5\u0131", 0, false},   {U"\u0131", 0, false},
        {U"1.#INF", 0, false},    {U".", 0, false},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (auto& r : rows) {
            std::u32string t = r.text;
            if (unit == 1 && std::any_of(t.begin(), t.end(), [](char32_t c) { return c > 255; })) continue;
            auto u = units(t, unit);
            int32_t error = 99;
            double v = tokenizer::scan_float(u.data(), int64_t(t.size()), unit, &error);
            if (r.ok) {
                EXPECT_EQ(error, 0);
                EXPECT_EQ(v, r.value);
            } else {
                EXPECT_NE(error, 0);
                EXPECT_TRUE(std::isnan(v));
            }
        }
    }
    std::string longest(312, '1');
    int32_t error = 99;
    tokenizer::scan_float(reinterpret_cast<const uint8_t*>(longest.data()), 312, 1, &error);
    EXPECT_EQ(error, 0);
    std::string too_long(313, '1');
    tokenizer::scan_float(reinterpret_cast<const uint8_t*>(too_long.data()), 313, 1, &error);
    EXPECT_EQ(error, tokenizer::bad_text);
}

TEST(Tokenizer, ScanMoney) {
    struct Row {
        const char* text;
        bool ok;
        bool negative;
        const char* code;
        uint32_t units, tenths;
    } rows[] = {
        {"EUR$12.50", true, false, "EUR", 12, 5}, {"$12.50", true, false, nullptr, 12, 5}, {"12.50", true, false, nullptr, 12, 5},
        {"-usd$1'000", true, true, "USD", 0, 0},  {"+$0.1", true, false, nullptr, 0, 1},
        {"EU$1", false, false, nullptr, 0, 0},    {"EUR12", false, false, nullptr, 0, 0}, {"$1'", false, false, nullptr, 0, 0},
        {"$", false, false, nullptr, 0, 0},       {"", false, false, nullptr, 0, 0},    {"$1''0", false, false, nullptr, 0, 0},
        {"$.5", false, false, nullptr, 0, 0},     {"1.", false, false, nullptr, 0, 0},  {"1.2.3", false, false, nullptr, 0, 0},
        {"$1.5'", false, false, nullptr, 0, 0},   {"ABC$1", false, false, nullptr, 0, 0},
        {"123456789012345678", false, false, nullptr, 0, 0},
    };
    for (auto& r : rows) {
        Cell m{T_none, 0, 0, 0};
        int32_t error = 99;
        bool ok = tokenizer::scan_money(reinterpret_cast<const uint8_t*>(r.text), int64_t(std::strlen(r.text)), 1, &error, m);
        EXPECT_EQ(ok, r.ok) << r.text;
        EXPECT_EQ(error, r.ok ? 0 : tokenizer::bad_text) << r.text;
        if (!ok) {
            EXPECT_EQ(m.header, uint32_t(T_none)) << r.text;
            continue;
        }
        EXPECT_EQ(cell::type(m), T_money);
        EXPECT_EQ(money::negative_q(m), r.negative) << r.text;
        EXPECT_EQ(money::currency(m) ? std::string(money::currency_code(money::currency(m))) : "", r.code ? r.code : "");
        EXPECT_EQ(money::get_digit(m, 17), r.units % 10) << r.text;
        EXPECT_EQ(money::get_digit(m, 18), r.tenths) << r.text;
    }
    Cell thousand{T_none, 0, 0, 0};
    int32_t error;
    ASSERT_TRUE(tokenizer::scan_money(reinterpret_cast<const uint8_t*>("-usd$1'000"), 10, 1, &error, thousand));
    EXPECT_EQ(money::get_digit(thousand, 14), 1u);
    // A wide character never stands for a letter, digit or sign.
    auto wide = units(U"\u0124UR$1", 2);
    Cell m{T_none, 0, 0, 0};
    EXPECT_FALSE(tokenizer::scan_money(wide.data(), 6, 2, &error, m));
}

TEST(LiteralCells, DateCalendar) {
    EXPECT_EQ(date::to_days(date::pack(1970, 1, 1, 0, false)), 719468);
    EXPECT_EQ(date::to_days(date::pack(2000, 1, 1, 0, false)), 730425);
    for (int32_t g : {0, 1, 59, 60, 719468, 730425, 730484, 3652424, -1, -365})
        EXPECT_EQ(date::to_days(date::from_days(g, 0, false)), g) << g;
    EXPECT_TRUE(date::leap_year_q(2000));
    EXPECT_FALSE(date::leap_year_q(1900));
    EXPECT_EQ(date::month_length(2024, 2), 29u);
    EXPECT_EQ(date::month_length(2023, 2), 28u);
    int32_t weekday;
    // ISO week 1 of 2021 starts on Monday 4 January; 1 January 2021 was a Friday.
    EXPECT_EQ(date::week_start(date::pack(2021, 6, 1, 0, false), &weekday), date::to_days(date::pack(2021, 1, 4, 0, false)));
    EXPECT_EQ(weekday, 5);
    uint32_t p = date::pack(-44, 3, 15, date::zone_bits(-5, -30), true);
    EXPECT_EQ(date::year_of(p), -44);
    EXPECT_EQ(date::month_of(p), 3u);
    EXPECT_EQ(date::day_of(p), 15u);
    EXPECT_TRUE(date::has_time_q(p));
    EXPECT_EQ(date::zone_offset(p), -(5 * 3600 + 30 * 60));
    Cell c{T_unset | cell::new_line, 0, 0, 0};
    date::from_os_time(c, 2020, 1, 1, 3600.0, 2, 0, true);
    EXPECT_EQ(c.header, T_date | cell::new_line);
    EXPECT_EQ(date::time_of(c), -3600.0);
    date::from_os_time(c, 2020, 1, 1, 3600.0, 2, 0, false);
    EXPECT_EQ(c.w1, date::pack(2020, 1, 1, 0, false));
    EXPECT_EQ(date::time_of(c), 0.0);
}

TEST(LiteralCells, MoneyAndTupleKeepTheirFlags) {
    Cell m{T_unset | cell::new_line, 0, 0, 0};
    const uint8_t digits[] = "00000000000000000042";
    ASSERT_TRUE(money::from_digits(m, true, 3, digits, digits + 20, nullptr, nullptr));
    EXPECT_EQ(m.header, T_money | money::sign_bit | cell::new_line);
    EXPECT_EQ(money::currency(m), 3u);
    EXPECT_EQ(money::get_digit(m, 16), 4u);
    EXPECT_EQ(money::get_digit(m, 17), 2u);
    const uint8_t eighteen[] = "123456789012345678";
    Cell kept = m;
    EXPECT_FALSE(money::from_digits(m, false, 0, eighteen, eighteen + 18, nullptr, nullptr));
    EXPECT_EQ(std::memcmp(&kept, &m, sizeof m), 0);

    Cell t{T_unset | cell::new_line, 0, 0, 0};
    const uint8_t bytes[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    tuple::make_at(t, bytes, 12);
    EXPECT_EQ(t.header, T_tuple | cell::new_line | 12u << tuple::length_shift);
    tuple::make_at(t, bytes, 3);
    EXPECT_EQ(tuple::length(t), 3u);
    EXPECT_EQ(t.w1, 0x030201u);
    EXPECT_EQ(t.w2, 0u);
    EXPECT_EQ(tuple::byte_at(t, 2), 3u);
}
