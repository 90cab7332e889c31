// handle!: an operating-system handle or other native value carried through the language, so
// that the platform layer can hand one to Kov code and get it back. It can be formed, molded
// and compared, nothing else.
//
// Cell: w1 the kind (0 null, 1 fd, 2 monitor, 3 window, 4 font, 5 rich-text), w2 the native
// value: a 32-bit handle-table slot or a descriptor, never a machine address; w3 -1, or a
// slot of the handle table whose resource the value keeps alive (the collector marks it).
// Equality looks at the value only: two handles of one value and different kinds are equal.
//
// Moving memory: only the constructors that append to a block and form/mold (which append to
// the output string) may move memory.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::handle {

enum Kind : uint32_t { null = 0, fd = 1, monitor = 2, window = 3, font = 4, rich_text = 5 };
constexpr uint32_t kind_count = 6;

// ---- cell helpers -------------------------------------------------------------------------------
inline uint32_t kind(const Cell& c) { return c.w1; }
inline int32_t value(const Cell& c) { return static_cast<int32_t>(c.w2); }
// The kind's name ("fd"), or null for a kind outside the table.
const char* kind_name(uint32_t kind);

// ---- constructors -------------------------------------------------------------------------------
// The whole cell is written: header 46 without flags, the kind, the value, -1.
inline Cell& make_at(Cell& c, int32_t value, uint32_t kind) {
    c = Cell{T_handle, kind, static_cast<uint32_t>(value), 0xFFFFFFFFu};
    return c;
}
inline Cell make(int32_t value, uint32_t kind) { return Cell{T_handle, kind, static_cast<uint32_t>(value), 0xFFFFFFFFu}; }
Cell* make_in(memory::Node block, int32_t value, uint32_t kind);
Cell* push(int32_t value, uint32_t kind);

void init();

}  // namespace kov::handle
