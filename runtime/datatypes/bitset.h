// bitset!: a growable array of bits, most often a set of characters (a charset) for string
// searches and parse rules, but any set of non-negative integers.
//
// Cell: w2 the node of a byte series (unit 1); w1 and w3 are 0. Bit n lies in byte n >> 3 from
// the head under the mask 128 >> (n & 7), so the most significant bit of a byte is the lowest
// index. The length is (tail - head) x 8 bits.
//
// Invariant: the bytes from head to tail hold membership for the bits they cover, whatever the
// complement flag. A bit past the tail is a member exactly when the buffer carries the
// complement flag, so the complement of a small set stays small. The bytes past the tail mean
// nothing: moving the tail forward fills the new bytes with the flag's byte (255 or 0).
//
// Moving memory: making, growing, copying and combining allocate; tests do not. The changing
// actions report to an owner, which may run Kov code: nothing here keeps a byte address across
// a report or an allocation.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::bitset {

using memory::Node;

// The highest bit index a set may hold: its length in bits must stay an integer!.
constexpr int64_t max_index = 0x7FFFFFF7;

inline Cell cell_of(Node node) { return Cell{T_bitset, 0, node, 0}; }
// The node of the bytes.
inline Node node_of(const Cell& b) {
    cell::expect(cell::is(b, T_bitset) && memory::valid_node(b.w2));
    return b.w2;
}
inline bool complement_q(const Cell& b) { return (memory::buffer(b.w2)->flags & memory::bitset_complement) != 0; }
// The address of the first byte; valid until the next allocation.
inline uint8_t* rs_head(const Cell& b) { return memory::buffer(b.w2)->head_ptr(); }
// The length in bits.
inline int64_t length_of(const Cell& b) { return int64_t(memory::buffer(b.w2)->used()) * 8; }

// What `process_spec` does with a spec value.
enum Op : int32_t { measure = 0, set = 1, test = 2, clear = 3 };
// Who asks: only selects the error for a value the spec does not accept.
enum Kind : int32_t { for_make = 0, for_to = 1, for_other = 2 };

// ---- constructors -------------------------------------------------------------------------------
// An empty bitset of `bytes` bytes of the fill byte, with the complement flag when asked.
Cell& make_at(Cell& c, uint64_t bytes, bool complemented);
Cell* push(uint64_t bytes, bool complemented);

// ---- internal routines --------------------------------------------------------------------------
// Makes room for bit n (0 <= n <= max_index): the tail moves to cover byte n >> 3, new bytes
// taking the flag's byte. Gives the head address (valid until the next allocation).
uint8_t* grow(Node bits, int64_t n);
// True when n is negative or its byte lies at or past the tail.
bool out_of_range_q(Node bits, int64_t n);
// Inverts every byte from head to tail.
void invert(Node bits);
// Sets, tests or clears the bits low..high (0 <= low <= high). Test answers 1 when all are
// members.
int64_t process_range(Node bits, int64_t low, int64_t high, Op op);
// Applies one spec value (char!, integer!, float!, string!, block!); `bits` is unused under
// measure. Without `nested`, measure and set answer a byte count (and set moves the tail to
// cover it); test answers 1 or 0.
int64_t process_spec(const Cell& spec, Node bits, Op op, bool nested, Kind kind);
// A new value-stack bitset from a make (kind 0) or to (kind 1) spec.
Cell* make_from(const Cell& spec, Kind kind);

// Bitwise combination by operation code: 5 or, 6 and, 7 xor, 8 unique (a unchanged), 9
// union, 10 intersect, 11 exclude, 12 difference. The result goes into `a`, which is given
// back. b must be a bitset!, else script/invalid-type. The complement flags are respected:
// a bit past both arrays is in the result exactly as the operation says of the two flags.
Cell* do_bitwise(Cell* a, Cell* b, int32_t op);
// The worker of the set natives (union ... difference) on bitsets: do_bitwise.
inline Cell* do_set_op(Cell* a, Cell* b, int32_t op) { return do_bitwise(a, b, op); }

// Writes the text of form and mold; gives the part limit lowered by what was written.
int32_t form_bytes(const Cell& b, Cell& out, Cell* arg, int32_t part);

void init();

}  // namespace kov::bitset
