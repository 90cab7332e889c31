#include "runtime/datatypes/scalar.h"

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"

namespace kov::scalar {

Cell calling_word() {
    for (uint32_t d = stack::depth(); d >= 1; --d) {
        const stack::Frame& f = stack::frame_at(d);
        if (f.symbol && f.symbol != stack::body_symbol() && f.symbol != stack::anon_symbol())
            return word::cell_of(T_word, f.symbol, f.word_context);
    }
    return none::value;
}

Cell load_one(const Cell& text_in) {
    Cell text = text_in;
    collector::Root keep(text);
    stack::Mark mark;
    Cell* out = stack::push(unset::value);  // the lexer's output must not lie in a series
    lexer::Options options;
    options.one_value = true;
    lexer::load(*out, text, -1, options, nullptr);
    return *out;
}

bool word_is(const Cell& word, uint32_t sym) {
    return in(cell::type(word), ALL_WORD) && symbol::resolve(word::symbol_of(word)) == symbol::resolve(sym);
}

bool held_by_value(uint32_t type) {
    switch (type) {
    case T_date: case T_time: case T_pair: case T_tuple: case T_point2d: case T_point3d: case T_event:
        return true;
    default:
        return false;
    }
}

bool selector_word_q(const Cell& c) { return in(cell::type(c), ANY_WORD); }

}  // namespace kov::scalar
