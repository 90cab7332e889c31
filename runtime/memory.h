// The memory manager owns every series buffer.
//
// Values never hold a buffer address: they hold a node, a 32-bit id whose slot in the node
// table holds the buffer's address. Buffers are carved from page-allocated series frames by a
// bump pointer; a buffer whose need reaches 2 MiB gets a big frame of its own; fixed buffers
// live in the tracked heap and never move. Because every reference goes through a node, the
// collector may slide buffers and only rewrites the node.
//
// Node ids: node frame k (k >= 1) owns the ids k × 10000 .. k × 10000 + 9999 of one flat table,
// so a lookup is a single load and id 0 is never a node. The table is reserved at start for
// the first frames and moves to a larger reservation when a frame past its end is made: its
// address may change whenever a node is allocated (ids never do). A used slot holds
// its buffer's address; a free slot holds (next free id << 1) | 1. A new frame's slots are
// written into its free list a page's worth at a time, when the list runs out, so the pages
// of slots never used stay untouched (0) and count as free.
//
// Buffer layout: a 24-byte header {flags, node, size, head, tail, spare} then `size` bytes of
// data. head and tail are byte offsets from the data start. In a series frame a buffer
// occupies exactly size + 24 bytes (its "need"); the collector steps by that amount.
//
// Rooting rule: anything that allocates may run a collection, which moves buffers. Never keep
// a Buffer* or a data pointer across such a call: keep the node (and an index) and fetch the
// buffer again with `memory::buffer(node)` afterwards.
//
// When collections run: only inside `alloc_buffer` (so inside everything built on it), never
// in `alloc_node` or `alloc_fixed_series`. Every buffer and node taken counts against a budget
// (the live size left by the last collection, at least `collection_floor`); the allocation
// that would spend it collects first. Besides, when the series frames are full, and before a
// big buffer, a collection runs first if at least the live size was taken since the last one;
// and pages the system refuses are asked for again after a collection before `no-memory`
// (a series frame with less than the refill threshold left then still serves).
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::memory {

using Node = uint32_t;

// Buffer flags, from the one list in runtime/defs/flags.def (bits 0-4 hold the unit size).
#define BUFFER_FLAG(name, bits) constexpr uint32_t name = bits;
#include "runtime/defs/flags.def"
constexpr uint32_t buffer_flags[] = {
#define BUFFER_FLAG(name, bits) bits,
#include "runtime/defs/flags.def"
};
constexpr bool buffer_flags_apart() {
    uint32_t seen = 0;
    for (uint32_t bits : buffer_flags) {
        if (seen & bits) return false;
        seen |= bits;
    }
    return true;
}
static_assert(buffer_flags_apart(), "two buffer flags share a bit (runtime/defs/flags.def)");

struct Buffer {
    uint32_t flags;
    Node node;       // back link to the node; 0 once the buffer is abandoned by a move
    uint32_t size;   // data capacity in bytes, a multiple of 16
    uint32_t head;   // offset of the first used byte
    uint32_t tail;   // offset one past the last used byte
    uint32_t spare;

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* head_ptr() { return data() + head; }
    uint8_t* tail_ptr() { return data() + tail; }
    uint8_t* end_ptr() { return data() + size; }
    uint32_t used() const { return tail - head; }
    uint32_t unit() const { return flags & unit_mask; }
};
static_assert(sizeof(Buffer) == 24, "buffer header and spare word");

constexpr uint32_t node_frame_capacity = 10000;
constexpr uint32_t initial_series_frame = 0x100000;  // 1 MiB
constexpr uint32_t largest_series_frame = 0x200000;  // 2 MiB: a need this large is big
constexpr uint32_t refill_threshold = 0xCCCC;        // a frame with less room is not reused
constexpr uint64_t collection_floor = 4u << 20;  // the smallest collection budget
constexpr uint32_t node_bytes = 8;               // what one node counts against the budget
// The largest buffer a series may have; larger requests raise internal no-memory.
constexpr uint64_t max_buffer_size = 0x7FFFFF00;

extern uint64_t* node_table;

inline Buffer* buffer(Node n) { return reinterpret_cast<Buffer*>(node_table[n]); }
inline bool is_used_slot(uint64_t slot) { return slot != 0 && (slot & 1) == 0; }

// ---- start and end --------------------------------------------------------------------------
void init();
// Releases every frame (the process is ending, or a test resets the heap).
void free_all();

// The next series frame made has room for this many bytes (the ones after follow the usual
// sizes). The start-up gives its first frame room for the whole boot, so that the collection
// after it packs the live data into pages the boot touched already.
void size_next_series_frame(uint64_t bytes);
// Makes the pages of the current series frame from its next free byte on resident in one
// call, up to `bytes` of them: allocations about to fill them then take no fault per page.
void prefault(uint64_t bytes);

// ---- allocation -----------------------------------------------------------------------------
// A buffer of n units of unit bytes; head offset -1 places head and tail in the middle.
// May run a collection. Raises internal no-memory when the memory cannot be had.
Buffer* alloc_buffer(uint64_t n, uint32_t unit, int32_t head_offset);
Node alloc_series(uint64_t n, uint32_t unit, int32_t head_offset);
Node alloc_fixed_series(uint64_t n, uint32_t unit, int32_t head_offset);
// A fixed buffer changes address only when it is grown or shrunk (move_buffer and the
// expand_* family): this hook, when set, then learns the old and the new buffer, so that a
// holder of a fixed buffer's address (the global values) follows it.
extern void (*fixed_moved)(Buffer* old_buffer, Buffer* new_buffer);
Node alloc_cells(uint64_t n);
Node alloc_cells_unset(uint64_t n);
Node alloc_bytes(uint64_t n);                     // n = 0 gives 16 bytes
Node alloc_units(uint64_t n, uint32_t unit);      // n = 0 gives 16 bytes' worth
Node alloc_bytes_filled(uint64_t n, uint8_t byte);

Node alloc_node();
void free_node(Node node);

// ---- growing and copying --------------------------------------------------------------------
// A new buffer of new_size bytes (0 doubles) for the node; the content is not copied. The old
// buffer is abandoned. Gives the new buffer.
Buffer* move_buffer(Node node, uint64_t new_size);
// move_buffer, then the used content copied to the new head.
Buffer* expand_series(Node node, uint64_t new_size);
// expand_series, then the new room filled with the byte.
Buffer* expand_series_filled(Node node, uint64_t new_size, uint8_t byte);
// A new series with the same size, flags (so the same unit) and content.
Node copy_series(Node node);

void fill(uint8_t* start, uint8_t* end, uint8_t byte);

// ---- collection interface -------------------------------------------------------------------
// The collector registers itself; allocation runs it when it is enabled and frames are full.
using CollectFn = void (*)();
void set_collector(CollectFn fn);
extern bool collector_enabled;
void collect_if_enabled();
// Bytes counted against the budget since the last collection, and the budget itself.
uint64_t taken_since_collection();
uint64_t collection_budget();
// Counts every byte in use now as live, as a collection that found it all reachable would:
// the next collection's budget starts from here. For bulk data known to stay reachable (the
// decoded boot image), so that loading it does not bring the first collection forward.
void count_in_use_as_live();
// Gives the pages of the series frames' free room back to the system (after a collection has
// compacted them): the room stays the frames', and is taken again page by page as it is used.
void release_free_pages();
// For tests: frame pages beyond this many bytes in all are refused as the system would refuse
// them (free_all lifts the limit).
void set_frame_limit(uint64_t bytes);

// Frames as the collector walks them.
struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t index;         // frame k owns the ids k × 10000 ...
    uint32_t capacity;
    Node free_head;         // 0 when no written slot is free (see `written`)
    uint32_t written;       // slots [0, written) have been written; the rest are untouched (0), free
    uint32_t used;
    uint32_t stamp;         // collection count when made
    uint32_t used_at_last;  // used count at the last collection
    uint32_t history;       // stability bits, newest in bit 0
    uint32_t pinned_wait;   // collections to let pass before it may be evacuated again
    uint32_t pinned_backoff;  // the next such wait (0: none yet)
    bool evacuated;
};

struct SeriesFrame {
    SeriesFrame* next;      // ascending addresses
    SeriesFrame* prev;
    uint64_t size;          // bytes of pages, this header included
    uint8_t* bump;          // first free byte of the area
    uint8_t* end;           // end of the area
    uint64_t pad;
    uint8_t* area() { return reinterpret_cast<uint8_t*>(this + 1); }
};

struct BigFrame {
    BigFrame* next;
    BigFrame* prev;
    uint64_t need;          // the buffer's size + 24
    uint64_t pages;         // bytes of pages
    Buffer* buffer() { return reinterpret_cast<Buffer*>(this + 1); }
};

NodeFrame* node_frames();
SeriesFrame* series_frames();
BigFrame* big_frames();
void free_series_frame(SeriesFrame* frame);
void free_big_buffer(Buffer* buffer);
void free_node_frame(NodeFrame* frame);
// After a collection: releases empty node frames, picks the current one, updates histories.
void update_node_frames(uint32_t collection_count);
uint32_t collection_count();
void set_collection_count(uint32_t n);
NodeFrame* node_frame_of(Node node);
// The frame new nodes are taken from.
NodeFrame* current_node_frame();
// True when a node can be taken from the frame (a written free slot, or an untouched one).
inline bool has_room(const NodeFrame* f) { return !f->evacuated && (f->free_head || f->written < f->capacity); }
// A free node of the frame (which has room), counted as used; for moving node records.
Node take_node_in(NodeFrame* frame);
// The node frames by their index (node id / node_frame_capacity); null where none exists.
constexpr uint32_t max_node_frames = 26000;  // about 260 million nodes, 2 GiB of address space
// The frames of ids the node table has room for at start (about 10 million nodes, 80 MiB of
// address space); it moves to twice the room when more are needed.
constexpr uint32_t initial_node_frames = 1024;
extern NodeFrame** frames_by_index;
// True when the id names a node in use (its frame exists and its slot holds a buffer).
inline bool valid_node(Node node) {
    uint32_t index = node / node_frame_capacity;
    return index < max_node_frames && frames_by_index[index] && is_used_slot(node_table[node]);
}
// Visits every live buffer of every frame: calls fn(buffer).
template <class Fn>
void for_each_buffer(Fn&& fn);

// ---- statistics -----------------------------------------------------------------------------
struct FrameFigures {
    uint64_t free, used, total;
};
// Bytes in use: 8 per used node, the used part of every series frame, every big buffer's need.
double bytes_in_use();
uint64_t frame_bytes();  // every frame's full size
uint32_t node_frame_count();
uint32_t series_frame_count();
uint32_t big_frame_count();
// Fills arrays (up to max entries each) with per-frame figures; gives the counts.
void frame_figures(FrameFigures* nodes, uint32_t& node_count, FrameFigures* series,
                   uint32_t& series_count, uint64_t* bigs, uint32_t& big_count, uint32_t max);

// ---- checking -------------------------------------------------------------------------------
// Walks every frame and checks node/buffer back-links, head and tail bounds, the frame
// accounting and the free lists. Gives null when all holds, else a description of the first
// fault found (a static text).
const char* verify();

// ---- implementation of the template ---------------------------------------------------------
template <class Fn>
void for_each_buffer(Fn&& fn) {
    for (SeriesFrame* f = series_frames(); f; f = f->next) {
        uint8_t* p = f->area();
        while (p < f->bump) {
            auto b = reinterpret_cast<Buffer*>(p);
            p += b->size + sizeof(Buffer);
            if (b->flags & in_use) fn(b);
        }
    }
    for (BigFrame* f = big_frames(); f; f = f->next) fn(f->buffer());
}

}  // namespace kov::memory
