// money!: the packed digit layout, the sign that zero ignores, and even? and odd?, which no
// Kov call reaches (their action spec takes no money!). Behaviour is tested in
// tests/kov/money.kov.
#include <cstring>

#include "runtime/datatypes/money.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using MoneyTest = Kov;

// Digit k sits in byte (k - 1) / 2 of the digit area, odd digits in the high nibble; the
// magnitude reads and writes the same layout.
TEST_F(MoneyTest, DigitLayout) {
    Cell m = money::make_amount(true, 3, money::Amount(1234567));  // 12.34567
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&m);
    EXPECT_EQ(bytes[4], 3);  // the currency index
    EXPECT_EQ(bytes[5 + 7], 0x01);  // digits 15 and 16
    EXPECT_EQ(bytes[5 + 8], 0x23);  // digits 17 (units) and 18 (tenths)
    EXPECT_EQ(bytes[5 + 10], 0x67);  // digits 21 and 22
    EXPECT_EQ(money::get_digit(m, 17), 2u);
    EXPECT_EQ(money::significant_digits(m), 7u);
    EXPECT_EQ(money::magnitude(m), money::Amount(1234567));
    EXPECT_TRUE(m.header & money::sign_bit);
}

// A negative sign over zero digits is zero: its sign is 0 and it equals zero.
TEST_F(MoneyTest, NegativeZeroIsZero) {
    Cell z = money::make_amount(true, 0, 0);
    EXPECT_TRUE(money::zero_q(z));
    EXPECT_EQ(money::sign_of(z), 0);
    Cell plain = money::from_int32(0);
    EXPECT_EQ(money::compare_amounts(z, plain), 0);
    EXPECT_EQ(money::significant_digits(z), 1u);
}

TEST_F(MoneyTest, EvenAndOddByTheUnitsDigit) {
    struct Row {
        money::Amount amount;
        bool negative;
        bool even;
    } rows[] = {{250000, false, true}, {300000, false, false}, {199000, true, false}, {1000000, false, true}, {0, false, true}};
    auto even = actions::lookup<actions::slot::even_q>(T_money);
    auto odd = actions::lookup<actions::slot::odd_q>(T_money);
    for (auto& r : rows) {
        Cell m = money::make_amount(r.negative, 0, r.amount);
        EXPECT_EQ(even(&m), r.even) << "row " << (&r - rows);
        EXPECT_EQ(odd(&m), !r.even) << "row " << (&r - rows);
    }
}

// The 22 significant digits of a float give the money value; non-strict conversion drops
// what lies past the fifth decimal.
TEST_F(MoneyTest, FromFloatDigits) {
    EXPECT_EQ(money::magnitude(money::from_float(0.1, false)), money::Amount(10000));
    EXPECT_EQ(money::magnitude(money::from_float(99999999999999984.0, false)),
              money::Amount(99999999999999984ULL) * 100000);
    EXPECT_EQ(money::magnitude(money::from_float(1e-5, false)), money::Amount(1));
    EXPECT_TRUE(money::negative_q(money::from_float(-2.5, true)));
    EXPECT_EQ(money::to_float(money::from_float(1234567.125, true)), 1234567.125);
}
