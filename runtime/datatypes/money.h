// money!: an exact decimal amount with an optional currency code, held in the value cell as
// packed decimal: 17 integer digits and 5 fraction digits. The module holds the cell layout,
// the constructors and the currency lookup so far; the digit arithmetic, text and actions come
// with the datatype's own registration.
//
// Cell: the header's bit 14 is the sign (1 negative); byte 4 (the low byte of w1) the currency
// index (0 none, else a 1-based position in the currency list); bytes 5-15 the 22 digits, two
// per byte, most significant first (odd digits in the high nibble). Digits 1-17 are the
// integer part, 18-22 the fraction. A value whose digits are all 0 is zero whatever its sign.
//
// Only the constructors that append to a block may move memory.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::money {

constexpr uint32_t sign_bit = 0x4000;
constexpr uint32_t digit_count = 22;
constexpr uint32_t integer_digits = 17;
constexpr uint32_t fraction_digits = 5;
constexpr uint32_t digit_bytes = 11;

// ---- cell helpers -------------------------------------------------------------------------------
inline bool negative_q(const Cell& c) { return (c.header & sign_bit) != 0; }
inline uint32_t currency(const Cell& c) { return c.w1 & 0xFF; }
// The 11 digit bytes (bytes 5-15 of the cell) into out.
void digits(const Cell& c, uint8_t* out);
// Digit k, 1 to 22.
uint32_t get_digit(const Cell& c, uint32_t k);

// The 1-based index of a currency code in the currency list (letter case ignored), -1 when the
// list does not hold it. The list is the start-up list of three-letter codes.
int32_t currency_index(const uint8_t* code, uint32_t length);
uint32_t currency_count();
const char* currency_code(uint32_t index);

// ---- constructors -------------------------------------------------------------------------------
// The cell becomes money! with the sign, currency index and 11 digit bytes; its other header
// flags are kept.
Cell& make_at(Cell& c, bool negative, uint32_t currency_index, const uint8_t* digit_bytes);
Cell* make_in(memory::Node block, bool negative, uint32_t currency_index, const uint8_t* digit_bytes);
Cell* push(bool negative, uint32_t currency_index, const uint8_t* digit_bytes);
// Fills the cell from digit texts: the integer digits [int_start, int_end) (apostrophes
// skipped) and the fraction digits [frac_start, frac_end) (at most 5 are kept). False, with the
// cell unchanged, when the integer part has more than 17 significant digits.
bool from_digits(Cell& c, bool negative, uint32_t currency_index, const uint8_t* int_start, const uint8_t* int_end,
                 const uint8_t* frac_start, const uint8_t* frac_end);

}  // namespace kov::money
