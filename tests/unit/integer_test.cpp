// integer! and the unit types: what the language cannot reach (tests/kov/numbers.kov and
// tests/kov/unit-types.kov hold their behaviour).
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

using IntegerTest = Runtime;

// The natives' specs keep other datatypes away; the action still refuses them itself.
TEST_F(IntegerTest, ArithmeticRefusesAnOperandOfNoNumber) {
    using Fn = Cell* (*)(Cell*, Cell*);
    auto add = reinterpret_cast<Fn>(actions::table[T_integer][actions::slot::add]);
    Cell a = I(1), b = none::value;
    EXPECT_EQ(error_of([&] { add(&a, &b); }), "script/invalid-type");
}

// Truth with the unset check, which no native asks for yet: unset! raises instead of counting as true.
TEST_F(IntegerTest, TruthWithTheUnsetCheck) {
    EXPECT_FALSE(logic::true_value_q(none::value, true, nullptr));
    EXPECT_TRUE(logic::true_value_q(I(0), true, nullptr));
    EXPECT_EQ(error_of([&] { logic::true_value_q(unset::value, true, nullptr); }), "script/no-value");
    EXPECT_TRUE(logic::true_value_q(unset::value, false, nullptr));
}
