#include "runtime/datatypes/word.h"

#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/stack.h"
#include "runtime/root.h"
#include "runtime/series_buffer.h"

namespace kov::word {

namespace {
// A word! of the symbol bound in the global context, the word added when missing.
Cell global_word(uint32_t sym) {
    Node g = context::global();
    int32_t index = context::add_word(g, cell_of(T_word, sym));
    return cell_of(T_word, sym, g, index);
}
}  // namespace

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(uint32_t sym, Cell& c) { return c = global_word(sym); }

Cell* make_in(uint32_t sym, Node block) {
    Cell w = global_word(sym);
    Cell* c = series::append_cell(block);
    *c = w;
    return c;
}

Cell* load_in(const char* text, Node block, uint32_t type) {
    Cell* c = make_in(symbol::make(text), block);
    cell::set_type(*c, type);
    return c;
}

Cell load(const char* text, uint32_t type) {
    uint32_t sym = symbol::make(text);
    Cell w = type == T_refinement ? cell_of(T_refinement, sym) : context::add_global(sym, true, true);
    cell::set_type(w, type);
    if (context::boot_flag) root::append(w);
    return w;
}

Cell* push(const Cell& word, uint32_t type) {
    Cell* c = stack::push(word);
    cell::set_type(*c, type);
    return c;
}

Cell* push_symbol(uint32_t sym) { return &make_at(sym, *stack::reserve()); }

Cell* push_word_at(Node ctx, uint32_t index, uint32_t type) {
    Cell* entry = context::slot_at(ctx, index);
    Cell w = entry ? *entry : cell_of(T_word, 0);
    return push(w, type);
}

// ---- access -------------------------------------------------------------------------------------

Cell* word_at(Node ctx, uint32_t index) { return context::slot_at(ctx, index); }
Cell* value_at(Node ctx, uint32_t index) { return context::value_cell(ctx, index); }

Cell get_or_add(Node ctx, uint32_t sym) {
    if (context::is_context(ctx) && ctx != context::global()) {
        int32_t index = context::find_word(ctx, sym, false);
        if (index >= 0)
            if (Cell* entry = context::slot_at(ctx, static_cast<uint32_t>(index))) return *entry;
    }
    return context::get_or_add_global(sym);
}

Cell get_symbol(const Cell& word) { return symbol::get(word.w2); }

// ---- registration -------------------------------------------------------------------------------

void mark(const Cell& w) {
    if (memory::valid_node(w.w1) && memory::buffer(w.w1)->unit() == sizeof(Cell)) collector::mark_block(w.w1);
}

void init() {
    using datatype::Rest;
    datatype::register_type({.id = T_word, .parent = T_symbol, .name = "word!", .rest = Rest::empty, .mark = mark,
                             .actions = {}});
    datatype::register_type({.id = T_lit_word, .parent = T_word, .name = "lit-word!", .rest = Rest::inherit,
                             .mark = mark, .actions = {}});
    datatype::register_type({.id = T_set_word, .parent = T_word, .name = "set-word!", .rest = Rest::inherit,
                             .mark = mark, .actions = {}});
    datatype::register_type({.id = T_get_word, .parent = T_word, .name = "get-word!", .rest = Rest::inherit,
                             .mark = mark, .actions = {}});
    datatype::register_type({.id = T_refinement, .parent = T_word, .name = "refinement!", .rest = Rest::inherit,
                             .mark = mark, .actions = {}});
}

}  // namespace kov::word
