// The back-end contract: the build reads its words from the table beside the face model, and the
// start-up check of debug builds names the first of them that a platform object lacks.
#include <gtest/gtest.h>

#include <string>

#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;
using PlatformContract = Kov;

TEST_F(PlatformContract, TheCheckNamesTheFirstWordMissing) {
    std::span<const char* const> words = boot::platform_contract();
    ASSERT_EQ(words.size(), 36u);
    EXPECT_STREQ(words.front(), "mouse-event?");
    EXPECT_STREQ(words.back(), "product");

    // The word the check names for a platform made of the text ("" for none).
    auto gap_of = [](const std::string& platform) -> std::string {
        EXPECT_EQ(eval("probe-platform: " + platform + " none"), "none");
        const char* gap = boot::platform_gap(global("probe-platform"));
        return gap ? gap : "";
    };
    std::string fields;
    for (const char* w : words) fields += std::string(w) + ": ";
    std::string all_but_init = fields;
    all_but_init.erase(all_but_init.find("init: "), 6);
    EXPECT_EQ(gap_of("make object! [" + fields + "none]"), "");
    EXPECT_EQ(gap_of("make object! [" + all_but_init + "none]"), "init");
    EXPECT_EQ(gap_of("make object! [mouse-event?: false make-null-handle: none]"), "fetch-all-screens");
    EXPECT_EQ(gap_of("none"), "mouse-event?");
    eval("unset 'probe-platform");
}
