// bitset!: the owner a bitset is told of, the set operation with no operator of its own, and
// bits surviving an explicit collection, from C++. The cases written in Kov are in
// tests/kov/bitsets.kov.
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using BitsetTest = Kov;


namespace {
Cell bits(const char* spec) {
    eval(std::string("t: make bitset! ") + spec);
    return global("t");
}
std::string combined(const char* a, const char* b, int32_t op) {
    Cell* x = stack::push(bits(a));
    Cell* y = stack::push(bits(b));
    return mold(*bitset::do_set_op(x, y, op));
}
}  // namespace

// Operation codes: 8 unique, 9 union.
TEST_F(BitsetTest, SetOperationCodes) {
    // Unique has no operator of its own: the first set as it is.
    EXPECT_EQ(combined("#{F0}", "#{3CFF}", 8), "make bitset! #{F0}");
    Cell* x = stack::push(bits("8"));
    Cell* n = stack::push(integer::make(1));
    EXPECT_EQ(error_of([&] { bitset::do_set_op(x, n, 9); }), "script/invalid-type");
}

