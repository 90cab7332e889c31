// The parse dialect's rule interpreter: matches a block of rules against a block-like series,
// a string-like series or a binary!, and answers whether the whole input matched (or the block
// that a top-level `collect` built).
//
// It is one explicit state machine over a stack of frames, never native recursion per rule
// level: deep rules cost frames, capped at 5000 (10000 cells' worth), beyond which
// script/parse-stack is raised. A paren in the rules may call `parse` again: each run works
// on the frames above those of the run that called it, and clears back to where it began on
// every way out.
//
// Moving memory: everything here may allocate and run Kov code (parens, the trace callback,
// the changing keywords report to owners), so frames hold nodes and indexes, never addresses,
// and are found again by index after each such call.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kov::parse {

// Registers the collector root that marks the frames and the running machines.
void init();

// Runs the rules over the input from its index. limit: an absolute index bounding the input,
// or -1. callback: a function! called with each trace event, or none. Gives a logic! or the
// collected block. break, continue, return, exit or throw out of a paren or the callback
// leave their pending exit set (the result is then none).
Cell process(const Cell& input, const Cell& rules, bool case_, int64_t limit, const Cell& callback);

}  // namespace kov::parse
