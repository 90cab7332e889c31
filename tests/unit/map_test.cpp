// map!: the comparison codes, key normalisation as stored, and a collection between making
// and reading, from C++. The cases written in Kov are in tests/kov/maps.kov.
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using MapTest = Kov;

namespace {

const Cell* pairs(const Cell& m) { return reinterpret_cast<const Cell*>(memory::buffer(m.w2)->head_ptr()); }

}  // namespace

// Keys are normalised when stored: word keys become set-words, series keys are copies.
TEST_F(MapTest, KeyNormalisation) {
    eval("s: next \"xab\" m: make map! [] put m s 1 put m 'w 2 put m quote :g 3");
    Cell m = global("m");
    Cell s = global("s");
    const Cell* p = pairs(m);
    EXPECT_EQ(cell::type(p[0]), T_string);
    EXPECT_NE(p[0].w2, s.w2);
    EXPECT_EQ(p[0].w1, 0u);
    EXPECT_EQ(text(p[0]), "ab");
    EXPECT_EQ(p[2].header, uint32_t(T_set_word));
    EXPECT_EQ(p[4].header, uint32_t(T_set_word));
    EXPECT_EQ(map::size(m), 3u);
    EXPECT_TRUE(map::key_type_q(T_date));
    EXPECT_FALSE(map::key_type_q(T_block));
    EXPECT_FALSE(map::key_type_q(T_none));
    Cell key = Cell{T_logic, 1, 0, 0};
    EXPECT_EQ(error_of([&] { map::normalise_key(key, nullptr); }), "script/invalid-path");
}

