// The collector: stop-the-world mark and compact over the memory manager's frames.
//
// Marking is precise. The roots are the root series registered here (the root block, the
// stacks, the symbol and ownership tables, the global context...), the entries of the
// external root stack (marking callbacks), the C++ temporaries held by `Root` guards, the
// cycle stack and the handle table. The native stack is never marked from: C++ code keeps the
// values it still needs reachable from a root, and never keeps a buffer address across an
// allocation (see memory.h).
//
// Node-frame evacuation: a node frame that stayed sparse and unchanged over six collections
// has its live node records moved into other frames (new ids) and is released. C++ code may
// hold node ids across an allocation, so a node is moved only when every reference to it is
// one that marking rewrites: a word of a cell read in a series. The native stack and every
// live buffer are looked through for the candidate ids, and any other occurrence of the id of
// a node in use (a copy in a C++ frame, a root, a table of raw ids, a coincidental integer)
// pins the frame for six more collections; the id of a free node pins nothing. Tables keyed
// by node id re-hash themselves afterwards (hashtable.h).
//
// Marking uses an explicit growable stack, not recursion, so any nesting depth is collected.
// What a cell refers to is marked by its datatype's hook in the registry; the hooks call the
// mark_* routines below. After marking, weak tables drop their dead entries, the handle table
// is swept, series frames are compacted (live buffers slid down, across frames too), dead
// big buffers are released, and the nodes of dead series return to their frames.
//
// Collections happen only inside a buffer allocation (when the allocation budget is spent,
// when the frames are full, before a big buffer, before pages are refused, and at every
// allocation under the gc-stress build; memory.h has the rules) and on explicit request.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::collector {

void init();
uint32_t collect();          // one full collection; gives the collection count
bool active_q();
bool enabled();
void enable(bool on);
uint32_t collections();
// Collections that swept the node table (freed the nodes of unmarked series).
uint32_t node_sweeps();
// Collections that evacuated node frames.
uint32_t evacuations();

// ---- marking (for datatype hooks and root callbacks) --------------------------------------------
// The series only (no values); gives true when it was unmarked. Ignores 0 and invalid ids.
// The node is passed where it is stored: when a collection moves node records, a reference
// in a word of a cell that marking reads in a series is rewritten there; a node named from
// anywhere else (a copy, a root, a table of raw ids) is never moved in that collection.
bool mark_series(const memory::Node& slot);
// The series and, later, the values from its head to its tail.
void mark_block(const memory::Node& slot);
// A temporary (an accessor's result) has no place to rewrite and would pin every frame it
// names: pass the stored word, or copy into a named local where pinning is meant.
bool mark_series(memory::Node&&) = delete;
void mark_block(memory::Node&&) = delete;
void mark_cell(const Cell& cell);
// Set while a collection has candidate frames (node-frame evacuation): marking then records
// every reference it reads, so a hook may pass over a series already marked only while this
// is false.
namespace detail {
extern bool evacuating;
}
inline bool recording_references() { return detail::evacuating; }
void mark_cells(const Cell* begin, const Cell* end);

// Marking hooks for the common cell layouts, for datatype registrations:
// a block in word 2 (blocks, parens, paths); a series in word 2 and a conversion cache in
// word 3 (strings); a series in word 2 alone (binaries, bitsets, vectors).
void mark_block_value(const Cell& cell);
void mark_string_value(const Cell& cell);
void mark_series_value(const Cell& cell);

// ---- roots --------------------------------------------------------------------------------------
// Marking callbacks called at every collection. `push_root` reuses a released entry, or grows.
using RootFn = void (*)();
uint32_t push_root(RootFn fn);
void release_root(RootFn fn);

// Runs after marking, before anything is freed: weak tables drop entries whose series are
// not marked (`marked_q` tells).
using SweepFn = void (*)();
void add_weak_sweep(SweepFn fn);
bool marked_q(memory::Node node);

// The guards below sit on every hot path, so they are inline: the first entries live in a
// fixed array, deeper nesting spills into a growable list held by collector.cpp.
namespace detail {
constexpr uint32_t fixed_temps = 256;
struct TempRoots {
    const Cell* cells[fixed_temps];
    const memory::Node* nodes[fixed_temps];
    uint32_t cell_count;  // entries past fixed_temps are in the spill list
    uint32_t node_count;
};
extern constinit TempRoots temps;
void spill_cell(const Cell* cell);
void unspill_cell();
void spill_node(const memory::Node* node);
void unspill_node();
}  // namespace detail

// Keeps C++ temporaries alive: the cell (on the C++ stack, or anywhere that does not move) is
// marked at every collection while the guard lives. Guards nest strictly.
class Root {
public:
    explicit Root(const Cell& cell) {
        detail::TempRoots& t = detail::temps;
        if (t.cell_count < detail::fixed_temps) [[likely]]
            t.cells[t.cell_count] = &cell;
        else
            detail::spill_cell(&cell);
        ++t.cell_count;
    }
    ~Root() {
        detail::TempRoots& t = detail::temps;
        if (--t.cell_count >= detail::fixed_temps) [[unlikely]]
            detail::unspill_cell();
    }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
};

// Keeps a raw series alive by its node (a cell series has its cells marked too).
class RootNode {
public:
    explicit RootNode(const memory::Node& node) {
        detail::TempRoots& t = detail::temps;
        if (t.node_count < detail::fixed_temps) [[likely]]
            t.nodes[t.node_count] = &node;
        else
            detail::spill_node(&node);
        ++t.node_count;
    }
    ~RootNode() {
        detail::TempRoots& t = detail::temps;
        if (--t.node_count >= detail::fixed_temps) [[unlikely]]
            detail::unspill_node();
    }
    RootNode(const RootNode&) = delete;
    RootNode& operator=(const RootNode&) = delete;
};

// For gc-stress builds: collect only at every n-th allocation that may (1 = every one).
void set_stress_interval(uint32_t n);
// The program has started (the boot definitions ran): gc-stress builds go from the start-up's
// collection interval to the program's (both from the environment, see collector.cpp).
void started();

}  // namespace kov::collector
