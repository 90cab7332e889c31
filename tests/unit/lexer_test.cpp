// The lexer: every literal syntax with its edge cases, levels and paths, line counting and
// new-line flags, syntax errors and their texts, the callback, one-value and scan-only modes,
// and the value buffer under collections. Values are compared cell by cell.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/lexer/lexer.h"
#include "runtime/lexer/tables.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

namespace {

using LexerTest = Runtime;

const Cell none_cell{T_none, 0, 0, 0};

// Scans the text; the result (a block, or one value) is a value-stack cell.
Cell* scan_text(const std::string& text, lexer::Options o = {}, uint32_t* type = nullptr, int64_t* next = nullptr) {
    Cell* out = stack::reserve();
    uint32_t t = lexer::scan(reinterpret_cast<const uint8_t*>(text.data()), text.size(), o, none_cell, *out, next);
    if (type) *type = t;
    return out;
}

std::vector<Cell> cells_of(const Cell& block) {
    memory::Buffer* b = memory::buffer(block.w2);
    auto begin = reinterpret_cast<Cell*>(b->head_ptr()) + block.w1;
    auto end = reinterpret_cast<Cell*>(b->tail_ptr());
    return std::vector<Cell>(begin, end);
}

std::vector<Cell> values(const std::string& text) {
    Cell* b = scan_text(text);
    EXPECT_EQ(cell::type(*b), T_block) << text;
    return cells_of(*b);
}

Cell one(const std::string& text) {
    auto v = values(text);
    EXPECT_EQ(v.size(), 1u) << text;
    return v.empty() ? none_cell : v[0];
}

uint32_t type_of(const Cell& c) { return cell::type(c); }
bool new_line_q(const Cell& c) { return (c.header & cell::new_line) != 0; }

std::string spelling(const Cell& word) {
    symbol::Spelling s = symbol::spelling(word.w2);
    return std::string(reinterpret_cast<const char*>(s.bytes), s.length);
}

// The name of any datatype id, registered or not.
std::string type_name(uint32_t id) {
    static const char* const names[] = {
#define DATATYPE(id, name, ident, families) name,
#include "runtime/defs/datatypes.def"
#undef DATATYPE
    };
    return id >= 1 && id <= 54 ? names[id - 1] : std::to_string(id);
}

// The error the text raises, as "id: arg arg arg" (strings as their text, datatypes by name,
// characters quoted), or "no error".
std::string error_text(const std::string& text, lexer::Options o = {}) {
    try {
        scan_text(text, o);
    } catch (const Error& e) {
        std::string out = err::defs[e.id].word;
        out += ":";
        for (int i = 0; i < e.arg_count; ++i) {
            const Cell& a = e.args[i];
            out += " ";
            if (cell::is(a, T_string)) out += kov::test::text(a);
            else if (cell::is(a, T_datatype)) out += type_name(a.w1);
            else if (cell::is(a, T_char_)) out += a.w2 ? std::string("'") + char(a.w2) + "'" : std::string("NUL");
            else out += "?";
        }
        return out;
    }
    return "no error";
}

// A money value as text: sign, code, "$", integer digits, ".", five fraction digits.
std::string money_text(const Cell& m) {
    std::string out = money::negative_q(m) ? "-" : "";
    if (money::currency(m)) out += money::currency_code(money::currency(m));
    out += "$";
    std::string digits;
    for (uint32_t k = 1; k <= money::integer_digits; ++k) digits += char('0' + money::get_digit(m, k));
    size_t first = digits.find_first_not_of('0');
    out += first == std::string::npos ? "0" : digits.substr(first);
    out += ".";
    for (uint32_t k = money::integer_digits + 1; k <= money::digit_count; ++k) out += char('0' + money::get_digit(m, k));
    return out;
}

// A date as "y-m-d", then "/seconds zone-bits" with a time.
std::string date_text(const Cell& d) {
    uint32_t p = date::packed_of(d);
    std::string out = std::to_string(date::year_of(p)) + "-" + std::to_string(date::month_of(p)) + "-" +
                      std::to_string(date::day_of(p));
    if (date::has_time_q(p)) {
        char t[64];
        std::snprintf(t, sizeof t, "/%g z%u", date::time_of(d), date::zone_bits_of(p));
        out += t;
    }
    return out;
}

std::vector<uint8_t> bytes_of(const Cell& bin) {
    memory::Buffer* b = memory::buffer(bin.w2);
    return std::vector<uint8_t>(b->head_ptr() + bin.w1, b->tail_ptr());
}

}  // namespace

// ---- tables ---------------------------------------------------------------------------------------------

TEST(LexerTables, SizesAndEntriesArePinned) {
    using namespace lexer;
    EXPECT_EQ(byte_classes.size(), 256u);
    EXPECT_EQ(transitions.size(), 65u);
    EXPECT_EQ(transitions[0].size(), 40u);
    EXPECT_EQ(skip_table.size(), 104u);
    EXPECT_EQ(state_types.size(), 104u);
    EXPECT_EQ(line_table.size(), 40u);
    EXPECT_EQ(path_end_table.size(), 40u);
    EXPECT_EQ(float_text_table.size(), 256u);
    EXPECT_EQ(float_syntax_classes_of.size(), 256u);
    EXPECT_EQ(float_syntax.size(), 9u);
    EXPECT_EQ(float_syntax[0].size(), 7u);
    EXPECT_EQ(hex_digits.size(), 256u);
    EXPECT_EQ(escape_names.size(), 7u);
    EXPECT_EQ(month_names.size(), 12u);

    // Every byte has a class below 40; the class counts are those of the byte table.
    uint32_t per_class[40] = {};
    for (uint32_t e : byte_classes) {
        ASSERT_LT(e & class_mask, 40u);
        ++per_class[e & class_mask];
    }
    EXPECT_EQ(per_class[c_space], 3u);
    EXPECT_EQ(per_class[c_control], 28u);
    EXPECT_EQ(per_class[c_continuation], 65u);
    EXPECT_EQ(per_class[c_bad], 10u);
    EXPECT_EQ(per_class[c_word], 44u + 46u + 8u);
    EXPECT_EQ(per_class[c_end], 1u);
    // Every next state is a scan state or a terminal one; 65 never occurs.
    for (auto& row : transitions)
        for (uint8_t s : row) EXPECT_TRUE(s < 65 || (s >= 66 && s <= 101));
    // The skip table moves only state 0; the Unicode space set holds its 21 code points.
    uint32_t skips = 0, spaces = 0;
    for (uint8_t s : skip_table) skips += s;
    for (uint32_t cp = 0; cp < unicode_space_limit; ++cp) spaces += unicode_space_q(cp);
    EXPECT_EQ(skips, 1u);
    EXPECT_EQ(spaces, 21u);
    EXPECT_FALSE(unicode_space_q(' '));
    EXPECT_TRUE(unicode_space_q(0x3000));
    // Float syntax sees every byte: a wide or high byte is "other", never a digit.
    for (uint32_t b = 128; b < 256; ++b) EXPECT_EQ(float_syntax_classes_of[b], 0u);
    auto fs = [](const char* t) { return float_syntax_q(reinterpret_cast<const uint8_t*>(t), reinterpret_cast<const uint8_t*>(t) + std::strlen(t)); };
    EXPECT_TRUE(fs("1.5e-3"));
    EXPECT_TRUE(fs("1'000.5"));
    EXPECT_TRUE(fs(".5"));
    EXPECT_FALSE(fs("1z"));
    EXPECT_FALSE(fs("1e"));
    EXPECT_FALSE(fs("1.e5"));
    EXPECT_TRUE(fs("."));  // syntax only: the float reader then finds no digit
    EXPECT_FALSE(fs(""));
    EXPECT_FALSE(fs(std::string(313, '1').c_str()));
}

// ---- numbers --------------------------------------------------------------------------------------------

TEST_F(LexerTest, Integers) {
    struct Row {
        const char* text;
        int32_t value;
    } rows[] = {
        {"0", 0}, {"123", 123}, {"-123", -123}, {"+5", 5}, {"1'000'000", 1000000}, {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN}, {"0000000001", 1}, {"FFh", 255}, {"FFFFFFFFh", -1}, {"7FFFFFFFh", 0x7FFFFFFF},
        {"10h", 16}, {"0Ah", 10}, {"1E0h", 0x1E0},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        EXPECT_EQ(type_of(v), T_integer) << r.text;
        EXPECT_EQ(static_cast<int32_t>(v.w2), r.value) << r.text;
    }
    // Too long or too large for 32 bits: a float.
    struct Big {
        const char* text;
        double value;
    } bigs[] = {{"2147483648", 2147483648.0}, {"12345678901", 12345678901.0}, {"-2147483649", -2147483649.0},
                {"00000000001", 1.0}, {"1'234'567'890'1", 12345678901.0}};
    for (auto& r : bigs) {
        Cell v = one(r.text);
        EXPECT_EQ(type_of(v), T_float_) << r.text;
        EXPECT_EQ(cell::get_double(v), r.value) << r.text;
    }
    EXPECT_EQ(error_text("1''0"), "invalid: (line 1) integer! 1''0");
    EXPECT_EQ(error_text("123456789h"), "invalid: (line 1) integer! 123456789h");
    EXPECT_EQ(error_text("Ah"), "invalid: (line 1) integer! Ah");
    EXPECT_EQ(error_text("1a"), "invalid: (line 1) integer! 1a");
}

TEST_F(LexerTest, FloatsAndPercents) {
    struct Row {
        const char* text;
        double value;
    } rows[] = {
        {"1.5", 1.5}, {"-1.5", -1.5}, {".5", 0.5}, {"1.", 1.0}, {"1e3", 1000.0}, {"1.5e-3", 0.0015},
        {"1E+2", 100.0}, {"1'000.5", 1000.5}, {"0.1", 0.1}, {"+.25", 0.25}, {"1.7976931348623157e308", 1.7976931348623157e308},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        EXPECT_EQ(type_of(v), T_float_) << r.text;
        EXPECT_EQ(cell::get_double(v), r.value) << r.text;
    }
    EXPECT_EQ(cell::get_double(one("1.#INF")), INFINITY);
    EXPECT_EQ(cell::get_double(one("-1.#INF")), -INFINITY);
    EXPECT_TRUE(std::isnan(cell::get_double(one("1.#NaN"))));
    EXPECT_TRUE(std::isnan(cell::get_double(one("1.#nan"))));
    EXPECT_EQ(cell::get_double(one("1e400")), INFINITY);

    struct Pct {
        const char* text;
        double fraction;
    } pcts[] = {{"50%", 0.5}, {"12.5%", 0.125}, {"-5%", -0.05}, {"100%", 1.0}, {"0%", 0.0}};
    for (auto& r : pcts) {
        Cell v = one(r.text);
        EXPECT_EQ(type_of(v), T_percent) << r.text;
        EXPECT_EQ(cell::get_double(v), r.fraction) << r.text;
    }
    EXPECT_EQ(values("50% 3").size(), 2u);  // the "%" is consumed with the number

    EXPECT_EQ(error_text("1e"), "invalid: (line 1) float! 1e");
    EXPECT_EQ(error_text("1.5e+"), "invalid: (line 1) float! 1.5e+");
    EXPECT_EQ(error_text("1.#INFX"), "invalid: (line 1) float! 1.#INFX");
    EXPECT_EQ(error_text("2.#INF"), "invalid: (line 1) float! 2.#INF");
    EXPECT_EQ(error_text("1..2"), "invalid: (line 1) float! 1..2");
}

TEST_F(LexerTest, Tuples) {
    Cell t = one("1.2.3");
    EXPECT_EQ(type_of(t), T_tuple);
    EXPECT_EQ(tuple::length(t), 3u);
    EXPECT_EQ(t.w1, 0x030201u);
    EXPECT_EQ(t.w2, 0u);
    Cell c = one("255.0.0.128");
    EXPECT_EQ(tuple::length(c), 4u);
    EXPECT_EQ(c.w1, 0x800000FFu);
    Cell full = one("1.2.3.4.5.6.7.8.9.10.11.12");
    EXPECT_EQ(tuple::length(full), 12u);
    EXPECT_EQ(full.header & 0xFF, T_tuple);
    EXPECT_EQ(full.w3, 0x0C0B0A09u);
    EXPECT_EQ(error_text("1.2.3.4.5.6.7.8.9.10.11.12.13"), "invalid: (line 1) tuple! 1.2.3.4.5.6.7.8.9.10.11.12.13");
    EXPECT_EQ(error_text("1.2.256"), "invalid: (line 1) tuple! 1.2.256");
    EXPECT_EQ(error_text("1.2..3"), "invalid: (line 1) tuple! 1.2..3");
}

TEST_F(LexerTest, PairsAndPoints) {
    struct Row {
        const char* text;
        int32_t x, y;
    } rows[] = {{"10x20", 10, 20}, {"-1x-2", -1, -2}, {"1X2", 1, 2}, {"0x0", 0, 0}, {"1'000x2", 1000, 2},
                {"-2147483648x2147483647", INT32_MIN, INT32_MAX}};
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), T_pair) << r.text;
        EXPECT_EQ(pair::x(v), r.x) << r.text;
        EXPECT_EQ(pair::y(v), r.y) << r.text;
    }
    EXPECT_EQ(error_text("1.5x2"), "invalid: (line 1) pair! 1.5x2");
    EXPECT_EQ(error_text("1x2.5"), "invalid: (line 1) pair! 1x2.5");
    EXPECT_EQ(error_text("99999999999x1"), "invalid: (line 1) pair! 99999999999x1");

    Cell p = one("(1, 2)");
    ASSERT_EQ(type_of(p), T_point2d);
    EXPECT_EQ(point2d::x(p), 1.0f);
    EXPECT_EQ(point2d::y(p), 2.0f);
    EXPECT_EQ(p.w3, 0u);
    Cell q = one("( 1.5 ,-2.5,\t3e2 )");
    ASSERT_EQ(type_of(q), T_point3d);
    EXPECT_EQ(point3d::x(q), 1.5f);
    EXPECT_EQ(point3d::y(q), -2.5f);
    EXPECT_EQ(point3d::z(q), 300.0f);
    Cell r = one("(1.#INF, 0.1)");
    EXPECT_EQ(point2d::x(r), INFINITY);
    EXPECT_EQ(point2d::y(r), 0.1f);  // a 32-bit float
    auto v = values("x (1,2) y");
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(type_of(v[1]), T_point2d);
    EXPECT_EQ(error_text("(1, )"), "invalid: (line 1) point2D! (1, )");
    EXPECT_EQ(error_text("(1, 2, 3, 4)"), "invalid: (line 1) point3D! (1, 2, 3, 4)");
    EXPECT_EQ(error_text("(a, b)"), "invalid: (line 1) point2D! (a, b)");
    // A comma turns a paren into a point level, which ")" cannot close; a comma right after
    // a word is no part of it.
    EXPECT_EQ(error_text("(x , y)"), "missing: (line 1) '(' (x , y)");
    EXPECT_EQ(error_text("[a , b]"), "invalid: (line 1) point2D! , b]");
    EXPECT_EQ(error_text("(x, y)"), "invalid: (line 1) word! x, y)");
    EXPECT_EQ(error_text("1 , 2"), "invalid: (line 1) point2D! , 2");
}

// ---- characters and strings -------------------------------------------------------------------------

TEST_F(LexerTest, Characters) {
    struct Row {
        const char* text;
        int32_t cp;
    } rows[] = {
        {"#\"a\"", 'a'}, {"#\"^(41)\"", 'A'}, {"#\"^(0041)\"", 'A'}, {"#\"^/\"", 10}, {"#\"^-\"", 9}, {"#\"^@\"", 0},
        {"#\"^^\"", '^'}, {"#\"^\"\"", '"'}, {"#\"^{\"", '{'}, {"#\"^}\"", '}'}, {"#\"^~\"", 127}, {"#\"^a\"", 1},
        {"#\"^Z\"", 26}, {"#\"^[\"", 27}, {"#\"^_\"", 31}, {"#\"^(line)\"", 10}, {"#\"^(TAB)\"", 9},
        {"#\"^(null)\"", 0}, {"#\"^(back)\"", 8}, {"#\"^(page)\"", 12}, {"#\"^(esc)\"", 27}, {"#\"^(del)\"", 127},
        {"#\"^(1F600)\"", 0x1F600}, {"#\"^(10FFFF)\"", 0x10FFFF}, {"#\"\xC3\xA9\"", 0xE9},
        {"#\"\xF0\x9F\x98\x80\"", 0x1F600}, {"#\"^\xC3\xA9\"", 0xE9}, {"#\"^!\"", '!'},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), T_char_) << r.text;
        EXPECT_EQ(static_cast<int32_t>(v.w2), r.cp) << r.text;
    }
    for (const char* bad : {"#\"\"", "#\"ab\"", "#\"^(110000)\"", "#\"^(1234567)\"", "#\"^(tabx)\"", "#\"^(12\"",
                            "#\"^(xy)\"", "#\"^()\"", "#\"\xC3\""}) {
        EXPECT_EQ(error_text(bad).substr(0, 26), "invalid: (line 1) char! #\"") << bad;
    }
}

TEST_F(LexerTest, QuotedAndBracedStrings) {
    struct Row {
        const char* text;
        const char* value;
        uint32_t unit;
    } rows[] = {
        {"\"abc\"", "abc", 1},
        {"\"\"", "", 1},
        {"\"a^/b^-c\"", "a\nb\tc", 1},
        {"\"^\"q^\" ^^ ^(41)\"", "\"q\" ^ A", 1},
        {"\"^(263A)\"", "\u263A", 2},
        {"\"a^(1F600)\"", "a\U0001F600", 4},
        {"\"\xC3\xA9t\xC3\xA9\"", "\u00e9t\u00e9", 2},
        {"\"\xF0\x9F\x98\x80\"", "\U0001F600", 4},
        {"{abc}", "abc", 1},
        {"{}", "", 1},
        {"{a{b}c}", "a{b}c", 1},
        {"{a{b{c}}d}", "a{b{c}}d", 1},
        {"{a^}b}", "a}b", 1},
        {"{a\"b}", "a\"b", 1},
        {"{line1\nline2}", "line1\nline2", 1},
        {"{\xE2\x98\xBA}", "\u263A", 2},
        {"%{a}b}%", "a}b", 1},
        {"%{^/}%", "^/", 1},
        {"%%{a}% b}%%", "a}% b", 1},
        {"%{}%", "", 1},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), T_string) << r.text;
        EXPECT_EQ(v.w1, 0u);
        EXPECT_EQ(v.w3, 0u);
        EXPECT_EQ(text(v), r.value) << r.text;
        EXPECT_EQ(unit_of(v), r.unit) << r.text;
    }
    // A raw string that runs past its first closing run counts the line feeds it crosses.
    EXPECT_EQ(error_text("%%{a}% b\nc}%% 1''0"), "invalid: (line 2) integer! 1''0");

    EXPECT_EQ(error_text("\"abc"), "invalid: (line 1) string! \"abc");
    EXPECT_EQ(error_text("\"a\nb\""), "invalid: (line 1) string! \"a");
    EXPECT_EQ(error_text("\"^(zz)\""), "invalid: (line 1) string! \"^(zz)\"");
    EXPECT_EQ(error_text("{abc"), "invalid: (line 1) string! {abc");
    EXPECT_EQ(error_text("{a{b}"), "invalid: (line 1) string! {a{b}");
    EXPECT_EQ(error_text("x {a\n{b}\nc"), "invalid: (line 3) string! {a");
    EXPECT_EQ(error_text("%%{x}%"), "invalid: (line 1) string! %%{x}%");
    EXPECT_EQ(error_text("%{x}%%"), "invalid: (line 1) string! %{x}%%");
}

TEST_F(LexerTest, Binaries) {
    struct Row {
        const char* text;
        std::vector<uint8_t> bytes;
    } rows[] = {
        {"#{0102FF}", {1, 2, 0xFF}},
        {"#{}", {}},
        {"#{ab cd}", {0xAB, 0xCD}},
        {"16#{ 01 02 ; a comment {[ }\n 03}", {1, 2, 3}},
        {"2#{00000001}", {1}},
        {"2#{10000000 11111111}", {0x80, 0xFF}},
        {"64#{AQ==}", {1}},
        {"64#{YWJj}", {'a', 'b', 'c'}},
        {"64#{YWI=}", {'a', 'b'}},
        {"64#{YW\nJj}", {'a', 'b', 'c'}},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), T_binary) << r.text;
        EXPECT_EQ(v.w1, 0u);
        EXPECT_EQ(v.w3, 0u);
        EXPECT_EQ(bytes_of(v), r.bytes) << r.text;
    }
    EXPECT_EQ(error_text("#{012}"), "invalid: (line 1) binary! }");
    EXPECT_EQ(error_text("#{0G}"), "invalid: (line 1) binary! G}");
    EXPECT_EQ(error_text("3#{00}"), "invalid: (line 1) binary! 3#{00}");
    EXPECT_EQ(error_text("2#{0101}"), "invalid: (line 1) binary! }");
    EXPECT_EQ(error_text("2#{01201010}"), "invalid: (line 1) binary! 201010}");
    EXPECT_EQ(error_text("64#{A===}"), "invalid: (line 1) binary! ===}");
    EXPECT_EQ(error_text("64#{AQ==AQ==}"), "invalid: (line 1) binary! AQ==}");
    EXPECT_EQ(error_text("64#{AQ}"), "invalid: (line 1) binary! }");
    EXPECT_EQ(error_text("#{01"), "invalid: (line 1) binary! #{01");
}

TEST_F(LexerTest, FilesUrlsEmailsTagsRefs) {
    struct Row {
        const char* text;
        uint32_t type;
        const char* value;
    } rows[] = {
        {"%a.txt", T_file, "a.txt"},
        {"%/c/dir/", T_file, "/c/dir/"},
        {"%\"a b.txt\"", T_file, "a b.txt"},
        {"%\"a^(41)\"", T_file, "aA"},
        {"%a^b", T_file, "a^b"},
        {"%a%20b", T_file, "a b"},
        {"%%C3%A9", T_file, "\u00e9"},
        {"%x%C3%A9", T_file, "x\u00e9"},
        {"%x%C3", T_file, "x%C3"},  // a broken sequence is taken as it stands
        {"%x%4", T_file, "x%4"},
        {"http://a.b/c?d=1&e", T_url, "http://a.b/c?d=1&e"},
        {"http://a%20b", T_url, "http://a b"},
        {"ftp://x\xC3\xA9", T_url, "ftp://x\u00e9"},
        {"a:b", T_url, "a:b"},
        {"a@b.com", T_email, "a@b.com"},
        {"a.b@c", T_email, "a.b@c"},
        {"<a>", T_tag, "a"},
        {"<a href='x>y'>", T_tag, "a href='x>y'"},
        {"<a b=\"c>d\">", T_tag, "a b=\"c>d\""},
        {"@ref", T_ref, "ref"},
        {"@a.b-c", T_ref, "a.b-c"},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        EXPECT_EQ(type_of(v), r.type) << r.text;
        if (r.value) {
            EXPECT_EQ(text(v), r.value) << r.text;
        }
    }
    auto v = values("<a> x");
    ASSERT_EQ(v.size(), 2u);  // the ">" is consumed with the tag
    EXPECT_EQ(error_text(":a:b"), "invalid: (line 1) get-word! :a:b");
    EXPECT_EQ(error_text("'a:b"), "invalid: (line 1) lit-word! 'a:b");
    EXPECT_EQ(error_text("%\"ab"), "invalid: (line 1) file! %\"ab");
}

TEST_F(LexerTest, Money) {
    struct Row {
        const char* text;
        const char* value;
    } rows[] = {
        {"$1.50", "$1.50000"},
        {"$0", "$0.00000"},
        {"-$2", "-$2.00000"},
        {"+$2", "$2.00000"},
        {"USD$1'000.50", "USD$1000.50000"},
        {"usd$1", "USD$1.00000"},
        {"-EUR$0.00001", "-EUR$0.00001"},
        {"$99999999999999999.99999", "$99999999999999999.99999"},
        {"$000000000000000000001", "$1.00000"},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), T_money) << r.text;
        EXPECT_EQ(money_text(v), r.value) << r.text;
    }
    for (const char* bad : {"US$1", "XYZ$1", "$1''0", "$1'", "$1.123456", "$1.", "$'1", "$123456789012345678"}) {
        EXPECT_EQ(error_text(bad), std::string("invalid: (line 1) money! ") + bad) << bad;
    }
}

TEST_F(LexerTest, Times) {
    struct Row {
        const char* text;
        double seconds;
    } rows[] = {
        {"1:30", 5400}, {"1:30:45", 5445}, {"1:02:03.5", 3723.5}, {"1:30.5", 90.5}, {"-1:30", -5400},
        {"+1:30", 5400}, {"0:00", 0}, {"100:00", 360000}, {"1:2:3", 3723}, {"0:0:0.25", 0.25},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), T_time) << r.text;
        EXPECT_EQ(cell::get_double(v), r.seconds) << r.text;
    }
    EXPECT_EQ(error_text("1:30:"), "invalid: (line 1) time! 1:30:");
    EXPECT_EQ(error_text("1:30:5:"), "invalid: (line 1) time! 1:30:5:");
}

TEST_F(LexerTest, Dates) {
    struct Row {
        const char* text;
        const char* value;
    } rows[] = {
        {"1-Feb-2024", "2024-2-1"},
        {"1/2/2024", "2024-2-1"},
        {"2024-02-01", "2024-2-1"},
        {"2024/2/1", "2024-2-1"},
        {"1-feb-24", "2024-2-1"},
        {"1-Feb-99", "1999-2-1"},
        {"1-February-2024", "2024-2-1"},
        {"1-Sept-2024", "2024-9-1"},
        {"29-Feb-2024", "2024-2-29"},
        {"31-Dec-9999", "9999-12-31"},
        {"1/Jan/-44", "-44-1-1"},
        {"2024-02-01T10:30:00", "2024-2-1/37800 z0"},
        {"1-Jan-2020/10:00+2:00", "2020-1-1/28800 z8"},
        {"1-Jan-2020/10:00+0200", "2020-1-1/28800 z8"},
        {"1-Jan-2020/1:00-5:30", "2020-1-1/23400 z86"},
        {"1-Jan-2020/10:00:15.5Z", "2020-1-1/36015.5 z0"},
        {"2024-02-01T10:30Z", "2024-2-1/37800 z0"},
        {"20240201T1030Z", "2024-2-1/37800 z0"},
        {"20240201T103000", "2024-2-1/37800 z0"},
        {"20240201T103000.5+0200", "2024-2-1/30600.5 z8"},
        {"2024-W01", "2024-1-1"},
        {"2024-W05-3", "2024-1-31"},
        {"2020-W53-7", "2021-1-3"},
        {"2024-032", "2024-2-1"},
        {"2024-366", "2024-12-31"},
        {"2024-032T08:00", "2024-2-1/28800 z0"},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), T_date) << r.text;
        EXPECT_EQ(date_text(v), r.value) << r.text;
    }
    for (const char* bad : {"29-Feb-2023", "32-Jan-2024", "1-Ja-2024", "1-Janu-2024x", "2024-13-01", "1-Jan-2024/24:00",
                            "1-Jan-2024/10:60", "1-Jan-2024/10:00:60", "1-Jan-2020/10:00+16:00", "2023-366",
                            "2024-W54", "2024-W01-8", "1-Jan/2024", "20240201T10", "1-Foo-2024"}) {
        EXPECT_EQ(error_text(bad), std::string("invalid: (line 1) date! ") + bad) << bad;
    }
}

// ---- words and paths ---------------------------------------------------------------------------------

TEST_F(LexerTest, Words) {
    struct Row {
        const char* text;
        uint32_t type;
        const char* name;
    } rows[] = {
        {"abc", T_word, "abc"}, {"abc:", T_set_word, "abc"}, {":abc", T_get_word, "abc"}, {"'abc", T_lit_word, "abc"},
        {"/abc", T_refinement, "abc"}, {"#abc", T_issue, "abc"}, {"+", T_word, "+"}, {"-", T_word, "-"},
        {"<", T_word, "<"}, {"<=", T_word, "<="}, {">", T_word, ">"}, {"<>", T_word, "<>"}, {"%", T_word, "%"},
        {"/", T_word, "/"}, {"//", T_word, "//"}, {"a-b?", T_word, "a-b?"}, {"-abc", T_word, "-abc"},
        {"\xC3\xA9t\xC3\xA9", T_word, "\xC3\xA9t\xC3\xA9"}, {"ab\xC2\xA0", T_word, "ab"}, {"=", T_word, "="},
        {"'+", T_lit_word, "+"}, {"x:", T_set_word, "x"}, {"#FF00", T_issue, "FF00"},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), r.type) << r.text;
        EXPECT_EQ(spelling(v), r.name) << r.text;
        if (r.type == T_refinement) {
            EXPECT_EQ(v.w1, 0u) << "refinements are not bound";
        } else {
            EXPECT_EQ(v.w1, context::global()) << r.text;
        }
        if (r.type == T_issue) {
            EXPECT_EQ(v.w3, 0xFFFFFFFFu);
        } else if (r.type != T_refinement) {
            EXPECT_GE(static_cast<int32_t>(v.w3), 0);
        }
    }
    // Case variants share the slot of the first one.
    auto v = values("foo FOO");
    EXPECT_NE(v[0].w2, v[1].w2);
    EXPECT_EQ(v[0].w3, v[1].w3);
    // White space of Unicode ends a word and is no token of its own.
    auto w = values("a\xC2\xA0" "b \xE3\x80\x80 c\xE2\x80\x8B");
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(spelling(w[0]), "a");
    EXPECT_EQ(spelling(w[1]), "b");
    EXPECT_EQ(spelling(w[2]), "c");
    EXPECT_TRUE(values("\xC2\xA0 \xE2\x80\x80").empty());

    EXPECT_EQ(error_text("'a:"), "invalid: (line 1) lit-word! 'a:");
    EXPECT_EQ(error_text(":a:"), "invalid: (line 1) word! :a:");
    EXPECT_EQ(error_text("a\xC3("), "invalid: (line 1) word! a\xEF\xBF\xBD(");
    EXPECT_EQ(error_text("'/a"), "invalid: (line 1) refinement! '/a");
    EXPECT_EQ(error_text("#"), "invalid: (line 1) issue! #");
    EXPECT_EQ(error_text("'"), "invalid: (line 1) word! '");
}

TEST_F(LexerTest, Paths) {
    struct Row {
        const char* text;
        uint32_t type;
        std::vector<uint32_t> elements;
    } rows[] = {
        {"a/b", T_path, {T_word, T_word}},
        {"a/b/c", T_path, {T_word, T_word, T_word}},
        {"a/1", T_path, {T_word, T_integer}},
        {"a/1.5", T_path, {T_word, T_float_}},
        {"a/1.2.3", T_path, {T_word, T_tuple}},
        {"a/(b c)", T_path, {T_word, T_paren}},
        {"a/(b)/c", T_path, {T_word, T_paren, T_word}},
        {"a/\"s\"/b", T_path, {T_word, T_string, T_word}},
        {"a/'b/:c", T_path, {T_word, T_lit_word, T_get_word}},
        {"a/#x", T_path, {T_word, T_issue}},
        {"a/-", T_path, {T_word, T_word}},
        {"a/(1, 2)/b", T_path, {T_word, T_point2d, T_word}},
        {"a/$1", T_path, {T_word, T_money}},
        {"a/<t>", T_path, {T_word, T_tag}},
        {"'a/b", T_lit_path, {T_word, T_word}},
        {":a/b", T_get_path, {T_word, T_word}},
        {"a/b:", T_set_path, {T_word, T_word}},
        {"a/b/1:", T_set_path, {T_word, T_word, T_integer}},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        ASSERT_EQ(type_of(v), r.type) << r.text;
        EXPECT_EQ(v.w1, 0u);
        EXPECT_EQ(v.w3, 0u);
        auto e = cells_of(v);
        ASSERT_EQ(e.size(), r.elements.size()) << r.text;
        for (size_t i = 0; i < e.size(); ++i) EXPECT_EQ(type_of(e[i]), r.elements[i]) << r.text << " " << i;
        EXPECT_EQ(spelling(e[0]), "a") << r.text;
    }
    auto b = values("[a/b c] (x/y) a/b:c");
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(type_of(cells_of(b[0])[0]), T_path);
    EXPECT_EQ(type_of(cells_of(b[1])[0]), T_path);
    EXPECT_EQ(type_of(b[2]), T_set_path);
    EXPECT_EQ(spelling(b[3]), "c");
    // Nested paths in parens keep their own levels.
    Cell n = one("a/(b/c)/d");
    EXPECT_EQ(type_of(cells_of(cells_of(n)[1])[0]), T_path);

    EXPECT_EQ(error_text("a/b:/c"), "invalid: (line 1) path! a/b:/c");
    EXPECT_EQ(error_text("a/b/"), "invalid: (line 1) path! a/b/");
    EXPECT_EQ(error_text("a/b}"), "invalid: (line 1) path! a/b}");
    EXPECT_EQ(error_text("a//b"), "invalid: (line 1) path! a//b");
    EXPECT_EQ(error_text("x a/ y"), "invalid: (line 1) path! a/ y");
    // A lit-path cannot become a set-path: the level names a path, so the error is a bad
    // character rather than a missing one.
    EXPECT_EQ(error_text("'a/b:"), "bad-char: (line 1) 'a/b:");
    EXPECT_EQ(error_text(":a/b:"), "bad-char: (line 1) :a/b:");
}

// ---- levels, maps, construction -----------------------------------------------------------------------

TEST_F(LexerTest, BlocksParensMaps) {
    auto v = values("[1 [2 3] (4)] () []");
    ASSERT_EQ(v.size(), 3u);
    ASSERT_EQ(type_of(v[0]), T_block);
    auto inner = cells_of(v[0]);
    ASSERT_EQ(inner.size(), 3u);
    EXPECT_EQ(inner[0].w2, 1u);
    EXPECT_EQ(type_of(inner[1]), T_block);
    EXPECT_EQ(cells_of(inner[1]).size(), 2u);
    EXPECT_EQ(type_of(inner[2]), T_paren);
    EXPECT_EQ(type_of(v[1]), T_paren);
    EXPECT_TRUE(cells_of(v[1]).empty());
    EXPECT_TRUE(cells_of(v[2]).empty());

    Cell m = one("#[a 1 \"k\" [v] 2 3]");
    ASSERT_EQ(type_of(m), T_map);
    EXPECT_NE(m.w3, 0u);  // the key table is made when the map is loaded
    EXPECT_EQ(cells_of(m).size(), 6u);
    EXPECT_EQ(cells_of(one("#[]")).size(), 0u);
    EXPECT_EQ(error_text("#[a 1 b]"), "invalid: (line 1) map! #[a 1 b]");
    EXPECT_EQ(error_text("#[[x] 1]"), "invalid: (line 1) map! #[[x] 1]");
    EXPECT_EQ(error_text("#[a 1)"), "missing: (line 1) ']' #[a 1)");

    EXPECT_EQ(error_text("[a b"), "missing: (line 1) ']' [a b");
    EXPECT_EQ(error_text("a ]"), "missing: (line 1) '[' a ]");
    EXPECT_EQ(error_text("[a)"), "missing: (line 1) ']' [a)");
    EXPECT_EQ(error_text("(a"), "missing: (line 1) ')' (a");
    EXPECT_EQ(error_text("(a]"), "missing: (line 1) ')' (a]");
    EXPECT_EQ(error_text("x [y\n(z"), "missing: (line 2) ')' (z");
    // Levels nest as deep as the buffer grows.
    std::string deep = std::string(5000, '[') + "x" + std::string(5000, ']');
    Cell d = one(deep);
    for (int i = 0; i < 4999; ++i) d = cells_of(d)[0];
    EXPECT_EQ(spelling(cells_of(d)[0]), "x");
}

TEST_F(LexerTest, Construction) {
    struct Row {
        const char* text;
        Cell value;
    } rows[] = {
        {"#(true)", Cell{T_logic, 1, 0, 0}},    {"#(TRUE)", Cell{T_logic, 1, 0, 0}},
        {"#(false)", Cell{T_logic, 0, 0, 0}},   {"#(none)", Cell{T_none, 0, 0, 0}},
        {"#(unset)", Cell{T_unset, 0, 0, 0}},   {"#(integer!)", Cell{T_datatype, T_integer, 0, 0}},
        {"#(int)", Cell{T_datatype, T_integer, 0, 0}}, {"#(s)", Cell{T_datatype, T_string, 0, 0}},
        {"#(point3d!)", Cell{T_datatype, T_point3d, 0, 0}}, {"#(EVENT!)", Cell{T_datatype, T_event, 0, 0}},
    };
    for (auto& r : rows) {
        Cell v = one(r.text);
        EXPECT_EQ(v.header, r.value.header) << r.text;
        EXPECT_EQ(v.w1, r.value.w1) << r.text;
    }
    EXPECT_EQ(error_text("#(truex)"), "malconstruct: (line 1) #(truex)");
    EXPECT_EQ(error_text("#(tru)"), "malconstruct: (line 1) #(tru)");
    EXPECT_EQ(error_text("#(nothing)"), "malconstruct: (line 1) #(nothing)");
    EXPECT_EQ(error_text("#()"), "malconstruct: (line 1) #()");
}

// ---- lines and errors ----------------------------------------------------------------------------------

TEST_F(LexerTest, LinesAndNewLineFlags) {
    auto v = values("a b\nc\n\n  d [\n e f\n] {x\ny} g");
    ASSERT_EQ(v.size(), 7u);
    std::vector<bool> flags;
    for (auto& c : v) flags.push_back(new_line_q(c));
    EXPECT_EQ(flags, (std::vector<bool>{false, false, true, true, false, false, false}));
    auto inner = cells_of(v[4]);
    EXPECT_TRUE(new_line_q(inner[0]));
    EXPECT_FALSE(new_line_q(inner[1]));
    // A braced string takes the flag of its opening brace; a point that of its "(".
    auto w = values("x\n{a\nb}\n(1, 2)");
    EXPECT_TRUE(new_line_q(w[1]));
    EXPECT_TRUE(new_line_q(w[2]));
    EXPECT_TRUE(new_line_q(one("\n[a]")));
    // Errors carry the line at the token's end.
    EXPECT_EQ(error_text("a\n\n1''0"), "invalid: (line 3) integer! 1''0");
    EXPECT_EQ(error_text("{a\nb} ; c\n 1''0"), "invalid: (line 3) integer! 1''0");
    EXPECT_EQ(error_text("a\r\n1''0"), "invalid: (line 2) integer! 1''0");
}

TEST_F(LexerTest, ErrorTexts) {
    EXPECT_EQ(error_text("}"), "bad-char: (line 1) }");
    EXPECT_EQ(error_text("a \\b"), "bad-char: (line 1) \\b");
    EXPECT_EQ(error_text("\x80" "a"), "bad-char: (line 1) \xEF\xBF\xBD" "a");
    EXPECT_EQ(error_text("\xFF"), "bad-char: (line 1) \xEF\xBF\xBD");
    EXPECT_EQ(error_text("\xC0\x80"), "bad-char: (line 1) \xEF\xBF\xBD\xEF\xBF\xBD");
    // The offending text stops at a line feed, and after 30 bytes at a whole character.
    EXPECT_EQ(error_text("1''0 and more\nnext line"), "invalid: (line 1) integer! 1''0 and more");
    EXPECT_EQ(error_text("1''0 " + std::string(40, 'x')), "invalid: (line 1) integer! 1''0 " + std::string(25, 'x'));
    EXPECT_EQ(error_text("1''0" + std::string(25, ' ') + "\xE2\x98\xBA" + "zz"),
              "invalid: (line 1) integer! 1''0" + std::string(25, ' ') + "\xE2\x98\xBA");
}

TEST_F(LexerTest, SpacingAndTheEndOfInput) {
    EXPECT_TRUE(values("").empty());
    EXPECT_TRUE(values(" \t\r\n ").empty());
    EXPECT_TRUE(values("; only a comment").empty());
    auto v = values(std::string("a\x01\x08\x0B\x0C\x1F" "b", 7));
    ASSERT_EQ(v.size(), 2u);
    auto n = values(std::string("a\0b", 3));  // a NUL ends the input
    ASSERT_EQ(n.size(), 1u);
    auto c = values("a ; comment [\nb");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_TRUE(new_line_q(c[1]));
}

// ---- modes -------------------------------------------------------------------------------------------------

TEST_F(LexerTest, OneValueIntoAndNextPosition) {
    lexer::Options o;
    o.one_value = true;
    int64_t next = -1;
    uint32_t type = 0;
    Cell* v = scan_text("  12 34", o, &type, &next);
    EXPECT_EQ(type_of(*v), T_integer);
    EXPECT_EQ(v->w2, 12u);
    EXPECT_EQ(type, T_integer);
    EXPECT_EQ(next, 4);
    v = scan_text("[1 2] 3", o, &type, &next);
    EXPECT_EQ(type_of(*v), T_block);
    EXPECT_EQ(next, 5);
    o.as_block = true;
    v = scan_text("x y", o, &type, &next);
    ASSERT_EQ(type_of(*v), T_block);
    EXPECT_EQ(cells_of(*v).size(), 1u);
    o.as_block = false;
    v = scan_text(" ", o, &type, &next);
    EXPECT_EQ(type_of(*v), T_block);
    EXPECT_EQ(type, 0u);

    // Into a block: appended at its tail.
    Cell* into = scan_text("[0]");
    Cell target = cells_of(*into)[0];
    lexer::Options i;
    i.into = &target;
    scan_text("1 2", i);
    EXPECT_EQ(cells_of(target).size(), 3u);
    i.one_value = true;
    scan_text("3 4", i);
    auto all = cells_of(target);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3].w2, 3u);

    // A string input counts characters consumed, a binary bytes.
    Cell* s = str("\u00e9\u00e9 x");
    Cell* out = stack::reserve();
    lexer::load(*out, *s, -1, o, &next);
    EXPECT_EQ(next, 2);
    EXPECT_EQ(spelling(*out), "\u00e9\u00e9");
    Cell* part = stack::reserve();
    lexer::Options whole;
    lexer::load(*part, *s, 1, whole, &next);
    EXPECT_EQ(next, 1);
    EXPECT_EQ(spelling(cells_of(*part)[0]), "\u00e9");
}

TEST_F(LexerTest, ScanOnlyMode) {
    lexer::Options o;
    o.load = false;
    struct Row {
        const char* text;
        uint32_t type;
    } rows[] = {
        {"123 x", T_integer}, {"\"abc\" x", T_string}, {"[a b] c", T_block}, {"a/b c", T_path}, {"", 0},
        {"\"abc", T_error}, {"[a", T_error}, {"{x} y", T_string}, {"#(true)", T_logic}, {"a/b:", T_set_path},
        {"}", T_error},
    };
    for (auto& r : rows) {
        uint32_t type = 99;
        scan_text(r.text, o, &type);
        EXPECT_EQ(type, r.type) << r.text;
    }
    EXPECT_EQ(lexer::active_scans(), 0u);
}

// ---- the callback ---------------------------------------------------------------------------------------

namespace {

struct Recorder {
    std::vector<std::string> events;
    std::function<bool(lexer::Event, Cell&, const Cell&, int32_t, const Cell&)> answer;
    static bool call(void* data, lexer::Event event, Cell& input, const Cell& type, int32_t line, const Cell& token) {
        auto self = static_cast<Recorder*>(data);
        static const char* names[] = {"", "prescan", "scan", "", "load", "", "", "", "open"};
        std::string name = event == lexer::ev_close ? "close" : event == lexer::ev_error ? "error" : names[event];
        std::string t = cell::is(type, T_datatype) ? type_name(type.w1) : "none";
        std::string tok = cell::is(token, T_pair) ? std::to_string(pair::x(token)) + "x" + std::to_string(pair::y(token))
                                                  : type_name(cell::type(token));
        self->events.push_back(name + " " + t + " " + tok + " L" + std::to_string(line));
        return self->answer ? self->answer(event, input, type, line, token) : true;
    }
};

}  // namespace

TEST_F(LexerTest, CallbackEvents) {
    Recorder rec;
    lexer::Callback cb;
    cb.fn = Recorder::call;
    cb.data = &rec;
    lexer::Options o;
    o.callback = &cb;
    Cell* input = str("a [1]\n; c");
    Cell* out = stack::reserve();
    lexer::load(*out, *input, -1, o, nullptr);
    std::vector<std::string> expected = {
        "prescan word! 1x2 L1", "scan word! 1x2 L1",    "load word! word! L1",    "prescan none 3x3 L1",
        "open block! 3x4 L1",   "prescan integer! 4x5 L1", "scan integer! 4x5 L1", "load integer! integer! L1",
        "prescan none 5x5 L1",  "close block! 5x6 L1",  "prescan none 7x10 L2",   "scan none 7x10 L2",
    };
    EXPECT_EQ(rec.events, expected);
    // Refusals: no load drops the value, no scan skips it, no prescan skips the token.
    rec.events.clear();
    rec.answer = [](lexer::Event e, Cell&, const Cell& type, int32_t, const Cell&) {
        return !(e == lexer::ev_load && type.w1 == T_integer) && !(e == lexer::ev_scan && type.w1 == T_string) &&
               !(e == lexer::ev_prescan && type.w1 == T_float_);
    };
    Cell* r = scan_text("1 \"s\" 2.5 x", o);
    auto v = cells_of(*r);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(type_of(v[0]), T_word);
    // A skipped token takes its closing character along.
    rec.answer = [](lexer::Event e, Cell&, const Cell& type, int32_t, const Cell&) {
        return !(e == lexer::ev_prescan && (type.w1 == T_string || type.w1 == T_point2d || type.w1 == T_percent));
    };
    Cell* skipped = scan_text("\"a\" (1, 2) 5% x {b}", o);
    auto left = cells_of(*skipped);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(spelling(left[0]), "x");
    EXPECT_EQ(text(left[1]), "b");  // inside a braced string no prescan is asked
    // The event mask: only errors, answered false, end the scan quietly.
    rec.events.clear();
    cb.mask = lexer::ev_error;
    rec.answer = [](lexer::Event, Cell&, const Cell&, int32_t, const Cell&) { return false; };
    Cell* q = scan_text("a [b", o);
    EXPECT_EQ(type_of(*q), T_none);
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0], "error block! 3x5 L1");
    // A refused error inside the text goes on after the bad byte.
    rec.events.clear();
    Cell* w = scan_text("a } b", o);
    ASSERT_EQ(type_of(*w), T_block);
    EXPECT_EQ(cells_of(*w).size(), 2u);
}

TEST_F(LexerTest, CallbackMovesTheInput) {
    Recorder rec;
    lexer::Callback cb;
    cb.fn = Recorder::call;
    cb.data = &rec;
    cb.mask = lexer::ev_load;
    lexer::Options o;
    o.callback = &cb;
    // After the first value the scan jumps to the character at index 6 (the "z").
    bool moved = false;
    rec.answer = [&](lexer::Event, Cell& input, const Cell&, int32_t, const Cell&) {
        if (!moved) input.w1 += 4;
        moved = true;
        return true;
    };
    Cell* input = str("\u00e9 x y z");
    Cell* out = stack::reserve();
    lexer::load(*out, *input, -1, o, nullptr);
    auto v = cells_of(*out);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(spelling(v[1]), "z");
    // An index set past either end is clamped to the text.
    rec.answer = [](lexer::Event, Cell& input, const Cell&, int32_t, const Cell&) {
        input.w1 = 0x7FFFFFF0;
        return true;
    };
    lexer::load(*out, *input, -1, o, nullptr);
    EXPECT_EQ(cells_of(*out).size(), 1u);
    moved = false;
    rec.answer = [&](lexer::Event, Cell& input, const Cell&, int32_t, const Cell&) {
        if (!moved) input.w1 = uint32_t(-5);
        moved = true;
        return true;
    };
    lexer::load(*out, *input, -1, o, nullptr);
    EXPECT_EQ(cells_of(*out).size(), 5u);  // the first value, then all four again
}

TEST_F(LexerTest, CallbackThatRaisesLeavesNothingBehind) {
    Recorder rec;
    lexer::Callback cb;
    cb.fn = Recorder::call;
    cb.data = &rec;
    lexer::Options o;
    o.callback = &cb;
    uint64_t conversion = lexer::conversion_used();
    // A nested scan inside the callback, then an error from the callback.
    rec.answer = [&](lexer::Event e, Cell&, const Cell& type, int32_t, const Cell&) {
        if (e == lexer::ev_load && type.w1 == T_integer) {
            lexer::Options inner;
            Cell* nested = scan_text("[p q] r", inner);
            EXPECT_EQ(cells_of(*nested).size(), 2u);
            EXPECT_EQ(lexer::active_scans(), 1u);
            error::fire(err::user_message, Cell{T_integer, 0, 7, 0});
        }
        return true;
    };
    Cell* input = str("[a [b 1 c]] d");
    Cell* out = stack::reserve();
    *out = none_cell;
    try {
        lexer::load(*out, *input, -1, o, nullptr);
        ADD_FAILURE() << "the error did not pass through";
    } catch (const Error& e) {
        EXPECT_EQ(e.id, err::user_message);
        EXPECT_EQ(e.args[0].w2, 7u);
    }
    EXPECT_EQ(type_of(*out), T_none);
    EXPECT_EQ(lexer::active_scans(), 0u);
    EXPECT_EQ(lexer::conversion_used(), conversion);
    // The lexer is whole again: a new scan starts from an empty buffer.
    auto v = values("[x] y");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(cells_of(v[0]).size(), 1u);

    // A pending exit (a throw from language code) ends the scan; the exit stays pending.
    rec.answer = [](lexer::Event e, Cell&, const Cell&, int32_t, const Cell&) {
        if (e == lexer::ev_load) stack::pending.code = stack::exit_throw;
        return true;
    };
    uint32_t type = 99;
    Cell* r = stack::reserve();
    *r = none_cell;
    type = lexer::scan(reinterpret_cast<const uint8_t*>("a b"), 3, o, none_cell, *r);
    EXPECT_EQ(type, 0u);
    EXPECT_TRUE(stack::exiting());
    EXPECT_EQ(type_of(*r), T_none);
    stack::pending.code = stack::no_exit;
    EXPECT_EQ(lexer::active_scans(), 0u);
}

// ---- the value buffer and collections -------------------------------------------------------------------

namespace {

// Gives the series types that have no module yet the marking hooks the collector needs, for
// the duration of a test, and switches the collector on.
struct Collecting : Runtime {
    std::vector<uint32_t> patched;
    void SetUp() override {
        struct Hook {
            uint32_t type;
            datatype::MarkFn fn;
        } hooks[] = {
            {T_block, collector::mark_block_value},     {T_paren, collector::mark_block_value},
            {T_path, collector::mark_block_value},      {T_lit_path, collector::mark_block_value},
            {T_set_path, collector::mark_block_value},  {T_get_path, collector::mark_block_value},
            {T_map, collector::mark_block_value},       {T_file, collector::mark_string_value},
            {T_url, collector::mark_string_value},      {T_tag, collector::mark_string_value},
            {T_email, collector::mark_string_value},    {T_ref, collector::mark_string_value},
            {T_string, collector::mark_string_value},   {T_binary, collector::mark_series_value},
        };
        for (auto& h : hooks)
            if (!datatype::types[h.type].mark) {
                datatype::types[h.type].mark = h.fn;
                patched.push_back(h.type);
            }
        collector::enable(true);
    }
    void TearDown() override {
        collector::enable(false);
        for (uint32_t t : patched) datatype::types[t].mark = nullptr;
    }
};

}  // namespace

TEST_F(Collecting, ValuesUnderConstructionSurviveCollections) {
    // Enough values to grow the buffer several times, each holding series of its own.
    std::string source;
    for (int i = 0; i < 3000; ++i) {
        source += "[\"s" + std::to_string(i) + "\" %f" + std::to_string(i) + " #{0" + std::to_string(i % 10) + "} (w" +
                std::to_string(i % 50) + " <t>)] ";
        if (i % 7 == 0) source += "\n";
    }
    uint32_t before = collector::collections();
    Cell* b = scan_text(source);
    for (int k = 0; k < 3; ++k) collector::collect();
    EXPECT_GE(collector::collections(), before + 3);
    auto v = cells_of(*b);
    ASSERT_EQ(v.size(), 3000u);
    for (int i = 0; i < 3000; i += 97) {
        auto e = cells_of(v[i]);
        ASSERT_EQ(e.size(), 4u);
        EXPECT_EQ(text(e[0]), "s" + std::to_string(i));
        EXPECT_EQ(type_of(e[1]), T_file);
        EXPECT_EQ(text(e[1]), "f" + std::to_string(i));
        EXPECT_EQ(bytes_of(e[2]), std::vector<uint8_t>{uint8_t(i % 10)});
        EXPECT_EQ(spelling(cells_of(e[3])[0]), "w" + std::to_string(i % 50));
        EXPECT_EQ(text(cells_of(e[3])[1]), "t");
    }
    EXPECT_GE(lexer::buffer_capacity(), 4000u);
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(Collecting, NestedScansFromTheCallbackKeepTheirParentsValues) {
    Recorder rec;
    lexer::Callback cb;
    cb.fn = Recorder::call;
    cb.data = &rec;
    cb.mask = lexer::ev_load;
    lexer::Options o;
    o.callback = &cb;
    std::vector<std::string> nested_texts;
    // After each integer, whose string before it is held by the value buffer alone.
    rec.answer = [&](lexer::Event, Cell&, const Cell& type, int32_t, const Cell&) {
        if (type.w1 == T_integer) {
            lexer::Options inner;
            Cell* n = scan_text(std::string(200, '[') + "\"deep\"" + std::string(200, ']'), inner);
            Cell d = *n;
            for (int i = 0; i < 201; ++i) d = cells_of(d)[0];
            nested_texts.push_back(text(d));
            collector::collect();
        }
        return true;
    };
    std::string outer;
    for (int i = 0; i < 50; ++i) outer += "[\"o" + std::to_string(i) + "\" 1] ";
    Cell* b = scan_text(outer, o);
    auto v = cells_of(*b);
    ASSERT_EQ(v.size(), 50u);
    EXPECT_EQ(nested_texts.size(), 50u);
    EXPECT_EQ(nested_texts.back(), "deep");
    for (int i = 0; i < 50; ++i) EXPECT_EQ(text(cells_of(v[i])[0]), "o" + std::to_string(i));
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(LexerTest, MoldedWhereAMoldExists) {
    struct Row {
        const char* text;
        const char* molded;
    } rows[] = {
        {"[a b/c 'd/e :f/g h/i: (1 2.5) #\"x\" 50% true]", "[a b/c 'd/e :f/g h/i: (1 2.5) #\"x\" 50% true]"},
        {"a/(b c)/1", "a/(b c)/1"},
        {"[/r a: :b 'c]", "[/r a: :b 'c]"},
        {"[#(true) #(none) #(int) -2147483648 1.5e300 1e-7]", "[true none integer! -2147483648 1.5e300 0.0000001]"},
        {"[\nx y\n]", "[\n    x y\n]"},
    };
    for (auto& r : rows) EXPECT_EQ(mold(one(r.text)), r.molded) << r.text;
}
