// The word types: molds, the comparison codes, index?.
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

using WordTest = Runtime;

namespace {
Cell w(const char* text, uint32_t type = T_word) { return word::load(text, type); }
}  // namespace

TEST_F(WordTest, MoldsByType) {
    EXPECT_EQ(mold(w("foo")), "foo");
    EXPECT_EQ(mold(w("foo", T_set_word)), "foo:");
    EXPECT_EQ(mold(w("foo", T_lit_word)), "'foo");
    EXPECT_EQ(mold(w("foo", T_get_word)), ":foo");
    EXPECT_EQ(mold(w("foo", T_refinement)), "/foo");
    EXPECT_EQ(form(w("foo", T_set_word)), "foo");
    EXPECT_EQ(form(w("h\xC3\xA9llo")), "h\xC3\xA9llo");
}

TEST_F(WordTest, ComparisonCodes) {
    Cell foo = w("foo"), Foo = w("Foo"), lit = w("foo", T_lit_word), bar = w("bar");
    EXPECT_EQ(compare_raw(foo, Foo, actions::equal), 0);
    EXPECT_EQ(compare_raw(foo, Foo, actions::strict_equal), 1);
    EXPECT_EQ(compare_raw(foo, lit, actions::equal), 0);
    EXPECT_EQ(compare_raw(foo, lit, actions::strict_equal), 1);
    EXPECT_EQ(compare_raw(foo, lit, actions::parse_strict), 0);  // word against lit-word by symbol
    EXPECT_EQ(compare_raw(Foo, lit, actions::parse_strict), 1);
    EXPECT_EQ(compare_raw(Foo, lit, actions::parse_loose), 0);
    EXPECT_EQ(compare_raw(bar, foo, actions::lesser), -1);
    EXPECT_EQ(compare_raw(foo, Cell{T_integer, 0, 1, 0}, actions::equal), actions::not_comparable);
    Cell unbound = foo;
    unbound.w1 = 0;
    EXPECT_EQ(compare_raw(foo, unbound, actions::same), 1);  // same? also compares the context
}

TEST_F(WordTest, IndexOf) {
    Cell foo = w("foo");
    Cell i = foo;
    actions::lookup<actions::slot::index_q>(T_word)(&i);
    EXPECT_TRUE(cell::is(i, T_integer));
    EXPECT_EQ(i.w2, foo.w3 + 1);
    Cell unresolved = Cell{T_word, 0, foo.w2, 0xFFFFFFFFu};
    actions::lookup<actions::slot::index_q>(T_word)(&unresolved);
    EXPECT_TRUE(cell::is(unresolved, T_none));
    EXPECT_EQ(actions::lookup<actions::slot::index_q>(T_refinement), nullptr);
}
