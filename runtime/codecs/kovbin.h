// Kovbin: the binary serialisation of values, in two encodings of one blob layout.
//
// Blob: "KOVBIN", a version byte, a flags byte (bit 0 compact, bit 1 LZ-compressed, bit 2
// symbol table present), then the root count, the payload length, the symbol table (count,
// names length, int32 name offsets, NUL-terminated names) and the payload. The fixed encoding
// writes every field as an int32 and every record as 32-bit words; the compact encoding writes
// a lead byte per record and variable-length integers. With bit 1 every byte after the flags
// byte is one LZ stream (runtime/codecs/lz.h) of the rest of the blob.
//
// Records follow the values depth first: a container's record is followed by its elements.
// A series (keyed by its node) or a context (keyed by its node, for words, objects, errors
// and functions) is written in full the first time only; a later record carries the path of
// positions (per nesting level, from the top) to the record that wrote it, and the reader
// resolves that path in what it has built so far. The global context is never written: a word
// bound to it carries only its symbol.
//
// What must stay true on reading: every field is checked against the bytes that remain and
// every index against its table before it is used; a shared record resolves only to a value of
// its own family; nesting is limited to `max_depth`; a function's context matches its spec;
// outside the boot load a native! or action! must carry the spec of the live native it names
// (natives trust their spec's argument types); scalars keep their datatype's invariants
// (dates, money digits, code points, tuple lengths).
// Corrupt input raises script/kb-invalid-record (with the 1-based byte offset, counted in the
// uncompressed blob) or script/invalid-data; it never reads or writes outside what it is given.
//
// Memory: the writers walk values without allocating series (their tables and output live on
// the tracked heap) and allocate the result binary last; before the walk, they make the
// bodies of the functions whose body is still pending (function.h), which allocates. The readers allocate as they build,
// so the collector may run (except in `load_boot`); they keep every new series reachable from
// the target block from the moment it is made, and never hold a cell address across an
// allocation.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/families.h"
#include "runtime/memory.h"

namespace kov::kovbin {

// ---- the format ---------------------------------------------------------------------------------
constexpr uint8_t magic[6] = {'K', 'O', 'V', 'B', 'I', 'N'};
constexpr uint8_t version = 2;
constexpr uint8_t flag_compact = 0x01;
constexpr uint8_t flag_compressed = 0x02;
constexpr uint8_t flag_symbols = 0x04;
constexpr uint32_t header_size = 8;        // magic, version, flags

// Nesting levels a reader or writer enters at most (a deeper value is refused).
constexpr uint32_t max_depth = 1000;
constexpr uint32_t max_path = 65536;       // positions in one reference path

// Fixed encoding: header word bits.
constexpr uint32_t fx_reference = 255;      // a reference path record
constexpr uint32_t fx_shared = 1u << 19;
constexpr uint32_t fx_negative = 1u << 22;  // money!
constexpr uint32_t fx_complement = 1u << 23;  // bitset!: complemented
constexpr uint32_t fx_hooks = 1u << 24;     // object! with change hooks
constexpr uint32_t fx_global = 1u << 25;    // word bound to the global context; boot: binding record
constexpr uint32_t fx_new_line = 1u << 31;
// Context record header bits.
constexpr uint32_t fx_ctx_kind_shift = 26;
constexpr uint32_t fx_ctx_self = 1u << 28;
constexpr uint32_t fx_ctx_stack = 1u << 29;
constexpr uint32_t fx_ctx_values = 1u << 30;

// Compact encoding: prefix and special lead bytes.
constexpr uint8_t cp_new_line = 0xC0;
constexpr uint8_t cp_shared = 0xC1;
constexpr uint8_t cp_true = 0xC2;
constexpr uint8_t cp_false = 0xC3;
constexpr uint8_t cp_bind = 0xC4;
constexpr uint8_t cp_reference = 0xFF;
constexpr uint8_t cp_small_int = 0x80;      // 0x80 + n for integers 0-63
constexpr uint8_t cp_flag = 0x40;           // bit 6 of a lead byte
constexpr uint8_t cp_long_id = 0x3F;        // the datatype id follows as a varint
// Context flags byte.
constexpr uint8_t cp_ctx_stack = 0x04;
constexpr uint8_t cp_ctx_self = 0x08;
constexpr uint8_t cp_ctx_values = 0x10;

// The types written as keyed records (in full the first time, then by their path): the series
// with a buffer of their own, map!, and the context holders object!, error! and function!.
inline bool keyed_type(uint32_t t) {
    return in(t, ANY_BLOCK | ANY_STRING) || t == T_binary || t == T_map || t == T_object || t == T_error ||
           t == T_function || t == T_bitset || t == T_vector || t == T_image;
}

// ---- writing ------------------------------------------------------------------------------------
// The blob of one value, as a new binary! on the value stack. Raises access/no-codec for a
// datatype that cannot be written, internal/too-deep past max_depth.
Cell* encode(const Cell& value, bool compact);
// The blob whose top-level values are the cells of the block from its index (root count =
// their number): what a reader appends to its target block.
Cell* encode_roots(const Cell& block, bool compact);
// Compresses the part of a blob after its flags byte and sets flag bit 1: writes the result
// into out (room for size bytes) and gives its size, or 0 when it would not be smaller.
uint64_t compress_blob(const uint8_t* blob, uint64_t size, uint8_t* out);

// ---- reading ------------------------------------------------------------------------------------
enum class Mode : uint8_t {
    codec,  // data from anywhere: words bind through contexts in the data, objects get new classes
    boot,   // the boot image: binding records and words bound through root indexes are allowed
};
// Appends the blob's top-level values to the target block (which the caller keeps reachable).
// The bytes must not lie in a series: they are read while the reader allocates.
void load(const uint8_t* blob, uint64_t length, memory::Node target, Mode mode);
// The codec's decode: a binary! blob (decoded from a private copy of its bytes) gives its one
// value, or a block of its values when there are several; the result is pushed on the value
// stack. Anything but a binary!, or one of 10 bytes or fewer, raises script/invalid-data.
Cell* decode(const Cell& data);
// Decodes the boot image into a new block (in `out`, which the caller then keeps reachable)
// with the collector switched off, restored afterwards. Its blocks are flagged boot_literal:
// a boot function may take one as its body without a copy (function.h).
void load_boot(const uint8_t* blob, std::size_t size, Cell& out);

// The codec object's routines, `encode*` and `decode` (entries kovbin-encode, kovbin-decode).
void register_routines();

}  // namespace kov::kovbin
