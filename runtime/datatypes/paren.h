// paren!: a block that the evaluator runs where it stands. Everything but its text is
// block!'s; it molds as "(...)" with the cells laid out as in a block. Molding may allocate.
#pragma once
#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kov::paren {

// Retypes the cell in place as a paren! and pushes a copy of it on the value stack.
Cell* push(Cell& c);
int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part);
void init();

}  // namespace kov::paren
