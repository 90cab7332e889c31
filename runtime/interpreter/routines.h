// Routines: built-in functions whose bodies are C++ functions registered here by name. The
// boot source gives each its spec block and names the entry (`name: make routine! [spec
// entry-name data]`); the routine! value keeps the entry's registry index and an optional data
// value (a datatype for the type tests, a typeset word for the typeset tests).
//
// A routine's arguments lie on the value stack from the argument base, as a native's do
// (fixed arguments, then those of the refinements given); the entry leaves its result in the
// argument-base cell.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kov::routines {

using Entry = void (*)(Cell* args, const Cell& data);

// Registers an entry under a name; gives its index.
uint32_t add(const char* name, Entry entry);
// The index of a name, or 0 when it is unknown.
uint32_t find(const char* name, uint32_t length);
Entry entry(uint32_t index);
// Makes a routine! value of a spec, an entry index and its data; pushes it and gives it.
Cell* make(const Cell& spec, uint32_t index, const Cell& data);
// `make routine! [spec entry-name data]`: a routine of a registered entry. The data is a
// datatype word (looked up now) or a lit-word (kept as a word). Routines are the runtime's
// own: outside start-up (`allow_make` false) this raises internal/routines.
Cell* make_from(const Cell& definition);
extern bool allow_make;
// Runs the routine with its arguments in place from the argument base, in a native's frame:
// fixed arguments, then those of the refinements given, whose positions `refinements` holds
// as a native's Args takes them.
void call(const Cell& routine, const int32_t* refinements);

void init();

}  // namespace kov::routines
