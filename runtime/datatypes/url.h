// url!: a uniform resource locator held as text. The module holds the cell layout, its
// constructors and the percent-decoding that literals need so far; the encoding, molding, path
// joining and port actions come with the datatype's own registration.
//
// Cell: a string cell (see string.h) whose type is url!.
//
// The constructors allocate and so may move memory; a cell they fill must not itself lie in a
// series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::url {

// ---- cell helpers -------------------------------------------------------------------------------
inline Cell cell_of(memory::Node node, int32_t index = 0) {
    return Cell{T_url, static_cast<uint32_t>(index), node, 0};
}

// ---- constructors -------------------------------------------------------------------------------
// An empty url! with room for n characters of the unit (1, 2 or 4).
Cell& make_at(Cell& c, uint32_t n, uint32_t unit);
Cell* make_in(memory::Node block, uint32_t n, uint32_t unit);
Cell* push(uint32_t n, uint32_t unit);
// Pushes a copy of the cell.
Cell* push(const Cell& value);

// ---- internal routines --------------------------------------------------------------------------
// Appends the UTF-8 text [text, text + length) to the string, decoding "%XX" escapes: an escape
// whose byte leads a multi-byte UTF-8 sequence, followed by escapes of its continuation bytes,
// gives that one character; a lone escape gives the code point of its byte; anything else (a
// "%" without two hex digits, a broken sequence) is taken as it stands, one character at a
// time. The text must not lie in a series. False when the raw text is not valid UTF-8.
bool decode_bytes(const uint8_t* text, uint64_t length, memory::Node out);

}  // namespace kov::url
