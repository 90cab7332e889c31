#include "runtime/datatypes/scalar.h"

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
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
    return word::any_word_q(cell::type(word)) && symbol::resolve(word::symbol_of(word)) == symbol::resolve(sym);
}

void store_back(const Cell& changed, const PathStep& step) {
    if (!step.gparent || !step.p_item) return;
    Cell holder = *step.gparent;
    Cell element = *step.p_item;
    Cell value = changed;
    collector::Root keep_holder(holder), keep_element(element), keep_value(value);
    // Before the first step there is no holder: the path's first word is the variable.
    if (cell::is(holder, T_none)) {
        if (cell::is(element, T_word)) context::set(element, value);
        return;
    }
    // A holder of the value's own type is the value as the step before left it, not where
    // it came from: the change cannot be stored, and is refused rather than lost.
    auto fn = actions::lookup<actions::slot::eval_path>(cell::type(holder));
    if (!fn || cell::type(holder) == cell::type(changed))
        error::fire(err::script_invalid_path_set, step.path ? *step.path : element);
    stack::Mark mark;
    Cell* h = stack::push(holder);
    Cell* e = stack::push(element);
    Cell* v = stack::push(value);
    PathStep back{e, v, step.path, nullptr, nullptr, step.index - 1, step.case_, false, true, step.notify};
    fn(h, back);
}

bool selector_word_q(const Cell& c) {
    uint32_t t = cell::type(c);
    return word::any_word_q(t) && t != T_refinement && t != T_issue;
}

}  // namespace kov::scalar
