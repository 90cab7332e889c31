// binary!: the byte string of the language, and the byte-buffer routines that the I/O,
// codec, checksum and compression code call directly.
//
// Cell: w1 the head index (a byte offset from the buffer head, which may lie past the tail:
// every writing operation clips it first), w2 the node of a unit-1 series, w3 0. Bytes are
// unsigned everywhere: a byte read as a value is an integer! 0-255 and comparisons are
// unsigned.
//
// Any value becomes bytes by one set of rules (`insert_value`), shared by append, insert,
// change and to binary!. Every changing action measures what it will add before it touches
// the series, so a value that cannot be converted leaves the series as it was; the new bytes
// are written past the old tail first and then rotated into place, so a value that shares the
// series (the series itself, or a block holding it) is read as it stood before the change.
//
// Moving memory: the constructors, the growing routines and every action that adds bytes or
// forms text allocate, so they may move any buffer. Pointers given out (`head_pointer`,
// `append_bytes`) are valid only until the next allocation.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::binary {

// ---- cell helpers -------------------------------------------------------------------------------
inline Cell cell_of(memory::Node node, uint32_t index = 0) { return Cell{T_binary, index, node, 0}; }
// Bytes from the head index to the tail (0 when the index lies past the tail).
uint32_t length(const Cell& c);
// The address of the byte at the head index (clipped to the tail); valid until the next
// allocation.
uint8_t* head_pointer(const Cell& c);
// The byte at an offset from the buffer head (the caller keeps it below the tail).
uint8_t byte_at(const Cell& c, uint32_t offset);

// ---- constructors -------------------------------------------------------------------------------
// The cell becomes an empty binary with room for `capacity` bytes (16 for 0), index 0; its
// header flags are kept.
Cell& make_at(Cell& c, uint64_t capacity);
Cell* make_in(memory::Node block, uint64_t capacity);
Cell* push(uint64_t capacity);
// A new binary holding a copy of the bytes (which must not lie in a series), appended to the
// block, or on the value stack when the block is 0.
Cell* load_in(const uint8_t* bytes, uint64_t count, memory::Node block);
Cell* load(const uint8_t* bytes, uint64_t count);

// ---- byte-buffer routines -----------------------------------------------------------------------
// The routines that take a source address copy from it after growing the buffer: the source
// must not lie in a series. Sizes past the largest buffer raise internal/no-memory.
//
// Reserves count bytes at the tail (doubling a buffer that is short) and copies the bytes
// there; gives their address.
uint8_t* append_bytes(Cell& c, const uint8_t* bytes, uint64_t count);
// Inserts count bytes at an offset from the head index (clipped to the tail); a buffer that
// is short grows to twice its capacity plus count.
void insert_bytes(Cell& c, uint64_t offset, const uint8_t* bytes, uint64_t count);
// Appends the value as 4 bytes, most significant first.
void append_int32_be(uint32_t value, Cell& c);
// The issue's name read as base-16 text, as a new binary in the output cell (which must not
// lie in a series); script/invalid-data with the issue when it is not hex.
Cell& from_hex_literal(const Cell& issue, Cell& out);
// Stores the low 8 bits of an integer! or char!; any other value raises script/invalid-arg.
void byte_of_value(uint8_t* dest, const Cell& value);

// Where `insert_value` writes: `room` bytes from `offset` (counted from the buffer head) of
// the node's buffer. The address is taken afresh for every value, so forming may move it.
struct Target {
    memory::Node node;
    uint64_t offset;
    uint64_t room;
};
enum Mode : int32_t { measure_mode = 0, write_mode = 1, change_mode = 2 };
// The bytes a value gives (the rules by type are at `convert` in binary.cpp), written to the
// target when one is given. limit: -1 for no /part. In measure and write modes a value of a
// type that has no bytes raises script/bad-to-arg; in change mode it is formed and its text
// used. An integer outside -128..255 raises script/invalid-arg in every mode.
uint64_t insert_value(const Target* target, const Cell& value, int64_t limit, bool only, Mode mode);

// -1, 0 or 1 under a comparison code; -2 when the right value is neither a binary nor an
// any-string (whose UTF-8 bytes are compared). With `prefix`, 0 tells that the left bytes
// begin with the right ones.
int32_t compare_bytes(const Cell& left, const Cell& right, int32_t op, bool prefix);
// The parse engine's match: a binary or any-string value the bytes at the position begin
// with; a char! the byte at the position equals.
bool equal_or_char_q(const Cell& bin, const Cell& value, int32_t op);
// The bitset's bit addressed by the byte at the position (false at the tail); a byte past
// the bitset's bits answers its complement flag.
bool bit_set_q(const Cell& bin, const Cell& bitset);

// The text form of the bytes from the position: "#{", two upper-case hex digits a byte, 32
// bytes a line (lines indented to level + 1 unless flat), "}". With `limited`, writing stops
// as soon as the budget falls below 1. Gives the budget left.
int32_t form_hex(const Cell& value, Cell& out, bool only, bool flat, bool limited, int32_t budget, int32_t level);

// ---- actions ------------------------------------------------------------------------------------
// to binary! (also the fallback of make binary!).
Cell* to(Cell* proto, Cell* spec, uint32_t type);
// and~, or~, xor~ by operation code (integer::and_, or_, xor_): a new binary as long as the
// longer argument replaces the first argument.
Cell* bitwise(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace kov::binary
