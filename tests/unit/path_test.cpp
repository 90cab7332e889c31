// paren! and the path types: the room make reserves, the slots they leave empty, and a path
// step with case (tests/kov/paths.kov holds their behaviour).
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

namespace {

// The collector runs while each test runs (at every allocation in the gc-stress build).
struct PathTest : CollectingRuntime {};


// A value of the type holding the cells, on the value stack.
Cell* of(uint32_t type, std::initializer_list<Cell> values) {
    Cell* b = block::push_new(static_cast<int32_t>(values.size()));
    for (const Cell& v : values) block::rs_append(*b, v);
    cell::set_type(*b, type);
    return b;
}

}  // namespace

TEST_F(PathTest, MakeReservesTheSize) {
    Cell proto{T_datatype, T_path, 0, 0};
    Cell size = I(3);
    EXPECT_EQ(memory::buffer(path::make(&proto, &size, T_path)->w2)->size, 48u);
}

TEST_F(PathTest, SlotsLeftEmpty) {
    for (uint32_t t : {T_path, T_lit_path, T_set_path, T_get_path}) {
        EXPECT_EQ(actions::lookup<actions::slot::sort>(t), nullptr);
        EXPECT_EQ(actions::lookup<actions::slot::trim>(t), nullptr);
        EXPECT_EQ(actions::lookup<actions::slot::random>(t), nullptr);
        EXPECT_NE(actions::lookup<actions::slot::append>(t), nullptr);
    }
    EXPECT_EQ(actions::lookup<actions::slot::trim>(T_paren), nullptr);
    EXPECT_NE(actions::lookup<actions::slot::sort>(T_paren), nullptr);
    EXPECT_EQ(actions::lookup<actions::slot::compare>(T_get_path), actions::lookup<actions::slot::compare>(T_block));
    // A path and a lit-path compare only under the parse codes.
    Cell* a = of(T_path, {I(1)});
    Cell* b = of(T_lit_path, {I(1)});
    EXPECT_EQ(compare_raw(*a, *b, actions::equal), actions::not_comparable);
    EXPECT_EQ(compare_raw(*a, *b, actions::parse_loose), 0);
}

// A step with case, which no path written in Kov asks for.
TEST_F(PathTest, StepsIntoBlocksWithCase) {
    Cell* b = of(T_block, {word::load("a"), I(1), word::load("b"), I(2)});
    auto get = [&](Cell element, bool case_) {
        Cell parent = *b;
        PathStep step{.element = &element, .case_ = case_, .get = true};
        return mold(*block::eval_path(&parent, step));
    };
    EXPECT_EQ(get(word::load("B"), false), "2");
    EXPECT_EQ(get(word::load("B"), true), "none");
}
