// The code cache: a block gets a form at its second run; the form goes when the block's cells
// change (reported changes, the in-place append, binding, new-line markers), when the block
// is collected, and never with a copy; the header's word moves with the buffer; a change that
// bypasses every hook is caught by the checking hash; the compiled positions counted are
// those of live forms only.
#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interp.h"
#include "runtime/series_buffer.h"
#include "tests/unit/eval_harness.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;
using memory::Node;

namespace {

bool has_form(Node n) { return memory::buffer(n)->flags & memory::has_form; }

// Runs the block twice, as the walker would: the second run makes the form.
void run_twice(Node n) {
    code_cache::note_run(n);
    code_cache::note_run(n);
}

// Switches restored whatever the test does.
struct CodeCache : Runtime {
    bool walker = interp::walker_only, checking = interp::check_forms;
    ~CodeCache() override {
        interp::walker_only = walker;
        interp::check_forms = checking;
    }
};

// The same, with the boot definitions to run Kov code against.
struct CodeCacheKov : Kov {
    bool walker = interp::walker_only, checking = interp::check_forms;
    ~CodeCacheKov() override {
        interp::walker_only = walker;
        interp::check_forms = checking;
    }
};

}  // namespace

TEST_F(CodeCache, SecondRunMakesTheFormAndCopiesHaveNone) {
    interp::walker_only = false;
    Cell* b = ints({1, 2, 3});
    Node n = b->w2;
    code_cache::note_run(n);
    EXPECT_FALSE(has_form(n));
    EXPECT_EQ(memory::buffer(n)->spare, code_cache::ran_once);
    std::size_t before = code_cache::form_count();
    code_cache::note_run(n);
    EXPECT_TRUE(has_form(n));
    EXPECT_EQ(code_cache::form_count(), before + 1);

    // Copies start unrun: every copying routine clears the flag and the word.
    Node copies[] = {memory::copy_series(n), series::copy_part(n, 0, 2)};
    for (Node c : copies) {
        EXPECT_FALSE(has_form(c));
        EXPECT_EQ(memory::buffer(c)->spare, 0u);
    }

    // A buffer that moves takes its form along.
    uint32_t spare = memory::buffer(n)->spare;
    memory::expand_series(n, 4096);
    EXPECT_TRUE(has_form(n));
    EXPECT_EQ(memory::buffer(n)->spare, spare);
}

TEST_F(CodeCache, ChangesDropTheForm) {
    interp::walker_only = false;
    // In-place append (the fast path), a reported change, binding, new-line markers.
    Cell* b = ints({1, 2});
    run_twice(b->w2);
    Cell v = I(3);
    block::append(b, &v, -1, false, 1, true);
    EXPECT_FALSE(has_form(b->w2));
    EXPECT_EQ(cells::count(b->w2), 3u);

    run_twice(b->w2);
    series::report(*b, series::Change::poke, v, 0, 1);
    EXPECT_FALSE(has_form(b->w2));

    Node ctx = context::create(1, false, false, 0, context::object_kind);
    collector::RootNode keep(ctx);
    Cell w = word::cell_of(T_word, symbol::make("x"));
    context::add_word(ctx, w);
    *series::append_cell(b->w2) = w;
    run_twice(b->w2);
    context::bind(*b, ctx, false);
    EXPECT_FALSE(has_form(b->w2));
    EXPECT_EQ(cells::of(b->w2)[3].w1, ctx);

    // Back to one run: the next run makes a new form.
    code_cache::note_run(b->w2);
    EXPECT_TRUE(has_form(b->w2));
}

TEST_F(CodeCache, WalkerOnlyMakesNoForm) {
    interp::walker_only = true;
    Cell* b = ints({1});
    run_twice(b->w2);
    code_cache::note_run(b->w2);
    EXPECT_FALSE(has_form(b->w2));
    EXPECT_EQ(memory::buffer(b->w2)->spare, 0u);
}

TEST_F(CodeCache, CollectedBlocksLoseTheirForms) {
    interp::walker_only = false;
    CollectorOn on;
    collector::collect();
    std::size_t before = code_cache::form_count();
    {
        Node dead = memory::alloc_cells(4);
        collector::RootNode keep(dead);
        run_twice(dead);
        EXPECT_EQ(code_cache::form_count(), before + 1);
    }
    Cell* live = ints({7});
    run_twice(live->w2);
    collector::collect();
    EXPECT_EQ(code_cache::form_count(), before + 1);
    EXPECT_TRUE(has_form(live->w2));
    code_cache::note_run(live->w2);  // still linked to its form
    EXPECT_TRUE(has_form(live->w2));
}

TEST_F(CodeCache, CheckingCatchesAChangeNoHookSaw) {
    interp::walker_only = false;
    interp::check_forms = true;
    Cell* b = ints({1, 2});
    run_twice(b->w2);
    code_cache::note_run(b->w2);  // unchanged: passes
    EXPECT_TRUE(has_form(b->w2));
    cells::of(b->w2)[1] = I(5);  // behind the cache's back
    EXPECT_DEATH(code_cache::note_run(b->w2), "changed without dropping its compiled form");
}

// Only natives and actions run here besides the blocks written out, so no function body of
// the boot gets a form of its own in between; the forms of earlier tests' dead blocks go
// first, so that no collection in between drops them.
TEST_F(CodeCacheKov, CompiledCellsCountTheStatementsOfLiveForms) {
    interp::walker_only = false;
    {
        CollectorOn on;
        collector::collect();
    }
    std::size_t before = code_cache::compiled_cells();
    // Two statements compile; the lit-word is the walker's.
    ASSERT_EQ(eval("b: [x: x + 1 y: x * 2 'a] x: 0 loop 3 b x"), "3");
    ASSERT_TRUE(has_form(global("b").w2));
    EXPECT_EQ(code_cache::compiled_cells(), before + 2);
    // A block run once has no form; run twice, a form and nothing compiled yet.
    ASSERT_EQ(eval("do [x: x + 1 y: x * 2] x"), "4");
    EXPECT_EQ(code_cache::compiled_cells(), before + 2);
    ASSERT_EQ(eval("c: [y: y + x] y: 0 loop 2 c y"), "8");
    ASSERT_TRUE(has_form(global("c").w2));
    EXPECT_EQ(code_cache::compiled_cells(), before + 2);
    ASSERT_EQ(eval("loop 1 c y"), "12");
    EXPECT_EQ(code_cache::compiled_cells(), before + 3);
    // A changed block's form goes, its compiled statements with it, and its memory at once,
    // not at the next collection.
    std::size_t bytes = code_cache::bytes();
    ASSERT_EQ(eval("append b quote c length? b"), "10");
    EXPECT_EQ(code_cache::compiled_cells(), before + 1);
    EXPECT_LT(code_cache::bytes(), bytes);
}
