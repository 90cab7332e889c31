// Functions the boot definitions make from blocks of the boot image: the body stays the
// image's block until it is first asked for, and is then copied and bound exactly as an
// ordinary definition would have copied and bound it at once.
#include <gtest/gtest.h>

#include <string>

#include "runtime/cells.h"
#include "runtime/codecs/kovbin.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "tests/unit/eval_harness.h"

using namespace kov;

namespace {

// Flags every block of the code as the boot image's loader does.
void flag_as_image(memory::Node block) {
    memory::buffer(block)->flags |= memory::boot_literal;
    for (uint32_t i = 0; i < cells::count(block); ++i) {
        const Cell& c = cells::at(block, i);
        if (cell::is(c, T_block)) flag_as_image(c.w2);
    }
}

// Runs the definitions the way the boot runs the image's: its blocks flagged, functions made
// as the system's own.
void define_as_boot(const char* text) {
    stack::Mark mark;
    Cell* code = stack::reserve();
    lexer::Options options;
    std::string source(text);
    lexer::scan(reinterpret_cast<const uint8_t*>(source.data()), source.size(), options, none::value, *code);
    flag_as_image(code->w2);
    function::making_compiled = true;
    struct Done {
        ~Done() { function::making_compiled = false; }
    } done;
    stack::push_frame(stack::eval, nullptr);
    stack::reserve();
    interp::eval_block(*code, true);
    stack::drop_frame();
}

bool pending(const char* name) { return cell::is(function::more(test::global(name))[0], T_unset); }

struct PendingBody : test::Kov {};

}  // namespace

TEST_F(PendingBody, TakenAtTheFirstCallAndBoundToTheFunction) {
    uint32_t before = function::pending_bodies;
    define_as_boot("pb-double: func [a /local b] [b: a * 2 b]");
    ASSERT_TRUE(pending("pb-double"));
    EXPECT_EQ(function::pending_bodies, before + 1);
    EXPECT_EQ(test::eval("pb-double 21"), "42");
    EXPECT_FALSE(pending("pb-double"));
    EXPECT_EQ(function::pending_bodies, before);
    // Its words are the function's own, and the body is marked as the system's code.
    Cell body = function::more(test::global("pb-double"))[0];
    EXPECT_EQ(word::context_of(cells::at(body.w2, 0)), function::context_of(test::global("pb-double")));
    EXPECT_TRUE(memory::buffer(body.w2)->flags & memory::system_code);
    EXPECT_FALSE(memory::buffer(body.w2)->flags & (memory::boot_literal | memory::pending_body));
}

// Reflection, molding and an op! made from the function see the body an ordinary definition
// gives, and take it when it is still pending.
TEST_F(PendingBody, ReflectionMoldAndOpsTakeIt) {
    define_as_boot("pb-first: func [x y] [x - y]  pb-second: func [x y] [x - y]  pb-third: func [x y] [x - y]");
    test::check({
        {"equal? mold :pb-first mold func [x y] [x - y]", "true"},
        {"body-of :pb-second", "[x - y]"},
        {"pb-minus: make op! :pb-third  10 pb-minus 3", "7"},
        {"equal? mold :pb-minus mold make op! func [x y] [x - y]", "true"},
    });
    EXPECT_FALSE(pending("pb-first"));
    EXPECT_FALSE(pending("pb-second"));
    EXPECT_FALSE(pending("pb-third"));
}

// The same block evaluated as a definition again is copied at once: the second function's
// body is its own, whatever becomes of the first.
TEST_F(PendingBody, TakenOnceThenCopied) {
    define_as_boot("pb-makers: copy []  loop 2 [append pb-makers func [n] [n + 1]]");
    EXPECT_EQ(test::eval("pb-one: first pb-makers  pb-two: second pb-makers  reduce [pb-one 1 pb-two 2]"), "[2 3]");
    EXPECT_EQ(test::eval("same? body-of first pb-makers body-of second pb-makers"), "false");
}

// Binding a block that holds a pending body first makes every pending body, from the block as
// it was: the function keeps its own binding.
TEST_F(PendingBody, BindingTheImageBlockTakesItFirst) {
    define_as_boot("pb-spec: [pb-field: 5 pb-get: func [n] [n + pb-field]]  pb-object: make object! pb-spec");
    EXPECT_EQ(test::eval("pb-getter: get in pb-object 'pb-get  function? :pb-getter"), "true");
    Cell getter = test::global("pb-getter");
    ASSERT_TRUE(cell::is(function::more(getter)[0], T_unset));
    // A second object made from the same block binds it again: the first object's function
    // still reads the first object's field.
    EXPECT_EQ(test::eval("pb-again: make object! pb-spec  pb-again/pb-field: 100  pb-again/pb-get 1"), "101");
    EXPECT_FALSE(cell::is(function::more(getter)[0], T_unset));
    EXPECT_EQ(test::eval("pb-object/pb-get 1"), "6");
    Cell body = function::more(getter)[0];
    EXPECT_EQ(word::context_of(cells::at(body.w2, 0)), function::context_of(getter));
}

// The Kovbin writer may not allocate while it walks: every pending body is made before.
TEST_F(PendingBody, EncodingTakesEveryPendingBody) {
    define_as_boot("pb-encoded: func [s] [append copy s {!}]");
    ASSERT_TRUE(pending("pb-encoded"));
    stack::Mark mark;
    Cell fn = test::global("pb-encoded");
    Cell* blob = kovbin::encode(fn, true);
    EXPECT_EQ(function::pending_bodies, 0u);
    EXPECT_FALSE(pending("pb-encoded"));
    Cell* back = kovbin::decode(*blob);
    EXPECT_EQ(test::mold(*back), test::mold(test::global("pb-encoded")));
}
