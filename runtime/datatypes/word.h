// The word types: word!, set-word!, lit-word!, get-word! and refinement! share one cell and
// differ in their datatype id. This module holds their cells and constructors and the access
// to their values that contexts and symbols need; their actions (make, to, form, mold,
// compare, index?) join the registrations below when they are built.
//
// Cell: w1 the node of the context the word is bound to (0 = none), w2 the symbol id, w3 the
// index in that context (-1 = not yet resolved). Binding is in context.h.
//
// Moving memory: the constructors intern symbols and may add words to the global context,
// so they allocate; `push` and the access routines do not.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/families.h"
#include "runtime/memory.h"

namespace kov::word {

using memory::Node;

// ---- cell helpers -------------------------------------------------------------------------------
inline Cell cell_of(uint32_t type, uint32_t sym, Node ctx = 0, int32_t index = -1) {
    return Cell{type, ctx, sym, static_cast<uint32_t>(index)};
}
inline uint32_t symbol_of(const Cell& w) {
    cell::expect(in(cell::type(w), ALL_WORD));
    return w.w2;
}
inline int32_t index_of(const Cell& w) {
    cell::expect(in(cell::type(w), ALL_WORD));
    return static_cast<int32_t>(w.w3);
}
// The node of the context the word is bound to, 0 when unbound.
inline Node context_of(const Cell& w) {
    cell::expect(in(cell::type(w), ALL_WORD));
    return w.w1;
}
// Binds the word to slot `index` of the context, or changes one of the two.
inline void bind_to(Cell& w, Node ctx, int32_t index) {
    cell::expect(in(cell::type(w), ALL_WORD));
    w.w1 = ctx;
    w.w3 = static_cast<uint32_t>(index);
}
inline void set_context(Cell& w, Node ctx) {
    cell::expect(in(cell::type(w), ALL_WORD));
    w.w1 = ctx;
}
inline void set_index(Cell& w, int32_t index) {
    cell::expect(in(cell::type(w), ALL_WORD));
    w.w3 = static_cast<uint32_t>(index);
}

// ---- constructors -------------------------------------------------------------------------------
// The cell becomes a word! of the symbol bound in the global context (added when missing;
// case variants share one slot).
Cell& make_at(uint32_t sym, Cell& c);
// Appends a word of the symbol, bound in the global context, to a block.
Cell* make_in(uint32_t sym, Node block);
// Interns the text and appends a bound word (retyped to `type`) to a block.
Cell* load_in(const char* text, Node block, uint32_t type = T_word);
// The global word of the text (a case variant found is answered under this spelling);
// while booting it is also kept in the root block. lit-word!, set-word! and get-word! are the
// same word retyped; a refinement! is unbound.
Cell load(const char* text, uint32_t type = T_word);
// Value-stack constructors.
Cell* push(const Cell& word, uint32_t type = T_word);

// ---- access -------------------------------------------------------------------------------------
// The word-list entry at an index, or null.
Cell* word_at(Node ctx, uint32_t index);
// The value cell at an index of a context, or null.
Cell* value_at(Node ctx, uint32_t index);

void mark(const Cell& word);

// The form action (the spelling) and the compare action of the word types.
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t compare(Cell* a, Cell* b, int32_t op);
// Registers word!, set-word!, lit-word!, get-word! and refinement!.
void init();

}  // namespace kov::word
