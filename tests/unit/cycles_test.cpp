// The cycle stack and the small routines of molding.
#include <cmath>

#include "runtime/cycles.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

TEST(Cycles, PushPopAndTooDeep) {
    cycles::reset();
    cycles::pop();  // on an empty stack: nothing
    EXPECT_EQ(cycles::depth(), 0u);
    for (uint32_t i = 1; i < cycles::capacity; ++i) cycles::push(i);  // 999 levels are fine
    EXPECT_TRUE(cycles::find_q(500));
    EXPECT_FALSE(cycles::find_q(5000));
    try {
        cycles::push(1000);
        FAIL() << "the 1000th level must raise";
    } catch (const Error& e) {
        EXPECT_EQ(e.id, err::internal_too_deep);
    }
    EXPECT_EQ(cycles::depth(), 0u);  // emptied when raised
}

TEST(Cycles, IntArgAndFillPattern) {
    Cell f{T_float_, 0, 0, 0};
    cell::set_double(f, -2.7);
    EXPECT_EQ(value::to_int_arg(f), -2);
    cell::set_double(f, 2147483647.9);
    EXPECT_THROW(value::to_int_arg(f), Error);
    cell::set_double(f, std::nan(""));
    EXPECT_THROW(value::to_int_arg(f), Error);
    EXPECT_EQ(value::to_int_arg(Cell{T_integer, 0, static_cast<uint32_t>(-5), 0}), -5);

    uint8_t buf[40] = {1, 2, 3};
    EXPECT_EQ(memory::fill_pattern(buf, 3, 1), buf + 3);
    EXPECT_EQ(buf[3], 0);  // a count of 1 copies nothing
    memory::fill_pattern(buf, 3, 13);
    for (int i = 0; i < 39; ++i) ASSERT_EQ(buf[i], i % 3 + 1);
    EXPECT_EQ(buf[39], 0);
}

using CyclesMold = Runtime;

TEST_F(CyclesMold, DetectWritesTheRepeatAndIndentAppendsSpaces) {
    memory::Node n = memory::alloc_cells(1);
    Cell block{T_block, 0, n, 0}, paren{T_paren, 0, n, 0}, path{T_path, 0, n, 0};
    Cell* out = string::push(16, 1);
    int32_t part = 100;
    EXPECT_FALSE(cycles::detect_q(block, *out, part, true));  // not being walked: nothing written
    cycles::Guard g(n);
    EXPECT_TRUE(cycles::detect_q(block, *out, part, true));
    EXPECT_TRUE(cycles::detect_q(paren, *out, part, true));
    EXPECT_TRUE(cycles::detect_q(path, *out, part, true));
    EXPECT_TRUE(cycles::detect_q(block, *out, part, false));
    EXPECT_EQ(text(*out), "[...](...)......");
    EXPECT_EQ(part, 100 - 5 - 5 - 3 - 3);
    EXPECT_EQ(mold::indent(*out, 2, 10), 2);
    EXPECT_EQ(text(*out), "[...](...)......        ");
}
