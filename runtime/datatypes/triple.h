// triple!: a record of three signed 32-bit integers, kept in w1-w3 of the cell. It can only
// be formed and molded ("make triple! [1 -2 3]"); no routine of the runtime makes one except
// the constructors here.
//
// Moving memory: make_in, push and form/mold (which append to the output) may move memory.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::triple {

// ---- cell helpers -------------------------------------------------------------------------------
inline int32_t at(const Cell& c, uint32_t i) {
    return static_cast<int32_t>(i == 0 ? c.w1 : i == 1 ? c.w2 : c.w3);
}

// ---- constructors -------------------------------------------------------------------------------
inline Cell& make_at(Cell& c, int32_t a, int32_t b, int32_t d) {
    c = Cell{cell::retyped(c.header, T_triple), static_cast<uint32_t>(a), static_cast<uint32_t>(b),
             static_cast<uint32_t>(d)};
    return c;
}
Cell* make_in(memory::Node block, int32_t a, int32_t b, int32_t c);
Cell* push(int32_t a, int32_t b, int32_t c);

void init();

}  // namespace kov::triple
