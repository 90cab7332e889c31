// time!: the comparison codes of integer! and float! meeting times, from C++. The cases
// written in Kov are in tests/kov/time.kov.
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/time.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using TimeTest = Kov;

// integer! and float! meet time! in comparison.
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
}
