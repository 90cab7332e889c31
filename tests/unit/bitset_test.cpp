// bitset!: making from specs, membership, growth, the complement flag, bitwise combination,
// changes, comparison and text.
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using BitsetTest = Kov;

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

}  // namespace

TEST_F(BitsetTest, SizesFromNumbers) {
    check({
        {"length? make bitset! 0", "0"},
        {"length? make bitset! 1", "8"},
        {"length? make bitset! 8", "8"},
        {"length? make bitset! 9", "16"},
        {"length? make bitset! 9.9", "16"},  // truncated toward zero
        {"make bitset! 0", "make bitset! #{}"},
        {"make bitset! 16", "make bitset! #{0000}"},
        {"make bitset! -1", "error: script/out-of-range"},
        {"make bitset! 2147483647", "error: script/out-of-range"},  // its length would not be an integer!
        {"make bitset! 1e10", "error: script/out-of-range"},
        {"to bitset! 3", "error: script/bad-to-arg"},
        {"to bitset! 3.0", "error: script/bad-to-arg"},
    });
}

TEST_F(BitsetTest, SpecsMeasureThenSet) {
    check({
        {"make bitset! \"a\"", "make bitset! #{00000000000000000000000040}"},
        {"make bitset! #\"a\"", "make bitset! #{00000000000000000000000040}"},
        {"make bitset! 0.9", "make bitset! #{}"},
        {"make bitset! [0 7 8]", "make bitset! #{8180}"},
        {"make bitset! [0 [2 [4]]]", "make bitset! #{A8}"},
        {"make bitset! [#\"a\" - #\"z\"]", "make bitset! #{0000000000000000000000007FFFFFE0}"},
        {"make bitset! [1 - 3 6]", "make bitset! #{72}"},
        {"make bitset! [3 - 3]", "make bitset! #{10}"},
        {"make bitset! []", "make bitset! #{00}"},
        {"make bitset! \"\"", "make bitset! #{00}"},
        {"to bitset! \"ab\"", "make bitset! #{00000000000000000000000060}"},
        {"make bitset! #{F00F}", "make bitset! #{F00F}"},
        // A complemented set: only the listed members are absent.
        {"make bitset! [not \"abc\"]", "make bitset! [not #{00000000000000000000000070}]"},
        {"make bitset! [not #{F0}]", "make bitset! [not #{F0}]"},
        {"make bitset! [not]", "make bitset! [not #{00}]"},
        {"b: make bitset! [not 1 - 2] reduce [pick b 0 pick b 1 pick b 2 pick b 3 pick b 100000]",
         "[true false false true true]"},
        {"b: make bitset! [0] c: make bitset! b append c 5 b", "make bitset! #{80}"},
    });
}

TEST_F(BitsetTest, SpecErrors) {
    check({
        {"make bitset! [#\"z\" - #\"a\"]", "error: script/past-end"},
        {"make bitset! [#\"a\" -]", "error: script/past-end"},
        {"make bitset! [#\"a\" - 5]", "error: script/invalid-arg"},
        {"make bitset! [1 - #\"c\"]", "error: script/invalid-arg"},
        {"make bitset! [-1]", "error: script/out-of-range"},
        {"make bitset! [-3 - 2]", "error: script/out-of-range"},
        {"make bitset! [#{00}]", "error: internal/not-done"},
        {"make bitset! [a]", "error: script/bad-make-arg"},
        {"make bitset! 'a", "error: script/bad-make-arg"},
        {"to bitset! [a]", "error: script/bad-to-arg"},
        {"find make bitset! 8 'a", "error: script/invalid-arg"},
        {"append make bitset! 8 -1", "error: script/out-of-range"},
        {"append make bitset! 8 2147483647", "error: script/out-of-range"},
    });
}

TEST_F(BitsetTest, Membership) {
    check({
        {"b: make bitset! \"a\" reduce [pick b #\"a\" pick b #\"b\" find b #\"a\" find b #\"b\"]",
         "[true false true none]"},
        {"b: make bitset! [#\"a\" - #\"z\"] reduce [find b \"abc\" find b \"abC\" find b [#\"b\" - #\"y\"]]",
         "[true none true]"},
        {"b: make bitset! [#\"a\" - #\"z\"] reduce [find b [\"xyz\" 97] find b [#\"a\" - #\"{\"]]", "[true none]"},
        {"b: make bitset! 8 reduce [pick b 1000 pick b -1 pick b 1.5 length? b]", "[false false false 8]"},
        // Past the tail a complemented set holds everything; asking grows nothing.
        {"b: complement make bitset! 8 reduce [pick b 1000 find b 2000000000 length? b]", "[true true 8]"},
        {"b: make bitset! [5] reduce [b/5 b/6]", "[true false]"},
        {"b: make bitset! 8 b/x", "error: script/invalid-type"},
        {"b: make bitset! 8 b/3: true b", "make bitset! #{10}"},
    });
}

TEST_F(BitsetTest, GrowthAndChanges) {
    check({
        {"b: make bitset! 8 append b 100 length? b", "104"},
        {"b: complement make bitset! 8 append b 100 length? b", "8"},
        {"b: make bitset! 8 append b \"ab\" reduce [length? b pick b #\"a\" pick b #\"c\"]", "[104 true false]"},
        {"b: make bitset! 8 insert b [1 - 3] b", "make bitset! #{70}"},
        {"b: make bitset! 8 poke b 9 true b", "make bitset! #{0040}"},
        {"b: make bitset! [1 2] poke b 1 none poke b 2 0 b", "make bitset! #{00}"},
        {"b: make bitset! [1 2] poke b 1 false poke b 2 0.0 b", "make bitset! #{00}"},
        {"b: make bitset! [1] poke b 40 false length? b", "8"},  // clearing an absent bit grows nothing
        {"b: complement make bitset! [1] poke b 40 false reduce [length? b pick b 40 pick b 41]",
         "[48 false true]"},
        {"b: make bitset! [1 2 3] remove/part b [2 - 3] b", "make bitset! #{40}"},
        {"remove make bitset! 8", "error: script/missing-arg"},
        {"b: make bitset! [1 2] clear b reduce [length? b pick b 1]", "[8 false]"},
        {"b: make bitset! [1] c: copy b append c 2 reduce [b c]", "[make bitset! #{40} make bitset! #{60}]"},
    });
}

// A complemented set keeps the promise that removal and clearing take values out.
TEST_F(BitsetTest, ComplementedChangesRemove) {
    check({
        {"b: complement make bitset! \"a\" remove/part b #\"x\" reduce [pick b #\"x\" pick b #\"y\" pick b #\"a\"]",
         "[false true false]"},
        {"b: complement make bitset! \"a\" remove/part b 500 reduce [pick b 500 pick b 501 length? b]",
         "[false true 504]"},
        {"b: complement make bitset! \"a\" clear b reduce [pick b #\"b\" pick b 100000 length? b]",
         "[false false 104]"},
        {"b: complement make bitset! \"a\" clear b b", "make bitset! #{00000000000000000000000000}"},
    });
}

namespace {
// The text of mold with a /part limit, cut as the mold action's caller cuts it.
std::string mold_part(const Cell& v, int32_t limit) {
    Cell* out = string::push(16, 1);
    Cell copy = v;
    Cell arg = integer::make(limit);
    actions::lookup<actions::slot::mold>(T_bitset)(&copy, out, false, false, false, &arg, limit, 0);
    string::truncate_at(out->w2, static_cast<uint32_t>(limit));
    return text(*out);
}
}  // namespace

TEST_F(BitsetTest, ComplementAndText) {
    check({
        {"complement make bitset! [0]", "make bitset! [not #{80}]"},
        {"negate make bitset! [0]", "make bitset! [not #{80}]"},
        {"complement complement make bitset! [0]", "make bitset! #{80}"},
        {"complement make bitset! 0", "make bitset! [not #{}]"},
        {"b: make bitset! [0] c: complement b reduce [pick b 0 pick c 0 pick c 1]", "[true false true]"},
    });
    eval("t: make bitset! [0 8] u: make bitset! #{ABCDEF} v: make bitset! #{AB} w: complement v");
    EXPECT_EQ(form(global("t")), "make bitset! #{8080}");
    EXPECT_EQ(form(global("w")), "make bitset! [not #{AB}]");
    // The limit is checked after each byte; once spent, no closing text follows.
    EXPECT_EQ(mold_part(global("u"), 17), "make bitset! #{AB");
    EXPECT_EQ(mold_part(global("u"), 18), "make bitset! #{ABC");
    EXPECT_EQ(mold_part(global("v"), 17), "make bitset! #{AB");
    EXPECT_EQ(mold_part(global("v"), 18), "make bitset! #{AB}");
    EXPECT_EQ(mold_part(global("w"), 30), "make bitset! [not #{AB}]");
    EXPECT_EQ(mold_part(global("w"), 10), "make bitse");
}

TEST_F(BitsetTest, Ownership) {
    check({
        {"reflect make bitset! 8 'owned", "none"},
        {"reflect make bitset! 8 'words", "error: internal/not-done"},
    });
    eval("o: make object! [x: 1] b: make bitset! 8 spec: reduce [o 'x]");
    Cell b = global("b");
    Cell field = word::load("owned");
    Cell spec = global("spec");
    Cell* r = actions::lookup<actions::slot::modify>(T_bitset)(&b, &field, &spec, false);
    EXPECT_EQ(r, &spec);
    EXPECT_EQ(eval("object? reflect b 'owned"), "true");
    Cell none_value = none::value;
    actions::lookup<actions::slot::modify>(T_bitset)(&b, &field, &none_value, false);
    EXPECT_EQ(eval("reflect b 'owned"), "none");
}

namespace {
Cell bits(const char* spec) {
    eval(std::string("t: make bitset! ") + spec);
    return global("t");
}
std::string combined(const char* a, const char* b, int32_t op) {
    Cell* x = stack::push(bits(a));
    Cell* y = stack::push(bits(b));
    return mold(*bitset::do_set_op(x, y, op));
}
}  // namespace

// Operation codes: 5 or, 6 and, 7 xor, 9 union, 10 intersect, 11 exclude, 12 difference.
TEST_F(BitsetTest, BitwiseOfPlainSets) {
    struct Op {
        const char* a;
        const char* b;
        int32_t op;
        const char* result;
    };
    const Op ops[] = {
        {"#{F0}", "#{3C00}", 5, "make bitset! #{FC00}"},   // or keeps the longer part
        {"#{F0}", "#{3CFF}", 6, "make bitset! #{30}"},     // and drops it
        {"#{F0}", "#{3CFF}", 10, "make bitset! #{3000}"},  // intersect keeps it as zeros
        {"#{F0}", "#{3CFF}", 7, "make bitset! #{CCFF}"},
        {"#{F0}", "#{3CFF}", 12, "make bitset! #{CCFF}"},
        {"#{F0}", "#{3CFF}", 9, "make bitset! #{FCFF}"},
        {"#{F0FF}", "#{3C}", 11, "make bitset! #{C0FF}"},  // exclude: the first's extra bytes stay
        {"#{F0}", "#{3CFF}", 11, "make bitset! #{C000}"},  // the second's become zeros
        {"#{F0}", "#{3CFF}", 8, "make bitset! #{F0}"},     // unique: the first as it is
    };
    for (const Op& o : ops) EXPECT_EQ(combined(o.a, o.b, o.op), o.result) << o.a << " " << o.op << " " << o.b;
    check({
        {"x: make bitset! 8 length? x or make bitset! 16", "16"},
        {"x: make bitset! 8 length? x and make bitset! 16", "8"},
        {"x: make bitset! 8 x xor make bitset! [9]", "make bitset! #{0040}"},
        {"x: make bitset! 8 x and 1", "error: script/invalid-type"},
    });
    Cell* x = stack::push(bits("8"));
    Cell* n = stack::push(integer::make(1));
    EXPECT_EQ(error_of([&] { bitset::do_set_op(x, n, 9); }), "script/invalid-type");
}

// Bits past both arrays belong to the result as the operation says of the two flags.
TEST_F(BitsetTest, BitwiseRespectsComplements) {
    check({
        {"x: complement make bitset! \"a\" b: x and complement make bitset! \"b\" "
         "reduce [pick b #\"a\" pick b #\"b\" pick b #\"c\" pick b 5000]",
         "[false false true true]"},
        {"x: complement make bitset! \"a\" b: x and make bitset! [1 200] reduce [pick b 1 pick b 200 pick b 5000]",
         "[true true false]"},
        {"x: make bitset! [1] b: x and complement make bitset! [300] reduce [pick b 1 pick b 2 pick b 5000]",
         "[true false false]"},
        {"x: complement make bitset! \"a\" b: x or complement make bitset! \"b\" "
         "reduce [pick b #\"a\" pick b #\"b\" pick b 5000]",
         "[true true true]"},
        {"x: make bitset! \"a\" b: x or complement make bitset! \"ab\" reduce [pick b #\"a\" pick b #\"b\" pick b 5000]",
         "[true false true]"},
        {"x: complement make bitset! 8 b: x xor complement make bitset! [3] reduce [pick b 3 pick b 4 pick b 5000]",
         "[true false false]"},
    });
    EXPECT_EQ(combined("[not 1]", "[1 - 2]", 11), "make bitset! [not #{60}]");  // exclude: only 1 and 2 absent
    EXPECT_EQ(combined("[1 - 2]", "[not 1]", 11), "make bitset! #{40}");
    Cell* x = stack::push(bits("[not 1]"));
    Cell* y = stack::push(bits("[1 - 2]"));
    EXPECT_TRUE(bitset::complement_q(*bitset::do_set_op(x, y, 11)));
}

TEST_F(BitsetTest, Compare) {
    struct Pair {
        const char* a;
        const char* b;
        int32_t result;
    };
    const Pair pairs[] = {
        {"#{00FF}", "#{FF00}", 1},  // the highest differing byte decides
        {"#{FF00}", "#{0001}", -1},
        {"#{1234}", "#{1234}", 0},
        {"#{}", "#{}", 0},
        {"#{FFFF}", "#{00}", 1},  // size first
        {"#{00}", "#{0000}", -1},
        {"[not #{00}]", "#{FF}", 1},  // plain before complemented
        {"#{FF}", "[not #{FF}]", -1},
    };
    for (const Pair& p : pairs) {
        Cell* a = stack::push(bits(p.a));
        Cell* b = stack::push(bits(p.b));
        EXPECT_EQ(compare_raw(*a, *b, actions::lesser), p.result) << p.a << " " << p.b;
    }
    Cell* a = stack::push(bits("[1]"));
    Cell* b = stack::push(bits("[1]"));
    EXPECT_EQ(compare_raw(*a, *b, actions::equal), 0);
    EXPECT_NE(compare_raw(*a, *b, actions::same), 0);
    EXPECT_EQ(compare_raw(*a, *a, actions::same), 0);
    EXPECT_EQ(compare_raw(*a, integer::make(1), actions::equal), actions::not_comparable);
    check({{"b: make bitset! [1] find reduce [b] make bitset! [1]", "[make bitset! #{40}]"}});
}

// Sets made, grown and combined under a collector that runs at every allocation in the
// gc-stress build: the bits survive every move.
TEST_F(BitsetTest, SurvivesCollections) {
    check({
        {"r: copy [] repeat i 200 [b: make bitset! reduce [i] append b i * 3 append r b] "
         "c: make bitset! 0 foreach b r [c: c or b] reduce [length? c pick c 600 pick c 599 pick c 1]",
         "[608 true false true]"},
    });
    eval("t: make bitset! [1 - 9] u: complement t");
    collector::collect();
    check({{"reduce [pick t 9 pick u 9 pick u 10 length? u]", "[true false true 16]"}});
}
