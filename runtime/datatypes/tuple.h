// tuple!: 3 to 12 unsigned bytes written with dots (1.2.3, 255.0.0.128), kept in the value
// cell itself. The module holds the cell layout and its constructors so far; the actions
// (clamped byte arithmetic, text, path access) come with the datatype's own registration.
//
// Cell: the header holds the length in bits 19-22; the bytes lie in memory order in w1-w3
// (byte 1 the low byte of w1, byte 5 the low byte of w2). Bytes past the length are 0.
//
// Only the constructors that append to a block may move memory.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::tuple {

constexpr uint32_t min_length = 3;
constexpr uint32_t max_length = 12;
constexpr uint32_t length_shift = 19;
constexpr uint32_t length_bits = 0xFu << length_shift;

// ---- cell helpers -------------------------------------------------------------------------------
inline uint32_t length(const Cell& c) { return (c.header >> length_shift) & 0xF; }
// Byte i (0-based) of the payload.
inline uint8_t byte_at(const Cell& c, uint32_t i) {
    uint8_t bytes[12];
    std::memcpy(bytes, &c.w1, 4);
    std::memcpy(bytes + 4, &c.w2, 4);
    std::memcpy(bytes + 8, &c.w3, 4);
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

}  // namespace kov::tuple
