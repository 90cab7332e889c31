// function!, routine!, native!, action! and op!: the callable values.
//
// function! (24): header flags trace, no-trace and compiled (flags.def; compiled: defined by the
// boot image: its frames and trace behaviour are those of the system's own functions);
// w1 the function's context (values on the value stack while it runs), w2 the spec block's
// node, w3 the node of its "more" block of five cells:
//   0 the body (a deep copy of the body block) or none, 1 the cached fetch spec, 2 unset!,
//   3 a copy of the function when an op! is made from it, 4 an extra integer or unset!.
// Pending bodies: a function the boot definitions make from a block of the boot image takes
// that block as it is (cell 2, its buffer flagged pending_body, cell 0 unset!) and makes the
// copy and binds it the first time the body is asked for (`body`), which most of the system's
// functions never are. The copy is the one `make_at` would have made then, as long as the
// image's block is unchanged: nothing but the function and the boot's own code reaches it,
// and binding a block that holds a pending body takes every pending body first (`take_all`).
// Whatever reads a function's body goes through `body` (or `take_all` first, where it must
// not allocate).
// Moving memory: `body` and `take_all` allocate when a body is pending (the collector may run).
// native! (21) and action! (22): w1 the native index (from 1) or the action slot + 1; w2 the
// spec block's node; w3 a two-cell more block: 0 none (reserved), 1 the cached fetch spec.
// op! (23): w1-w3 copied from the value it was made from; header field op_wrapped that value's
// datatype id. routine! (29) shares function!'s layout; its body is a C++ routine.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/cells.h"
#include "runtime/memory.h"

namespace kov::function {

constexpr uint32_t flag_trace = cell::function_trace;
constexpr uint32_t flag_no_trace = cell::function_no_trace;
constexpr uint32_t flag_compiled = cell::function_compiled;

// True while the boot definitions run: every function made then is the system's own and is
// marked compiled (left out of error call traces, which show the user's code).
extern bool making_compiled;
inline bool compiled_q(const Cell& fn) { return (fn.header & flag_compiled) != 0; }

// An op!'s header names the datatype of the value it was made from (its wrapped type).
constexpr uint32_t op_header(uint32_t wrapped) { return T_op | wrapped << cell::shift_of(cell::op_wrapped); }
inline uint32_t wrapped_type(const Cell& op) { return (op.header & cell::op_wrapped) >> cell::shift_of(cell::op_wrapped); }
// The type a call or path sees: an op!'s wrapped type, else the cell's own.
inline uint32_t callable_type(const Cell& c) { return cell::is(c, T_op) ? wrapped_type(c) : cell::type(c); }

// Checks a spec block; gives its attribute flags or raises script/bad-func-def (and
// invalid-type-spec, dup-vars, no-value for its type blocks and words).
uint32_t validate(const Cell& spec);
// Makes a function of the spec and body (body may be null) in the given context (0: one is
// made from the spec and the body is bound to it); pushes the function! cell on the value
// stack and gives it.
Cell* make_at(const Cell& spec, const Cell* body, memory::Node context, uint32_t extra, uint32_t flags);
// `function`: collects the set-words of the body (and foreach / remove-each / repeat words)
// as locals, extending the spec after /local; gives the block of collected words.
Cell* collect_locals(Cell& spec, const Cell& body);
// Counts /local and the words after it from the start index; -1 with `missing_is_error` when
// there is no /local.
int32_t count_locals(memory::Node spec, uint32_t start, bool missing_is_error);

// Pending bodies made and not yet taken; `take_body` makes the copy of one (the function's
// body, which it gives); `take_all` makes every one.
extern uint32_t pending_bodies;
Cell take_body(const Cell& fn);
void take_all();

// The fields of a callable: function! and routine! keep their context in w1, native! and
// action! their index; all keep the spec block's node in w2 and the more block's in w3.
inline bool callable_q(uint32_t t) { return t == T_function || t == T_routine || t == T_native || t == T_action || t == T_op; }
inline memory::Node context_of(const Cell& fn) {
    cell::expect(callable_q(cell::type(fn)));
    return fn.w1;
}
inline uint32_t entry_index(const Cell& fn) {
    cell::expect(callable_q(cell::type(fn)));
    return fn.w1;
}
inline memory::Node spec_of(const Cell& fn) {
    cell::expect(callable_q(cell::type(fn)));
    return fn.w2;
}
inline memory::Node more_of(const Cell& fn) {
    cell::expect(callable_q(cell::type(fn)));
    return fn.w3;
}
inline const Cell* more(const Cell& fn) { return cells::of(more_of(fn)); }
// A function's (or routine's) body block, or none.
inline Cell body(const Cell& fn) {
    const Cell& b = more(fn)[0];
    if (!cell::is(b, T_unset)) [[likely]] return b;
    return take_body(fn);
}

// A block whose words are bound as the body's words are outside the function's own context,
// without taking a pending body: the body, or the boot image's block it is to be copied from.
inline Cell outer_body(const Cell& fn) {
    const Cell& b = more(fn)[0];
    return cell::is(b, T_unset) ? more(fn)[2] : b;
}

void init();

}  // namespace kov::function

namespace kov::native {
// make native! [spec index] / make action! [spec slot+1]: the value pushed on the value stack.
Cell* make(const Cell& spec_block, uint32_t index, uint32_t type);
// Two natives (actions, ops) are equal only with the same entry.
int32_t compare(Cell* a, Cell* b, int32_t op);
void init();
}  // namespace kov::native

namespace kov::op {
// True when the spec suits an infix operator: exactly two arguments, the first a plain word.
bool spec_suits_q(const Cell& spec);
void init();
}  // namespace kov::op
