#include "runtime/collector.h"

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
#include "runtime/runtime.h"

namespace kov::collector {

using memory::Buffer;
using memory::Node;

namespace {

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
        for (const Cell* c = begin; c < end; ++c) mark_cell(*c);
    }
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

void init() {
    memory::set_collector(collect_hook);
}

bool active_q() { return st().collecting; }
bool enabled() { return memory::collector_enabled; }
void enable(bool on) { memory::collector_enabled = on; }
uint32_t collections() { return memory::collection_count(); }
void set_stress_interval(uint32_t n) { st().stress_interval = n ? n : 1; }

bool mark_series(Node node) {
    if (!memory::valid_node(node)) return false;
    Buffer* b = memory::buffer(node);
    if (b->flags & memory::marked) return false;
    b->flags |= memory::marked;
    if (b->flags & memory::fixed) st().fixed_marked.push_back(b);
    return true;
}

bool marked_q(Node node) {
    return memory::valid_node(node) && (memory::buffer(node)->flags & memory::marked);
}

void mark_block(Node node) {
    if (mark_series(node)) st().mark_stack.push_back(node);
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

void mark_block_value(const Cell& c) { mark_block(series::node_of(c)); }

void mark_string_value(const Cell& c) {
    mark_series(series::node_of(c));
    if (Node cache = string::cache_of(c)) mark_series(cache);
}

void mark_series_value(const Cell& c) { mark_series(c.w2); }

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

    compact_series_frames();
    sweep_big_frames();
    for (Buffer* b : s.fixed_marked) b->flags &= ~memory::marked;
    s.fixed_marked.clear();
}
}  // namespace

uint32_t collect() {
    State& s = st();
    if (s.collecting) return memory::collection_count();
    s.collecting = true;
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
