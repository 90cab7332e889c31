// The text and conversion natives, through Kov text: what the Kov scripts cannot compare yet.
#include "tests/unit/natives_test_show.h"

using namespace kov;
using namespace kov::test;

using NativesText = Kov;

// money! values have no comparison of their own yet, so their digits are checked here.
TEST_F(NativesText, AsMoney) {
    static const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {"as-money 'USD 5", "USD$5.00000"},
        {"as-money 'usd -7", "-USD$7.00000"},
        {"as-money 'EUR -2147483648", "-EUR$2147483648.00000"},
        {"as-money 'EUR 0", "EUR$0.00000"},
    };
    for (const auto& c : cases) EXPECT_EQ(show(c.source), c.expected) << c.source;
}
