// What the datatypes whose whole value sits in the cell (pair!, point2D!, point3D!, tuple!,
// time!) share beyond their own arithmetic: the words and datatype values their errors name,
// and the write-back of a path assignment.
//
// A path step works on a copy of the value it reached (the interpreter keeps that copy on
// the value stack), so assigning to a field of such a value (p/x: 1, o/size/x: 1,
// b/2/hour: 3) changes only the copy. `store_back` puts the changed value where the path
// found it: into the variable for the first step, else through the holder's own path
// assignment, which tells the holder's owner (an object's field-change hook, a series'
// owner) with the old and the new value.
//
// Moving memory: store_back sets words or fields and may run Kov code (change hooks); the
// other routines do not allocate, except load_one (the lexer).
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

// After a path assignment changed `changed` (the copy the step worked on), stores it in the
// variable or the holder the step came from. Nothing happens for a step made outside a path.
void store_back(const Cell& changed, const PathStep& step);

// Words as a path or pick selector can spell them (a refinement or an issue is no selector).
bool selector_word_q(const Cell& c);

}  // namespace kov::scalar
