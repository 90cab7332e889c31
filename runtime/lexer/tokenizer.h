// Scanners that read one number from text without running the lexer, shared by the lexer and
// by conversions such as `to integer!` of a string. The text is given as characters of a unit
// width (1, 2 or 4 bytes, little-endian); a character is always compared as a whole code
// point, so a wide character never passes for an ASCII digit or sign. They never read outside
// the range given and never allocate.
//
// They accept the number syntax of the lexer's loaders (apostrophes between digits included)
// and report failure through an error code, leaving the raising (and its error id) to the
// caller.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kov::tokenizer {

// Error codes of the scanners below; 0 is success.
constexpr int32_t bad_text = -1;   // a character that does not belong, or not the number syntax
constexpr int32_t overflow = -2;

// An optional sign, then digits and apostrophes (skipped). A character that is neither sets
// bad_text and ends the scan (the value read so far is returned, signed); no digit at all is
// bad_text too. Overflow sets `overflow` and gives 0, except that "-2147483648" gives the
// smallest integer.
int32_t scan_integer(const uint8_t* text, int64_t count, uint32_t unit, int32_t* error);

// Float syntax with "," taken as the decimal point and apostrophes ignored, at most 312
// characters: bad_text and NaN otherwise. When the float reader refuses the text, the error
// is the (positive) number of bytes it left unread.
double scan_float(const uint8_t* text, int64_t count, uint32_t unit, int32_t* error);

// An optional sign, an optional three-letter currency code (then "$" is required), an
// optional "$", then digits with single apostrophes and at most one "." followed by digits.
// Fills the cell with the money! value and gives true; on any failure gives false, sets
// bad_text and leaves the cell as it was.
bool scan_money(const uint8_t* text, int64_t count, uint32_t unit, int32_t* error, Cell& result);

}  // namespace kov::tokenizer
