// tuple!: complement past the length, and the constructors, from C++. The cases written in
// Kov are in tests/kov/tuples.kov.
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using TupleTest = Kov;

namespace {

Cell T(std::initializer_list<uint8_t> bytes) {
    Cell c{T_none, 0, 0, 0};
    return tuple::make_at(c, bytes.begin(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace

TEST_F(TupleTest, ComplementAndZero) {
    Cell t = T({0, 255, 15, 1});
    actions::lookup<actions::slot::complement>(T_tuple)(&t);
    EXPECT_EQ(tuple::length(t), 4u);
    EXPECT_EQ(tuple::byte_at(t, 0), 255);
    EXPECT_EQ(tuple::byte_at(t, 2), 240);
    EXPECT_EQ(tuple::byte_at(t, 3), 254);
    EXPECT_EQ(tuple::byte_at(t, 4), 0);  // past the length nothing changes

    EXPECT_TRUE(tuple::all_zero_q(T({0, 0, 0, 0})));
    EXPECT_FALSE(tuple::all_zero_q(T({0, 0, 0, 1})));
}

TEST_F(TupleTest, Constructors) {
    Cell c{T_integer | cell::new_line, 0, 0, 0};
    tuple::make_rgba(c, 1, 2, 3, -1);
    EXPECT_EQ(c.header, T_tuple | 3u << tuple::length_shift);
    tuple::make_rgba(c, 1, 2, 3, 4);
    EXPECT_EQ(tuple::length(c), 4u);
    EXPECT_EQ(tuple::byte_at(c, 3), 4);

    int32_t values[] = {258, 7};
    stack::Mark mark;
    Cell* p = tuple::push_from_ints(2, values);
    EXPECT_EQ(tuple::length(*p), 3u);
    EXPECT_EQ(tuple::byte_at(*p, 0), 2);  // the low byte
    EXPECT_EQ(tuple::byte_at(*p, 1), 7);
    EXPECT_EQ(tuple::byte_at(*p, 2), 0);
}
