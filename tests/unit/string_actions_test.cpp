// string! actions from C++: the unit a change leaves each string in, and the routines' answers
// for datatypes the natives' specs keep away. The cases written in Kov are in
// tests/kov/strings.kov and sets.kov.
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
    EXPECT_EQ(compare_raw(*str("A/B.C<X>"), *v, actions::equal), 0);
}
