// Unicode text and string units.
//
// A string buffer holds its characters at one unit width, kept in the low flag bits of the
// buffer: unit 1 (Latin-1, code points 0-255), unit 2 (UCS-2, 16-bit little-endian, no
// surrogate pairs) or unit 4 (UCS-4, 32-bit little-endian). A buffer only widens (1->2, 1->4,
// 2->4), always as a whole and in place; any other unit met here is an internal fault.
// External text (UTF-8, UTF-16LE) is converted at the edges: the loaders build a buffer at the
// narrowest unit its content needs; the conversions into UTF-8 or UTF-16 write into the
// string cell's conversion cache (a byte series whose node sits in word 3 of the cell).
//
// String cells: w1 head index in units from the buffer head, w2 the buffer's node, w3 the
// conversion cache node (0 until the first conversion).
//
// Moving memory: the widening routines, the loaders, `change_case` and every conversion into
// the cache may allocate, so they may move any series buffer. They take nodes (or a
// ByteSource) rather than data pointers and fetch buffers again after each allocation; the
// pointers they return are fresh. The cache text they return stays valid until the next
// conversion of that cell or the next allocation. A Cell& passed to a routine that
// allocates must itself not live inside a series buffer (use a C++ local or a stack slot).
// The decoders, encoders and size routines never allocate (raising an error excepted).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::unicode {

// ---- unit widths ------------------------------------------------------------------------------
// 1 -> 0, 2 -> 1, 4 -> 2; any other unit is an internal fault.
uint32_t unit_shift(uint32_t unit);
// The code point of the character at p (unit 2 and 4 little-endian).
uint32_t char_at(const uint8_t* p, uint32_t unit);
// Stores the code point at p in the unit's width (truncating: the caller picks the unit).
void put_char(uint8_t* p, uint32_t unit, uint32_t cp);

// Widen the whole buffer in place, leaving room for one more character; the buffer may move:
// the fresh buffer is returned.
memory::Buffer* widen_1_to_2(memory::Node node);
memory::Buffer* widen_1_to_4(memory::Node node);
memory::Buffer* widen_2_to_4(memory::Node node);

// ---- scanning UTF-8 ---------------------------------------------------------------------------
// The DFA decoder table: 256 character classes (0-11), then 108 transitions indexed by
// state + class; states are multiples of 12, 0 accepts and 12 rejects.
extern const uint8_t utf8_dfa[364];

// Decodes one sequence at pos (pos < end). Gives the position after the bytes consumed and
// the code point, or -1 when the sequence is invalid (it then consumes the bytes up to and
// including the one that made it invalid) or cut by end. Never reads at or past end.
const uint8_t* decode_utf8_char(const uint8_t* pos, const uint8_t* end, int32_t& cp);
// Number of sequences from start until end.
int64_t utf8_count(const uint8_t* start, const uint8_t* end);
// The position after n sequences, or end, whichever comes first.
const uint8_t* utf8_skip(const uint8_t* start, const uint8_t* end, int64_t n);
// 4, 3 or 2 by the number of leading one bits of a lead byte (0xF8-0xFF give 4); else 0.
int32_t utf8_lead_length(uint8_t byte);

// ---- encoding ---------------------------------------------------------------------------------
// Code points above 0x10FFFF raise script/invalid-char with the code point as an integer!.
int32_t utf8_length(uint32_t cp);
// UTF-8 bytes of the characters in [start, end) of a buffer of the unit.
int64_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Writes 1-4 bytes (surrogates encoded like any other code point); gives their count.
int32_t encode_utf8(uint32_t cp, uint8_t* out);
// encode_utf8 writing only the first min(room, length) bytes; gives that count (0 when
// room <= 0).
int32_t encode_utf8_to(uint32_t cp, uint8_t* out, int64_t room);
// Encodes the characters from the cell's head (all when limit is negative or not below the
// count, none when 0), then a NUL when terminate is set. The caller provides the room.
// Gives the bytes written without the NUL.
int64_t write_utf8(const Cell& str, uint8_t* out, int64_t limit, bool terminate);
// The same within room bytes (the NUL included), each character through encode_utf8_to, so
// the last one may be cut; limit applies only between 1 and count - 1.
int64_t write_utf8_bounded(const Cell& str, uint8_t* out, int64_t room, int64_t limit, bool terminate);
// One 16-bit unit below 0x10000 (gives 1), a surrogate pair up to 0x10FFFF (gives 2),
// nothing above (gives 0).
int32_t encode_utf16le(uint32_t cp, uint8_t* out);
// 2 bytes for each line feed or character above 0xFFFF in [start, end).
int64_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit);

// ---- conversions into the cell's cache -----------------------------------------------------
// count: in, the most characters to convert (negative: all); out, the bytes (UTF-8) or
// 16-bit units (UTF-16) written without the terminator.
memory::Node utf8_into_cache(Cell& str, int64_t& count, bool crlf);
const char* to_utf8_text(Cell& str, int64_t& count);
const char* to_utf8_buffer(Cell& str, int64_t& count, bool crlf);
// NUL-terminated UTF-16LE text, or null when a unit-4 character lies above 0x10FFFF.
const uint8_t* to_utf16_text(Cell& str, int64_t& count, bool crlf);
const uint8_t* to_utf16_crlf(Cell& str);

// ---- loading external text ----------------------------------------------------------------
// Where loaded bytes come from: memory that never moves (C++ buffers, the tracked heap), or a
// byte offset into a series, fetched again after every allocation.
struct ByteSource {
    const uint8_t* fixed = nullptr;
    memory::Node node = 0;
    uint64_t offset = 0;  // from the buffer's data start

    ByteSource() = default;
    ByteSource(const uint8_t* bytes) : fixed(bytes) {}
    ByteSource(const char* bytes) : fixed(reinterpret_cast<const uint8_t*>(bytes)) {}
    static ByteSource in_series(memory::Node n, uint64_t byte_offset) {
        ByteSource s;
        s.node = n;
        s.offset = byte_offset;
        return s;
    }
    bool empty() const { return !fixed && !node; }
    const uint8_t* at(uint64_t i) const {
        return node ? memory::buffer(node)->data() + offset + i : fixed + i;
    }
};

// The checking decoder: budget is the bytes left (in) and the sequence length (out, on
// success). Gives -1 when the budget is smaller than the sequence needs; raises
// access/invalid-utf8 with the (up to 4) bytes from the lead byte when it is invalid.
// Every code point up to 0x10FFFF is valid, surrogates included (text written with lone
// surrogates reads back).
int32_t decode_utf8_bounded(const uint8_t* pos, int64_t& budget);
// Loads count bytes of UTF-8 from the head of the target buffer (a new one when target is 0)
// at the narrowest unit, skipping a leading byte-order mark; with crlf, CR LF and lone CR
// become LF. A sequence cut by the end stops the load: the bytes left go to *remaining (when
// given). Gives the node.
memory::Node load_utf8(ByteSource bytes, int64_t count, memory::Node target, int64_t* remaining, bool crlf);
void load_utf8_into(ByteSource bytes, int64_t count, Cell& str, int64_t* remaining);
memory::Node load_utf8_new(ByteSource bytes, int64_t count);
// 4 when a unit's high byte lies in 0xD8-0xDF, else 2 when any high byte is non-zero, else 1.
uint32_t utf16_unit_width(const uint8_t* bytes, int64_t units);
uint32_t utf16_unit_width(ByteSource bytes, int64_t units);
// Loads count 16-bit units of UTF-16LE into the target cell's buffer (a new buffer when
// target is null); an empty source reads the target cell's conversion cache. With cr,
// carriage returns are dropped. A surrogate that is not part of a valid pair is stored as
// it is. Gives the node.
memory::Node load_utf16le(ByteSource bytes, int64_t count, Cell* target, bool cr);

// ---- case -------------------------------------------------------------------------------------
// Generated pair lists (runtime/unicode_tables.cpp), sorted by their first entry.
extern const uint16_t to_upper_bmp[][2];
extern const uint32_t to_upper_bmp_count;
extern const uint16_t to_lower_bmp[][2];
extern const uint32_t to_lower_bmp_count;
extern const uint32_t to_upper_astral[][2];
extern const uint32_t to_upper_astral_count;
extern const uint32_t to_lower_astral[][2];
extern const uint32_t to_lower_astral_count;

// Builds the two direct tables of the basic multilingual plane on the tracked heap; the
// first case mapping builds them when nothing did before.
void init_case_table();
// upper: to upper case, else to lower case; an unmapped code point comes back unchanged.
uint32_t case_map(uint32_t cp, bool upper);
// case_map(cp, true) of the code points 0-255 (the characters of one-byte text), as a table:
// the comparisons and hashes of text that ignore case read it by byte. Made at its first use
// from the upper-case pairs, without the tables of the whole plane.
const uint32_t* latin1_upper();
// Changes a char! cell or the characters of a string cell from its head in place; part is
// the /part value or null (integer! count, or a position in the same series). Gives the cell.
Cell& change_case(Cell& value, const Cell* part, bool upper);
// Called, when set, after the characters of a series changed case (the owner report).
extern void (*on_case_changed)(const Cell& series, bool upper, uint32_t index, uint32_t count);

// ---- display width ----------------------------------------------------------------------------
extern const uint32_t zero_width_ranges[];
extern const uint32_t zero_width_ranges_words;
extern const uint32_t wide_ranges[];
extern const uint32_t wide_ranges_words;

// True when first <= cp <= last for one {first, last} pair of a sorted, disjoint table of
// `words` words.
bool in_ranges_q(uint32_t cp, const uint32_t* table, uint32_t words);
// Character cells the code point takes on a terminal: 0, 1 or 2.
int32_t char_width(uint32_t cp);

}  // namespace kov::unicode

namespace kov::string {
// The cell's conversion cache with room for at least size bytes (made on first use, grown when
// smaller); gives its data start. May move any series buffer.
uint8_t* cache_buffer(Cell& str, uint64_t size);
}  // namespace kov::string
