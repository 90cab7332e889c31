#include "runtime/collector.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "runtime/cells.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/handles.h"
#include "runtime/heap.h"
#include "runtime/hashtable.h"
#include "runtime/platform/native_stack.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"

namespace kov::collector {

using memory::Buffer;
using memory::Node;
using memory::NodeFrame;

namespace detail {
constinit bool evacuating = false;
}  // namespace detail

namespace {

constexpr uint32_t frame_nodes = memory::node_frame_capacity;

// Node-frame evacuation. A node frame that stayed sparse (under half used) with the same used
// count over the last six collections has its live node records moved into other frames and
// is released; every reference to a moved node is rewritten to its new id. A reference can be
// rewritten only where the collector knows its place: a word of a cell that marking reads in
// a series (`cell` below). A node named from anywhere else (a root, a C++ temporary, a table
// that stores raw ids, a word on the native stack, or a word of a live buffer that marking
// did not read as a cell reference) pins its frame, which then stays where it is and waits
// six more collections. Of the words found by scanning (the native stack, the tracked heap,
// live buffers) only those that name a node in use pin: evacuation moves nothing else, and
// words that name free ids come by chance and in numbers (integers in cells, sizes and seeds
// in tables, what a buffer's unused room kept from earlier contents), so that they would hold
// frames in place depending on what the process ran before.
struct Evacuation {
    std::vector<int32_t> ordinal;        // by frame index: the candidate's ordinal, or -1
    std::vector<NodeFrame*> candidates;
    std::vector<uint8_t> pinned;         // by ordinal
    std::vector<Node*> slots;            // cell words that name a candidate's node
    std::vector<uint32_t> recorded;      // by ordinal × frame_nodes + slot: references in `slots`
    std::vector<uint32_t> found;         // the same, counted in every live buffer's words
    std::vector<Node> forward;           // the same index: the new id, or 0
    const Cell* cell = nullptr;          // the cell whose references marking is reading
    uint32_t count = 0;                  // collections that evacuated at least one frame
};
// A frame pinned by the heap or by a word marking did not read waits before it may be
// chosen again (6 collections, doubling up to 384, in NodeFrame::pinned_wait), so that a
// frame pinned for good costs no heap scan each time. The wait is the frame's own: other
// frames that turn sparse meanwhile are evacuated on time.

using detail::evacuating;

struct State {
    bool collecting = false;
    uint32_t stress_interval = 1;
    uint32_t stress_count = 0;
    std::vector<RootFn> roots;           // the external root stack; 0 marks a released entry
    std::vector<SweepFn> weak_sweeps;
    std::vector<const Cell*> spilled_cells;  // Root guards past the fixed array
    std::vector<const Node*> spilled_nodes;  // RootNode guards past the fixed array
    std::vector<Node> mark_stack;         // cell series whose values wait to be marked
    std::vector<Buffer*> fixed_marked;    // fixed buffers marked in this collection
    Evacuation evacuation;
    os::StackMark stack_mark;             // where the running collection was entered
    uint32_t node_sweeps = 0;             // collections that freed the nodes of dead series
};
State& st() {
    static State s;
    return s;
}

void collect_hook() {
#ifdef KOV_GC_STRESS
    State& s = st();
    if (++s.stress_count < s.stress_interval) return;
    s.stress_count = 0;
#endif
    collect();
}

void drain() {
    State& s = st();
    while (!s.mark_stack.empty()) {
        Node n = s.mark_stack.back();
        s.mark_stack.pop_back();
        Buffer* b = memory::buffer(n);
        auto begin = cells::of(b);
        auto end = reinterpret_cast<const Cell*>(b->tail_ptr());
        if (evacuating) [[unlikely]] {
            for (const Cell* c = begin; c < end; ++c) {
                s.evacuation.cell = c;
                mark_cell(*c);
            }
            s.evacuation.cell = nullptr;
            continue;
        }
        for (const Cell* c = begin; c < end; ++c) mark_cell(*c);
    }
}

// ---- node-frame evacuation ------------------------------------------------------------------------

int32_t candidate_of(const Evacuation& ev, uint64_t id) {
    uint64_t index = id / frame_nodes;
    return index < ev.ordinal.size() ? ev.ordinal[index] : -1;
}

// The candidate that a word found outside the recorded cell references pins: the one whose
// node in use it names, or -1.
int32_t pinned_by(const Evacuation& ev, uint64_t id) {
    int32_t k = candidate_of(ev, id);
    return k >= 0 && memory::is_used_slot(memory::node_table[id]) ? k : -1;
}

void note_reference(const Node& slot) {
    Evacuation& ev = st().evacuation;
    int32_t k = candidate_of(ev, slot);
    if (k < 0) return;
    auto at = reinterpret_cast<const uint8_t*>(&slot);
    auto cell = reinterpret_cast<const uint8_t*>(ev.cell);
    if (cell && at >= cell + 4 && at + sizeof(Node) <= cell + sizeof(Cell)) {
        ev.slots.push_back(const_cast<Node*>(&slot));
        ++ev.recorded[std::size_t(k) * frame_nodes + slot % frame_nodes];
    } else if (pinned_by(ev, slot) >= 0) {
        ev.pinned[k] = 1;
    }
}

void pin_stack_word(uint64_t word, void* data);

// Picks the frames to evacuate in this collection, before marking: stable over the last six
// collections, under half used, not the frame new nodes come from, while more than a frame's
// worth of free nodes remain elsewhere; then lets the native stack pin what it names.

void choose_candidates(State& s) {
    Evacuation& ev = s.evacuation;
    evacuating = false;
    constexpr uint32_t stable = 63;  // the last six collections
    NodeFrame* current = memory::current_node_frame();
    for (NodeFrame* f = memory::node_frames(); f; f = f->next)
        if (f->pinned_wait) --f->pinned_wait;
    auto eligible = [&](NodeFrame* f) {
        return (f->history & stable) == stable && f->used < f->capacity / 2 && f != current && !f->evacuated &&
               f->pinned_wait == 0;
    };
    uint64_t free = 0;
    uint32_t top = 0;
    bool any = false;
    NodeFrame* last = nullptr;
    for (NodeFrame* f = memory::node_frames(); f; f = f->next) {
        if (memory::has_room(f)) free += f->capacity - f->used;
        if (f->index > top) top = f->index;
        any = any || eligible(f);
        last = f;
    }
    if (!any) return;
    ev.candidates.clear();
    for (NodeFrame* f = last; f; f = f->prev) {
        if (!eligible(f) || free <= frame_nodes) continue;
        ev.candidates.push_back(f);
        free -= frame_nodes;
    }
    if (ev.candidates.empty()) return;
    ev.ordinal.assign(top + 1, -1);
    for (std::size_t k = 0; k < ev.candidates.size(); ++k) ev.ordinal[ev.candidates[k]->index] = int32_t(k);
    ev.pinned.assign(ev.candidates.size(), 0);
    // The native stack first: it pins for certain (its frames hold ids marking never sees), and
    // it is cheap to read, unlike the heap.
    os::scan_native_stack(s.stack_mark, pin_stack_word, &ev);
    std::size_t kept = 0;
    for (std::size_t k = 0; k < ev.candidates.size(); ++k) {
        NodeFrame* f = ev.candidates[k];
        ev.ordinal[f->index] = -1;
        if (ev.pinned[k]) f->history = 0;
        else ev.candidates[kept++] = f;
    }
    ev.candidates.resize(kept);
    if (ev.candidates.empty()) return;
    for (std::size_t k = 0; k < ev.candidates.size(); ++k) ev.ordinal[ev.candidates[k]->index] = int32_t(k);
    std::size_t n = ev.candidates.size() * frame_nodes;
    ev.pinned.assign(ev.candidates.size(), 0);
    ev.recorded.assign(n, 0);
    ev.found.assign(n, 0);
    ev.forward.assign(n, 0);
    ev.slots.clear();
    evacuating = true;
}

// A word on the native stack that is, or may be made from, the id of a node in use in a
// candidate frame: the id in either half, the id scaled to a node-table offset, or the address
// of its node-table slot. Only ids of nodes in use pin: evacuation moves nothing else, and
// small numbers that C++ frames hold (sizes, counts, offsets) often fall among the ids of the
// low frames. Nodes are in use from before any collection may run until they are freed.
void pin_stack_word(uint64_t word, void* data) {
    auto& ev = *static_cast<Evacuation*>(data);
    auto pin = [&](uint64_t id) {
        int32_t k = pinned_by(ev, id);
        if (k >= 0) ev.pinned[k] = 1;
    };
    pin(word & 0xFFFFFFFF);
    pin(word >> 32);
    if (word % 8 == 0) pin(word / 8);
    auto table = reinterpret_cast<uintptr_t>(memory::node_table);
    if (word >= table && (word - table) / 8 < uint64_t(memory::max_node_frames) * frame_nodes) pin((word - table) / 8);
}

// Counts every word of a live buffer that equals a candidate's node id.
void count_words(Evacuation& ev, Buffer* b) {
    auto words = reinterpret_cast<const uint32_t*>(b->data());
    for (uint32_t i = 0, n = b->size / 4; i < n; ++i) {
        int32_t k = candidate_of(ev, words[i]);
        if (k >= 0) ++ev.found[std::size_t(k) * frame_nodes + words[i] % frame_nodes];
    }
}

// After marking and the weak sweeps, before compaction: moves the live node records of every
// candidate that nothing pinned, then rewrites the recorded references.
void evacuate(State& s) {
    Evacuation& ev = s.evacuation;
    evacuating = false;
    memory::for_each_buffer([&](Buffer* b) {
        if (b->flags & memory::marked) count_words(ev, b);
    });
    for (Buffer* b : s.fixed_marked) count_words(ev, b);
    // Tables and scratch memory of the tracked heap may keep ids of their own: any there that
    // names a node in use pins. Live fixed buffers (counted above) and the node-frame records
    // (their free-list heads) are passed over.
    std::vector<const void*> skip(s.fixed_marked.begin(), s.fixed_marked.end());
    for (NodeFrame* f = memory::node_frames(); f; f = f->next) skip.push_back(f);
    std::sort(skip.begin(), skip.end());
    struct HeapScan {
        Evacuation* ev;
        const std::vector<const void*>* skip;
    } scan{&ev, &skip};
    heap::for_each(
        [](void* block, std::size_t size, void* data) {
            auto& h = *static_cast<HeapScan*>(data);
            if (std::binary_search(h.skip->begin(), h.skip->end(), static_cast<const void*>(block))) return;
            auto words = static_cast<const uint32_t*>(block);
            for (std::size_t i = 0; i < size / 4; ++i) {
                int32_t k = pinned_by(*h.ev, words[i]);
                if (k >= 0) h.ev->pinned[k] = 1;
            }
        },
        &scan);
    for (std::size_t k = 0; k < ev.candidates.size(); ++k) {
        if (ev.pinned[k]) continue;
        std::size_t base = k * frame_nodes;
        Node first = ev.candidates[k]->index * frame_nodes;
        for (uint32_t i = 0; i < frame_nodes; ++i)
            if (ev.found[base + i] > ev.recorded[base + i] && pinned_by(ev, first + i) >= 0) {
                ev.pinned[k] = 1;  // a word that marking did not read as a cell reference
                break;
            }
    }

    bool moved = false;
    NodeFrame* target = memory::node_frames();
    auto next_target = [&]() {
        while (target && (!memory::has_room(target) || candidate_of(ev, uint64_t(target->index) * frame_nodes) >= 0))
            target = target->next;
        return target;
    };
    for (std::size_t k = 0; k < ev.candidates.size(); ++k) {
        NodeFrame* f = ev.candidates[k];
        if (ev.pinned[k]) {
            f->history = 0;
            f->pinned_backoff = f->pinned_backoff == 0 ? 6 : f->pinned_backoff < 384 ? f->pinned_backoff * 2 : 384;
            f->pinned_wait = f->pinned_backoff;
            continue;
        }
        Node first = f->index * frame_nodes;
        uint32_t live = 0;
        for (uint32_t i = 0; i < frame_nodes; ++i) {
            uint64_t slot = memory::node_table[first + i];
            if (memory::is_used_slot(slot) && (reinterpret_cast<Buffer*>(slot)->flags & memory::marked)) ++live;
        }
        uint64_t room = 0;
        for (NodeFrame* g = memory::node_frames(); g; g = g->next)
            if (!g->evacuated && candidate_of(ev, uint64_t(g->index) * frame_nodes) < 0) room += g->capacity - g->used;
        if (room < live) {
            f->history = 0;
            continue;
        }
        for (uint32_t i = 0; i < frame_nodes; ++i) {
            Node old = first + i;
            uint64_t slot = memory::node_table[old];
            if (!memory::is_used_slot(slot)) continue;
            auto b = reinterpret_cast<Buffer*>(slot);
            if (!(b->flags & memory::marked)) continue;  // dead: compaction gives its node back
            Node fresh = memory::take_node_in(next_target());
            memory::node_table[fresh] = slot;
            b->node = fresh;
            memory::free_node(old);
            ev.forward[k * frame_nodes + i] = fresh;
        }
        f->evacuated = true;
        moved = true;
    }
    if (moved) {
        for (Node* slot : ev.slots) {
            int32_t k = candidate_of(ev, *slot);
            if (k < 0) continue;
            Node fresh = ev.forward[std::size_t(k) * frame_nodes + *slot % frame_nodes];
            if (fresh) *slot = fresh;
        }
        ++ev.count;
        hashtable::note_evacuation();
    }
    ev.slots.clear();
}

// Slides every live buffer of the series frames towards the lowest addresses, across frames:
// one destination cursor walks the frames in address order, always at or below the buffer
// being moved, so a move never overwrites a buffer not yet visited. Dead buffers give their
// nodes back.
void compact_series_frames() {
    memory::SeriesFrame* dest = memory::series_frames();
    if (!dest) return;
    uint8_t* to = dest->area();
    for (memory::SeriesFrame* f = memory::series_frames(); f; f = f->next) {
        uint8_t* p = f->area();
        uint8_t* old_bump = f->bump;
        while (p < old_bump) {
            auto b = reinterpret_cast<Buffer*>(p);
            uint64_t need = uint64_t(b->size) + sizeof(Buffer);
            p += need;
            if (!(b->flags & memory::in_use)) continue;  // abandoned by a move: no node
            if (!(b->flags & memory::marked)) {
                memory::free_node(b->node);
                continue;
            }
            b->flags &= ~memory::marked;
            while (to + need > dest->end) {
                // The destination frame is full: it ends here, the next one takes over. The
                // loop ends at the latest in this buffer's own frame, where it fits.
                dest->bump = to;
                dest = dest->next;
                to = dest->area();
            }
            if (reinterpret_cast<uint8_t*>(b) != to) {
                std::memmove(to, b, need);
                memory::node_table[reinterpret_cast<Buffer*>(to)->node] = reinterpret_cast<uint64_t>(to);
            }
            to += need;
        }
        if (f != dest) f->bump = f->area();
    }
    dest->bump = to;
    // Release the frames left empty, all but the last; poison what was vacated.
    for (memory::SeriesFrame* f = memory::series_frames(); f;) {
        memory::SeriesFrame* next = f->next;
#ifdef KOV_GC_STRESS
        constexpr uint8_t poison = 0xDB;
        std::memset(f->bump, poison, static_cast<std::size_t>(f->end - f->bump));
#endif
        if (f->bump == f->area() && next) memory::free_series_frame(f);
        f = next;
    }
}

void sweep_big_frames() {
    for (memory::BigFrame* f = memory::big_frames(); f;) {
        memory::BigFrame* next = f->next;
        Buffer* b = f->buffer();
        if (b->flags & memory::marked) {
            b->flags &= ~memory::marked;
        } else {
            if ((b->flags & memory::in_use) && b->node) memory::free_node(b->node);
            memory::free_big_buffer(b);
        }
        f = next;
    }
}

}  // namespace

#ifdef KOV_GC_STRESS
namespace {
// KOV_GC_STRESS_INTERVAL=n collects at every n-th allocation that may, for a
// test too large to collect at each; KOV_GC_STRESS_START=n does so while the program starts,
// which every test repeats alike (tests/CMakeLists.txt gives both per test). Unset: 1.
uint32_t stress_setting(const char* name) {
    char value[16];
    if (os::get_env(name, value, sizeof value) <= 0) return 1;
    return static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
}
}  // namespace
#endif

void init() {
    memory::set_collector(collect_hook);
#ifdef KOV_GC_STRESS
    set_stress_interval(stress_setting("KOV_GC_STRESS_START"));
#endif
}

void started() {
#ifdef KOV_GC_STRESS
    set_stress_interval(stress_setting("KOV_GC_STRESS_INTERVAL"));
#endif
}

bool active_q() { return st().collecting; }
bool enabled() { return memory::collector_enabled; }
void enable(bool on) { memory::collector_enabled = on; }
uint32_t collections() { return memory::collection_count(); }
uint32_t node_sweeps() { return st().node_sweeps; }
uint32_t evacuations() { return st().evacuation.count; }
void set_stress_interval(uint32_t n) { st().stress_interval = n ? n : 1; }

bool mark_series(const Node& slot) {
    if (evacuating) [[unlikely]] note_reference(slot);
    Node node = slot;
    if (!memory::valid_node(node)) return false;
    Buffer* b = memory::buffer(node);
    if (b->flags & memory::marked) return false;
    b->flags |= memory::marked;
    if (b->flags & memory::fixed) st().fixed_marked.push_back(b);
    return true;
}

bool marked_q(Node node) {
    if (evacuating) [[unlikely]] {
        Evacuation& ev = st().evacuation;
        int32_t k = pinned_by(ev, node);
        if (k >= 0) ev.pinned[k] = 1;
    }
    return memory::valid_node(node) && (memory::buffer(node)->flags & memory::marked);
}

void mark_block(const Node& slot) {
    if (mark_series(slot)) st().mark_stack.push_back(slot);
}

void mark_cell(const Cell& c) {
    uint32_t t = cell::type(c);
    if (t >= actions::max_types) return;  // no type refers to anything there
    datatype::MarkFn fn = datatype::types[t].mark;
    if (fn) fn(c);
}

void mark_cells(const Cell* begin, const Cell* end) {
    for (const Cell* c = begin; c < end; ++c) mark_cell(*c);
}

// These pass the cell's own words (the _ref accessors), never a copy: evacuation rewrites
// the word whose address marking is given, and a copy's address lies on the native stack,
// which pins.
void mark_block_value(const Cell& c) { mark_block(series::node_ref(c)); }

void mark_string_value(const Cell& c) {
    mark_series(series::node_ref(c));
    if (string::cache_ref(c)) mark_series(string::cache_ref(c));
}

void mark_series_value(const Cell& c) { mark_series(series::node_ref(c)); }

uint32_t push_root(RootFn fn) {
    auto& roots = st().roots;
    for (uint32_t i = 0; i < roots.size(); ++i)
        if (!roots[i]) {
            roots[i] = fn;
            return i + 1;
        }
    roots.push_back(fn);
    return static_cast<uint32_t>(roots.size());
}

void release_root(RootFn fn) {
    for (auto& r : st().roots)
        if (r == fn) {
            r = nullptr;
            return;
        }
}

void add_weak_sweep(SweepFn fn) { st().weak_sweeps.push_back(fn); }

namespace detail {
constinit TempRoots temps{};
void spill_cell(const Cell* cell) { st().spilled_cells.push_back(cell); }
void unspill_cell() { st().spilled_cells.pop_back(); }
void spill_node(const Node* node) { st().spilled_nodes.push_back(node); }
void unspill_node() { st().spilled_nodes.pop_back(); }
}  // namespace detail

namespace {
void mark_sweep_compact(State& s) {
    choose_candidates(s);
    // Mark from the roots.
    for (RootFn fn : s.roots)
        if (fn) {
            fn();
            drain();
        }
    auto mark_temp_node = [](const Node* n) {
        if (memory::valid_node(*n) && memory::buffer(*n)->unit() == 16) mark_block(*n);
        else mark_series(*n);
    };
    const detail::TempRoots& t = detail::temps;
    for (uint32_t i = 0; i < t.cell_count && i < detail::fixed_temps; ++i) mark_cell(*t.cells[i]);
    for (const Cell* c : s.spilled_cells) mark_cell(*c);
    for (uint32_t i = 0; i < t.node_count && i < detail::fixed_temps; ++i) mark_temp_node(t.nodes[i]);
    for (const Node* n : s.spilled_nodes) mark_temp_node(n);
    cycles::for_each([](Node n) { mark_block(n); });
    drain();

    // Everything reachable is marked: weak tables and handles let go of the rest.
    for (SweepFn fn : s.weak_sweeps) fn();
    handles::sweep();
    if (evacuating) evacuate(s);

    compact_series_frames();
    sweep_big_frames();
    ++s.node_sweeps;
    for (Buffer* b : s.fixed_marked) b->flags &= ~memory::marked;
    s.fixed_marked.clear();
}
}  // namespace

uint32_t collect() {
    State& s = st();
    if (s.collecting) return memory::collection_count();
    s.collecting = true;
    os::mark_native_stack(s.stack_mark);
    try {
        mark_sweep_compact(s);
    } catch (const std::bad_alloc&) {
        // The mark stack could not grow. A collection cannot stop halfway (marks would be
        // left set and dead nodes unqueued), so this ends the process like an exhausted heap.
        runtime::quit(94, KOV_CALLER_ADDRESS());
    }

    uint32_t count = memory::collection_count() + 1;
    memory::set_collection_count(count);
    memory::update_node_frames(count);
    s.collecting = false;
    return count;
}

}  // namespace kov::collector
