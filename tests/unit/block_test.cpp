// block!: what the language cannot reach: the cycle depth left after molding a block that
// holds itself, a comparator that raises or changes the block midway through a sort, the
// clone flag for parens and paths, and the guards of the actions that the natives' specs
// keep from them. tests/kov/blocks.kov, sort.kov and sets.kov hold the behaviour.
#include <algorithm>
#include <vector>

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

// The collector runs while each test runs (at every allocation in the gc-stress build).
struct BlockTest : CollectingRuntime {};

namespace {

// A block of the cells on the value stack.
Cell* blk(std::initializer_list<Cell> values) {
    Cell* b = block::push_new(static_cast<int32_t>(values.size()));
    for (const Cell& v : values) block::rs_append(*b, v);
    return b;
}

Cell* at(const Cell& s, int32_t pos) {
    Cell* c = stack::push(s);
    c->w1 = static_cast<uint32_t>(pos - 1);
    return c;
}

Cell& cell_at(const Cell& b, int32_t i) { return *block::rs_abs_at(b, static_cast<uint32_t>(i)); }

}  // namespace

TEST_F(BlockTest, BlockHoldingItselfLeavesNoCycleDepth) {
    Cell* b = ints({1, 2});
    block::rs_append(*b, *b);
    EXPECT_EQ(test::mold(*b), "[1 2 [...]]");
    EXPECT_EQ(cycles::depth(), 0u);
    Cell* out = stack::reserve();
    EXPECT_EQ(error_of([&] { block::copy(b, out, nullptr, true, nullptr); }), "internal/no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
}

// What no native asks of the actions: select told of /tail or /match, and refinement values
// of a datatype the natives' specs refuse.
TEST_F(BlockTest, ActionsFromCode) {
    Cell* b = ints({0, 1, 2, 3, 1, 2});
    Cell one = I(1), two = I(2);
    struct Row {
        const char* what;
        Cell* series;
        FindArgs args;
        int32_t select;  // the selected integer
    } rows[] = {
        {"tail", b, {.tail = true}, 2},
        {"last tail", b, {.last = true, .tail = true}, 2},
        {"match at head", b, {.match = true}, 2},  // select has no /match
        {"match at 2", at(*b, 2), {.match = true}, 2},
    };
    for (auto& r : rows) {
        Cell s = *r.series;
        Cell* sel = block::select(&s, &one, r.args);
        EXPECT_EQ(cell::is(*sel, T_none) ? -1 : integer::get(*sel), r.select) << r.what;
    }
    Cell bad = none::value;
    Cell s = *b;
    EXPECT_EQ(error_of([&] { block::find(&s, &one, {.skip = &bad}); }), "script/invalid-refine-arg");
    EXPECT_EQ(error_of([&] { block::swap(b, &one); }), "script/invalid-arg");
    EXPECT_EQ(error_of([&] { block::sort(b, {.compare = const_cast<Cell*>(&none::value)}); }),
              "script/invalid-refine-arg");
    EXPECT_EQ(error_of([&] { block::sort(b, {.skip = &two, .compare = &bad}); }), "script/invalid-refine-arg");
    EXPECT_EQ(test::mold(*b), "[0 1 2 3 1 2]");
}


namespace {
// A comparison that raises at a given call, or changes the block it sorts at another.
int32_t calls = 0, raise_at = 0, change_at = 0;
Cell* sorted_block = nullptr;
int32_t failing_compare(const void* a, const void* b, uintptr_t flags, uintptr_t op) {
    ++calls;
    if (calls == raise_at) error::fire(err::user_message, I(1));
    if (calls == change_at && sorted_block) {
        // The comparator empties the block and allocates: the sort still writes its cells back.
        block::rs_clear(*sorted_block);
        for (int32_t k = 0; k < 50; ++k) block::rs_append(*sorted_block, *ints({k}));
    }
    return block::compare_records(a, b, flags, op);
}
}  // namespace

TEST_F(BlockTest, ComparatorThatRaisesMidSort) {
    for (bool stable : {false, true}) {
        for (int32_t limit : {3, 40, 300}) {
            stack::Mark mark;
            std::vector<int32_t> values;
            for (int32_t i = 0; i < 120; ++i) values.push_back((i * 37) % 120);
            Cell* b = block::push_new(120);
            for (int32_t v : values) block::rs_append(*b, I(v));
            calls = 0;
            raise_at = limit;
            change_at = 0;
            sorted_block = nullptr;
            EXPECT_EQ(error_of([&] { block::sort_records(*b, 120, 1, stable, 0, actions::sort_order, failing_compare); }),
                      "user/message");
            std::vector<int32_t> after;
            for (int32_t i = 0; i < block::rs_length_q(*b); ++i) after.push_back(integer::get(cell_at(*b, i)));
            std::sort(values.begin(), values.end());
            std::sort(after.begin(), after.end());
            EXPECT_EQ(after, values) << "the block is a permutation of its cells";
        }
    }
    // A comparator that changes the block: the sort writes its 120 records back over the
    // block's first cells and touches nothing beyond them.
    Cell* b = block::push_new(120);
    for (int32_t i = 0; i < 120; ++i) block::rs_append(*b, I(119 - i));
    calls = 0;
    raise_at = 0;
    change_at = 20;
    sorted_block = b;
    block::sort_records(*b, 120, 1, false, 0, actions::sort_order, failing_compare);
    sorted_block = nullptr;
    ASSERT_EQ(block::rs_length_q(*b), 50);
    for (int32_t i = 0; i < 50; ++i) EXPECT_TRUE(cell::is(cell_at(*b, i), T_integer));
}

TEST_F(BlockTest, DeepCloneCopiesParensOnlyWithTheFlag) {
    // A deep clone copies parens and paths only with the any-block flag.
    Cell paren = *ints({3});
    cell::set_type(paren, T_paren);
    Cell* holder = blk({paren});
    Cell* withp = block::clone(*blk({*holder}), true, true);
    Cell* without = block::clone(*blk({*holder}), true, false);
    EXPECT_NE(cell_at(cell_at(*withp, 0), 0).w2, paren.w2);
    EXPECT_EQ(cell_at(cell_at(*without, 0), 0).w2, paren.w2);
}
