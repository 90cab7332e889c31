// Type families: the C++ table agrees with the typesets the boot definitions build.
#include <gtest/gtest.h>

#include "runtime/families.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;
using Families = Kov;

TEST_F(Families, FamilyTableMatchesTheBootTypesets) {
    const char* mismatch = boot::family_mismatch();
    EXPECT_TRUE(mismatch == nullptr) << mismatch;

    // The check sees a typeset that gains or loses one member.
    ASSERT_EQ(eval("saved-series: series!  series!: union series! make typeset! [map!]  none"), "none");
    const char* widened = boot::family_mismatch();
    EXPECT_STREQ(widened ? widened : "", "series!");
    ASSERT_EQ(eval("series!: saved-series  any-word!: exclude any-word! make typeset! [get-word!]  none"), "none");
    const char* narrowed = boot::family_mismatch();
    EXPECT_STREQ(narrowed ? narrowed : "", "any-word!");
    eval("any-word!: union any-word! make typeset! [get-word!]");
    mismatch = boot::family_mismatch();
    EXPECT_TRUE(mismatch == nullptr) << mismatch;
}
