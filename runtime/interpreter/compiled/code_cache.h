// The code cache: what the interpreter keeps in C++ memory beside a code block (a block or a
// paren it runs), never in the collected heap.
//
// A block's buffer says where it stands in its `spare` word and the `has_form` flag:
//   - flag clear, spare 0: never run (every new buffer, every copy);
//   - flag clear, spare 1: run once;
//   - flag clear, spare 2: walked only (a body whose first statement the walker takes);
//   - flag set: spare is the number of its form in the table below.
// A block gets a form when it runs a second time. The header, spare word included, moves with
// the buffer; the routines that copy a series clear the flag and the word.
//
// A form is the block's tree of nodes (tree.h): by position, the statement that starts there,
// built at its first run through the form from the cells and the words' values at that moment,
// each statement linked to the next. Nodes live in the form's arena and keep their addresses
// until the form is freed. A form stands for the block's cells as they were when it was made:
// content, binding and cell flags. Whatever changes a cell of a block with a form drops the
// form first (`changed`): the series change report (series::report) does it for every
// reported change, and the writers that do not report call `changed` themselves. Setting
// words, collections and rebinding other blocks leave a form alone. A form is only ever
// trusted after its back link is checked (its node still names a buffer whose flag and spare
// point back to it), so a stale link, such as a node renumbered by a collection, costs a
// rebuild and nothing else.
//
// Releasing a form takes it out of the table at once and moves `epoch`. A form released while
// its statements run (the block changed by its own code, an eviction) is dead: its nodes stay
// where they are until its last run ends (`Running`), and the nodes that see it dead after
// code ran go on with the walker. Whatever keeps a form's address (a call's callee body, a
// branch, a loop) keeps the epoch with it and looks the form up again when the epoch moved.
//
// Freed blocks: after marking, a weak sweep drops the forms of unmarked nodes and of links
// gone stale; when the forms' memory passes its budget, every form is evicted (and rebuilt at
// its block's next run). A collection that may evacuate node frames evicts every form before
// marking, so that nothing forms keep pins a frame.
//
// Checking (interp::check_forms, on in the debug, asan and gc-stress builds): each form keeps
// a hash of its block's cells and compares it on every run; a mismatch is a missed
// invalidation, and the process aborts naming the block.
//
// Moving memory: nothing here allocates in the collected heap or runs Kov code; forms and their
// nodes are C++ memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::interp {
struct Stmt;
}

namespace kov::code_cache {

// Counts of the cache's events (forms made and released): 64 bits, so that a count remembered
// by a loop or a compiled node that lives for hours never comes round to the same value.
using Epoch = uint64_t;

// The spare word of a block run once and without a form, and of one left to the walker.
constexpr uint32_t ran_once = 1;
constexpr uint32_t walked_only = 2;
// Form numbers start here.
constexpr uint32_t first_form = 3;
// The forms' memory beyond which forms are evicted at collection.
constexpr std::size_t budget = 8u << 20;

// The memory of a form's nodes: chunks taken as needed and never moved, freed with the form.
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena();
    // n bytes aligned for any node, zeroed.
    void* take(std::size_t n);
    template <class T>
    T* make() {
        return new (take(sizeof(T))) T();
    }
    template <class T>
    T* array(std::size_t n) {
        T* p = static_cast<T*>(take(sizeof(T) * (n ? n : 1)));
        for (std::size_t i = 0; i < n; ++i) new (p + i) T();
        return p;
    }
    std::size_t bytes() const { return bytes_; }

private:
    struct Chunk {
        Chunk* next;
    };
    Chunk* chunks_ = nullptr;
    char* free_ = nullptr;
    char* end_ = nullptr;
    std::size_t bytes_ = 0;
};

struct Form {
    memory::Node node = 0;     // the block
    Epoch serial = 0;          // the epoch it was made at
    uint32_t number = 0;       // its entry in the table
    uint32_t cells = 0;        // the block's length when made: the positions `at` holds
    uint32_t runs = 0;         // runs of its statements in progress
    bool dead = false;         // released while running: freed when its last run ends
    bool user = true;          // the user's code, not the system's: statements that run code move `current`
    bool runs_code = false;    // a statement compiled in it runs code
    bool hashed = false;
    uint32_t builds = 0;       // statements compiled in it so far (loops look again at a body's plan)
    uint32_t evacuations = 0;  // the collector's evacuation count when the hash was taken
    uint64_t hash = 0;         // of the block's cells, kept while checking
    // By position: the statement starting there, null until its first run through the form.
    interp::Stmt** at = nullptr;
    // The functions its calls name (cells in its nodes), marked at every collection: a
    // function collected while a node names it could come back as another one with its id.
    std::vector<const Cell*> held;
    Arena arena;
};
// The walker takes the statement at a position whose entry is this.
extern interp::Stmt* const walker_statement;

// The table of forms, by number (from first_form); null for a free entry.
extern std::vector<Form*> forms;
// Counts the forms made and released; a form's serial is the count when it was made.
extern Epoch epoch;
// Form k (the spare word of a block whose flag is set) when it is still the block's. The
// address stays valid while the epoch does not move, and while a run of it is in progress.
inline Form* linked_form(memory::Node code, uint32_t k) {
    if (k >= forms.size()) return nullptr;
    Form* f = forms[k];
    return f && f->node == code ? f : nullptr;
}
// The block's form, or null.
inline Form* form_of(memory::Node code) {
    memory::Buffer* b = memory::buffer(code);
    return b->flags & memory::has_form ? linked_form(code, b->spare) : nullptr;
}

// A run of a form's statements in progress: a form released meanwhile stays until the last
// such run ends.
void free_dead(Form* f);
class Running {
public:
    explicit Running(Form* f) : f_(f) { ++f->runs; }
    ~Running() {
        if (--f_->runs == 0 && f_->dead) [[unlikely]] free_dead(f_);
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    Form* f_;
};

void init();

// A run of the code block starts. The walker calls it for every block it evaluates that has
// no form yet, and for every block while checking. Counts the run, makes the form at the
// second one and, when checking, compares the form's hash; does nothing while
// interp::walker_only is set.
void note_run(memory::Node code);

// A token for a series that compiled code depends on (a path, a paren): the number and serial
// of a form it is given if it has none. Whatever changes its cells drops that form, which
// token_valid then tells.
uint32_t token(memory::Node series, Epoch& serial);
// The table is asked first: a series renumbered or freed has lost its form at the collection's
// sweep, so its buffer is read only while the token's form still names it.
inline bool token_valid(memory::Node series, uint32_t k, Epoch serial) {
    if (k >= forms.size() || !forms[k] || forms[k]->node != series || forms[k]->serial != serial) return false;
    memory::Buffer* b = memory::buffer(series);
    return (b->flags & memory::has_form) && b->spare == k;
}

// token_valid, remembered: checked holds the epoch at which the token last held (0: never, as
// the epoch is past 0 once a form exists). A token fails only when its form is released, which
// moves the epoch, so while the epoch stays there the token holds without looking.
inline bool token_holds(memory::Node series, uint32_t k, Epoch serial, Epoch& checked) {
    if (checked == epoch) return true;
    if (!token_valid(series, k, serial)) return false;
    checked = epoch;
    return true;
}

// Leaves the block to the walker from now on (its form goes).
void walk_only(memory::Node code);

// Drops the form of a block whose cells are about to change (or have changed).
void drop(memory::Node code);
inline void changed(memory::Node code) {
    if (memory::buffer(code)->flags & memory::has_form) drop(code);
}

// The functions that forms' calls name, marked at every collection (but one that may evacuate
// node frames, which evicts every form instead).
void mark_calls();

// What the cache holds: forms alive and the bytes they take (C++ memory).
std::size_t form_count();
std::size_t bytes();
// The positions of the live forms that hold a compiled statement (not those left to the
// walker, nor those not reached yet): what the forms' memory buys, for the reports that weigh
// it against the budget. It walks every form, so no run of code asks for it.
std::size_t compiled_cells();

}  // namespace kov::code_cache
