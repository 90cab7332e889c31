// map!: making, key normalisation, lookups by comparison code, removal and revival, reflection,
// foreach and extend, copies, comparison, form and mold.
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using MapTest = Kov;

namespace {

struct Case {
    const char* source;
    const char* result;
};

void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.result) << c.source;
}

// The value of a global word (kept alive by the global context).
Cell global(const char* name) { return *context::get(word::load(name)); }

// The mold action with its flags (and a /part limit when limit >= 0), cut as its caller cuts.
std::string mold_with(const Cell& v, bool only, bool flat, int32_t limit = -1) {
    Cell* out = string::push(16, 1);
    Cell copy = v;
    Cell arg = integer::make(limit);
    actions::lookup<actions::slot::mold>(cell::type(v))(&copy, out, only, false, flat, limit < 0 ? nullptr : &arg,
                                                         limit < 0 ? 0x7FFFFFFF : limit, 0);
    if (limit >= 0) string::truncate_at(out->w2, static_cast<uint32_t>(limit));
    return text(*out);
}

const Cell* pairs(const Cell& m) { return reinterpret_cast<const Cell*>(memory::buffer(m.w2)->head_ptr()); }

}  // namespace

TEST_F(MapTest, MakeAndTo) {
    check({
        {"make map! 0", "#[]"},
        {"make map! []", "#[]"},
        {"length? make map! 0", "0"},
        {"length? make map! []", "0"},
        {"length? make map! 10.5", "0"},
        {"make map! [a 1 b]", "error: script/invalid-arg"},
        {"make map! next [x a 1 b]", "error: script/invalid-arg"},
        {"make map! -1", "error: script/out-of-range"},
        {"make map! 1e10", "error: script/out-of-range"},
        {"to map! 3", "error: script/bad-to-arg"},
        {"to map! 3.5", "error: script/bad-to-arg"},
        {"make map! 'a", "error: script/bad-to-arg"},
        {"to map! #\"a\"", "error: script/bad-to-arg"},
        {"make map! [a 1 b 2]", "#[\n    a: 1\n    b: 2\n]"},
        {"to map! [a 1]", "#[\n    a: 1\n]"},
        {"make map! next [x a 1]", "#[\n    a: 1\n]"},
        {"make map! make hash! [a 1]", "#[\n    a: 1\n]"},
        {"make map! to paren! [a 1]", "#[\n    a: 1\n]"},
        // A later pair with a strictly equal key overwrites the earlier value and leaves.
        {"make map! [a 1 b 2 a 3]", "#[\n    a: 3\n    b: 2\n]"},
        {"make map! [a 1 a: 2 'a 3 :a 4]", "#[\n    a: 4\n]"},
        {"length? make map! [a 1 A 2]", "2"},
        {"m: make map! [a 1] n: make map! m put n 'b 2 reduce [length? m length? n]", "[1 2]"},
        {"make map! [[x] 1]", "error: script/invalid-path"},
        {"make map! reduce [none 1]", "error: script/invalid-path"},
        {"make map! reduce [1 2 #\"a\" 3 1.5 4 /r 5]", "#[\n    1 2\n    #\"a\" 3\n    1.5 4\n    /r 5\n]"},
        // The copy of the block loses its line breaks: the body shows one pair a line.
        {"body-of make map! [\n a\n 1\n]", "[\n    a: 1\n]"},
        // "#[...]" text as the lexer gives it.
        {"#[a 1 b 2]", "#[\n    a: 1\n    b: 2\n]"},
        {"m: #[a 1 b 2] put m 'c 3 length? m", "3"},
        {"m: #[a 1 A 2 a 3] reduce [length? m select/case m 'a]", "[2 3]"},
    });
}

TEST_F(MapTest, PathsAndPut) {
    check({
        {"m: make map! [a 1] reduce [m/a m/A m/b]", "[1 1 none]"},
        {"m: make map! [] m/a: 1 m/b: 2 m/a: 3 m", "#[\n    a: 3\n    b: 2\n]"},
        {"m: make map! [a 1] m/a: none reduce [length? m m/a]", "[1 none]"},
        {"m: make map! [a 1] m/a: none m", "#[\n    a: none\n]"},
        {"m: make map! [] m/1: 'x reduce [m/1 select m 1 select m 1.0]", "[x x none]"},
        {"m: make map! [] put m 'k [1 2] m/k", "[1 2]"},
        {"m: make map! [] put m 'k 5", "5"},
        {"m: make map! [] put m #\"a\" 1 put m 97 2 length? m", "2"},
        {"m: make map! [] k: [a] m/:k: 1", "error: script/invalid-path"},
        {"m: make map! [] k: [a] m/:k", "none"},
        {"m: make map! [a 1] reduce [select m [a] find m [a] select m none]", "[none none none]"},
    });
}

TEST_F(MapTest, ReflectAndFind) {
    check({
        {"m: make map! [] m/a: 1 put m 'b 2 put m 'c 3 words-of m", "[a b c]"},
        {"m: make map! [] m/a: 1 put m 'b 2 put m 'c 3 body-of m", "[\n    a: 1\n    b: 2\n    c: 3\n]"},
        {"m: make map! [a 1 b [2]] values-of m", "[1 [2]]"},
        {"m: make map! [a 1] word? first words-of m", "true"},
        {"m: make map! [a 1] set-word? first body-of m", "true"},
        {"words-of make map! []", "[]"},
        {"body-of make map! []", "[]"},
        {"reflect make map! [a 1] 'spec", "error: internal/not-done"},
        {"m: make map! [a 1] reduce [find m 'a find m 'A find m 'b]", "[a a none]"},
        {"m: make map! [a 1] word? find m 'a", "true"},
        {"m: make map! [1 x] reduce [find m 1 find m 1.0]", "[1 none]"},
        {"m: make map! [a 1] reduce [find/same m 'a select/same m 'a]", "[a 1]"},
    });
}

// Keys that are only equal stay apart; the lookup code decides which one answers.
TEST_F(MapTest, CaseOfKeys) {
    check({
        {"m: make map! [A 1 a 2] reduce [length? m select/case m 'a select/case m 'A]", "[2 2 1]"},
        {"m: make map! [A 1 a 2] remove/key m 'a reduce [length? m select/case m 'A select/case m 'a]",
         "[1 1 none]"},
        {"m: make map! [A 1 a 2] put m 'A 3 length? m", "2"},
        {"m: make map! [A 1 a 2] put m 'a 3 length? m", "2"},
        {"m: make map! [A 1] put m 'a 3 m", "#[\n    A: 3\n]"},
        {"m: make map! [A 1] put/case m 'a 3 length? m", "2"},
        {"m: make map! [A 1] m/a: 5 length? m", "1"},
        {"m: make map! [a 1] remove/key m 'A length? m", "1"},  // remove compares strictly
    });
}

TEST_F(MapTest, RemoveAndRevive) {
    check({
        {"m: make map! [a 1 b 2 c 3] remove/key m 'b reduce [length? m select m 'b m/b find m 'b]",
         "[2 none none none]"},
        {"m: make map! [a 1 b 2 c 3] remove/key m 'b m", "#[\n    a: 1\n    c: 3\n]"},
        {"m: make map! [a 1 b 2 c 3] remove/key m 'b words-of m", "[a c]"},
        {"m: make map! [a 1 b 2 c 3] remove/key m 'b put m 'b 4 reduce [words-of m length? m]", "[[a b c] 3]"},
        {"m: make map! [a 1 b 2] remove/key m 'a m/a: 7 m", "#[\n    a: 7\n    b: 2\n]"},
        {"m: make map! [a 1] remove/key m 'a remove/key m 'a length? m", "0"},
        {"m: make map! [a 1] remove/key m 'zz length? m", "1"},
        {"remove make map! [a 1]", "error: script/missing-arg"},
        {"m: make map! [a 1] remove/part/key m 5 'a length? m", "0"},
        {"m: make map! [a 1 b 2] clear m reduce [length? m m]", "[0 #[]]"},
        {"m: make map! [a 1] clear m put m 'b 2 m", "#[\n    b: 2\n]"},
    });
}

TEST_F(MapTest, Foreach) {
    check({
        {"m: make map! [a 1 b 2 c 3] remove/key m 'b r: copy [] foreach [k v] m [append r reduce [word? k k v]] r",
         "[true a 1 true c 3]"},
        {"m: make map! [1 x] foreach [k v] m [r: reduce [k v]] r", "[1 x]"},
        {"m: make map! [a 1] remove/key m 'a r: 0 foreach [k v] m [r: r + 1] r", "0"},
        {"m: make map! [a 1 b 2] remove/key m 'b r: 0 foreach [k v] m [r: r + 1] r", "1"},
        {"foreach [k v] make map! [] [1]", "unset"},
        {"foreach k make map! [a 1] []", "error: script/invalid-arg"},
        {"foreach [k v w] make map! [a 1] []", "error: script/invalid-arg"},
        {"foreach [k 2] make map! [a 1] []", "error: script/invalid-arg"},
        {"r: 0 foreach [k v] make map! [a 1 b 2 c 3] [r: r + v if even? v [break]] r", "3"},
    });
}

TEST_F(MapTest, Extend) {
    check({
        {"m: make map! [a 1] extend m [b 2 A 3] m", "#[\n    a: 3\n    b: 2\n]"},
        {"m: make map! [a 1] extend/case m [A 3] length? m", "2"},
        {"m: make map! [a 1] extend m next [x b 2] words-of m", "[a b]"},
        {"extend make map! [] [a]", "error: script/invalid-arg"},
        {"m: make map! [a 1] extend m make map! [b 2] m", "#[\n    a: 1\n    b: 2\n]"},
        {"m: make map! [a 1 b 2] remove/key m 'b n: make map! [] extend n m words-of n", "[a]"},
        {"m: make map! [a 1] extend m m m", "#[\n    a: 1\n]"},
        {"m: make map! [a 1] extend m make hash! [b 2] length? m", "2"},
        // Pairs stored before an error stay.
        {"m: make map! [] try [extend m [x 1 [y] 2]] m", "#[\n    x: 1\n]"},
        {"m: make map! [] extend m [x 1 [y] 2]", "error: script/invalid-path"},
        {"extend make object! [] [a 1]", "error: internal/not-done"},
    });
}

TEST_F(MapTest, Copy) {
    check({
        {"m: make map! [a 1] n: copy m put n 'b 2 reduce [length? m length? n]", "[1 2]"},
        {"m: make map! [a [1]] n: copy m append n/a 2 m/a", "[1 2]"},
        {"m: make map! [a [1]] n: copy/deep m append n/a 2 m/a", "[1]"},
        {"m: make map! [a [1] b [2]] n: copy/types m block! append n/a 3 append n/b 4 reduce [m/a m/b]", "[[1] [2]]"},
        {"m: make map! [a [1] b 2] n: copy/types m integer! append n/a 3 m/a", "[1 3]"},
        {"m: make map! [a 1 b 2] remove/key m 'a n: copy m reduce [length? n words-of n]", "[1 [b]]"},
        {"m: make map! [a 1 b 2] remove/key m 'a n: copy m put n 'a 5 words-of n", "[a b]"},
        {"m: make map! [a 1] m/self: m copy/deep/types m map!", "error: internal/no-cycle"},
        {"m: make map! [a 1] m/self: m n: copy/deep m length? n", "2"},
        // The cycle stack is clean after the error: molding works again.
        {"m: make map! [a 1] m/self: m try [copy/deep/types m map!] words-of m", "[a self]"},
    });
}

TEST_F(MapTest, Compare) {
    check({
        {"m: make map! [a 1 b 2] length? find reduce [m] copy m", "1"},
        {"length? find reduce [make map! [a 1 b 2]] make map! [b 2 a 1]", "1"},
        {"find reduce [make map! [a 1]] make map! [a 2]", "none"},
        {"find reduce [make map! [a 1]] make map! [b 1]", "none"},
        {"find reduce [make map! [a 1]] make map! [a 1 b 2]", "none"},
        {"length? find reduce [make map! []] make map! []", "1"},
        {"length? find reduce [make map! [a 1]] make map! [A 1]", "1"},
        {"m: make map! [a 1 b 2] remove/key m 'b length? find reduce [m] make map! [a 1]", "1"},
        {"m: make map! [a 1] m/b: m length? find reduce [m] copy m", "1"},
        {"m: make map! [a 1] m/b: m m", "#[\n    a: 1\n    b: #[...]\n]"},
        {"m: make map! [a 1 b 2] reduce [m = copy m same? m copy m same? m m]", "[true false true]"},
        {"x: make map! [a 1 b 2] y: make map! [A 1 b 2] reduce [x = make map! [b 2 a 1] x = y x == y]",
         "[true true false]"},
        {"m: make map! [a 1] m/b: m m = copy m", "true"},
        {"x: make map! [a 1] x < make map! [a 1]", "error: script/invalid-compare"},
    });
    eval("p: make map! [a 1 b 2] q: copy p r: make map! [A 1 b 2] s: make map! [b 2 a 1]");
    Cell p = global("p"), q = global("q"), r = global("r"), s = global("s");
    EXPECT_EQ(compare_raw(p, q, actions::equal), 0);
    EXPECT_EQ(compare_raw(p, s, actions::strict_equal), 0);
    EXPECT_EQ(compare_raw(p, r, actions::equal), 0);
    EXPECT_NE(compare_raw(p, r, actions::strict_equal), 0);
    EXPECT_NE(compare_raw(p, q, actions::same), 0);
    EXPECT_EQ(compare_raw(p, p, actions::same), 0);
    EXPECT_EQ(compare_raw(p, integer::make(1), actions::equal), actions::not_comparable);
    EXPECT_EQ(compare_raw(p, q, actions::lesser), actions::not_comparable);
    EXPECT_EQ(compare_raw(p, q, actions::sort_order), -compare_raw(q, p, actions::sort_order));
    EXPECT_NE(compare_raw(p, q, actions::sort_order), 0);
}

TEST_F(MapTest, Text) {
    eval("m: make map! [a 1 b 2] e: make map! [] n: make map! [x 1 y #[z 2]] s: make map! [a 1] s/self: s "
         "w: reduce [make map! [a 1]]");
    Cell m = global("m");
    Cell n = global("n");
    EXPECT_EQ(form(m), "a: 1\nb: 2");
    EXPECT_EQ(form(global("e")), "");
    EXPECT_EQ(mold(global("e")), "#[]");
    EXPECT_EQ(mold_with(m, true, false), "a: 1\nb: 2");
    EXPECT_EQ(mold_with(m, false, true), "#[a: 1 b: 2]");
    EXPECT_EQ(mold_with(n, false, true), "#[x: 1 y: #[z: 2]]");
    EXPECT_EQ(mold(n), "#[\n    x: 1\n    y: #[\n        z: 2\n    ]\n]");
    EXPECT_EQ(mold(global("w")), "[#[\n    a: 1\n]]");
    EXPECT_EQ(mold(global("s")), "#[\n    a: 1\n    self: #[...]\n]");
    EXPECT_EQ(form(global("s")), "a: 1\nself: #[...]");
    // Nested values keep their own delimiters under /only.
    eval("k: make map! [a [1 2]]");
    EXPECT_EQ(mold_with(global("k"), true, false), "a: [1 2]");
    // The part limit stops the walk after the entry that spends it.
    EXPECT_EQ(mold_with(m, false, false, 9), "#[\n    a:");
    EXPECT_EQ(mold_with(m, false, false, 12), "#[\n    a: 1\n");
}

// Keys are normalised when stored: word keys become set-words, series keys are copies.
TEST_F(MapTest, KeyNormalisation) {
    eval("s: next \"xab\" m: make map! [] put m s 1 put m 'w 2 put m quote :g 3");
    Cell m = global("m");
    Cell s = global("s");
    const Cell* p = pairs(m);
    EXPECT_EQ(cell::type(p[0]), T_string);
    EXPECT_NE(p[0].w2, s.w2);
    EXPECT_EQ(p[0].w1, 0u);
    EXPECT_EQ(text(p[0]), "ab");
    EXPECT_EQ(p[2].header, uint32_t(T_set_word));
    EXPECT_EQ(p[4].header, uint32_t(T_set_word));
    EXPECT_EQ(map::size(m), 3u);
    EXPECT_TRUE(map::key_type_q(T_date));
    EXPECT_FALSE(map::key_type_q(T_block));
    EXPECT_FALSE(map::key_type_q(T_none));
    Cell key = Cell{T_logic, 1, 0, 0};
    EXPECT_EQ(error_of([&] { map::normalise_key(key, nullptr); }), "script/invalid-path");
}

// Lookups by string need the string! comparison, which comes with the string! actions.
TEST_F(MapTest, StringKeys) {
    if (!actions::lookup<actions::slot::compare>(T_string)) GTEST_SKIP() << "string! comparison not registered yet";
    check({
        {"m: make map! [\"A\" 1 \"a\" 2] reduce [length? m select/case m \"a\" select/case m \"A\"]", "[2 2 1]"},
        {"m: make map! [\"A\" 1 \"a\" 2] remove/key m \"a\" reduce [length? m select m \"a\"]", "[1 1]"},
        {"m: make map! [\"A\" 1 \"a\" 2] put m \"A\" 3 length? m", "2"},
        {"m: make map! [\"ab\" 1] length? find m \"AB\"", "2"},
        {"s: copy \"ab\" m: make map! [] put m s 1 append s \"c\" reduce [select m \"ab\" select m \"abc\"]",
         "[1 none]"},
    });
}

// Many entries made, removed and revived under a collector that runs at every allocation in
// the gc-stress build: keys, values and the table survive every move.
TEST_F(MapTest, SurvivesCollections) {
    check({
        {"m: make map! [] repeat i 300 [put m i reduce [i]] repeat i 150 [remove/key m i * 2] "
         "n: 0 foreach [k v] m [n: n + first v] reduce [length? m n]",
         "[150 22500]"},
        {"m: make map! [] repeat i 300 [put m i i] repeat i 300 [remove/key m i] repeat i 300 [m/(i): i * 2] "
         "n: 0 foreach [k v] m [n: n + v] reduce [length? m n first words-of m]",
         "[300 90300 1]"},
        {"m: make map! [] repeat i 100 [put m to char! i + 100 reduce [i]] length? m", "100"},
    });
    // An explicit collection between making and reading (every build, not only gc-stress).
    eval("m: make map! [] repeat i 50 [put m i reduce [i]] remove/key m 7 t: copy m");
    collector::collect();
    check({{"n: 0 foreach [k v] t [n: n + first v] reduce [length? m select m 8 select m 7 n]", "[49 [8] none 1268]"}});
}
