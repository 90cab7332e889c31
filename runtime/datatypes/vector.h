// vector!: a packed series of numbers or characters of one element type and one width:
// 8-, 16- or 32-bit integers or characters, 32- or 64-bit floats or percents. It computes
// element-wise with another vector or a scalar, and molds as the construction that makes it.
//
// Cell: w1 the head index counted in elements (it may lie past the tail and is clipped where
// it is used), w2 the node of the element buffer, w3 the element type: the datatype id 10
// (char!), 11 (integer!), 12 (float!) or 38 (percent!). The buffer's unit is the element width
// in bytes; elements lie one after the other in little-endian order.
//
// Reading an element: integer elements are signed (sign-extended from 8 or 16 bits), char
// elements are unsigned (zero-extended: 200 stays #"È"), float and percent elements of width
// 4 are singles widened to doubles; a percent element holds the fraction (1.0 = 100%).
// Writing keeps the low 8, 16 or 32 bits of an integer or char, and rounds a double to single
// for width 4. Integer element arithmetic wraps around modulo 2^32 and never promotes to
// float!.
//
// Every changing action checks the values it will store before it touches the series, so a
// value of the wrong type leaves the vector as it was.
//
// Moving memory: the constructors, append/insert/change, the vector-by-vector arithmetic,
// to_block and form/mold allocate and may move any buffer; changing actions also report to
// the owner, which may run Kov code. The element pointers taken here are used only between
// two such calls.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::vector {

// ---- cell helpers -------------------------------------------------------------------------------
inline Cell cell_of(memory::Node node, uint32_t element_type, uint32_t index = 0) {
    return Cell{T_vector, index, node, element_type};
}
inline uint32_t element_type(const Cell& c) { return c.w3; }
// Element width in bytes (the buffer's unit).
uint32_t width(const Cell& c);
// The address of element i (from the buffer's first element); valid until the next
// allocation.
inline uint8_t* element_at(const Cell& c, uint64_t i) {
    memory::Buffer* b = memory::buffer(c.w2);
    return b->head_ptr() + i * b->unit();
}
// Elements from the head index (clipped) to the tail.
uint32_t length(const Cell& c);
// The width a type has when the spec names none: 4 bytes for integer! and char!, 8 for
// float! and percent!.
inline uint32_t default_width(uint32_t type) { return type == T_float_ || type == T_percent ? 8 : 4; }
inline bool float_type(uint32_t type) { return type == T_float_ || type == T_percent; }

// ---- elements -----------------------------------------------------------------------------------
// An integer or char element's value (signed for integers, unsigned for chars).
int64_t element_to_integer(const uint8_t* at, uint32_t width, uint32_t type);
// A float or percent element as a double.
double element_to_float(const uint8_t* at, uint32_t width);
// The element as a value of the element type. A char element past U+10FFFF raises
// math/overflow.
Cell element_value(const uint8_t* at, uint32_t width, uint32_t type);
// The element at `at` of the vector cell s, written over s (its width and element type read
// first); gives s. Called as a tail call by the shared pick, which keeps its text path free of saved
// registers.
Cell* box_into(Cell* s, const uint8_t* at);
// Stores an integer!, char!, float! or percent! value in an element of the width; any other
// value raises script/invalid-type with its datatype.
void set_element(uint8_t* at, const Cell& value, uint32_t width, uint32_t type);

// ---- constructors -------------------------------------------------------------------------------
// The cell becomes an empty vector with room for `count` elements (at least 1) of the width;
// a byte size past the largest buffer raises internal/no-memory before anything is allocated.
Cell& make_at(Cell& c, uint64_t count, uint32_t type, uint32_t width);
Cell* make_in(memory::Node block, uint64_t count, uint32_t type, uint32_t width);
Cell* push(uint64_t count, uint32_t type, uint32_t width);

// ---- internal routines --------------------------------------------------------------------------
// Appends one element; a value not of the element type raises script/invalid-arg.
void append_value(Cell& v, const Cell& value);
// append_value for each value of the block from its position.
void append_block(Cell& v, const Cell& block);
// A new block (on the value stack) of one value per element from the position.
Cell* to_block(const Cell& v);
// The element-wise arithmetic of a vector and a scalar (operation codes of integer::Op): the
// vector changes in place from its position and is given. The element is the left operand of
// each operation, whichever side of the expression the scalar stood on.
Cell* scalar_math(int32_t op, Cell* v, const Cell& scalar);
// A scalar a (integer!, char!, float! or percent!) whose arithmetic meets the vector b on its
// right: scalar_math of b and a; the changed vector b is also copied into a, the result.
// Called as a tail call by the scalar types' math.
Cell* math_scalar_left(Cell* a, Cell* b, int32_t op);
// The arithmetic actions: a vector right operand gives a new vector in a; any other operand
// goes to scalar_math.
Cell* math(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace kov::vector
