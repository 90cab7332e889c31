// The code cache: what the interpreter keeps in C++ memory beside a code block (a block or a
// paren it runs), never in the collected heap.
//
// A block's buffer says where it stands in its `spare` word and the `has_form` flag:
//   - flag clear, spare 0: never run (every new buffer, every copy);
//   - flag clear, spare 1: run once;
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
// its block's next run).
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

#include "runtime/memory.h"

namespace kov::code_cache {

// The spare word of a block run once and without a form.
constexpr uint32_t ran_once = 1;
// The forms' memory beyond which forms are evicted at collection.
constexpr std::size_t budget = 8u << 20;

void init();

// A run of the code block starts. The walker calls it for every block it evaluates that has
// no form yet, and for every block while checking. Counts the run, makes the form at the
// second one and, when checking, compares the form's hash; does nothing while
// interp::walker_only is set.
void note_run(memory::Node code);

// Drops the form of a block whose cells are about to change (or have changed).
void drop(memory::Node code);
inline void changed(memory::Node code) {
    if (memory::buffer(code)->flags & memory::has_form) drop(code);
}

// What the cache holds: forms alive and the bytes they take (C++ memory).
std::size_t form_count();
std::size_t bytes();

}  // namespace kov::code_cache
