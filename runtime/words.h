// The runtime's own words (runtime/defs/words.def): symbol ids and global words made once at
// start-up and kept in globals of their own, so native code recognises a word by comparing
// ids. Word cells kept here are bound to the global context, which the collector always
// keeps, so they need no marking; while the boot flag is set each is also copied into the
// root block.
//
// Moving memory: the init routines intern symbols and add global words (they allocate).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kov::words {

namespace symbols {
#define WORD_SYMBOL(ident, text) extern uint32_t ident;
#define WORD_GLOBAL(ident, text)
#define WORD_LOAD(ident, text)
#define WORD_REFINEMENT(ident, text)
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}  // namespace symbols

namespace globals {
#define WORD_GLOBAL(ident, text) extern Cell ident;
#define WORD_SYMBOL(ident, text)
#define WORD_LOAD(ident, text)
#define WORD_REFINEMENT(ident, text)
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}  // namespace globals

namespace loaded {
#define WORD_LOAD(ident, text) extern Cell ident;
#define WORD_SYMBOL(ident, text)
#define WORD_GLOBAL(ident, text)
#define WORD_REFINEMENT(ident, text)
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}  // namespace loaded

namespace refinements {
#define WORD_REFINEMENT(ident, text) extern Cell ident;
#define WORD_SYMBOL(ident, text)
#define WORD_GLOBAL(ident, text)
#define WORD_LOAD(ident, text)
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}  // namespace refinements

// The issue! #ooo.
extern Cell ooo_issue;

// Interns the symbols, then makes the global words and the loaded words, in list order.
void init_runtime();
// The refinements read in routine spec blocks.
void init_routine_keywords();
void init_ooo_issue();

}  // namespace kov::words
