// The small Kov programs of the modes fuzz target (modes_fuzz.cpp), made from its bytes by a
// grammar: integers, floats and their square roots, value words, set-words, arithmetic and
// comparisons, index paths, set-paths into a data block, floats read and written through index
// paths of a block of blocks, if/either/while/repeat/loop/foreach, functions defined,
// redefined, called (with refinements in a path, in any order, with arguments, a native's too)
// and left with return, an object's fields through paths, a word turned into an operator and
// back, and code blocks run with `do` while statements change them (poke, append, clear,
// change, remove, reverse, bind, new-line, set-paths).
//
// Every program ends, whatever the bytes: loops run at most 8 times and nest at most 3 deep;
// while loops count on a word nothing else sets (function locals inside functions, words of
// their own in code blocks); a function only calls functions of lower number, wherever it is
// defined, and never runs a code block; code blocks run no code block. The words are fixed,
// so that the harness can make them all before it saves the global words.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kov::fuzz {

// Every word a program may use, for the harness to make beforehand.
inline const char* const program_words =
    "a b c d o p q f1 f2 f3 g twice plus w1 w2 w3 v1 v2 v3 i1 i2 i3 x y u1 u2 u3 m h t";

class ProgramMaker {
public:
    ProgramMaker(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // Each statement of the top level runs through `fuzz-step`, which the harness defines: it
    // notes an error and goes on, so that one error does not end the program.
    std::string make() {
        out_ = "a: 1 b: 2 c: 3 d: copy [0 0 0 0] e: make vector! [integer! 32 4] o: make object! [a: 100 b: 200]\n"
               "p: copy [] q: copy []\n"
               "f1: func [x] [x + 1] f2: func [x y] [x * y] f3: func [] [a]\n"
               "g: func [x /twice /plus y] [either twice [x * 2] [either plus [x + y] [x]]]\n"
               "m: copy/deep [[1.5 -0.25 2.0] [0.5 3.0 -1.0]]\n"
               "h: func [x /p y /q z /local t] [t: x either p [t: t + y] [t: t - 1] if q [t: t * z] t]\n";
        Place top;
        while (more() && statements_ < 40) {
            put("fuzz-step [");
            statement(top);
            put("]\n");
        }
        put("reduce [a c d e p/1 length? q]\n");
        return out_;
    }

private:
    struct Place {
        int depth = 0;         // blocks opened since the top
        int loops = 0;         // loops around the statement, within its function or code block
        int callable = 3;      // functions f1..fN may be called
        int params = 0;        // inside a function: how many of x, y are its arguments
        bool in_function = false;
        bool in_code = false;  // inside a code block: runs no code block
        bool in_loop = false;  // break allowed
        // Code appended to a code block appends nothing and calls no function (which might
        // append), so that a code block run again and again grows by a bounded step.
        bool appended = false;
    };

    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    int statements_ = 0;
    int arity_[4] = {0, 1, 2, 0};  // the arity of fN's latest definition, as generated
    std::string out_;

    bool more() const { return pos_ < size_; }
    int pick(int n) { return pos_ < size_ ? data_[pos_++] % n : 0; }
    void put(const char* text) { out_ += text; }
    void put(const std::string& text) { out_ += text; }
    void space() { out_ += ' '; }

    // The word of a while counter at this place: function locals inside functions, the code
    // blocks' own words inside code blocks, the program's own elsewhere.
    std::string counter(const Place& at) const {
        const char* stem = at.in_function ? "u" : at.in_code ? "v" : "w";
        return stem + std::to_string(at.loops + 1);
    }

    void integer() { put(std::to_string(pick(13) - 3)); }

    const char* code_word() { return pick(2) ? "p" : "q"; }
    const char* data_word() { return pick(3) ? "d" : "e"; }

    void value_word(const Place& at) {
        int n = at.params ? 4 : 3;
        int k = pick(n);
        if (k == 3) put(at.params == 2 && pick(2) ? "y" : "x");
        else put(k == 0 ? "a" : k == 1 ? "b" : "c");
    }

    void call(const Place& at) {
        int k = 1 + pick(at.callable);
        put("f" + std::to_string(k));
        for (int i = 0; i < arity_[k]; ++i) {
            space();
            term(at, 3);
        }
    }

    void term(const Place& at, int room) {
        int choice = room <= 0 ? pick(2) : pick(15);
        switch (choice) {
        case 0: integer(); break;
        case 1: value_word(at); break;
        case 2: put("("); expression(at, room - 1); put(")"); break;
        case 3:
            if (at.callable > 0) call(at);
            else integer();
            break;
        case 4:
            if (pick(2)) put(pick(2) ? "o/a" : "o/b");
            else put(std::string(data_word()) + "/" + std::to_string(1 + pick(5)));
            break;
        case 5:
            switch (pick(3)) {
            case 0: put(std::string(code_word()) + "/" + std::to_string(1 + pick(6))); break;
            case 1: put(std::string("pick ") + code_word() + " " + std::to_string(1 + pick(6))); break;
            default: put(std::string("length? ") + code_word()); break;
            }
            break;
        case 6:
            put("either ");
            condition(at, room - 1);
            put(" [");
            expression(at, room - 1);
            put("] [");
            expression(at, room - 1);
            put("]");
            break;
        case 7: {
            if (at.depth >= 4) {
                integer();
                break;
            }
            // A statement inside the expression: a function redefined in its own argument
            // list, a code block changed while an argument is read.
            put("(");
            Place inner = at;
            inner.depth += 1;
            statement(inner);
            space();
            expression(at, room - 1);
            put(")");
            break;
        }
        case 8:
            // Floats mixed with integers, and square roots of either (a negative one's too).
            switch (pick(3)) {
            case 0: put("1.5"); break;
            case 1: put("-0.25"); break;
            default: put("square-root "); term(at, room - 1); break;
            }
            break;
        case 9:
            // A code block read by index through a word (past its end too).
            put(std::string(code_word()) + "/:");
            value_word(at);
            break;
        case 10:
            // Refinements in a path: a function's, in any order, and a native's.
            switch (pick(4)) {
            case 0: put("g/twice "); break;
            case 1: put("g/plus "); term(at, room - 1); space(); break;
            case 2: put("g/plus/twice "); term(at, room - 1); space(); break;
            default: put("length? copy/part \"abcdef\" "); break;
            }
            term(at, room - 1);
            break;
        case 11:
            // Blocks that natives evaluate one expression at a time.
            switch (pick(5)) {
            case 0: put("last reduce ["); expression(at, room - 1); space(); expression(at, room - 1); put("]"); break;
            case 1: put("any ["); condition(at, room - 1); space(); expression(at, room - 1); put("]"); break;
            case 2: put("all ["); condition(at, room - 1); space(); expression(at, room - 1); put("]"); break;
            case 3:
                put("case ["); condition(at, room - 1); put(" ["); expression(at, room - 1); put("] true [");
                expression(at, room - 1); put("]]");
                break;
            default: put(std::string("length? reduce ") + code_word()); break;
            }
            break;
        case 12:
            // A float of the block of blocks, by literal or a loop's word (past its end too).
            put(std::string("m/") + (at.loops > 0 && pick(2) ? ":i" + std::to_string(1 + pick(at.loops))
                                                              : std::to_string(1 + pick(3))) +
                "/" + std::to_string(1 + pick(3)));
            break;
        case 13:
            // h's refinements in a path, in any order, each with its argument.
            switch (pick(5)) {
            case 0: put("h "); term(at, room - 1); break;
            case 1: put("h/p "); term(at, room - 1); space(); term(at, room - 1); break;
            case 2: put("h/q "); term(at, room - 1); space(); term(at, room - 1); break;
            case 3:
                put("h/p/q "); term(at, room - 1); space(); term(at, room - 1); space(); term(at, room - 1);
                break;
            default:
                put("h/q/p "); term(at, room - 1); space(); term(at, room - 1); space(); term(at, room - 1);
                break;
            }
            break;
        default: integer(); break;
        }
    }

    void expression(const Place& at, int room) {
        term(at, room);
        int operators = pick(3);
        // Comparisons mostly in conditions: a logic value as an operand stops the program.
        static const char* const ops[] = {" + ", " - ", " * ", " + ", " - ", " < ", " b ", " / "};
        for (int i = 0; i < operators; ++i) {
            put(ops[pick(8)]);
            term(at, room - 1);
        }
    }

    void condition(const Place& at, int room) {
        if (pick(3) == 0) {
            expression(at, room);
            return;
        }
        term(at, room);
        static const char* const ops[] = {" < ", " > ", " = "};
        put(ops[pick(3)]);
        term(at, room);
    }

    // A block of 1 to 4 statements.
    void block(const Place& at) {
        put("[");
        int n = 1 + pick(4);
        for (int i = 0; i < n && more(); ++i) {
            if (i) space();
            statement(at);
        }
        put("]");
    }

    void statement(const Place& at) {
        ++statements_;
        Place inner = at;
        inner.depth += 1;
        bool nest = at.depth < 4 && statements_ < 40;
        bool loop_room = at.loops < 3 && nest;
        switch (pick(19)) {
        case 0:
        case 1: {
            const char* target = pick(3) == 0 ? "c" : "a";
            put(std::string(target) + ": ");
            // now and then a counter: the word given a term more or less, in place
            if (pick(3) == 0) {
                put(std::string(target) + (pick(2) ? " + " : " - "));
                term(at, 2);
                break;
            }
            expression(at, 3);
            break;
        }
        case 2:
            if (pick(4) == 0) {
                const char* field = pick(2) ? "o/a" : "o/b";
                put(std::string(field) + ": " + field + " + ");
                term(at, 2);
                break;
            }
            if (int k = pick(3); k == 0) put(pick(2) ? "o/a: " : "o/b: ");
            else if (k == 1) put(std::string(code_word()) + "/" + std::to_string(1 + pick(6)) + ": ");
            // a data block or vector by index (a loop's word, or a literal, now and then past
            // its end; a vector given a float refuses it)
            else if (at.loops > 0 && pick(2))
                put(std::string(data_word()) + "/:i" + std::to_string(1 + pick(at.loops)) + ": ");
            else put(std::string(data_word()) + "/" + std::to_string(1 + pick(5)) + ": ");
            expression(at, 2);
            break;
        case 3:
            if (!nest) { expression(at, 2); break; }
            put("if ");
            condition(at, 2);
            space();
            block(inner);
            break;
        case 4:
            if (!nest) { expression(at, 2); break; }
            put("either ");
            condition(at, 2);
            space();
            block(inner);
            space();
            block(inner);
            break;
        case 5:
        case 6: {
            if (!loop_room) { expression(at, 2); break; }
            Place body = inner;
            body.loops += 1;
            body.in_loop = true;
            int kind = pick(4);
            if (kind == 0) {
                put("repeat i" + std::to_string(body.loops) + " " + std::to_string(pick(9)) + " ");
                block(body);
            } else if (kind == 3) {
                // foreach over integers, its word named as repeat's
                put("foreach i" + std::to_string(body.loops) + " [");
                for (int n = pick(7); n > 0; --n) put(std::to_string(pick(9) - 2) + " ");
                put("] ");
                block(body);
            } else if (kind == 1) {
                put("loop " + std::to_string(pick(4)) + " ");
                block(body);
            } else {
                std::string w = counter(at);
                put(w + ": 0 while [" + w + " < " + std::to_string(pick(4)) + "] [" + w + ": " + w + " + 1 ");
                statement(body);
                put("]");
            }
            break;
        }
        case 7: {
            if (!nest) { call_or_expression(at); break; }
            // fN's body may call f1..f(N-1) only, so that no call chain comes back to it.
            int k = 1 + pick(3);
            int n = pick(3);
            arity_[k] = n;
            put("f" + std::to_string(k) + ": func [" + (n == 0 ? "" : n == 1 ? "x " : "x y ") +
                "/local u1 u2 u3] ");
            Place body;
            body.depth = at.depth + 1;
            body.params = n;
            body.in_function = true;
            body.appended = at.appended;
            body.callable = at.appended ? 0 : k - 1;
            block(body);
            break;
        }
        case 8: call_or_expression(at); break;
        case 9:
            if (!nest) { expression(at, 2); break; }
            {
                Place code;
                code.depth = at.depth + 1;
                code.in_code = true;
                code.appended = at.appended;
                put(std::string(code_word()) + ": copy/deep ");
                block(code);
            }
            break;
        case 10:
        case 11:
            if (at.in_code || at.in_function) { change_code(at); break; }
            put(std::string("do ") + code_word());
            break;
        case 12: change_code(at); break;
        case 13:
            switch (pick(3)) {
            case 0: put("b: make op! :add"); break;
            case 1: put("b: make op! :multiply"); break;
            default: put("b: 2"); break;
            }
            break;
        case 14:
            if (at.in_loop && nest) {
                put("if ");
                condition(at, 1);
                put(" [break]");
            } else {
                expression(at, 2);
            }
            break;
        case 15:
            // return from a function's body: part-way, at its end, or from a branch.
            if (at.in_function && !at.in_loop && nest) {
                if (pick(2)) {
                    put("if ");
                    condition(at, 1);
                    put(" [return ");
                    expression(at, 2);
                    put("]");
                } else {
                    put("return ");
                    expression(at, 2);
                }
            } else {
                expression(at, 3);
            }
            break;
        case 17: {
            // A float of the block of blocks set from itself and a term, or from an expression.
            std::string row = at.loops > 0 && pick(2) ? ":i" + std::to_string(1 + pick(at.loops)) : std::to_string(1 + pick(2));
            std::string cell = "m/" + row + "/" + std::to_string(1 + pick(3));
            put(cell + ": ");
            if (pick(2)) {
                static const char* const ops[] = {" + ", " - ", " * ", " / "};
                put(cell + ops[pick(4)]);
                term(at, 2);
            } else {
                expression(at, 2);
            }
            break;
        }
        case 18:
            // h redefined: its callers' compiled calls hold its old body.
            switch (pick(3)) {
            case 0: put("h: func [x /p y /q z /local t] [t: x * 2 if p [t: t - y] if q [t: t + z] t]"); break;
            case 1: put("h: func [x /q z /p y] [either q [x + z] [either p [x * y] [x]]]"); break;
            default: put("h: func [x /p y /q z /local t] [t: x either p [t: t + y] [t: t - 1] if q [t: t * z] t]"); break;
            }
            break;
        default: expression(at, 3); break;
        }
    }

    void call_or_expression(const Place& at) {
        if (at.callable > 0) call(at);
        else expression(at, 2);
    }

    // A value to put into code: a number, or a word taken from a block (a value word, an
    // operator, a set-word, a function).
    void code_value() {
        static const char* const words[] = {"a", "c", "+", "*", "a:", "f1", "f2", "o/a"};
        if (pick(2)) integer();
        else put(std::string("first [") + words[pick(8)] + "]");
    }

    void change_code(const Place& at) {
        const char* w = code_word();
        std::string at_k = std::to_string(1 + pick(8));
        switch (pick(8)) {
        case 0: put(std::string("poke ") + w + " " + at_k + " "); code_value(); break;
        case 1: {
            if (at.appended) {
                put(std::string("poke ") + w + " " + at_k + " ");
                code_value();
                break;
            }
            put(std::string("append ") + w + " ");
            Place code;
            code.depth = at.depth + 1;
            code.in_code = true;
            code.appended = true;
            code.callable = 0;
            block(code);
            break;
        }
        case 2: put(std::string("clear at ") + w + " " + at_k); break;
        case 3: put(std::string("change at ") + w + " " + at_k + " "); code_value(); break;
        case 4: put(std::string("remove at ") + w + " " + at_k); break;
        case 5: put(std::string("reverse ") + w); break;
        case 6: put(std::string("bind ") + w + " o"); break;
        default: put(std::string("new-line at ") + w + " " + at_k + " true"); break;
        }
    }
};

}  // namespace kov::fuzz
