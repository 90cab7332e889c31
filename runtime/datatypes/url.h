// url!: a uniform resource locator held as text. It is a string in every positional respect;
// what it adds is percent-encoding (molding, `enhex`) and percent-decoding (literals,
// `dehex`), construction from a block of parts, path access that joins segments with "/",
// and the port actions open, read and write (http and https URLs talk HTTP through
// runtime/io/http.h; any other url is parsed by the url parser written in Kov, made into a
// port! of its scheme and handed to port!'s action). file! is a child of url! and inherits
// its path access and construction.
//
// Cell: a string cell (see string.h) whose type is url!.
//
// Encoding works on the UTF-8 bytes of the text: a byte below 128 that the chosen table
// keeps is written as it is, every other byte as "%" and two upper-case hex digits.
//
// Moving memory: the constructors and every routine that appends to a string allocate, so
// they may move any buffer; a cell they fill must not itself lie in a series buffer. open, and
// read and write of a url that is not http(s), run Kov code (the parser and the actor).
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/any_string.h"
#include "runtime/memory.h"

namespace kov::url {

// ---- cell helpers and constructors: string!'s, retyped (any_string.h) ---------------------------
using Text = any_string::Text<T_url>;

// ---- encoding -----------------------------------------------------------------------------------
// The encoding tables: strict keeps only letters, digits and "-._~"; the url table keeps also
// "!#$&'()*+,/:=?@".
enum Table : int32_t { url_table = 0, strict_table = 254 };
// True when the table keeps the 7-bit character as it is.
bool kept_q(int32_t table, uint32_t c);
// The byte as it is (gives 1) or its escape "%XX" (gives 3), written into out.
int32_t encode_byte(int32_t table, uint8_t byte, char out[3]);
// Appends the encoding of every UTF-8 byte of the text value (from its position) to the
// output string.
void enhex_string(const Cell& value, Cell& out, int32_t table);

// ---- decoding -----------------------------------------------------------------------------------
// True, with the byte, when [p, end) begins with "%" and two hex digits.
bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& byte);
// Appends the UTF-8 text [text, text + length) to the string, decoding "%XX" escapes: an escape
// whose byte leads a multi-byte UTF-8 sequence, followed by escapes of its continuation bytes,
// gives that one character; a lone escape gives the code point of its byte; anything else (a
// "%" without two hex digits, a broken sequence) is taken as it stands, one character at a
// time. The text must not lie in a series. False when the raw text is not valid UTF-8.
bool decode_bytes(const uint8_t* text, uint64_t length, memory::Node out);
// The percent-decoding of a text value (from its position) appended to the output string.
void decode(const Cell& value, Cell& out);

// ---- actions ------------------------------------------------------------------------------------
// The make and to actions, inherited by file!: a block of parts for url!, else string!'s.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);

void init();

}  // namespace kov::url
