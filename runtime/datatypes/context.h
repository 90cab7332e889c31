// context!: maps symbols to value slots. Three kinds: the one global context, the context of
// each function (its values live in the running call's frame on the value stack) and the
// context of each object. A word is bound by storing a context node and an index in its cell,
// so getting and setting a bound word needs no lookup.
//
// A context is a node of two cells:
//   1. the context cell (context!): header bits 11-12 the kind, `stack_flag` when the values
//      live on the value stack, `self_flag` when the word `self` is bound to it (objects);
//      w1 the node of the word list, a hash table (kind `symbols`) whose key block holds one
//      word! entry {context, symbol, index} per word, in order of insertion; w2 the values:
//      for a heap context the node of a block aligned with the word list, for a stack context
//      the value-stack cell index of the first value + 1 (0 while no call is running);
//      w3, for a stack context, a word count already checked against the word list (0 at
//      first; word lists only grow);
//   2. the self cell: the value that owns the context (the object or function), read by
//      `self` bound to an object context.
// In the global context the entries of spellings that differ only in letter case share the
// index of the first one added, so `foo` and `Foo` are one variable. Every other context
// finds and adds words ignoring case, so it never holds two variants.
//
// A word cell (every word type): w1 the context node (0 = unbound), w2 the symbol id, w3 the
// index in that context (-1 = not yet resolved). A word bound to no context has no value:
// getting it raises script/no-value and setting it script/not-defined.
//
// Moving memory: creating contexts and adding words allocate (values and word lists grow);
// finding and getting do not, nor does binding, except when the block holds a function body
// the boot left pending (function.h): every pending body is made first then. A word cell passed by non-const reference to a routine
// that may allocate must not lie in a series buffer (use a C++ local or a value-stack cell).
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/cells.h"
#include "runtime/memory.h"

namespace kov::context {

using memory::Node;

constexpr uint32_t stack_flag = cell::stack_context;
constexpr uint32_t self_flag = cell::context_self;
constexpr uint32_t kind_shift = cell::shift_of(cell::context_kind);
constexpr uint32_t kind_mask = cell::context_kind;
enum Kind : uint32_t { global_kind = 0, function_kind = 1, object_kind = 2 };

constexpr uint32_t global_capacity = 4000;

// ---- cell helpers -------------------------------------------------------------------------------
inline uint32_t kind_of(const Cell& c) { return (c.header & kind_mask) >> kind_shift; }
inline bool on_stack(const Cell& c) { return (c.header & stack_flag) != 0; }
inline bool binds_self(const Cell& c) { return (c.header & self_flag) != 0; }
// The context cell's words: the word list's node, the values (a node, or a frame index + 1),
// the checked word count of a stack context.
inline Node words_of(const Cell& c) {
    cell::expect(cell::is(c, T_context));
    return c.w1;
}
inline uint32_t values_of(const Cell& c) {
    cell::expect(cell::is(c, T_context));
    return c.w2;
}
inline void set_values(Cell& c, uint32_t values) {
    cell::expect(cell::is(c, T_context));
    c.w2 = values;
}
// True when the node is a context (a cell series whose first cell is a context! cell).
bool is_context(Node ctx);
// The context cell and the self cell; valid until the next allocation.
Cell* record(Node ctx);
Cell* self_cell(Node ctx);
Node words_table(Node ctx);
Node word_list(Node ctx);
uint32_t word_count(Node ctx);
// The value cell at an index (heap block or running frame), or null when there is none.
Cell* value_cell(Node ctx, uint32_t index);

// ---- making -------------------------------------------------------------------------------------
// A context for n words (0 counts as 1). With copy_from, the word list of that context is
// copied and every entry rebound to the new one; a heap context then starts with as many
// unset! values. The node is unreachable until the caller stores it.
Node create(uint32_t n, bool stack, bool self, Node copy_from, uint32_t kind);
// A context for the word!, get-word!, lit-word! and refinement! symbols of a spec block (from
// its index; each symbol once, case ignored); a heap context gets one unset! value per word.
Node add_spec_words(const Cell& spec, bool stack, bool self, uint32_t kind);
// A copy of the word list of the context in value.w1 (same flags, given kind, unset! values);
// the new node goes into value.w1.
Node clone(Cell& value, uint32_t kind);

// ---- the global context -------------------------------------------------------------------------
void init_global();
Node global();
// While set (start-up), global words handed out by the word constructors are also copied
// into the root block.
extern bool boot_flag;

// ---- finding and adding words -------------------------------------------------------------------
int32_t find_word(Node ctx, uint32_t sym, bool case_insensitive);
// Finds the symbol or appends an entry for it: answers the index when found, -1 when added;
// result gets the index either way.
int32_t find_word_from(Node ctx, uint32_t sym, bool case_insensitive, int32_t& result);
// Find-or-add ignoring case; a heap context gets an unset! value for a new word. Gives the index.
int32_t add_word(Node ctx, const Cell& word);
// Adds the word with a copy of the value when missing (gives the value cell), else null.
Cell* add_symbol_once(Node ctx, const Cell& word, const Cell& value);
// Sets the word's slot to a copy of the value, adding the word when missing.
Cell* put_value(Node ctx, const Cell& word, const Cell& value);
// add_word for each set-word! of the block from its index; true when words were added.
bool add_set_words(Node ctx, const Cell& block);
// The value of the symbol found ignoring case (a stack context is searched as the global
// context), or null.
Cell* get_any(uint32_t sym, Node ctx);
// The global word of that exact symbol, added when missing; while booting also kept in the
// root block.
Cell get_or_add_global(uint32_t sym);
// Find-or-add in the global context (case-insensitively with the flag). A new entry shares
// the slot of a case variant already there. With both flags, a variant found is answered
// under the asked symbol.
Cell add_global(uint32_t sym, bool case_insensitive, bool rename);

// ---- getting and setting ------------------------------------------------------------------------
// Stores a copy of the value in the word's slot of the context and gives the slot (valid until
// the next allocation). An unresolved word is resolved (added when missing) and its index
// stored in the cell. Object contexts mark the field changed and, with notify, call the
// object's on-change* hook with the old and new values.
Cell* set_in(Cell& word, const Cell& value, Node ctx, bool notify);
// The value cell of a bound, resolved word whose context has its values (a heap block, or a
// running call's frame), or null: then get and set decide, and raise what they must. Does not
// allocate.
inline Cell* bound_slot(const Cell& word);
inline Cell* set(Cell& word, const Cell& value);
// The value cell of the word in the context; see the errors above.
Cell* get_in(const Cell& word, Node ctx);
inline Cell* get(const Cell& word);

// Words of the global context, the most common by far, reach their slot inline: the global
// context lives as long as the runtime, and its values block is a fixed series whose buffer
// address is kept in global_buffer (followed through memory::fixed_moved when the block
// grows), so a global word's slot is read without the node table; an index past the values
// (or -1) is left to the general path. Every other word takes the general path.
extern Node global_node;
extern Node global_values;
extern memory::Buffer* global_buffer;
Cell* bound_slot_other(const Cell& word);
Cell* set_other(Cell& word, const Cell& value);
Cell* get_other(const Cell& word);

inline Cell* global_slot(const Cell& word) {
    memory::Buffer* values = global_buffer;
    if (word.w3 >= values->used() / sizeof(Cell)) return nullptr;
    return cells::of(values) + word.w3;
}
// The function running innermost: its context, the value-stack cell of its first value and
// its value count. Its words, the next most common, reach their slot from these without
// reading the context (the running call's values are exactly where the context says, as
// only a function call moves a function context's values). Set and restored by the call.
struct Running {
    Node context = 0;
    Cell* base = nullptr;
    uint32_t count = 0;
};
extern Running running;
inline Cell* running_slot(const Cell& word) {
    return word.w1 == running.context && word.w3 < running.count ? running.base + word.w3 : nullptr;
}

inline Cell* bound_slot(const Cell& word) {
    if (word.w1 == global_node) return global_slot(word);
    if (Cell* slot = running_slot(word)) return slot;
    return bound_slot_other(word);
}
inline Cell* get(const Cell& word) {
    if (word.w1 == global_node) {
        if (Cell* slot = global_slot(word)) return slot;
    } else if (Cell* slot = running_slot(word)) {
        return slot;
    }
    return get_other(word);
}
inline Cell* set(Cell& word, const Cell& value) {
    if (word.w1 == global_node) {
        if (Cell* slot = global_slot(word)) {
            *slot = value;
            return slot;
        }
    } else if (Cell* slot = running_slot(word)) {
        *slot = value;
        return slot;
    }
    return set_other(word, value);
}

// Called, when set, after an object field was set through a word (objects install it).
extern void (*fire_on_change)(const Cell& object, const Cell& word, const Cell& old_value, const Cell& new_value);

// ---- binding ------------------------------------------------------------------------------------
// Binds the word when the context has its symbol (case ignored); gives the index or -1.
int32_t bind_word(Node ctx, Cell& word);
// Binds the words of the block from its index, deep into blocks, parens, hash! and paths; with
// self, a word! `self` is bound to the context with index -1. Words the context lacks keep
// their binding. A block that contains itself is walked once.
void bind(const Cell& block, Node ctx, bool self);

// ---- stack contexts -----------------------------------------------------------------------------
// The running call's values start at that value-stack cell; leave_frame: no call is running.
void enter_frame(Node ctx, const Cell* first);
void leave_frame(Node ctx);

// ---- access used by errors, fields and ownership ------------------------------------------------
// The word-list entry at an index, or null.
Cell* slot_at(Node ctx, uint32_t index);
// The buffer of the word list (its head and tail give the words).
memory::Buffer* values(Node ctx);
uint32_t field_count(Node ctx);

void mark(const Cell& context_cell);
void init();

}  // namespace kov::context
