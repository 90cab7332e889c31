// pair!, point2D! and point3D!, through Kov text: arithmetic (a pair falls over into
// point2D! when a component would not be an integer), mixed operands on both sides, making,
// text, paths, pick, rounding and comparison.
#include <bit>
#include <limits>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using PairPointTest = Kov;

namespace {

struct Case {
    const char* source;
    const char* result;
};

void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.result) << c.source;
}

}  // namespace

TEST_F(PairPointTest, PairArithmetic) {
    check({
        {"1x2 + 3x4", "4x6"},
        {"1x2 * 3", "3x6"},
        {"7x9 % 2", "1x1"},
        {"-7x7 % 2", "-1x1"},
        {"6x12 and 3", "2x0"},
        {"6x12 or 1x1", "7x13"},
        {"6x12 xor 2", "4x14"},
        {"6x8 / 2", "3x4"},
        // A component that is not an integer sends the whole operation to point2D!.
        {"5x6 / 2", "(2.5, 3)"},
        {"6x5 / 2", "(3, 2.5)"},
        {"2147483647x0 + 1x0", "(2.147484e9, 0)"},
        {"0x-2147483648 - 1", "(-1, -2.147484e9)"},
        {"65536x1 * 65536", "(4.294967e9, 65536)"},
        // Float and percent factors and divisors give points; other operations truncate.
        {"1x1 * 1.5", "(1.5, 1.5)"},
        {"1x2 * 50%", "(0.5, 1)"},
        {"3x4 / 2.0", "(1.5, 2)"},
        {"1x2 / 0.0", "(1.#INF, 1.#INF)"},
        {"3x4 + 1.9", "4x5"},
        {"1x2 - 3.9", "-2x-1"},
        {"0x0 + 1e10", "(1e10, 1e10)"},  // no 32-bit operand: done on points
        {"1x2 + (0.5, 0.5)", "(1.5, 2.5)"},
        // Errors.
        {"1x2 / 0", "error: math/zero-divide"},
        {"1x2 % 0x1", "error: math/zero-divide"},
        {"1x2 / 2x0", "error: math/zero-divide"},  // also when x alone would leave integers
        {"1x2 % 0.5", "error: math/zero-divide"},  // the truncated operand is 0
        {"1x2 + 1.#INF", "error: script/invalid-arg"},
        {"1x2 * 1.#NaN", "error: script/invalid-arg"},
        {"1x2 / 1.#NaN", "error: script/invalid-arg"},
        {"1x2 + 1.2.3", "error: script/invalid-type"},
        {"1x2 + (1, 2, 3)", "error: script/invalid-type"},
    });
}

TEST_F(PairPointTest, NumberOnTheLeft) {
    check({
        {"5 + 1x2", "6x7"},
        {"5 - 1x2", "4x3"},
        {"2 * 3x4", "6x8"},
        {"0 - -2147483648x1", "(2.147484e9, -1)"},  // the minimum has no 32-bit negation
        {"2.5 + 1x2", "3x4"},
        {"50% * 2x4", "(1, 2)"},
        {"5 - (1, 2)", "(4, 3)"},
        {"2 * (1, 2, 3)", "(2, 4, 6)"},
        {"1 - (1, 2, 3)", "(0, -1, -2)"},
        {"5 / 1x2", "error: script/not-related"},
        {"5 % 2x3", "error: script/not-related"},
        {"5 / (1, 2)", "error: script/not-related"},
        {"2.5 - 1x2", "error: script/not-related"},
        {"2.5 / (1, 2)", "error: script/not-related"},
        {"1:00 + 1x2", "error: script/invalid-type"},
    });
}

TEST_F(PairPointTest, PairMakeAndText) {
    check({
        {"make pair! 3", "3x3"},
        {"to pair! -2.9", "-2x-2"},
        {"make pair! [1.9 -1.9]", "1x-1"},
        {"make pair! [1 2 3]", "1x2"},
        {"to pair! (1.5, -2.5)", "1x-2"},
        {"to pair! \"3x4\"", "3x4"},
        {"to pair! 5x6", "5x6"},
        {"-2147483648x2147483647", "-2147483648x2147483647"},
        {"10x-20", "10x-20"},
        {"make pair! [1]", "error: syntax/malconstruct"},
        {"make pair! [1 \"a\"]", "error: syntax/malconstruct"},
        {"to pair! (1.#INF, 0)", "error: script/invalid-arg"},
        {"to pair! 1e10", "error: script/type-limit"},
        {"to pair! \"1.2.3\"", "error: script/bad-to-arg"},
        {"to pair! \"\"", "error: script/bad-to-arg"},
        {"to pair! 1.2.3", "error: script/bad-to-arg"},
    });
}

TEST_F(PairPointTest, PairPathsPickAndUnary) {
    check({
        {"p: 3x4 reduce [p/x p/y p/1 p/2 p/X]", "[3 4 3 4 3]"},
        {"p: 3x4 p/x: 7 p", "7x4"},
        {"p: 3x4 p/2: -1 p", "3x-1"},
        {"o: make object! [size: 1x2] o/size/y: 9 o/size", "1x9"},
        // The holder's change hook sees the old and the new pair.
        {"o: make object! [size: 1x2 log: [] on-change*: func [w old new] [append log reduce [w old new]]] "
         "o/size/x: 5 o/log",
         "[size 1x2 5x2]"},
        {"p: 3x4 p/3", "error: script/invalid-path"},
        {"p: 3x4 p/z", "error: script/invalid-path"},
        {"p: 3x4 p/x: 1.5", "error: script/invalid-type"},
        {"pick 3x4 1", "3"},
        {"pick 3x4 'y", "4"},
        {"pick 3x4 3", "error: script/out-of-range"},
        {"pick 3x4 'z", "error: script/cannot-use"},
        {"reverse 3x4", "4x3"},
        {"negate 3x-4", "-3x4"},
        {"negate -2147483648x1", "-2147483648x-1"},  // two's complement
        {"absolute -3x4", "3x4"},
        {"absolute -2147483648x1", "error: math/overflow"},
        {"round/to 17x18 5", "15x20"},
        {"round/to 17x18 5x10", "15x20"},
        {"round/down/to 17x19 5", "15x15"},
        {"round/to 3x4 2.5", "2x5"},  // a float result truncated
        {"round/to 3x4 $1", "error: script/not-related"},
    });
}

// A path assignment to a component reaches the pair where it is held.
TEST_F(PairPointTest, PathAssignmentReachesTheHolder) {
    check({
        {"b: [1x2 3x4] b/1/y: 9 b", "[1x9 3x4]"},
        {"c: [[1x2]] c/1/1/x: 7 c", "[[7x2]]"},
        {"o: context [p: 1x1] o/p/x: 5 o/p", "5x1"},
    });
}

TEST_F(PairPointTest, PointArithmetic) {
    check({
        {"(1, 2) + (0.5, 0.5)", "(1.5, 2.5)"},
        {"(1, 2) * 50%", "(0.5, 1)"},
        {"(1, 2) - 3x4", "(-2, -2)"},
        {"(1.5, 2) + 1", "(2.5, 3)"},
        {"(1, 2) * 2x3", "(2, 6)"},
        {"(10, 20) % 3", "(1, 2)"},
        {"(1, 2) / 0", "(1.#INF, 1.#INF)"},
        {"(3, -4) / 0.0", "(1.#INF, -1.#INF)"},
        {"(1, 2) % 0", "(1.#NaN, 1.#NaN)"},
        {"(1, 2) * 1e39", "(1.#INF, 1.#INF)"},  // beyond the float range
        {"(0.1, 0) + 0.2", "(0.3, 0.2)"},
        {"(1, 2, 3) + (1, 1, 1)", "(2, 3, 4)"},
        {"(1, 2, 3) * 1.5", "(1.5, 3, 4.5)"},
        {"(1, 2, 3) + 1x2", "error: script/invalid-type"},
        {"(1, 2, 3) + (1, 2)", "error: script/invalid-type"},
        {"(1, 2) + (1, 2, 3)", "error: script/invalid-type"},
        {"(1, 2) + \"a\"", "error: script/expect-arg"},
    });
}

TEST_F(PairPointTest, PointMakeAndText) {
    check({
        {"make point2D! [1 2.5]", "(1, 2.5)"},
        {"make point2D! 3", "(3, 3)"},
        {"make point2D! 0.1", "(0.1, 0.1)"},
        {"to point2D! 3x-4", "(3, -4)"},
        {"to point2D! \"(1, 2)\"", "(1, 2)"},
        {"make point3D! [1 2 3.5]", "(1, 2, 3.5)"},
        {"to point3D! 1x2", "(1, 2, 0)"},
        {"to point3D! (1, 2)", "(1, 2, 0)"},
        {"to point3D! 2", "(2, 2, 2)"},
        {"(1.0e-20, 123456789)", "(0, 1.234568e8)"},
        {"make point2D! [1]", "error: syntax/malconstruct"},
        {"make point3D! [1 2]", "error: syntax/malconstruct"},
        {"to point2D! \"1x2\"", "error: script/bad-to-arg"},
        {"to point2D! (1, 2, 3)", "error: script/bad-to-arg"},
        {"to point3D! \"(1, 2)\"", "error: script/bad-to-arg"},
        {"to point2D! 1.2.3", "error: script/bad-to-arg"},
    });
}

TEST_F(PairPointTest, PointPathsPickAndUnary) {
    check({
        {"p: (1, 2) reduce [p/x p/2 p/Y]", "[1.0 2.0 2.0]"},
        {"p: (1, 2) p/x: 5 p", "(5, 2)"},
        {"p: (1, 2, 3) p/z: 0.5 p", "(1, 2, 0.5)"},
        {"o: make object! [at: (1, 2)] o/at/y: 0.25 o/at", "(1, 0.25)"},
        {"p: (1, 2) p/3", "error: script/invalid-path"},
        {"p: (1, 2) p/z", "error: script/invalid-path"},
        {"p: (1, 2) p/y: \"a\"", "error: script/invalid-type"},
        {"pick (1, 2) 2", "2.0"},
        {"pick (1, 2, 3) 'z", "3.0"},
        {"pick (1, 2) 3", "error: script/out-of-range"},
        {"pick (1, 2) 'z", "error: script/cannot-use"},
        {"reverse (1, 2)", "(2, 1)"},
        {"reverse (1, 2, 3)", "(3, 2, 1)"},
        {"absolute (-1, 2)", "(1, 2)"},
        {"negate (1, -2, 0)", "(-1, 2, 0)"},
        {"round (1.4, 2.6)", "(1, 3)"},
        {"round/to (1.4, 2.6) 0.5", "(1.5, 2.5)"},
        {"round/to (17, 18) 5x10", "(15, 20)"},
        {"round/down (-1.5, 2.5, 3.9)", "(-1, 2, 3)"},
        {"round/to (1, 2) $1", "error: script/not-related"},
    });
}

TEST_F(PairPointTest, NegatedZeroStaysPositive) {
    Cell p = point2d::make(0.0f, 1.0f);
    actions::lookup<actions::slot::negate>(T_point2d)(&p);
    EXPECT_EQ(p.w1, 0u);  // +0.0, not -0.0
    EXPECT_EQ(point2d::y(p), -1.0f);
}

TEST_F(PairPointTest, Comparison) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Row {
        Cell a, b;
        int32_t op;
        int32_t result;
    } rows[] = {
        {pair::make(1, 9), pair::make(2, 0), actions::lesser, -1},
        {pair::make(2, 0), pair::make(2, 1), actions::lesser, -1},
        {pair::make(2, 1), pair::make(2, 1), actions::equal, 0},
        {pair::make(-1, 0), pair::make(1, 0), actions::sort_order, -1},
        {pair::make(1, 2), point2d::make(1, 2), actions::equal, 0},
        {point2d::make(1, 2), pair::make(1, 2), actions::equal, 0},
        {pair::make(1, 2), integer::make(1), actions::equal, actions::not_comparable},
        {point2d::make(1, 5), point2d::make(2, 0), actions::lesser, -1},
        {point2d::make(1, 5), point2d::make(1, 4), actions::greater, 1},
        {point2d::make(nan, 1), point2d::make(nan, 1), actions::equal, 1},
        {point2d::make(nan, 1), point2d::make(nan, 1), actions::same, 0},
        {point2d::make(0.0f, 1), point2d::make(-0.0f, 1), actions::strict_equal, 0},
        {point2d::make(0.0f, 1), point2d::make(-0.0f, 1), actions::same, 1},
        {point2d::make(1, 2), point3d::make(1, 2, 0), actions::equal, actions::not_comparable},
        {point3d::make(1, 2, 3), point3d::make(1, 2, 4), actions::lesser, -1},
        {point3d::make(1, 2, 3), point3d::make(1, 2, 3), actions::equal, 0},
        {point3d::make(1, 2, 3), point2d::make(1, 2), actions::equal, actions::not_comparable},
    };
    for (Row& r : rows) EXPECT_EQ(actions::compare_direct(r.a, r.b, r.op), r.result) << "row " << (&r - rows);
    check({
        {"sort [2x0 1x9 1x2]", "[1x2 1x9 2x0]"},
        {"sort [(2, 0) (1, 5) (1, 2)]", "[(1, 2) (1, 5) (2, 0)]"},
        {"1x9 < 2x0", "true"},
        {"(1, 2) = 1x2", "true"},
        {"1x2 = (1, 2)", "true"},
        {"1x2 == 1x2", "true"},
        {"(1, 2, 3) = (1, 2, 3)", "true"},
        {"1x2 < \"a\"", "error: script/invalid-compare"},
    });
}
