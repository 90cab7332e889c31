// string! actions through Kov text: molding and its escapes, conversion, searching, the
// insertion family, sorting, trimming, swapping, the path step and the set operations.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/interpreter/actions.h"
#include "runtime/series_buffer.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

// The collector runs (at every allocation under gc-stress) while the actions work; the heap
// must be sound after each test.
struct StringActionsTest : Kov {
    ~StringActionsTest() override { EXPECT_EQ(memory::verify(), nullptr); }
};

namespace {

struct Case {
    const char* source;
    const char* expected;
};

void check_all(const Case* begin, const Case* end) {
    for (const Case* c = begin; c != end; ++c) EXPECT_EQ(eval(c->source), c->expected) << c->source;
}
template <std::size_t N>
void check_all(const Case (&cases)[N]) {
    check_all(cases, cases + N);
}

std::string molded(const std::string& utf8, bool all = false) { return test::mold(*str(utf8), all); }

}  // namespace

TEST_F(StringActionsTest, MoldEscapesInQuoteMode) {
    struct Row {
        std::string text;
        const char* expected;
    } rows[] = {
        {"abc", "\"abc\""},
        {"a\tb\nc", "\"a^-b^/c\""},
        {std::string("\0", 1), "\"^@\""},
        {"\x01\x08\x0B\x1A", "\"^A^H^K^Z\""},
        {"\x1B\x1C\x1D\x1F", "\"^[^\\^]^_\""},
        {"\x1E", "\"^(1E)\""},
        {"\x7F^", "\"^~^^\""},
        {"\u0085\u009F", "\"^(85)^(9F)\""},
        {"{a}", "\"{a}\""},
        {"\u00e9\u20ac", "\"\u00e9\u20ac\""},
    };
    for (auto& r : rows) EXPECT_EQ(molded(r.text), r.expected) << r.expected;
    // mold/all writes everything above 127 in hex.
    EXPECT_EQ(molded("\u00e9\u20ac\U0001F600x", true), "\"^(E9)^(20AC)^(1F600)x\"");
}

TEST_F(StringActionsTest, MoldChoosesBracesAndBalancesThem) {
    EXPECT_EQ(molded(std::string(49, 'x')), "\"" + std::string(49, 'x') + "\"");
    EXPECT_EQ(molded(std::string(50, 'x')), "{" + std::string(50, 'x') + "}");
    struct Row {
        const char* text;
        const char* expected;
    } rows[] = {
        {"a\"b", "{a\"b}"},
        {"a\nb\n", "\"a^/b^/\""},            // two line feeds stay in quotes
        {"a\nb\nc\n", "{a^/b^/c^/}"},        // three switch to braces
        {"\"{a}", "{\"{a}}"},                // a closed brace stays bare
        {"\"{a", "{\"^{a}"},                 // an unclosed one is escaped
        {"\"}{", "{\"^}^{}"},
        {"\"{a{b}", "{\"^{a^{b^}}"},         // from the first unclosed brace on, all are escaped
        {"\"{{}}x{", "{\"{{}}x^{}"},
        {"\"^\t", "{\"^^^-}"},
    };
    for (auto& r : rows) EXPECT_EQ(molded(r.text), r.expected) << r.text;
    // Every molded text loads back to the same characters.
    for (auto& r : rows) {
        std::string m = molded(r.text);
        Cell* code = stack::reserve();
        lexer::scan(reinterpret_cast<const uint8_t*>(m.data()), m.size(), lexer::Options{}, none::value, *code);
        ASSERT_EQ(block::rs_length_q(*code), 1) << m;
        Cell loaded = *block::rs_head(*code);
        ASSERT_TRUE(cell::is(loaded, T_string)) << m;
        EXPECT_EQ(text(loaded), r.text) << m;
    }
}

TEST_F(StringActionsTest, FormAndMoldWithPart) {
    check_all({
        {"mold/part \"abcdef\" 4", "{\"abc}"},
        {"form/part \"abcdef\" 2", "\"ab\""},
        {"mold/part [\"abc\" \"def\"] 7", "{[\"abc\" }"},
        {"form next \"abc\"", "\"bc\""},
        {"mold next \"abc\"", "{\"bc\"}"},
    });
}

TEST_F(StringActionsTest, MakeAndTo) {
    check_all({
        {"make string! 10", "\"\""},
        {"make string! 2.5", "\"\""},
        {"make string! -1", "error: script/out-of-range"},
        {"make string! [a #\"b\" \"c\" 1]", "\"abc1\""},
        {"to string! 12", "\"12\""},
        {"to string! [1 [2 3] \"x\"]", "\"12 3x\""},
        {"to string! next next [1 2 3]", "\"3\""},
        {"to string! tail [1 2 3]", "\"\""},
        {"to string! next \"abc\"", "\"bc\""},
        {"to string! #{616263}", "\"abc\""},
        {"to string! #{C3A9}", "\"\u00e9\""},
        {"to string! #{FF}", "error: access/invalid-utf8"},
        {"to string! none", "error: script/bad-to-arg"},
        {"to string! /ref", "\"ref\""},
        {"to string! #\"x\"", "\"x\""},
        {"head? to string! next \"abc\"", "true"},
    });
}

TEST_F(StringActionsTest, ToNumbersReadsTheText) {
    check_all({
        {"to integer! \"42\"", "42"},
        {"to integer! next \"x-7\"", "-7"},
        {"to integer! \"4x\"", "error: script/bad-to-arg"},
        {"to float! \"1.5\"", "1.5"},
        {"to float! \"1,5\"", "1.5"},
        {"to float! next \"x-2e3\"", "-2000.0"},
        {"to float! \"\"", "error: script/bad-to-arg"},
        {"to float! \"1.5x\"", "error: script/bad-to-arg"},
        {"to percent! \"50\"", "5000%"},
        {"to percent! \"50%\"", "50%"},
        {"to percent! \"abc\"", "error: script/bad-to-arg"},
    });
}

TEST_F(StringActionsTest, FindRefinementMatrix) {
    check_all({
        {"find \"abcdef\" \"cd\"", "\"cdef\""},
        {"find \"abcdef\" \"CD\"", "\"cdef\""},
        {"find/case \"abcdef\" \"CD\"", "none"},
        {"find/same \"abCdef\" \"c\"", "none"},
        {"find \"abcdef\" #\"D\"", "\"def\""},
        {"find/case \"abcdef\" #\"D\"", "none"},
        {"find \"abc\" \"\"", "none"},
        {"find \"\" \"a\"", "none"},
        {"find tail \"abc\" \"c\"", "none"},
        {"find \"ab1cd\" 1", "\"1cd\""},
        {"find \"a word here\" 'word", "\"word here\""},
        {"find/tail \"abcdef\" \"cd\"", "\"ef\""},
        {"find/tail \"abcdef\" #\"f\"", "\"\""},
        {"find/match \"abcdef\" \"ab\"", "\"abcdef\""},
        {"find/match/tail \"abcdef\" \"ab\"", "\"cdef\""},
        {"find/match \"abcdef\" \"bc\"", "none"},
        {"find/last \"abcabc\" \"b\"", "\"bc\""},
        {"find/last/tail \"abcabc\" \"ab\"", "\"c\""},
        {"find/reverse tail \"abcabc\" \"bc\"", "\"bc\""},
        {"find/reverse at \"abcabc\" 4 \"b\"", "\"bcabc\""},
        {"find/reverse \"abc\" \"a\"", "none"},
        {"find/reverse/match tail \"abc\" \"c\"", "none"},
        {"find/skip \"abcdef\" #\"c\" 2", "\"cdef\""},
        {"find/skip \"abcdef\" #\"b\" 2", "none"},
        {"find/skip \"abcdef\" #\"b\" 0", "error: script/out-of-range"},
        {"find/skip/last \"xaxbxa\" #\"x\" 2", "\"xa\""},
        {"find/part \"abcdef\" \"ef\" 4", "none"},
        {"find/part \"abcdef\" \"cd\" 4", "\"cdef\""},
        {"find/part \"abcdef\" \"a\" 0", "none"},
        {"s: \"abcdef\" find/part s \"d\" at s 4", "none"},
        {"s: \"abcdef\" find/part s \"c\" at s 4", "\"cdef\""},
        {"find/part \"abc\" \"c\" [1]", "error: script/invalid-refine-arg"},
        {"find/last/part \"abcabc\" \"c\" 4", "\"cabc\""},
        {"find/reverse/part tail \"abcabc\" \"a\" 2", "none"},
        {"find/reverse/part tail \"abcabc\" \"b\" 2", "\"bc\""},
        {"find \"abc\" #{62}", "error: script/invalid-arg"},
    });
}

TEST_F(StringActionsTest, FindWildcards) {
    check_all({
        {"find/any \"abcdef\" \"c?e\"", "\"cdef\""},
        {"find/any \"abcdef\" \"b*e\"", "\"bcdef\""},
        {"find/any/tail \"abcdef\" \"b*d\"", "\"ef\""},
        {"find/any/tail \"abcdef\" \"c*\"", "\"def\""},
        {"find/any \"abcdef\" \"*e\"", "\"abcdef\""},
        {"find/any \"abcdef\" \"x*\"", "none"},
        {"find/any \"abcdef\" \"b*x\"", "none"},
        {"find/any \"a*c\" \"*\"", "\"a*c\""},
        {"find/any \"ABCDEF\" \"b?D\"", "\"BCDEF\""},
        {"find/any/case \"ABCDEF\" \"b?D\"", "none"},
        {"find/any/last \"abcabc\" \"a?c\"", "\"abc\""},
        {"find/any/last/tail \"ab-ab-x\" \"a*-\"", "\"x\""},
        {"find/any/reverse tail \"xaybzc\" \"b*c\"", "\"bzc\""},
        {"find/any/match \"abcdef\" \"a*d\"", "\"abcdef\""},
        {"find/any/match \"abcdef\" \"b*d\"", "none"},
        {"find/with \"a?c-abc\" \"a%c\" \"*%\"", "\"a?c-abc\""},
        {"find/with \"a*c\" \"a*c\" \"#!\"", "\"a*c\""},
        {"find/with \"axxc\" \"a#c\" \"#!\"", "\"axxc\""},
    });
}

TEST_F(StringActionsTest, SelectAndPaths) {
    check_all({
        {"select \"abc\" #\"b\"", "#\"c\""},
        {"select \"abc\" \"ab\"", "#\"c\""},
        {"select \"abc\" #\"c\"", "none"},
        {"select/last \"abab\" #\"a\"", "#\"b\""},
        {"select \"abc\" #\"x\"", "none"},
        {"s: \"abc\" s/2", "#\"b\""},
        {"s: \"abc\" s/5", "none"},
        {"s: \"abc\" s/2: #\"x\" s", "\"axc\""},
        {"s: \"abc\" s/(\"a\")", "#\"b\""},
        {"s: \"a-bc\" s/(\"a-\"): #\"x\" s", "\"a-xc\""},
        {"s: \"abc\" s/(\"z\"): #\"x\"", "error: script/bad-path-set"},
        {"s: \"abc\" s/4: #\"x\"", "error: script/out-of-range"},
        {"s: \"abc\" s/foo", "error: script/invalid-path"},
    });
}

TEST_F(StringActionsTest, AppendInsertChange) {
    check_all({
        {"append \"abc\" \"def\"", "\"abcdef\""},
        {"append next \"abc\" \"d\"", "\"abcd\""},
        {"append \"ab\" #\"c\"", "\"abc\""},
        {"append \"ab\" [1 #\"x\" \"yz\" [2 3]]", "\"ab1xyz2 3\""},
        {"append/only \"ab\" [1 2]", "\"ab1 2\""},
        {"append \"ab\" next [1 2 3]", "\"ab23\""},
        {"append \"ab\" <tag>", "\"ab<tag>\""},
        {"append \"ab\" 1.5", "\"ab1.5\""},
        {"append \"ab\" none", "\"abnone\""},
        {"append/part \"ab\" \"cdef\" 2", "\"abcd\""},
        {"append/part \"ab\" \"cdef\" 0", "\"ab\""},
        {"append/part \"ab\" [\"cd\" \"ef\"] 3", "\"abcde\""},
        {"append/part \"ab\" <tag> 3", "\"ab<ta\""},
        {"s: \"cdef\" append/part \"ab\" s at s 3", "\"abcd\""},
        {"append/dup \"a\" \"xy\" 3", "\"axyxyxy\""},
        {"append/dup \"a\" #\"-\" 0", "\"a\""},
        {"append/dup/part \"a\" \"xyz\" 2 2", "\"axyxy\""},
        {"insert \"abc\" \"XY\"", "\"abc\""},
        {"s: \"abc\" insert next s \"XY\" s", "\"aXYbc\""},
        {"insert tail \"abc\" \"d\"", "\"\""},
        {"s: \"abc\" insert/dup s #\"-\" 3 s", "\"---abc\""},
        {"s: \"abc\" insert/part next s \"XYZ\" 1 s", "\"aXbc\""},
        {"change \"abcdef\" \"XY\"", "\"cdef\""},
        {"s: \"abcdef\" change s \"XY\" s", "\"XYcdef\""},
        {"s: \"abc\" change next s \"WXYZ\" s", "\"aWXYZ\""},
        {"s: \"abcdef\" change/part s \"X\" 3 s", "\"Xdef\""},
        {"s: \"abcdef\" change/part s \"XYZW\" 2 s", "\"XYZWcdef\""},
        {"s: \"abcdef\" change/part s \"\" 2 s", "\"cdef\""},
        {"s: \"abcdef\" change/part s \"X\" at s 5 s", "\"Xef\""},
        {"s: \"abc\" change/dup s \"xy\" 2 s", "\"xyxy\""},
        {"s: \"abcdef\" change/dup/part s #\"-\" 3 1 s", "\"---bcdef\""},
        {"change tail \"ab\" \"cd\"", "\"\""},
        // Sizes beyond what a buffer can hold are refused before anything changes.
        {"s: \"a\" append/dup s \"abcdefgh\" 300000000", "error: internal/no-memory"},
        {"s: \"a\" try [insert/dup s \"abcdefgh\" 300000000] s", "\"a\""},
        {"make string! 2147483647", "error: internal/no-memory"},
    });
}

TEST_F(StringActionsTest, AddingAStringToItself) {
    check_all({
        {"s: \"abc\" append s s", "\"abcabc\""},
        {"s: \"abc\" insert s s s", "\"abcabc\""},
        {"s: \"abc\" insert next s s s", "\"aabcbc\""},
        {"s: \"abcd\" change s next s s", "\"bcdd\""},
        {"s: \"ab\" append/dup s s 2 s", "\"ababab\""},
    });
}

TEST_F(StringActionsTest, UnicodeWideningThroughActions) {
    // Each action widens the string it changes; the other value keeps its unit.
    Cell* s = str("abc");
    Cell* e = str("\u00e9");  // Latin-1, unit 1
    EXPECT_EQ(unit_of(*e), 1u);
    eval("");  // the harness is up
    Cell* w = str("\u20ac\U0001F600");
    EXPECT_EQ(unit_of(*w), 4u);
    check_all({
        {"append \"abc\" \"\u20ac\"", "\"abc\u20ac\""},
        {"append \"abc\" #\"\U0001F600\"", "\"abc\U0001F600\""},
        {"s: \"\u20ac\" append s \"abc\" s", "\"\u20ac" "abc\""},
        {"s: \"abc\" insert next s \"\U0001F600\" s", "\"a\U0001F600" "bc\""},
        {"s: \"abcd\" change next s \"\u00e9\u20ac\" s", "\"a\u00e9\u20ac" "d\""},
        {"s: \"abc\" s/2: #\"\u20ac\" s", "\"a\u20ac" "c\""},
        {"find \"a\u20ac\U0001F600b\" \"\U0001F600\"", "\"\U0001F600" "b\""},
        {"select \"x\u00e9y\" #\"\u00c9\"", "#\"y\""},
        {"take/last \"ab\U0001F600\"", "#\"\U0001F600\""},
        {"append/dup \"\" \"\u00e9\u20ac\" 3", "\"\u00e9\u20ac\u00e9\u20ac\u00e9\u20ac\""},
        {"s: \"a\" t: \"\u20ac\" swap s t append s t", "\"\u20ac" "a\""},
    });
    // A wide value appended to a narrow string widens the string, not the value.
    Cell* target = str("ab");
    Cell* source = str("\u20ac");
    string::append(target, source, -1, false, 1, true);
    EXPECT_EQ(unit_of(*target), 2u);
    EXPECT_EQ(text(*target), "ab\u20ac");
    Cell* narrow = str("xy");
    Cell* wide = str("\u20ac");
    string::append(wide, narrow, -1, false, 1, true);
    EXPECT_EQ(unit_of(*narrow), 1u);
    EXPECT_EQ(text(*wide), "\u20acxy");
    (void)s;
    (void)w;
}

TEST_F(StringActionsTest, CompareFoldsCaseBeyondAscii) {
    struct Row {
        const char* a;
        const char* b;
        int32_t op;
        int32_t expected;
    } rows[] = {
        {"\u00e9t\u00e9", "\u00c9T\u00c9", actions::equal, 0},
        {"\u00e9t\u00e9", "\u00c9T\u00c9", actions::strict_equal, 1},
        {"stra\u00dfe", "STRA\u00dfE", actions::equal, 0},
        {"\u0434\u043e\u043c", "\u0414\u041e\u041c", actions::equal, 0},
        {"\u0434\u043e\u043c", "\u0414\u041e\u041c", actions::strict_equal, 1},
        {"abc", "abd", actions::lesser, -1},
        {"ab", "abc", actions::lesser, -1},
        {"b", "abc", actions::lesser, 1},
        {"ABC", "abd", actions::lesser, -1},
    };
    for (auto& r : rows) EXPECT_EQ(compare_raw(*str(r.a), *str(r.b), r.op), r.expected) << r.a << " " << r.b;
    // Other any-string types compare only for equality.
    Cell f = *str("abc");
    cell::set_type(f, T_file);
    EXPECT_EQ(compare_raw(*str("ABC"), f, actions::equal), 0);
    EXPECT_EQ(compare_raw(*str("ABC"), f, actions::lesser), actions::not_comparable);
    EXPECT_EQ(compare_raw(*str("ABC"), integer::make(1), actions::equal), actions::not_comparable);
    check_all({
        {"\"\u00e9t\u00e9\" = \"\u00c9T\u00c9\"", "true"},
        {"\"\u00e9t\u00e9\" == \"\u00c9T\u00c9\"", "false"},
        {"\"a\" = next \"ba\"", "true"},
        {"find \"\u0434\u043e\u043c\" \"\u041e\"", "\"\u043e\u043c\""},
        {"find/case \"\u0434\u043e\u043c\" \"\u041e\"", "none"},
    });
}

TEST_F(StringActionsTest, Trim) {
    check_all({
        {"trim \"  a  b  \"", "\"a  b\""},
        {"trim/head \"  a  \"", "\"a  \""},
        {"trim/tail \"  a  \"", "\"  a\""},
        {"trim/head/tail \" a ^/ b \"", "\"a ^/ b\""},
        {"trim \" a ^/  b  ^/^/\"", "\"a^/b^/\""},
        {"trim \"\u00a0a\u3000\"", "\"a\""},
        {"trim/all \" a^-b^/c^M \"", "\"abc\""},
        {"trim/all \"a\u00a0b\"", "\"a\u00a0b\""},
        {"trim/with \"a-b-c-\" #\"-\"", "\"abc\""},
        {"trim/with \"abcabc\" \"ca\"", "\"bb\""},
        {"trim/with \"abc\" \"\"", "\"abc\""},
        {"trim/with \"abc\" 98", "\"ac\""},
        {"trim/with \"abc\" #{61}", "\"bc\""},
        {"trim/with \"a\u20acb\u20ac\" \"\u20ac\"", "\"ab\""},
        {"trim/lines \"  a ^/^- b  c ^/\"", "\"a b c\""},
        {"trim/auto \"a\"", "error: internal/not-done"},
        {"s: \"x  a  \" trim next s s", "\"xa\""},
        {"trim \"\"", "\"\""},
        {"trim \"   \"", "\"\""},
    });
}

TEST_F(StringActionsTest, Sort) {
    check_all({
        {"sort \"dcba\"", "\"abcd\""},
        {"sort/case \"bBaA\"", "\"ABab\""},
        {"sort/stable \"bBaA\"", "\"aAbB\""},
        {"sort/reverse \"abcd\"", "\"dcba\""},
        {"sort/reverse/case \"aBcD\"", "\"caDB\""},
        {"sort/stable \"\u00e9b\u00c9a\u20ac\"", "\"ab\u00e9\u00c9\u20ac\""},
        {"sort/stable \"\u00c9b\u00e9a\u20ac\"", "\"ab\u00c9\u00e9\u20ac\""},
        {"sort/skip \"c1a2b3\" 2", "\"a2b3c1\""},
        {"sort/skip/reverse \"c1a2b3\" 2", "\"c1b3a2\""},
        {"sort/skip/compare \"c1a3b2\" 2 2", "\"c1b2a3\""},
        {"sort/skip/all \"b2a9a1\" 2", "\"a1a9b2\""},
        {"sort/part \"dcba\" 2", "\"cdba\""},
        {"s: \"dcba\" sort/part s at s 3 s", "\"cdba\""},
        {"s: \"dcba\" sort/part tail s -2 s", "\"dcab\""},
        {"s: \"dcba\" sort/part next s -5 s", "\"dcba\""},
        {"sort next \"zcba\"", "\"abc\""},
        {"sort/skip \"abc\" 2", "error: script/invalid-refine-arg"},
        {"sort/skip \"abc\" 0", "error: script/invalid-refine-arg"},
        {"sort/all \"abc\"", "error: script/bad-refines"},
        {"sort/compare \"abc\" 1", "error: script/bad-refines"},
        {"sort/skip/compare \"abcd\" 2 3", "error: script/out-of-range"},
        {"sort/skip/compare/all \"abcd\" 2 1", "error: script/bad-refines"},
        {"sort/compare \"abc\" [1]", "error: script/invalid-refine-arg"},
        {"sort \"\"", "\"\""},
    });
}

TEST_F(StringActionsTest, SortWithAComparator) {
    check_all({
        {"sort/compare \"cab\" func [a b][a > b]", "\"cba\""},
        {"sort/compare/skip/all \"b1a2a1\" func [a b][a < b] 2", "\"a1a2b1\""},
        {"sort/compare \"cab\" make function! [[a b][subtract to integer! a to integer! b]]", "\"abc\""},
        {"sort/compare \"cab\" make function! [[a b][subtract to integer! b to integer! a]]", "\"cba\""},
        {"sort/compare/reverse \"cab\" make function! [[a b][subtract to integer! a to integer! b]]", "\"cba\""},
        // Whole records reach the comparator as strings.
        {"sort/compare/all/skip \"cxaybz\" make function! [[a b][subtract to integer! pick a 1 to integer! pick b 1]] 2",
         "\"aybzcx\""},
        {"sort/compare \"cab\" make function! [[a b][1 / 0]]", "error: math/zero-divide"},
        {"loop 1 [sort/compare \"cab\" make function! [[a b][break]] 5]", "unset"},
    });
    // A comparator that changes the text being sorted leaves it whole.
    std::string r = eval(
        "s: \"dcba\" sort/compare s make function! [[a b][clear s append s \"xy\" subtract to integer! a to integer! b]] "
        "length? s");
    EXPECT_EQ(r, "2");
}

TEST_F(StringActionsTest, TakeRemoveReverseSwap) {
    check_all({
        {"take \"abc\"", "#\"a\""},
        {"take/last \"abc\"", "#\"c\""},
        {"take/part \"abcd\" 2", "\"ab\""},
        {"take/part/last \"abcd\" 2", "\"cd\""},
        {"s: \"abcd\" take/part s 2 s", "\"cd\""},
        {"take \"\"", "none"},
        {"remove \"abc\"", "\"bc\""},
        {"remove/part \"abcd\" 2", "\"cd\""},
        {"reverse \"abc\"", "\"cba\""},
        {"reverse/skip \"abcdef\" 2", "\"efcdab\""},
        {"s: \"abc\" swap s next s s", "\"bac\""},
        {"s: \"abc\" swap s tail s s", "\"abc\""},
    });
    // A binary! takes no character above 255, and nothing but text and binary! is swapped.
    Cell* bytes = stack::push(Cell{T_binary, 0, memory::alloc_bytes(1), 0});
    *series::reserve(bytes->w2, 1) = 'x';
    EXPECT_EQ(error_of([&] { string::swap(bytes, str("\u20ac")); }), "script/invalid-arg");
    EXPECT_EQ(error_of([&] { string::swap(str("abc"), stack::push(integer::make(1))); }), "script/invalid-arg");
    Cell* latin = str("\u00e9");
    string::swap(bytes, latin);
    EXPECT_EQ(unit_of(*bytes), 1u);
    EXPECT_EQ(memory::buffer(bytes->w2)->head_ptr()[0], 0xE9);
    EXPECT_EQ(text(*latin), "x");
}

TEST_F(StringActionsTest, SetOperations) {
    struct Row {
        const char* a;
        const char* b;
        bool case_;
        int32_t skip;
        int32_t op;
        const char* expected;
    } rows[] = {
        {"abcabd", nullptr, false, 0, string::op_unique, "abcd"},
        {"aAbB", nullptr, false, 0, string::op_unique, "ab"},
        {"aAbB", nullptr, true, 0, string::op_unique, "aAbB"},
        {"abc", "cde", false, 0, string::op_union, "abcde"},
        {"abcd", "DBx", false, 0, string::op_intersect, "bd"},
        {"abcd", "bd", false, 0, string::op_exclude, "ac"},
        {"abc", "bcd", false, 0, string::op_difference, "ad"},
        {"\u00e9\u20aca", "\u00c9", false, 0, string::op_exclude, "\u20aca"},
        {"a1b2a3", nullptr, false, 2, string::op_unique, "a1b2"},
        {"a1b2c3", "b9", false, 2, string::op_intersect, "b2"},
        {"abc", "", false, 0, string::op_union, "abc"},
    };
    for (auto& r : rows) {
        Cell skip = integer::make(r.skip);
        Cell* out = string::do_set_op(str(r.a), r.b ? str(r.b) : nullptr, r.case_, r.skip ? &skip : nullptr, r.op);
        EXPECT_TRUE(cell::is(*out, T_string));
        EXPECT_EQ(text(*out), r.expected) << r.a << " op " << r.op;
    }
    // The result keeps the first set's datatype and starts at its head.
    Cell* f = str("xyzx");
    cell::set_type(*f, T_file);
    f->w1 = 1;
    Cell* out = string::do_set_op(f, nullptr, false, nullptr, string::op_unique);
    EXPECT_TRUE(cell::is(*out, T_file));
    EXPECT_EQ(out->w1, 0u);
    EXPECT_EQ(text(*out), "yzx");
    Cell zero = integer::make(0);
    EXPECT_EQ(error_of([&] { string::do_set_op(str("ab"), nullptr, false, &zero, string::op_unique); }),
              "script/invalid-refine-arg");
}

TEST_F(StringActionsTest, OwnerSeesEveryChange) {
    // An object whose on-deep-change* logs the action words it is told about.
    std::string r = eval(
        "log: copy [] "
        "o: make object! [s: copy \"abc\" on-deep-change*: make function! [[owner word target action new index part]"
        "[append log action]]] "
        "append o/s \"d\" insert o/s \"x\" change o/s \"y\" sort o/s trim o/s swap o/s next o/s "
        "log");
    EXPECT_EQ(r, "[append appended insert inserted change changed sort sorted trim trimmed swap swaped]");
    // Two positions of one owned text are one change, reported once.
}

TEST_F(StringActionsTest, AnyStringChildrenShareTheActions) {
    // The any-string types inherit these routines: each keeps its own datatype through them.
    for (uint32_t t : {T_file, T_url, T_email, T_tag, T_ref}) {
        Cell* v = str("a/b.c");
        cell::set_type(*v, t);
        FindArgs f{};
        Cell* dot = stack::push(Cell{T_char_, 0, '.', 0});
        Cell* found = string::find(v, dot, f);
        EXPECT_TRUE(cell::is(*found, t));
        EXPECT_EQ(found->w1, 3u);
        Cell* tag = str("x");
        cell::set_type(*tag, T_tag);
        string::append(v, tag, -1, false, 1, true);
        EXPECT_TRUE(cell::is(*v, t));
        EXPECT_EQ(text(*v), "a/b.c<x>");
        Cell* made = string::to(nullptr, str("\u20acz"), t);
        EXPECT_TRUE(cell::is(*made, t));
        EXPECT_EQ(text(*made), "\u20acz");
        Cell* sized = string::make(nullptr, stack::push(integer::make(8)), t);
        EXPECT_TRUE(cell::is(*sized, t));
        EXPECT_EQ(string::rs_length_q(*sized), 0);
        EXPECT_EQ(compare_raw(*str("A/B.C<X>"), *v, actions::equal), 0);
    }
    // make binary! of a size gives an empty byte series; its conversions are binary!'s own.
    Cell* bytes = string::make(nullptr, stack::push(integer::make(4)), T_binary);
    EXPECT_TRUE(cell::is(*bytes, T_binary));
    EXPECT_EQ(memory::buffer(bytes->w2)->unit(), 1u);
    EXPECT_EQ(memory::buffer(bytes->w2)->used(), 0u);
    // binary! searches through the same routine: bytes are code points 0-255.
    auto binary_of = [](const std::string& b) {
        Cell* c = stack::push(Cell{T_binary, 0, memory::alloc_bytes(b.size()), 0});
        std::memcpy(series::reserve(c->w2, b.size()), b.data(), b.size());
        return c;
    };
    Cell* data = binary_of("abcb\xE9");
    FindArgs plain{};
    EXPECT_EQ(string::find(data, binary_of("cb"), plain)->w1, 2u);
    EXPECT_TRUE(cell::is(*string::find(data, binary_of("cb"), plain), T_binary));
    Cell* c_upper = stack::push(Cell{T_char_, 0, 'C', 0});
    EXPECT_EQ(string::find(data, c_upper, plain)->w1, 2u);
    FindArgs exact{};
    exact.case_ = true;
    EXPECT_TRUE(cell::is(*string::find(data, c_upper, exact), T_none));
    Cell* after = string::select(data, binary_of("b"), plain);
    EXPECT_TRUE(cell::is(*after, T_integer));
    EXPECT_EQ(integer::get(*after), 'c');
    EXPECT_EQ(integer::get(*string::select(data, binary_of("cb"), plain)), 0xE9);
    Cell* money = stack::push(Cell{T_money, 0, 0, 0});
    EXPECT_EQ(error_of([&] { string::make(nullptr, money, T_binary); }), "script/bad-make-arg");
}
