// binary!: values as bytes (append, insert, change, to), the text form, comparison, byte-wise
// logic, complement and trim, through Kov text; the routines other modules call, directly.
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

// Evaluates as `eval` does, then puts the interpreter's current position back at the top
// level: an error unwinding out of the evaluator leaves it at the failed expression's block,
// which the next evaluation would restore after that block has been collected.
std::string run(const std::string& source) {
    std::string r = eval(source);
    interp::current = none::value;
    return r;
}

struct Case {
    const char* source;
    const char* result;
};

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

// 0x00, 0x01 ... as a binary literal of n bytes.
std::string counting(int n) {
    static const char* digits = "0123456789ABCDEF";
    std::string s = "#{";
    for (int i = 0; i < n; ++i) {
        s += digits[(i >> 4) & 15];
        s += digits[i & 15];
    }
    return s + "}";
}

std::string hex_of(int from, int to) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (int i = from; i < to; ++i) {
        s += digits[(i >> 4) & 15];
        s += digits[i & 15];
    }
    return s;
}

Cell issue_cell(const char* name) { return issue::make(symbol::make(name)); }

Cell* bytes(std::initializer_list<uint8_t> b) {
    std::vector<uint8_t> v(b);
    return binary::load(v.data(), v.size());
}

}  // namespace

TEST_F(BinaryTest, AppendConvertsEachKindOfValue) {
    check({
        {"append #{} 255", "#{FF}"},
        {"append #{} -1", "#{FF}"},
        {"append #{} -128", "#{80}"},
        {"append #{} 256", "error: script/invalid-arg"},
        {"append #{} -129", "error: script/invalid-arg"},
        {"append #{} #\"a\"", "#{61}"},
        {"append #{} #\"^(20AC)\"", "#{E282AC}"},
        {"append #{} [1 \"a\" #{FF} 1.2.3]", "#{0161FF010203}"},
        {"append #{} \"\u00e9\"", "#{C3A9}"},
        {"append #{} %a/b", "#{612F62}"},
        {"append #{} [[1 [2]] 3]", "#{010203}"},
        {"append #{} []", "#{}"},
        {"append #{} 1.5", "error: script/bad-to-arg"},
        {"append #{} [1 none]", "error: script/bad-to-arg"},
        {"append #{01} #{0203}", "#{010203}"},
        {"append next #{01} #{02}", "#{0102}"},  // append gives the head
    });
}

TEST_F(BinaryTest, PartAndDup) {
    check({
        {"append/part #{} \"abc\" 2", "#{6162}"},
        {"append/part #{} \"\u00e9\" 1", "#{C3}"},  // the cut may fall inside a character
        {"append/part #{} #{010203} 2", "#{0102}"},
        {"append/part #{} [1 2 3] 2", "#{0102}"},  // a block's part counts values
        {"append/part #{} [\"abc\" 2] 1", "#{616263}"},
        {"append/only/part #{} [\"abc\" \"de\" 9] 4", "#{61626364}"},  // with /only it counts bytes
        {"append/only #{} [\"abc\" 1]", "#{61626301}"},
        {"append/dup #{} 1 3", "#{010101}"},
        {"append/dup #{AA} #{0102} 2", "#{AA01020102}"},
        {"append/dup #{} 1 0", "#{}"},
        // Sizes past the largest buffer are refused before anything is allocated.
        {"append/dup #{} #{0102} 2000000000", "error: internal/no-memory"},
        {"b: #{01} try [insert/dup b #{0102} 2000000000] b", "#{01}"},
        {"head change/dup #{01} #{010203} 1000000000", "error: internal/no-memory"},
    });
}

TEST_F(BinaryTest, InsertPlacesBytesAndGivesThePositionAfter) {
    check({
        {"insert #{0102} #{03}", "#{0102}"},
        {"head insert #{0102} #{03}", "#{030102}"},
        {"head insert next #{0102} [3 4]", "#{01030402}"},
        {"tail? insert tail #{01} 2", "true"},
        {"head insert/dup next #{0102} 255 3", "#{01FFFFFF02}"},
        {"head insert at #{010203} 9 4", "#{01020304}"},  // an index past the tail is clipped
    });
}

TEST_F(BinaryTest, ASeriesAddedToItselfIsReadAsItStood) {
    check({
        {"b: #{0102} append b b", "#{01020102}"},
        {"b: #{010203} insert b next b b", "#{0203010203}"},
        {"b: #{010203} head insert next b b", "#{010102030203}"},
        {"b: #{010203} head change next b b", "#{01010203}"},
        {"b: #{010203} head change b next b", "#{020303}"},
        {"b: #{0102} blk: [0] append blk b append b blk b", "#{0102000102}"},
    });
}

TEST_F(BinaryTest, AFailingValueLeavesTheSeriesAsItWas) {
    check({
        {"b: #{01} try [append b [2 300]] b", "#{01}"},
        {"b: #{01} try [insert b [2 #{03} 1.5]] b", "#{01}"},
        {"b: #{0102} try [change b [3 300]] b", "#{0102}"},
    });
}

TEST_F(BinaryTest, Change) {
    check({
        {"change #{010203} 1.5", "#{}"},
        {"head change #{010203} 1.5", "#{312E35}"},  // other values are formed
        {"head change #{0102} [1.5 2]", "#{312E3502}"},
        {"head change #{01020304} #{FF}", "#{FF020304}"},
        {"change #{01020304} #{FF}", "#{020304}"},
        {"head change/part #{01020304} #{FF} 3", "#{FF04}"},
        {"head change/part #{01020304} #{FFEE} 0", "#{FFEE01020304}"},
        {"head change/part next #{010203} [] 1", "#{0103}"},
        {"head change #{01} #{AABBCC}", "#{AABBCC}"},
        {"head change/dup #{0000} 1 3", "#{010101}"},
        {"head change tail #{01} 2", "#{0102}"},
        {"change #{01} 256", "error: script/invalid-arg"},
    });
}

TEST_F(BinaryTest, ToBinary) {
    check({
        {"to binary! 1", "#{00000001}"},
        {"to binary! -2", "#{FFFFFFFE}"},
        {"to binary! 1.0", "#{3FF0000000000000}"},
        {"to binary! 50%", "#{3FE0000000000000}"},
        {"to binary! #\"a\"", "#{61}"},
        {"to binary! 1.2.3", "#{010203}"},
        {"to binary! \"\u00e9t\u00e9\"", "#{C3A974C3A9}"},
        {"to binary! next \"abc\"", "#{6263}"},
        {"to binary! %a", "#{61}"},
        {"to binary! http://x", "#{687474703A2F2F78}"},
        {"to binary! #FF00", "#{FF00}"},
        {"to binary! #ff0", "#{FF}"},  // an odd last digit is dropped
        {"to binary! #xyz", "error: script/invalid-data"},
        {"to binary! [1 \"a\"]", "#{0161}"},
        {"to binary! next #{0102}", "#{02}"},
        {"to binary! none", "error: script/bad-to-arg"},
        {"to binary! [1.5]", "error: script/bad-to-arg"},
    });
    // A bitset gives its whole byte buffer.
    Cell* bits = bytes({0x40, 0x01});
    cell::set_type(*bits, T_bitset);
    Cell* r = binary::to(nullptr, bits, T_binary);
    EXPECT_EQ(mold(*r), "#{4001}");
    // The copy is a new series.
    EXPECT_EQ(run("b: #{0102} c: to binary! b append c 3 b"), "#{0102}");
}

TEST_F(BinaryTest, MoldBreaksLinesOf32Bytes) {
    EXPECT_EQ(run("#{}"), "#{}");
    EXPECT_EQ(run(counting(30)), counting(30));
    EXPECT_EQ(run(counting(31)), "#{\n    " + hex_of(0, 31) + "\n}");
    EXPECT_EQ(run(counting(32)), "#{\n    " + hex_of(0, 32) + "\n    }");
    EXPECT_EQ(run(counting(40)), "#{\n    " + hex_of(0, 32) + "\n    " + hex_of(32, 40) + "\n}");
    EXPECT_EQ(run(counting(64)), "#{\n    " + hex_of(0, 32) + "\n    " + hex_of(32, 64) + "\n    }");
}

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
    Cell* a = bytes({1});
    Cell* b = bytes({1, 0});
    Cell* c = bytes({2});
    Cell* d = bytes({0, 1, 0});
    Cell* e = bytes({});
    Cell* f = bytes({});
    Cell d1 = *d;
    d1.w1 = 1;  // next d: the same bytes as b
    EXPECT_EQ(compare_raw(*a, *b, lesser), -1);
    EXPECT_EQ(compare_raw(*c, *b, lesser), 1);
    EXPECT_EQ(compare_raw(*a, *b, equal), 1);
    EXPECT_EQ(compare_raw(d1, *b, equal), 0);
    EXPECT_EQ(compare_raw(d1, *b, strict_equal), 0);
    EXPECT_EQ(compare_raw(d1, *b, same), -1);
    EXPECT_EQ(compare_raw(*b, *b, same), 0);
    EXPECT_EQ(compare_raw(*e, *f, equal), 0);
    EXPECT_EQ(compare_raw(*e, *a, lesser), -1);
    Cell ff = *bytes({0xFF});
    EXPECT_EQ(compare_raw(ff, *c, greater), 1);  // unsigned
    EXPECT_EQ(compare_raw(*a, integer::make(1), equal), not_comparable);
    EXPECT_EQ(compare_raw(*a, *str("a"), equal), not_comparable);

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

TEST_F(BinaryTest, ByteWiseLogic) {
    check({
        {"and~ #{FF00} #{0F}", "#{0F00}"},
        {"or~ #{FF00} #{0F}", "#{FF00}"},
        {"xor~ #{FF00} #{0F}", "#{F000}"},
        {"and~ #{0F} #{FF00}", "#{0F00}"},
        {"xor~ #{0F} #{FF00}", "#{F000}"},
        {"#{FF00} and #{0F}", "#{0F00}"},
        {"and~ next #{AAFF} #{0F}", "#{0F}"},
        {"or~ #{} #{}", "#{}"},
        {"and~ #{01} 1", "error: script/invalid-arg"},
        {"b: #{FF} c: #{0F} d: xor~ b c b", "#{FF}"},  // neither argument changes
        {"b: #{FF} c: #{0F} d: xor~ b c c", "#{0F}"},
    });
}

TEST_F(BinaryTest, ComplementChangesTheSeriesAtItsPosition) {
    check({
        {"complement #{00FF}", "#{FF00}"},
        {"b: #{00FF} complement next b b", "#{0000}"},
        {"complement next #{00F0}", "#{0F}"},
    });
}

TEST_F(BinaryTest, Trim) {
    check({
        {"trim #{000100}", "#{01}"},
        {"trim/head #{000100}", "#{0100}"},
        {"trim/tail #{000100}", "#{0001}"},
        {"trim/head/tail #{000100}", "#{01}"},
        {"trim #{0000}", "#{}"},
        {"head trim next #{00000100}", "#{0001}"},
        {"trim/all #{00010002}", "#{0102}"},
        {"trim/with #{01020301} #{01}", "#{0203}"},
        {"trim/with #{61626361} \"a\"", "#{6263}"},
        {"trim/with #{010203} 2", "#{0103}"},
        {"trim/all/with #{00010203} #\"^A\"", "#{000203}"},
        {"trim/auto #{00}", "error: internal/not-done"},
        {"trim/lines #{00}", "error: internal/not-done"},
    });
}

TEST_F(BinaryTest, SeriesActions) {
    check({
        {"b: #{00} poke b 1 300 b", "#{2C}"},  // the low 8 bits, no range check
        {"pick #{0AFF} 2", "255"},
        {"length? next #{010203}", "2"},
        {"copy/part next #{01020304} 2", "#{0203}"},
        {"take #{0102}", "1"},
        {"b: #{0102} take/last b b", "#{01}"},
        {"reverse #{010203}", "#{030201}"},
        {"head remove next #{010203}", "#{0103}"},
        {"head clear next #{010203}", "#{01}"},
        {"index? skip #{010203} 2", "3"},
    });
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

TEST_F(BinaryTest, HexLiteralOfAnIssue) {
    Cell out{T_none, 0, 0, 0};
    collector::Root keep(out);
    binary::from_hex_literal(issue_cell("00ff10"), out);
    EXPECT_EQ(mold(out), "#{00FF10}");
    EXPECT_EQ(error_of([&] { binary::from_hex_literal(issue_cell("0g"), out); }), "script/invalid-data");
}

TEST_F(BinaryTest, ActionsSharedWithText) {
    check({
        {"find #{010203} #{02}", "#{0203}"},
        {"find #{616263} \"b\"", "#{6263}"},
        {"find #{616263} #\"c\"", "#{63}"},
        {"find/tail #{010203} #{0102}", "#{03}"},
        {"find #{010203} #{04}", "none"},
        {"select #{616263} #\"a\"", "98"},
        {"sort #{030102}", "#{010203}"},
        {"b: #{0102} swap b next b b", "#{0201}"},
        {"make binary! 10", "#{}"},
        {"make binary! \"a\"", "#{61}"},
        {"make binary! $1", "error: script/bad-make-arg"},
        {"b: #{0A0B} b/2", "11"},
        {"b: #{0A0B} b/1: 3 b", "#{030B}"},
        {"form #{0102}", "\"#{0102}\""},
        {"mold/part #{010203} 5", "\"#{010\""},
        {"mold/flat #{000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E}",
         "{#{000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E}}"},  // one line
        {"mold/only #{0102}", "\"0102\""},
    });
}

TEST_F(BinaryTest, OwnersAreToldAndMayChangeTheSeries) {
    const std::string logger =
        "log: copy [] o: make object! [b: #{01} on-deep-change*: func [owner word target action new-value index part]"
        " [append log reduce [action index part]]] ";
    EXPECT_EQ(run(logger + "insert o/b 2 change o/b 3 trim o/b log"),
              "[insert 0 1 inserted 0 1 change 0 1 changed 0 1 trim 0 0 trimmed 0 0]");
    EXPECT_EQ(run(logger + "append o/b 2 log"), "[append 1 1 appended 1 1]");
    // What the owner does before the change is measured again.
    const std::string clearing =
        "o: make object! [b: #{01020304} on-deep-change*: func [owner word target action new-value index part]"
        " [switch action [append [clear target] change [clear next target] insert [clear target]]]] ";
    check({
        {(clearing + "append o/b 2 o/b").c_str(), "#{02}"},
        {(clearing + "change next next o/b #{AABB} o/b").c_str(), "#{0102AABB}"},
        {(clearing + "insert next next o/b #{AABB} o/b").c_str(), "#{0102AABB}"},
    });
}
