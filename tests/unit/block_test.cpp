// block!: molding, comparison, search, the changing actions, sorting and set operations.
#include <algorithm>
#include <functional>
#include <vector>

#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/actions.h"
#include "runtime/owner.h"
#include "runtime/root.h"
#include "runtime/words.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

// The collector runs while each test runs (at every allocation in the gc-stress build).
struct BlockTest : CollectingRuntime {};

namespace {

Cell F(double d) {
    Cell c{T_float_, 0, 0, 0};
    cell::set_double(c, d);
    return c;
}

// A block of the cells on the value stack.
Cell* blk(std::initializer_list<Cell> values) {
    Cell* b = block::push_new(static_cast<int32_t>(values.size()));
    for (const Cell& v : values) block::rs_append(*b, v);
    return b;
}


Cell* at(const Cell& s, int32_t pos) {
    Cell* c = stack::push(s);
    c->w1 = static_cast<uint32_t>(pos - 1);
    return c;
}

Cell& cell_at(const Cell& b, int32_t i) { return *block::rs_abs_at(b, static_cast<uint32_t>(i)); }

// The 1-based index find answers, 0 for none.
int32_t found(Cell* r) { return cell::is(*r, T_none) ? 0 : static_cast<int32_t>(r->w1) + 1; }

}  // namespace

TEST_F(BlockTest, MoldWithNewLinesAndIndentation) {
    Cell* b = ints({1, 2, 3});
    cell_at(*b, 1).header |= cell::new_line;
    EXPECT_EQ(test::mold(*b), "[1\n2 3]");

    // A first cell on a new line opens the block: its cells go one level deeper.
    Cell* c = ints({1, 2});
    cell_at(*c, 0).header |= cell::new_line;
    EXPECT_EQ(test::mold(*c), "[\n    1 2\n]");

    Cell* inner = ints({7, 8});
    cell_at(*inner, 0).header |= cell::new_line;
    Cell* outer = blk({I(1), *inner});
    cell_at(*outer, 0).header |= cell::new_line;
    cell_at(*outer, 1).header |= cell::new_line;
    EXPECT_EQ(test::mold(*outer), "[\n    1\n    [\n        7 8\n    ]\n]");

    // New lines as the lexer marks them.
    Cell proto{T_datatype, T_block, 0, 0};
    Cell* loaded = block::to(&proto, str("x [\n  a b\n  c] y\nz"), T_block);
    EXPECT_EQ(test::mold(*loaded), "[x [\n    a b\n    c\n] y\nz]");

    // Forming ignores the flags and the brackets.
    EXPECT_EQ(form(*outer), "1 7 8");
    EXPECT_EQ(test::mold(*blk({})), "[]");
    EXPECT_EQ(test::mold(*blk({I(1), F(2.5), *ints({}), none::value})), "[1 2.5 [] none]");
}

TEST_F(BlockTest, BlockHoldingItself) {
    Cell* b = ints({1, 2});
    block::rs_append(*b, *b);
    EXPECT_EQ(test::mold(*b), "[1 2 [...]]");
    EXPECT_EQ(form(*b), "1 2 ...");
    EXPECT_EQ(cycles::depth(), 0u);

    Cell* out = stack::reserve();
    EXPECT_EQ(error_of([&] { block::copy(b, out, nullptr, true, nullptr); }), "internal/no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
    // A shallow copy is fine, and compares equal to the original.
    block::copy(b, out, nullptr, false, nullptr);
    EXPECT_EQ(compare_raw(*b, *out, actions::equal), 0);
}

TEST_F(BlockTest, Compare) {
    struct Row {
        Cell* a;
        Cell* b;
        int32_t op;
        int32_t result;
    } rows[] = {
        {ints({1, 2}), ints({1, 2, 3}), actions::equal, 1},
        {ints({1, 2}), ints({1, 2, 3}), actions::lesser, -1},
        {ints({1, 2}), blk({I(1), F(2.0)}), actions::equal, 0},
        {ints({}), ints({1}), actions::lesser, -1},
        {ints({2}), ints({1, 5}), actions::lesser, 1},
        {blk({I(1)}), blk({none::value}), actions::lesser, T_integer < T_none ? -1 : 1},
    };
    for (auto& r : rows) EXPECT_EQ(compare_raw(*r.a, *r.b, r.op), r.result);
    Cell* p = ints({1});
    EXPECT_EQ(compare_raw(*p, *p, actions::same), 0);
    Cell* q = ints({1});
    EXPECT_EQ(compare_raw(*p, *q, actions::same), -1);
}

TEST_F(BlockTest, FindAndSelectRefinements) {
    Cell* b = ints({0, 1, 2, 3, 1, 2});
    Cell one = I(1), two = I(2), three = I(3), nine = I(9);
    Cell* run = ints({1, 2});
    Cell skip2 = I(2), part3 = I(3), zero = I(0);
    Cell type{T_datatype, T_integer, 0, 0};
    struct Row {
        const char* what;
        Cell* series;
        Cell* value;
        FindArgs args;
        int32_t find;    // 1-based, 0 for none
        int32_t select;  // the selected integer, -1 for none
    } rows[] = {
        {"plain", b, &one, {}, 2, 2},
        {"absent", b, &nine, {}, 0, -1},
        {"run", b, run, {}, 2, 3},
        {"run only", b, run, {.only = true}, 0, -1},
        {"tail", b, &one, {.tail = true}, 3, 2},
        {"run tail", b, run, {.tail = true}, 4, 3},
        {"last", b, &one, {.last = true}, 5, 2},
        {"last tail", b, &one, {.last = true, .tail = true}, 6, 2},
        {"reverse from 4", at(*b, 4), &one, {.reverse = true}, 2, 2},
        {"reverse at head", b, &one, {.reverse = true}, 0, -1},
        {"match at head", b, &one, {.match = true}, 0, 2},  // select has no /match
        {"match at 2", at(*b, 2), &one, {.match = true}, 2, 2},
        {"skip 2", b, &two, {.skip = &skip2}, 3, 3},         // records [0 1] [2 3] [1 2]
        {"skip 2 from 2", at(*b, 2), &two, {.skip = &skip2}, 6, -1},
        {"skip 2 misses", b, &three, {.skip = &skip2}, 0, -1},
        {"skip 2 first", b, &one, {.skip = &skip2}, 5, 2},
        {"part 3", b, &one, {.part = &part3}, 2, 2},
        {"part 3 misses", at(*b, 3), &one, {.part = &part3}, 5, 2},
        {"part 0", b, &one, {.part = &zero}, 0, -1},
        {"datatype", b, &type, {}, 1, 1},
        {"at tail", at(*b, 7), &one, {}, 0, -1},
        {"reverse at tail", at(*b, 7), &one, {.reverse = true}, 5, 2},
    };
    for (auto& r : rows) {
        stack::Mark mark;
        Cell s = *r.series;
        EXPECT_EQ(found(block::find(&s, r.value, r.args)), r.find) << r.what;
        s = *r.series;
        Cell* sel = block::select(&s, r.value, r.args);
        EXPECT_EQ(cell::is(*sel, T_none) ? -1 : integer::get(*sel), r.select) << r.what;
    }
    Cell bad = none::value;
    Cell s = *b;
    EXPECT_EQ(error_of([&] { block::find(&s, &one, {.skip = &bad}); }), "script/invalid-refine-arg");
    EXPECT_EQ(error_of([&] { block::find(&s, &one, {.skip = &zero}); }), "script/out-of-range");
    EXPECT_EQ(error_of([&] { block::find(&s, &one, {.part = ints({1})}); }), "script/invalid-refine-arg");
    // Words, from the examples of the search rules.
    Cell proto{T_datatype, T_block, 0, 0};
    Cell* abba = block::to(&proto, str("a b b a"), T_block);
    Cell wb = word::load("b");
    EXPECT_EQ(found(block::find(abba, &wb, {.skip = &skip2})), 3);
    Cell* abc = block::to(&proto, str("a b c"), T_block);
    EXPECT_EQ(found(block::find(abc, &wb, {.last = true, .tail = true})), 3);
    Cell wB = word::load("B");
    EXPECT_EQ(found(block::find(abc, &wB, {})), 2);
    EXPECT_EQ(found(block::find(abc, &wB, {.case_ = true})), 0);

    // /only with /same finds the block itself, not an equal one.
    Cell* inner = ints({1});
    Cell* holder = blk({*ints({1}), *inner});
    Cell h = *holder;
    EXPECT_EQ(found(block::find(&h, inner, {.only = true})), 1);
    EXPECT_EQ(found(block::find(&h, inner, {.only = true, .same = true})), 2);
}

TEST_F(BlockTest, AppendInsertAndChange) {
    struct Row {
        const char* what;
        int32_t pos;           // 1-based position of the target [a b c] = [1 2 3]
        bool insert, change;
        Cell* value;
        int32_t part;
        bool only;
        int32_t dup;
        const char* result;
        int32_t index;         // 1-based index of the result
    } rows[] = {
        {"append", 1, false, false, ints({8, 9}), -1, false, 1, "[1 2 3 8 9]", 1},
        {"append only", 1, false, false, ints({8, 9}), -1, true, 1, "[1 2 3 [8 9]]", 1},
        {"append dup", 1, false, false, ints({8}), -1, false, 3, "[1 2 3 8 8 8]", 1},
        {"append part", 1, false, false, ints({8, 9}), 1, false, 1, "[1 2 3 8]", 1},
        {"append part dup", 1, false, false, ints({7, 8, 9}), 2, false, 2, "[1 2 3 7 8 7 8]", 1},
        {"insert head", 1, true, false, ints({8, 9}), -1, false, 1, "[8 9 1 2 3]", 3},
        {"insert middle", 2, true, false, ints({8}), -1, false, 2, "[1 8 8 2 3]", 4},
        {"insert tail", 4, true, false, ints({8}), -1, false, 1, "[1 2 3 8]", 5},
        {"insert empty", 1, true, false, ints({}), -1, false, 1, "[1 2 3]", 1},
        {"change", 1, false, true, ints({8}), -1, false, 1, "[8 2 3]", 2},
        {"change part 2", 1, false, true, ints({8}), 2, false, 1, "[8 3]", 2},
        {"change longer", 2, false, true, ints({7, 8, 9}), -1, false, 1, "[1 7 8 9]", 5},
        {"change dup", 1, false, true, ints({8}), -1, false, 3, "[8 8 8]", 4},
        {"change only", 1, false, true, ints({8, 9}), -1, true, 1, "[[8 9] 2 3]", 2},
        {"change part 0", 2, false, true, ints({8}), 0, false, 1, "[1 8 2 3]", 3},
        {"change empty part", 1, false, true, ints({}), 2, false, 1, "[3]", 1},
    };
    for (auto& r : rows) {
        stack::Mark mark;
        Cell* b = ints({1, 2, 3});
        Cell* s = at(*b, r.pos);
        Cell* out = r.change ? block::change(s, r.value, r.part, r.only, r.dup)
                             : block::append(s, r.value, r.part, r.only, r.dup, !r.insert);
        EXPECT_EQ(test::mold(*b), r.result) << r.what;
        EXPECT_EQ(static_cast<int32_t>(out->w1) + 1, r.index) << r.what;
    }
}

TEST_F(BlockTest, AddingABlockToItselfActsOnACopy) {
    struct Row {
        const char* what;
        int32_t target, source;  // 1-based positions in [1 2 3 4]
        bool change;
        int32_t part;
        const char* result;
    } rows[] = {
        {"append self", 1, 1, false, -1, "[1 2 3 4 1 2 3 4]"},
        {"insert self", 1, 1, false, -1, "[1 2 3 4 1 2 3 4]"},
        {"insert tail part", 2, 3, false, -1, "[1 3 4 2 3 4]"},
        {"change with own tail", 1, 3, true, -1, "[3 4 3 4]"},
        {"change with own head", 3, 1, true, -1, "[1 2 1 2 3 4]"},
        {"change part with self", 2, 1, true, 1, "[1 1 2 3 4 3 4]"},
    };
    for (auto& r : rows) {
        stack::Mark mark;
        Cell* b = ints({1, 2, 3, 4});
        Cell* s = at(*b, r.target);
        Cell* v = at(*b, r.source);
        // The same done with a copy of the value gives the expected block.
        if (r.change) block::change(s, v, r.part, false, 1);
        else block::append(s, v, r.part, false, 1, std::string(r.what).rfind("append", 0) == 0);
        EXPECT_EQ(test::mold(*b), r.result) << r.what;
    }
}

TEST_F(BlockTest, TakeSwapTrimPut) {
    Cell* nested = ints({5});
    Cell* b = blk({*nested, I(1)});
    Cell* taken = block::take(stack::push(*b), nullptr, true, false);
    ASSERT_TRUE(cell::is(*taken, T_block));
    EXPECT_NE(taken->w2, nested->w2);  // /deep copied the nested block
    EXPECT_EQ(test::mold(*taken), "[5]");
    EXPECT_TRUE(cell::is(*block::take(stack::push(*ints({})), nullptr, false, false), T_none));

    Cell* x = ints({1, 2, 3});
    block::swap(at(*x, 1), at(*x, 3));
    EXPECT_EQ(test::mold(*x), "[3 2 1]");
    Cell num = I(1);
    EXPECT_EQ(error_of([&] { block::swap(x, &num); }), "script/invalid-arg");

    Cell* t = blk({I(1), none::value, I(2), none::value});
    block::trim(t, TrimArgs{});
    EXPECT_EQ(test::mold(*t), "[1 2]");

    Cell* m = ints({1, 10, 2, 20});
    Cell k2 = I(2), v = I(25), k3 = I(3), v3 = I(30);
    block::put(m, &k2, &v, false);
    block::put(m, &k3, &v3, false);
    EXPECT_EQ(test::mold(*m), "[1 10 2 25 3 30]");
    Cell last = I(30), v4 = I(4);
    block::put(m, &last, &v4, false);  // a key in the last cell gets its value appended
    EXPECT_EQ(test::mold(*m), "[1 10 2 25 3 30 4]");
}

namespace {
std::string sorted(std::initializer_list<int32_t> values, SortArgs args) {
    Cell* b = ints(values);
    block::sort(b, args);
    return test::mold(*b);
}
}  // namespace

TEST_F(BlockTest, SortRefinements) {
    Cell two = I(2), one = I(1), three = I(3), zero = I(0);
    EXPECT_EQ(sorted({3, 1, 2}, {}), "[1 2 3]");
    EXPECT_EQ(sorted({3, 1, 2}, {.reverse = true}), "[3 2 1]");
    EXPECT_EQ(sorted({3, 1, 2, 9, 8}, {.part = &three}), "[1 2 3 9 8]");
    EXPECT_EQ(sorted({3, 1, 2, 0}, {.skip = &two}), "[2 0 3 1]");
    // Records by their second cell.
    EXPECT_EQ(sorted({1, 9, 2, 3, 3, 5}, {.skip = &two, .compare = &two}), "[2 3 3 5 1 9]");
    // /all compares whole records; without it only the first cell decides.
    EXPECT_EQ(sorted({1, 9, 1, 3, 0, 5}, {.skip = &two, .all = true}), "[0 5 1 3 1 9]");
    // /stable keeps equal records in their order: records sorted by their first cell.
    std::vector<int32_t> pairs;
    for (int32_t i = 0; i < 200; ++i) {
        pairs.push_back(i % 3);
        pairs.push_back(i);
    }
    Cell* b = block::push_new(400);
    for (int32_t v : pairs) block::rs_append(*b, I(v));
    block::sort(b, {.skip = &two, .compare = &one, .stable = true});
    int32_t previous_key = -1, previous_payload = -1;
    for (int32_t i = 0; i < 400; i += 2) {
        int32_t key = integer::get(cell_at(*b, i)), payload = integer::get(cell_at(*b, i + 1));
        ASSERT_GE(key, previous_key);
        if (key == previous_key) {
            ASSERT_GT(payload, previous_payload);
        }
        previous_key = key;
        previous_payload = payload;
    }
    // Mixed types order by datatype id.
    Cell* mixed = blk({I(3), none::value, I(1)});
    block::sort(mixed, {});
    EXPECT_EQ(test::mold(*mixed), T_none < T_integer ? "[none 1 3]" : "[1 3 none]");

    struct Bad {
        SortArgs args;
        const char* error;
    } bad[] = {
        {{.all = true}, "script/bad-refines"},
        {{.compare = &one}, "script/bad-refines"},
        {{.skip = &two, .compare = &one, .all = true}, "script/bad-refines"},
        {{.skip = &two, .compare = &three}, "script/out-of-range"},
        {{.skip = &two, .compare = &zero}, "script/out-of-range"},
        {{.skip = &three}, "script/invalid-refine-arg"},
        {{.skip = &zero}, "script/invalid-refine-arg"},
        {{.compare = const_cast<Cell*>(&none::value)}, "script/invalid-refine-arg"},
        {{.part = ints({1})}, "script/invalid-refine-arg"},
    };
    for (auto& r : bad) {
        Cell* s = ints({4, 3, 2, 1});
        EXPECT_EQ(error_of([&] { block::sort(s, r.args); }), r.error);
        EXPECT_EQ(test::mold(*s), "[4 3 2 1]");
    }
}

namespace {
// A comparison that raises at a given call, or changes the block it sorts at another.
int32_t calls = 0, raise_at = 0, change_at = 0;
Cell* sorted_block = nullptr;
int32_t failing_compare(const void* a, const void* b, uintptr_t flags, uintptr_t op) {
    ++calls;
    if (calls == raise_at) error::fire(err::user_message, I(1));
    if (calls == change_at && sorted_block) {
        // The comparator empties the block and allocates: the sort still writes its cells back.
        block::rs_clear(*sorted_block);
        for (int32_t k = 0; k < 50; ++k) block::rs_append(*sorted_block, *ints({k}));
    }
    return block::compare_records(a, b, flags, op);
}
}  // namespace

TEST_F(BlockTest, ComparatorThatRaisesMidSort) {
    for (bool stable : {false, true}) {
        for (int32_t limit : {3, 40, 300}) {
            stack::Mark mark;
            std::vector<int32_t> values;
            for (int32_t i = 0; i < 120; ++i) values.push_back((i * 37) % 120);
            Cell* b = block::push_new(120);
            for (int32_t v : values) block::rs_append(*b, I(v));
            calls = 0;
            raise_at = limit;
            change_at = 0;
            sorted_block = nullptr;
            EXPECT_EQ(error_of([&] { block::sort_records(*b, 120, 1, stable, 0, actions::sort_order, failing_compare); }),
                      "user/message");
            std::vector<int32_t> after;
            for (int32_t i = 0; i < block::rs_length_q(*b); ++i) after.push_back(integer::get(cell_at(*b, i)));
            std::sort(values.begin(), values.end());
            std::sort(after.begin(), after.end());
            EXPECT_EQ(after, values) << "the block is a permutation of its cells";
        }
    }
    // A comparator that changes the block: the sort writes its 120 records back over the
    // block's first cells and touches nothing beyond them.
    Cell* b = block::push_new(120);
    for (int32_t i = 0; i < 120; ++i) block::rs_append(*b, I(119 - i));
    calls = 0;
    raise_at = 0;
    change_at = 20;
    sorted_block = b;
    block::sort_records(*b, 120, 1, false, 0, actions::sort_order, failing_compare);
    sorted_block = nullptr;
    ASSERT_EQ(block::rs_length_q(*b), 50);
    for (int32_t i = 0; i < 50; ++i) EXPECT_TRUE(cell::is(cell_at(*b, i), T_integer));
}

TEST_F(BlockTest, SetOperations) {
    Cell two = I(2);
    struct Row {
        const char* what;
        int32_t op;
        Cell* a;
        Cell* b;
        bool case_;
        Cell* skip;
        const char* result;
    } rows[] = {
        {"unique", block::op_unique, ints({1, 2, 1, 3, 2}), nullptr, false, nullptr, "[1 2 3]"},
        {"union", block::op_union, ints({1, 2}), ints({2, 3}), false, nullptr, "[1 2 3]"},
        {"intersect", block::op_intersect, ints({1, 2, 3}), ints({3, 2, 5}), false, nullptr, "[2 3]"},
        {"exclude", block::op_exclude, ints({1, 2, 3}), ints({2}), false, nullptr, "[1 3]"},
        {"difference", block::op_difference, ints({1, 2}), ints({2, 3}), false, nullptr, "[1 3]"},
        {"numbers of two types", block::op_unique, blk({I(1), F(1.0), I(1)}), nullptr, false, nullptr, "[1 1.0]"},
        {"intersect skip", block::op_intersect, ints({1, 10, 2, 20}), ints({2, 99}), false, &two, "[2 20]"},
        {"unique skip", block::op_unique, ints({1, 10, 1, 11, 2, 12}), nullptr, false, &two, "[1 10 2 12]"},
        // A length that is not a multiple of the record size: the short record is kept as it is.
        {"union short record", block::op_union, ints({1, 10, 2}), ints({3}), false, &two, "[1 10 2 3]"},
        {"nested", block::op_unique, blk({*ints({1}), *ints({1}), *ints({2})}), nullptr, false, nullptr, "[[1] [2]]"},
    };
    for (auto& r : rows) {
        stack::Mark mark;
        Cell* out = block::do_set_op(r.a, r.b, r.case_, r.skip, r.op);
        EXPECT_EQ(test::mold(*out), r.result) << r.what;
    }
    Cell zero = I(0);
    EXPECT_EQ(error_of([&] { block::do_set_op(ints({1}), nullptr, false, &zero, block::op_unique); }),
              "script/invalid-refine-arg");

    // Words differing in case are one value unless /case.
    Cell* words = blk({word::load("a"), word::load("A"), word::load("b")});
    EXPECT_EQ(test::mold(*block::do_set_op(words, nullptr, false, nullptr, block::op_unique)), "[a b]");
    EXPECT_EQ(test::mold(*block::do_set_op(words, nullptr, true, nullptr, block::op_unique)), "[a A b]");
    Cell* other = blk({word::load("B"), word::load("c")});
    EXPECT_EQ(test::mold(*block::do_set_op(words, other, false, nullptr, block::op_difference)), "[a c]");

}

TEST_F(BlockTest, MakeAndTo) {
    Cell proto{T_datatype, T_block, 0, 0};
    Cell zero = I(0), minus = I(-5), size = F(2.7), ten = I(10);
    for (Cell* spec : {&zero, &minus, &size}) EXPECT_EQ(test::mold(*block::make(&proto, spec, T_block)), "[]");
    EXPECT_EQ(test::mold(*block::to(&proto, &ten, T_block)), "[10]");
    EXPECT_EQ(test::mold(*block::to(&proto, str("a 1 [b/c (d)]"), T_block)), "[a 1 [b/c (d)]]");
    Cell* types = stack::push(Cell{T_typeset, 0, 0, 0});
    typeset::add(*types, T_integer);
    typeset::add(*types, T_block);
    Cell* names = block::to(&proto, types, T_block);
    ASSERT_EQ(block::rs_length_q(*names), 2);  // ascending ids: block! then integer!
    EXPECT_EQ(block::rs_abs_at(*names, 0)->w2, datatype::types[T_block].name_symbol);
    EXPECT_EQ(block::rs_abs_at(*names, 1)->w2, datatype::types[T_integer].name_symbol);
    Cell* src = ints({1, 2});
    Cell* copy = block::make(&proto, src, T_block);
    EXPECT_NE(copy->w2, src->w2);
    EXPECT_EQ(test::mold(*copy), "[1 2]");
    EXPECT_EQ(error_of([&] { block::make(&proto, const_cast<Cell*>(&none::value), T_block); }), "script/bad-make-arg");
}

TEST_F(BlockTest, DeepCopyAndClone) {
    Cell* inner = ints({2});
    Cell* b = blk({I(1), *inner});
    Cell* out = stack::reserve();
    block::copy(b, out, nullptr, true, nullptr);
    EXPECT_EQ(test::mold(*out), "[1 [2]]");
    EXPECT_NE(cell_at(*out, 1).w2, inner->w2);
    Cell* shallow = stack::reserve();
    block::copy(b, shallow, nullptr, false, nullptr);
    EXPECT_EQ(cell_at(*shallow, 1).w2, inner->w2);

    // A deep clone copies parens and paths only with the any-block flag.
    Cell paren = *ints({3});
    cell::set_type(paren, T_paren);
    Cell* holder = blk({paren});
    Cell* withp = block::clone(*blk({*holder}), true, true);
    Cell* without = block::clone(*blk({*holder}), true, false);
    EXPECT_NE(cell_at(cell_at(*withp, 0), 0).w2, paren.w2);
    EXPECT_EQ(cell_at(cell_at(*without, 0), 0).w2, paren.w2);
}

// ---- reports to an owner ------------------------------------------------------------------------

namespace {

struct Told {
    std::string word;
    int32_t index, part;
};
std::vector<Told> told;
Cell* meddle_with = nullptr;  // the first report empties this block

void record_change(const Cell&, const Cell&, const Cell&, const Cell& action, const Cell&, int32_t index,
                   int32_t part) {
    symbol::Spelling sp = symbol::spelling(action.w2);
    told.push_back({std::string(reinterpret_cast<const char*>(sp.bytes), sp.length), index, part});
    if (meddle_with) {
        block::rs_clear(Cell{T_block, 0, meddle_with->w2, 0});
        meddle_with = nullptr;
    }
}

// Makes the block owned by an object (with hooks) through a field `blk`.
void own(const Cell& b) {
    memory::Node ctx = context::create(2, false, true, 0, context::object_kind);
    collector::RootNode keep(ctx);
    memory::Node hooks = memory::alloc_cells(2);
    collector::RootNode keep_hooks(hooks);
    int32_t index = context::add_word(ctx, word::cell_of(T_word, symbol::make("blk")));
    *context::value_cell(ctx, static_cast<uint32_t>(index)) = b;
    Cell object{T_object, ctx, 1000001, hooks};
    *context::self_cell(ctx) = object;
    Cell field = *context::slot_at(ctx, static_cast<uint32_t>(index));
    // The owner stays alive for the test (object! cells are marked once objects exist).
    root::append(Cell{T_block, 0, ctx, 0});
    root::append(Cell{T_block, 0, hooks, 0});
    owner::set_all(b, object, field);
}

std::string reports() {
    std::string out;
    for (auto& t : told) out += t.word + " " + std::to_string(t.index) + " " + std::to_string(t.part) + "; ";
    told.clear();
    return out;
}

struct OwnedTest : BlockTest {
    OwnedTest() {
        told.clear();
        owner::on_deep_change = record_change;
    }
    ~OwnedTest() override {
        owner::on_deep_change = nullptr;
        meddle_with = nullptr;
    }
};

}  // namespace

TEST_F(OwnedTest, ChangesReportBeforeAndAfter) {
    Cell* b = ints({1, 2, 3});
    own(*b);
    Cell four = I(4);
    block::append(stack::push(*b), &four, -1, false, 1, true);
    EXPECT_EQ(reports(), "append 3 1; appended 3 1; ");
    block::append(stack::push(*b), ints({8, 9}), -1, false, 1, false);
    EXPECT_EQ(reports(), "insert 0 2; inserted 0 2; ");
    series::poke(stack::push(*b), 2, &four, nullptr);
    EXPECT_EQ(reports(), "poke 1 1; poked 1 1; ");
    series::remove(at(*b, 2), nullptr, nullptr);
    EXPECT_EQ(reports(), "remove 1 1; removed 1 0; ");
    block::sort(stack::push(*b), {});
    EXPECT_EQ(reports(), "sort 0 0; sorted 0 0; ");
    EXPECT_EQ(test::mold(*b), "[1 2 3 4 8]");
}

TEST_F(OwnedTest, AnOwnerThatEmptiesTheSeriesMidway) {
    // The hook empties the block at the first report; every action measures again after it.
    struct Row {
        const char* what;
        std::function<void(Cell*)> act;
        const char* result;
    } rows[] = {
        {"change", [](Cell* s) { block::change(s, ints({8, 9}), -1, false, 1); }, "[8 9]"},
        {"insert", [](Cell* s) { block::append(s, ints({8}), -1, false, 2, false); }, "[8 8]"},
        {"remove", [](Cell* s) { series::remove(s, nullptr, nullptr); }, "[]"},
        {"take", [](Cell* s) { Cell two = I(2); block::take(s, &two, false, false); }, "[]"},
        {"reverse", [](Cell* s) { series::reverse(s, nullptr, nullptr); }, "[]"},
        {"sort", [](Cell* s) { block::sort(s, {}); }, "[]"},
        {"clear", [](Cell* s) { series::clear(s); }, "[]"},
        {"swap", [](Cell* s) { block::swap(s, ints({7})); }, "[]"},
        {"trim", [](Cell* s) { block::trim(s, TrimArgs{}); }, "[]"},
    };
    for (auto& r : rows) {
        stack::Mark mark;
        Cell* b = ints({5, 4, 3, 2, 1});
        own(*b);
        meddle_with = b;
        r.act(at(*b, 3));
        EXPECT_EQ(test::mold(*b), r.result) << r.what;
        told.clear();
    }
    Cell* b = ints({1, 2, 3});
    own(*b);
    meddle_with = b;
    Cell nine = I(9);
    EXPECT_EQ(error_of([&] { series::poke(at(*b, 2), 1, &nine, nullptr); }), "script/out-of-range");
}

// ---- hash! index upkeep -------------------------------------------------------------------------

namespace {
// hash! registers with its own datatype; its cells are marked here as it will mark them.
void mark_hash(const Cell& c) {
    collector::mark_block(c.w2);
    if (c.w3) hashtable::mark(c.w3);
}

// Every value 0..9 is found by the table where a scan finds it.
void expect_index_agrees(const Cell& h, const char* what) {
    for (int32_t v = 0; v < 10; ++v) {
        Cell key = I(v);
        int32_t scan = -1;
        for (int32_t i = 0; i < block::rs_length_q(h) + static_cast<int32_t>(h.w1); ++i)
            if (integer::get(*block::rs_abs_at(h, static_cast<uint32_t>(i))) == v) {
                scan = i;
                break;
            }
        EXPECT_EQ(hashtable::search(h.w3, key, 0, 1, actions::equal, false, false), scan) << what << " value " << v;
    }
}

std::string mold_as_block(const Cell& h) {
    Cell b = h;
    cell::set_type(b, T_block);
    b.w3 = 0;
    return test::mold(b);
}
}  // namespace

TEST_F(BlockTest, HashIndexFollowsChanges) {
    datatype::types[T_hash].mark = mark_hash;
    Cell* h = ints({1, 2, 3, 4, 5});
    cell::set_type(*h, T_hash);
    block::index_make(*h);
    expect_index_agrees(*h, "made");
    Cell one = I(1), two = I(2), nine = I(9);
    struct Step {
        const char* what;
        int32_t index;
        std::function<void(Cell*)> act;
        const char* result;
    } steps[] = {
        {"insert", 2, [](Cell* s) { block::append(s, ints({6, 7}), -1, false, 1, false); }, "[1 2 6 7 3 4 5]"},
        {"remove", 1, [&](Cell* s) { series::remove(s, &two, nullptr); }, "[1 7 3 4 5]"},
        {"poke", 0, [&](Cell* s) { series::poke(s, 3, &nine, nullptr); }, "[1 7 9 4 5]"},
        {"change", 0, [](Cell* s) { block::change(s, ints({0, 8, 8}), 1, false, 1); }, "[0 8 8 7 9 4 5]"},
        {"take last", 0, [](Cell* s) { block::take(s, nullptr, false, true); }, "[0 8 8 7 9 4]"},
        {"reverse", 0, [](Cell* s) { series::reverse(s, nullptr, nullptr); }, "[4 9 7 8 8 0]"},
        {"move", 0, [&](Cell* s) { series::move(s, at(*h, 4), &one); }, "[9 7 8 4 8 0]"},
        {"sort", 0, [](Cell* s) { block::sort(s, {}); }, "[0 4 7 8 8 9]"},
        {"swap", 0, [&](Cell* s) { block::swap(s, at(*h, 6)); }, "[9 4 7 8 8 0]"},
        {"clear", 3, [](Cell* s) { series::clear(s); }, "[9 4 7]"},
    };
    for (auto& step : steps) {
        Cell* s = stack::push(*h);
        s->w1 = static_cast<uint32_t>(step.index);
        step.act(s);
        EXPECT_EQ(mold_as_block(*h), step.result) << step.what;
        expect_index_agrees(*h, step.what);
    }
    EXPECT_EQ(static_cast<int32_t>(block::find(h, &nine, {})->w1), 0);
    Cell* from1 = at(*h, 2);
    EXPECT_TRUE(cell::is(*block::find(from1, &nine, {}), T_none));  // the table search starts at the index
    datatype::types[T_hash].mark = nullptr;
}

TEST_F(OwnedTest, ReflectAndModifyOwnership) {
    Cell* b = ints({1});
    Cell* r = stack::push(*b);
    EXPECT_TRUE(cell::is(*series::reflect(r, words::symbols::owned), T_none));
    own(*b);
    r = stack::push(*b);
    EXPECT_TRUE(cell::is(*series::reflect(r, words::symbols::owned), T_object));
    r = stack::push(*b);
    EXPECT_EQ(error_of([&] { series::reflect(r, words::symbols::body); }), "internal/not-done");
    Cell field = word::load("owned");
    series::modify(b, &field, const_cast<Cell*>(&none::value), false);
    r = stack::push(*b);
    EXPECT_TRUE(cell::is(*series::reflect(r, words::symbols::owned), T_none));
    Cell four = I(4);
    block::append(stack::push(*b), &four, -1, false, 1, true);
    EXPECT_EQ(reports(), "");
}
