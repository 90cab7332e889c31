// The word types: index? as the slot of the word (tests/kov/words.kov holds their text and
// comparison).
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/actions.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

using WordTest = Runtime;

namespace {
Cell w(const char* text, uint32_t type = T_word) { return word::load(text, type); }
}  // namespace

TEST_F(WordTest, IndexOf) {
    Cell foo = w("foo");
    Cell i = foo;
    actions::lookup<actions::slot::index_q>(T_word)(&i);
    EXPECT_TRUE(cell::is(i, T_integer));
    EXPECT_EQ(i.w2, foo.w3 + 1);
    Cell unresolved = Cell{T_word, 0, foo.w2, 0xFFFFFFFFu};
    actions::lookup<actions::slot::index_q>(T_word)(&unresolved);
    EXPECT_TRUE(cell::is(unresolved, T_none));
    EXPECT_EQ(actions::lookup<actions::slot::index_q>(T_refinement), nullptr);
}
