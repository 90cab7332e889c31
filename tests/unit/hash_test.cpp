// hash!: find on a hash! checked against find on a block! through random changes, and a
// collection between making and reading. The cases written in Kov are in tests/kov/hashes.kov.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using HashTest = Kov;


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

// Tables and their lists survive a collection between making and reading.
TEST_F(HashTest, SurvivesCollections) {
    eval("h: make hash! [] repeat i 50 [append h i % 7] c: copy h");
    collector::collect();
    check({{"reduce [index? find h 6 index? find/last c 0 select c 5]", "[6 49 6]"}});
}
