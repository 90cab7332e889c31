// The set natives, through Kov text.
#include "tests/unit/natives_test_show.h"

using namespace kov;
using namespace kov::test;

using NativesSets = Kov;

TEST_F(NativesSets, Blocks) {
    static const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {"union [a b] [b c]", "[a b c]"},
        {"intersect [a b] [b c]", "[b]"},
        {"difference [a b] [b c]", "[a c]"},
        {"exclude [a b] [b c]", "[a]"},
        {"unique [a A b]", "[a b]"},
        {"unique/case [a A b]", "[a A b]"},
        {"union/case [a] [A]", "[a A]"},
        {"unique next [a a b]", "[a b]"},
        {"union/skip [a 1 b 2] [a 3 c 4] 2", "[a 1 b 2 c 4]"},
        {"intersect/skip [a 1 b 2] [b 9] 2", "[b 2]"},
        {"union/skip [a 1] [b 2] 0", "error: script/invalid-refine-arg"},
        // The result is a new block, even for a set with itself.
        {"x: [a b] same? x union x x", "false"},
        // A block only goes with a block (or hash!); other sets only with their own type.
        {"union \"ab\" [a]", "error: script/expect-val"},
        {"union [a] \"ab\"", "error: script/expect-val"},
        {"intersect make typeset! [integer!] [a]", "error: script/expect-val"},
        // Strings are sets of characters.
        {"union \"abc\" \"bd\"", "\"abcd\""},
        {"intersect \"abc\" \"cab\"", "\"abc\""},
        {"exclude \"abc\" \"B\"", "\"ac\""},
        {"exclude/case \"abc\" \"B\"", "\"abc\""},
        {"unique \"aabca\"", "\"abc\""},
    };
    for (const auto& c : cases) EXPECT_EQ(show(c.source), c.expected) << c.source;
}

TEST_F(NativesSets, TypesetsAndDates) {
    static const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {"union make typeset! [integer!] make typeset! [float!]", "make typeset! [integer! float!]"},
        {"intersect make typeset! [integer! float!] make typeset! [float!]", "make typeset! [float!]"},
        {"difference make typeset! [integer! float!] make typeset! [float! char!]", "make typeset! [char! integer!]"},
        {"exclude make typeset! [integer! float!] make typeset! [float!]", "make typeset! [integer!]"},
        {"unique make typeset! [integer!]", "error: script/expect-arg"},
        // Dates have only a difference: the time between them.
        {"difference 2-Jan-2020 1-Jan-2020", "24:00:00"},
        {"difference 1-Jan-2020/10:00 1-Jan-2020/12:00", "-2:00:00"},
        {"difference 1-Mar-2020 28-Feb-2020", "48:00:00"},
        {"union 1-Jan-2020 2-Jan-2020", "error: script/expect-arg"},
    };
    for (const auto& c : cases) EXPECT_EQ(show(c.source), c.expected) << c.source;
}
