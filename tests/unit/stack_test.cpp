// The value and call-frame stacks: exit routing by frame kind, barriers, overflow.
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

struct StackTest : Runtime {
    uint32_t base_depth = stack::depth();
    ~StackTest() override {
        stack::unroll_to(base_depth, stack::values.top, stack::values.args);
        stack::pending = stack::Pending{};
    }
};

TEST_F(StackTest, BreakAndContinueFindTheInnermostLoop) {
    uint32_t outer = stack::push_frame(stack::loop, nullptr);
    uint32_t inner = stack::push_frame(stack::loop, nullptr);
    stack::push_frame(stack::try_, nullptr);  // a plain try does not stop them
    stack::push_frame(stack::interp_native, nullptr);
    Cell five = Cell{T_integer, 0, 5, 0};
    stack::throw_loop(true, &five, false);
    EXPECT_EQ(stack::pending.code, stack::exit_break);
    EXPECT_EQ(stack::pending.target, inner);
    EXPECT_EQ(stack::pending.value.w2, 5u);
    EXPECT_EQ(stack::consume(outer), stack::no_exit);  // not its exit
    EXPECT_EQ(stack::consume(inner), stack::exit_break);
    EXPECT_FALSE(stack::exiting());
    stack::throw_loop(false, nullptr, true);
    EXPECT_EQ(stack::pending.code, stack::exit_continue);
    EXPECT_TRUE(cell::is(stack::pending.value, T_unset));
}

TEST_F(StackTest, TryAllTurnsExitsIntoErrors) {
    stack::push_frame(stack::loop, nullptr);
    stack::push_frame(stack::try_all, nullptr);
    stack::push_frame(stack::interp_native, nullptr);
    EXPECT_EQ(error_of([] { stack::throw_loop(false, nullptr, false); }), "throw/break");
    EXPECT_EQ(error_of([] { stack::throw_loop(false, nullptr, true); }), "throw/continue");
    EXPECT_EQ(error_of([] { stack::throw_return(false, nullptr); }), "throw/return");
    EXPECT_EQ(error_of([] { stack::throw_catch(Cell{T_integer, 0, 1, 0}, nullptr); }), "throw/throw");
    EXPECT_FALSE(stack::exiting());
}

TEST_F(StackTest, ReturnSkipsTheNativesOwnFrame) {
    uint32_t fn = stack::push_frame(stack::interp_function, nullptr);
    stack::set_return_flag(true);
    stack::push_frame(stack::loop, nullptr);
    stack::push_frame(stack::interp_native, nullptr);
    stack::set_return_flag(true);  // the native's own frame is never the target
    Cell v{T_integer, 0, 7, 0};
    stack::throw_return(true, &v);
    EXPECT_EQ(stack::pending.code, stack::exit_return);
    EXPECT_EQ(stack::pending.target, fn);
    stack::pending = stack::Pending{};
    stack::throw_return(false, nullptr);
    EXPECT_EQ(stack::pending.code, stack::exit_exit);
}

TEST_F(StackTest, ExitsWithoutTargetRaise) {
    stack::push_frame(stack::interp_native, nullptr);
    EXPECT_EQ(error_of([] { stack::throw_loop(false, nullptr, false); }), "throw/break");
    EXPECT_EQ(error_of([] { stack::throw_return(true, nullptr); }), "throw/return");
    EXPECT_EQ(error_of([] { stack::throw_catch(Cell{T_integer, 0, 1, 0}, nullptr); }), "throw/throw");
    uint32_t c = stack::push_frame(stack::catch_, nullptr);
    stack::push_frame(stack::interp_native, nullptr);
    Cell name{T_none, 0, 0, 0};
    stack::throw_catch(Cell{T_integer, 0, 1, 0}, &name);
    EXPECT_EQ(stack::pending.target, c);
}

TEST_F(StackTest, UnwindKeepsTheResultAndUnrollPopsEverything) {
    Cell* before = stack::values.top;
    stack::push(Cell{T_integer, 0, 1, 0});  // the caller's result cell
    stack::Mark m;
    stack::values.args = before;
    stack::push_frame(stack::interp_native, nullptr);
    Cell* result = stack::reserve();
    *result = Cell{T_integer, 0, 42, 0};
    stack::unwind_last();
    EXPECT_EQ(stack::values.args, before);
    EXPECT_EQ(stack::values.args->w2, 42u);
    uint32_t d = stack::depth();
    for (int i = 0; i < 10; ++i) stack::push_frame(stack::eval, nullptr);
    stack::unroll_to(d, before + 1, before);
    EXPECT_EQ(stack::depth(), d);
}

TEST_F(StackTest, RunawayPushesRaiseACatchableOverflow) {
    Cell* top = stack::values.top;
    EXPECT_EQ(error_of([] {
                  for (;;) stack::push(Cell{T_none, 0, 0, 0});
              }),
              "internal/stack-overflow");
    stack::values.top = top;
    uint32_t d = stack::depth();
    EXPECT_EQ(error_of([] {
                  for (;;) stack::push_frame(stack::eval, nullptr);
              }),
              "internal/stack-overflow");
    stack::unroll_to(d, top, stack::values.args);
    // Both stacks work again afterwards.
    EXPECT_EQ(stack::push(Cell{T_none, 0, 0, 0}), top);
    EXPECT_EQ(stack::push_frame(stack::eval, nullptr), d + 1);
}
