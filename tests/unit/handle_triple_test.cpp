// handle! and triple!, which Kov code cannot make beyond the null handle, and the header a
// cell keeps when it changes type. The null handle's rows in Kov are in
// tests/kov/handles.kov.
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using HandleTriple = Kov;

TEST_F(HandleTriple, HandleText) {
    stack::Mark mark;
    struct Row {
        Cell h;
        const char* form;
        const char* mold_all;
    } rows[] = {
        {handle::make(255, handle::fd), "000000FFh", "#[handle! 000000FFh fd]"},
        {handle::make(0x1A2B, handle::window), "00001A2Bh", "#[handle! 00001A2Bh window]"},
        {handle::make(-2, handle::rich_text), "FFFFFFFEh", "#[handle! FFFFFFFEh rich-text]"},
        {handle::make(0, handle::null), "00000000h", "#[handle! 00000000h]"},
        {handle::make(7, 99), "00000007h", "#[handle! 00000007h]"},  // a kind without a name
    };
    for (const Row& r : rows) {
        EXPECT_EQ(form(r.h), r.form);
        EXPECT_EQ(mold(r.h, true), r.mold_all);
        EXPECT_EQ(mold(r.h), "handle!");
    }
    EXPECT_EQ(handle::make(5, handle::fd).w3, 0xFFFFFFFFu);
}

TEST_F(HandleTriple, HandlesCompareByValueOnly) {
    EXPECT_EQ(compare_raw(handle::make(3, handle::fd), handle::make(3, handle::window), actions::equal), 0);
    EXPECT_EQ(compare_raw(handle::make(-1, handle::fd), handle::make(1, handle::fd), actions::lesser), -1);
    EXPECT_EQ(compare_raw(handle::make(2, handle::fd), handle::make(1, handle::fd), actions::greater), 1);
    // Another type is unequal whatever the code.
    EXPECT_EQ(compare_raw(handle::make(3, handle::fd), integer::make(3), actions::equal), 1);
    EXPECT_EQ(compare_raw(handle::make(3, handle::fd), integer::make(3), actions::lesser), 1);
}

TEST_F(HandleTriple, TripleIsFormedAndMoldedOnly) {
    stack::Mark mark;
    Cell t = Cell{T_unset, 0, 0, 0};
    triple::make_at(t, 1, -2, 3);
    EXPECT_EQ(form(t), "make triple! [1 -2 3]");
    EXPECT_EQ(mold(t), "make triple! [1 -2 3]");
    triple::make_at(t, INT32_MIN, 0, INT32_MAX);
    EXPECT_EQ(mold(t), "make triple! [-2147483648 0 2147483647]");
    EXPECT_EQ(actions::lookup<actions::slot::add>(T_triple), nullptr);
    EXPECT_EQ(actions::lookup<actions::slot::compare>(T_triple), nullptr);
    EXPECT_EQ(actions::lookup<actions::slot::add>(T_handle), nullptr);
}

// A cell that becomes a value of another type keeps only the generic flags: the tuple
// length, the money sign and another type's private bits do not follow it.
TEST_F(HandleTriple, RetypedCellsKeepOnlyGenericFlags) {
    uint8_t digits[money::digit_bytes] = {};
    Cell c = tuple::make(4, 0x04030201, 0, 0);
    c.header |= cell::new_line;
    money::make_at(c, false, 0, digits);
    EXPECT_EQ(c.header, uint32_t(T_money) | cell::new_line);
    money::make_at(c, true, 0, digits);
    uint8_t bytes[3] = {1, 2, 3};
    tuple::make_at(c, bytes, 3);
    EXPECT_EQ(c.header, uint32_t(T_tuple) | 3u << tuple::length_shift | cell::new_line);
    integer::make_at(c, 5);
    EXPECT_EQ(c.header, uint32_t(T_integer) | cell::new_line);
    Cell t = tuple::make(12, 0, 0, 0);
    triple::make_at(t, 1, 2, 3);
    EXPECT_EQ(t.header, uint32_t(T_triple));
}
