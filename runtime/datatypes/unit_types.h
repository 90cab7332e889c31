// The four simplest datatypes: datatype! (a value naming a type), unset! (no value), none!
// (the empty value) and logic! (true and false), with their shared constant cells and the
// truth tests of conditionals.
//
// Cells: datatype! w1 the type id; logic! w1 1 or 0; unset! and none! no payload.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::datatype {
// A datatype! value naming the type: the form every error argument and result takes.
constexpr Cell make(uint32_t type) { return Cell{T_datatype, type, 0, 0}; }
inline uint32_t id_of(const Cell& c) {
    cell::expect(cell::is(c, T_datatype));
    return c.w1;
}
inline Cell& make_at(Cell& c, uint32_t type) { return c = Cell{T_datatype, type, 0, 0}; }
Cell* make_in(memory::Node block, uint32_t type);
Cell* push(uint32_t type);
void init();
}  // namespace kov::datatype

namespace kov::unset {
extern const Cell value;
inline Cell& make_at(Cell& c) { return c = Cell{T_unset, 0, 0, 0}; }
Cell* make_in(memory::Node block);
Cell* push();
Cell* push_last();
void init();
}  // namespace kov::unset

namespace kov::none {
extern const Cell value;
inline Cell& make_at(Cell& c) { return c = Cell{T_none, 0, 0, 0}; }
Cell* make_in(memory::Node block);
Cell* push();
Cell* push_last();
void init();
}  // namespace kov::none

namespace kov::logic {
extern const Cell true_value;
extern const Cell false_value;
inline Cell& make_at(Cell& c, bool v) {
    cell::store(c, T_logic, v ? 1u : 0u, 0, 0);
    return c;
}
inline Cell make(bool v) { return Cell{T_logic, v ? 1u : 0u, 0, 0}; }
Cell* make_in(memory::Node block, bool v);
Cell* push(bool v);
Cell* box(bool v);
inline uint32_t get(const Cell& c) {
    cell::expect(cell::is(c, T_logic));
    return c.w1;
}

// none! and false are false, every other value true; with check_unset an unset! value raises
// script/no-value with the given argument.
bool true_value_q(const Cell& value, bool check_unset, const Cell* error_arg);
void init();
}  // namespace kov::logic
