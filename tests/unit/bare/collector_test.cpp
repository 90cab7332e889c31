// The collector: reachable series survive with their contents, unreachable ones are
// reclaimed, handles are finalized once, and the heap stays consistent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/registry.h"
#include "runtime/error.h"
#include "runtime/handles.h"
#include "runtime/heap.h"
#include "runtime/memory.h"
#include "runtime/series_buffer.h"

using namespace kov;
using memory::Node;

namespace {

int finalized = 0;
std::vector<uintptr_t> finalized_objects;
uint32_t test_kind = 0;

void mark_handle(const Cell& c) {
    if (static_cast<int32_t>(c.w3) >= 0) handles::mark(static_cast<int32_t>(c.w3));
}

struct CollectorTest : ::testing::Test {
    void SetUp() override {
        memory::init();
        memory::free_all();
        handles::init();
        collector::init();
        collector::enable(true);
        collector::set_stress_interval(1);
        using datatype::Registration;
        datatype::register_type({.id = T_block, .parent = 0, .name = "block!", .rest = datatype::Rest::empty,
                                 .mark = collector::mark_block_value, .actions = {}});
        datatype::register_type({.id = T_string, .parent = 0, .name = "string!", .rest = datatype::Rest::empty,
                                 .mark = collector::mark_string_value, .actions = {}});
        datatype::register_type({.id = T_handle, .parent = 0, .name = "handle!", .rest = datatype::Rest::empty,
                                 .mark = mark_handle, .actions = {}});
        if (!test_kind)
            test_kind = handles::register_type("test", [](uintptr_t o) {
                ++finalized;
                finalized_objects.push_back(o);
            });
    }
    void TearDown() override {
        collector::enable(false);
        collector::collect();  // finalizes what the test left behind
        memory::free_all();
    }
};

uint32_t checksum(Node n) {
    memory::Buffer* b = memory::buffer(n);
    uint32_t h = 2166136261u ^ b->unit();
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); ++p) h = (h ^ *p) * 16777619u;
    return h;
}

Cell block_cell(Node n) { return Cell{T_block, 0, n, 0}; }
Cell string_cell(Node n) { return Cell{T_string, 0, n, 0}; }

// Appends a cell to a block held by node (the block may move; nothing is kept across).
void append(Node block, const Cell& c) { *series::append_cell(block) = c; }

}  // namespace

TEST_F(CollectorTest, UnreachableSeriesAreReclaimed) {
    Node root = memory::alloc_cells(4);
    collector::RootNode keep(root);
    Node s = memory::alloc_bytes(100);
    std::memcpy(series::reserve(s, 5), "hello", 5);
    append(root, string_cell(s));
    for (int i = 0; i < 1000; ++i) memory::alloc_bytes(64);  // garbage
    double before = memory::bytes_in_use();
    collector::collect();
    EXPECT_LT(memory::bytes_in_use(), before);
    EXPECT_TRUE(memory::valid_node(s));
    EXPECT_EQ(std::memcmp(memory::buffer(s)->head_ptr(), "hello", 5), 0);
    EXPECT_EQ(memory::verify(), nullptr);
    // Only the root block and the string remain.
    uint32_t live = 0;
    memory::for_each_buffer([&](memory::Buffer*) { ++live; });
    EXPECT_EQ(live, 2u);
    double expected = 2 * 8.0 + (memory::buffer(root)->size + 24) + (memory::buffer(s)->size + 24);
    EXPECT_EQ(memory::bytes_in_use(), expected);
}

TEST_F(CollectorTest, RootGuardsKeepTemporariesAlive) {
    Node a = memory::alloc_bytes(16);
    Cell c = string_cell(a);
    {
        collector::Root r(c);
        collector::collect();
        EXPECT_TRUE(memory::valid_node(a));
    }
    collector::collect();
    EXPECT_FALSE(memory::valid_node(a));
}

namespace {
// Nests one Root guard per level (more levels than the guards' fixed array holds), collects
// at the deepest, and checks every guarded string survived with its contents.
void nest_roots(std::vector<Node>& nodes, uint32_t depth) {
    if (depth == 0) {
        collector::collect();
        for (Node n : nodes) EXPECT_TRUE(memory::valid_node(n));
        EXPECT_EQ(memory::verify(), nullptr);
        return;
    }
    Node s = memory::alloc_bytes(8);
    std::memcpy(series::reserve(s, 4), &depth, 4);
    Cell c = string_cell(s);
    collector::Root keep(c);
    Node raw = memory::alloc_bytes(8);
    collector::RootNode keep_raw(raw);
    nodes.push_back(s);
    nodes.push_back(raw);
    nest_roots(nodes, depth - 1);
    uint32_t stored;
    std::memcpy(&stored, memory::buffer(c.w2)->head_ptr(), 4);
    EXPECT_EQ(stored, depth);
}
}  // namespace

TEST_F(CollectorTest, DeeplyNestedRootGuardsSpillAndUnwind) {
    std::vector<Node> nodes;
    nest_roots(nodes, 600);
    // Every guard is gone again: the next collection reclaims them all.
    collector::collect();
    for (Node n : nodes) EXPECT_FALSE(memory::valid_node(n));
}

TEST_F(CollectorTest, ExternalRootsReuseReleasedEntries) {
    static Node held = 0;
    held = memory::alloc_bytes(16);
    auto fn = [] { collector::mark_series(held); };
    uint32_t first = collector::push_root(fn);
    collector::collect();
    EXPECT_TRUE(memory::valid_node(held));
    collector::release_root(fn);
    uint32_t again = collector::push_root(fn);
    EXPECT_EQ(again, first);
    for (int i = 0; i < 150; ++i) collector::push_root(+[] {});  // grows past 100 entries
    collector::collect();
    EXPECT_TRUE(memory::valid_node(held));
    collector::release_root(fn);
    collector::collect();
    EXPECT_FALSE(memory::valid_node(held));
}

TEST_F(CollectorTest, DeeplyNestedBlocksAreMarkedWithoutRecursion) {
    collector::enable(false);  // build it first, then collect once
    Node outer = memory::alloc_cells(1);
    collector::RootNode keep(outer);
    Node cur = outer;
    for (int i = 0; i < 1000000; ++i) {
        Node inner = memory::alloc_cells(1);
        append(cur, block_cell(inner));
        cur = inner;
    }
    Node leaf = memory::alloc_bytes(16);
    append(cur, string_cell(leaf));
    collector::enable(true);
    collector::collect();
    EXPECT_TRUE(memory::valid_node(leaf));
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(CollectorTest, HandlesAreFinalizedOnceWhenUnreachable) {
    finalized = 0;
    finalized_objects.clear();
    Node root = memory::alloc_cells(4);
    collector::RootNode keep(root);
    int32_t kept = handles::add(0x1111, test_kind);
    int32_t lost = handles::add(0x2222, test_kind);
    append(root, Cell{T_handle, 0, 0, static_cast<uint32_t>(kept)});
    Cell none_handle{T_handle, 0, 0, 0xFFFFFFFFu};  // word 3 negative: marks nothing
    append(root, none_handle);
    (void)lost;
    collector::collect();
    collector::collect();
    EXPECT_EQ(finalized, 1);
    ASSERT_EQ(finalized_objects.size(), 1u);
    EXPECT_EQ(finalized_objects[0], 0x2222u);
    EXPECT_EQ(handles::object(kept), 0x1111u);
}

TEST(Handles, GrowingKeepsIndexes) {
    handles::init();
    uint32_t kind = handles::register_type("plain", nullptr);
    std::vector<int32_t> taken;
    uint32_t start = handles::capacity();
    while (handles::capacity() == start) taken.push_back(handles::add(taken.size() + 1, kind));
    EXPECT_EQ(handles::capacity(), start * 2);
    for (std::size_t i = 0; i < taken.size(); ++i) EXPECT_EQ(handles::object(taken[i]), i + 1);
    // Removing a slot in the middle keeps the others.
    int32_t mid = taken[taken.size() / 2];
    EXPECT_EQ(handles::remove(mid, false), -1);
    EXPECT_EQ(handles::object(taken[0]), 1u);
    for (int32_t t : taken) handles::remove(t, false);
}

// Random object graphs: blocks holding blocks, strings of every unit, big buffers and
// handles, changed between thousands of collections. Every reachable series keeps its
// contents; the heap verifier finds nothing.
TEST_F(CollectorTest, RandomGraphStress) {
    finalized = 0;
    std::mt19937 rng(99);
    Node root = memory::alloc_cells(8);
    collector::RootNode keep(root);
    struct Tracked {
        Node node;
        uint32_t sum;
        bool is_block;
    };
    // What the test expects, indexed like the root block's cells.
    std::vector<Tracked> tracked;
    int handles_made = 0;
    auto make_string = [&](bool big_one) {
        uint32_t unit = 1u << (rng() % 3);
        uint32_t units = big_one ? 700000 : rng() % 300;
        Node n = memory::alloc_series(units, unit, 0);
        uint8_t* p = series::reserve(n, uint64_t(units) * unit);
        for (uint64_t i = 0; i < uint64_t(units) * unit; ++i) p[i] = static_cast<uint8_t>(rng());
        return n;
    };
#ifdef KOV_GC_STRESS
    const int steps = 3000;
#else
    const int steps = 20000;
#endif
    for (int step = 0; step < steps; ++step) {
        int op = rng() % 10;
        if (op < 4 || tracked.empty()) {
            Node s = make_string(rng() % 400 == 0);
            Cell sc = string_cell(s);
            collector::Root r(sc);  // growing the root block may collect
            append(root, sc);
            tracked.push_back({s, checksum(s), false});
        } else if (op < 6) {
            // A block holding a string and a handle, reached only through the root block.
            Node b = memory::alloc_cells(2);
            Cell bc = block_cell(b);
            collector::Root r(bc);
            Node s = make_string(false);
            append(b, string_cell(s));  // fits: no allocation
            append(b, Cell{T_handle, 0, 0, static_cast<uint32_t>(handles::add(++handles_made, test_kind))});
            append(root, bc);
            tracked.push_back({b, 0, true});
        } else if (op < 8) {
            // Drop a random entry: replace it by none and forget it.
            std::size_t i = rng() % tracked.size();
            auto cells = reinterpret_cast<Cell*>(memory::buffer(root)->head_ptr());
            cells[i] = Cell{T_none, 0, 0, 0};
            tracked[i] = {0, 0, false};
        } else {
            for (int g = 0; g < 20; ++g) memory::alloc_bytes(rng() % 2000);  // garbage
        }
        if (step % 50 == 0) collector::collect();
        if (step % 500 == 0) {
            ASSERT_EQ(memory::verify(), nullptr) << step;
        }
    }
    collector::collect();
    ASSERT_EQ(memory::verify(), nullptr);
    auto cells = reinterpret_cast<Cell*>(memory::buffer(root)->head_ptr());
    std::size_t live_strings = 0, live_blocks = 0;
    for (std::size_t i = 0; i < tracked.size(); ++i) {
        if (!tracked[i].node) {
            EXPECT_EQ(cell::type(cells[i]), uint32_t(T_none));
            continue;
        }
        ASSERT_EQ(cells[i].w2, tracked[i].node);
        ASSERT_TRUE(memory::valid_node(tracked[i].node));
        if (tracked[i].is_block) {
            ++live_blocks;
            EXPECT_EQ(memory::buffer(tracked[i].node)->used(), 32u);
        } else {
            ++live_strings;
            ASSERT_EQ(checksum(tracked[i].node), tracked[i].sum);
        }
    }
    // Everything dropped is gone: the live buffers are exactly root + strings + blocks and
    // their inner strings.
    uint32_t buffers = 0;
    memory::for_each_buffer([&](memory::Buffer*) { ++buffers; });
    EXPECT_EQ(buffers, 1 + live_strings + 2 * live_blocks);
    EXPECT_EQ(handles::in_use(), live_blocks);
    EXPECT_EQ(finalized, handles_made - static_cast<int>(live_blocks));
}

// ---- when collections run ----------------------------------------------------------------------

namespace {
// A rooted block holding `count` strings of `bytes` bytes each: the live data of a test.
Node live_strings(Node root, uint32_t count, uint32_t bytes) {
    for (uint32_t i = 0; i < count; ++i) {
        Node s = memory::alloc_bytes(bytes);
        Cell sc = string_cell(s);
        collector::Root r(sc);
        std::memset(series::reserve(s, bytes), static_cast<int>(i), bytes);
        append(root, sc);
    }
    return root;
}
}  // namespace

TEST_F(CollectorTest, GarbageAloneNeverGrowsTheFrames) {
    Node root = memory::alloc_cells(4);
    collector::RootNode keep(root);
    Node s = memory::alloc_bytes(16);
    std::memcpy(series::reserve(s, 5), "kept!", 5);
    append(root, string_cell(s));
    uint32_t before = collector::collections();
    uint64_t most = 0;
    // About 20 MiB of small garbage, then 40 MiB of garbage buffers of 40 KiB.
    for (int i = 0; i < 200000; ++i) {
        memory::alloc_cells(3);
        most = std::max(most, memory::frame_bytes());
    }
    for (int i = 0; i < 1000; ++i) {
        memory::alloc_bytes(40000);
        most = std::max(most, memory::frame_bytes());
    }
    EXPECT_GT(collector::collections(), before);
    EXPECT_LT(most, uint64_t(12) << 20);
    EXPECT_EQ(std::memcmp(memory::buffer(s)->head_ptr(), "kept!", 5), 0);
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(CollectorTest, NodesTakenWithoutFrameBuffersCountTowardsACollection) {
    memory::alloc_bytes(16);  // a series frame with room, so that only the budget can collect
    collector::collect();
    uint32_t before = collector::collections();
    // Fixed series take nodes and heap memory, never series frames; none of them collects.
    for (int i = 0; i < 20000; ++i) memory::alloc_fixed_series(200, 1, 0);
    EXPECT_EQ(collector::collections(), before);
    EXPECT_GE(memory::taken_since_collection(), memory::collection_budget());
    memory::alloc_bytes(16);  // the next buffer allocation is where the budget is checked
    EXPECT_GT(collector::collections(), before);
    EXPECT_LT(memory::taken_since_collection(), memory::collection_budget());
}

#ifndef KOV_GC_STRESS  // there every allocation collects
TEST_F(CollectorTest, CollectionsAreSpacedByTheLiveSize) {
    // 24 MiB live in small strings: collecting whenever a 2 MiB frame fills would mark it
    // dozens of times over while 48 MiB of garbage is made; the budget allows a few.
    Node root = memory::alloc_cells(16);
    collector::RootNode keep(root);
    live_strings(root, 24 * 1024, 1000);
    collector::collect();
    uint32_t before = collector::collections();
    for (int i = 0; i < 48 * 1024; ++i) memory::alloc_bytes(1000);
    uint32_t ran = collector::collections() - before;
    EXPECT_GE(ran, 1u);
    EXPECT_LE(ran, 3u);
    EXPECT_EQ(memory::verify(), nullptr);
}
#endif

TEST_F(CollectorTest, RefusedPagesAreAskedForAgainAfterACollection) {
    // Live data large enough that neither the budget nor the big-buffer rule collects before
    // the second big buffer; the pages for it are refused until garbage is given back.
    Node root = memory::alloc_cells(16);
    collector::RootNode keep(root);
    live_strings(root, 1, 10u << 20);
    collector::collect();
    memory::alloc_bytes(3u << 20);  // garbage: a big frame of its own
    memory::set_frame_limit(memory::frame_bytes() + (1u << 20));
    uint32_t before = collector::collections();
    Node next = memory::alloc_bytes(3u << 20);
    EXPECT_GT(collector::collections(), before);
    EXPECT_TRUE(memory::valid_node(next));
    EXPECT_EQ(memory::verify(), nullptr);

    // When the collection frees nothing, the refusal stands: no-memory, and the heap is sound.
    Cell kept = string_cell(next);
    collector::Root r(kept);
    try {
        memory::alloc_bytes(3u << 20);
        ADD_FAILURE() << "allocation past the limit succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.id, err::internal_no_memory);
    }
    EXPECT_TRUE(memory::valid_node(next));
    EXPECT_EQ(memory::verify(), nullptr);
}

// ---- node-frame evacuation ----------------------------------------------------------------------

namespace {

Cell evacuation_root{T_none, 0, 0, 0};
void mark_evacuation_root() { collector::mark_cell(evacuation_root); }

// 4-byte strings numbered from 0 (holding their number + 1000000, which is no node id). The root block and the first 9999 fill node frame 1, of which
// all but ten are kept (so that frame takes new nodes); the next 20000 (kept) fill frames 2
// and 3; the next 10000 fill frame 4, of which every tenth is kept; the last 5001 (kept) fill
// half of frame 5. Frame 4 is the sparse one: the ids of frames 2 and 3 include the upper
// halves of user-space addresses, which the native stack always holds.
bool kept_number(uint32_t i) { return i < 9999 ? i >= 10 : i >= 29999 && i < 39999 ? (i - 29999) % 10 == 0 : true; }
constexpr uint32_t string_count = 45000;
constexpr uint32_t kept_count = 9989 + 20000 + 1000 + 5001;

// Built in a frame of its own, so that no id of it is left on the stack of the test.
[[gnu::noinline]] void build_sparse_frame() {
    collector::enable(false);
    Node root = memory::alloc_cells(kept_count);
    for (uint32_t i = 0; i < string_count; ++i) {
        Node n = memory::alloc_bytes(4);
        memory::Buffer* b = memory::buffer(n);
        uint32_t content = i + 1000000;
        std::memcpy(b->data(), &content, 4);
        b->tail = 4;
        if (kept_number(i)) append(root, string_cell(n));
    }
    evacuation_root = block_cell(root);
    collector::enable(true);
}

// Clears the stack below the caller, where the builder's values are left behind: the
// collector's frames will lie there, and it reads its own stack too.
[[gnu::noinline]] void clear_stack_below() {
    volatile uint8_t area[64 * 1024];
    for (auto& b : area) b = 0;
}

// Every kept string still holds its number.
[[gnu::noinline]] std::string kept_strings_fault() {
    memory::Buffer* b = memory::buffer(evacuation_root.w2);
    auto cells = reinterpret_cast<const Cell*>(b->head_ptr());
    uint32_t count = b->used() / sizeof(Cell);
    if (count != kept_count) return "root block lost cells";
    uint32_t k = 0;
    for (uint32_t i = 0; i < string_count; ++i) {
        if (!kept_number(i)) continue;
        if (!memory::valid_node(cells[k].w2)) return "dangling node " + std::to_string(cells[k].w2);
        memory::Buffer* s = memory::buffer(cells[k].w2);
        uint32_t got;
        std::memcpy(&got, s->data(), 4);
        if (s->used() != 4 || got != i + 1000000) return "string " + std::to_string(i) + " changed";
        ++k;
    }
    return "";
}

bool sparse_frame_in_use() { return memory::frames_by_index[4] != nullptr; }

}  // namespace

TEST_F(CollectorTest, SparseStableNodeFramesAreEvacuated) {
    uint32_t root = collector::push_root(mark_evacuation_root);
    build_sparse_frame();
    clear_stack_below();
    uint32_t before = collector::evacuations();
    // Five collections are not enough: the frame must be seen unchanged over six.
    for (int i = 0; i < 6; ++i) collector::collect();
    EXPECT_EQ(collector::evacuations(), before);
    EXPECT_TRUE(sparse_frame_in_use());
    for (int i = 0; i < 3; ++i) collector::collect();
    EXPECT_EQ(collector::evacuations(), before + 1);
    EXPECT_FALSE(sparse_frame_in_use()) << "the evacuated frame is released";
    EXPECT_EQ(kept_strings_fault(), "");
    EXPECT_EQ(memory::verify(), nullptr);
    // The moved nodes live on like any other: garbage is still collected around them.
    for (int i = 0; i < 2000; ++i) memory::alloc_bytes(64);
    collector::collect();
    EXPECT_EQ(kept_strings_fault(), "");
    EXPECT_EQ(memory::verify(), nullptr);
    evacuation_root = Cell{T_none, 0, 0, 0};
    collector::release_root(mark_evacuation_root);
    (void)root;
}

// A number on the native stack that falls among a candidate frame's ids, but names no node
// in use (a size, a count, the id of a node freed since), holds nothing in place.
TEST_F(CollectorTest, FreeIdsOnTheStackDoNotPin) {
    uint32_t root = collector::push_root(mark_evacuation_root);
    build_sparse_frame();
    clear_stack_below();
    collector::collect();  // the dropped strings give their nodes back
    volatile Node held = 0;
    for (Node id = 4 * memory::node_frame_capacity; id < 5 * memory::node_frame_capacity && !held; ++id)
        if (!memory::valid_node(id)) held = id;
    ASSERT_NE(held, 0u);
    uint32_t before = collector::evacuations();
    for (int i = 0; i < 9; ++i) collector::collect();
    EXPECT_EQ(collector::evacuations(), before + 1);
    EXPECT_FALSE(sparse_frame_in_use());
    EXPECT_EQ(kept_strings_fault(), "");
    EXPECT_EQ(memory::verify(), nullptr);
    evacuation_root = Cell{T_none, 0, 0, 0};
    collector::release_root(mark_evacuation_root);
    (void)root;
}

// Nor does such a number in a block of the tracked heap (a buffer C++ code keeps, holding
// stale values) or among the bytes of a live series: only ids of nodes in use pin.
TEST_F(CollectorTest, FreeIdsInTheHeapAndInLiveBuffersDoNotPin) {
    uint32_t root = collector::push_root(mark_evacuation_root);
    build_sparse_frame();
    clear_stack_below();
    collector::collect();  // the dropped strings give their nodes back
    Node free_ids[2] = {0, 0};
    for (Node id = 4 * memory::node_frame_capacity; id < 5 * memory::node_frame_capacity && !free_ids[1]; ++id)
        if (!memory::valid_node(id)) {
            if (free_ids[0]) free_ids[1] = id;
            else free_ids[0] = id;
        }
    ASSERT_NE(free_ids[1], 0u);
    auto* block = static_cast<Node*>(heap::allocate(16 * sizeof(Node)));
    for (int i = 0; i < 16; ++i) block[i] = free_ids[i % 2];
    Node bytes = memory::alloc_bytes(16);
    ASSERT_NE(bytes / memory::node_frame_capacity, 4u) << "the buffer would pin the sparse frame itself";
    memory::Buffer* b = memory::buffer(bytes);
    for (int i = 0; i < 4; ++i) std::memcpy(b->data() + 4 * i, &free_ids[i % 2], 4);
    b->tail = 16;
    collector::RootNode keep(bytes);
    uint32_t before = collector::evacuations();
    for (int i = 0; i < 9; ++i) collector::collect();
    EXPECT_EQ(collector::evacuations(), before + 1);
    EXPECT_FALSE(sparse_frame_in_use());
    EXPECT_EQ(kept_strings_fault(), "");
    EXPECT_EQ(memory::verify(), nullptr);
    heap::free(block);
    evacuation_root = Cell{T_none, 0, 0, 0};
    collector::release_root(mark_evacuation_root);
    (void)root;
}

TEST_F(CollectorTest, NodeIdsHeldOutsideCellsPinTheirFrame) {
    uint32_t root = collector::push_root(mark_evacuation_root);
    build_sparse_frame();
    clear_stack_below();
    // A copy of one kept node's id on the native stack, as any C++ routine may hold it.
    volatile Node held = 0;
    held = reinterpret_cast<const Cell*>(memory::buffer(evacuation_root.w2)->head_ptr())[9989 + 20000 + 500].w2;
    uint32_t before = collector::evacuations();
    for (int i = 0; i < 14; ++i) collector::collect();
    EXPECT_EQ(collector::evacuations(), before);
    EXPECT_TRUE(memory::valid_node(held));
    EXPECT_TRUE(sparse_frame_in_use());
    EXPECT_EQ(kept_strings_fault(), "");
    EXPECT_EQ(memory::verify(), nullptr);
    // The same id kept by a RootNode guard (a root outside any cell) pins it too.
    {
        Node kept = held;
        held = 0;
        collector::RootNode guard(kept);
        for (int i = 0; i < 14; ++i) collector::collect();
        EXPECT_EQ(collector::evacuations(), before);
        EXPECT_TRUE(memory::valid_node(kept));
    }
    evacuation_root = Cell{T_none, 0, 0, 0};
    collector::release_root(mark_evacuation_root);
    (void)root;
}
