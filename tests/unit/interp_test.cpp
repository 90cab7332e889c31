// The interpreter and the control natives, through Kov text.
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using InterpTest = Kov;

struct Case {
    const char* source;
    const char* result;
};

static void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.result) << c.source;
}

TEST_F(InterpTest, Expressions) {
    check({
        {"1 + 2", "3"},
        {"1 + 2 * 3", "9"},  // no precedence: left to right
        {"[]", "[]"},
        {"x: 10 x", "10"},
        {"", "unset"},
        {"'foo", "foo"},
        {"a: 1 b: a + 1 b", "2"},
        {"(1 + 2) * 2", "6"},
        {"x: y: 5 x + y", "10"},
                {"a:", "error: script/need-value"},
        {"+ 1", "error: script/no-op-arg"},
        {"undefined-word", "error: script/no-value"},
        {"make op! 1", "error: script/invalid-type"},
    });
}

TEST_F(InterpTest, Functions) {
    check({
        {"f: func [a b] [a + b] f 1 2", "3"},
        {"f: func [a /twice] [either twice [a * 2] [a]] f/twice 4", "8"},
        {"f: func [a /twice] [either twice [a * 2] [a]] f 4", "4"},
        {"f: func [x /local y] [y: x + 1 y] f 1", "2"},
        {"f: func [x] [return x * 10 x] f 2", "20"},
        {"f: func [] [exit 1] f", "unset"},
        {"f: function [x] [y: x y] f 3", "3"},
        {"f: does [5] f", "5"},
        {"f: has [a] [a: 2 a] f", "2"},
        {"f: func [/a x /b y] [reduce [x y]] f/b/a 1 2", "[2 1]"},  // spec order for functions
        {"f: func [a] [a] f", "error: script/no-arg"},
        {"f: func [a [integer!]] [a] f \"x\"", "error: script/expect-arg"},
        {"f: func [/a] [a] f/b", "error: script/no-refine"},
        {"f: func [/a] [a] f/a/a", "error: script/dup-refine"},
        {"f: func [/a] [a] f/1", "error: script/bad-refine"},
        {"f: func [/a] [a] a: true f/:a", "true"},
        {"f: func [/a] [a] a: false f/:a", "false"},
        {"fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]] fib 15", "610"},
        {"f: func [a a] [a]", "error: script/dup-vars"},
        {"f: func [a \"doc\" [integer!]] [a]", "error: script/bad-func-def"},
    });
}

TEST_F(InterpTest, ConditionalsAndLoops) {
    check({
        {"if true [1]", "1"},
        {"if false [1]", "none"},
        {"if none [1]", "none"},
        {"unless false [2]", "2"},
        {"either 1 < 2 [3] [4]", "3"},
        {"either () [1] [2]", "error: script/no-return"},
        {"any [none false 3 4]", "3"},
        {"any []", "none"},
        {"all [1 2 3]", "3"},
        {"all [1 none 3]", "none"},
        {"switch 2 [1 ['a] 2 3 ['b]]", "b"},
        {"switch/default 9 [1 [a]] ['z]", "z"},
        {"switch [1] [[1] [a]]", "none"},
        {"case [false [1] true [2] true [3]]", "2"},
        {"case/all [true [1] false [2]]", "none"},
        {"case/all [true [1] true [2]]", "2"},
        {"case [true]", "error: script/need-value"},
        {"case [true 1 + 1]", "2"},
        {"x: 0 loop 3 [x: x + 1] x", "3"},
        {"loop 0 [1]", "none"},
        {"loop 2.9 [1]", "1"},
        {"repeat i 3 [i]", "3"},
        {"repeat i 0 [i]", "none"},
        {"x: 0 while [x < 5] [x: x + 1] x", "5"},
        {"while [true] [break]", "unset"},
        {"while [break] [1]", "error: throw/while-cond"},
        {"until [break/return 5]", "5"},
        {"x: 0 until [x: x + 1 x > 3]", "true"},
        {"loop 3 [break/return 7]", "7"},
        {"x: 0 loop 5 [x: x + 1 if x > 2 [continue] x: x + 10] x", "15"},
        {"s: 0 foreach v [1 2 3] [s: s + v] s", "6"},
        {"r: [] foreach [a b] [1 2 3] [append r b] r", "[2 none]"},
        {"foreach x [] [1]", "unset"},
        {"b: [1 2 3] forall b [if b/1 = 2 [break]] b", "[2 3]"},
        {"b: [1 2 3] forall b [] b", "[1 2 3]"},
        {"b: [1 2 3 4] remove-each x b [even? x] b", "[1 3]"},
        {"remove-each [a b] [1 2 3 4] [a = 1]", "[3 4]"},
        {"x: 0 loop 2 [loop 2 [x: x + 1 break] x: x + 10] x", "22"},  // break leaves only the inner loop
        {"forever [break/return 3]", "3"},
    });
}

TEST_F(InterpTest, ExitsAndErrors) {
    check({
        {"catch [throw 1 2]", "1"},
        {"catch [10]", "10"},
        {"catch/name [throw/name 1 'a] 'a", "1"},
        {"catch/name [throw/name 1 'A] [b a]", "1"},
        {"catch [catch/name [throw/name 1 'a] 'b]", "1"},
        {"catch [throw/name 1 'x]", "1"},
        {"catch/name [throw 1] 'a", "error: throw/throw"},
        {"throw 1", "error: throw/throw"},
        {"break", "error: throw/break"},
        {"return 1", "error: throw/return"},
        {"try [1 / 0] 2", "2"},
        {"error? try [1 / 0]", "true"},
        {"type? try [1 / 0]", "error!"},
        {"try [5]", "5"},
        {"type? try/all [break]", "error!"},
        {"loop 1 [try [break/return 4] 5]", "4"},
        {"catch [try [throw 9] 1]", "9"},
        {"f: func [] [try [return 3] 4] f", "3"},
    });
}

TEST_F(InterpTest, Evaluation) {
    check({
        {"do [1 2]", "2"},
        {"reduce [1 + 1 3]", "[2 3]"},
        {"compose [a (1 + 1) ([b c]) ()]", "[a 2 b c]"},
        {"compose/only [([b c])]", "[[b c]]"},
        {"compose [[(1)]]", "[[(1)]]"},
        {"compose/deep [[(1 + 1)]]", "[[2]]"},
        {"set [a b] [1] b", "none"},
        {"set [a b] [1 2] a + b", "3"},
        {"set/only [a b] [1 2] a", "[1 2]"},
        {"set [a 1] [1 2]", "error: script/invalid-arg"},
        {"a: 1 unset 'a value? 'a", "false"},
        {"get 'pi", "3.141592653589793"},
        {"do/next [1 2] 'p p", "[2]"},
        {"apply :add [1 2]", "3"},
        {"f: func [a /b c] [reduce [a b c]] apply :f [1 /b 2]", "[1 true 2]"},
        {"f: func [a /b c] [reduce [a b c]] apply/all :f [1 false 5]", "[1 false none]"},
    });
}

TEST_F(InterpTest, ObjectsAndPaths) {
    check({
        {"o: make object! [a: 1 b: 2] o/a + o/b", "3"},
        {"o: make object! [a: 1] o/a: 5 o/a", "5"},
        {"o: make object! [a: make object! [b: 7]] o/a/b", "7"},
        {"o: make object! [a: 1 f: func [] [a * 2]] o/f", "2"},
        {"o: make object! [x: 1] p: make o [x: 2] o/x + p/x", "3"},
        {"log: [] o: make object! [a: 1 on-change*: func [w o n] [append log reduce [w o n]]] o/a: 2 log", "[a 1 2]"},
        {"b: [1 2 3] b/2", "2"},
        {"b: [1 2 3] b/2: 9 b", "[1 9 3]"},
        {"b: [x 1 y 2] b/y", "2"},
        {"o: make object! [a: 1] in o 'a", "a"},
        {"o: make object! [a: 1] get in o 'a", "1"},
        {"o: make object! [a: 1] o/zz", "error: script/invalid-path"},
    });
}
