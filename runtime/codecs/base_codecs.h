// Text codecs for binary!: bytes to characters and back in base 2, 16, 58 and 64.
//
// Encoders write 8-bit characters into the caller's buffer, which needs `encoded_size`
// bytes, and give the position after the last character written (base 2: eight digits a
// byte, most significant bit first; base 16: two uppercase digits a byte; base 58: the
// Bitcoin alphabet, one "1" per leading zero byte; base 64: RFC 4648 with "=" padding and no
// line breaks). They never touch series memory (base 58 works on the tracked heap), so the
// data and the output may both lie in series.
//
// Decoders read `count` characters of the given unit width (1, 2 or 4) and never past them.
// A ";" starts a comment that runs to the next line feed. Base 2 and 16 skip every character
// at or below space; base 58 and 64 skip backspace, tab, line feed, form feed, carriage return,
// space and the apostrophe. Characters above 127 are invalid everywhere. The result is the
// node of a new unit-1 series, head 0, its tail after the bytes (the binary! cell is
// {T_binary, 0, node, 0}), or 0 when the text is invalid.
//
// Memory: a decoder reads the whole text into a tracked-heap scratch before its one series
// allocation, so the text may lie in a series (it is not read again once memory may have
// moved). That allocation may collect; the node returned is not rooted, so the caller makes
// it reachable before allocating again. Raises internal no-memory when the series cannot be
// had.
#pragma once
#include <cstdint>

#include "runtime/memory.h"

namespace kov::base2 {
uint64_t encoded_size(uint64_t bytes);  // exact
uint8_t* encode(uint8_t* out, const uint8_t* data, uint64_t bytes);
// Bits left over at the end (not a whole byte) make the text invalid.
memory::Node decode(const uint8_t* text, uint64_t count, uint32_t unit);
}  // namespace kov::base2

namespace kov::base16 {
uint64_t encoded_size(uint64_t bytes);  // exact
uint8_t* encode(uint8_t* out, const uint8_t* data, uint64_t bytes);
// Upper and lower case digits; an odd last digit is dropped.
memory::Node decode(const uint8_t* text, uint64_t count, uint32_t unit);
}  // namespace kov::base16

namespace kov::base58 {
// An upper bound (the exact length needs the conversion itself): 2 characters a byte.
uint64_t encoded_size(uint64_t bytes);
uint8_t* encode(uint8_t* out, const uint8_t* data, uint64_t bytes);
// One zero byte per leading "1". Empty text (or only spacing) gives an empty binary.
memory::Node decode(const uint8_t* text, uint64_t count, uint32_t unit);
}  // namespace kov::base58

namespace kov::base64 {
uint64_t encoded_size(uint64_t bytes);  // exact
uint8_t* encode(uint8_t* out, const uint8_t* data, uint64_t bytes);
// "=" after two or three characters of a group ends the text (what follows is not read);
// after none or one it is invalid. A group cut by the end of the text is dropped.
memory::Node decode(const uint8_t* text, uint64_t count, uint32_t unit);
}  // namespace kov::base64
