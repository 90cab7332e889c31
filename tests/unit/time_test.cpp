// time!, through Kov text: its text, making, arithmetic through float! with the time rules,
// fields by path and pick (negative times too), rounding, even?/odd?, and integer! and float!
// meeting times in comparison and rounding.
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/time.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using TimeTest = Kov;

namespace {

struct Case {
    const char* source;
    const char* result;
};

void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.result) << c.source;
}

}  // namespace

TEST_F(TimeTest, Text) {
    check({
        {"to time! 3723.5", "1:02:03.5"},
        {"to time! 0", "0:00:00"},
        {"to time! -90", "-0:01:30"},
        {"to time! 90000", "25:00:00"},
        {"to time! 0.5", "0:00:00.5"},
        {"to time! 5", "0:00:05"},
        {"to time! 1e-7", "0:00:00"},  // below the smallest seconds shown
        {"to time! 0.25", "0:00:00.25"},
        {"to time! 59.9999999", "0:01:00"},  // seconds that round to 60 carry
        {"to time! 3599.9999999", "1:00:00"},
        {"to time! -3599.9999999", "-1:00:00"},
        {"to time! 1e20", "27777777777777776:46:40"},
        {"1:00 / 0", "1.#INF"},
        {"-1:00 / 0", "-1.#INF"},
    });
}

TEST_F(TimeTest, Make) {
    check({
        {"to time! [1 2 3]", "1:02:03"},
        {"to time! [1 2 3.5]", "1:02:03.5"},
        {"to time! [-1 30 0]", "-1:30:00"},
        {"to time! [1 2]", "1:02:00"},
        {"to time! []", "0:00:00"},
        {"make time! [0 90]", "1:30:00"},
        {"to time! 90", "0:01:30"},
        {"to time! 50%", "0:00:00.5"},
        {"to time! 1:02", "1:02:00"},
        {"to time! \"1:02:03\"", "1:02:03"},
        {"to time! <1:02:03>", "1:02:03"},
        {"to time! [1 -2 0]", "error: script/bad-to-arg"},
        {"to time! [1 2 -3]", "error: script/bad-to-arg"},
        {"to time! [1 2 3 4]", "error: script/bad-to-arg"},
        {"to time! [1.5]", "error: script/bad-to-arg"},
        {"to time! [1 2 1.#INF]", "error: script/bad-to-arg"},
        {"to time! \"abc\"", "error: script/bad-to-arg"},
        {"to time! 1.2.3", "error: script/bad-to-arg"},
    });
}

TEST_F(TimeTest, Arithmetic) {
    check({
        {"1:00 + 30", "1:00:30"},
        {"30 + 1:00", "1:00:30"},
        {"1.5 + 1:00", "1:00:01.5"},
        {"1:00 - 2:00", "-1:00:00"},
        {"1:00 * 2.5", "2:30:00"},
        {"2 * 1:00", "2:00:00"},
        {"1:00 / 0:30", "2.0"},
        {"1:00 / 2", "0:30:00"},
        {"1:00 % 0:07", "0:04:00"},
        {"1:00 + 50%", "1:00:00.5"},
        {"absolute -1:00", "1:00:00"},
        {"negate 1:00", "-1:00:00"},
        {"1:00 * 1:00", "error: script/not-related"},
        {"0:00:01 + #\"a\"", "error: script/invalid-type"},
        {"1:00 and 1", "error: script/expect-arg"},
        {"power 1:00 2", "error: script/expect-arg"},
    });
}

TEST_F(TimeTest, Fields) {
    check({
        {"t: 1:02:03 reduce [t/hour t/minute t/second t/1 t/2 t/3]", "[1 2 3.0 1 2 3.0]"},
        {"t: -1:02:03 reduce [t/hour t/minute t/second]", "[-1 2 -3.0]"},
        {"t: 1:02:03 t/HOUR", "1"},
        {"t: 1:02:03 t/minute: 59 t", "1:59:03"},
        {"t: 1:02:03 t/hour: 5 t", "5:02:03"},
        {"t: 1:02:03 t/second: 4.5 t", "1:02:04.5"},
        {"t: 1:02:03 t/3: 10 t", "1:02:10"},
        // Writing back what a negative time reads leaves it as it is.
        {"t: -1:02:03 t/hour: t/hour t/minute: t/minute t/second: t/second t", "-1:02:03"},
        {"t: -1:02:03 t/minute: 59 t", "-1:59:03"},
        {"t: -1:02:03 t/hour: -2 t", "-2:02:03"},
        {"o: make object! [t: 1:02:03] o/t/hour: 5 o/t", "5:02:03"},
        {"t: 1:02:03 t/hour: 1.5", "error: script/invalid-arg"},
        {"t: 1:02:03 t/minute: \"a\"", "error: script/invalid-arg"},
        {"t: 1:02:03 t/second: none", "error: script/invalid-arg"},
        {"t: 1:02:03 t/4", "error: script/invalid-path"},
        {"t: 1:02:03 t/x", "error: script/invalid-path"},
        {"t: to time! 1e20 t/hour", "error: script/type-limit"},
        {"pick 1:02:03 'hour", "1"},
        {"pick 1:02:03 3", "3.0"},
        {"pick 1:02:03 4", "error: script/out-of-range"},
        {"pick 1:02:03 'x", "error: script/cannot-use"},
    });
}

TEST_F(TimeTest, RoundingAndParity) {
    check({
        {"round 1:02:03.6", "1:02:04"},
        {"round/to 1:02:07 0:00:15", "1:02:00"},
        {"round/down 1:02:03.6", "1:02:03"},
        {"round/to 1:02:03 1.5", "1:02:03"},
        {"round/to 1:02:07 10", "1:02:10"},
        {"round/even 0:00:02.5", "0:00:02"},
        {"round/to 1000000:00 1", "1000000:00:00"},  // beyond the 32-bit seconds
        {"round/to 1:00 $1", "error: script/not-related"},
        {"even? 0:00:02", "true"},
        {"odd? 0:00:03", "true"},
        {"even? 0:01:00", "true"},
        {"odd? -0:00:03", "true"},
        {"odd? 0:00:02.9999999", "true"},  // the nudge: just below 3 counts as 3
        {"even? 1:00 / 0", "error: script/invalid-arg"},
    });
}

// integer! and float! meet time! in comparison and rounding.
TEST_F(TimeTest, WithIntegerAndFloat) {
    struct Row {
        Cell a, b;
        int32_t op;
        int32_t result;
    } rows[] = {
        {integer::make(3600), time::make(3600), actions::equal, 0},
        {integer::make(3600), time::make(3600), actions::strict_equal, 1},
        {integer::make(59), time::make(60), actions::lesser, -1},
        {time::make(60), integer::make(59), actions::greater, 1},
        {float_::make(60.5), time::make(60), actions::greater, 1},
        {time::make(60), time::make(60), actions::same, 0},
    };
    for (Row& r : rows) EXPECT_EQ(actions::compare_direct(r.a, r.b, r.op), r.result) << "row " << (&r - rows);
    check({
        {"round/to 100 0:01", "0:02:00"},
        {"round/to 100.0 0:01", "0:02:00"},
        {"sort [0:02 0:01:30 -1:00]", "[-1:00:00 0:01:30 0:02:00]"},
        {"1:00 = 3600", "true"},
        {"3600 = 1:00", "true"},
        {"59 < 0:01", "true"},
        {"1:00 == 3600", "false"},
    });
}
