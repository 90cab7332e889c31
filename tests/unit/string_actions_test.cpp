// string! actions from C++: molding and its escapes, the unit a change leaves each string in,
// comparison codes, and the routines' answers for datatypes the natives' specs keep away.
// The cases written in Kov are in tests/kov/strings.kov and sets.kov.
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

TEST_F(StringActionsTest, UnicodeWideningThroughActions) {
    // Each action widens the string it changes; the other value keeps its unit.
    Cell* s = str("abc");
    Cell* e = str("\u00e9");  // Latin-1, unit 1
    EXPECT_EQ(unit_of(*e), 1u);
    eval("");  // the harness is up
    Cell* w = str("\u20ac\U0001F600");
    EXPECT_EQ(unit_of(*w), 4u);
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
}

TEST_F(StringActionsTest, SwapRefusesWhatIsNotText) {
    // swap's spec keeps other datatypes away; the action still refuses them itself.
    EXPECT_EQ(error_of([&] { string::swap(str("abc"), stack::push(integer::make(1))); }), "script/invalid-arg");
}

TEST_F(StringActionsTest, SetOperationsKeepTheFirstSetsDatatype) {
    // unique's spec takes string! only; the routine serves every text datatype, keeping the
    // first set's datatype and starting at its head.
    Cell* f = str("xyzx");
    cell::set_type(*f, T_file);
    f->w1 = 1;
    Cell* out = string::do_set_op(f, nullptr, false, nullptr, string::op_unique);
    EXPECT_TRUE(cell::is(*out, T_file));
    EXPECT_EQ(out->w1, 0u);
    EXPECT_EQ(text(*out), "yzx");
}

TEST_F(StringActionsTest, AppendKeepsARefItsDatatype) {
    // append's spec leaves ref! out; the routine it shares keeps the datatype.
    Cell* v = str("a/b.c");
    cell::set_type(*v, T_ref);
    Cell* tag = str("x");
    cell::set_type(*tag, T_tag);
    string::append(v, tag, -1, false, 1, true);
    EXPECT_TRUE(cell::is(*v, T_ref));
    EXPECT_EQ(text(*v), "a/b.c<x>");
}
