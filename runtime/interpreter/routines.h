// Routines: built-in functions whose bodies are C++ entries, one per row of
// runtime/defs/routines.def. The boot source gives each its spec block and names the entry by
// its word (`name: make routine! [spec entry-name data]`); the routine! value keeps the entry's
// index and an optional data value (a datatype for the type tests, a typeset word for the
// typeset tests).
//
// A routine is called as a native is: its arguments lie on the value stack from the argument
// base (fixed arguments in spec order, then those of the refinements given), the entry reads
// them through an Args view and leaves its result in the argument-base cell.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/interpreter/natives.h"

namespace kov::routines {

using Args = natives::Args;
using Entry = void (*)(Args& args, const Cell& data);

// Routine indexes by name: routines::index::type_test is 1.
namespace index {
enum Index : uint32_t {
    none_,
#define ROUTINE(word, ident, family) ident,
#include "runtime/defs/routines.def"
#undef ROUTINE
};
}  // namespace index
constexpr uint32_t count = 0
#define ROUTINE(word, ident, family) + 1
#include "runtime/defs/routines.def"
#undef ROUTINE
    ;

// Puts a routine's entry in the table (routines_register.h does it for a family's routines).
void register_entry(uint32_t index, Entry entry);
// The index of an entry's word, or 0 when no row has it.
uint32_t find(const char* word, uint32_t length);
// The entry of an index, or null where none is registered.
Entry entry(uint32_t index);
// Makes a routine! value of a spec, an entry index and its data; pushes it and gives it.
Cell* make(const Cell& spec, uint32_t index, const Cell& data);
// `make routine! [spec entry-name data]`: a routine of a registered entry. The data is a
// datatype word (looked up now) or a lit-word (kept as a word). Routines are the runtime's
// own: outside start-up (`allow_make` false) this raises internal/routines.
Cell* make_from(const Cell& definition);
extern bool allow_make;
// Runs the routine with its arguments in place from the argument base; `refinements` as a
// native's Args takes them.
void call(const Cell& routine, const int32_t* refinements);

void init();

}  // namespace kov::routines
