// The text and conversion natives, through Kov text.
#include "tests/unit/natives_test_show.h"

using namespace kov;
using namespace kov::test;

using NativesText = Kov;

struct Case {
    const char* source;
    const char* expected;
};

static void check(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(show(cases[i].source), cases[i].expected) << cases[i].source;
}
#define CHECK_CASES(table) check(table, sizeof table / sizeof table[0])

// The new-line markers of a block's cells, from its head: 1 marked, 0 not.
static std::string marker_text(const Cell& b) {
    memory::Buffer* buf = memory::buffer(b.w2);
    auto cells = reinterpret_cast<const Cell*>(buf->head_ptr());
    std::string out;
    for (uint32_t i = 0; i < buf->used() / sizeof(Cell); ++i) out += (cells[i].header & cell::new_line) ? '1' : '0';
    return out;
}
static std::string markers(const std::string& source) { return evaluate(source, marker_text); }

TEST_F(NativesText, PercentDecoding) {
    static const Case cases[] = {
        {"dehex \"a%20b\"", "\"a b\""},
        {"dehex \"%C3%A9t%C3%A9\"", "\"été\""},
        // A byte that leads no sequence is its own code point; a broken sequence stays as written.
        {"dehex \"%41%A9\"", "\"A©\""},
        {"dehex \"%e9\"", "\"%e9\""},
        {"dehex \"100%\"", "\"100%\""},
        {"dehex \"%zz%4\"", "\"%zz%4\""},
        {"dehex next \"xa%41\"", "\"aA\""},
        // Every string type gives a string!.
        {"dehex %a%20b", "\"a b\""},
        {"dehex \"\"", "\"\""},
        // A string keeps only the unreserved characters, the other text types what a URL may hold.
        {"enhex \"a b/c?é\"", "\"a%20b%2Fc%3F%C3%A9\""},
        {"enhex %a/b?c", "\"a/b?c\""},
        {"dehex enhex \"x y%z\"", "\"x y%z\""},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesText, BaseCodecs) {
    static const Case cases[] = {
        {"debase \"SGVsbG8=\"", "#{48656C6C6F}"},
        {"debase/base \"414243\" 16", "#{414243}"},
        {"debase/base \"01000001\" 2", "#{41}"},
        {"debase/base \"2NEpo7TZRRrLZSi2U\" 58", "#{48656C6C6F20576F726C6421}"},
        {"debase next \"xSGk=\"", "#{4869}"},
        {"debase \"!!!\"", "none"},
        {"debase/base \"AA\" 10", "error: script/invalid-arg"},
        {"enbase/base \"A\" 16", "\"41\""},
        {"enbase #{}", "\"\""},
        {"enbase \"Hello\"", "\"SGVsbG8=\""},
        {"enbase/base #{0001} 58", "\"12\""},
        {"enbase/base #{A5} 2", "\"10100101\""},
        // A string is encoded as UTF-8.
        {"enbase/base \"é\" 16", "\"C3A9\""},
        {"enbase/base #{00} 3", "error: script/invalid-arg"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesText, CaseChange) {
    static const Case cases[] = {
        {"uppercase \"abc\"", "\"ABC\""},
        {"lowercase \"ABC\"", "\"abc\""},
        {"lowercase %ABC", "%abc"},
        {"uppercase #\"a\"", "#\"A\""},
        {"uppercase/part \"abc\" 2", "\"ABc\""},
        {"uppercase/part \"abc\" 9", "\"ABC\""},
        {"uppercase/part \"abc\" -1", "\"abc\""},
        {"s: \"abcd\" uppercase/part s next next s", "\"ABcd\""},
        // The argument itself is changed and returned.
        {"s: \"abc\" same? s uppercase s", "true"},
        {"uppercase/part \"abc\" \"x\"", "error: script/invalid-refine-arg"},
        {"uppercase/part \"abc\" 1.5", "error: script/invalid-refine-arg"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesText, LocalFiles) {
    static const Case cases[] = {
        {"to-local-file %a/b", "\"a/b\""},
        {"to-local-file %/x/y", "\"/x/y\""},
        {"to-local-file/full %/x/y", "\"/x/y\""},
        {"to-local-file \"c d\"", "\"c d\""},
    };
    CHECK_CASES(cases);
    // A relative name gets the current directory in front.
    std::string full = show("to-local-file/full %a/b");
    ASSERT_GE(full.size(), 6u);
    EXPECT_EQ(full.front(), '"');
    EXPECT_EQ(full[1], '/');
    EXPECT_EQ(full.substr(full.size() - 5), "/a/b\"");
    EXPECT_EQ(full.find("//"), std::string::npos);
}

TEST_F(NativesText, As) {
    static const Case cases[] = {
        {"as string! %a/b", "\"a/b\""},
        {"as %x \"ab\"", "%ab"},
        {"as tag! \"a\"", "<a>"},
        {"as paren! [a b]", "(a b)"},
        {"as block! 'a/b", "[a b]"},
        {"as [] next [a b]", "[b]"},
        // The buffer is shared: a change through one shows in the other.
        {"f: %a/b s: as string! f uppercase s f", "%A/B"},
        {"b: [a b] p: as paren! b same? b as block! p", "true"},
        {"as block! \"ab\"", "error: script/not-same-class"},
        {"as string! [a]", "error: script/not-same-class"},
        {"as integer! \"ab\"", "error: script/not-same-class"},
        {"as hash! [a]", "error: script/not-same-class"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesText, PairsPointsMoney) {
    static const Case cases[] = {
        {"as-pair 1 2", "1x2"},
        {"as-pair 1.9 -1.9", "1x-1"},
        {"as-pair 1.#INF 0", "error: script/invalid-arg"},
        {"as-pair 0 1.#NaN", "error: script/invalid-arg"},
        // A float beyond the coordinate range is refused rather than wrapped.
        {"as-pair 1e10 0", "error: script/invalid-arg"},
        {"as-point2D 1 2.5", "(1.0, 2.5)"},
        {"as-point3D 1 2 0.1", "(1.0, 2.0, 0.100000001)"},
        {"as-money 'USD 5", "USD$5.00000"},
        {"as-money 'usd -7", "-USD$7.00000"},
        {"as-money 'EUR -2147483648", "-EUR$2147483648.00000"},
        {"as-money 'EUR 0", "EUR$0.00000"},
        {"as-money 'XYZ 1", "error: script/bad-denom"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesText, NewLineMarkers) {
    EXPECT_EQ(markers("new-line [a b] true"), "10");
    EXPECT_EQ(markers("new-line next [a b] true"), "01");
    EXPECT_EQ(markers("new-line new-line [a b] true false"), "00");
    EXPECT_EQ(markers("new-line tail [a] true"), "0");
    EXPECT_EQ(markers("new-line/all next [a b c] true"), "011");
    EXPECT_EQ(markers("new-line/skip [a b c d] true 2"), "1010");
    EXPECT_EQ(markers("new-line/skip [a b c d] false 2"), "0101");
    EXPECT_EQ(markers("new-line/all/skip [a b c d] true 3"), "1001");
    EXPECT_EQ(markers("new-line/skip [a] true 0"), "error: script/out-of-range");
    EXPECT_EQ(show("b: [a b] same? b new-line b true"), "true");
    EXPECT_EQ(show("new-line? new-line [a] true"), "true");
    EXPECT_EQ(show("new-line? new-line [a] false"), "false");
    EXPECT_EQ(show("new-line? tail [a]"), "false");
}
