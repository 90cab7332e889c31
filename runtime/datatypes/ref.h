// ref!: a reference written with a leading "@" (the "@" is not part of the text). It molds
// with the "@"; it cannot be appended to nor used in paths; everything else is string!'s.
//
// Cell: a string cell (see string.h) whose type is ref!.
//
// Moving memory: the constructors and mold allocate, so they may move any buffer; a cell they
// fill must not itself lie in a series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/any_string.h"
#include "runtime/memory.h"

namespace kov::ref {

// ---- cell helpers and constructors: string!'s, retyped (any_string.h) ---------------------------
using Text = any_string::Text<T_ref>;

void init();

}  // namespace kov::ref
