#include "runtime/interpreter/compiled/code_cache.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/interpreter/compiled/tree.h"
#include "runtime/interpreter/interp.h"
#include "runtime/platform/os.h"

namespace kov::code_cache {

using memory::Buffer;
using memory::Node;

std::vector<Form*> forms(first_form, nullptr);
Epoch epoch = 0;

namespace {

std::vector<uint32_t> free_numbers;
std::size_t alive = 0;
// KOV_EVICT_FORMS (tests): every collection drops every form, as one past the budget does, so
// that code running compiled meets its form gone at every allocation.
bool evict_always = false;

// The walker's marker: a statement node no run ever reaches (the block runs stop before it).
interp::Stmt walker_marker{};

// A form's memory beyond its entry in the table.
std::size_t form_size(const Form& f) {
    return sizeof(Form) + f.arena.bytes() + f.held.capacity() * sizeof(const Cell*);
}

// The block's cells from its head to its tail: content, binding and cell flags alike.
uint64_t hash_of(Node code) {
    Buffer* b = memory::buffer(code);
    auto words = reinterpret_cast<const uint32_t*>(b->head_ptr());
    uint64_t n = b->used() / sizeof(uint32_t);
    uint64_t h = 0xCBF29CE484222325ull ^ n;
    for (uint64_t i = 0; i < n; ++i) h = (h ^ words[i]) * 0x100000001B3ull;
    return h;
}

// Whether the node's buffer links to form k (and so the form is the block's).
bool linked(Node node, uint32_t k) {
    if (!memory::valid_node(node)) return false;
    Buffer* b = memory::buffer(node);
    return (b->flags & memory::has_form) && b->spare == k;
}

// Form k leaves the table; it is freed now, or when its last run ends.
void release(uint32_t k) {
    ++epoch;
    Form* f = forms[k];
    forms[k] = nullptr;
    free_numbers.push_back(k);
    --alive;
    if (f->runs) f->dead = true;
    else delete f;
}

void make_form(Node code) {
    ++epoch;
    uint32_t k;
    if (!free_numbers.empty()) {
        k = free_numbers.back();
        free_numbers.pop_back();
    } else {
        k = static_cast<uint32_t>(forms.size());
        forms.push_back(nullptr);
    }
    Buffer* b = memory::buffer(code);
    Form* f = new Form;
    f->node = code;
    f->serial = epoch;
    f->number = k;
    f->cells = b->used() / sizeof(Cell);
    f->user = !(b->flags & memory::system_code);
    f->at = f->arena.array<interp::Stmt*>(f->cells);
    forms[k] = f;
    ++alive;
    b->flags |= memory::has_form;
    b->spare = k;
}

[[noreturn, gnu::noinline]] void missed_invalidation(Node code) {
    Buffer* b = memory::buffer(code);
    const Cell* first = b->used() >= sizeof(Cell) ? reinterpret_cast<const Cell*>(b->head_ptr()) : nullptr;
    char text[200];
    int n = std::snprintf(text, sizeof text,
                          "*** code cache: block (node %u, %u cells, first cell type %u) changed without "
                          "dropping its compiled form\n",
                          code, b->used() / uint32_t(sizeof(Cell)), first ? cell::type(*first) : 0u);
    if (n > 0) os::write_all(2, text, static_cast<std::size_t>(n) < sizeof text ? std::size_t(n) : sizeof text - 1);
    std::abort();
}

void check(Form& f, Node code) {
    uint32_t evacuations = collector::evacuations();
    uint64_t h = hash_of(code);
    // An evacuation renumbers nodes, which rewrites the ids held in cells: that is no change.
    if (f.hashed && f.evacuations == evacuations && f.hash != h) missed_invalidation(code);
    f.hash = h;
    f.hashed = true;
    f.evacuations = evacuations;
}

// Every form goes, its block's link first where the block still has it.
void evict_all() {
    for (uint32_t k = first_form; k < forms.size(); ++k) {
        Form* f = forms[k];
        if (!f) continue;
        if (linked(f->node, k)) {
            Buffer* b = memory::buffer(f->node);
            b->flags &= ~memory::has_form;
            b->spare = ran_once;
        }
        release(k);
    }
    forms.assign(first_form, nullptr);
    forms.shrink_to_fit();
    free_numbers.clear();
    free_numbers.shrink_to_fit();
}

// After marking: forms of dead blocks and stale links go; when the rest pass the budget,
// every form goes (forms are rebuilt at their block's next run; a form keeps no run count
// that would tell the cold ones apart, which would cost every run a store).
void sweep() {
    std::size_t form_bytes = 0;
    for (uint32_t k = first_form; k < forms.size(); ++k) {
        Form* f = forms[k];
        if (!f) continue;
        if (!collector::marked_q(f->node) || !linked(f->node, k)) release(k);
        else form_bytes += form_size(*f);
    }
    if (forms.capacity() * sizeof(Form*) + form_bytes > budget || evict_always) evict_all();
}

}  // namespace

interp::Stmt* const walker_statement = &walker_marker;

Arena::~Arena() {
    for (Chunk* c = chunks_; c;) {
        Chunk* next = c->next;
        std::free(c);
        c = next;
    }
}

void* Arena::take(std::size_t n) {
    constexpr std::size_t align = alignof(std::max_align_t);
    n = (n + align - 1) & ~(align - 1);
    if (static_cast<std::size_t>(end_ - free_) < n) {
        // Chunks grow with the form: small blocks (and the series that only have a form as a
        // token) keep small forms, large ones few chunks.
        std::size_t size = bytes_ == 0 ? 256 : bytes_ < 4096 ? 1024 : 8192;
        std::size_t head = (sizeof(Chunk) + align - 1) & ~(align - 1);
        if (size < head + n) size = head + n;
        auto c = static_cast<Chunk*>(std::malloc(size));
        if (!c) throw std::bad_alloc();
        c->next = chunks_;
        chunks_ = c;
        free_ = reinterpret_cast<char*>(c) + head;
        end_ = reinterpret_cast<char*>(c) + size;
        bytes_ += size;
    }
    void* p = free_;
    free_ += n;
    std::memset(p, 0, n);
    return p;
}

void free_dead(Form* f) { delete f; }

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    char value[8];
    evict_always = os::get_env("KOV_EVICT_FORMS", value, sizeof value) > 0 && value[0] != '0';
    collector::add_weak_sweep(sweep);
    collector::push_root(mark_calls);
}

// A collection that may evacuate node frames drops every form instead: a function a form's
// call keeps would be marked from C++ memory, where evacuation cannot rewrite its id, and so
// pin its frame. The forms are rebuilt at their blocks' next runs.
void mark_calls() {
    if (collector::recording_references()) return evict_all();
    for (uint32_t k = first_form; k < forms.size(); ++k)
        if (Form* f = forms[k])
            for (const Cell* c : f->held) collector::mark_cell(*c);
}

void note_run(Node code) {
    if (interp::walker_only) return;
    Buffer* b = memory::buffer(code);
    if (b->flags & memory::has_form) {
        if (Form* f = linked_form(code, b->spare)) {
            if (interp::check_forms) check(*f, code);
            return;
        }
        // A link the table no longer backs (the form was evicted or the node renumbered).
        b->flags &= ~memory::has_form;
        b->spare = ran_once;
    }
    if (b->spare == 0) {
        b->spare = ran_once;
        return;
    }
    if (b->spare != ran_once) return;  // walked only
    make_form(code);
    if (interp::check_forms) check(*forms[b->spare], code);
}

uint32_t token(Node series, Epoch& serial) {
    Form* f = form_of(series);
    if (!f) {
        make_form(series);
        f = forms[memory::buffer(series)->spare];
    }
    serial = f->serial;
    return f->number;
}

namespace {
// The block loses its form (released when the link was still the table's); spare says what
// it is now.
void unlink(Node code, uint32_t spare) {
    Buffer* b = memory::buffer(code);
    uint32_t k = b->spare;
    b->flags &= ~memory::has_form;
    b->spare = spare;
    if (k < forms.size() && forms[k] && forms[k]->node == code) release(k);
}
}  // namespace

void walk_only(Node code) { unlink(code, walked_only); }

void drop(Node code) { unlink(code, ran_once); }

std::size_t form_count() { return alive; }
// Counted afresh: the sweep's figure is the budget's, and forms grow between collections.
std::size_t bytes() {
    std::size_t n = forms.capacity() * sizeof(Form*);
    for (uint32_t k = first_form; k < forms.size(); ++k)
        if (forms[k]) n += form_size(*forms[k]);
    return n;
}

std::size_t compiled_cells() {
    std::size_t n = 0;
    for (uint32_t k = first_form; k < forms.size(); ++k) {
        const Form* f = forms[k];
        if (!f) continue;
        for (uint32_t p = 0; p < f->cells; ++p) n += f->at[p] != nullptr && f->at[p] != walker_statement;
    }
    return n;
}

}  // namespace kov::code_cache
