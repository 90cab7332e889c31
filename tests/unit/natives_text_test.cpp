// The text and conversion natives, through Kov text: what the Kov scripts cannot compare yet.
#include <string>

#include "runtime/datatypes/money.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

namespace {

using NativesText = Kov;

// money! has no text form of its own yet: its sign, currency and digits, written out here.
std::string money_text(const Cell& v) {
    if (!cell::is(v, T_money)) return mold(v);
    std::string s = money::negative_q(v) ? "-" : "";
    if (money::currency(v)) s += money::currency_code(money::currency(v));
    s += "$";
    std::string digits;
    for (uint32_t k = 1; k <= money::digit_count; ++k) digits += char('0' + money::get_digit(v, k));
    size_t first = digits.find_first_not_of('0');
    std::string whole = first < money::integer_digits ? digits.substr(first, money::integer_digits - first) : "0";
    return s + whole + "." + digits.substr(money::integer_digits);
}

TEST_F(NativesText, AsMoney) {
    static const Case cases[] = {
        {"as-money 'USD 5", "USD$5.00000"},
        {"as-money 'usd -7", "-USD$7.00000"},
        {"as-money 'EUR -2147483648", "-EUR$2147483648.00000"},
        {"as-money 'EUR 0", "EUR$0.00000"},
    };
    for (const auto& c : cases) EXPECT_EQ(evaluate(c.source, money_text), c.result) << c.source;
}

}  // namespace
