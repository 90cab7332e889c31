// The header a cell keeps when it changes type, which Kov code cannot see. handle! and triple!
// are tested in Kov, in tests/kov/handles-triples.kov.
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using Retype = Kov;

// A cell that becomes a value of another type keeps only the generic flags: the tuple
// length, the money sign and another type's private bits do not follow it.
TEST_F(Retype, CellsKeepOnlyGenericFlags) {
    uint8_t digits[money::digit_bytes] = {};
    Cell c = tuple::make(4, 0x04030201, 0, 0);
    c.header |= cell::new_line;
    money::make_at(c, false, 0, digits);
    EXPECT_EQ(c.header, uint32_t(T_money) | cell::new_line);
    money::make_at(c, true, 0, digits);
    uint8_t bytes[3] = {1, 2, 3};
    tuple::make_at(c, bytes, 3);
    EXPECT_EQ(c.header, uint32_t(T_tuple) | 3u << tuple::length_shift | cell::new_line);
    integer::make_at(c, 5);
    EXPECT_EQ(c.header, uint32_t(T_integer) | cell::new_line);
    Cell t = tuple::make(12, 0, 0, 0);
    triple::make_at(t, 1, 2, 3);
    EXPECT_EQ(t.header, uint32_t(T_triple));
}
