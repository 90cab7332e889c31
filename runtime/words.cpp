#include "runtime/words.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/root.h"

// Each X-macro below leaves the others undefined: an undefined one expands to nothing.
#define WORD_NONE(ident, text)

namespace kov::words {

namespace symbols {
#define WORD_SYMBOL(ident, text) uint32_t ident = 0;
#define WORD_GLOBAL WORD_NONE
#define WORD_LOAD WORD_NONE
#define WORD_REFINEMENT WORD_NONE
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}  // namespace symbols

namespace globals {
#define WORD_SYMBOL WORD_NONE
#define WORD_GLOBAL(ident, text) Cell ident = {};
#define WORD_LOAD WORD_NONE
#define WORD_REFINEMENT WORD_NONE
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}  // namespace globals

namespace loaded {
#define WORD_SYMBOL WORD_NONE
#define WORD_GLOBAL WORD_NONE
#define WORD_LOAD(ident, text) Cell ident = {};
#define WORD_REFINEMENT WORD_NONE
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}  // namespace loaded

namespace refinements {
#define WORD_SYMBOL WORD_NONE
#define WORD_GLOBAL WORD_NONE
#define WORD_LOAD WORD_NONE
#define WORD_REFINEMENT(ident, text) Cell ident = {};
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}  // namespace refinements

Cell ooo_issue = {};

void init_runtime() {
#define WORD_SYMBOL(ident, text) symbols::ident = symbol::make(text);
#define WORD_GLOBAL(ident, text) globals::ident = context::get_or_add_global(symbol::make(text));
#define WORD_LOAD(ident, text) loaded::ident = word::load(text);
#define WORD_REFINEMENT WORD_NONE
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}

void init_routine_keywords() {
#define WORD_SYMBOL WORD_NONE
#define WORD_GLOBAL WORD_NONE
#define WORD_LOAD WORD_NONE
#define WORD_REFINEMENT(ident, text) refinements::ident = word::load(text, T_refinement);
#include "runtime/defs/words.def"
#undef WORD_SYMBOL
#undef WORD_GLOBAL
#undef WORD_LOAD
#undef WORD_REFINEMENT
}

void init_ooo_issue() {
    // An issue refers to the global context, unbound (index -1).
    ooo_issue = word::cell_of(T_issue, symbol::make("ooo"), context::global(), -1);
    if (context::boot_flag) root::append(ooo_issue);
}

}  // namespace kov::words
