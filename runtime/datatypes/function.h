// function!, routine!, native!, action! and op!: the callable values.
//
// function! (24): header flags 0x400 trace, 0x200 no-trace, 0x800 compiled (defined by the
// boot image: its frames and trace behaviour are those of the system's own functions);
// w1 the function's context (values on the value stack while it runs), w2 the spec block's
// node, w3 the node of its "more" block of five cells:
//   0 the body (a deep copy of the body block) or none, 1 the cached fetch spec, 2 unset!,
//   3 a copy of the function when an op! is made from it, 4 an extra integer or unset!.
// native! (21) and action! (22): w1 the native index (from 1) or the action slot + 1; w2 the
// spec block's node; w3 a two-cell more block: 0 none (reserved), 1 the cached fetch spec.
// op! (23): w1-w3 copied from the value it was made from; header bits 16-23 that value's
// datatype id. routine! (29) shares function!'s layout; its body is a C++ routine.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::function {

constexpr uint32_t flag_trace = 0x400;
constexpr uint32_t flag_no_trace = 0x200;
constexpr uint32_t flag_compiled = 0x800;

// True while the boot definitions run: every function made then is the system's own and is
// marked compiled (left out of error call traces, which show the user's code).
extern bool making_compiled;
inline bool compiled_q(const Cell& fn) { return (fn.header & flag_compiled) != 0; }

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
void push_unused_refinement(uint32_t n);

inline const Cell* more(const Cell& fn) {
    return reinterpret_cast<const Cell*>(memory::buffer(fn.w3)->head_ptr());
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
