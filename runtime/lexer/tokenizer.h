// Scanners that read one number from text, shared by the lexer and by conversions such as
// `to integer!` of a string. They never read outside the range given.
#pragma once
#include <cstdint>

namespace kov::tokenizer {

// An optional sign and decimal digits, all of the range: false when the text is not a
// decimal integer or overflows 32 bits.
bool scan_integer(const uint8_t* start, uint32_t count, uint32_t unit, int32_t& out);

}  // namespace kov::tokenizer
