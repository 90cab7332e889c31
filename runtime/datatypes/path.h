// path!, lit-path!, set-path! and get-path!: blocks whose cells are the elements of a path
// (words, integers, parens ...), told apart from block! by the evaluator and by their text:
// a/b/1, 'a/b/1, a/b/1: and :a/b/1. path! is a child of block!; the three others are children
// of path! and differ from it only in their mold. Making, forming and molding may allocate.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kov::path {

// An empty path! with room for n cells; the cell is unset! while its buffer is allocated.
Cell& make_at(Cell& c, int32_t n);
// Retype the cell in place and push a copy of it on the value stack.
Cell* push(Cell& c);
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* p, Cell* out, Cell* arg, int32_t part);
// The elements molded with "/" between them, without any leading or trailing character.
int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part);
Cell* copy(Cell* p, Cell* result, Cell* part, bool deep, Cell* types);
void init();

}  // namespace kov::path

namespace kov::lit_path {
Cell* push(Cell& c);
int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part);
void init();
}  // namespace kov::lit_path

namespace kov::set_path {
Cell* push(Cell& c);
int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part);
void init();
}  // namespace kov::set_path

namespace kov::get_path {
Cell* push(Cell& c);
int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part);
void init();
}  // namespace kov::get_path
