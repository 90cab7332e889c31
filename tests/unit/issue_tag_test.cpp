// issue!: an issue is never bound. The cases written in Kov are in tests/kov/issues-tags.kov.
#include <string>

#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using IssueTagTest = Kov;

TEST_F(IssueTagTest, IssueIsNeverBound) {
    // An issue is never bound: the global context, no slot.
    Cell* made = issue::load("q");
    EXPECT_EQ(cell::type(*made), T_issue);
    EXPECT_EQ(static_cast<int32_t>(made->w3), -1);
    EXPECT_EQ(mold(*made), "#q");
}
