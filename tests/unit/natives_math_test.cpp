// The comparison and math natives, through Kov text.
#include "tests/unit/natives_test_show.h"

using namespace kov;
using namespace kov::test;

using NativesMath = Kov;

struct Case {
    const char* source;
    const char* expected;
};

static void check(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(show(cases[i].source), cases[i].expected) << cases[i].source;
}
#define CHECK_CASES(table) check(table, sizeof table / sizeof table[0])

TEST_F(NativesMath, Comparisons) {
    static const Case cases[] = {
        {"equal? 1 1.0", "true"},
        {"not-equal? 1 2", "true"},
        {"strict-equal? 1 1.0", "false"},
        {"strict-equal? 1 1", "true"},
        {"lesser? 1 2", "true"},
        {"lesser? 2 2", "false"},
        {"greater? 3 2", "true"},
        {"lesser-or-equal? 2 2", "true"},
        {"greater-or-equal? 1 2", "false"},
        // Values that cannot be compared are unequal, and have no order.
        {"equal? 1 'a", "false"},
        {"not-equal? 1 'a", "true"},
        {"lesser? 1 'a", "error: script/invalid-compare"},
        // Any type is taken, unset! included.
        {"equal? () ()", "true"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesMath, SameIdentity) {
    static const Case cases[] = {
        {"same? \"a\" \"a\"", "false"},
        {"s: \"a\" same? s s", "true"},
        {"same? [a] [a]", "false"},
        {"b: [a b] same? b b", "true"},
        {"b: [a b] same? b next b", "false"},
        {"same? 1 1.0", "false"},
        {"same? 1 1", "true"},
        {"same? 0.1 0.1", "true"},
        {"same? none none", "true"},
        {"same? 'a 'a", "true"},
        {"same? 1x2 1x2", "true"},
        {"same? 1x2 1x3", "false"},
        // Tuples: the same length and the same bytes.
        {"same? 1.2.3 1.2.3", "true"},
        {"same? 1.2.3 1.2.3.0", "false"},
        // Money: the same amount (zero whatever its sign) and agreeing currencies.
        {"same? $1.50 $1.5", "true"},
        {"same? $0 -$0", "true"},
        {"same? $1 -$1", "false"},
        {"same? USD$1 $1", "true"},
        {"same? USD$1 EUR$1", "false"},
        {"same? :if :if", "true"},
        {"same? :if :unless", "false"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesMath, NotAndTypes) {
    static const Case cases[] = {
        {"not none", "true"},
        {"not false", "true"},
        {"not 0", "false"},
        {"not ()", "false"},
        {"type? 1", "integer!"},
        {"type? type? 1", "datatype!"},
        {"type? ()", "unset!"},
        {"type? type?/word 1", "word!"},
        {"type?/word 1.5", "float!"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesMath, MaxMin) {
    static const Case cases[] = {
        {"max 1 2", "2"},
        {"min 1 2", "1"},
        // On a tie max keeps the first value, min takes the second.
        {"max 1 1.0", "1"},
        {"min 1 1.0", "1.0"},
        // A NaN number wins over any number, from either side.
        {"max 1.#NaN 5", "1.#NaN"},
        {"min 5 1.#NaN", "1.#NaN"},
        {"max 50% 1.#NaN", "1.#NaN"},
        // The compound value comes first and is compared element by element.
        {"max 1x5 3", "3x5"},
        {"min 2 3x1", "2x1"},
        {"max 1x5 3x2", "3x5"},
        {"min 1x5 3x2", "1x2"},
        {"max 1x5 3.0", "3x5"},
        {"max 1x5 2.5", "(2.5, 5.0)"},
        {"max 1x5 1e10", "error: script/type-limit"},
        {"max 1x5 1.#INF", "error: script/type-limit"},
        {"max (1.5, 2.0) 1.75", "(1.75, 2.0)"},
        {"min (1.5, 2.0) (1.0, 3.0)", "(1.0, 2.0)"},
        {"max (1.0, 2.0, 3.0) 2", "(2.0, 2.0, 3.0)"},
        {"max 1.2.3 2", "2.2.3"},
        {"min 1.2.3 2", "1.2.2"},
        {"max 1.2.3 300", "255.255.255"},
        {"min 1.2.3 -1", "0.0.0"},
        {"max 1.2.3 2.5", "2.2.3"},
        {"max 1.2.3 0.0.0.9", "1.2.3.9"},
        {"min 5.6.7 9.1.9", "5.1.7"},
        // Anything else goes through the datatype's comparison.
        {"max 1 \"a\"", "error: script/invalid-compare"},
        {"max 1x2 (1.0, 2.0)", "error: script/invalid-compare"},
        {"max [a] [b]", "[b]"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesMath, SignTests) {
    static const Case cases[] = {
        {"negative? -1", "true"},
        {"negative? 0", "false"},
        {"positive? 2", "true"},
        {"positive? -0.5", "false"},
        {"negative? -1%", "true"},
        {"positive? 0:00:01", "true"},
        {"negative? -$1", "true"},
        {"negative? -$0", "false"},
        {"positive? $0.00001", "true"},
        {"sign? -5", "-1"},
        {"sign? 0.0", "0"},
        {"sign? 7", "1"},
        {"sign? -$2", "-1"},
        {"sign? 1.#NaN", "0"},
        {"negative? 'a", "error: script/expect-arg"},
        {"zero? 0", "true"},
        {"zero? -0.0", "true"},
        {"zero? 0.1", "false"},
        {"zero? $0", "true"},
        {"zero? #\"^@\"", "true"},
        {"zero? #\"a\"", "false"},
        {"zero? 0:00", "true"},
        {"zero? 0x0", "true"},
        {"zero? 0x1", "false"},
        {"zero? (0.0, 0.0)", "true"},
        {"zero? (0.0, 0.0, 1.0)", "false"},
        {"zero? 0.0.0", "true"},
        {"zero? 0.0.1", "false"},
        {"NaN? 1.#NaN", "true"},
        {"NaN? 1.5", "false"},
        {"NaN? 1", "false"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesMath, ShiftAndHex) {
    static const Case cases[] = {
        {"shift -8 1", "-4"},
        {"shift/logical -8 1", "2147483644"},
        {"shift 1 40", "0"},
        {"shift -1 40", "-1"},
        {"shift -1 32", "-1"},
        {"shift/logical -1 32", "0"},
        {"shift/left 1 31", "-2147483648"},
        {"shift/left 1 32", "0"},
        {"shift/left 3 2", "12"},
        {"shift 8 -1", "8"},
        // /left wins over /logical.
        {"shift/left/logical 1 4", "16"},
        {"to-hex 255", "#000000FF"},
        {"to-hex -1", "#FFFFFFFF"},
        {"to-hex/size 255 2", "#FF"},
        {"to-hex/size 255 10", "#000000FF"},
        {"to-hex/size 1 0", "error: script/invalid-arg"},
        {"to-hex/size 1 -3", "error: script/invalid-arg"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesMath, Trigonometry) {
    static const Case cases[] = {
        {"sine 180", "0.0"},
        {"sine 0", "0.0"},
        {"sine 90", "1.0"},
        {"cosine 90", "0.0"},
        {"cosine 0", "1.0"},
        {"cosine 180", "-1.0"},
        {"tangent 90", "1.#INF"},
        {"tangent -90", "-1.#INF"},
        {"tangent 270", "-1.#INF"},
        {"tangent 0", "0.0"},
        {"equal? sine 390 sine 30", "true"},
        {"equal? sine 150 sine 30", "true"},
        {"equal? sine -210 sine 150", "true"},
        {"sine/radians 0", "0.0"},
        {"cosine/radians 0", "1.0"},
        {"arcsine 1", "90.0"},
        {"arccosine 1", "0.0"},
        {"arccosine -1", "180.0"},
        {"arctangent 0", "0.0"},
        {"arcsine/radians 0", "0.0"},
        {"arctangent2 1 1", "45.0"},
        {"arctangent2 0 -1", "180.0"},
        {"arctangent2/radians 0 1", "0.0"},
        {"NaN? arcsine 2", "true"},
        {"sine 1.#NaN", "1.#NaN"},
    };
    CHECK_CASES(cases);
}

TEST_F(NativesMath, Logarithms) {
    static const Case cases[] = {
        {"log-2 8", "3.0"},
        {"log-2 1", "0.0"},
        {"log-10 1000", "3.0"},
        {"log-e 1", "0.0"},
        {"log-e 0", "-1.#INF"},
        {"exp 0", "1.0"},
        {"exp 1", "2.718281828459045"},
        {"square-root 16", "4.0"},
        {"square-root 25%", "0.5"},
        {"square-root -1", "1.#NaN"},
        {"log-10 -1", "1.#NaN"},
        {"square-root 1.#INF", "1.#INF"},
    };
    CHECK_CASES(cases);
}
