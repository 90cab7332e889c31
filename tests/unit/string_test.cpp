// string! internals: widening, the concatenate modes, comparison, hex text.
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

using StringTest = Runtime;

TEST_F(StringTest, WideningThresholds) {
    // Appending widens a Latin-1 buffer from 128 on; storing at a position only from 256 on.
    Cell* s = str("ab");
    string::append_char(s->w2, 233);
    EXPECT_EQ(unit_of(*s), 2u);
    EXPECT_EQ(text(*s), "ab\u00e9");

    Cell* t = str("ab");
    string::set_char_at(t->w2, 0, 233);
    EXPECT_EQ(unit_of(*t), 1u);
    string::set_char_at(t->w2, 1, 0x100);
    EXPECT_EQ(unit_of(*t), 2u);
    EXPECT_EQ(text(*t), "\u00e9\u0100");

    Cell* u = str("x");
    string::append_char(u->w2, 0x10000);  // straight to 4 units
    EXPECT_EQ(unit_of(*u), 4u);
    Cell* v = str("\u0100");
    string::append_char(v->w2, 0x1F600);  // 2 -> 4
    EXPECT_EQ(unit_of(*v), 4u);
    EXPECT_EQ(text(*v), "\u0100\U0001F600");
}

TEST_F(StringTest, WriteCharPastTheTailFillsTheGap) {
    Cell* s = str("ab");
    string::write_char_at(s->w2, 40, 'z');
    std::string t = text(*s);
    ASSERT_EQ(t.size(), 41u);
    EXPECT_EQ(t.front(), 'a');
    EXPECT_EQ(t.back(), 'z');
    EXPECT_EQ(t[10], ' ');
}

TEST_F(StringTest, ConcatenateModes) {
    struct Row {
        const char* target;
        const char* source;
        int32_t offset;
        string::Mode mode;
        const char* result;
    } rows[] = {
        {"abcdef", "xy", 1, string::overwrite_mode, "axydef"},
        {"abcdef", "xy", 5, string::overwrite_mode, "abcdexy"},
        {"abc", "xy", 0, string::append_mode, "abcxy"},
        {"abc", "xy", 1, string::insert_mode, "axybc"},
        {"abc", "\u00e9\u0100", 3, string::insert_mode, "abc\u00e9\u0100"},
    };
    for (auto& r : rows) {
        Cell* t = str(r.target);
        Cell* s = str(r.source);
        string::concatenate(*t, *s, -1, r.offset, false, r.mode);
        EXPECT_EQ(text(*t), r.result) << r.target << " " << r.source;
    }
    // A part limit; a wider target keeps its unit and converts the source.
    Cell* t = str("\u0100");
    Cell* s = str("hello");
    string::concatenate(*t, *s, 2, 0, true, string::append_mode);
    EXPECT_EQ(text(*t), "\u0100he");
    EXPECT_EQ(unit_of(*s), 1u);
}

TEST_F(StringTest, InsertingAStringIntoItselfActsOnACopy) {
    Cell* s = str("abc");
    Cell from = *s;
    from.w1 = 1;  // next s
    string::concatenate(*s, from, -1, 0, false, string::insert_mode);
    EXPECT_EQ(text(*s), "bcabc");
    Cell* t = str("abc");
    Cell whole = *t;
    string::concatenate(*t, whole, -1, 0, false, string::append_mode);
    EXPECT_EQ(text(*t), "abcabc");
}

TEST_F(StringTest, CompareValues) {
    struct Row {
        const char* a;
        const char* b;
        int32_t op;
        bool match;
        int32_t result;
    } rows[] = {
        {"abc", "ABC", 0, false, 0},  {"abc", "ABC", 2, false, 1},  {"ab", "abc", 3, false, -1},
        {"b", "abc", 3, false, 1},    {"abcdef", "abc", 0, true, 0}, {"abcdef", "", 0, true, 0},
        {"abcdef", "", 12, true, 1},  {"", "", 3, false, 0},         {"", "a", 3, false, -1},
        {"ab", "abc", 0, false, 1},   {"\u00e9", "\u00c9", 0, false, 0},
    };
    for (auto& r : rows) {
        Cell* a = str(r.a);
        Cell* b = str(r.b);
        EXPECT_EQ(string::compare_values(*a, *b, r.op, r.match), r.result) << r.a << " / " << r.b << " op " << r.op;
    }
    Cell* a = str("x");
    EXPECT_EQ(string::compare_values(*a, *a, 9, false), 0);
    Cell* b = str("x");
    EXPECT_EQ(string::compare_values(*a, *b, 9, false), -1);
}

TEST_F(StringTest, TagDelimitedNeverReadsPastTheTail) {
    Cell* tag = str("b");
    Cell* s = str("<b");
    EXPECT_FALSE(string::tag_delimited_q(*s, *tag));
    Cell* t = str("<b>");
    EXPECT_TRUE(string::tag_delimited_q(*t, *tag));
    t->w1 = 3;
    EXPECT_FALSE(string::tag_delimited_q(*t, *tag));
}

TEST_F(StringTest, HexText) {
    char out[9];
    char two[2];
    EXPECT_STREQ(string::to_hex(255, true, out), "FF");
    EXPECT_STREQ(string::to_hex(0, true, out), "00");
    EXPECT_STREQ(string::to_hex(255, false, out), "000000FF");
    EXPECT_STREQ(string::to_hex(-1, false, out), "FFFFFFFF");
    EXPECT_STREQ(string::to_hex(-1, true, out), "FF");
    EXPECT_STREQ(string::to_hex(0x1234, true, out), "1234");
    string::byte_to_hex(0xA5, two);
    EXPECT_EQ(std::string(two, 2), "A5");
}

TEST_F(StringTest, LoadingAndRemoving) {
    Cell* s = str("h\u00e9llo w\u00f6rld");
    EXPECT_EQ(unit_of(*s), 1u);
    EXPECT_EQ(string::rs_length_q(*s), 11);
    string::remove_chars(*s, 1, 4);
    EXPECT_EQ(text(*s), "h w\u00f6rld");
    string::insert_char(s->w2, 0, 'H');
    EXPECT_EQ(text(*s), "Hh w\u00f6rld");
    string::truncate_at(s->w2, 4);
    EXPECT_EQ(text(*s), "Hh w");
    EXPECT_TRUE(string::starts_with_literal_q(*s, "Hh w"));
    EXPECT_FALSE(string::starts_with_literal_q(*s, "Hh wx"));
    EXPECT_EQ(string::rs_find_char(*s, 'w'), 3);
    string::remove_chars(*s, 2, 100);  // to the tail: only the tail moves
    EXPECT_EQ(text(*s), "Hh");
    EXPECT_EQ(error_of([] { string::load(reinterpret_cast<const uint8_t*>("x"), 1, nullptr, 7); }),
              "script/invalid-arg");
    EXPECT_EQ(error_of([] { string::load_utf8_strict(reinterpret_cast<const uint8_t*>("a\xC0\x41"), 3); }),
              "access/invalid-utf8");
}
