// What the datatypes whose whole value sits in the cell (date!, time!, pair!, point2D!,
// point3D!, tuple!) share beyond their own arithmetic: the words and datatype values their
// errors name, and which values a path assignment must store back.
//
// A path step works on a copy of the value it reached (the interpreter keeps that copy on
// the value stack), so assigning to a field of such a value (p/x: 1, o/size/x: 1,
// b/2/hour: 3, d/time/hour: 4) changes only the copy; the interpreter then puts the changed
// value where the path found it, step by step back to the variable or to the first holder
// that is not such a value (through its own path assignment, which tells an object's
// field-change hook or a series' owner).
//
// Moving memory: none of these routines allocates, except load_one (the lexer).
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kov::scalar {

inline Cell datatype_of(uint32_t type) { return Cell{T_datatype, type, 0, 0}; }

// The word of the innermost call the user can see (an action, op or function), for the
// errors that name the calling function; none when no call is running.
Cell calling_word();

// The first value the lexer loads from the text of a string-like series (from its index),
// or unset! when the text holds none. Text that does not scan raises the lexer's error. The
// value is not rooted: read what is needed before the next allocation.
Cell load_one(const Cell& text);

// True when the word names the symbol, letter case ignored.
bool word_is(const Cell& word, uint32_t symbol);

// True for the types whose whole value sits in the cell, which a path assignment changes on
// a copy that must be stored back.
bool held_by_value(uint32_t type);

// Words as a path or pick selector can spell them (a refinement or an issue is no selector).
bool selector_word_q(const Cell& c);

}  // namespace kov::scalar
