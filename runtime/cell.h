// The value cell: four 32-bit words. Word 0 is the header (datatype id in the low byte,
// flags above, every flag assigned in runtime/defs/flags.def), words 1-3 the payload whose
// meaning the datatype fixes. A cell never holds a machine address: series, contexts and
// symbols are 32-bit ids. This header knows the bit layout of the header word; each datatype's
// own header (runtime/datatypes/<type>.h) names its payload words through accessors, and code
// outside a datatype's files reads a value only through them (scripts/cell-reads lists the
// reads left).
#pragma once
#include <cstdint>
#include <cstring>
#include <bit>
#include <initializer_list>

namespace kov {

struct Cell {
    uint32_t header;
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");

// Datatype ids, from the one list in runtime/defs/datatypes.def.
enum TypeId : uint8_t {
    T_NONE_ID = 0,
#define DATATYPE(id, name, ident, parent, families) T_##ident = id,
#include "runtime/defs/datatypes.def"
#undef DATATYPE
    // The highest id: the number of rows of the list.
    T_LAST = 0
#define DATATYPE(id, ...) + 1
#include "runtime/defs/datatypes.def"
#undef DATATYPE
};

// Kovbin files and the boot image hold type ids, so the rows of the list must number themselves
// 1, 2, 3 ... in order: appending is the only change it allows.
constexpr bool type_ids_in_order() {
    constexpr uint32_t ids[] = {
#define DATATYPE(id, ...) id,
#include "runtime/defs/datatypes.def"
#undef DATATYPE
    };
    for (uint32_t i = 0; i < T_LAST; ++i)
        if (ids[i] != i + 1) return false;
    return true;
}
static_assert(type_ids_in_order(), "datatypes.def numbers its rows 1, 2, 3 ... in order");

namespace cell {

// Header flags, from the one list in runtime/defs/flags.def.
#define ANY ~0ull
#define ON(...) carriers({__VA_ARGS__})
constexpr uint64_t carriers(std::initializer_list<uint32_t> types) {
    uint64_t m = 0;
    for (uint32_t t : types) m |= 1ull << t;
    return m;
}
#define HEADER_FLAG(name, bits, on) constexpr uint32_t name = bits;
#include "runtime/defs/flags.def"
struct HeaderFlag {
    uint32_t bits;
    uint64_t carriers;
};
constexpr HeaderFlag header_flags[] = {
#define HEADER_FLAG(name, bits, on) {bits, on},
#include "runtime/defs/flags.def"
};
#undef ANY
#undef ON
// No flag touches the type byte, and no two flags that may sit on the same cell share a bit.
constexpr bool header_flags_apart() {
    constexpr uint32_t n = sizeof header_flags / sizeof header_flags[0];
    for (uint32_t i = 0; i < n; ++i) {
        if (header_flags[i].bits & 0xFF) return false;
        for (uint32_t j = i + 1; j < n; ++j)
            if ((header_flags[i].bits & header_flags[j].bits) && (header_flags[i].carriers & header_flags[j].carriers))
                return false;
    }
    return true;
}
static_assert(header_flags_apart(), "two header flags of one datatype share a bit (runtime/defs/flags.def)");
// The shift of a multi-bit header field.
constexpr uint32_t shift_of(uint32_t field) { return static_cast<uint32_t>(std::countr_zero(field)); }

// Debug builds (the debug and asan presets) check in every typed accessor of a datatype's
// header that the cell is of that datatype and that the node it gives is alive; a failed
// check ends the process with the "assertion failed" report. Release builds compile the
// checks out, so an accessor is the plain load it wraps.
#ifdef KOV_CELL_CHECKS
constexpr bool checked = true;
#else
constexpr bool checked = false;
#endif
[[noreturn]] void wrong_cell();
inline void expect(bool ok) {
    if constexpr (checked) {
        if (!ok) [[unlikely]] wrong_cell();
    }
}

inline uint32_t type(const Cell& c) { return c.header & 0xFF; }
inline bool is(const Cell& c, uint32_t t) { return (c.header & 0xFF) == t; }
// Whether two cells hold the same bits: the same value in the same place of meaning (a guard
// that a word still holds what a compiled statement was made from).
inline bool same_bits(const Cell& a, const Cell& b) {
    // Two 8-byte halves compared without a branch: guards sit on every compiled statement.
    uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, &a, 8);
    std::memcpy(&a1, reinterpret_cast<const char*>(&a) + 8, 8);
    std::memcpy(&b0, &b, 8);
    std::memcpy(&b1, reinterpret_cast<const char*>(&b) + 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}
// The flags every datatype may carry. The other header bits are private to one type (tuple
// length, money sign, op!'s wrapped type, context kind...) and mean nothing, or something
// else, to another type.
constexpr uint32_t generic_flags = new_line;

// The header of a cell that changes type: the new type byte and only the generic flags, so
// that no type's private flags survive into another. Every routine that turns a cell of one
// type into a value of another type uses it.
inline uint32_t retyped(uint32_t header, uint32_t t) { return (header & generic_flags) | (t & 0xFF); }
inline Cell& retype(Cell& c, uint32_t t) {
    c.header = retyped(c.header, t);
    return c;
}

// Replaces only the type byte; every flag stays. For a change within one family whose flags
// mean the same in both types (the word types, the path types, op!'s wrapped function).
inline Cell& set_type(Cell& c, uint32_t t) {
    c.header = (c.header & ~0xFFu) | (t & 0xFF);
    return c;
}
inline void clear_new_line(Cell& c) { c.header &= ~new_line; }
inline Cell& copy(const Cell& from, Cell& to) {
    if (&from != &to) to = from;
    return to;
}

// Payload word k (1-3) as stored, with no check of the type or of a node the word names.
// Only for code that handles payload words as data rather than as a datatype's fields:
// Kovbin, whose payload is the cell's payload word for word (the reader validates untrusted
// words before any typed accessor may see them, and the writer copies them whole); the
// collector, tables and the lexer's own bookkeeping cells; and code that tests a node's
// liveness itself before use. Everywhere else a value is read through its datatype's accessors.
template <unsigned K>
inline uint32_t word(const Cell& c) {
    static_assert(K >= 1 && K <= 3, "payload words are 1-3");
    if constexpr (K == 1) return c.w1;
    else if constexpr (K == 2) return c.w2;
    else return c.w3;
}
// The stored word itself, for code that rewrites it in place (the collector's marking, which
// may move a node and rewrite the id where it is stored).
template <unsigned K>
inline uint32_t& word_ref(Cell& c) {
    static_assert(K >= 1 && K <= 3, "payload words are 1-3");
    if constexpr (K == 1) return c.w1;
    else if constexpr (K == 2) return c.w2;
    else return c.w3;
}
// Writes payload word k as data, for the same code that may read it with word<K>: Kovbin's
// reader, which builds a cell word for word and validates it before any typed accessor sees
// it, and the lexer's bookkeeping cells.
template <unsigned K>
inline void set_word(Cell& c, uint32_t v) {
    word_ref<K>(c) = v;
}
// The 12 payload bytes (words 1-3 in order), for copying them whole.
inline const void* payload(const Cell& c) { return &c.w1; }
inline void* payload(Cell& c) { return &c.w1; }

// 64-bit payloads (doubles, 64-bit integers) sit in words 2-3.
inline double get_double(const Cell& c) {
    uint64_t bits = static_cast<uint64_t>(c.w3) << 32 | c.w2;
    return std::bit_cast<double>(bits);
}
inline void set_double(Cell& c, double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    c.w2 = static_cast<uint32_t>(bits);
    c.w3 = static_cast<uint32_t>(bits >> 32);
}

inline Cell make(uint32_t header, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
    return Cell{header, w1, w2, w3};
}

// Writes the whole cell with one 16-byte store. A cell written word by word and then copied
// whole soon after makes the processor wait for the words to land (the copy cannot take them
// from the store buffer): the hot paths that write a fresh value and pass it on use this.
inline void store(Cell& to, uint32_t header, uint32_t w1, uint32_t w2, uint32_t w3) {
    using Words = uint32_t __attribute__((vector_size(16)));
    Words v = {header, w1, w2, w3};
    std::memcpy(&to, &v, sizeof v);
}

// A value with a 64-bit payload (float!, percent!, time!): made, or written in place with its
// type byte set and its generic header flags kept, in one store.
inline Cell with_double(uint32_t type, double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    return Cell{type, 0, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32)};
}
inline Cell& store_double(Cell& c, uint32_t type, uint32_t w1, double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    store(c, retyped(c.header, type), w1, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32));
    return c;
}

}  // namespace cell
}  // namespace kov
