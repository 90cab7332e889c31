// The interpreter, through Kov text.
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using InterpTest = Kov;

TEST_F(InterpTest, Basics) {
    EXPECT_EQ(eval("1 + 2"), "3");
    EXPECT_EQ(eval("1 + 2 * 3"), "9");
    EXPECT_EQ(eval("[]"), "[]");
    EXPECT_EQ(eval("x: 10 x"), "10");
}
