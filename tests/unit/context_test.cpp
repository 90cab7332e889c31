// Contexts and binding: global case variants share one value, binding walks nested blocks,
// parens and paths, unbound and not-running contexts raise their errors, object fields call
// the change hook, and spec words, clones and the collector keep the word lists consistent.
#include <vector>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;
using memory::Node;

namespace {

Cell w(const char* spelling, uint32_t type = T_word) { return word::cell_of(type, symbol::make(spelling)); }

Node block_of(std::initializer_list<Cell> cells) {
    Node b = memory::alloc_cells(cells.size() ? cells.size() : 1);
    collector::RootNode keep(b);
    for (const Cell& c : cells) {
        Cell copy = c;
        *series::append_cell(b) = copy;
    }
    return b;
}
Cell* at(Node b, uint32_t i) { return reinterpret_cast<Cell*>(memory::buffer(b)->head_ptr()) + i; }

// An object context holding the given words, each set to its position as an integer.
Node object_with(std::initializer_list<const char*> names) {
    Node ctx = context::create(static_cast<uint32_t>(names.size()), false, true, 0, context::object_kind);
    collector::RootNode keep(ctx);
    int32_t i = 0;
    for (const char* n : names) {
        int32_t index = context::add_word(ctx, w(n));
        *context::value_cell(ctx, static_cast<uint32_t>(index)) = integer::make(i++);
    }
    return ctx;
}

}  // namespace

using ContextTest = Runtime;

TEST_F(ContextTest, GlobalCaseVariantsShareOneValue) {
    Cell foo = context::get_or_add_global(symbol::make("ctxfoo"));
    Cell Foo = context::get_or_add_global(symbol::make("Ctxfoo"));
    EXPECT_NE(foo.w2, Foo.w2);
    EXPECT_EQ(foo.w3, Foo.w3);
    context::set(foo, integer::make(5));
    EXPECT_EQ(integer::get(*context::get(Foo)), 5);
    context::set(Foo, integer::make(6));
    EXPECT_EQ(integer::get(*context::get(foo)), 6);
    // word::load answers a variant under the spelling asked for.
    Cell FOO = word::load("CTXFOO");
    EXPECT_EQ(FOO.w2, symbol::make("CTXFOO"));
    EXPECT_EQ(FOO.w3, foo.w3);
    EXPECT_EQ(integer::get(*context::get(FOO)), 6);

    // The variant that reaches the global context first owns the slot, whichever spelling
    // was interned first.
    uint32_t lower = symbol::make("ctxorder");
    Cell Upper = context::get_or_add_global(symbol::make("Ctxorder"));
    Cell later = context::get_or_add_global(lower);
    EXPECT_EQ(later.w3, Upper.w3);
}

TEST_F(ContextTest, BindingWalksBlocksParensAndPaths) {
    CollectorOn on;
    Node ctx = object_with({"a", "b", "c", "x"});
    collector::RootNode keep_ctx(ctx);
    // y already has a binding of its own (global) that must survive.
    Cell y = w("y");
    context::add_word(context::global(), y);
    context::bind_word(context::global(), y);
    Node inner_b = block_of({w("b")});
    collector::RootNode k1(inner_b);
    Node inner_c = block_of({w("c")});
    collector::RootNode k2(inner_c);
    Node path = block_of({w("x"), y});
    collector::RootNode k3(path);
    Node outer = block_of({w("a"), Cell{T_block, 0, inner_b, 0}, Cell{T_paren, 0, inner_c, 0}, Cell{T_path, 0, path, 0}});
    collector::RootNode k4(outer);

    context::bind(Cell{T_block, 0, outer, 0}, ctx, false);
    auto bound_to = [&](const Cell& c, const char* name) {
        EXPECT_EQ(c.w1, ctx) << name;
        EXPECT_EQ(static_cast<int32_t>(c.w3), context::find_word(ctx, symbol::make(name), true)) << name;
    };
    bound_to(*at(outer, 0), "a");
    bound_to(*at(inner_b, 0), "b");
    bound_to(*at(inner_c, 0), "c");
    bound_to(*at(path, 0), "x");
    EXPECT_EQ(at(path, 1)->w1, context::global());
    EXPECT_EQ(at(path, 1)->w3, y.w3);
    EXPECT_EQ(integer::get(*context::get(*at(path, 0))), 3);

    // Binding starts at the block's index: the cells before it are left alone.
    Node tail = block_of({w("a"), w("b")});
    collector::RootNode k5(tail);
    context::bind(Cell{T_block, 1, tail, 0}, ctx, false);
    EXPECT_EQ(at(tail, 0)->w1, 0u);
    EXPECT_EQ(at(tail, 1)->w1, ctx);

    // A block that contains itself is bound once.
    Node loop = block_of({w("a")});
    collector::RootNode k6(loop);
    *series::append_cell(loop) = Cell{T_block, 0, loop, 0};
    context::bind(Cell{T_block, 0, loop, 0}, ctx, false);
    EXPECT_EQ(at(loop, 0)->w1, ctx);
}

TEST_F(ContextTest, SelfIsBoundOnlyInItsExactSpelling) {
    Node ctx = object_with({"a"});
    collector::RootNode keep(ctx);
    *context::self_cell(ctx) = Cell{T_object, ctx, 1000001, 0};
    Node body = block_of({w("self"), w("Self")});
    collector::RootNode kb(body);
    context::bind(Cell{T_block, 0, body, 0}, ctx, true);
    EXPECT_EQ(at(body, 0)->w1, ctx);
    EXPECT_EQ(static_cast<int32_t>(at(body, 0)->w3), -1);
    Cell* self = context::get(*at(body, 0));
    EXPECT_EQ(cell::type(*self), uint32_t(T_object));
    EXPECT_EQ(self->w1, ctx);
    EXPECT_EQ(at(body, 1)->w1, 0u);  // an ordinary word the object lacks
    EXPECT_EQ(error_of([&] { context::get(*at(body, 1)); }), "script/no-value");
}

TEST_F(ContextTest, UnboundAndAbsentValues) {
    Cell unbound = w("nowhere");
    EXPECT_EQ(error_of([&] { context::get(unbound); }), "script/no-value");
    EXPECT_EQ(error_of([&] { context::set(unbound, integer::make(1)); }), "script/not-defined");
    unbound.w3 = 0;  // an index without a context is still unbound
    EXPECT_EQ(error_of([&] { context::get(unbound); }), "script/no-value");
    Cell bogus = unbound;
    bogus.w1 = str("not a context")->w2;
    EXPECT_EQ(error_of([&] { context::get(bogus); }), "script/no-value");
    EXPECT_EQ(error_of([&] { context::set(bogus, integer::make(1)); }), "script/not-defined");

    // A function context: its values exist only while a call runs.
    Node spec = block_of({w("a"), w("b")});
    collector::RootNode ks(spec);
    Node fn = context::add_spec_words(Cell{T_block, 0, spec, 0}, true, false, context::function_kind);
    collector::RootNode kf(fn);
    Cell b = w("b");
    ASSERT_EQ(context::bind_word(fn, b), 1);
    EXPECT_EQ(error_of([&] { context::get(b); }), "script/not-in-context");
    EXPECT_EQ(error_of([&] { context::set(b, integer::make(1)); }), "script/not-defined");
    Cell* frame = stack::push(integer::make(10));
    stack::push(integer::make(20));
    context::enter_frame(fn, frame);
    EXPECT_EQ(integer::get(*context::get(b)), 20);
    context::set(b, integer::make(21));
    EXPECT_EQ(integer::get(frame[1]), 21);
    context::leave_frame(fn);
    EXPECT_EQ(error_of([&] { context::get(b); }), "script/not-in-context");
}

TEST_F(ContextTest, SettingAnUnresolvedWordAddsTheField) {
    Node ctx = object_with({"a"});
    collector::RootNode keep(ctx);
    Cell fresh = word::cell_of(T_word, symbol::make("added"), ctx, -1);
    context::set(fresh, integer::make(42));
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(static_cast<int32_t>(fresh.w3), 1);
    EXPECT_EQ(integer::get(*context::get(fresh)), 42);
    // The field is marked as set.
    EXPECT_TRUE(context::slot_at(ctx, 1)->header & cell::field_changed);
}

namespace {
struct ChangeCall {
    Cell object, word, old_value, new_value, slot;
};
std::vector<ChangeCall> change_calls;
Node watched = 0;
void record_change(const Cell& object, const Cell& word, const Cell& old_value, const Cell& new_value) {
    change_calls.push_back({object, word, old_value, new_value, *context::value_cell(watched, word.w3)});
}
}  // namespace

TEST_F(ContextTest, ObjectFieldCallsTheChangeHookOnce) {
    Node ctx = object_with({"a", "b"});
    collector::RootNode keep(ctx);
    Node hooks = memory::alloc_cells(2);  // stands for the object's hook record
    collector::RootNode keep_hooks(hooks);
    *context::self_cell(ctx) = Cell{T_object, ctx, 1000001, hooks};
    watched = ctx;
    change_calls.clear();
    context::fire_on_change = record_change;
    Cell b = w("b");
    context::bind_word(ctx, b);
    context::set(b, integer::make(7));
    ASSERT_EQ(change_calls.size(), 1u);
    EXPECT_EQ(change_calls[0].object.w1, ctx);
    EXPECT_EQ(change_calls[0].word.w2, b.w2);
    EXPECT_EQ(integer::get(change_calls[0].old_value), 1);
    EXPECT_EQ(integer::get(change_calls[0].new_value), 7);
    EXPECT_EQ(integer::get(change_calls[0].slot), 7);  // the slot already held the new value
    context::set_in(b, integer::make(8), ctx, false);  // no notification asked
    EXPECT_EQ(change_calls.size(), 1u);
    context::fire_on_change = nullptr;
    EXPECT_EQ(integer::get(*context::get(b)), 8);
}

TEST_F(ContextTest, SpecWordsClonesAndLookups) {
    Node spec = block_of({w("a"), w("b", T_set_word), w("c", T_refinement), w("d", T_lit_word), w("e", T_get_word),
                          w("A"), integer::make(1)});
    collector::RootNode ks(spec);
    Node ctx = context::add_spec_words(Cell{T_block, 0, spec, 0}, false, false, context::object_kind);
    collector::RootNode kc(ctx);
    ASSERT_EQ(context::word_count(ctx), 4u);
    const char* names[] = {"a", "c", "d", "e"};
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(context::slot_at(ctx, i)->w2, symbol::make(names[i]));
        EXPECT_EQ(cell::type(*context::value_cell(ctx, i)), uint32_t(T_unset));
    }
    EXPECT_EQ(context::value_cell(ctx, 4), nullptr);
    EXPECT_EQ(context::find_word(ctx, symbol::make("A"), true), 0);
    EXPECT_EQ(context::find_word(ctx, symbol::make("A"), false), -1);

    *context::value_cell(ctx, 0) = integer::make(9);
    Cell object{T_object, ctx, 0, 0};
    Node copy = context::clone(object, context::object_kind);
    collector::RootNode kcopy(copy);
    EXPECT_EQ(object.w1, copy);
    EXPECT_EQ(context::word_count(copy), 4u);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(context::slot_at(copy, i)->w1, copy);
    EXPECT_EQ(cell::type(*context::value_cell(copy, 0)), uint32_t(T_unset));
    EXPECT_EQ(integer::get(*context::value_cell(ctx, 0)), 9);
    // The copy grows on its own.
    context::add_word(copy, w("z"));
    EXPECT_EQ(context::word_count(copy), 5u);
    EXPECT_EQ(context::word_count(ctx), 4u);

    EXPECT_EQ(context::add_symbol_once(ctx, w("a"), integer::make(1)), nullptr);
    Cell* added = context::add_symbol_once(ctx, w("f"), integer::make(11));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(integer::get(*context::get_any(symbol::make("F"), ctx)), 11);
    context::put_value(ctx, w("A"), integer::make(12));
    EXPECT_EQ(integer::get(*context::value_cell(ctx, 0)), 12);
    Node sets = block_of({w("g", T_set_word), w("a", T_set_word), w("h")});
    collector::RootNode kset(sets);
    EXPECT_TRUE(context::add_set_words(ctx, Cell{T_block, 0, sets, 0}));
    EXPECT_FALSE(context::add_set_words(ctx, Cell{T_block, 0, sets, 0}));
    EXPECT_EQ(context::word_count(ctx), 6u);
    EXPECT_EQ(context::get_any(symbol::make("h"), ctx), nullptr);
}

// Many words and values under collection: the word list, its table and the values move and
// stay consistent; contexts reachable only through bound words stay alive.
TEST_F(ContextTest, ContextsSurviveCollections) {
    CollectorOn on;
    Node ctx = context::create(2, false, true, 0, context::object_kind);
    collector::RootNode keep(ctx);
    std::vector<Node> inner;
    for (int i = 0; i < 300; ++i) {
        std::string name = "field-" + std::to_string(i);
        int32_t index = context::add_word(ctx, w(name.c_str()));
        if (i % 3 == 0) {
            // A word bound to a context reachable only through this value.
            uint32_t inner_sym = symbol::make("inner");
            Node other = context::create(1, false, false, 0, context::object_kind);
            Cell bound = word::cell_of(T_word, inner_sym, other, 0);
            {
                collector::RootNode hold(other);
                context::add_word(other, bound);
            }
            *context::value_cell(ctx, static_cast<uint32_t>(index)) = bound;
            inner.push_back(other);
        } else {
            *context::value_cell(ctx, static_cast<uint32_t>(index)) = integer::make(i);
        }
    }
    collector::collect();
    ASSERT_EQ(context::word_count(ctx), 300u);
    for (int i = 0; i < 300; ++i) {
        std::string name = "field-" + std::to_string(i);
        int32_t index = context::find_word(ctx, symbol::make(name.c_str()), false);
        ASSERT_EQ(index, i);
        Cell v = *context::value_cell(ctx, static_cast<uint32_t>(index));
        if (i % 3 == 0) {
            ASSERT_TRUE(context::is_context(v.w1));
            EXPECT_EQ(context::word_count(v.w1), 1u);
        } else {
            EXPECT_EQ(integer::get(v), i);
        }
    }
    EXPECT_EQ(memory::verify(), nullptr);
}
