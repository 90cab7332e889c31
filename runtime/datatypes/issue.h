// issue!: a word-based value written with a leading "#" (#abc): a symbol, not a series. It
// forms as its name (word!'s form), molds with the "#", and compares only with issues.
//
// Cell (a word cell, see word.h): w1 the global context, w2 the symbol id of the name (without
// the "#"), w3 the index -1 (an issue is never bound to a slot).
//
// Moving memory: constructors that intern a name or append to a block allocate; `make`,
// `make_at` and `push` of a symbol do not.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::issue {

// ---- cell helpers -------------------------------------------------------------------------------
inline uint32_t symbol_of(const Cell& c) { return c.w2; }

// ---- constructors -------------------------------------------------------------------------------
Cell make(uint32_t symbol);
// The cell becomes an issue of the symbol, its header flags kept.
Cell& make_at(Cell& c, uint32_t symbol);
Cell* make_in(memory::Node block, uint32_t symbol);
Cell* push(uint32_t symbol);
// An issue of the text: kept in the root block while the runtime boots, else on the value
// stack.
Cell* load(const char* text);

// ---- actions ------------------------------------------------------------------------------------
// make and to: a text gives the name; a char! a one-character name; a word type its symbol;
// anything else is made as a word and becomes an issue.
Cell* make_action(Cell* proto, Cell* spec, uint32_t type);

void init();

}  // namespace kov::issue
