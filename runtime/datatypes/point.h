// point2D! and point3D!: points of 32-bit IEEE floats with two or three coordinates, written
// in parentheses with ", " between the coordinates. The module holds the cell layouts and
// their constructors so far; the actions come with the datatypes' own registrations.
//
// Cells: w1 x, w2 y, and for point3D! w3 z, each the bits of a 32-bit float; a point2D! leaves
// w3 at 0.
//
// Only the constructors that append to a block may move memory.
#pragma once
#include <bit>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::point2d {

// ---- cell helpers -------------------------------------------------------------------------------
inline float x(const Cell& c) { return std::bit_cast<float>(c.w1); }
inline float y(const Cell& c) { return std::bit_cast<float>(c.w2); }

// ---- constructors -------------------------------------------------------------------------------
// The cell's type becomes point2D!, its header flags kept.
inline Cell& make_at(Cell& c, float x, float y) {
    cell::set_type(c, T_point2d);
    c.w1 = std::bit_cast<uint32_t>(x);
    c.w2 = std::bit_cast<uint32_t>(y);
    c.w3 = 0;
    return c;
}
inline Cell make(float x, float y) {
    return Cell{T_point2d, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), 0};
}
Cell* make_in(memory::Node block, float x, float y);
Cell* push(float x, float y);

}  // namespace kov::point2d

namespace kov::point3d {

// ---- cell helpers -------------------------------------------------------------------------------
inline float x(const Cell& c) { return std::bit_cast<float>(c.w1); }
inline float y(const Cell& c) { return std::bit_cast<float>(c.w2); }
inline float z(const Cell& c) { return std::bit_cast<float>(c.w3); }

// ---- constructors -------------------------------------------------------------------------------
// The cell's type becomes point3D!, its header flags kept.
inline Cell& make_at(Cell& c, float x, float y, float z) {
    cell::set_type(c, T_point3d);
    c.w1 = std::bit_cast<uint32_t>(x);
    c.w2 = std::bit_cast<uint32_t>(y);
    c.w3 = std::bit_cast<uint32_t>(z);
    return c;
}
inline Cell make(float x, float y, float z) {
    return Cell{T_point3d, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), std::bit_cast<uint32_t>(z)};
}
Cell* make_in(memory::Node block, float x, float y, float z);
Cell* push(float x, float y, float z);

}  // namespace kov::point3d
