// char! through its action slots: what the language cannot reach (tests/kov/chars.kov holds
// its arithmetic, conversions, text and escapes).
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

using CharTest = Runtime;

namespace {

Cell C(int32_t cp) { return char_::make(cp); }

}  // namespace

// What the natives' specs keep from the actions: char! has no negate nor round, and refuses
// none itself.
TEST_F(CharTest, ActionsItHasNot) {
    Cell a = C('a'), n = none::value;
    using Fn = Cell* (*)(Cell*, Cell*);
    auto add = reinterpret_cast<Fn>(actions::table[T_char_][actions::slot::add]);
    EXPECT_EQ(error_of([&] { add(&a, &n); }), "script/invalid-type");
    EXPECT_TRUE(actions::lookup<actions::slot::negate>(T_char_) == nullptr);
    EXPECT_TRUE(actions::lookup<actions::slot::round>(T_char_) == nullptr);
}

// The part limit drops by 4 whatever the escape's length; form by 1.
TEST_F(CharTest, PartLimitOfMoldAndForm) {
    Cell* out = string::push(8, 1);
    Cell v = C(30);
    EXPECT_EQ(actions::lookup<actions::slot::mold>(T_char_)(&v, out, MoldArgs{}, 10), 6);
    EXPECT_EQ(actions::lookup<actions::slot::form>(T_char_)(&v, out, nullptr, 10), 9);
}

TEST_F(CharTest, FormWidensTheOutput) {
    Cell* out = str("ab");
    Cell v = C(0x1F600);
    actions::lookup<actions::slot::form>(T_char_)(&v, out, nullptr, 10);
    EXPECT_EQ(unit_of(*out), 4u);
    EXPECT_EQ(text(*out), "ab\U0001F600");
}
