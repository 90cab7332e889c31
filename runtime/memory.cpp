#include "runtime/memory.h"

#include <cstring>

#include "runtime/error.h"
#include "runtime/heap.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"

namespace kov::memory {

uint64_t* node_table = nullptr;
NodeFrame** frames_by_index = nullptr;
bool collector_enabled = false;

namespace {

// The node table's reservation, in frames of ids (frame 0 is never used). It starts small,
// so that start-up takes little address space, and doubles (up to max_node_frames) when a new
// frame's index reaches its end.
uint32_t table_frames = 0;
std::size_t table_bytes(uint32_t frames) { return std::size_t(frames) * node_frame_capacity * 8; }

struct State {
    NodeFrame* node_head = nullptr;
    NodeFrame* node_tail = nullptr;
    NodeFrame* node_current = nullptr;
    SeriesFrame* series_head = nullptr;
    SeriesFrame* series_current = nullptr;
    SeriesFrame* series_tail = nullptr;
    uint64_t next_series_size = initial_series_frame;
    uint64_t first_series_size = 0;  // the size asked for the next frame alone, or 0
    BigFrame* big_head = nullptr;
    BigFrame* big_tail = nullptr;
    uint64_t frame_pages = 0;         // bytes of pages held by series and big frames
    uint32_t collections = 0;
    CollectFn collector = nullptr;
    // The collection budget: bytes of buffers and nodes taken since the last collection,
    // against the live size it left (never below the floor), so that collections cost in
    // proportion to what is allocated whatever the live size.
    uint64_t taken = 0;
    uint64_t live = 0;
    uint64_t budget = collection_floor;
    uint64_t frame_limit = UINT64_MAX;  // tests: page bytes beyond this count as unavailable
    NodeFrame** frame_by_index = nullptr;  // heap array, max_node_frames entries
};
State st;

[[noreturn]] void no_memory() {
    error::fire(err::internal_no_memory);
}

uint64_t round16(uint64_t v) { return (v + 15) & ~uint64_t(15); }

std::size_t page_round(uint64_t v) {
    return static_cast<std::size_t>(round_up(v, os::page_size()));
}

// The pages of a big frame for a buffer of need bytes: whole large pages, so that the system
// places the frame where large pages can back all of it. A frame of another length got them at
// best for its aligned middle, and filling it faulted its small pages in one by one: a million
// appends to a block spent a quarter of their time on it. (The price: the resident memory of a
// big buffer grows by a large page at a time, so one made with room it never fills costs up to
// that room.)
uint64_t big_frame_bytes(uint64_t need) { return os::large_pages_for(sizeof(BigFrame) + need); }

void* try_alloc_pages(std::size_t bytes) {
    if (st.frame_pages + bytes > st.frame_limit) return nullptr;
    return os::alloc_pages(bytes);
}

// Called only from inside alloc_buffer, where a collection may run: pages that cannot be had
// are asked for once more after a collection has given back what garbage held. Gives null
// when they are still refused and the caller has another way (`may_fail`).
void* alloc_frame(uint64_t size, bool may_fail = false) {
    std::size_t bytes = page_round(size);
    void* p = try_alloc_pages(bytes);
    if (!p) {
        collect_if_enabled();
        p = try_alloc_pages(bytes);
        if (!p) {
            if (may_fail) return nullptr;
            no_memory();
        }
    }
    st.frame_pages += bytes;
    return p;
}

void free_frame(void* p, uint64_t size) {
    std::size_t bytes = page_round(size);
    if (!os::free_pages(p, bytes)) error::fire(err::internal_wrong_mem);
    st.frame_pages -= bytes;
}

// ---- node frames ----------------------------------------------------------------------------

uint64_t* slots_of(uint32_t index) { return node_table + std::size_t(index) * node_frame_capacity; }

// Slots written into a frame's free list at a time: a page of the node table.
constexpr uint32_t slots_per_fill = 512;

// Writes the frame's next untouched slots into its free list, ahead of what it held.
void fill_free_list(NodeFrame* f) {
    uint64_t* slots = slots_of(f->index);
    Node first = f->index * node_frame_capacity;
    uint32_t from = f->written;
    uint32_t to = from + slots_per_fill < f->capacity ? from + slots_per_fill : f->capacity;
    for (uint32_t i = from; i < to; ++i) {
        Node next = i + 1 < to ? first + i + 1 : f->free_head;
        slots[i] = (uint64_t(next) << 1) | 1;
    }
    f->free_head = first + from;
    f->written = to;
}

// True when a node can be taken from the frame, its free list filled first when needed.
bool has_free_node(NodeFrame* f) {
    if (!has_room(f)) return false;
    if (!f->free_head) fill_free_list(f);
    return true;
}

// The part of a frame's slot range that covers whole pages of its own (never shared with a
// neighbouring frame), so that it can be given back.
void frame_slot_pages(uint32_t index, uintptr_t& start, uintptr_t& end, bool whole_inside) {
    uintptr_t a = reinterpret_cast<uintptr_t>(slots_of(index));
    uintptr_t b = a + node_frame_capacity * 8;
    uintptr_t page = os::page_size();
    if (whole_inside) {
        start = (a + page - 1) & ~(page - 1);
        end = b & ~(page - 1);
    } else {
        start = a & ~(page - 1);
        end = (b + page - 1) & ~(page - 1);
    }
}

// Moves the node table to a reservation twice as large. Every id keeps its slot: the pages
// of the frames in use are made usable there and their written slots copied, the rest stays
// untouched (0). Nothing holds an address inside the table across the allocation of a node.
void grow_node_table() {
    uint32_t frames = table_frames * 2 < max_node_frames ? table_frames * 2 : max_node_frames;
    auto fresh = static_cast<uint64_t*>(os::reserve_pages(table_bytes(frames)));
    if (!fresh) no_memory();
    for (uint32_t index = 1; index < table_frames; ++index) {
        NodeFrame* f = st.frame_by_index[index];
        if (!f) continue;
        uintptr_t start, end;
        frame_slot_pages(index, start, end, false);
        uintptr_t offset = start - reinterpret_cast<uintptr_t>(node_table);
        if (!os::commit_pages(reinterpret_cast<uint8_t*>(fresh) + offset, end - start)) {
            os::free_pages(fresh, table_bytes(frames));
            no_memory();
        }
        std::size_t first = std::size_t(index) * node_frame_capacity;
        std::memcpy(fresh + first, node_table + first, std::size_t(f->written) * sizeof(uint64_t));
    }
    os::free_pages(node_table, table_bytes(table_frames));
    node_table = fresh;
    table_frames = frames;
}

NodeFrame* new_node_frame() {
    uint32_t index = 1;
    while (index < max_node_frames && st.frame_by_index[index]) ++index;
    if (index >= max_node_frames) no_memory();
    if (index >= table_frames) grow_node_table();
    uintptr_t start, end;
    frame_slot_pages(index, start, end, false);
    if (!os::commit_pages(reinterpret_cast<void*>(start), end - start)) no_memory();

    auto f = static_cast<NodeFrame*>(heap::allocate_zeroed(sizeof(NodeFrame)));
    f->index = index;
    f->capacity = node_frame_capacity;
    f->stamp = st.collections;
    // Every slot starts untouched (0), and is written into the free list when the list comes
    // to it. Pages the frame shares with a neighbour were not given back with it: its slots
    // there are cleared.
    uint64_t* slots = slots_of(index);
    uintptr_t inside_start, inside_end;
    frame_slot_pages(index, inside_start, inside_end, true);
    auto from = reinterpret_cast<uintptr_t>(slots), to = reinterpret_cast<uintptr_t>(slots + node_frame_capacity);
    if (inside_end <= inside_start) {
        std::memset(slots, 0, node_frame_capacity * sizeof(uint64_t));
    } else {
        std::memset(slots, 0, inside_start - from);
        std::memset(reinterpret_cast<void*>(inside_end), 0, to - inside_end);
    }
    fill_free_list(f);
    st.frame_by_index[index] = f;
    f->prev = st.node_tail;
    if (st.node_tail) st.node_tail->next = f; else st.node_head = f;
    st.node_tail = f;
    if (!st.node_current) st.node_current = f;
    return f;
}

// ---- series frames --------------------------------------------------------------------------

SeriesFrame* new_series_frame(bool may_fail) {
    uint64_t area = st.next_series_size;
    if (st.first_series_size) area = st.first_series_size;
    uint64_t bytes = page_round(sizeof(SeriesFrame) + area);
    auto f = static_cast<SeriesFrame*>(alloc_frame(bytes, may_fail));
    if (!f) return nullptr;
    if (st.first_series_size) st.first_series_size = 0;
    else if (st.next_series_size < largest_series_frame) st.next_series_size *= 2;
    f->size = bytes;
    f->bump = f->area();
    f->end = f->area() + area;
    // Insert by address.
    SeriesFrame* after = nullptr;
    for (SeriesFrame* s = st.series_head; s && s < f; s = s->next) after = s;
    f->prev = after;
    f->next = after ? after->next : st.series_head;
    if (f->next) f->next->prev = f; else st.series_tail = f;
    if (after) after->next = f; else st.series_head = f;
    if (!st.series_current) st.series_current = f;
    return f;
}

SeriesFrame* find_series_frame(uint64_t need) {
    for (SeriesFrame* f = st.series_head; f; f = f->next)
        if (f->bump + need < f->end) return f;
    return nullptr;
}

Buffer* alloc_big_buffer(uint64_t need) {
    uint64_t bytes = big_frame_bytes(need);
    auto f = static_cast<BigFrame*>(alloc_frame(bytes));
    os::prefer_large_pages(f, bytes);
    f->need = need;
    f->pages = bytes;
    f->next = nullptr;
    f->prev = st.big_tail;
    if (st.big_tail) st.big_tail->next = f; else st.big_head = f;
    st.big_tail = f;
    return f->buffer();
}

BigFrame* big_frame_of(Buffer* b) { return reinterpret_cast<BigFrame*>(b) - 1; }

void free_fixed(Buffer* b) {
    heap::free(b);
}

// Releases an abandoned buffer that nothing can reach any more, where that is possible
// without a collection (big and fixed buffers); frame buffers wait for compaction.
void release_abandoned(Buffer* old) {
    if (old->flags & big) free_big_buffer(old);
    else if (old->flags & fixed) free_fixed(old);
}

Buffer* move_keep(Node node, uint64_t new_size, Buffer** old_out) {
    Buffer* b = buffer(node);
    if (new_size == 0) new_size = uint64_t(b->size) * 2;
    if (new_size == 0) no_memory();
    uint32_t unit = b->unit() ? b->unit() : 1;
    Buffer* nb;
    if (b->flags & fixed) {
        uint64_t size = round16(new_size);
        if (size > max_buffer_size) no_memory();
        nb = static_cast<Buffer*>(heap::allocate(sizeof(Buffer) + size));
        nb->size = static_cast<uint32_t>(size);
        nb->flags = b->flags;
    } else {
        nb = alloc_buffer(new_size / unit, unit, 0);
        b = buffer(node);  // the allocation may have run a collection that moved it
        nb->flags = (b->flags & ~big) | (nb->flags & big);
    }
    nb->node = node;
    nb->spare = b->spare;  // the code cache's word goes with the header
    nb->head = 0;
    nb->tail = b->used();
    node_table[node] = reinterpret_cast<uint64_t>(nb);
    b->node = 0;
    b->flags &= ~in_use;
    *old_out = b;
    if ((nb->flags & fixed) && fixed_moved) fixed_moved(b, nb);
    return nb;
}

}  // namespace

// ---- start and end ------------------------------------------------------------------------------

void init() {
    if (node_table) return;
    node_table = static_cast<uint64_t*>(os::reserve_pages(table_bytes(initial_node_frames)));
    if (!node_table) runtime::quit(94, KOV_CALLER_ADDRESS());
    table_frames = initial_node_frames;
    st = State{};
    st.frame_by_index = static_cast<NodeFrame**>(heap::allocate_zeroed(sizeof(NodeFrame*) * max_node_frames));
    frames_by_index = st.frame_by_index;
}

void size_next_series_frame(uint64_t bytes) { st.first_series_size = round16(bytes); }

void free_all() {
    while (st.node_head) free_node_frame(st.node_head);
    while (st.series_head) {
        SeriesFrame* f = st.series_head;
        st.series_head = f->next;
        free_frame(f, f->size);
    }
    while (st.big_head) {
        BigFrame* f = st.big_head;
        st.big_head = f->next;
        free_frame(f, f->pages);
    }
    NodeFrame** table = st.frame_by_index;
    CollectFn collector = st.collector;
    st = State{};
    st.frame_by_index = table;
    st.collector = collector;
}

// ---- allocation ---------------------------------------------------------------------------------

// need bytes taken for a buffer (alloc_buffer's, and a big buffer's growth), with the
// collections that may run around it: every call is a point where one may run (the gc-stress
// build collects at each); past the budget one does. A big buffer collects first unless that
// would cost more than what was taken since the last collection (a large live heap would make
// it quadratic).
[[gnu::always_inline]] inline void take(uint64_t need, bool big) {
#ifdef KOV_GC_STRESS
    collect_if_enabled();
#else
    if (st.taken + need >= st.budget) [[unlikely]] collect_if_enabled();
#endif
    st.taken += need;
    if (big && st.taken >= st.live) collect_if_enabled();
}

Buffer* alloc_buffer(uint64_t n, uint32_t unit, int32_t head_offset) {
    if (unit == 0 || n > max_buffer_size / unit) no_memory();
    uint64_t size = round16(n * unit);
    if (size > max_buffer_size) no_memory();
    uint64_t need = size + sizeof(Buffer);
    uint32_t bigflag = 0;
    uint8_t* at;
    take(need, need >= largest_series_frame);
    if (need >= largest_series_frame) {
        at = reinterpret_cast<uint8_t*>(alloc_big_buffer(need));
        bigflag = big;
    } else {
        SeriesFrame* f = st.series_current;
        if (!f || f->bump + need >= f->end) {
            // A frame with less than the refill threshold left does not count as room: the
            // frames are full, and a collection comes before a new frame, under the same
            // proportionality rule as big buffers.
            f = find_series_frame(need);
            if ((!f || static_cast<uint64_t>(f->end - f->bump) < refill_threshold) && st.taken >= st.live) {
                collect_if_enabled();
                f = find_series_frame(need);
            }
            if (!f || static_cast<uint64_t>(f->end - f->bump) < refill_threshold) {
                if (need >= st.next_series_size) st.next_series_size = largest_series_frame;
                // When the pages are refused, a frame with less than the threshold left
                // still serves (found again: the collection may have released it).
                SeriesFrame* made = new_series_frame(f != nullptr);
                if (!made && !(made = find_series_frame(need))) no_memory();
                f = made;
            }
            st.series_current = f;
        }
        at = f->bump;
        f->bump += need;
    }
    auto b = reinterpret_cast<Buffer*>(at);
    b->size = static_cast<uint32_t>(size);
    b->flags = unit | in_use | bigflag | allocated;
    b->node = 0;
    b->spare = 0;
    if (head_offset == -1) {
        b->head = static_cast<uint32_t>(size >> 1);
        b->flags |= middle;
    } else {
        b->head = static_cast<uint32_t>(head_offset);
    }
    b->tail = b->head;
    return b;
}

Node alloc_node() {
    NodeFrame* f = st.node_current;
    if (!f || !f->free_head || f->evacuated) [[unlikely]] {
        if (!f || !has_free_node(f)) {
            f = nullptr;
            for (NodeFrame* g = st.node_head; g; g = g->next)
                if (has_free_node(g)) {
                    f = g;
                    break;
                }
            if (!f) f = new_node_frame();
        }
        st.node_current = f;
    }
    Node n = f->free_head;
    f->free_head = static_cast<Node>(node_table[n] >> 1);
    node_table[n] = 0;
    ++f->used;
    st.taken += node_bytes;
    return n;
}

NodeFrame* current_node_frame() { return st.node_current; }

Node take_node_in(NodeFrame* f) {
    if (!f->free_head) fill_free_list(f);
    Node n = f->free_head;
    f->free_head = static_cast<Node>(node_table[n] >> 1);
    node_table[n] = 0;
    ++f->used;
    return n;
}

NodeFrame* node_frame_of(Node node) {
    uint32_t index = node / node_frame_capacity;
    return index < max_node_frames ? st.frame_by_index[index] : nullptr;
}

void free_node(Node node) {
    NodeFrame* f = node_frame_of(node);
    if (!f) return;
    node_table[node] = (uint64_t(f->free_head) << 1) | 1;
    f->free_head = node;
    --f->used;
}

Node alloc_series(uint64_t n, uint32_t unit, int32_t head_offset) {
    Buffer* b = alloc_buffer(n, unit, head_offset);
    Node node;
    try {
        node = alloc_node();  // never collects, so b stays where it is
    } catch (...) {
        b->flags &= ~in_use;  // no node to be had: the buffer is left for compaction
        throw;
    }
    b->node = node;
    node_table[node] = reinterpret_cast<uint64_t>(b);
    return node;
}

void (*fixed_moved)(Buffer*, Buffer*) = nullptr;

Node alloc_fixed_series(uint64_t n, uint32_t unit, int32_t head_offset) {
    if (unit == 0 || n > max_buffer_size / unit) no_memory();
    uint64_t size = round16(n * unit);
    auto b = static_cast<Buffer*>(heap::allocate(sizeof(Buffer) + size));
    st.taken += sizeof(Buffer) + size;
    b->flags = unit | in_use | allocated | fixed;
    b->size = static_cast<uint32_t>(size);
    b->spare = 0;
    b->head = b->tail = head_offset < 0 ? static_cast<uint32_t>(size >> 1) : static_cast<uint32_t>(head_offset);
    Node node = alloc_node();
    b->node = node;
    node_table[node] = reinterpret_cast<uint64_t>(b);
    return node;
}

Node alloc_cells(uint64_t n) { return alloc_series(n, 16, 0); }

Node alloc_cells_unset(uint64_t n) {
    Node node = alloc_series(n, 16, 0);
    Buffer* b = buffer(node);
    auto cells = reinterpret_cast<uint32_t*>(b->data());
    for (uint32_t i = 0; i < b->size / 16; ++i) {
        cells[i * 4] = T_unset;
        cells[i * 4 + 1] = cells[i * 4 + 2] = cells[i * 4 + 3] = 0;
    }
    return node;
}

Node alloc_bytes(uint64_t n) { return alloc_series(n ? n : 16, 1, 0); }

Node alloc_units(uint64_t n, uint32_t unit) {
    if (n == 0) n = 16 >> (unit >> 1);
    return alloc_series(n, unit, 0);
}

Node alloc_bytes_filled(uint64_t n, uint8_t byte) {
    Node node = alloc_bytes(n);
    Buffer* b = buffer(node);
    std::memset(b->data(), byte, b->size);
    return node;
}

// ---- growing and copying ------------------------------------------------------------------------

Buffer* move_buffer(Node node, uint64_t new_size) {
    Buffer* old;
    Buffer* nb = move_keep(node, new_size, &old);
    release_abandoned(old);
    return nb;
}

namespace {
// A big buffer grown by its pages (os::resize_pages), its contents kept without a copy, taken
// and collected for as alloc_buffer takes a new one: null, having changed nothing, where that
// cannot be done (a buffer of another kind, one with room before its head, a smaller size,
// pages refused), and expand_series copies.
Buffer* grow_big(Node node, uint64_t new_size) {
    Buffer* b = buffer(node);
    if (!(b->flags & big) || (b->flags & fixed) || b->head != 0) return nullptr;
    uint32_t unit = b->unit() ? b->unit() : 1;
    if (new_size / unit > max_buffer_size / unit) return nullptr;
    uint64_t size = round16(new_size / unit * unit);
    uint64_t need = size + sizeof(Buffer);
    if (size > max_buffer_size || size <= b->size || need < largest_series_frame) return nullptr;
    uint64_t bytes = big_frame_bytes(need);
    if (st.frame_pages - big_frame_of(b)->pages + bytes > st.frame_limit) return nullptr;
    take(need, true);
    b = buffer(node);  // as after alloc_buffer's collections
    if (!(b->flags & big) || b->head != 0) return nullptr;
    BigFrame* f = big_frame_of(b);
    uint64_t old_pages = f->pages;
    f = static_cast<BigFrame*>(os::resize_pages(f, old_pages, bytes));
    if (!f) return nullptr;
    os::prefer_large_pages(f, bytes);
    st.frame_pages += bytes - old_pages;
    f->need = need;
    f->pages = bytes;
    if (f->prev) f->prev->next = f; else st.big_head = f;
    if (f->next) f->next->prev = f; else st.big_tail = f;
    Buffer* nb = f->buffer();
    nb->size = static_cast<uint32_t>(size);
    node_table[node] = reinterpret_cast<uint64_t>(nb);
    return nb;
}
}  // namespace

Buffer* expand_series(Node node, uint64_t new_size) {
    if (Buffer* nb = grow_big(node, new_size)) return nb;
    Buffer* old;
    Buffer* nb = move_keep(node, new_size, &old);
    uint32_t n = old->used();
    if (n > nb->size) n = nb->size;  // a shrinking move keeps what fits
    nb->tail = n;
    std::memcpy(nb->data(), old->head_ptr(), n);
    release_abandoned(old);
    return nb;
}

Buffer* expand_series_filled(Node node, uint64_t new_size, uint8_t byte) {
    uint32_t old_size = buffer(node)->size;
    Buffer* nb = expand_series(node, new_size);
    if (old_size < nb->size) std::memset(nb->data() + old_size, byte, nb->size - old_size);
    return nb;
}

Node copy_series(Node node) {
    uint32_t size = buffer(node)->size;
    Node copy = alloc_bytes(size);
    Buffer* from = buffer(node);
    Buffer* to = buffer(copy);
    // A copy belongs to nobody and is nobody's system code.
    to->flags = (from->flags & ~(big | fixed | marked | owned | system_code | has_form | boot_literal | pending_body)) |
                (to->flags & big);
    to->head = 0;
    to->tail = from->used();
    std::memcpy(to->data(), from->head_ptr(), from->used());
    return copy;
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, static_cast<std::size_t>(end - start));
}

// ---- collection interface -----------------------------------------------------------------------

void set_collector(CollectFn fn) { st.collector = fn; }

void collect_if_enabled() {
    if (collector_enabled && st.collector) st.collector();
}

NodeFrame* node_frames() { return st.node_head; }
SeriesFrame* series_frames() { return st.series_head; }
BigFrame* big_frames() { return st.big_head; }
uint32_t collection_count() { return st.collections; }
void set_collection_count(uint32_t n) { st.collections = n; }

void free_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next; else st.series_head = f->next;
    if (f->next) f->next->prev = f->prev; else st.series_tail = f->prev;
    if (st.series_current == f) st.series_current = st.series_tail;
    free_frame(f, f->size);
}

void free_big_buffer(Buffer* b) {
    BigFrame* f = big_frame_of(b);
    if (f->prev) f->prev->next = f->next; else st.big_head = f->next;
    if (f->next) f->next->prev = f->prev; else st.big_tail = f->prev;
    free_frame(f, f->pages);
}

void free_node_frame(NodeFrame* f) {
    if (f->prev) f->prev->next = f->next; else st.node_head = f->next;
    if (f->next) f->next->prev = f->prev; else st.node_tail = f->prev;
    if (st.node_current == f) st.node_current = st.node_tail;
    uintptr_t start, end;
    frame_slot_pages(f->index, start, end, true);
    if (end > start) os::decommit_pages(reinterpret_cast<void*>(start), end - start);
    st.frame_by_index[f->index] = nullptr;
    heap::free(f);
}

void update_node_frames(uint32_t collection_count) {
    bool current_set = false;
    for (NodeFrame* f = st.node_head; f;) {
        NodeFrame* next = f->next;
        if (f->used == 0 || f->evacuated) {
            free_node_frame(f);
        } else {
            if (!current_set && f->used < f->capacity) {
                st.node_current = f;
                current_set = true;
            }
            f->history = (f->history << 1) | (f->used == f->used_at_last ? 1 : 0);
            f->used_at_last = f->used;
        }
        f = next;
    }
    (void)collection_count;
    st.live = static_cast<uint64_t>(bytes_in_use());
    st.budget = st.live > collection_floor ? st.live : collection_floor;
    st.taken = 0;
}

void count_in_use_as_live() {
    st.live = static_cast<uint64_t>(bytes_in_use());
    st.budget = st.live > collection_floor ? st.live : collection_floor;
    st.taken = 0;
}

void prefault(uint64_t bytes) {
    SeriesFrame* f = st.series_current;
    if (!f) return;
    uintptr_t page = os::page_size();
    auto start = (reinterpret_cast<uintptr_t>(f->bump) + page - 1) & ~(page - 1);
    auto end = reinterpret_cast<uintptr_t>(f->end) & ~(page - 1);
    if (end > start + bytes) end = start + bytes;
    if (end > start) os::populate_pages(reinterpret_cast<void*>(start), end - start);
}

void release_free_pages() {
    for (SeriesFrame* f = st.series_head; f; f = f->next)
        os::discard_pages(f->bump, static_cast<std::size_t>(f->end - f->bump));
}

uint64_t taken_since_collection() { return st.taken; }
uint64_t collection_budget() { return st.budget; }
void set_frame_limit(uint64_t bytes) { st.frame_limit = bytes; }

// ---- statistics ---------------------------------------------------------------------------------

double bytes_in_use() {
    double total = 0;
    for (NodeFrame* f = st.node_head; f; f = f->next) total += f->used * 8.0;
    for (SeriesFrame* f = st.series_head; f; f = f->next) total += static_cast<double>(f->bump - f->area());
    for (BigFrame* f = st.big_head; f; f = f->next) total += static_cast<double>(f->need);
    return total;
}

uint64_t frame_bytes() {
    uint64_t total = 0;
    for (NodeFrame* f = st.node_head; f; f = f->next) total += uint64_t(f->capacity) * 8 + sizeof(NodeFrame);
    return total + st.frame_pages;
}

uint32_t node_frame_count() {
    uint32_t n = 0;
    for (NodeFrame* f = st.node_head; f; f = f->next) ++n;
    return n;
}

uint32_t series_frame_count() {
    uint32_t n = 0;
    for (SeriesFrame* f = st.series_head; f; f = f->next) ++n;
    return n;
}

uint32_t big_frame_count() {
    uint32_t n = 0;
    for (BigFrame* f = st.big_head; f; f = f->next) ++n;
    return n;
}

void frame_figures(FrameFigures* nodes, uint32_t& node_count, FrameFigures* series,
                   uint32_t& series_count, uint64_t* bigs, uint32_t& big_count, uint32_t max) {
    node_count = series_count = big_count = 0;
    for (NodeFrame* f = st.node_head; f && node_count < max; f = f->next)
        nodes[node_count++] = {f->capacity - f->used, f->used, f->capacity};
    for (SeriesFrame* f = st.series_head; f && series_count < max; f = f->next)
        series[series_count++] = {static_cast<uint64_t>(f->end - f->bump), static_cast<uint64_t>(f->bump - f->area()),
                                  static_cast<uint64_t>(f->end - f->area())};
    for (BigFrame* f = st.big_head; f && big_count < max; f = f->next) bigs[big_count++] = f->need;
}

// ---- checking -----------------------------------------------------------------------------------

namespace {
const char* check_buffer(Buffer* b) {
    if (!(b->flags & allocated)) return "buffer without the allocated flag";
    if (b->size % 16) return "buffer size not a multiple of 16";
    if (b->head > b->tail || b->tail > b->size) return "buffer head or tail out of bounds";
    uint32_t u = b->unit();
    if (u == 0) return "buffer without a unit";
    if (b->flags & marked) return "buffer left marked";
    if (!(b->flags & in_use)) return b->node ? "abandoned buffer still linked to a node" : nullptr;
    if (!b->node) return "live buffer without a node";
    NodeFrame* f = node_frame_of(b->node);
    if (!f || f->evacuated) return "buffer's node lies in no node frame";
    if (buffer(b->node) != b) return "node does not point back to its buffer";
    return nullptr;
}
}  // namespace

const char* verify() {
    // Series frames: buffers tile the area exactly up to the bump pointer.
    for (SeriesFrame* f = st.series_head; f; f = f->next) {
        if (f->next && f->next <= f) return "series frames out of address order";
        if (f->next && f->next->prev != f) return "series frame list broken";
        if (f->bump < f->area() || f->bump > f->end) return "series frame bump pointer out of bounds";
        uint8_t* p = f->area();
        while (p < f->bump) {
            auto b = reinterpret_cast<Buffer*>(p);
            if (b->flags & (big | fixed)) return "big or fixed buffer inside a series frame";
            if (const char* e = check_buffer(b)) return e;
            p += uint64_t(b->size) + sizeof(Buffer);
        }
        if (p != f->bump) return "buffers overrun their series frame";
    }
    for (BigFrame* f = st.big_head; f; f = f->next) {
        Buffer* b = f->buffer();
        if (!(b->flags & big)) return "buffer in a big frame without the big flag";
        if (uint64_t(b->size) + sizeof(Buffer) != f->need) return "big frame need does not match its buffer";
        if (const char* e = check_buffer(b)) return e;
    }
    // Node frames: used slots point at live buffers that point back; free lists are sound.
    for (NodeFrame* f = st.node_head; f; f = f->next) {
        if (f->next && f->next->prev != f) return "node frame list broken";
        uint64_t* slots = slots_of(f->index);
        Node first = f->index * node_frame_capacity;
        uint32_t used = 0, free_slots = 0;
        for (uint32_t i = 0; i < f->capacity; ++i) {
            uint64_t s = slots[i];
            if (is_used_slot(s)) {
                ++used;
                auto b = reinterpret_cast<Buffer*>(s);
                if (b->node != first + i) return "buffer does not point back to its node";
                if (!(b->flags & in_use)) return "node points at an abandoned buffer";
            } else if (s != 0) {
                ++free_slots;
            }
        }
        if (used > f->used) return "node frame counts fewer used nodes than it has";
        // Slots not written yet are untouched, and free.
        for (uint32_t i = f->written; i < f->capacity; ++i)
            if (slots[i] != 0) return "a slot not yet written is not untouched";
        uint32_t untouched = f->capacity - f->written;
        uint32_t listed = 0;
        for (Node n = f->free_head; n; n = static_cast<Node>(node_table[n] >> 1)) {
            if (n < first || n >= first + f->written) return "free list leaves its node frame";
            if (!(node_table[n] & 1)) return "free list runs through a used slot";
            if (++listed > f->capacity) return "free list loops";
        }
        if (listed != free_slots) return "free slots missing from the free list";
        listed += untouched;
        if (listed + f->used != f->capacity) return "node frame accounting wrong";
    }
    return nullptr;
}

}  // namespace kov::memory
