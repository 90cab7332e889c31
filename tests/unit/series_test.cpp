// series!: the positional model and the shared actions, on blocks of integers.
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

TEST_F(SeriesTest, NavigationClipsTheIndex) {
    Cell* b = ints({1, 2, 3, 4, 5});
    struct Row {
        bool at;      // at (true) or skip
        int32_t from; // 0-based index
        int32_t offset;
        int32_t to;
    } rows[] = {
        {true, 2, 0, 2}, {true, 2, 1, 2}, {true, 2, -1, 1}, {true, 2, 2, 3},  // at 0 = at 1
        {true, 0, 100, 5}, {false, 2, -100, 0}, {false, 2, 2, 4}, {false, 2, 9, 5},
    };
    for (auto& r : rows) {
        Cell s = *b;
        s.w1 = static_cast<uint32_t>(r.from);
        Cell offset = I(r.offset);
        (r.at ? series::at : series::skip)(&s, &offset);
        EXPECT_EQ(index_of(s), r.to) << (r.at ? "at " : "skip ") << r.from << " " << r.offset;
    }
    Cell bad = Cell{T_none, 0, 0, 0};
    Cell s = *b;
    EXPECT_EQ(error_of([&] { series::at(&s, &bad); }), "script/invalid-arg");

    // back stops at the head, next at the tail.
    Cell h = *b;
    series::back(&h);
    EXPECT_EQ(index_of(h), 0);
    Cell t = *b;
    series::tail(&t);
    series::next(&t);
    EXPECT_EQ(index_of(t), 5);
}

TEST_F(SeriesTest, IndexPastTheTail) {
    // Another value of the same buffer is left past the tail by a clear.
    Cell* b = ints({1, 2, 3, 4, 5});
    Cell* late = at(*b, 5);
    Cell* cut = at(*b, 3);
    series::clear(cut);
    ASSERT_EQ(block::rs_length_q(*b), 2);

    Cell c = *late;
    EXPECT_EQ(integer::get(*series::index_q(&c)), 5);  // not clipped
    c = *late;
    EXPECT_TRUE(logic::get(*series::tail_q(&c)));
    c = *late;
    EXPECT_EQ(integer::get(*series::length_q(&c)), 0);
    c = *late;
    Cell one = I(1);
    EXPECT_EQ(index_of(*series::skip(&c, &one)), 2);  // clipped to the tail
    c = *late;
    EXPECT_TRUE(cell::is(*series::pick(&c, 1, nullptr), T_none));
    c = *late;
    Cell* copy = stack::reserve();
    series::copy(&c, copy, nullptr, false, nullptr);
    EXPECT_EQ(mold(*copy), "[]");

    // length? moves the index back to the tail in the argument.
    Cell d = *late;
    series::clip_index(d, false);
    EXPECT_EQ(index_of(d), 2);
}

TEST_F(SeriesTest, PickAndPokeAroundThePosition) {
    Cell* b = ints({10, 20, 30, 40});
    Cell* third = at(*b, 3);
    struct Row {
        const Cell* series;
        int32_t n;
        const char* picked;
    } rows[] = {
        {b, 0, "none"}, {b, -1, "none"}, {b, 1, "10"}, {b, 4, "40"}, {b, 5, "none"},
        {third, -1, "20"}, {third, -2, "10"}, {third, -3, "none"}, {third, 1, "30"}, {third, 0, "none"},
    };
    for (auto& r : rows) {
        Cell c = *r.series;
        EXPECT_EQ(mold(*series::pick(&c, r.n, nullptr)), r.picked) << r.n;
    }
    Cell data = I(99);
    Cell c = *third;
    EXPECT_EQ(integer::get(*series::poke(&c, -1, &data, nullptr)), 99);
    EXPECT_EQ(mold(*b), "[10 99 30 40]");
    for (int32_t n : {0, 3, -3}) {
        Cell s = *third;
        EXPECT_EQ(error_of([&] { series::poke(&s, n, &data, nullptr); }), "script/out-of-range") << n;
    }
}

TEST_F(SeriesTest, TakeWithPartAndLast) {
    struct Row {
        int32_t pos;      // 1-based position of the series
        bool has_part;
        int32_t part;
        bool last;
        const char* taken;
        const char* left;
    } rows[] = {
        {3, true, 0, false, "[2]", "[1 3 4 5]"},        // /part 0 takes the unit before
        {3, true, -1, false, "[2]", "[1 3 4 5]"},
        {3, true, -2, false, "[1 2]", "[3 4 5]"},
        {1, true, 0, false, "[]", "[1 2 3 4 5]"},       // nothing before the head
        {1, true, 2, true, "[4 5]", "[1 2 3]"},         // /last keeps the order
        {1, true, 9, false, "[1 2 3 4 5]", "[]"},
        {1, false, 0, true, "5", "[1 2 3 4]"},
        {2, false, 0, false, "2", "[1 3 4 5]"},
        {6, false, 0, false, "none", "[1 2 3 4 5]"},    // at the tail
    };
    for (auto& r : rows) {
        stack::Mark mark;
        Cell* b = ints({1, 2, 3, 4, 5});
        Cell* s = at(*b, r.pos);
        Cell part = I(r.part);
        Cell* taken = block::take(s, r.has_part ? &part : nullptr, false, r.last);
        EXPECT_EQ(mold(*taken), r.taken) << r.pos << " " << r.part;
        EXPECT_EQ(mold(*b), r.left) << r.pos << " " << r.part;
    }
    Cell* b = ints({1, 2});
    Cell* other = ints({1, 2});
    EXPECT_EQ(error_of([&] { block::take(b, other, false, false); }), "script/invalid-refine-arg");
}

TEST_F(SeriesTest, CopyWithPart) {
    Cell* b = ints({1, 2, 3, 4, 5, 6});
    struct Row {
        int32_t pos;
        Cell part;
        const char* copied;
    } rows[] = {
        {1, Cell{T_pair, 0, 2, 4}, "[2 3]"},
        {1, Cell{T_pair, 0, 4, 2}, "[]"},
        {2, Cell{T_pair, 0, 2, 4}, "[3 4]"},
        {2, I(-2), "[1]"},        // backwards from the position, cut at the head
        {3, I(2), "[3 4]"},
        {5, I(10), "[5 6]"},
        {7, I(2), "[]"},
    };
    for (auto& r : rows) {
        Cell* s = at(*b, r.pos);
        Cell* out = stack::reserve();
        series::copy(s, out, &r.part, false, nullptr);
        EXPECT_EQ(mold(*out), r.copied) << r.pos;
    }
    // A position in the same series bounds the copy; one in another series is an error.
    Cell* end = at(*b, 4);
    Cell* out = stack::reserve();
    series::copy(at(*b, 2), out, end, false, nullptr);
    EXPECT_EQ(mold(*out), "[2 3]");
    Cell* other = ints({1});
    EXPECT_EQ(error_of([&] { series::copy(b, out, other, false, nullptr); }), "script/invalid-refine-arg");
}

TEST_F(SeriesTest, MoveWithinOneSeries) {
    struct Row {
        int32_t from, to;  // 1-based
        int32_t part;
        const char* result;
    } rows[] = {
        {1, 3, 1, "[2 3 1 4 5]"},
        {1, 6, 1, "[2 3 4 5 1]"},  // to the tail
        {4, 1, 2, "[4 5 1 2 3]"},
        {2, 3, 2, "[1 2 3 4 5]"},  // the target lies inside the moved range
        {3, 3, 1, "[1 2 3 4 5]"},
    };
    for (auto& r : rows) {
        stack::Mark mark;
        Cell* b = ints({1, 2, 3, 4, 5});
        Cell part = I(r.part);
        series::move(at(*b, r.from), at(*b, r.to), &part);
        EXPECT_EQ(mold(*b), r.result) << r.from << " -> " << r.to;
    }
    // Between two blocks the cells leave the origin.
    Cell* a = ints({1, 2, 3});
    Cell* t = ints({7, 8});
    Cell two = I(2);
    series::move(a, at(*t, 2), &two);
    EXPECT_EQ(mold(*a), "[3]");
    EXPECT_EQ(mold(*t), "[7 1 2 8]");
}

TEST_F(SeriesTest, ReverseAndItsSkipErrors) {
    struct Row {
        std::initializer_list<int32_t> cells;
        Cell skip;
        const char* result;
    } rows[] = {
        {{1, 2, 3, 4, 5, 6}, I(2), "[5 6 3 4 1 2]"},
        {{1, 2, 3, 4, 5, 6}, I(6), "[1 2 3 4 5 6]"},
        {{1, 2, 3, 4, 5, 6}, I(1), "[6 5 4 3 2 1]"},
        {{1, 2, 3, 4, 5}, I(2), "script/invalid-refine-arg"},
        {{1, 2, 3}, I(4), "script/invalid-refine-arg"},
        {{1, 2, 3}, I(0), "script/out-of-range"},
        {{1, 2, 3}, Cell{T_none, 0, 0, 0}, "script/invalid-refine-arg"},
    };
    for (auto& r : rows) {
        stack::Mark mark;
        Cell* b = ints(r.cells);
        Cell skip = r.skip;
        std::string err = error_of([&] { series::reverse(b, nullptr, &skip); });
        EXPECT_EQ(err == "no error" ? mold(*b) : err, r.result);
    }
    Cell* b = ints({1, 2, 3, 4, 5});
    Cell three = I(3);
    series::reverse(at(*b, 2), &three, nullptr);
    EXPECT_EQ(mold(*b), "[1 4 3 2 5]");
}

TEST_F(SeriesTest, RemoveAndClear) {
    Cell* b = ints({1, 2, 3, 4, 5});
    Cell two = I(2);
    series::remove(at(*b, 2), &two, nullptr);
    EXPECT_EQ(mold(*b), "[1 4 5]");
    Cell zero = I(0);
    series::remove(b, &zero, nullptr);
    EXPECT_EQ(mold(*b), "[1 4 5]");
    series::remove(at(*b, 3), nullptr, nullptr);
    EXPECT_EQ(mold(*b), "[1 4]");
    series::clear(at(*b, 2));
    EXPECT_EQ(mold(*b), "[1]");
    series::clear(at(*b, 9));
    EXPECT_EQ(mold(*b), "[1]");

    // /key removes the key and the cell after it; an absent key gives none.
    Cell* k = ints({1, 2, 3, 4});
    Cell key = I(2);
    Cell* s = stack::push(*k);
    series::remove(s, nullptr, &key);
    EXPECT_EQ(mold(*k), "[1 4]");
    Cell absent = I(7);
    Cell* t = stack::push(*k);
    EXPECT_TRUE(cell::is(*series::remove(t, nullptr, &absent), T_none));
}

TEST_F(SeriesTest, TextSeriesShareTheActions) {
    // The same actions on characters: positions scale with the buffer's unit.
    Cell* s = str("abc\u0100d");
    Cell c = *s;
    EXPECT_EQ(char_::get(*series::pick(&c, 4, nullptr)), 0x100);
    Cell e = char_::make(0x10000);
    c = *s;
    series::poke(&c, 1, &e, nullptr);  // widens the whole string to 4 bytes a character
    EXPECT_EQ(unit_of(*s), 4u);
    EXPECT_EQ(text(*s), "\U00010000bc\u0100d");
    Cell bad = I(1);
    c = *s;
    EXPECT_EQ(error_of([&] { series::poke(&c, 1, &bad, nullptr); }), "script/invalid-arg");

    Cell* out = stack::reserve();
    Cell two = I(2);
    series::copy(at(*s, 2), out, &two, false, nullptr);
    EXPECT_EQ(text(*out), "bc");
    series::reverse(at(*s, 2), &two, nullptr);
    EXPECT_EQ(text(*s), "\U00010000cb\u0100d");
    series::remove(at(*s, 4), nullptr, nullptr);
    EXPECT_EQ(text(*s), "\U00010000cbd");
    Cell* t = str("xyz");
    EXPECT_EQ(char_::get(*series::take(at(*t, 2), nullptr, false, false)), 'y');
    EXPECT_EQ(text(*series::take(t, &two, false, true)), "xz");

    // Moving between strings of different units goes character by character.
    Cell* narrow = str("xy");
    series::move(at(*s, 2), at(*narrow, 2), &two);
    EXPECT_EQ(text(*narrow), "xcby");
    EXPECT_EQ(text(*s), "\U00010000d");
    EXPECT_EQ(error_of([&] { series::move(s, ints({1}), nullptr); }), "script/move-bad");
}
