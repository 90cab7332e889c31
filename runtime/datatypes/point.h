// point2D! and point3D!: points of 32-bit IEEE floats with two or three coordinates, written
// in parentheses with ", " between the coordinates. They carry fractional coordinates for
// drawing, and point2D! is where pair! arithmetic goes when an integer result would not be
// an integer. Every computation is done in double precision and each coordinate is rounded
// to a 32-bit float when stored (`narrow`).
//
// Cells: w1 x, w2 y, and for point3D! w3 z, each the bits of a 32-bit float; a point2D! leaves
// w3 at 0.
//
// Moving memory: the constructors that append to a block, form and mold (which append to
// the output), make/to from text (the lexer) and path assignment (which stores the point back
// and may run change hooks) may move memory; the arithmetic does not.
#pragma once
#include <bit>
#include <cstdint>
#include <limits>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::point2d {

// The nearest 32-bit float of a double, an infinity beyond the float range (a conversion the
// language leaves undefined when done by a plain cast).
inline float narrow(double d) {
    // The largest float plus half a unit in its last place: from there on the nearest is an
    // infinity (the tie goes to it too, the largest float's last mantissa bit being odd).
    constexpr double limit = 0x1.ffffffp127;
    if (d >= limit) return std::numeric_limits<float>::infinity();
    if (d <= -limit) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

// ---- cell helpers -------------------------------------------------------------------------------
inline float x(const Cell& c) { return std::bit_cast<float>(c.w1); }
inline float y(const Cell& c) { return std::bit_cast<float>(c.w2); }

// ---- constructors -------------------------------------------------------------------------------
// The cell's type becomes point2D!, its generic header flags kept.
inline Cell& make_at(Cell& c, float x, float y) {
    cell::retype(c, T_point2d);
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

// ---- internal routines --------------------------------------------------------------------------
// A float! rounded to a 32-bit float, or an integer! converted.
float get_float(const Cell& c);

// The arithmetic actions (operation codes of integer::Op) with a point2D! in a and the right
// operand (point2D!, pair!, integer!, float!, percent!) in b; the result goes into a.
Cell* math(Cell* a, Cell* b, int32_t op);
// The comparison of a point2D! with a point2D! or a pair!, under a comparison code.
int32_t compare(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace kov::point2d

namespace kov::point3d {

// ---- cell helpers -------------------------------------------------------------------------------
inline float x(const Cell& c) { return std::bit_cast<float>(c.w1); }
inline float y(const Cell& c) { return std::bit_cast<float>(c.w2); }
inline float z(const Cell& c) { return std::bit_cast<float>(c.w3); }

// ---- constructors -------------------------------------------------------------------------------
// The cell's type becomes point3D!, its generic header flags kept.
inline Cell& make_at(Cell& c, float x, float y, float z) {
    cell::retype(c, T_point3d);
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

// ---- internal routines --------------------------------------------------------------------------
// The arithmetic actions with a point3D! in a and a point3D!, integer!, float! or percent! in
// b; the result goes into a.
Cell* math(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace kov::point3d
