// The tracked heap and the small numeric routines of the lowest layer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/heap.h"
#include "runtime/runtime.h"

using namespace kov;

namespace {
std::vector<void*> blocks_in_order() {
    std::vector<void*> out;
    heap::for_each([](void* b, std::size_t, void* d) { static_cast<std::vector<void*>*>(d)->push_back(b); }, &out);
    return out;
}
}  // namespace

TEST(Heap, ResizeKeepsPlaceAndContents) {
    std::size_t before = heap::block_count();
    uint64_t figure = heap::figure();
    void* a = heap::allocate(16);
    void* b = heap::allocate(16);
    void* c = heap::allocate(16);
    std::memset(b, 7, 16);
    void* b2 = heap::resize(b, 1 << 20);  // big enough to move
    EXPECT_EQ(static_cast<unsigned char*>(b2)[15], 7);
    auto order = blocks_in_order();
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[order.size() - 3], a);
    EXPECT_EQ(order[order.size() - 2], b2);
    EXPECT_EQ(order[order.size() - 1], c);
    EXPECT_EQ(heap::figure(), figure + 16 + (1 << 20) + 16 + 3 * heap::header_size);

    EXPECT_EQ(heap::resize(b2, 0), nullptr);  // size 0 frees
    void* d = heap::resize(nullptr, 8);      // null allocates
    EXPECT_NE(d, nullptr);
    heap::free(a);
    heap::free(c);
    heap::free(d);
    int stray = 0;
    heap::free(nullptr);
    (void)stray;
    EXPECT_EQ(heap::block_count(), before);
    EXPECT_EQ(heap::figure(), figure);
}

// A block of a large page or more lives on pages of its own: resized within that kind, across
// the line either way, and freed, it keeps its contents, its place in the list and the figure.
TEST(Heap, BlocksOfTheirOwnPages) {
    std::size_t before = heap::block_count();
    uint64_t figure = heap::figure();
    const std::size_t big = 3u << 20;
    void* a = heap::allocate(16);
    auto b = static_cast<unsigned char*>(heap::allocate(100));
    void* c = heap::allocate(16);
    for (int i = 0; i < 100; ++i) b[i] = static_cast<unsigned char>(i);
    struct Step {
        std::size_t size;
        std::size_t kept;  // the bytes whose pattern must survive
    } steps[] = {{big, 100}, {big * 3, 100}, {big + 1, 100}, {64, 64}, {big * 2, 64}, {200, 64}};
    for (const Step& s : steps) {
        b = static_cast<unsigned char*>(heap::resize(b, s.size));
        ASSERT_NE(b, nullptr) << s.size;
        for (std::size_t i = 0; i < s.kept; ++i) ASSERT_EQ(b[i], i) << s.size << " at " << i;
        if (s.size > s.kept) b[s.size - 1] = 1;  // the whole size is writable
        auto order = blocks_in_order();
        ASSERT_GE(order.size(), 3u);
        EXPECT_EQ(order[order.size() - 3], a);
        EXPECT_EQ(order[order.size() - 2], b);
        EXPECT_EQ(order[order.size() - 1], c);
        EXPECT_EQ(heap::figure(), figure + 16 + s.size + 16 + 3 * heap::header_size) << s.size;
    }
    heap::free(heap::allocate(big));
    heap::free(a);
    heap::free(b);
    heap::free(c);
    EXPECT_EQ(heap::block_count(), before);
    EXPECT_EQ(heap::figure(), figure);
}

TEST(Heap, ZeroedAllocation) {
    for (std::size_t size : {std::size_t(100), std::size_t(3) << 20}) {
        uint64_t figure = heap::figure();
        auto p = static_cast<unsigned char*>(heap::allocate_zeroed(size));
        for (std::size_t i = 0; i < size; i += 4093) ASSERT_EQ(p[i], 0) << size << " at " << i;
        ASSERT_EQ(p[size - 1], 0);
        EXPECT_EQ(heap::figure(), figure + size + heap::header_size);
        heap::free(p);
        EXPECT_EQ(heap::figure(), figure);
    }
}

TEST(Runtime, NormalizeDegrees) {
    const double rad = 3.141592653589793 / 180.0;
    struct Row {
        double angle;
        int kind;
        double degrees;
    } rows[] = {{270, 2, -90}, {270, 0, -90}, {-190, 1, 170}, {45, 0, 45}, {720, 1, 0}, {100, 2, 80}, {-100, 2, -80}};
    for (auto r : rows) EXPECT_DOUBLE_EQ(math::normalize_degrees(r.angle, r.kind), r.degrees * rad) << r.angle;
}

TEST(Runtime, TypedPrintFormats) {
    char out[64];
    struct Row {
        runtime::PrintItem item;
        const char* text;
    } rows[] = {
        {runtime::PrintItem(true), "true"},
        {runtime::PrintItem(-42), "-42"},
        {runtime::PrintItem(0.1), "0.1"},
        {runtime::PrintItem(1.0 / 3), "0.3333333333333333"},
        {runtime::PrintItem(1.0f / 3), "0.3333333"},
        {runtime::PrintItem(HUGE_VAL), "1.#INF"},
        {runtime::PrintItem(-HUGE_VAL), "-1.#INF"},
        {runtime::PrintItem(std::nan("")), "1.#NaN"},
        {runtime::PrintItem::hex8(0xBEEF), "0000BEEF"},
        {runtime::PrintItem('x'), "x"},
    };
    for (auto& r : rows) {
        std::size_t n = runtime::format_item(r.item, out);
        EXPECT_EQ(std::string(out, n), r.text);
    }
    EXPECT_STREQ(runtime::error_message(6), "float denormal operan");
    EXPECT_STREQ(runtime::error_message(42), "unknown error code!");
}
