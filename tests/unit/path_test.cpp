// paren! and the path types: their text, making, the slots they leave empty, and path steps
// into blocks.
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

TEST_F(PathTest, Molds) {
    Cell* inner = of(T_paren, {I(2), I(3)});
    struct Row {
        uint32_t type;
        const char* mold;
        const char* form;
    } rows[] = {
        {T_path, "1/(2 3)/4", "1/2 3/4"},
        {T_lit_path, "'1/(2 3)/4", "1/2 3/4"},
        {T_set_path, "1/(2 3)/4:", "1/2 3/4"},
        {T_get_path, ":1/(2 3)/4", "1/2 3/4"},
        {T_paren, "(1 (2 3) 4)", "1 2 3 4"},
    };
    for (auto& r : rows) {
        Cell* v = of(r.type, {I(1), *inner, I(4)});
        EXPECT_EQ(mold(*v), r.mold) << r.mold;
        EXPECT_EQ(form(*v), r.form) << r.mold;
    }
    // Words, as the lexer writes paths.
    struct Words {
        uint32_t type;
        const char* mold;
    } words[] = {
        {T_path, "a/b/1"}, {T_set_path, "a/b/1:"}, {T_get_path, ":a/b/1"}, {T_lit_path, "'a/b/1"},
    };
    for (auto& w : words) {
        Cell* v = of(w.type, {word::load("a"), word::load("b"), I(1)});
        EXPECT_EQ(mold(*v), w.mold);
        EXPECT_EQ(form(*v), "a/b/1");
    }
    EXPECT_EQ(mold(*of(T_path, {})), "");
    EXPECT_EQ(mold(*of(T_set_path, {I(1)})), "1:");

    // A paren lays out new lines as a block does; a path ignores them.
    Cell* p = of(T_paren, {I(1), I(2)});
    block::rs_abs_at(*p, 0)->header |= cell::new_line;
    EXPECT_EQ(mold(*p), "(\n    1 2\n)");
    cell::set_type(*p, T_path);
    EXPECT_EQ(mold(*p), "1/2");

    // Holding themselves.
    Cell* self = of(T_paren, {I(1)});
    block::rs_append(*self, *self);
    EXPECT_EQ(mold(*self), "(1 (...))");
    Cell* path_self = of(T_path, {I(1)});
    block::rs_append(*path_self, *path_self);
    EXPECT_EQ(mold(*path_self), "1/...");
}

TEST_F(PathTest, MakeAndTo) {
    Cell proto{T_datatype, T_path, 0, 0};
    Cell zero = I(0), size = I(3);
    Cell* empty = path::make(&proto, &zero, T_path);
    EXPECT_TRUE(cell::is(*empty, T_path));
    EXPECT_EQ(mold(*empty), "");
    EXPECT_EQ(memory::buffer(path::make(&proto, &size, T_path)->w2)->size, 48u);
    Cell* b = of(T_block, {I(1), I(2)});
    Cell* made = path::make(&proto, b, T_set_path);
    EXPECT_TRUE(cell::is(*made, T_set_path));
    EXPECT_NE(made->w2, b->w2);
    EXPECT_EQ(mold(*made), "1/2:");
    EXPECT_EQ(error_of([&] { path::make(&proto, const_cast<Cell*>(&none::value), T_path); }), "script/bad-make-arg");

    Cell types{T_typeset, 0, 0, 0};
    EXPECT_EQ(block::rs_length_q(*path::to(&proto, &types, T_path)), 1);
    EXPECT_EQ(mold(*path::to(&proto, &size, T_get_path)), ":3");
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

TEST_F(PathTest, StepsIntoBlocks) {
    Cell* b = of(T_block, {word::load("a"), I(1), word::load("b"), I(2), I(7), none::value, I(3)});
    auto get = [&](Cell element, bool case_) {
        Cell parent = *b;
        PathStep step{.element = &element, .case_ = case_, .get = true};
        return mold(*block::eval_path(&parent, step));
    };
    EXPECT_EQ(get(word::load("b"), false), "2");
    EXPECT_EQ(get(word::load("B"), false), "2");   // words match in any case
    EXPECT_EQ(get(word::load("B"), true), "none");
    EXPECT_EQ(get(I(4), false), "2");
    EXPECT_EQ(get(I(9), false), "none");
    EXPECT_EQ(get(none::value, false), "3");

    auto set = [&](Cell element, Cell value) {
        Cell parent = *b;
        Cell* path = of(T_path, {word::load("x"), element});
        PathStep step{.element = &element, .value = &value, .path = path};
        block::eval_path(&parent, step);
    };
    set(I(2), I(10));
    set(none::value, I(30));
    EXPECT_EQ(mold(*block::rs_abs_at(*b, 1)), "10");
    EXPECT_EQ(mold(*block::rs_abs_at(*b, 6)), "30");
    EXPECT_EQ(error_of([&] { set(I(99), I(0)); }), "script/out-of-range");
    EXPECT_EQ(error_of([&] { set(Cell{T_logic, 1, 0, 0}, I(0)); }), "script/bad-path-set");
    set(word::load("a"), I(11));  // the value after the word is replaced
    EXPECT_EQ(mold(*block::rs_abs_at(*b, 1)), "11");
    EXPECT_EQ(error_of([&] { set(word::load("zz"), I(0)); }), "script/bad-path-set");
}
