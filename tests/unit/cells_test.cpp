// Cells reached by node and index: a view stays right across the moves an allocation makes,
// and debug builds end the process (the "assertion failed" report, status 98) when an
// accessor meets a cell of another type or a dead node.
#include "runtime/cells.h"

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/series_buffer.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;
using memory::Node;

namespace {

struct Cells : Runtime {};

TEST_F(Cells, ViewFetchesTheMovedBufferAgain) {
    Node block = memory::alloc_cells(2);
    collector::RootNode keep(block);
    *series::append_cell(block) = integer::make(1);
    *series::append_cell(block) = integer::make(2);
    cells::View second{block, 1};
    Cell* before = cells::of(block);
    // Growing the series gives it a new buffer; the view follows it, the old address does not.
    memory::expand_series(block, 4096);
    ASSERT_NE(cells::of(block), before);
    EXPECT_EQ(second.cells(), cells::of(block) + 1);
    EXPECT_EQ(integer::get(*second), 2);
    second[0] = integer::make(7);
    EXPECT_EQ(integer::get(cells::at(block, 1)), 7);
    EXPECT_EQ(cells::count(block), 2u);
}

// A big series grows by its pages: the cells stay, the list of big frames follows the
// frame wherever the pages went, and a series of another kind still grows by a copy.
TEST_F(Cells, BigSeriesGrowWithTheirCells) {
    constexpr uint32_t n = memory::largest_series_frame / sizeof(Cell) + 10;
    Node block = memory::alloc_cells(n);
    collector::RootNode keep(block);
    for (uint32_t i = 0; i < n; ++i) *series::append_cell(block) = integer::make(int32_t(i));
    ASSERT_TRUE(memory::buffer(block)->flags & memory::big);
    uint32_t bigs = memory::big_frame_count();
    uint32_t size = memory::buffer(block)->size;
    for (int round = 0; round < 3; ++round) memory::expand_series(block, uint64_t(memory::buffer(block)->size) * 2);
    EXPECT_EQ(memory::buffer(block)->size, size * 8);
    EXPECT_EQ(memory::big_frame_count(), bigs);
    bool listed = false;
    for (memory::BigFrame* f = memory::big_frames(); f; f = f->next) {
        if (f->next) {
            EXPECT_EQ(f->next->prev, f);
        }
        listed |= f->buffer() == memory::buffer(block);
    }
    EXPECT_TRUE(listed);
    ASSERT_EQ(cells::count(block), n);
    for (uint32_t i = 0; i < n; i += 997) EXPECT_EQ(integer::get(cells::at(block, i)), int32_t(i));
    EXPECT_EQ(integer::get(cells::at(block, n - 1)), int32_t(n - 1));
    // A series that is not big yet becomes one by a copy.
    Node small = memory::alloc_cells(4);
    collector::RootNode keep_small(small);
    *series::append_cell(small) = integer::make(5);
    memory::expand_series(small, uint64_t(memory::largest_series_frame) * 2);
    EXPECT_EQ(integer::get(cells::at(small, 0)), 5);
}

TEST_F(Cells, AccessorsCheckTheTypeInDebugBuilds) {
    if (!cell::checked) GTEST_SKIP() << "the checks are compiled out of this build";
    Cell number = integer::make(5);
    Node block = memory::alloc_cells(1);
    Cell series_cell{T_block, 0, block, 0};
    EXPECT_EQ(series::node_of(series_cell), block);
    EXPECT_EXIT(word::symbol_of(number), ::testing::ExitedWithCode(98), "");
    EXPECT_EXIT(series::node_of(number), ::testing::ExitedWithCode(98), "");
    memory::free_node(block);
    EXPECT_EXIT(series::node_of(series_cell), ::testing::ExitedWithCode(98), "");
}

}  // namespace
