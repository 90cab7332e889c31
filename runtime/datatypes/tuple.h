// tuple!: 3 to 12 unsigned bytes written with dots (1.2.3, 255.0.0.128), kept in the value
// cell itself: colours (r.g.b or r.g.b.a), versions, addresses. Arithmetic works byte by byte
// and clamps every result byte to 0..255; a missing byte of the shorter tuple counts as 0.
//
// Cell: the header holds the length in bits 19-22; the bytes lie in memory order in w1-w3
// (byte 1 the low byte of w1, byte 5 the low byte of w2). Bytes past the length are 0: every
// routine that shortens a tuple clears them, so that equal tuples have equal cells.
//
// Moving memory: the constructors that append to a block, form and mold (which append to
// the output), make/to from text (the lexer) and path assignment (which stores the tuple back
// and may run change hooks) may move memory; the arithmetic does not.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::tuple {

constexpr uint32_t min_length = 3;
constexpr uint32_t max_length = 12;
constexpr uint32_t length_shift = cell::shift_of(cell::tuple_length);
constexpr uint32_t length_bits = cell::tuple_length;

// ---- cell helpers -------------------------------------------------------------------------------
inline uint32_t length(const Cell& c) { return (c.header >> length_shift) & 0xF; }
// The 12 payload bytes.
inline void bytes_of(const Cell& c, uint8_t* out) {
    std::memcpy(out, &c.w1, 4);
    std::memcpy(out + 4, &c.w2, 4);
    std::memcpy(out + 8, &c.w3, 4);
}
// Byte i (0-based) of the payload.
inline uint8_t byte_at(const Cell& c, uint32_t i) {
    uint8_t bytes[12];
    bytes_of(c, bytes);
    return i < max_length ? bytes[i] : 0;
}

// ---- constructors -------------------------------------------------------------------------------
// The cell becomes a tuple of the first `count` bytes (3 to 12; callers check), its other
// header flags kept.
Cell& make_at(Cell& c, const uint8_t* bytes, uint32_t count);
// Header 39 | length << 19 and the three payload words.
Cell make(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* make_in(memory::Node block, const uint8_t* bytes, uint32_t count);
Cell* push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3);
// A value-stack tuple of the low bytes of n integers (n from 0 to 12), padded with zero
// bytes to length 3.
Cell* push_from_ints(uint32_t n, const int32_t* values);
// The colour r.g.b, or r.g.b.a unless a is -1; the whole cell is rewritten.
Cell& make_rgba(Cell& c, int32_t r, int32_t g, int32_t b, int32_t a);

// ---- internal routines --------------------------------------------------------------------------
// The bytes of the binary! from its index, at most 12, padded with zero bytes to length 3;
// the whole cell is rewritten.
Cell& from_binary(const Cell& binary, Cell& out);
// The colour of hexadecimal issue text: 3 digits (each doubled: #F80 is 255.136.0), 6
// (r.g.b) or 8 (r.g.b.a); anything else raises script/invalid-data. The whole cell is
// rewritten.
Cell& from_hex(const Cell& issue, Cell& out);
// True when every byte within the length is 0.
bool all_zero_q(const Cell& c);
// The write half of a path step: byte index (1-based) becomes the integer value clamped to
// 0..255, or with none! the tuple is cut before it (never below 3 bytes). An index outside
// 1..length raises script/out-of-range with index_cell.
void set_byte(Cell& c, int32_t index, const Cell& value, const Cell& index_cell);

// The arithmetic and bitwise actions (operation codes of integer::Op) of a tuple with a
// tuple!, integer!, float! or percent!. With a number in a (the tuple in b), subtract,
// divide and remainder raise script/not-related and the others swap the operands. The result
// goes into a.
Cell* math(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace kov::tuple
