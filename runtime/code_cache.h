// The code cache: what the interpreter keeps in C++ memory beside a code block (a block or a
// paren it runs), never in the collected heap.
//
// A block's buffer says where it stands in its `spare` word and the `has_form` flag:
//   - flag clear, spare 0: never run (every new buffer, every copy);
//   - flag clear, spare 1: run once;
//   - flag clear, spare 2: walked only (a body whose first statement the walker takes);
//   - flag set: spare is the number of its form in the table below.
// A block gets a form when it runs a second time. The header, spare word included, moves with
// the buffer; the routines that copy a series clear the flag and the word.
//
// A form stands for the block's cells as they were when it was made: content, binding and
// cell flags. Whatever changes a cell of a block with a form drops the form first (`changed`):
// the series change report (series::report) does it for every reported change, and the
// writers that do not report call `changed` themselves. Setting words, collections and
// rebinding other blocks leave a form alone. A form is only ever trusted after its back link
// is checked (its node still names a buffer whose flag and spare point back to it), so a
// stale link, such as a node renumbered by a collection, costs a rebuild and nothing else.
//
// Freed blocks: after marking, a weak sweep drops the forms of unmarked nodes and of links
// gone stale; when the forms' memory passes its budget, every form is evicted (and rebuilt at
// its block's next run). A collection that may evacuate node frames evicts every form before
// marking, so that nothing forms keep pins a frame.
//
// Statements of a form mostly run no code (value statements); a conditional runs its branch,
// whose code may compile other statements of the same form (which moves the statement table),
// make or drop forms (the table of forms moves, and `epoch` changes), or change this very block
// (its form goes). So the interpreter reads what it needs of a statement before that code
// runs and looks the form up again afterwards whenever the epoch moved.
//
// Checking (interp::check_forms, on in the debug, asan and gc-stress builds): each form keeps
// a hash of its block's cells and compares it on every run; a mismatch is a missed
// invalidation, and the process aborts naming the block.
//
// Moving memory: nothing here allocates in the collected heap or runs Kov code; the table of
// forms is C++ memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::code_cache {

// Counts of the cache's events (forms made and released): 64 bits, so that a count remembered
// by a loop or a compiled path that lives for hours never comes round to the same value.
using Epoch = uint64_t;

// The spare word of a block run once and without a form, and of one left to the walker.
constexpr uint32_t ran_once = 1;
constexpr uint32_t walked_only = 2;
// Form numbers start here.
constexpr uint32_t first_form = 3;
// The forms' memory beyond which forms are evicted at collection.
constexpr std::size_t budget = 8u << 20;

// ---- compiled statements ------------------------------------------------------------------------
// A statement is compiled at its first run through a form, from the cells and the words'
// values at that moment, into one of these shapes; the interpreter runs it (interp.cpp) and
// checks, where the walker would read a word, that the word still means what it meant then.
// The shapes after `value` run code (the interpreter's run_code_statement runs them).
enum class Shape : uint8_t {
    unknown,  // not compiled yet
    walker,   // the walker evaluates it
    value,    // [set-word] operand {operator operand}: no code runs, nothing allocates
    // if, unless or either with a value expression as condition and its blocks written out:
    // the native runs as call would call it, its branch through eval_body
    conditional,
    // [set-word] operand {operator operand} whose operands may be calls (Read::call): code
    // runs, so the statement sets `current`, and wherever a check fails after a call ran, or
    // the call changed the block, the walker goes on from that very position
    expression,
};
// How an operand is read: its own cell (a constant), a global word's slot, any other word
// through its binding, or an object's field through a path of two words (a Field).
// A paren (Read::paren) holding one such expression is a statement of its own in the form (a
// sub-statement, at no position of the block), valid while the paren's token is.
// A path of a word holding a block and up to three integer or get-word steps (a/:i/:j) is an
// IndexPath (Read::index), read as the block's path step reads it; as a set-path target, set as
// the block's poke sets it.
// A call of what a word (or a path's first word) held when compiled (Read::call, only in an
// expression statement and the parens in it) is a Call.
enum class Read : uint8_t { constant, global, word, field, paren, index, call };
struct IndexPath {
    memory::Node path = 0;
    uint32_t form = 0;  // the path's token: form and serial
    Epoch serial = 0;
    mutable Epoch checked = 0;  // token_holds's epoch
    uint32_t steps = 0;
    Cell first;
    Cell step[3];
};
// A path `word/field` in code, read or set as an object's path step does: the path series, the
// form it was given as a token (its number and serial: any change to the path's cells drops
// that form), the holder word (its first element), and the field's context and index found
// when compiled (a word list only grows, so they stay right while the holder holds an object
// with that context).
struct Field {
    memory::Node path = 0;
    uint32_t form = 0;
    Epoch serial = 0;
    mutable Epoch checked = 0;  // token_holds's epoch
    Cell holder;
    memory::Node context = 0;
    uint32_t index = 0;
};
// A number operator applied in place: the operator word, the op! value it held, the operation
// (interp's numbering), and the right operand (a number, a word, a paren, an index path, or in
// an expression statement a call).
struct Step {
    Cell word, op, right;
    uint8_t operation = 0;
    Read right_read = Read::constant;
    uint32_t sub = 0;  // Read::paren: the sub-statement's number; Read::index: the IndexPath's;
                       // Read::call: the Call's
    uint32_t pos = 0;  // the operator word's position
};
// A call in an expression statement, as call_as and fetch_and_run make it: the head word (a
// path's first word) and the function, native or action it held (the collector keeps it
// alive while the form names it, so that its node cannot come back as another function), the
// path and its token for refinements written in one, the arguments (sub-statements, in the
// order fetch_and_run fetches them: the fixed ones, then each refinement's; a value expression,
// a literal or get argument's cell as it stands, or, without refinements in a path, an
// expression with calls itself), the frame's cells after the fixed arguments for a function
// (its refinements set as the path sets them), and the position after the last argument.
struct CallArg {
    uint32_t statement = 0;        // the sub-statement: a value, or an expression with calls
    uint32_t slot = 0;             // a refinement's argument: its slot in the frame; else 0
    uint32_t ts1 = 0, ts2 = 0, ts3 = 0;  // the types it takes
    uint32_t pos = 0;              // where it starts
    uint32_t symbol = 0;           // its name in the spec (for the type error)
};
struct Call {
    Cell head, fn;
    memory::Node path = 0;
    uint32_t path_form = 0;
    Epoch path_serial = 0;
    mutable Epoch path_checked = 0;  // token_holds's epoch
    uint32_t first_arg = 0, fixed = 0, args = 0;  // in the form's call_args
    uint32_t image = 0, slots = 0;                // in the form's images
    uint32_t next = 0;
    bool runs_code = false;  // an argument is an expression with calls: the frame is pushed first
    // A native's or action's refinements from the path: each one's ordinal and the position
    // of its first argument in the frame.
    uint8_t refinements = 0;
    uint8_t refinement[4] = {}, refinement_at[4] = {};
};
struct Form;
struct Statement;
// A value statement's value made by code specialised for its shape (the interpreter picks it
// when compiling), or null for the general way.
using ValueFn = bool (*)(const Form& f, const Statement& s, Cell& v);
struct Statement {
    uint32_t next = 0;  // the position after the statement
    Shape shape = Shape::unknown;
    bool sets = false;        // a set-word starts it (target)
    bool lookahead = false;   // a word follows it (after), which must not hold an operator
    bool global = false;      // every word it reads or sets is a global one (a constant operand
                              // aside): run from the global values directly, up to max_index
    uint32_t max_index = 0;
    // A counter (x: x + k or x: x - k with an integer k, x a word or a field path read and set
    // through the same word): x's slot gets delta added in place. by_word: x: x + y, y a word
    // whose integer is added instead.
    bool counter = false, by_word = false;
    int32_t delta = 0;
    uint8_t misses = 0;       // runs that left it to the walker since it was compiled
    uint8_t compiles = 0;
    bool rich = false;  // as global, with an operand a paren or an index path (`a/:i/:k`)
    // Neither global nor rich, its operands constants or words, its target a word: run inline
    // (run_simple_value) rather than by run_value.
    bool simple = false;
    // A lone call of `return` with a value argument, the block's last statement (Shape::expression):
    // where the block runs as a function's body in its frame, the value is the body's.
    bool ends = false;
    ValueFn fast = nullptr;  // first_value's answer for its shape (interp.cpp's pick_fast)
    uint32_t first_step = 0, steps = 0;  // its steps in the form's list
    Read first_read = Read::constant;
    Read target_read = Read::word;  // word (a set-word), field or index (a set-path)
    uint32_t first_field = 0, target_field = 0;  // in the form's fields for Read::field; target_field
                                                 // in its indexes for Read::index
    Cell target, first, after;  // first: a constant, or a word read through its binding
    uint32_t first_sub = 0;     // first_read paren or index: as Step::sub
    // Shape::conditional: the head word and the native it held, the condition (a
    // sub-statement without a paren) and where its block or blocks stand.
    Cell head, native;
    uint32_t condition = 0, blocks_at = 0, blocks = 0;
    memory::Node paren = 0;     // a sub-statement: its paren and the paren's token
    uint32_t paren_form = 0;
    Epoch paren_serial = 0;
    mutable Epoch paren_checked = 0;  // token_holds's epoch
    uint32_t paren_at = 0;      // where the paren's expression starts
};
// A form's compiled statements, by the position they start at. Its size is a power of two, so
// that the table's bounds check on every block run needs no division.
struct alignas(256) Form {
    memory::Node node = 0;     // the block; 0 for a free entry
    Epoch serial = 0;          // the epoch it was made at
    uint32_t next_free = 0;    // free entries: the next free number (0 ends the list)
    uint32_t evacuations = 0;  // the collector's evacuation count when the hash was taken
    bool hashed = false;
    bool runs_code = false;  // it has statements that run code (conditionals, expressions)
    uint64_t hash = 0;  // of the block's cells, kept while checking
    std::vector<uint32_t> at;  // by position: 1 + the statement starting there, 0 for none yet,
                               // walker_statement for one the walker takes
    std::vector<Statement> statements;
    std::vector<Step> steps;
    std::vector<Field> fields;
    std::vector<IndexPath> indexes;
    std::vector<Call> calls;
    std::vector<CallArg> call_args;
    std::vector<Cell> images;
};
constexpr uint32_t walker_statement = 0xFFFFFFFFu;
// The table of forms, by number (from first_form).
extern std::vector<Form> forms;
// Counts the forms made and released; a form's serial is the count when it was made.
extern Epoch epoch;
// Form k (the spare word of a block whose flag is set) when it is still the block's. The
// address is valid until the next form is made: no Kov code and no allocation in between.
inline Form* linked_form(memory::Node code, uint32_t k) {
    return k < forms.size() && forms[k].node == code ? &forms[k] : nullptr;
}

void init();

// A run of the code block starts. The walker calls it for every block it evaluates that has
// no form yet, and for every block while checking. Counts the run, makes the form at the
// second one and, when checking, compares the form's hash; does nothing while
// interp::walker_only is set.
void note_run(memory::Node code);

// A token for a series that compiled code depends on (a path): the number and serial of a form
// it is given if it has none. Whatever changes its cells drops that form, which token_valid
// then tells.
uint32_t token(memory::Node series, Epoch& serial);
// The table is asked first: a series renumbered or freed has lost its form at the collection's
// sweep, so its buffer is read only while the token's form still names it.
inline bool token_valid(memory::Node series, uint32_t k, Epoch serial) {
    if (k >= forms.size() || forms[k].node != series || forms[k].serial != serial) return false;
    memory::Buffer* b = memory::buffer(series);
    return (b->flags & memory::has_form) && b->spare == k;
}

// token_valid, remembered: checked holds the epoch at which the token last held (0: never, as
// the epoch is past 0 once a form exists). A token fails only when its form is released, which
// moves the epoch, so while the epoch stays there the token holds without looking.
inline bool token_holds(memory::Node series, uint32_t k, Epoch serial, Epoch& checked) {
    if (checked == epoch) return true;
    if (!token_valid(series, k, serial)) return false;
    checked = epoch;
    return true;
}

// Leaves the block to the walker from now on (its form goes).
void walk_only(memory::Node code);

// Drops the form of a block whose cells are about to change (or have changed).
void drop(memory::Node code);
inline void changed(memory::Node code) {
    if (memory::buffer(code)->flags & memory::has_form) drop(code);
}

// The functions that forms' calls name, marked at every collection (but one that may evacuate
// node frames, which evicts every form instead).
void mark_calls();

// What the cache holds: forms alive and the bytes they take (C++ memory).
std::size_t form_count();
std::size_t bytes();
// The positions of the live forms that hold a compiled statement (not those left to the
// walker, nor those not reached yet): what the forms' memory buys, for the reports that weigh
// it against the budget. It walks every form, so no run of code asks for it.
std::size_t compiled_cells();

}  // namespace kov::code_cache
