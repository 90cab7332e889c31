// Series ownership and the slot pool: an object owning its block fields reports in-place
// changes with the field's word, nested and self-containing blocks are handled once, entries
// go away with unset and, being weak, with an owner or series nobody else reaches.
#include <vector>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/hashtable.h"
#include "runtime/owner.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;
using memory::Node;

namespace {

struct Report {
    Cell owner, word, series, action, value;
    int32_t index, part;
};
std::vector<Report> reports;
void record_report(const Cell& owner, const Cell& word, const Cell& series, const Cell& action, const Cell& value,
                   int32_t index, int32_t part) {
    reports.push_back({owner, word, series, action, value, index, part});
}

uint32_t entries() { return hashtable::record(owner::table())->size; }

Node block_of(std::initializer_list<Cell> cells) {
    Node b = memory::alloc_cells(cells.size() + 1);
    collector::RootNode keep(b);
    for (const Cell& c : cells) {
        Cell copy = c;
        *series::append_cell(b) = copy;
    }
    return b;
}

// An object with hooks (a non-zero hook record) whose field `blk` holds the block.
struct Object {
    Node ctx = 0;
    Node hooks = 0;
    Cell cell{};
    Cell field_word{};
};
Object object_holding(const Cell& value, bool with_hooks = true) {
    Object o;
    Cell v = value;
    collector::Root keep_value(v);
    o.ctx = context::create(2, false, true, 0, context::object_kind);
    collector::RootNode keep(o.ctx);
    o.hooks = memory::alloc_cells(2);
    collector::RootNode keep_hooks(o.hooks);
    int32_t index = context::add_word(o.ctx, word::cell_of(T_word, symbol::make("blk")));
    *context::value_cell(o.ctx, static_cast<uint32_t>(index)) = v;
    o.cell = Cell{T_object, o.ctx, 1000001, with_hooks ? o.hooks : 0};
    *context::self_cell(o.ctx) = o.cell;
    o.field_word = *context::slot_at(o.ctx, static_cast<uint32_t>(index));
    return o;
}

struct OwnerTest : Runtime {
    OwnerTest() {
        reports.clear();
        owner::on_deep_change = record_report;
    }
    ~OwnerTest() override { owner::on_deep_change = nullptr; }
};

}  // namespace

TEST_F(OwnerTest, FieldBlockReportsInPlaceChanges) {
    Node inner = block_of({integer::make(1)});
    collector::RootNode k1(inner);
    Node blk = block_of({integer::make(0), Cell{T_block, 0, inner, 0}});
    collector::RootNode k2(blk);
    Object o = object_holding(Cell{T_block, 0, blk, 0});
    collector::RootNode k3(o.ctx);
    collector::RootNode k4(o.hooks);

    uint32_t before = entries();
    owner::set_all(o.cell, o.cell, Cell{T_none, 0, 0, 0});
    EXPECT_EQ(entries(), before + 2);  // the field's block and the block nested in it
    EXPECT_TRUE(context::record(o.ctx)->header & cell::owns_series);
    EXPECT_TRUE(memory::buffer(inner)->flags & memory::owned);

    Cell value = integer::make(99);
    EXPECT_TRUE(owner::check(Cell{T_block, 0, blk, 0}, words::loaded::appended, &value, 2, 1));
    ASSERT_EQ(reports.size(), 1u);
    const Report& r = reports[0];
    EXPECT_EQ(cell::type(r.owner), uint32_t(T_object));
    EXPECT_EQ(r.owner.w1, o.ctx);
    EXPECT_EQ(r.word.w2, symbol::make("blk"));
    EXPECT_EQ(r.word.w1, o.ctx);
    EXPECT_EQ(r.series.w2, blk);
    EXPECT_EQ(r.action.w2, words::loaded::appended.w2);
    EXPECT_EQ(integer::get(r.value), 99);
    EXPECT_EQ(r.index, 2);
    EXPECT_EQ(r.part, 1);

    // A change deep inside reports the same owner and field; no new value passes none.
    EXPECT_TRUE(owner::check(Cell{T_block, 0, inner, 0}, words::loaded::removed, nullptr, 0, 1));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].word.w2, symbol::make("blk"));
    EXPECT_EQ(cell::type(reports[1].value), uint32_t(T_none));
    EXPECT_EQ(reports[1].action.w2, symbol::make("removed"));

    // A series nobody owns reports nothing.
    Node loose = block_of({});
    collector::RootNode k5(loose);
    EXPECT_FALSE(owner::check(Cell{T_block, 0, loose, 0}, words::loaded::appended, nullptr, 0, 0));
    EXPECT_EQ(owner::find(loose), nullptr);

    // Released: no entries, no reports.
    owner::unset(Cell{T_block, 0, blk, 0});
    EXPECT_EQ(entries(), before);
    EXPECT_FALSE(memory::buffer(inner)->flags & memory::owned);
    EXPECT_FALSE(owner::check(Cell{T_block, 0, inner, 0}, words::loaded::appended, nullptr, 0, 0));
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(OwnerTest, OwnerWithoutHooksReportsNothing) {
    Node blk = block_of({});
    collector::RootNode k1(blk);
    Object o = object_holding(Cell{T_block, 0, blk, 0}, false);
    collector::RootNode k2(o.ctx);
    owner::set(Cell{T_block, 0, blk, 0}, o.cell, o.field_word);
    EXPECT_NE(owner::find(blk), nullptr);
    EXPECT_FALSE(owner::check(Cell{T_block, 0, blk, 0}, words::loaded::appended, nullptr, 0, 0));
    EXPECT_TRUE(reports.empty());
    owner::unset(Cell{T_block, 0, blk, 0});
}

TEST_F(OwnerTest, RepeatedAndCyclicOwnership) {
    Node blk = block_of({integer::make(1)});
    collector::RootNode k1(blk);
    *series::append_cell(blk) = Cell{T_block, 0, blk, 0};  // the block contains itself
    Node late = block_of({});
    collector::RootNode k2(late);
    Object o = object_holding(Cell{T_block, 0, blk, 0});
    collector::RootNode k3(o.ctx);
    collector::RootNode k4(o.hooks);
    uint32_t before = entries();
    owner::set(Cell{T_block, 0, blk, 0}, o.cell, o.field_word);
    EXPECT_EQ(entries(), before + 1);
    // Owning it again adds no entry but still walks the cells: a block put there since is
    // taken in.
    *series::append_cell(blk) = Cell{T_block, 0, late, 0};
    owner::set(Cell{T_block, 0, blk, 0}, o.cell, o.field_word);
    EXPECT_EQ(entries(), before + 2);
    EXPECT_NE(owner::find(late), nullptr);
    // An object field holding the object itself is skipped.
    context::add_word(o.ctx, word::cell_of(T_word, symbol::make("me")));
    *context::value_cell(o.ctx, 1) = o.cell;
    owner::set(o.cell, o.cell, Cell{T_none, 0, 0, 0});
    EXPECT_EQ(entries(), before + 2);
    // A copy of an owned series carries the owned flag but has no entry: owning it adds one.
    Node twin = memory::copy_series(late);
    collector::RootNode k5(twin);
    owner::set(Cell{T_block, 0, twin, 0}, o.cell, o.field_word);
    ASSERT_NE(owner::find(twin), nullptr);
    owner::unset(Cell{T_block, 0, twin, 0});
    owner::unset_range(Cell{T_block, 0, blk, 0}, 0, 10);  // the nested blocks
    EXPECT_EQ(owner::find(late), nullptr);
    owner::unset(Cell{T_block, 0, blk, 0});
    EXPECT_EQ(entries(), before);
}

TEST_F(OwnerTest, CaseChangeOfAnOwnedStringIsReported) {
    Cell* s = str("abcdef");
    Object o = object_holding(*s);
    collector::RootNode k1(o.ctx);
    collector::RootNode k2(o.hooks);
    owner::set(*s, o.cell, o.field_word);
    Cell part = integer::make(3);
    Cell at = *s;
    at.w1 = 1;
    unicode::change_case(at, &part, true);
    EXPECT_EQ(text(*s), "aBCDef");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].action.w2, words::loaded::uppercase.w2);
    EXPECT_EQ(reports[0].index, 1);
    EXPECT_EQ(reports[0].part, 3);
    owner::unset(*s);
}

// The table holds its entries weakly: an owner or a series that only the table reaches is
// collected and its entry goes.
TEST_F(OwnerTest, UnreachableOwnerAndSeriesAreReclaimed) {
    CollectorOn on;
    uint32_t before = entries();
    Node series_node = 0, ctx = 0;
    {
        Node blk = block_of({integer::make(1)});
        collector::RootNode k1(blk);
        Object o = object_holding(Cell{T_block, 0, blk, 0});
        collector::RootNode k2(o.ctx);
        owner::set(Cell{T_block, 0, blk, 0}, o.cell, o.field_word);
        series_node = blk;
        ctx = o.ctx;
        ASSERT_EQ(entries(), before + 1);
    }
    collector::collect();
    EXPECT_EQ(entries(), before);
    EXPECT_FALSE(memory::valid_node(series_node));
    EXPECT_FALSE(memory::valid_node(ctx));

    // A series that outlives its owner loses its entry and its owned flag.
    Node kept = block_of({});
    collector::RootNode k3(kept);
    {
        Object o = object_holding(Cell{T_block, 0, kept, 0});
        collector::RootNode k4(o.ctx);
        owner::set(Cell{T_block, 0, kept, 0}, o.cell, o.field_word);
    }
    // The object's context still refers to the block, the block not to the context.
    collector::collect();
    EXPECT_EQ(entries(), before);
    EXPECT_TRUE(memory::valid_node(kept));
    EXPECT_FALSE(memory::buffer(kept)->flags & memory::owned);

    // A live owner keeps its entry across collections; node ids declared moved re-hash it.
    Node blk = block_of({});
    collector::RootNode k5(blk);
    Object o = object_holding(Cell{T_block, 0, blk, 0});
    collector::RootNode k6(o.ctx);
    collector::RootNode k7(o.hooks);
    owner::set(Cell{T_block, 0, blk, 0}, o.cell, o.field_word);
    collector::collect();
    hashtable::note_evacuation();
    ASSERT_NE(owner::find(blk), nullptr);
    EXPECT_EQ(owner::find(blk)->w1, o.ctx);
    EXPECT_TRUE(owner::check(Cell{T_block, 0, blk, 0}, words::loaded::cleared, nullptr, 0, 0));
    owner::unset(Cell{T_block, 0, blk, 0});
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(OwnerTest, SlotPool) {
    CollectorOn on;
    uint32_t cap = slotpool::capacity();
    ASSERT_GE(cap, slotpool::initial_capacity);
    slotpool::remove(0);  // nothing
    slotpool::remove(cap + 1);
    std::vector<uint32_t> slots;
    // A value only the pool keeps alive.
    Node ctx = context::create(1, false, false, 0, context::object_kind);
    {
        collector::RootNode hold(ctx);
        slots.push_back(slotpool::add(Cell{T_word, ctx, symbol::make("pooled"), 0}));
    }
    for (uint32_t i = 1; i < cap + 1; ++i) slots.push_back(slotpool::add(integer::make(static_cast<int32_t>(i))));
    EXPECT_EQ(slotpool::capacity(), 2 * cap);  // the cap + 1-th value doubled the pool
    collector::collect();
    EXPECT_TRUE(context::is_context(ctx));
    EXPECT_EQ(slotpool::at(slots[0])->w1, ctx);
    for (uint32_t i = 1; i < slots.size(); ++i) EXPECT_EQ(integer::get(*slotpool::at(slots[i])), static_cast<int32_t>(i));
    // A freed slot is reused first; freeing twice does not hand it out twice.
    slotpool::remove(slots[5]);
    slotpool::remove(slots[5]);
    uint32_t again = slotpool::add(integer::make(-1));
    EXPECT_EQ(again, slots[5]);
    EXPECT_NE(slotpool::add(integer::make(-2)), slots[5]);
    EXPECT_EQ(slotpool::at(0), nullptr);
    slotpool::remove(slots[0]);
    collector::collect();
    EXPECT_FALSE(memory::valid_node(ctx));
}
