// Raw arrays over series buffers.
#include <gtest/gtest.h>

#include "runtime/array.h"

using namespace kov;

TEST(RawArray, AppendPickFindRemove) {
    memory::init();
    array::Node a = array::make(2, 4);
    EXPECT_EQ(array::length(a), 0u);
    for (int v : {10, 20, 30}) array::append_int(a, v);  // grows past its first capacity
    EXPECT_EQ(array::length(a), 3u);
    EXPECT_EQ(array::pick_int(a, 2), 20);
    EXPECT_EQ(array::find_int(a, 30), 8);
    EXPECT_EQ(array::find_int(a, 99), -1);
    array::poke_int(a, 1, 11);
    EXPECT_EQ(array::pick_int(a, 1), 11);
    array::cut_at(a, 1);
    EXPECT_EQ(array::length(a), 0u);

    array::Node p = array::make(4, sizeof(uintptr_t));
    for (uintptr_t v : {uintptr_t(0x1000), uintptr_t(0x2000), uintptr_t(0x3000)}) array::append_ptr(p, v);
    array::remove_ptr(p, 0x9999);  // absent: nothing changes
    EXPECT_EQ(array::length(p), 3u);
    array::remove_ptr(p, 0x1000);  // the first: the others keep their order
    ASSERT_EQ(array::length(p), 2u);
    EXPECT_EQ(array::pick_ptr(p, 1), 0x2000u);
    EXPECT_EQ(array::pick_ptr(p, 2), 0x3000u);
    array::Node c = array::copy(p);
    EXPECT_EQ(array::length(c), 2u);
    EXPECT_EQ(array::flags(c) & memory::unit_mask, sizeof(uintptr_t));

    array::Node bytes = array::make(0, 1);
    array::append_bytes(bytes, "abc", 3);
    array::append_byte(bytes, 'd');
    EXPECT_EQ(array::length(bytes), 4u);
    EXPECT_EQ(memory::verify(), nullptr);
}
