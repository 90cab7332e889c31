// issue!: an issue is never bound, and compares only with issues. The cases written in Kov
// are in tests/kov/issues-tags.kov.
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

TEST_F(IssueTagTest, IssueComparesOnlyWithIssues) {
    using namespace kov::actions;
    Cell a = issue::make(symbol::make("abc"));
    Cell b = issue::make(symbol::make("ABC"));
    Cell w = Cell{T_word, 0, a.w2, 0xFFFFFFFFu};
    EXPECT_EQ(compare_raw(a, b, equal), 0);
    EXPECT_NE(compare_raw(a, b, strict_equal), 0);
    EXPECT_EQ(compare_raw(a, w, equal), not_comparable);
    EXPECT_EQ(compare_raw(a, *str("abc"), equal), not_comparable);
    // A word does not equal an issue either.
    EXPECT_EQ(compare_raw(w, a, equal), not_comparable);
}

