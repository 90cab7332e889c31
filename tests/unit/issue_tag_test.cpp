// issue!, tag!, email! and ref!: construction, molds, comparison and email paths.
#include <string>
#include <vector>

#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using IssueTagTest = Kov;

namespace {

// Evaluates as `eval` does, then puts the interpreter's current position back at the top
// level: an error unwinding out of the evaluator leaves it at the failed expression's block,
// which the next evaluation would restore after that block has been collected.
std::string run(const std::string& source) {
    std::string r = eval(source);
    interp::current = none::value;
    return r;
}

struct Case {
    const char* source;
    const char* result;
};

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(run(c.source), c.result) << c.source;
}

}  // namespace

TEST_F(IssueTagTest, IssueMakeAndText) {
    check({
        {"#abc", "#abc"},
        {"make issue! \"abc\"", "#abc"},
        {"to issue! next \"abc\"", "#bc"},
        {"to issue! #\"a\"", "#a"},
        {"to issue! 'abc", "#abc"},
        {"to issue! /a", "#a"},
        {"to issue! #x", "#x"},
        {"to issue! 1", "error: script/bad-to-arg"},
        {"form #abc", "\"abc\""},
        {"mold #abc", "\"#abc\""},
        {"mold/part #abcd 3", "\"#ab\""},
    });
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

TEST_F(IssueTagTest, IssueToInteger) {
    check({
        {"to integer! #FF", "255"},
        {"to integer! #ff", "255"},
        {"to integer! #7FFFFFFF", "2147483647"},
        {"to integer! #FFFFFFFF", "-1"},
        {"to integer! #0000000A", "10"},
        {"to integer! #123456789", "error: script/invalid-data"},
        {"to integer! #12g", "error: script/invalid-data"},
        {"to integer! to issue! \"\u00e9\"", "error: script/invalid-data"},
    });
}

TEST_F(IssueTagTest, TagRefEmailText) {
    check({
        {"<a b>", "<a b>"},
        {"form <a b>", "\"<a b>\""},
        {"mold <a b>", "\"<a b>\""},
        {"mold/part <abc> 3", "\"<ab\""},
        {"to tag! \"x\"", "<x>"},
        {"@x", "@x"},
        {"mold @x", "\"@x\""},
        {"form @x", "\"x\""},
        {"u@h", "u@h"},
        {"form u@h", "\"u@h\""},
        {"next u@h", "@h"},
    });
}

TEST_F(IssueTagTest, EmailPaths) {
    check({
        {"x: u@h x/user", "\"u\""},
        {"x: u@h x/host", "\"h\""},
        {"x: u@h x/USER", "\"u\""},
        {"x: user@host.org x/host", "\"host.org\""},
        {"x: u@h x/host: \"k\" x", "u@k"},
        {"x: u@h x/user: \"me\" x", "me@h"},
        {"x: u@h x/host: \"\" x", "u@"},
        {"x: u@h x/1", "#\"u\""},
        {"x: to email! \"uh\" x/user", "\"uh\""},
        {"x: to email! \"uh\" x/host", "\"\""},
        {"x: to email! \"uh\" x/host: \"k\" x", "uh@k"},  // the "@" is put in
        {"x: u@h x/foo", "error: script/invalid-path"},
        {"x: u@h x/foo: 1", "error: script/invalid-path"},
        {"x: u@h x/(\"a\")", "error: script/invalid-path"},
    });
    // Reading a part copies it: changing the copy leaves the address alone.
    EXPECT_EQ(run("x: u@h y: x/user append y \"z\" x"), "u@h");
}

TEST_F(IssueTagTest, MissingActions) {
    check({
        {"append @x \"y\"", "error: script/expect-arg"},  // ref! has no append
        {"x: @a x/1", "error: script/bad-path-type"},
        {"head insert @x \"y\"", "@yx"},
        {"put u@h 1 2", "error: script/expect-arg"},
        {"sort <cba>", "error: script/expect-arg"},
        {"trim u@h", "error: script/expect-arg"},
        {"index? #abc", "error: script/expect-arg"},  // issue! has no index?
    });
}
