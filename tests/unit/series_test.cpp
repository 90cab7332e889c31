// series!: what the language cannot reach of the positional model and the shared actions
// (tests/kov/series.kov holds their behaviour).
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unit_types.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

// The collector runs while each test runs (at every allocation in the gc-stress build).
struct SeriesTest : CollectingRuntime {};

namespace {

// A series value at a 1-based position, on the value stack.
Cell* at(const Cell& s, int32_t pos) {
    Cell* c = stack::push(s);
    c->w1 = static_cast<uint32_t>(pos - 1);
    return c;
}

int32_t index_of(const Cell& s) { return static_cast<int32_t>(s.w1); }

}  // namespace

// length? moves the index of its argument back to the tail, which no Kov value shows.
TEST_F(SeriesTest, AnIndexPastTheTailIsClippedInPlace) {
    Cell* b = ints({1, 2, 3, 4, 5});
    Cell* late = at(*b, 5);
    series::clear(at(*b, 3));
    Cell d = *late;
    series::clip_index(d, false);
    EXPECT_EQ(index_of(d), 2);
}

// What the natives' specs keep from the actions, which still refuse it themselves.
TEST_F(SeriesTest, ActionsRefuseWhatTheSpecsKeepAway) {
    Cell* b = ints({1, 2, 3});
    Cell bad = none::value;
    Cell s = *b;
    EXPECT_EQ(error_of([&] { series::at(&s, &bad); }), "script/invalid-arg");
    s = *b;
    EXPECT_EQ(error_of([&] { series::reverse(&s, nullptr, &bad); }), "script/invalid-refine-arg");
    EXPECT_EQ(mold(*b), "[1 2 3]");
}

// A character too wide for the text widens the whole buffer.
TEST_F(SeriesTest, PokeWidensTheText) {
    Cell* s = str("abc\u0100d");
    Cell e = char_::make(0x10000);
    Cell c = *s;
    series::poke(&c, 1, &e, nullptr);
    EXPECT_EQ(unit_of(*s), 4u);
    EXPECT_EQ(text(*s), "\U00010000bc\u0100d");
}
