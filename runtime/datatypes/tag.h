// tag!: text written between "<" and ">" (the delimiters are not part of the text). It forms
// and molds with its delimiters; everything else is string!'s.
//
// Cell: a string cell (see string.h) whose type is tag!.
//
// Moving memory: the constructors, form and mold allocate, so they may move any buffer; a
// cell they fill must not itself lie in a series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/any_string.h"
#include "runtime/memory.h"

namespace kov::tag {

// ---- cell helpers and constructors: string!'s, retyped (any_string.h) ---------------------------
using Text = any_string::Text<T_tag>;

void init();

}  // namespace kov::tag
