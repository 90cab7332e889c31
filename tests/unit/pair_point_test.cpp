// pair!, point2D! and point3D!: negation's zero and the comparison codes, from C++. The cases
// written in Kov are in tests/kov/pairs-points.kov.
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
}
