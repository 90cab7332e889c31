// money!: an exact decimal amount with an optional currency code, held in the value cell as
// packed decimal: 17 integer digits and 5 fraction digits. The module holds the cell layout,
// the digit arithmetic with its limits, comparison, the conversions to and from integers,
// floats and text, the currency lookup and the datatype's actions.
//
// Cell: the header's bit 14 is the sign (1 negative); byte 4 (the low byte of w1) the currency
// index (0 none, else a 1-based position in the currency list); bytes 5-15 the 22 digits, two
// per byte, most significant first (odd digits in the high nibble). Digits 1-17 are the
// integer part, 18-22 the fraction. A value whose digits are all 0 is zero whatever its sign.
//
// The arithmetic reads the 22 digits as one integer count of 0.00001 units (below 10^22, so
// it fits 128 bits, and so does every intermediate product and scaled dividend that the
// range checks let through). Results are truncated toward zero, never rounded; a result
// beyond 17 integer digits, or a non-zero product or quotient below 0.00001, raises
// script/type-limit naming money!.
//
// Currencies: the list is `system/locale/currencies/list`, read in place (an index is a
// position in that block, so a code appended there is a currency at once). Before the system
// object exists (the boot image generator) the start-up list below stands in for it.
//
// Moving memory: the currency lookups and the arithmetic do not allocate (the lexer calls
// them while it holds pointers into its text); the constructors that append to a block or
// push, form and mold, and the actions that make words or blocks may.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::money {

constexpr uint32_t sign_bit = cell::money_negative;
constexpr uint32_t digit_count = 22;
constexpr uint32_t integer_digits = 17;
constexpr uint32_t fraction_digits = 5;
constexpr uint32_t digit_bytes = 11;
// The largest fraction a make spec may give as an integer, in 0.00001 units.
constexpr int32_t max_fraction = 99999;

// A magnitude in 0.00001 units.
__extension__ typedef unsigned __int128 Amount;

// ---- cell helpers -------------------------------------------------------------------------------
inline bool negative_q(const Cell& c) { return (c.header & sign_bit) != 0; }
inline void set_sign(Cell& c, bool negative) { c.header = negative ? c.header | sign_bit : c.header & ~sign_bit; }
inline void flip_sign(Cell& c) { c.header ^= sign_bit; }
inline uint32_t currency(const Cell& c) { return c.w1 & 0xFF; }
inline void set_currency(Cell& c, uint32_t index) { c.w1 = (c.w1 & ~0xFFu) | (index & 0xFF); }
// The 11 digit bytes (bytes 5-15 of the cell) into out.
void digits(const Cell& c, uint8_t* out);
// Digit k, 1 to 22.
uint32_t get_digit(const Cell& c, uint32_t k);
// Digits from the first non-zero one to digit 22; 1 for zero.
uint32_t significant_digits(const Cell& c);
Amount magnitude(const Cell& c);
// Writes the digits of a magnitude below 10^22; sign and currency stay.
void set_magnitude(Cell& c, Amount m);
bool zero_q(const Cell& c);
// -1, 0 or 1.
int32_t sign_of(const Cell& c);

// The 1-based index of a currency code in the currency list (letter case ignored), -1 when the
// list does not hold it.
int32_t currency_index(const uint8_t* code, uint32_t length);
uint32_t currency_count();
// The code of an index, NUL-terminated, valid until the next allocation; null for none.
const char* currency_code(uint32_t index);
// The currency word of a value, or none.
Cell currency_value(const Cell& c);

// ---- constructors -------------------------------------------------------------------------------
// The cell becomes money! with the sign, currency index and 11 digit bytes; its other header
// flags are kept.
Cell& make_at(Cell& c, bool negative, uint32_t currency_index, const uint8_t* digit_bytes);
Cell* make_in(memory::Node block, bool negative, uint32_t currency_index, const uint8_t* digit_bytes);
Cell* push(bool negative, uint32_t currency_index, const uint8_t* digit_bytes);
// A value from a sign, a currency and a magnitude below 10^22.
Cell make_amount(bool negative, uint32_t currency_index, Amount m);
// Fills the cell from digit texts: the integer digits [int_start, int_end) (apostrophes
// skipped) and the fraction digits [frac_start, frac_end) (at most 5 are kept). False, with the
// cell unchanged, when the integer part has more than 17 significant digits.
bool from_digits(Cell& c, bool negative, uint32_t currency_index, const uint8_t* int_start, const uint8_t* int_end,
                 const uint8_t* frac_start, const uint8_t* frac_end);

// ---- conversions --------------------------------------------------------------------------------
Cell from_int32(int32_t n);
// The integer part, truncated toward zero; script/type-limit naming integer! when it does not
// fit 32 bits.
int32_t to_integer(const Cell& c);
// The float's 22 significant digits, read as money. Refused with script/bad-make-arg: an
// infinity or NaN, a magnitude of 1e17 or more or a non-zero one below 0.00001, and in strict
// mode digits beyond the fifth decimal; otherwise those digits are dropped.
Cell from_float(double d, bool strict);
double to_float(const Cell& c);

// ---- arithmetic and comparison ------------------------------------------------------------------
// -1, 0 or 1 by amount, currencies ignored.
int32_t compare_amounts(const Cell& a, const Cell& b);
// Currency agreement: non-strict, either has none or both the same; strict, the same index.
bool same_currency_q(const Cell& a, const Cell& b, bool strict);
// a op b into a, op an integer::Op code 0-4 (add, subtract, multiply, divide, remainder). Either
// operand may be an integer!, float! or percent! instead of money (the integer! and float!
// arithmetic come here with a money right operand). Money divided by money is a float!.
Cell* math(Cell* a, Cell* b, int32_t op);
// The compare action of money!, also used (operands swapped) by integer! and float!.
int32_t compare(Cell* value, Cell* other, int32_t op);

// ---- text ---------------------------------------------------------------------------------------
// "-", the currency code, "$", the integer digits and the decimals of
// system/options/money-digits (all five with `all`); gives the part limit left.
int32_t format_text(const Cell& c, Cell& out, int32_t part, bool all);

void init();

}  // namespace kov::money
