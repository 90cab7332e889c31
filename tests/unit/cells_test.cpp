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
