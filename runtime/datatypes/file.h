// file!: a file or directory name in the language's own notation (forward slashes). It is a
// url! in every respect but its molded form, "%" and the name (in double quotes when the name
// holds a character a bare file literal cannot), and its file actions.
//
// Cell: a string cell (see string.h) whose type is file!.
//
// The file actions hand over to the I/O layer, which does not exist yet: delete, query,
// read, rename and write raise internal/not-done.
//
// Moving memory: the constructors and mold allocate, so they may move any buffer; a cell they
// fill must not itself lie in a series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/any_string.h"
#include "runtime/datatypes/registry.h"
#include "runtime/memory.h"

namespace kov::file {

// ---- cell helpers and constructors: string!'s, retyped (any_string.h) ---------------------------
using Text = any_string::Text<T_file>;

// ---- actions ------------------------------------------------------------------------------------
int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part);

void init();

}  // namespace kov::file
