// hash!: making and converting, text, copies with their own tables, sort and trim keeping the
// index current, and find on a hash! checked against find on a block! through random changes.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using HashTest = Kov;

namespace {

struct Case {
    const char* source;
    const char* result;
};

void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.result) << c.source;
}

Cell global(const char* name) { return *context::get(word::load(name)); }

std::string mold_only(const Cell& v) {
    Cell* out = string::push(16, 1);
    Cell copy = v;
    actions::lookup<actions::slot::mold>(cell::type(v))(&copy, out, true, false, false, nullptr, 0x7FFFFFFF, 0);
    return text(*out);
}

}  // namespace

TEST_F(HashTest, MakeAndTo) {
    check({
        {"make hash! [a 1 b 2]", "make hash! [a 1 b 2]"},
        {"b: [a 1 b 2] h: make hash! b append h 'c reduce [b h]", "[[a 1 b 2] make hash! [a 1 b 2 c]]"},
        {"h: make hash! 10 reduce [length? h select h 'a]", "[0 none]"},
        {"make hash! 0", "make hash! []"},
        {"make hash! -5", "make hash! []"},
        {"h: make hash! 2.5 append h [x 1] select h 'x", "1"},
        {"make hash! next [x a 1]", "make hash! [a 1]"},
        {"make hash! to paren! [a 1]", "make hash! [a 1]"},
        {"h: make hash! [a 1] c: make hash! h append c 'z reduce [same? h c length? h select c 1]",
         "[false 2 z]"},
        {"to hash! \"a b 1\"", "make hash! [a b 1]"},
        {"h: to hash! \"a b 1\" select h 'b", "1"},
        {"to hash! 5", "make hash! [5]"},
        {"to hash! 'a", "make hash! [a]"},
        {"type? to hash! [a]", "hash!"},
        {"h: to hash! make map! [a 1 b 2] reduce [select h to set-word! 'b length? h]", "[2 4]"},
        {"h: make hash! [a 1] c: to hash! h append c 'z length? h", "2"},
    });
}

TEST_F(HashTest, Text) {
    check({
        {"make hash! []", "make hash! []"},
        {"reduce [make hash! [1]]", "[make hash! [1]]"},
        {"h: make hash! [1] append/only h h h", "make hash! [1 [...]]"},
    });
    eval("t: make hash! [a 1]");
    EXPECT_EQ(mold(global("t")), "make hash! [a 1]");
    EXPECT_EQ(mold_only(global("t")), "a 1");
    EXPECT_EQ(form(global("t")), "a 1");
}

TEST_F(HashTest, CopiesHaveTablesOfTheirOwn) {
    check({
        {"h: make hash! [a 1 b 2] c: copy h append c [x 9] reduce [select h 'x select c 'x select c 'b]",
         "[none 9 2]"},
        {"h: make hash! [a 1 b 2] c: copy h remove h reduce [select c 'a find h 'a h]", "[1 none make hash! [1 b 2]]"},
        {"h: make hash! [a 1 b 2] c: copy next h reduce [c select c 'b type? c]", "[make hash! [1 b 2] 2 hash!]"},
        {"h: make hash! [a 1 b 2] c: copy/part h 2 reduce [c select c 'a find c 'b]", "[make hash! [a 1] 1 none]"},
        {"h: make hash! [a [1]] c: copy/deep h append select c 'a 2 reduce [h c type? c select c 'a]",
         "[make hash! [a [1]] make hash! [a [1 2]] hash! [1 2]]"},
        {"h: make hash! [a [1]] c: copy/types h block! append select c 'a 2 reduce [h type? c]",
         "[make hash! [a [1]] hash!]"},
        {"h: make hash! [a 1 b 2] c: take/part h 2 reduce [c select c 'a h select h 'b]",
         "[make hash! [a 1] 1 make hash! [b 2] 2]"},
    });
}

TEST_F(HashTest, SortAndTrimKeepTheIndex) {
    check({
        {"h: make hash! [c 3 a 1 b 2] sort/skip h 2 reduce [h select h 'a index? find h 'b index? find h 'c]",
         "[make hash! [a 1 b 2 c 3] 1 3 5]"},
        {"h: make hash! [3 1 2] sort h reduce [index? find h 1 index? find h 3]", "[1 3]"},
        {"h: make hash! [x 3 1 2] sort next h reduce [h index? find h 3 index? find h 'x]", "[make hash! [x 1 2 3] 4 1]"},
        {"h: make hash! reduce [1 none 2 none 3] trim h reduce [h index? find h 3 index? find h 2]",
         "[make hash! [1 2 3] 3 2]"},
        {"h: make hash! [1 2 3] reverse h index? find h 1", "3"},
        {"random make hash! [1 2]", "error: script/expect-arg"},
    });
}

// The same changes on a hash! and a block!: every find must answer alike.
TEST_F(HashTest, FindAgreesWithBlock) {
    const std::vector<std::string> values = {"0", "1", "2", "3", "7", "'a", "'b", "'c", "#\"x\"", "#\"y\"", "[1 2]"};
    const std::vector<std::string> changes = {
        "append # $V",      "insert # $V",        "insert at # $P $V", "append # [1 a 2]", "remove at # $P",
        "change at # $P $V", "poke # $P $V",       "take/last #",       "take #",           "reverse #",
        "sort #",            "remove/part at # $P 2", "insert/dup at # $P $V 3", "clear at # $P",
        "move at # $P at # 2", "swap at # $P #",  "append/only # [1 2]", "change/part at # $P [7 7 7] 2",
    };
    std::mt19937 rng(20240611);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    auto replace = [](std::string s, const char* mark, const std::string& by) {
        for (std::size_t at; (at = s.find(mark)) != std::string::npos;) s.replace(at, std::strlen(mark), by);
        return s;
    };
    auto is_error = [](const std::string& r) { return r.rfind("error:", 0) == 0; };
    eval("h: make hash! [] b: copy []");
    for (int step = 0; step < 400; ++step) {
        int n = std::stoi(eval("length? b"));
        std::string change = changes[pick(changes.size())];
        change = replace(change, "$P", std::to_string(1 + pick(static_cast<std::size_t>(n + 1))));
        // The series marks first: a value may hold a '#' of its own.
        const std::string& v = values[pick(values.size())];
        std::string on_hash = replace(replace(change, "#", "h"), "$V", v);
        std::string on_block = replace(replace(change, "#", "b"), "$V", v);
        EXPECT_EQ(is_error(eval(on_hash)), is_error(eval(on_block))) << on_block;
        ASSERT_EQ(eval("mold to block! h"), eval("mold b")) << "after " << on_block << " (step " << step << ")";
        for (const std::string& x : values) {
            for (const char* form : {"index? find # $X", "index? find/skip # $X 2", "index? find next # $X",
                                     "index? find/last # $X", "select # $X", "index? find/reverse tail # $X",
                                     "index? find/case # $X", "index? find/part # $X 3", "index? find/only # $X"}) {
                std::string qh = replace(replace(form, "#", "h"), "$X", x);
                std::string qb = replace(replace(form, "#", "b"), "$X", x);
                ASSERT_EQ(eval(qh), eval(qb)) << qh << " after " << on_block << " (step " << step << ")";
            }
        }
    }
}

// Tables and their lists survive collections that run at every allocation (gc-stress build).
TEST_F(HashTest, SurvivesCollections) {
    check({
        {"h: make hash! [] repeat i 500 [append h i % 37 append h to char! 100 + (i % 11)] "
         "reduce [length? h index? find h 36 index? find h #\"g\" index? find/last h 0]",
         "[1000 71 6 961]"},
    });
    eval("h: make hash! [] repeat i 50 [append h i % 7] c: copy h");
    collector::collect();
    check({{"reduce [index? find h 6 index? find/last c 0 select c 5]", "[6 49 6]"}});
}
