// The memory manager: frames, nodes, buffers, growing, copying and the statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/error.h"
#include "runtime/heap.h"
#include "runtime/memory.h"
#include "runtime/series_buffer.h"

using namespace kov;
using namespace kov::memory;

namespace {

struct MemoryTest : ::testing::Test {
    void SetUp() override {
        init();
        free_all();
    }
    void TearDown() override { free_all(); }
};

uint32_t checksum(Node n) {
    Buffer* b = buffer(n);
    uint32_t h = 2166136261u;
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); ++p) h = (h ^ *p) * 16777619u;
    return h ^ b->used();
}

}  // namespace

TEST_F(MemoryTest, BufferHeaderAndHeadOffsets) {
    Node n = alloc_series(0, 1, 0);
    Buffer* b = buffer(n);
    EXPECT_EQ(b->size, 0u);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(b->flags & (in_use | allocated), in_use | allocated);
    EXPECT_EQ(buffer(alloc_bytes(0))->size, 16u);
    EXPECT_EQ(buffer(alloc_units(0, 4))->size, 16u);

    Node m = alloc_series(10, 4, -1);  // 40 bytes round to 48; the head sits in the middle
    b = buffer(m);
    EXPECT_EQ(b->size, 48u);
    EXPECT_EQ(b->head, 24u);
    EXPECT_EQ(b->tail, 24u);
    EXPECT_TRUE(b->flags & middle);
    EXPECT_EQ(b->unit(), 4u);
    EXPECT_EQ(verify(), nullptr);
}

TEST_F(MemoryTest, BigBuffersAndFrameSizes) {
    // The smallest need at or above 2 MiB is big (needs are 8 more than a multiple of 16);
    // the one below is not.
    Node big1 = alloc_series(largest_series_frame - 16, 1, 0);
    EXPECT_TRUE(buffer(big1)->flags & big);
    EXPECT_EQ(big_frame_count(), 1u);
    Node small = alloc_series(largest_series_frame - 32, 1, 0);
    EXPECT_FALSE(buffer(small)->flags & big);
    // The first frame made on demand is 1 MiB: this need did not fit it, so it forced a 2 MiB one.
    uint32_t nodes = 0, series = 0, bigs = 0;
    FrameFigures nf[8], sf[8];
    uint64_t bf[8];
    frame_figures(nf, nodes, sf, series, bf, bigs, 8);
    ASSERT_EQ(series, 1u);
    EXPECT_EQ(sf[0].total, uint64_t(largest_series_frame));
    EXPECT_EQ(bf[0], uint64_t(largest_series_frame) + 8);
    EXPECT_EQ(verify(), nullptr);
}

TEST_F(MemoryTest, FirstFrameIsOneMiBThenTwo) {
    alloc_bytes(100);
    uint32_t nodes, series, bigs;
    FrameFigures nf[8], sf[8];
    uint64_t bf[8];
    frame_figures(nf, nodes, sf, series, bf, bigs, 8);
    ASSERT_EQ(series, 1u);
    EXPECT_EQ(sf[0].total, uint64_t(initial_series_frame));
    // Fill it until a second frame is needed.
    while (series_frame_count() < 2) alloc_bytes(100000);
    frame_figures(nf, nodes, sf, series, bf, bigs, 8);
    uint64_t totals[2] = {sf[0].total, sf[1].total};
    std::sort(totals, totals + 2);
    EXPECT_EQ(totals[0], uint64_t(initial_series_frame));
    EXPECT_EQ(totals[1], uint64_t(largest_series_frame));
}

TEST_F(MemoryTest, GrowingKeepsContentNodeAndLength) {
    Node n = alloc_bytes(16);
    std::memcpy(series::reserve(n, 10), "0123456789", 10);
    Buffer* b = expand_series(n, 0);  // 16 bytes double to 32
    EXPECT_EQ(b->size, 32u);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(buffer(n), b);
    EXPECT_EQ(b->head, 0u);
    EXPECT_EQ(b->used(), 10u);
    EXPECT_EQ(std::memcmp(b->head_ptr(), "0123456789", 10), 0);
    Buffer* f = expand_series_filled(n, 64, 0xAB);
    EXPECT_EQ(f->data()[40], 0xAB);
    EXPECT_EQ(verify(), nullptr);
}

TEST_F(MemoryTest, GrowingAnEmptyBufferByDoublingIsRefused) {
    Node n = alloc_series(0, 1, 0);
    EXPECT_THROW(expand_series(n, 0), Error);
}

TEST_F(MemoryTest, ReserveGrowthRule) {
    Node n = alloc_bytes(16);
    buffer(n)->tail = 16;              // full
    series::reserve(n, 100);           // size below 100: grows to 200, rounded to 208
    EXPECT_EQ(buffer(n)->size, 208u);
    EXPECT_EQ(buffer(n)->used(), 116u);
    Node m = alloc_bytes(16);
    buffer(m)->tail = 16;
    series::reserve(m, 8);             // doubles
    EXPECT_EQ(buffer(m)->size, 32u);
}

TEST_F(MemoryTest, OversizedRequestsRaiseNoMemory) {
    auto raises = [](auto fn) {
        try {
            fn();
        } catch (const Error& e) {
            return e.id == err::internal_no_memory;
        }
        return false;
    };
    EXPECT_TRUE(raises([] { alloc_series(uint64_t(1) << 33, 1, 0); }));
    EXPECT_TRUE(raises([] { alloc_series(0x40000000, 4, 0); }));  // 4 GiB: would wrap in 32 bits
    EXPECT_TRUE(raises([] { alloc_series(uint64_t(0xFFFFFFFF), 16, 0); }));
    EXPECT_EQ(err::code(err::internal_no_memory), 900u);
}

TEST_F(MemoryTest, FixedBuffersGrowOnTheHeap) {
    Node n = alloc_fixed_series(4, 16, 0);
    Buffer* b = buffer(n);
    EXPECT_TRUE(b->flags & fixed);
    std::memcpy(series::reserve(n, 5), "fixed", 5);
    std::size_t blocks = heap::block_count();
    Buffer* g = expand_series(n, 1024);
    EXPECT_TRUE(g->flags & fixed);
    EXPECT_EQ(std::memcmp(g->head_ptr(), "fixed", 5), 0);
    EXPECT_EQ(heap::block_count(), blocks);  // the old block was freed, not leaked
}

TEST_F(MemoryTest, NodesComeBackThroughTheFreeList) {
    Node a = alloc_node();
    Node b = alloc_node();
    EXPECT_GE(a, node_frame_capacity);  // no node id below the first frame
    EXPECT_NE(a, b);
    free_node(b);
    EXPECT_EQ(alloc_node(), b);
    // Filling a frame makes a second one.
    std::vector<Node> all;
    for (uint32_t i = 0; i < node_frame_capacity + 5; ++i) all.push_back(alloc_node());
    EXPECT_EQ(node_frame_count(), 2u);
    for (Node n : all) free_node(n);
    free_node(a);
    free_node(b);
    EXPECT_EQ(verify(), nullptr);
    update_node_frames(1);  // empty frames are released
    EXPECT_EQ(node_frame_count(), 0u);
}

// A new frame's slots are written into its free list a page at a time, as the list runs
// out: the slots after the first page stay untouched until the nodes before them are used,
// and a frame whose index is used again starts untouched too.
TEST_F(MemoryTest, NodeSlotsStayUntouchedUntilUsed) {
    constexpr uint32_t page_slots = 512;
    Node a = alloc_node();
    Node b = alloc_node();
    Node first = a - a % node_frame_capacity;
    EXPECT_EQ(a, first);
    EXPECT_EQ(b, first + 1);
    for (uint32_t i = page_slots; i < node_frame_capacity; ++i) EXPECT_EQ(node_table[first + i], 0u) << i;
    EXPECT_EQ(verify(), nullptr);
    // Freed slots come first, then the untouched ones in order, up to the frame's end.
    free_node(a);
    EXPECT_EQ(alloc_node(), a);
    EXPECT_EQ(alloc_node(), first + 2);
    EXPECT_EQ(verify(), nullptr);
    std::vector<Node> rest;
    for (uint32_t i = 3; i < node_frame_capacity; ++i) rest.push_back(alloc_node());
    EXPECT_EQ(rest.back(), first + node_frame_capacity - 1);
    EXPECT_EQ(node_frame_count(), 1u);
    EXPECT_EQ(verify(), nullptr);
    Node next = alloc_node();  // the frame is full: a second one
    EXPECT_EQ(node_frame_count(), 2u);
    EXPECT_EQ(next % node_frame_capacity, 0u);
    // Emptied and released, the first frame's index comes back with untouched slots, even
    // in the pages it shares with its neighbours.
    for (Node n : rest) free_node(n);
    free_node(a);
    free_node(b);
    free_node(first + 2);
    EXPECT_EQ(verify(), nullptr);
    update_node_frames(1);
    EXPECT_EQ(node_frame_count(), 1u);
    std::vector<Node> second;
    for (uint32_t i = 1; i < node_frame_capacity; ++i) second.push_back(alloc_node());
    EXPECT_EQ(node_frame_count(), 1u);
    Node again = alloc_node();
    EXPECT_EQ(node_frame_count(), 2u);
    EXPECT_EQ(again, first);
    for (uint32_t i = page_slots; i < node_frame_capacity; ++i) EXPECT_EQ(node_table[first + i], 0u) << i;
    EXPECT_EQ(verify(), nullptr);
}

// The node table has room for the first frames of ids at start and moves to a larger
// reservation when a frame past them is made: every node keeps its id and its buffer, and the
// free lists stay whole.
TEST_F(MemoryTest, NodeTableMovesWhenFramesOutgrowIt) {
    std::vector<Node> series;
    for (uint32_t i = 0; i < 100; ++i) {
        Node n = alloc_bytes(16);
        buffer(n)->data()[0] = uint8_t(i);
        series.push_back(n);
    }
    Node spare = alloc_node();
    free_node(spare);
    const uint64_t* before = node_table;
    Node last = 0;
    while (node_table == before) last = alloc_node();  // nodes without buffers: quick to make
    EXPECT_EQ(node_frame_count(), initial_node_frames);
    EXPECT_EQ(last / node_frame_capacity, initial_node_frames);
    for (uint32_t i = 0; i < 100; ++i) {
        EXPECT_EQ(buffer(series[i])->node, series[i]);
        EXPECT_EQ(buffer(series[i])->data()[0], i);
    }
    EXPECT_EQ(verify(), nullptr);
}

// Many series of units 1, 2 and 4, made, grown, copied and dropped at random: each keeps its
// contents, and the statistics equal the sum kept by hand.
TEST_F(MemoryTest, RandomSeriesStress) {
    std::mt19937 rng(1234);
    struct Live {
        Node node;
        uint32_t sum;
    };
    std::vector<Live> live;
    uint64_t frame_bytes_by_hand = 0;  // every buffer ever placed in a series frame stays until compaction
    uint64_t big_bytes_by_hand = 0;
    auto account = [&](Node n) {
        Buffer* b = buffer(n);
        uint64_t need = uint64_t(b->size) + 24;
        if (b->flags & big) big_bytes_by_hand += need; else frame_bytes_by_hand += need;
    };
    auto fill_random = [&](Node n, uint32_t units) {
        uint32_t unit = buffer(n)->unit();
        uint8_t* p = series::reserve(n, uint64_t(units) * unit);
        for (uint32_t i = 0; i < units * unit; ++i) p[i] = static_cast<uint8_t>(rng());
    };
    for (int step = 0; step < 200000; ++step) {
        int op = live.empty() ? 0 : static_cast<int>(rng() % 10);
        if (op < 4) {
            uint32_t unit = 1u << (rng() % 3);
            uint32_t units = rng() % 200;
            if (rng() % 5000 == 0) units = 600000;  // now and then a big one
            Node n = alloc_series(units, unit, 0);
            account(n);
            uint32_t size_before = buffer(n)->size;
            fill_random(n, units);
            ASSERT_EQ(buffer(n)->size, size_before);
            live.push_back({n, checksum(n)});
        } else if (op < 6) {
            Live& l = live[rng() % live.size()];
            ASSERT_EQ(checksum(l.node), l.sum);
            bool was_big = buffer(l.node)->flags & big;
            uint64_t old_need = uint64_t(buffer(l.node)->size) + 24;
            expand_series(l.node, buffer(l.node)->size ? 0 : 16);
            if (was_big) big_bytes_by_hand -= old_need;  // its frame is released at once
            account(l.node);
            ASSERT_EQ(checksum(l.node), l.sum);
        } else if (op < 8) {
            Live& l = live[rng() % live.size()];
            Node c = copy_series(l.node);
            account(c);
            ASSERT_EQ(checksum(c), l.sum);
            live.push_back({c, l.sum});
        } else {
            std::size_t i = rng() % live.size();
            ASSERT_EQ(checksum(live[i].node), live[i].sum);
            Buffer* b = buffer(live[i].node);
            if (b->flags & big) {
                big_bytes_by_hand -= uint64_t(b->size) + 24;
                free_big_buffer(b);
            } else {
                b->flags &= ~in_use;  // dropped: its space waits for compaction
                b->node = 0;
            }
            free_node(live[i].node);
            live[i] = live.back();
            live.pop_back();
        }
    }
    for (const Live& l : live) ASSERT_EQ(checksum(l.node), l.sum);
    double expected = double(live.size()) * 8 + double(frame_bytes_by_hand) + double(big_bytes_by_hand);
    EXPECT_EQ(bytes_in_use(), expected);
    EXPECT_EQ(verify(), nullptr);
}

TEST_F(MemoryTest, RefusedPagesFallBackToAFrameWithLittleRoom) {
    alloc_bytes(16);
    SeriesFrame* f = series_frames();
    alloc_bytes(static_cast<uint64_t>(f->end - f->bump) - sizeof(Buffer) - 10000);  // ~10000 left
    ASSERT_LT(static_cast<uint64_t>(f->end - f->bump), refill_threshold);
    set_frame_limit(frame_bytes());  // no more pages
    Node small = alloc_bytes(100);   // a new frame is refused: the little room left serves
    EXPECT_EQ(series_frame_count(), 1u);
    EXPECT_TRUE(valid_node(small));
    try {
        alloc_bytes(20000);
        ADD_FAILURE() << "an allocation larger than any room succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.id, err::internal_no_memory);
    }
    EXPECT_EQ(verify(), nullptr);
}

TEST_F(MemoryTest, VerifierFindsBrokenBackLink) {
    Node n = alloc_bytes(16);
    buffer(n)->node = n + 1;
    EXPECT_NE(verify(), nullptr);
    buffer(n)->node = n;
    buffer(n)->tail = 1000;
    EXPECT_NE(verify(), nullptr);
    buffer(n)->tail = 0;
    EXPECT_EQ(verify(), nullptr);
}
