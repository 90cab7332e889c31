#include "runtime/interpreter/interp.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "runtime/cells.h"
#include "runtime/code_cache.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/interpreter/trace.h"
#include "runtime/platform/os.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::interp {

using memory::Node;

Cell current{T_none, 0, 0, 0};
uint32_t current_depth = 0;

// A conditional statement in two parts (see run_conditional). conditional_start fills it
// before a second part reads it: no initial values to store on every statement.
// A loop's plain run that stopped part-way keeps here what the rest of its iteration needs:
// the conditional's first part, or (call) that a statement of one call ran whole, the
// iteration going on at resume.
struct Conditional {
    Cell fn, word, condition, after, branch;
    uint32_t blocks_at, blocks, start, left, branch_end, next;
    bool lookahead;
    bool call;
    uint32_t resume;
};

namespace {

void mark_current() { collector::mark_cell(current); }

using cells::at;

// The code's cells and the end of the evaluation, the smaller of the end known when it
// started and the tail now; valid until the next allocation or call into Kov code.
struct Cursor {
    const Cell* cells;
    uint32_t limit;
};
inline Cursor cursor(Node code, uint32_t end) {
    memory::Buffer* b = memory::buffer(code);
    uint32_t tail = b->used() / sizeof(Cell);
    return {cells::of(b), tail < end ? tail : end};
}

// The end of the code: the smaller of the end known when evaluation started and the tail now.
inline uint32_t clip(Node code, uint32_t end) {
    uint32_t t = tail_index(code);
    return t < end ? t : end;
}

Cell word_of(uint32_t symbol) { return word::cell_of(T_word, symbol); }
Cell datatype_of(const Cell& v) { return datatype::make(cell::type(v)); }

// What a word or path calls where it stands: every any-function! but op!, which is called
// only infix (through the look-ahead after an expression).
inline bool called_prefix(uint32_t t) { return in(t, ANY_FUNCTION) && t != T_op; }
// A path calls whatever function it reaches, an operator too: never infix, but as the
// function it was made from, with its two arguments after the path.
inline bool called_by_path(uint32_t t) { return in(t, ANY_FUNCTION); }

// The native stack is guarded as well as the value stack: deep recursion of Kov code raises
// stack-overflow long before the machine stack ends.
inline void check_depth() {
    if (os::stack_exhausted()) stack::overflow();
}

void push_unset() { stack::reserve(); }

// The value of a bound, resolved word without raising (null otherwise): the infix look-ahead
// must not fail on a word that merely follows an expression.
const Cell* bound_value(const Cell& word) { return context::bound_slot(word); }

// The slot context::set's own fast paths store a word's value into: a global word's, or a local
// of the running function; null for any other context, whose set is the walker's.
[[gnu::always_inline]] inline Cell* direct_slot(const Cell& word) {
    return word::context_of(word) == context::global_node ? context::global_slot(word) : context::running_slot(word);
}

// ---- fetch specs ---------------------------------------------------------------------------------
// The compiled form of a function's spec, cached in its "more" block (cell 1): a uint32 series
// with a five-word header {fixed, refinements, has /local, locals, items} and one six-word
// item per spec word: {tag, kind, ts1, ts2, ts3, symbol}. For a refinement item, kind is its
// ordinal and ts1 its argument count.

enum Tag : uint32_t { tag_arg = 0, tag_refinement = 1, tag_refinement_arg = 2, tag_local = 3 };
enum ArgKind : uint32_t { kind_normal = 0, kind_get = 1, kind_literal = 2 };

struct SpecHeader {
    uint32_t fixed, refinements, has_local, locals, items;
};
struct SpecItem {
    uint32_t tag, kind, ts1, ts2, ts3, symbol;
};

Node build_fetch_spec(const Cell& fn, bool& complete);

inline const SpecHeader& header_of(Node spec) {
    return *reinterpret_cast<const SpecHeader*>(memory::buffer(spec)->head_ptr());
}
inline const SpecItem& item_of(Node spec, uint32_t i) {
    return reinterpret_cast<const SpecItem*>(memory::buffer(spec)->head_ptr() + sizeof(SpecHeader))[i];
}

// The spec to fetch a call's arguments by: the function's compiled spec series and its header.
// The series may move while an argument is evaluated: an item is read again after it.
struct Spec {
    Node node = 0;
    SpecHeader h{};
    const SpecItem& item(uint32_t i) const { return item_of(node, i); }
};

// The spec series, cached in the function value. cached: set when it is kept there (and so
// reachable through it).
Node fetch_spec_series(const Cell& fn, bool& cached) {
    cells::View cache{function::more_of(fn), 1};
    cached = true;
    if (cell::is(*cache, T_binary)) return series::node_of(*cache);
    bool complete = true;
    Node spec = build_fetch_spec(fn, complete);
    // A spec naming a type word that has no value yet (the built-ins run before the boot
    // definitions have made every typeset) is used as it is but not kept.
    cached = complete;
    if (!complete) return spec;
    *cache = binary::cell_of(spec);
    return spec;
}

// The spec of a call when it is kept already (reading it then allocates nothing); else false.
bool kept_spec(const Cell& fn, Spec& spec) {
    const Cell& cache = function::more(fn)[1];
    if (!cell::is(cache, T_binary)) return false;
    spec.node = series::node_of(cache);
    spec.h = header_of(spec.node);
    return true;
}

// cached: as for fetch_spec_series.
Spec fetch_spec(const Cell& fn, bool& cached) {
    Spec spec;
    if (kept_spec(fn, spec)) {
        cached = true;
        return spec;
    }
    spec.node = fetch_spec_series(fn, cached);
    spec.h = header_of(spec.node);
    return spec;
}

// The typeset of a spec type block; a word without a value counts as every type and marks
// the spec incomplete.
Cell types_of(const Cell& types, bool& complete) {
    Node n = series::node_of(types);
    for (uint32_t i = series::position_of(types); i < tail_index(n); ++i) {
        const Cell& v = at(n, i);
        if (cell::is(v, T_word) && cell::is(*context::get(v), T_unset)) {
            complete = false;
            return typeset::any_but_unset();
        }
    }
    return typeset::from_block(types);
}

Node build_fetch_spec(const Cell& fn, bool& complete) {
    Cell spec_block = block::cell_of(function::spec_of(fn));
    collector::Root keep(spec_block);
    Node out = memory::alloc_series(16, 4, 0);
    collector::RootNode keep_out(out);
    SpecHeader h{};
    auto append = [&](const SpecItem& item) {
        uint8_t* p = series::reserve(out, sizeof item);
        std::memcpy(p, &item, sizeof item);
    };
    std::memset(series::reserve(out, sizeof h), 0, sizeof h);
    Node s = series::node_of(spec_block);
    uint32_t end = tail_index(s);
    bool in_refinement = false, in_local = false;
    SpecItem* last_refinement = nullptr;
    uint32_t last_refinement_at = 0;
    for (uint32_t i = 0; i < end; ++i) {
        Cell v = at(s, i);
        uint32_t t = cell::type(v);
        if (i == 0 && t == T_block) continue;  // the attribute block
        if (t == T_word || t == T_get_word || t == T_lit_word) {
            SpecItem item{};
            item.symbol = word::symbol_of(v);
            item.kind = t == T_word ? kind_normal : (t == T_get_word ? kind_get : kind_literal);
            item.tag = in_local ? tag_local : (in_refinement ? tag_refinement_arg : tag_arg);
            Cell ts = typeset::any_but_unset();
            if (i + 1 < end && cell::is(at(s, i + 1), T_block)) {
                Cell types = at(s, i + 1);
                if (tail_index(series::node_of(types)) > series::position_of(types)) ts = types_of(types, complete);
                ++i;
            }
            item.ts1 = typeset::bits(ts, 0);
            item.ts2 = typeset::bits(ts, 1);
            item.ts3 = typeset::bits(ts, 2);
            append(item);
            if (item.tag == tag_arg) ++h.fixed;
            else if (item.tag == tag_local) ++h.locals;
            else {
                // Count the argument on its refinement (re-fetched: the series may have moved).
                auto items = reinterpret_cast<SpecItem*>(memory::buffer(out)->head_ptr() + sizeof(SpecHeader));
                items[last_refinement_at].ts1++;
            }
        } else if (t == T_refinement) {
            if (word::symbol_of(v) == word::symbol_of(words::loaded::local)) {
                in_local = true;
                h.has_local = 1;
                SpecItem item{tag_refinement, 0, 0, 0, 0, word::symbol_of(v)};
                item.tag = tag_local;
                item.kind = 0xFFFFFFFFu;  // the /local flag itself
                append(item);
                continue;
            }
            in_refinement = true;
            SpecItem item{tag_refinement, ++h.refinements, 0, 0, 0, word::symbol_of(v)};
            last_refinement_at = (memory::buffer(out)->used() - sizeof(SpecHeader)) / sizeof(SpecItem);
            append(item);
        } else if (t == T_set_word) {
            if (word::symbol_of(v) != words::symbols::return_) error::fire(err::script_bad_func_def, v);
            if (i + 1 < end && cell::is(at(s, i + 1), T_block)) ++i;
        } else if (t == T_string) {
            continue;
        }
    }
    (void)last_refinement;
    memory::Buffer* b = memory::buffer(out);
    h.items = (b->used() - sizeof(SpecHeader)) / sizeof(SpecItem);
    std::memcpy(b->head_ptr(), &h, sizeof h);
    return out;
}

}  // namespace

bool spec_fits(const Cell& made, const Cell& model) {
    bool cached;
    Spec a = fetch_spec(made, cached);
    collector::RootNode keep_a(a.node);
    Spec b = fetch_spec(model, cached);
    collector::RootNode keep_b(b.node);
    a.h = header_of(a.node);
    if (a.h.fixed != b.h.fixed || a.h.refinements != b.h.refinements) return false;
    // The items in spec order, locals left out: the same arguments and refinements in the same
    // places, each argument taking no type the model's does not.
    uint32_t i = 0, k = 0;
    for (;;) {
        while (i < a.h.items && a.item(i).tag == tag_local) ++i;
        while (k < b.h.items && b.item(k).tag == tag_local) ++k;
        if (i >= a.h.items || k >= b.h.items) return i >= a.h.items && k >= b.h.items;
        const SpecItem &x = a.item(i++), &y = b.item(k++);
        if (x.tag != y.tag) return false;
        if (x.tag == tag_refinement) {
            if (x.ts1 != y.ts1) return false;  // its argument count
        } else if ((x.ts1 & ~y.ts1) || (x.ts2 & ~y.ts2) || (x.ts3 & ~y.ts3)) {
            return false;
        }
    }
}

namespace {

// ---- argument fetching ---------------------------------------------------------------------------

[[noreturn, gnu::noinline]] void fire_expect_arg(const Cell& value, uint32_t symbol, const Cell* name) {
    error::fire(err::script_expect_arg, name ? *name : word_of(stack::anon_symbol()), datatype_of(value),
                word_of(symbol));
}

// Every argument is checked against its typeset: inline, the common case being a match.
inline void check_type(const Cell& value, const SpecItem& item, const Cell* name) {
    Cell ts{T_typeset, item.ts1, item.ts2, item.ts3};
    if (!typeset::contains(ts, cell::type(value))) [[unlikely]]
        fire_expect_arg(value, item.symbol, name);
}

// Fetches one argument of the given kind onto the stack; gives the new position.
// An argument of an infix operator is evaluated without infix look-ahead, so that operators
// apply strictly left to right; any other argument is a whole expression.
uint32_t fetch_one(Node code, uint32_t pos, uint32_t end, uint32_t kind, uint32_t mode, bool infix) {
    if (mode != mode_code) {
        // apply: the arguments were reduced beforehand, each one value as it stands.
        stack::push(at(code, pos));
        return pos + 1;
    }
    if (kind == kind_normal) {
        return eval_expression(code, pos, end, infix ? Infix::stop : Infix::apply, Result::push);
    }
    Cell v = at(code, pos);
    if (kind == kind_literal) {
        switch (cell::type(v)) {
        case T_paren: return eval_expression(code, pos, end, Infix::stop, Result::push);  // the paren alone
        case T_get_word: stack::push(*context::get(v)); return pos + 1;
        case T_get_path: return eval_expression(code, pos, end, Infix::stop, Result::push);
        default: break;
        }
    }
    stack::push(v);
    if (trace::active) [[unlikely]] trace::taken(code, pos);
    return pos + 1;
}

}  // namespace

void keep_spec(const Cell& fn) {
    bool cached;
    fetch_spec_series(fn, cached);
}

const Cell* current_cell() {
    if (!(cell::is(current, T_block) || cell::is(current, T_paren)) || !memory::valid_node(series::stored_node_of(current)))
        return nullptr;
    Node code = series::node_of(current);
    uint32_t pos = series::position_of(current);
    if (memory::buffer(code)->unit() != sizeof(Cell) || pos >= tail_index(code)) return nullptr;
    return &at(code, pos);
}

uint32_t tail_index(Node code) {
    memory::Buffer* b = memory::buffer(code);
    return b->used() / sizeof(Cell);
}

bool walker_only = false;
bool check_forms = false;

namespace {
bool env_flag(const char* name) {
    char value[8];
    return os::get_env(name, value, sizeof value) > 0 && value[0] != '0';
}
}  // namespace

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    walker_only = env_flag("KOV_WALKER_ONLY");
#ifdef KOV_CHECK_FORMS
    check_forms = true;
#else
    check_forms = env_flag("KOV_CHECK_FORMS");
#endif
    code_cache::init();
    collector::push_root(mark_current);
}

// ---- calling ---------------------------------------------------------------------------------------

namespace {
// Ends a call made from the code: its frame popped, its result moved down onto the function
// value's cell (slot), which becomes the caller's next value.
[[gnu::always_inline]] inline void end_call(Cell* slot) {
    stack::unwind();
    slot[0] = slot[1];
    stack::values.top = slot + 1;
}

// Whether frame d is the evaluation frame of the body `code` of the function whose frame lies
// just below it: a return there, as the body's last expression, ends the body.
inline bool body_frame(Node code, uint32_t d) {
    return d >= 2 && stack::frame_at(d).kind == stack::eval && stack::frame_at(d).saved_values == code &&
           (stack::frame_at(d - 1).kind & stack::return_target);
}
// Whether a return whose value ends at next in `code` (run up to end), frame d being the one
// below the return's own, ends its function's body: the block's last expression, the block
// the body (body_frame).
inline bool ends_body(Node code, uint32_t end, uint32_t next, uint32_t d) {
    return next >= clip(code, end) && body_frame(code, d);
}
// Runs the statement at pos of a block with form f (see code_cache.h), compiling it first if
// needed: gives true with next set when it ran compiled, false (having done nothing) when the
// walker must evaluate it.
bool run_compiled(uint32_t type, Node code, uint32_t pos, uint32_t end, uint32_t& next);
// The expression at pos of a block that a native evaluates one expression at a time (any, all,
// case, reduce, do/next, apply), when its form has a value statement there that runs: its
// value in the argument base, next past it. Else false, having done nothing. Value statements
// run no code and raise nothing, so nothing sees that no expression of the walker's ran.
bool value_at(Node code, uint32_t pos, uint32_t end, uint32_t& next);
bool run_value(const code_cache::Form& f, const code_cache::Statement& s, uint32_t end);
void missed(Node code, uint32_t pos, code_cache::Statement& s, uint32_t n, bool alone = false);
inline bool run_global_value(const code_cache::Form& f, const code_cache::Statement& s, uint32_t end);
inline bool global_statement(const code_cache::Form& f, const code_cache::Statement& s, uint32_t end, Cell* g);
inline bool run_simple_value(const code_cache::Form& f, const code_cache::Statement& s, uint32_t end);
// A value statement, run by the runner its lane has: a simple one inline in block runs and
// branches; in the loops' back-to-back runs, by run_value, which passes it on (inline there,
// it cost the loops' own inline code more than it gained: foreach took 3% longer).
[[gnu::always_inline]] inline bool run_any_value(const code_cache::Form& f, const code_cache::Statement& s,
                                                 uint32_t end) {
    if (s.global) return run_global_value(f, s, end);
    return s.simple ? run_simple_value(f, s, end) : run_value(f, s, end);
}
[[gnu::always_inline]] inline bool run_loop_value(const code_cache::Form& f, const code_cache::Statement& s,
                                                  uint32_t end) {
    return s.global ? run_global_value(f, s, end) : run_value(f, s, end);
}
inline bool first_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v);
inline bool any_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v);
inline bool run_conditional(const code_cache::Form& f, const code_cache::Statement& s, uint32_t type, Node code,
                            uint32_t pos, uint32_t end, uint32_t& next);
enum class CondStep : uint8_t { miss, done, more };
template <bool loop = false>
CondStep conditional_start(const code_cache::Form& f, const code_cache::Statement& s, Node code, Conditional& c);
void conditional_finish(const Conditional& c, uint32_t type, Node code, uint32_t pos, uint32_t end, uint32_t& next);
template <bool lone>
bool run_expression(uint32_t n, uint32_t type, Node code, uint32_t pos, uint32_t end, uint32_t& next);
inline int lean_call(const code_cache::Form& f, const code_cache::Statement& s, uint32_t type, Node code, uint32_t pos,
                     uint32_t end, uint32_t& next);
inline bool lone_call(const code_cache::Statement& s) { return s.first_read == code_cache::Read::call && s.steps == 0; }
bool run_ending(uint32_t n, uint32_t type, Node code, uint32_t pos, uint32_t end, uint32_t& next);
inline bool run_any_expression(const code_cache::Statement& s, uint32_t n, uint32_t type, Node code, uint32_t pos,
                               uint32_t end, uint32_t& next) {
    if (!lone_call(s)) return run_expression<false>(n, type, code, pos, end, next);
    return s.ends ? run_ending(n, type, code, pos, end, next) : run_expression<true>(n, type, code, pos, end, next);
}
bool run_code_conditional(const code_cache::Form& f, const code_cache::Statement& s, uint32_t type, Node code,
                          uint32_t pos, uint32_t end, uint32_t& next);
uint32_t conditional_rest(Cell* slot, const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell& word);
uint32_t continue_infix(Node code, uint32_t pos, uint32_t end, Cell* start);

// The block's form, or null.
inline code_cache::Form* form_of(Node code) {
    memory::Buffer* b = memory::buffer(code);
    return b->flags & memory::has_form ? code_cache::linked_form(code, b->spare) : nullptr;
}

// A value statement of the form, run: false, having done nothing, where the walker must take it.
[[gnu::always_inline]] inline bool run_value_statement(const code_cache::Form& f, uint32_t pos, uint32_t end,
                                                       uint32_t& next) {
    if (pos >= f.at.size()) return false;
    uint32_t n = f.at[pos];
    if (n == 0 || n == code_cache::walker_statement) return false;
    const code_cache::Statement& s = f.statements[n - 1];
    if (s.shape != code_cache::Shape::value || s.next > end) return false;
    if (!run_any_value(f, s, end)) return false;
    next = s.next;
    return true;
}

inline bool run_code_statement(const code_cache::Form& f, uint32_t n, uint32_t type, Node code, uint32_t pos,
                               uint32_t end, uint32_t& next);

// run_compiled with its common cases inline: a value statement compiled already that runs,
// and a statement that runs code, which goes straight to its runner.
[[gnu::always_inline]] inline bool run_statement(code_cache::Form& f, uint32_t type, Node code, uint32_t pos,
                                                 uint32_t end, uint32_t& next) {
    if (pos >= f.at.size()) return false;
    uint32_t n = f.at[pos];
    if (n == code_cache::walker_statement) return false;
    if (n && f.statements[n - 1].shape > code_cache::Shape::value)
        return run_code_statement(f, n, type, code, pos, end, next);
    return run_value_statement(f, pos, end, next) || run_compiled(type, code, pos, end, next);
}
}  // namespace

namespace {

// The spec item of the refinement a word names: the spelling of the spec first, then any
// spelling that differs only in case; no_item when the spec has none.
constexpr uint32_t no_item = 0xFFFFFFFFu;
uint32_t refinement_item(const Spec& spec, const Cell& word) {
    for (uint32_t i = spec.h.fixed; i < spec.h.items; ++i) {
        const SpecItem& item = spec.item(i);
        if (item.tag == tag_refinement && item.symbol == word::symbol_of(word)) return i;
    }
    uint32_t wanted = symbol::resolve(word::symbol_of(word));
    for (uint32_t i = spec.h.fixed; i < spec.h.items; ++i) {
        const SpecItem& item = spec.item(i);
        if (item.tag == tag_refinement && symbol::resolve(item.symbol) == wanted) return i;
    }
    return no_item;
}

// The cell a function's frame starts with for a spec item after the fixed arguments: false
// for a refinement, none for its arguments, and for /local false (the flag) or none; false
// given for an item that has no slot.
inline bool frame_slot(const SpecItem& item, Cell& out) {
    if (item.tag == tag_refinement) out = logic::false_value;
    else if (item.tag == tag_refinement_arg) out = none::value;
    else if (item.tag == tag_local) out = item.kind == 0xFFFFFFFFu ? logic::false_value : none::value;
    else return false;
    return true;
}

// No refinement given: what a native's Args reads for a call without any.
constexpr int32_t no_refinements_given[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                              -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

// A native's entry, or else (an action) the entry of its slot; null where its table has none.
inline natives::Entry entry_of(const Cell& fn) {
    uint32_t k = function::entry_index(fn);
    if (cell::is(fn, T_native)) return k <= natives::capacity ? natives::table[k] : nullptr;
    return k >= 1 && k <= actions::slot_count ? actions::entries[k - 1] : nullptr;
}

// Runs a native's or action's entry on the frame made for it.
inline void run_entry(const Cell& fn, const int32_t* refinements) {
    natives::Entry e = entry_of(fn);
    if (!e) error::fire(err::internal_not_done);
    natives::Args args(refinements);
    e(args);
}

// The refinements of a call written in its path, or given to apply: each one's flag (functions)
// or position (natives), then its arguments fetched from the code. Kept apart from
// fetch_and_run, whose common calls have none. A pending exit stops it early.
[[gnu::noinline]] uint32_t fetch_refinements(const Spec& spec, bool is_function, std::span<int32_t> refinements,
                                             Node code, uint32_t pos, uint32_t end, const Cell* name,
                                             const CallHow& how) {
    uint32_t mode = how.mode;
    bool infix = how.infix;
    // Uses the refinement at item `found`: its flag (functions) or position (natives), then its
    // arguments fetched from the code.
    auto use_refinement = [&](uint32_t found, bool use, const Cell& element) -> bool {
        SpecItem ref = spec.item(found);
        uint32_t nargs = ref.ts1;
        Cell* saved_top = stack::values.top;
        int32_t at_pos = static_cast<int32_t>(stack::values.top - stack::values.args);
        if (is_function) {
            // The refinement's slot is its position in the frame: the number of items before it.
            // Its arguments are fetched above the whole frame (evaluating one may call other
            // functions, whose frames must not overwrite the later slots), then moved in.
            Cell* slot = stack::values.args + found;
            if (!cell::is(*slot, T_logic) || logic::get(*slot)) error::fire(err::script_dup_refine, element);
            *slot = logic::make(use);
        } else {
            uint32_t r = ref.kind - 1;
            if (r >= refinements.size() || refinements[r] != -1) error::fire(err::script_dup_refine, element);
        }
        for (uint32_t a = 1; a <= nargs; ++a) {
            SpecItem item = spec.item(found + a);
            end = clip(code, end);
            if (pos >= end) {
                if (mode == mode_code) error::fire(err::script_no_arg, name ? *name : word_of(stack::anon_symbol()), word_of(item.symbol));
                stack::push(none::value);
            } else if (!use && (mode & mode_safer)) {
                stack::push(none::value);  // an unused refinement's arguments are skipped
                ++pos;
            } else {
                pos = fetch_one(code, pos, end, item.kind, mode, infix);
                if (stack::exiting()) {
                    if (is_function) stack::values.top = saved_top;
                    return false;
                }
            }
            if (use) check_type(stack::values.top[-1], item, name);
            else stack::values.top[-1] = none::value;
            if (is_function) {
                stack::values.args[found + a] = stack::values.top[-1];
                stack::values.top = saved_top;
            }
        }
        if (is_function) {
            stack::values.top = saved_top;
        } else if (use) {
            refinements[ref.kind - 1] = at_pos;
        } else {
            stack::values.top = stack::values.args + at_pos;
        }
        return true;
    };
    auto find_refinement = [&](const Cell& element) {
        uint32_t i = refinement_item(spec, element);
        if (i == no_item) error::fire(err::script_no_refine, name ? *name : word_of(stack::anon_symbol()), element);
        return i;
    };

    // Refinements written in the path, in the order written.
    if (how.path) {
        Node pnode = series::node_of(*how.path);
        uint32_t pend = tail_index(pnode);
        for (uint32_t k = how.path_pos; k < pend; ++k) {
            Cell element = at(pnode, k);
            bool use = true;
            if (cell::is(element, T_get_word)) {
                use = logic::true_value_q(*context::get(element), false, nullptr);
            } else if (!cell::is(element, T_word)) {
                error::fire(err::script_bad_refine, element);
            }
            if (!use_refinement(find_refinement(element), use, element)) return pos;
        }
    }

    if (mode & mode_all) {
        // apply/all: every refinement of the spec in order, as a logic value, then its arguments.
        for (uint32_t i = 0; i < spec.h.items; ++i) {
            if (spec.item(i).tag != tag_refinement) continue;
            end = clip(code, end);
            bool use = false;
            if (pos < end) use = logic::true_value_q(at(code, pos++), false, nullptr);
            Cell element = word_of(spec.item(i).symbol);
            if (!use_refinement(i, use, element)) return pos;
        }
    } else if (mode & mode_args) {
        // apply: the refinements used, as refinement! values, each followed by its arguments.
        for (end = clip(code, end); pos < end; end = clip(code, end)) {
            Cell element = at(code, pos++);
            if (!cell::is(element, T_refinement)) error::fire(err::script_bad_refine, element);
            if (!use_refinement(find_refinement(element), true, element)) return pos;
        }
    }

    return pos;
}

// Fetches the arguments of a call and, for a native or action, runs its entry. The frame is
// already pushed; the argument base is its first argument cell.
// fn lies on the value stack, below the argument base, for the whole call: it stays reachable
// and so does its cached spec.
// The traced instance fires the call event and lets no argument past the events.
template <bool traced>
uint32_t fetch_and_run(const Cell& fn_copy, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how,
                       uint32_t ready = 0) {
    uint32_t mode = how.mode;
    bool infix = how.infix;
    bool cached;
    Spec spec = fetch_spec(fn_copy, cached);
    std::optional<collector::RootNode> keep_spec;
    if (!cached) keep_spec.emplace(spec.node);
    const SpecHeader& h = spec.h;
    bool is_function = cell::is(fn_copy, T_function);
    int32_t refinements[32];
    uint32_t ref_count = h.refinements < 32 ? h.refinements : 32;
    // All of them, a fixed size: a few wide stores, where a loop of the spec's count becomes a
    // string instruction that is slow to start.
    std::fill_n(refinements, 32, -1);

    // Fixed arguments: the first items of every spec (the words after a refinement are its
    // own, and locals come last). An item is read from the spec again after an argument is
    // evaluated: the spec may move.
    // The first `ready` ones are in place already: an infix operator's left operand (and its
    // right one, when a compiled statement has fetched it), or the condition a compiled
    // conditional has fetched.
    for (uint32_t i = 0; i < ready && i < h.fixed; ++i) check_type(stack::values.args[i], spec.item(i), name);
    for (uint32_t i = ready; i < h.fixed; ++i) {
        const SpecItem& item = spec.item(i);
        end = clip(code, end);
        if (pos >= end) {
            if (mode != mode_code) {
                stack::push(none::value);
            } else {
                Cell ts{T_typeset, item.ts1, item.ts2, item.ts3};
                if (item.kind == kind_literal && typeset::contains(ts, T_unset)) push_unset();
                else error::fire(err::script_no_arg, name ? *name : word_of(stack::anon_symbol()), word_of(item.symbol));
            }
        } else if (const Cell& c = at(code, pos); cell::is(c, T_block) && mode == mode_code &&
                   (infix || pos + 1 >= end || !cell::is(at(code, pos + 1), T_word))) {
            // A block that no operator follows stands for itself, whatever the argument's
            // kind: the bodies and branches given to loops and conditionals.
            stack::push(c);
            ++pos;
            if constexpr (traced) trace::taken(code, pos - 1);
        } else {
            pos = fetch_one(code, pos, end, item.kind, mode, infix);
            if (stack::exiting()) return pos;
        }
        check_type(stack::values.top[-1], spec.item(i), name);
    }

    // A function's frame holds a slot for every refinement and its arguments, and for /local.
    if (is_function && h.items > h.fixed) {
        for (uint32_t i = h.fixed; i < h.items; ++i) {
            Cell slot;
            if (frame_slot(spec.item(i), slot)) stack::push(slot);
        }
    }

    // Refinements written in a path, or given to apply.
    if (how.path || mode != mode_code) {
        pos = fetch_refinements(spec, is_function, std::span(refinements, ref_count), code, pos, end, name, how);
        if (stack::exiting()) return pos;
    }

    if (stack::values.top == stack::values.args) stack::reserve();  // the result cell
    if constexpr (traced) trace::fire(trace::ev_call, code, T_block, pos, &fn_copy, how.path ? how.path : name);
    switch (cell::type(fn_copy)) {
    case T_native:
    case T_action:
        run_entry(fn_copy, refinements);
        break;
    case T_function:
        call_function(fn_copy, name);
        break;
    case T_routine:
        routines::call(fn_copy, refinements);
        break;
    default:
        error::fire(err::internal_not_done);
    }
    return pos;
}

}  // namespace

namespace {
[[gnu::noinline]] uint32_t call_traced(const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell* name,
                                       const CallHow& how);

// A call; the traced instance fires open and return, the other tests the switch once, on
// which it hands the call to the traced one.
template <bool traced>
uint32_t call_as(const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how) {
    if constexpr (!traced)
        if (trace::active) [[unlikely]] return call_traced(fn, code, pos, end, name, how);
    check_depth();
    bool infix = how.infix;
    // The function value stays on the stack while the call runs. An infix operator's left
    // operand, produced just below, moves up one cell to make room for it.
    Cell* slot;
    if (infix) {
        slot = stack::values.top - 1;
        stack::push(*slot);
        *slot = fn;
    } else {
        slot = stack::push(fn);
    }
    Cell label = name && (in(cell::type(*name), ANY_WORD) || cell::is(*name, T_refinement)) ? *name
                                                                                            : word_of(stack::anon_symbol());
    stack::push_frame(cell::is(fn, T_function) ? stack::interp_function : stack::interp_native, &label);
    if constexpr (traced) trace::fire(trace::ev_open, code, T_block, pos, how.path ? how.path : name ? &label : slot, nullptr);
    if (infix) {
        // The left operand becomes the first argument.
        stack::values.args = slot + 1;
        stack::values.top = slot + 2;
    }
    pos = fetch_and_run<traced>(*slot, code, pos, end, &label, how, infix ? 1 : 0);
    if constexpr (traced) trace::fire(trace::ev_return, code, T_block, pos, stack::values.args, how.path ? how.path : name ? &label : slot);
    end_call(slot);
    return pos;
}

uint32_t call_traced(const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how) {
    return call_as<true>(fn, code, pos, end, name, how);
}
}  // namespace

uint32_t call(const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how) {
    return call_as<false>(fn, code, pos, end, name, how);
}

namespace {

// What the given values fill: the arguments alone (the rest as for a call without
// refinements), or every slot before the locals in spec order.
enum class Fill { arguments, slots };

// A template, so that each caller gets its own loop (comparators call it per comparison).
template <Fill fill>
Cell apply_values(const Cell& fn, const Cell* values, uint32_t count, const Cell* name) {
    Cell f = fn;
    collector::Root keep(f);
    Cell* base = stack::values.top;
    stack::push_call_frame(name, 0);
    bool cached;
    Spec spec = fetch_spec(f, cached);
    collector::RootNode keep_spec(spec.node);
    uint32_t given = 0;
    for (uint32_t i = 0; i < spec.h.items; ++i) {
        SpecItem item = spec.item(i);
        bool takes;
        if constexpr (fill == Fill::slots) takes = item.tag != tag_local && given < count;
        else takes = item.tag == tag_arg;
        if (takes) stack::push(given < count ? values[given++] : none::value);
        else if (item.tag == tag_refinement) stack::push(logic::false_value);
        else if (item.tag == tag_local && item.kind == 0xFFFFFFFFu) stack::push(logic::false_value);
        else stack::push(none::value);
    }
    if (stack::values.top == stack::values.args) stack::reserve();
    if (cell::is(f, T_function)) {
        call_function(f, nullptr);
    } else if (cell::is(f, T_routine)) {
        routines::call(f, no_refinements_given);
    } else {
        run_entry(f, no_refinements_given);
    }
    Cell result = *stack::values.args;
    stack::drop_frame();
    stack::values.top = base;
    return result;
}

}  // namespace

Cell apply_function(const Cell& fn, const Cell* args, uint32_t count, const Cell* name) {
    return apply_values<Fill::arguments>(fn, args, count, name);
}

Cell apply_slots(const Cell& fn, const Cell* slots, uint32_t count, const Cell* name) {
    return apply_values<Fill::slots>(fn, slots, count, name);
}

// ---- evaluation ------------------------------------------------------------------------------------

namespace {

// The code being evaluated is restored on every way out, an error included: a stale
// `current` would keep naming a block that may be collected and its node reused. Only the
// user's code moves it, so the system's own code has nothing to restore.
struct RestorePosition {
    Cell saved{};
    uint32_t saved_depth = 0;
    bool active;
    explicit RestorePosition(bool user_code) : active(user_code) {
        if (active) {
            saved = current;
            saved_depth = current_depth;
        }
    }
    ~RestorePosition() {
        if (active) {
            current = saved;
            current_depth = saved_depth;
        }
    }
};

// Evaluates the expressions of the code from pos into the result cell (the argument base);
// the user's code moves the error position, the system's own does not. The traced instance
// fires the block's events; the other has none to test.
template <bool traced>
uint32_t expression(Node code, uint32_t pos, uint32_t end, Infix infix, Result result);

// The statements of a block with a form that run compiled from pos, into the result cell (the
// argument base): gives the position from which the walker goes on (pos itself when none
// ran), or ran_to_end. A body whose first statement is the walker's is left to it for good.
constexpr uint32_t ran_to_end = 0xFFFFFFFFu;
[[gnu::noinline]] uint32_t run_compiled_statements(uint32_t type, Node code, uint32_t pos, uint32_t end,
                                                   Cell* result) {
    code_cache::Form* f = form_of(code);
    if (!f || pos >= end || pos >= f->at.size() || !stack::room()) return pos;
    if (f->at[pos] == code_cache::walker_statement) {
        if (pos == 0) code_cache::walk_only(code);
        return pos;
    }
    uint32_t next;
    code_cache::Epoch epoch = code_cache::epoch;
    while (run_statement(*f, type, code, pos, end, next)) {
        pos = next;
        // A conditional's branch may have left an exit pending (the block ends as the walker's
        // does), or changed the block (its form is gone; the walker goes on from here).
        if (pos >= end || stack::exiting()) return ran_to_end;
        stack::values.top = result + 1;
        // Compiling a statement may have made a form (a path's token), which can move them all;
        // a conditional's code may have changed the block (its form is then gone), after which
        // the walker goes on as its own loop would, up to the block's tail now.
        if (epoch != code_cache::epoch) [[unlikely]] {
            f = form_of(code);
            if (!f) return pos < clip(code, end) ? pos : ran_to_end;
            epoch = code_cache::epoch;
        }
    }
    return pos;
}

// compiled: the statements of a block with a form run compiled where they can, up to the first
// that the walker must take (function bodies, blocks given to do, and loop bodies, branches and
// parens through eval_frameless). Value statements run no code and raise nothing, so nothing
// sees that `current` stays as it was until the walker takes over, which sets it as it would
// have; a conditional, which runs code, sets it for its own run (StatementPosition). While
// tracing, block runs take the walker (the traced instance is never compiled).
template <bool traced, bool compiled>
[[gnu::always_inline]] inline void run_expressions_as(uint32_t type, Node code, uint32_t pos, uint32_t end,
                                                      Cell* result) {
    // Ctrl+C: polled at every block run (loop bodies, function calls) and between statements.
    if (__builtin_expect(os::interrupt_flag != 0, 0) && stack::raise_interrupt()) {
        *result = unset::value;
        return;
    }
    memory::Buffer* buffer = memory::buffer(code);
    uint32_t flags = buffer->flags;
    bool user_code = !(flags & memory::system_code);
    // A block with its form in place, or left to the walker, costs these tests alone (unless
    // checking).
    if (!(flags & memory::has_form)) {
        if (buffer->spare < code_cache::walked_only) [[unlikely]] code_cache::note_run(code);
    } else {
        if (check_forms) [[unlikely]] code_cache::note_run(code);
        if constexpr (compiled) {
            if (!walker_only) {
                pos = run_compiled_statements(type, code, pos, end, result);
                if (pos == ran_to_end) return;
            }
        }
    }
    RestorePosition restore(user_code);
    if constexpr (traced) trace::fire(trace::ev_enter, code, type, pos, nullptr, nullptr);
    if (pos >= end) {
        *result = unset::value;
        if constexpr (traced) trace::fire(trace::ev_exit, code, type, end, result, nullptr);
        return;
    }
    // `current` is written whole each time: a nested evaluation copies it soon after, which
    // would wait for a cell written word by word (see cell::store).
    if (user_code) {
        current_depth = stack::depth();
        cell::store(current, type, pos, code, 0);
    }
    // The block's expressions take its instance: a trace started or resumed inside one of
    // them shows from the next block run on.
    while (true) {
        pos = expression<traced>(code, pos, end, Infix::apply, Result::to_base);
        if (stack::exiting()) break;
        if constexpr (traced) trace::fire(trace::ev_expr, code, type, pos, result, nullptr);
        end = clip(code, end);
        if (pos >= end) break;
        stack::values.top = result + 1;
        // Ctrl+C between the statements of a long block too (one that runs no other block).
        if (__builtin_expect(os::interrupt_flag != 0, 0) && stack::raise_interrupt()) break;
        if (user_code) cell::store(current, type, pos, code, 0);
    }
    if constexpr (traced) trace::fire(trace::ev_exit, code, type, pos, result, nullptr);
}

[[gnu::cold, gnu::noinline]] void run_expressions_traced(uint32_t type, Node code, uint32_t pos, uint32_t end, Cell* result) {
    run_expressions_as<true, false>(type, code, pos, end, result);
}

template <bool compiled = false>
[[gnu::always_inline]] inline void run_expressions(uint32_t type, Node code, uint32_t pos, uint32_t end,
                                                   Cell* result) {
    if (trace::active) [[unlikely]] return run_expressions_traced(type, code, pos, end, result);
    run_expressions_as<false, compiled>(type, code, pos, end, result);
}

// A function's body runs in an evaluation frame that names its code: a return that ends the
// body is recognised by it (see body_frame), and only the body's own code does (a paren in
// the body runs without a frame of its own).
[[gnu::always_inline]] inline void eval_function_body(const Cell& body) {
    Node code = series::node_of(body);
    uint32_t end = tail_index(code);  // before the frame is written (see call_function)
    check_depth();
    stack::push_frame(stack::eval, nullptr);
    stack::top_frame().saved_values = code;
    stack::reserve();  // the result cell
    run_expressions<true>(T_block, code, series::position_of(body), end, stack::values.args);
    stack::unwind_last();
}

// The body's run as tracing wraps it.
void eval_function_body_traced(const Cell& body) { eval_function_body(body); }
}  // namespace

// The innermost running function, put back on every way out of a call.
struct RunningGuard {
    context::Running saved = context::running;
    ~RunningGuard() { context::running = saved; }
};

void call_function(const Cell& fn, const Cell* name) {
    // The body, and in eval_function_body its tail, are read before the call's context, running
    // record and frames are written: read after those stores, their loads waited on them.
    Cell body = function::more(fn)[0];
    cells::View ctx_cell{function::context_of(fn)};
    uint32_t saved = context::values_of(*ctx_cell);
    context::set_values(*ctx_cell, stack::index_of(stack::values.args) + 1);
    RunningGuard running_guard;
    context::running = {ctx_cell.node, stack::values.args, static_cast<uint32_t>(stack::values.top - stack::values.args)};
    uint32_t depth = stack::depth();
    stack::set_return_flag(true);
    if (!cell::is(body, T_block)) [[unlikely]] body = function::body(fn);  // a boot function's first call
    if (cell::is(body, T_block)) {
        try {
            if (trace::requested) [[unlikely]] trace::run_body(fn, name, body, eval_function_body_traced);
            else eval_function_body(body);
        } catch (...) {
            context::set_values(*ctx_cell, saved);
            throw;
        }
    } else {
        *stack::values.args = unset::value;
    }
    context::set_values(*ctx_cell, saved);
    stack::set_return_flag(false);
    uint32_t code = stack::consume(depth);
    if (code == stack::exit_return || code == stack::exit_exit) *stack::values.args = stack::pending.value;
}

void eval_range(uint32_t type, Node code, uint32_t pos, uint32_t end, bool keep_last) {
    check_depth();
    collector::RootNode keep(code);  // as eval_frameless keeps its block
    stack::push_frame(stack::eval, nullptr);
    stack::reserve();  // the result cell
    run_expressions<true>(type, code, pos, end, stack::values.args);
    if (keep_last) stack::unwind_last();
    else stack::unwind();
}

namespace {
// Evaluates the block or paren without a frame of its own; its value is left pushed. The
// result cell stands where a frame's would; the caller's argument base comes back from this
// C++ frame, or from the barrier that catches an error.
//
// The block is kept alive while it runs: the native that hands it over may have dropped its
// argument cells (stack::keep), and the code it runs may drop the last reference to it.
[[gnu::always_inline]] inline Cell* eval_frameless(const Cell& block) {
    check_depth();
    Cell* caller_args = stack::values.args;
    Cell* result = stack::reserve();
    stack::values.args = result;
    Node code = series::node_of(block);
    collector::RootNode keep(code);
    run_expressions<true>(cell::is(block, T_paren) ? T_paren : T_block, code, series::position_of(block), tail_index(code), result);
    stack::values.args = caller_args;
    stack::values.top = result + 1;
    return result;
}
}  // namespace

namespace {
// The rest of a body from pos, the first statement its compiled run left, as eval_frameless
// runs a block (its result cell above the top) without the compiled run that just stopped.
// The result cell a body's run reserves, as eval_frameless reserves it, holding the caller's
// argument base's value: statements that run code run with it as their argument base, so that
// the value stack stands as deep as under the walker (a stack overflow then comes at the same
// call). leave_body puts the value back in the caller's base and leaves it pushed, as
// eval_body does.
struct BodyRun {
    Cell* caller;
    Cell* result;
};
inline BodyRun enter_body() {
    check_depth();
    BodyRun r{stack::values.args, stack::reserve()};
    *r.result = *r.caller;
    stack::values.args = r.result;
    return r;
}
inline void leave_body(const BodyRun& r) {
    stack::values.args = r.caller;
    stack::values.top = r.result + 1;
    *r.caller = *r.result;
}

// The walker's run of a body from pos, into the body's result cell (a value statement there
// counts a miss).
void walk_rest(uint32_t type, Node code, uint32_t pos, uint32_t end, Cell* result) {
    collector::RootNode keep(code);  // as eval_frameless keeps its block
    code_cache::Form* f = form_of(code);
    if (uint32_t n = f && pos < f->at.size() ? f->at[pos] : 0; n && n != code_cache::walker_statement &&
                                         f->statements[n - 1].shape == code_cache::Shape::value)
        missed(code, pos, f->statements[n - 1], n);
    stack::values.top = result + 1;
    run_expressions_as<false, false>(type, code, pos, end, result);
}

[[gnu::noinline]] void finish_body(uint32_t type, Node code, uint32_t pos, uint32_t end) {
    BodyRun r = enter_body();
    walk_rest(type, code, pos, end, r.result);
    leave_body(r);
}

// A compiled statement of a body's run, of either kind: false, having done nothing, where the
// walker must take it. One that runs code may make or drop forms (the caller looks for its
// form again, which is gone when the block changed); an exit it leaves pending ends the run:
// next is then the end.
[[gnu::always_inline]] inline bool run_any_statement(code_cache::Form& f, uint32_t type, Node code, uint32_t pos,
                                                     uint32_t end, uint32_t& next) {
    uint32_t n = pos < f.at.size() ? f.at[pos] : 0;
    if (n == 0 || n == code_cache::walker_statement) return false;
    const code_cache::Statement& s = f.statements[n - 1];
    if (s.shape == code_cache::Shape::value) {
        if (s.next > end || !run_any_value(f, s, end)) return false;
        next = s.next;
        return true;
    }
    if (s.shape <= code_cache::Shape::walker || !run_code_statement(f, n, type, code, pos, end, next)) return false;
    if (stack::exiting() || next > end) next = end;
    return true;
}
// The rest of a body's compiled run from pos, once a statement is met that is no value
// statement: statements that run code run here too (their code may make or drop forms, this
// block's among them when it changed the block: the form is looked up again), and the walker
// takes over from the first statement left to it. The body has its result cell, as
// eval_frameless reserves it, at top (where eval_body's result cell goes).
[[gnu::noinline]] void continue_body(const Cell& block, uint32_t pos, uint32_t end, Cell* top) {
    Node code = series::node_of(block);
    collector::RootNode keep(code);  // as eval_frameless keeps its block
    uint32_t type = cell::is(block, T_paren) ? T_paren : T_block;
    uint32_t next;
    stack::values.top = top;
    BodyRun r = enter_body();
    if (!stack::room()) {
        // Near the stack's limits: the walker's run of the rest, which pushes what it pushes.
        walk_rest(type, code, pos, end, r.result);
        return leave_body(r);
    }
    for (; pos < end; pos = next) {
        code_cache::Form* f = form_of(code);
        if (!f) {
            // A conditional's code changed the block: the walker's loop looks at its tail now.
            end = clip(code, end);
            if (pos >= end) break;
        }
        stack::values.top = r.result + 1;
        if (!f || !run_any_statement(*f, type, code, pos, end, next)) {
            walk_rest(type, code, pos, end, r.result);
            break;
        }
    }
    leave_body(r);
}
}  // namespace

// Loop bodies and branches whose statements are compiled value statements from the first one
// on (the common body of a counting or summing loop) run them here, straight into the
// caller's argument base, without the block run around them: they run no code and raise
// nothing. From the first statement of another kind, continue_body goes on (the body's result
// cell reserved then), or the walker as eval_frameless would. Near the stack's limits the
// walker's way is taken from the start.
void eval_body(const Cell& block) {
    Node code = series::node_of(block);
    memory::Buffer* b = memory::buffer(code);
    if ((b->flags & memory::has_form) && !walker_only && !check_forms && !trace::active && !os::interrupt_flag &&
        stack::room()) {
        code_cache::Form* f = code_cache::linked_form(code, b->spare);
        uint32_t pos = series::position_of(block);
        uint32_t end = b->used() / sizeof(Cell);
        uint32_t next;
        if (f && pos < end && run_value_statement(*f, pos, end, next)) {
            Cell* top = stack::values.top;
            for (pos = next; pos < end; pos = next) {
                if (!run_value_statement(*f, pos, end, next)) {
                    if (f->runs_code) return continue_body(block, pos, end, top);
                    return finish_body(cell::is(block, T_paren) ? T_paren : T_block, code, pos, end);
                }
            }
            *top = *stack::values.args;
            stack::values.top = top + 1;
            return;
        }
        if (f && pos < end && f->runs_code) return continue_body(block, pos, end, stack::values.top);
    }
    Cell* result = eval_frameless(block);
    *stack::values.args = *result;  // the caller's argument base, back in place
}

// Looked up as eval_body looks it up, and only while its tests would hold.
void LoopBody::refresh() {
    epoch_ = code_cache::epoch;
    code_ = series::node_of(body_);
    memory::Buffer* b = memory::buffer(code_);
    pos_ = series::position_of(body_);
    end_ = b->used() / sizeof(Cell);
    form_ = (b->flags & memory::has_form) && !walker_only ? code_cache::linked_form(code_, b->spare) : nullptr;
    counting_ = form_ != nullptr;
}

[[gnu::always_inline]] inline bool LoopBody::ready() {
    if (epoch_ != code_cache::epoch) [[unlikely]] refresh();
    return form_ && !trace::active && !os::interrupt_flag && pos_ < end_ && stack::room();
}

bool LoopBody::run() {
    // While checking, eval_body's own way (it compares the form's hash at every block run).
    if (check_forms || !ready()) return false;
    code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    uint32_t pos = pos_, end = end_, next;
    if (!run_value_statement(f, pos, end, next)) {
        // A first statement that runs code goes on as eval_body goes on with it; a body that
        // starts with the walker's is eval_body's until the epoch moves.
        uint32_t n = pos < f.at.size() ? f.at[pos] : 0;
        if (n == 0) return false;
        if (n != code_cache::walker_statement && f.statements[n - 1].shape > code_cache::Shape::value) {
            continue_body(body_, pos, end, stack::values.top);
            return true;
        }
        form_ = nullptr;
        return false;
    }
    Cell* top = stack::values.top;
    for (pos = next; pos < end; pos = next) {
        if (!run_value_statement(f, pos, end, next)) {
            if (f.runs_code) continue_body(body_, pos, end, top);
            else finish_body(cell::is(body_, T_paren) ? T_paren : T_block, code_, pos, end);
            return true;
        }
    }
    *top = *stack::values.args;
    stack::values.top = top + 1;
    return true;
}

// The number of the block's one statement when it is a compiled value statement, else 0.
uint32_t LoopBody::single_value() {
    if (check_forms || !ready()) return 0;
    const code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    uint32_t k = pos_ < f.at.size() ? f.at[pos_] : 0;
    if (k == 0 || k == code_cache::walker_statement || f.statements[k - 1].shape != code_cache::Shape::value ||
        f.statements[k - 1].next != end_)
        return 0;
    return k;
}

// Statement k of the block's form (single_value's), run for its value alone: it leaves its
// value in the argument base, which is not the condition's.
[[gnu::always_inline]] inline bool LoopBody::value_of(uint32_t k, Cell& out) const {
    const code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    const code_cache::Statement& s = f.statements[k - 1];
    Cell saved = *stack::values.args;
    bool ran = run_loop_value(f, s, end_);
    out = *stack::values.args;
    *stack::values.args = saved;
    return ran;
}

bool LoopBody::value(Cell& out) {
    uint32_t k = single_value();
    return k && value_of(k, out);
}

// Whether iterations may run back to back: the body's first statement a compiled value
// statement, and the loop's word (when given) set straight into its slot (a global word, or
// a local of the running function): any other word's set may run an on-change hook, whose
// code the value statements must not be run across.
[[gnu::always_inline]] inline bool LoopBody::back_to_back(const Cell* word) {
    if (epoch_ != code_cache::epoch) [[unlikely]] refresh();
    if (!counting_ || !ready()) return false;
    if (word && word::context_of(*word) != context::global_node && !context::running_slot(*word)) return false;
    const code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    // A body whose first statement is the walker's is run's (eval_body's) until the epoch
    // moves; one not compiled yet may become a compiled one.
    uint32_t k = pos_ < f.at.size() ? f.at[pos_] : 0;
    if (k == 0) return false;
    if (k == code_cache::walker_statement || f.statements[k - 1].shape <= code_cache::Shape::walker) {
        counting_ = false;
        return false;
    }
    return true;
}

// The body's statements from position p (the iteration has begun: its word is set, or its
// first statement ran), as eval_body runs them; false when the iteration was finished
// otherwise: the compiled run stopped at a statement, from which the rest ran as eval_body
// runs a body from a statement, or a statement that ran code left an exit pending (the rest
// does not run) or moved the cache's epoch (the rest runs through continue_body, which looks
// the form up again). Between statements the value stack is as the statements leave it.
// Value statements are run here; from the first statement of another kind, rest_with_code.
[[gnu::always_inline]] inline bool LoopBody::rest_from(uint32_t p) {
    const code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    uint32_t end = end_, next;
    for (; p < end; p = next)
        if (!run_value_statement(f, p, end, next)) return rest_with_code(p);
    return true;
}

[[gnu::noinline]] bool LoopBody::rest_with_code(uint32_t p) {
    code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    uint32_t end = end_, next;
    uint32_t type = cell::is(body_, T_paren) ? T_paren : T_block;
    // From here the body's run has its result cell, as the walker's has.
    BodyRun r = enter_body();
    for (; p < end; p = next) {
        stack::values.top = r.result + 1;
        uint32_t k = p < f.at.size() ? f.at[p] : 0;
        if (k && k != code_cache::walker_statement && f.statements[k - 1].shape == code_cache::Shape::value) {
            if (run_value_statement(f, p, end, next)) continue;
        } else if (k && k != code_cache::walker_statement && f.statements[k - 1].shape > code_cache::Shape::value) {
            if (!run_code_statement(f, k, type, code_, p, end, next)) {
                walk_rest(type, code_, p, end, r.result);
                break;
            }
            if (stack::exiting()) break;
            if (epoch_ == code_cache::epoch) continue;
            // The form may be gone: continue_body looks it up again, in a result cell of its own
            // at the same place.
            leave_body(r);
            if (next < end) continue_body(body_, next, end, r.result);
            return false;
        }
        if (f.runs_code) {
            leave_body(r);
            continue_body(body_, p, end, r.result);
            return false;
        }
        walk_rest(type, code_, p, end, r.result);
        break;
    }
    leave_body(r);
    return p >= end;
}

// A plain body: its statements, from its first to its end, all compiled value statements or
// conditionals whose condition is one (at most max_plain). Their numbers go to n and their
// positions to where, k how many; false for any other body. They run no code, push nothing
// and allocate nothing (a conditional while its branch runs in place whole: else its run
// stops there), so across a run of iterations of such a body the form, the stack's depth,
// tracing and the word's slot stay as they are: only the interrupt is polled per iteration,
// the rest is looked at once per run.
// A plan of value statements alone (no conditionals) also keeps where they are (the form's
// statements do not move while none is compiled) and the global values (none is added while
// no code runs), g, when every statement of the global lane has its words within their reach:
// run_global_value's per-statement lookups, made once for the run. Else g is null and the run
// takes the conditionals' way, which looks them up for each.
struct LoopBody::Plan {
    uint32_t n[max_plain], where[max_plain];
    const code_cache::Statement* s[max_plain];
    Cell* g;
    uint32_t k;
    bool conditionals;
};

bool LoopBody::plain(Plan& p) const {
    if (check_forms) return false;  // every iteration compares the form's hash
    const code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    memory::Buffer* values = context::global_buffer;
    uint32_t reach = values->used() / sizeof(Cell);
    uint32_t k = 0;
    bool conditionals = false, in_reach = true;
    for (uint32_t at = pos_; at < end_;) {
        if (k == max_plain || at >= f.at.size()) return false;
        uint32_t n = f.at[at];
        if (n == 0 || n == code_cache::walker_statement) return false;
        const code_cache::Statement& s = f.statements[n - 1];
        if (s.next > end_ || s.next <= at) return false;
        if (s.shape == code_cache::Shape::conditional) {
            if (f.statements[s.condition - 1].shape != code_cache::Shape::value) return false;
            conditionals = true;
        } else if (s.shape == code_cache::Shape::expression) {
            conditionals = true;
        } else if (s.shape != code_cache::Shape::value) {
            return false;
        }
        if (s.global && s.max_index >= reach) in_reach = false;
        p.where[k] = at;
        p.s[k] = &s;
        p.n[k++] = n;
        at = s.next;
    }
    p.k = k;
    p.conditionals = conditionals || !in_reach;
    p.g = p.conditionals ? nullptr : cells::of(values);
    return k != 0;
}

// The slot a loop's word is set in (back_to_back has found it a global or a running local),
// as context::set finds it.
Cell* LoopBody::word_slot(const Cell* word) const {
    return direct_slot(*word);
}

// A statement that calls (n, at position at) in a plain run, run as rest_with_code runs it,
// in the body's result cell: k when it ran and the run may go on plainly (at its compiled end,
// no exit pending, no form made or dropped, tracing still off, the global values where they
// were), j when nothing of it was done,
// else k + 1 + j, with c.call set and c.resume where the iteration goes on.
[[gnu::noinline]] uint32_t LoopBody::plain_call(uint32_t n, uint32_t at, uint32_t j, uint32_t k, Conditional& c) const {
    const code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    uint32_t expected = f.statements[n - 1].next, next;
    // The loop word's slot, found once per run, moves with the global values when the code
    // adds so many globals that their buffer moves.
    memory::Buffer* globals = context::global_buffer;
    BodyRun r = enter_body();
    // A lean call straight from here: the form is the loop's (its epoch checked), tracing off.
    const code_cache::Statement& s = f.statements[n - 1];
    uint32_t type = cell::is(body_, T_paren) ? T_paren : T_block;
    int lean = lone_call(s) ? lean_call(f, s, type, code_, at, end_, next) : -1;
    bool ran = lean >= 0 ? lean > 0 : run_any_expression(s, n, type, code_, at, end_, next);
    leave_body(r);
    stack::values.top = stack::values.args + 1;  // as the plain run keeps it
    if (!ran) return j;
    if (next == expected && !stack::exiting() && epoch_ == code_cache::epoch && !trace::active &&
        globals == context::global_buffer)
        return k;
    c.call = true;
    c.resume = next;
    return k + 1 + j;
}

// A conditional of a plain run: k when it ran whole, else as plain_statements gives.
[[gnu::noinline]] static uint32_t plain_conditional(const code_cache::Form& f, const code_cache::Statement& s,
                                                    Node code, Conditional& c, uint32_t j, uint32_t k) {
    CondStep step = conditional_start<true>(f, s, code, c);
    if (step == CondStep::done) return k;
    if (step == CondStep::miss || c.left == c.start) return j;
    return k + 1 + j;
}

// Runs the plan's statements as rest_from runs them: gives k when all ran, else the index j of
// the one that did not (nothing of it ran), or k + 1 + j for a conditional whose branch ran in
// part, its second part to follow (finish_plain, with c).
// conditionals: as the plan has it (else every statement is a value statement, found and run
// as the plan keeps them).
template <bool conditionals>
[[gnu::always_inline]] inline uint32_t LoopBody::plain_statements(const Plan& p, uint32_t k, Cell* g,
                                                                  Conditional& c) const {
    const code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    if constexpr (!conditionals) {
        auto run = [&](const code_cache::Statement& s) __attribute__((always_inline)) {
            return s.global ? global_statement(f, s, end_, g) : run_value(f, s, end_);
        };
        if (k == 1) return run(*p.s[0]);  // k (1) when it ran, else j (0)
        uint32_t j = 0;  // a plan has one statement at least
        do {
            if (!run(*p.s[j])) return j;
        } while (++j < k);
        return k;
    }
    for (uint32_t j = 0; j < k; ++j) {
        const code_cache::Statement& s = f.statements[p.n[j] - 1];
        if (s.shape == code_cache::Shape::value) [[likely]] {
            if (!run_loop_value(f, s, end_)) return j;
            continue;
        }
        if (s.shape == code_cache::Shape::expression) {
            uint32_t at = j ? f.statements[p.n[j - 1] - 1].next : pos_;
            if (uint32_t r = plain_call(p.n[j], at, j, k, c); r != k) return r;
            continue;
        }
        // A conditional runs plainly while its branch runs in place whole.
        c.call = false;
        if (uint32_t r = plain_conditional(f, s, code_, c, j, k); r != k) return r;
    }
    return k;
}

// The rest of the iteration a plain run stopped in, at statement j (as plain_statements gives
// it): from that statement, which did nothing, or after the statement that ran code.
inline bool LoopBody::rest_after_plain(uint32_t j, const Plan& p, const Conditional& c) {
    return j > p.k ? finish_plain(p.where[j - p.k - 1], c) : rest_from(p.where[j]);
}

// The rest of an iteration whose plain run stopped after a statement that ran code (c.call:
// the iteration goes on at c.resume) or in a conditional's branch (the statement at `at`, its
// first part done in c: the second part runs code, in the body's result cell as rest_with_code
// runs it); then the iteration goes on as rest_with_code goes on after such a statement. false
// when the iteration was finished otherwise (see rest_from).
[[gnu::noinline]] bool LoopBody::finish_plain(uint32_t at, const Conditional& c) {
    uint32_t next = c.resume;
    Cell* result = stack::values.args + 1;  // where the body's result cell goes
    if (!c.call) {
        BodyRun r = enter_body();
        conditional_finish(c, cell::is(body_, T_paren) ? T_paren : T_block, code_, at, end_, next);
        leave_body(r);
    }
    if (stack::exiting()) return false;
    if (epoch_ != code_cache::epoch) {
        if (next < end_) continue_body(body_, next, end_, result);
        return false;
    }
    return rest_from(next);
}

// count's iterations from i on while its plain body runs plainly: gives the iteration it
// stopped at (n + 1 when it ran them all), j as plain_statements gives it for that one (k when
// it did not begin, interrupted).
template <bool conditionals>
[[gnu::always_inline]] inline int64_t LoopBody::plain_count(Cell* slot, const Plan& p, Conditional& c, int64_t i,
                                                          int64_t n, uint32_t& j) const {
    // k and g as values no call can change, kept in registers across the statements' calls.
    uint32_t k = p.k;
    Cell* g = p.g;
    j = k;
    for (; i <= n && !os::interrupt_flag; ++i) {
        cell::store(*slot, T_integer, 0, static_cast<uint32_t>(i), 0);
        j = plain_statements<conditionals>(p, k, g, c);
        if (j != k) break;
    }
    return i;
}

// The same for each: true when the series came to its tail; first stays set while no
// iteration ran whole.
template <bool conditionals>
[[gnu::always_inline]] inline bool LoopBody::plain_each(Cell* slot, Cell* series, const Plan& p, Conditional& c,
                                                       uint32_t& j, bool& first) const {
    // k and g as values no call can change, kept in registers across the statements' calls.
    uint32_t k = p.k;
    Cell* g = p.g;
    j = k;
    Node n = series::node_of(*series);
    while (!os::interrupt_flag) {
        // Read again after statements that call: their code may collect, which may renumber it.
        if constexpr (conditionals) n = series::node_of(*series);
        uint32_t i = series::position_of(*series);
        if (i >= tail_index(n)) return true;
        *slot = at(n, i);
        series->w1 = i + 1;
        j = plain_statements<conditionals>(p, k, g, c);
        if (j != k) return false;
        first = false;
    }
    return false;
}

// while's iterations while its condition (statement cn of cond's form) and its plain body run
// plainly: 1 when the condition came out false (the loop is done), 0 when it stopped before an
// iteration began (nothing of it done), 2 when an iteration began and its body stopped at j (as
// plain_statements gives it).
template <bool conditionals>
[[gnu::always_inline]] inline int LoopBody::plain_while_run(const LoopBody& cond, uint32_t cn, const Plan& p,
                                                            Conditional& c, uint32_t& j, bool& first) const {
    // k and g as values no call can change, kept in registers across the statements' calls.
    uint32_t k = p.k;
    Cell* g = p.g;
    while (!os::interrupt_flag) {
        Cell v;
        if (!cond.value_of(cn, v) || cell::is(v, T_unset)) return 0;
        if (cell::is(v, T_none) || (cell::is(v, T_logic) && !logic::get(v))) return 1;
        j = plain_statements<conditionals>(p, k, g, c);
        if (j != k) return 2;
        first = false;
    }
    return 0;
}

bool LoopBody::plain_while(LoopBody& cond, bool& ran) {
    ran = false;
    for (;;) {
        if (plain_misses_ > max_plain_misses || check_forms || !back_to_back(nullptr)) return false;
        Plan p;
        uint32_t cn = cond.single_value();
        if (!cn || !plain(p)) {
            ++plain_misses_;
            return false;
        }
        stack::values.top = stack::values.args + 1;  // as run_body leaves it
        uint32_t j;
        bool first = true;
        Conditional c;
        int r = p.conditionals ? plain_while_run<true>(cond, cn, p, c, j, first)
                               : plain_while_run<false>(cond, cn, p, c, j, first);
        if (r == 1) return true;
        if (first) ++plain_misses_;  // as in count
        if (r == 0) return false;
        // An iteration has begun: its rest, as in count.
        if (!rest_after_plain(j, p, c)) {
            ran = true;
            return false;
        }
    }
}

int64_t LoopBody::count(Cell* word, int64_t from, int64_t n, bool& ran) {
    ran = false;
    if (!back_to_back(word)) return from;
    const code_cache::Form& f = *static_cast<code_cache::Form*>(form_);
    uint32_t end = end_, next;
    bool try_plain = plain_misses_ <= max_plain_misses;
    for (int64_t i = from; i <= n; ++i) {
        if (os::interrupt_flag || trace::active || !stack::room()) return i;
        if (check_forms) [[unlikely]] code_cache::note_run(code_);  // as each block run does
        stack::values.top = stack::values.args + 1;  // as run_body leaves it
        if (try_plain) {
            // A plain body's iterations, the counter set straight into its slot.
            Plan p;
            bool k = plain(p);
            // loop sets no word: its counter goes to a cell nothing reads.
            Cell unread;
            Cell* slot = !k ? nullptr : word ? word_slot(word) : &unread;
            try_plain = slot != nullptr;
            if (try_plain) {
                uint32_t j;
                int64_t first = i;
                Conditional c;
                i = p.conditionals ? plain_count<true>(slot, p, c, i, n, j) : plain_count<false>(slot, p, c, i, n, j);
                if (i > n) return n + 1;
                if (j == p.k) return i;  // interrupted before iteration i began
                // A body that keeps stopping in the first iteration of a run (its branches not
                // run in place, say) is left to the general way for the rest of this call.
                if (i == first && ++plain_misses_ > max_plain_misses) try_plain = false;
                // loop's iteration, which sets no word, has not begun: the native runs it.
                if (!word && j == 0) return i;
                // Iteration i has begun: its rest from the statement that did not run, or
                // after the conditional whose branch ran in part.
                if (!rest_after_plain(j, p, c)) {
                    ran = true;
                    return i;
                }
                continue;
            }
        }
        // loop, which sets no word, tries its first statement before anything happens (one
        // that runs code is left to eval_body).
        if (!word && !run_value_statement(f, pos_, end, next)) return i;
        if (word) {
            Cell counter;
            cell::store(counter, T_integer, 0, static_cast<uint32_t>(i), 0);
            context::set(*word, counter);
        }
        if (!rest_from(word ? pos_ : next)) {
            ran = true;
            return i;
        }
    }
    return n + 1;
}

bool LoopBody::each(Cell* word, Cell* series, bool& ran) {
    ran = false;
    if (!in(cell::type(*series), ANY_BLOCK) || !back_to_back(word)) return false;
    bool try_plain = plain_misses_ <= max_plain_misses;
    for (;;) {
        if (os::interrupt_flag || trace::active || !stack::room()) return false;
        if (check_forms) [[unlikely]] code_cache::note_run(code_);  // as each block run does
        stack::values.top = stack::values.args + 1;  // as run_body leaves it
        if (try_plain) {
            // A plain body's iterations (see plain), the word set straight into its slot.
            Plan p;
            Cell* slot = plain(p) ? word_slot(word) : nullptr;
            try_plain = slot != nullptr;
            if (slot) {
                uint32_t j;
                bool first = true;
                Conditional c;
                if (p.conditionals ? plain_each<true>(slot, series, p, c, j, first)
                                   : plain_each<false>(slot, series, p, c, j, first))
                    return true;
                if (j == p.k) return false;  // interrupted before an iteration began
                if (first && ++plain_misses_ > max_plain_misses) try_plain = false;  // as in count
                if (!rest_after_plain(j, p, c)) {
                    ran = true;
                    return false;
                }
                continue;
            }
        }
        Node n = series::node_of(*series);
        uint32_t i = series::position_of(*series);
        if (i >= tail_index(n)) return true;
        context::set(*word, at(n, i));
        series->w1 = i + 1;
        if (!rest_from(pos_)) {
            ran = true;
            return false;
        }
    }
}

void eval_block(const Cell& block, bool keep_last) {
    Node code = series::node_of(block);
    uint32_t end = tail_index(code);
    eval_range(cell::is(block, T_paren) ? T_paren : T_block, code, series::position_of(block), end, keep_last);
}

uint32_t eval_next(Node code, uint32_t pos, uint32_t end, bool push) {
    stack::push_frame(stack::interp_native, nullptr);
    stack::reserve();
    uint32_t next;
    if (value_at(code, pos, end, next)) pos = next;
    else pos = eval_expression(code, pos, end, Infix::apply, Result::to_base);
    if (push) stack::unwind();
    else stack::unwind_last();
    return pos;
}

void note_expressions_run(Node code) {
    if (!(memory::buffer(code)->flags & memory::has_form) || check_forms) code_cache::note_run(code);
}

uint32_t eval_pushed(Node code, uint32_t pos, uint32_t end) {
    Cell* slot = stack::reserve();
    Cell* caller_args = stack::values.args;
    stack::values.args = slot;
    uint32_t next;
    bool ran = value_at(code, pos, end, next);
    stack::values.args = caller_args;
    if (ran) return next;
    stack::values.top = slot;
    return eval_expression(code, pos, end, Infix::apply, Result::push);
}

namespace {

// The built-in operators that compiled statements do in place, numbered.
enum Operation : uint8_t { op_add, op_subtract, op_multiply, op_remainder, op_equal, op_not_equal, op_lesser,
                           op_greater, op_lesser_or_equal, op_greater_or_equal, op_divide, op_none };

[[gnu::always_inline]] inline Operation operation_of(const Cell& fn) {
    if (cell::is(fn, T_action)) {
        switch (function::entry_index(fn) - 1) {
        case actions::slot::add: return op_add;
        case actions::slot::subtract: return op_subtract;
        case actions::slot::multiply: return op_multiply;
        case actions::slot::remainder: return op_remainder;
        case actions::slot::divide: return op_divide;
        default: return op_none;
        }
    }
    if (!cell::is(fn, T_native)) return op_none;
    switch (function::entry_index(fn)) {
    case natives::index::equal_q: case natives::index::strict_equal_q: return op_equal;
    case natives::index::not_equal_q: return op_not_equal;
    case natives::index::lesser_q: return op_lesser;
    case natives::index::greater_q: return op_greater;
    case natives::index::lesser_or_equal_q: return op_lesser_or_equal;
    case natives::index::greater_or_equal_q: return op_greater_or_equal;
    default: return op_none;
    }
}

// An operation on two integers a and b, its answer given to put_integer or put_logic, which
// write it where the caller keeps it. False where the full call must run (an overflow, a zero or
// -1 divisor, a division).
template <class PutInteger, class PutLogic>
[[gnu::always_inline]] inline bool integer_answer(uint8_t operation, int32_t a, int32_t b, PutInteger put_integer,
                                                  PutLogic put_logic) {
    int32_t r;
    switch (operation) {
    case op_add: if (!integer::fast_math(a, b, integer::add, r)) return false; break;
    case op_subtract: if (!integer::fast_math(a, b, integer::subtract, r)) return false; break;
    case op_multiply: if (!integer::fast_math(a, b, integer::multiply, r)) return false; break;
    case op_remainder: if (!integer::fast_math(a, b, integer::remainder, r)) return false; break;
    case op_equal: put_logic(a == b); return true;
    case op_not_equal: put_logic(a != b); return true;
    case op_lesser: put_logic(a < b); return true;
    case op_greater: put_logic(a > b); return true;
    case op_lesser_or_equal: put_logic(a <= b); return true;
    case op_greater_or_equal: put_logic(a >= b); return true;
    default: return false;
    }
    put_integer(r);
    return true;
}
// The answer into the left operand's cell (an integer keeps its header, as the action leaves it).
[[gnu::always_inline]] inline bool integer_operation(uint8_t operation, Cell& left, int32_t b) {
    return integer_answer(
        operation, integer::get(left), b, [&](int32_t r) { integer::set(left, r); },
        [&](bool v) { logic::make_at(left, v); });
}

// An operator value as its function: the op cell keeps the function's type in its header.
inline Cell op_function(const Cell& op) {
    Cell fn = op;
    cell::set_type(fn, function::wrapped_type(fn));
    fn.header &= 0xFF;
    return fn;
}
// What a call through a path runs: an operator's function, or the value itself.
inline Cell prefix_form(const Cell& fn) { return cell::is(fn, T_op) ? op_function(fn) : fn; }

// ---- compiled statements ---------------------------------------------------------------------------
// The shapes of code_cache.h, compiled from the cells and the words' values as the walker
// would meet them now, and run with a check wherever the walker reads a word. A check that
// fails leaves the whole statement to the walker (eval_expression from its start), which is
// exact because nothing before it had an effect: no code runs, nothing allocates, and the one
// store (the set-word's) comes last.

inline bool needs_work(uint32_t t);

// The operator a cell stands for where the walker looks for one after a value, or null.
inline const Cell* infix_op_at(const Cell& c) {
    if (!cell::is(c, T_word) || word::context_of(c) == 0) return nullptr;
    const Cell* value = bound_value(c);
    return value && cell::is(*value, T_op) ? value : nullptr;
}

// What eval_single pushes for a value that stands for itself (no word, nothing to run).
inline bool plain_constant(uint32_t t) {
    return !needs_work(t) && t != T_word && t != T_set_word && t != T_unset;
}

// An operator with a float on either side (the other an integer or a float): the add,
// subtract, multiply and divide of the float actions, a float result in the left operand's
// cell, its header kept but for the type (as float_::math leaves it); none of them raises.
// false for anything else, which the full call does.
[[gnu::noinline]] bool float_operation(uint8_t operation, Cell& left, const Cell& right) {
    uint32_t lt = cell::type(left), rt = cell::type(right);
    if ((lt != T_float_ && lt != T_integer) || (rt != T_float_ && rt != T_integer)) return false;
    if (operation != op_add && operation != op_subtract && operation != op_multiply && operation != op_divide)
        return false;
    double a = lt == T_float_ ? cell::get_double(left) : double(integer::get(left));
    double b = rt == T_float_ ? cell::get_double(right) : double(integer::get(right));
    double r = operation == op_add ? a + b : operation == op_subtract ? a - b : operation == op_multiply ? a * b : a / b;
    cell::set_type(left, T_float_);
    cell::set_double(left, r);
    return true;
}

// An operator on two numbers, into the left operand's cell; false where the full call must run.
[[gnu::always_inline]] inline bool number_operation(uint8_t operation, Cell& left, const Cell& right) {
    if (cell::is(left, T_integer) && cell::is(right, T_integer)) [[likely]]
        return integer_operation(operation, left, integer::get(right));
    // Two floats added, taken away or multiplied: float_operation's answer, inline.
    if (cell::is(left, T_float_) && cell::is(right, T_float_) && operation <= op_multiply) {
        double a = cell::get_double(left), b = cell::get_double(right);
        cell::set_double(left, operation == op_add ? a + b : operation == op_subtract ? a - b : a * b);
        return true;
    }
    return float_operation(operation, left, right);
}

// A bound word's slot in its context's values.
inline uint32_t slot_index(const Cell& word) { return static_cast<uint32_t>(word::index_of(word)); }

inline code_cache::Read read_of(const Cell& c) {
    if (!cell::is(c, T_word)) return code_cache::Read::constant;
    return word::context_of(c) == context::global_node ? code_cache::Read::global : code_cache::Read::word;
}

// ---- value statements by shape ----
// first_value for the commonest shape, each instance its own function: one operator between two
// constants or words, the operator's word a global one. Each reads and checks
// what first_value reads and checks, in the same order (the operand and its type, the
// operator word, the right operand, the operation); what a shape cannot have needs no test.
enum class Src : uint8_t { constant, global, local };
template <Src S>
[[gnu::always_inline]] inline const Cell* source(const Cell& c) {
    if constexpr (S == Src::constant) return &c;
    else if constexpr (S == Src::global) return context::global_slot(c);
    else return context::bound_slot(c);
}
template <Src A>
[[gnu::always_inline]] inline const Cell* first_source(const code_cache::Statement& s) {
    const Cell* p = source<A>(s.first);
    if constexpr (A != Src::constant) {
        if (!p) return nullptr;
        uint32_t t = cell::type(*p);
        if (in(t, ANY_FUNCTION) || t == T_unset) return nullptr;
    }
    return p;
}
template <Src A, Src B, uint8_t op>
bool shaped_operation(const code_cache::Form& f, const code_cache::Statement& s, Cell& v) {
    const Cell* p = first_source<A>(s);
    if (!p) return false;
    const code_cache::Step& step = f.steps[s.first_step];
    const Cell* held = context::global_slot(step.word);
    if (!held || !cell::same_bits(*held, step.op)) return false;
    const Cell* right = source<B>(step.right);
    if (!right) return false;
    if (cell::is(*p, T_integer) && cell::is(*right, T_integer)) [[likely]] {
        // Made in registers and stored once: a copy of the left operand operated on in place
        // went through memory twice, and the caller's next read of the value waited on that
        // chain (a tenth of fib's time).
        return integer_answer(
            op, integer::get(*p), integer::get(*right),
            [&](int32_t r) { integer::make_like(v, *p, r); },
            [&](bool b) { v = logic::make(b); });
    }
    Cell left = *p;
    if (!float_operation(op, left, *right)) return false;
    v = left;
    return true;
}
template <Src A, Src B, std::size_t... ops>
constexpr std::array<code_cache::ValueFn, sizeof...(ops)> shaped_row(std::index_sequence<ops...>) {
    return {&shaped_operation<A, B, uint8_t(ops)>...};
}
constexpr std::size_t shaped_ops = op_none;
template <Src A>
constexpr std::array<std::array<code_cache::ValueFn, shaped_ops>, 3> shaped_rows() {
    return {shaped_row<A, Src::constant>(std::make_index_sequence<shaped_ops>()),
            shaped_row<A, Src::global>(std::make_index_sequence<shaped_ops>()),
            shaped_row<A, Src::local>(std::make_index_sequence<shaped_ops>())};
}
constexpr std::array<std::array<std::array<code_cache::ValueFn, shaped_ops>, 3>, 3> shaped_table = {
    shaped_rows<Src::constant>(), shaped_rows<Src::global>(), shaped_rows<Src::local>()};

// The shaped function for a value statement or sub-statement of the word lane (neither global
// nor rich, whose lanes have their own runners), or null.
code_cache::ValueFn pick_fast(const code_cache::Form& f, const code_cache::Statement& s) {
    using code_cache::Read;
    if (s.global || s.rich) return nullptr;
    auto src = [](Read r, Src& out) {
        switch (r) {
        case Read::constant: out = Src::constant; return true;
        case Read::global: out = Src::global; return true;
        case Read::word: out = Src::local; return true;
        default: return false;
        }
    };
    // A value alone costs first_value, inline where it runs, less than a call.
    Src a, b;
    if (s.steps != 1 || !src(s.first_read, a)) return nullptr;
    const code_cache::Step& step = f.steps[s.first_step];
    if (word::context_of(step.word) != context::global_node || step.operation >= shaped_ops || !src(step.right_read, b))
        return nullptr;
    return shaped_table[uint8_t(a)][uint8_t(b)][step.operation];
}

// An operand's cell: the constant, or the word's slot (context::bound_slot's answer), or null.
[[gnu::always_inline]] inline const Cell* read_operand(code_cache::Read read, const Cell& c) {
    switch (read) {
    case code_cache::Read::constant: return &c;
    case code_cache::Read::global: return context::global_slot(c);
    default: return context::bound_slot(c);
    }
}

// An operator word's value where a step checks it: a global word's slot, else as the walker's
// look-ahead finds it (infix_op_at), or null.
[[gnu::always_inline]] inline const Cell* op_value(const Cell& word) {
    return word::context_of(word) == context::global_node ? context::global_slot(word) : infix_op_at(word);
}

// The value of a statement's first operand, as eval_single reads it (context::get), or null
// where the walker would call a function or raise: a word without a value, or holding a
// function, an operator or unset!.
inline const Cell* operand_value(const Cell& c) {
    if (!cell::is(c, T_word)) return &c;
    const Cell* v = context::bound_slot(c);
    if (!v) return nullptr;
    uint32_t t = cell::type(*v);
    return in(t, ANY_FUNCTION) || t == T_unset ? nullptr : v;
}

// The object field a path of two words names (its first word holding an object that has the
// second among its fields): the holder word, the holder's value, and the field's slot; false
// for any other path. Nothing here allocates.
struct FieldAt {
    Cell first;
    const Cell* holder;
    Node context;
    uint32_t index;
    Cell* slot;
};
inline bool field_at(const Cell& path, FieldAt& out) {
    Cursor pc = cursor(series::node_of(path), 0xFFFFFFFFu);
    uint32_t i = series::position_of(path);
    if (i + 2 != pc.limit) return false;
    const Cell& first = pc.cells[i];
    const Cell& field = pc.cells[i + 1];
    if (!cell::is(first, T_word) || !cell::is(field, T_word)) return false;
    const Cell* holder = context::bound_slot(first);
    if (!holder || !cell::is(*holder, T_object)) return false;
    Node ctx = object::context_of(*holder);
    int32_t k = context::find_word(ctx, word::symbol_of(field), true);
    Cell* slot = k >= 0 ? context::value_cell(ctx, static_cast<uint32_t>(k)) : nullptr;
    if (!slot) return false;
    out = FieldAt{first, holder, ctx, static_cast<uint32_t>(k), slot};
    return true;
}

// A path of two words naming an object's field, as the object's path step finds it
// (object::eval_path): the field's context and index, and the holder word.
bool field_of(const Cell& path, code_cache::Field& out) {
    FieldAt at;
    if (!field_at(path, at)) return false;
    out.path = series::node_of(path);
    out.holder = at.first;
    out.context = at.context;
    out.index = at.index;
    return true;
}

// The field's slot as eval_path finds it, with its holder, or null: the path unchanged since
// compiled (its token), the holder word still holding an object with that context.
[[gnu::always_inline]] inline Cell* field_slot(const code_cache::Field& fl, const Cell*& holder) {
    if (!code_cache::token_holds(fl.path, fl.form, fl.serial, fl.checked)) return nullptr;
    holder = context::bound_slot(fl.holder);
    if (!holder || !cell::is(*holder, T_object) || object::context_of(*holder) != fl.context) return nullptr;
    return context::value_cell(fl.context, fl.index);
}

uint32_t compile_paren(Node code, const Cell& paren, uint32_t depth, bool* calls = nullptr);
void global_lane(const code_cache::Form& f, code_cache::Statement& s);
uint32_t compile_call(Node code, Node cells_of, uint32_t p, uint32_t depth, uint32_t& k, bool nested = false);
bool call_at(const Cell& c);
uint32_t compile_expr_at(Node code, Node cells_of, uint32_t p, uint32_t depth, code_cache::Statement& s, bool* calls);

// A path read by index (a/:i/:j) into an IndexPath of code's form; false for any other path.
bool compile_index(Node code, const Cell& path, uint32_t& k) {
    Node pn = series::node_of(path);
    uint32_t i = series::position_of(path);
    Cursor pc = cursor(pn, 0xFFFFFFFFu);
    if (pc.limit < i + 2 || pc.limit > i + 4 || !cell::is(pc.cells[i], T_word)) return false;
    code_cache::IndexPath ip;
    ip.path = pn;
    ip.first = pc.cells[i];
    const Cell* holder = context::bound_slot(ip.first);
    if (!holder || !(cell::is(*holder, T_block) || (cell::is(*holder, T_vector) && pc.limit == i + 2))) return false;
    for (uint32_t j = i + 1; j < pc.limit; ++j) {
        const Cell& step = pc.cells[j];
        if (!cell::is(step, T_integer) && !cell::is(step, T_get_word)) return false;
        ip.step[ip.steps++] = step;
    }
    ip.form = code_cache::token(pn, ip.serial);  // may move the forms
    code_cache::Form* f = form_of(code);
    if (!f) return false;
    k = static_cast<uint32_t>(f->indexes.size());
    f->indexes.push_back(ip);
    return true;
}

// An operand of a value statement: a constant, a word read through its binding, a paren of one
// value expression (a sub-statement) or an index path; false where the walker must evaluate it.
bool compile_operand(Node code, const Cell& c, code_cache::Read& read, uint32_t& sub, uint32_t depth) {
    if (cell::is(c, T_word)) {
        if (!operand_value(c)) return false;
        read = read_of(c);
        return true;
    }
    if (cell::is(c, T_paren)) {
        sub = compile_paren(code, c, depth);
        read = code_cache::Read::paren;
        return sub != 0;
    }
    if (cell::is(c, T_path)) {
        read = code_cache::Read::index;
        return compile_index(code, c, sub);
    }
    read = code_cache::Read::constant;
    return plain_constant(cell::type(c));
}

// The operators after a first operand, from cells[p] up to the limit or the first cell that is
// no operator: integer operators whose right operand is an integer, a word or a paren. Gives the
// position after them, or 0 where the walker must take the statement.
// calls: null in a value statement; in an expression statement, set when a call is compiled
// (a right operand that is a call, or a paren holding one).
uint32_t compile_steps(Node code, Node cells_of, uint32_t p, std::vector<code_cache::Step>& steps, uint32_t depth,
                       bool* calls = nullptr) {
    for (;;) {
        Cursor c = cursor(cells_of, 0xFFFFFFFFu);
        if (p >= c.limit) return p;
        const Cell* op = infix_op_at(c.cells[p]);
        if (!op) return p;
        Operation operation = operation_of(op_function(*op));
        if (operation == op_none || p + 1 >= c.limit) return 0;
        code_cache::Step step{c.cells[p], *op, c.cells[p + 1], operation};
        step.pos = p;
        const Cell& right = c.cells[p + 1];
        if (calls && call_at(right)) {
            uint32_t next = compile_call(code, cells_of, p + 1, depth + 1, step.sub, true);
            if (!next) return 0;
            step.right_read = code_cache::Read::call;
            *calls = true;
            steps.push_back(step);
            p = next;
            continue;
        }
        if (!cell::is(right, T_integer) && !cell::is(right, T_float_) && !cell::is(right, T_word) &&
            !cell::is(right, T_paren) && !cell::is(right, T_path))
            return 0;
        if (cell::is(right, T_word)) {
            // A word holding a function is a call (an expression statement's), and one without
            // a value an error: neither is a value statement's operand.
            if (!operand_value(right)) return 0;
            step.right_read = read_of(right);
        } else if (calls && cell::is(right, T_paren)) {
            step.right_read = code_cache::Read::paren;
            step.sub = compile_paren(code, right, depth + 1, calls);
            if (!step.sub) return 0;
        } else if (!compile_operand(code, step.right, step.right_read, step.sub, depth + 1)) {
            return 0;
        }
        steps.push_back(step);
        p += 2;
    }
}

// Compiles a paren that holds one value expression into a sub-statement of code's form; gives
// its number, or 0. Its token is taken first (making one may move the forms; no series moves).
uint32_t compile_paren(Node code, const Cell& paren, uint32_t depth, bool* calls) {
    Node pn = series::node_of(paren);
    if (depth > 8 || pn == code) return 0;
    code_cache::Statement sub;
    sub.paren = pn;
    sub.paren_form = code_cache::token(pn, sub.paren_serial);
    uint32_t p = series::position_of(paren);
    Cursor c = cursor(pn, 0xFFFFFFFFu);
    if (p >= c.limit) return 0;
    sub.paren_at = p;
    sub.first = c.cells[p];
    bool has_calls = false;
    if (calls && call_at(sub.first)) {
        p = compile_call(code, pn, p, depth + 1, sub.first_sub, true);
        if (!p) return 0;
        sub.first_read = code_cache::Read::call;
        has_calls = true;
    } else if (calls && cell::is(sub.first, T_paren)) {
        sub.first_sub = compile_paren(code, sub.first, depth + 1, &has_calls);
        if (!sub.first_sub) return 0;
        sub.first_read = code_cache::Read::paren;
        ++p;
    } else {
        if (!compile_operand(code, sub.first, sub.first_read, sub.first_sub, depth + 1)) return 0;
        ++p;
    }
    std::vector<code_cache::Step> steps;
    p = compile_steps(code, pn, p, steps, depth, calls ? &has_calls : nullptr);
    if (p == 0 || p != tail_index(pn)) return 0;
    code_cache::Form* f = form_of(code);
    if (!f) return 0;
    sub.first_step = static_cast<uint32_t>(f->steps.size());
    sub.steps = static_cast<uint32_t>(steps.size());
    f->steps.insert(f->steps.end(), steps.begin(), steps.end());
    sub.next = p;
    sub.shape = has_calls ? code_cache::Shape::expression : code_cache::Shape::value;
    if (has_calls) *calls = true;
    if (!has_calls) {
        global_lane(*f, sub);
        sub.fast = pick_fast(*f, sub);
    }
    f->statements.push_back(sub);
    return static_cast<uint32_t>(f->statements.size());
}

// What a call compiles for: a function, a native or an action (a conditional alone in its
// statement is a conditional statement instead); `return` as run_call runs it.
inline bool compiled_callee(const Cell* held) {
    if (!held) return false;
    if (cell::is(*held, T_native)) {
        uint32_t k = function::entry_index(*held);
        return k <= natives::capacity && natives::table[k];
    }
    if (cell::is(*held, T_action)) {
        uint32_t slot = function::entry_index(*held);
        return slot >= 1 && slot <= actions::slot_count && actions::entries[slot - 1];
    }
    return cell::is(*held, T_function);
}

// A call where the walker meets this cell (a word holding one of those, or a path whose first
// word does), which compile_call may compile.
bool call_at(const Cell& c) {
    if (cell::is(c, T_word)) return compiled_callee(context::bound_slot(c));
    if (!cell::is(c, T_path)) return false;
    Cursor pc = cursor(series::node_of(c), 0xFFFFFFFFu);
    uint32_t i = series::position_of(c);
    if (i + 1 >= pc.limit || !cell::is(pc.cells[i], T_word)) return false;
    return compiled_callee(context::bound_slot(pc.cells[i]));
}

// A call at position p of cells_of (code or a paren in it) into a Call of code's form: its
// arguments are value expressions, compiled as sub-statements; a function's frame image holds
// its refinements as the path sets them. Gives the position after the call, or 0 where the
// walker must make it (an argument of another kind, a spec not kept yet, a refinement named
// twice or not at all: the walker raises the error).
// nested: its fixed arguments may be calls too (not with refinements in a path, whose
// arguments the walker's continuation, fetch_and_run, would fetch again).
uint32_t compile_call(Node code, Node cells_of, uint32_t p, uint32_t depth, uint32_t& k, bool nested) {
    constexpr uint32_t max_args = 8;
    if (depth > 8 || !call_at(cursor(cells_of, 0xFFFFFFFFu).cells[p])) return 0;
    Cursor c = cursor(cells_of, 0xFFFFFFFFu);
    code_cache::Call call;
    Cell head = c.cells[p];
    bool is_path = cell::is(head, T_path);
    Node pn = is_path ? series::node_of(head) : 0;
    uint32_t pi = is_path ? series::position_of(head) : 0;
    call.head = is_path ? cursor(pn, 0xFFFFFFFFu).cells[pi] : head;
    call.fn = *context::bound_slot(call.head);
    bool is_function = cell::is(call.fn, T_function);
    Spec spec;
    if (!kept_spec(call.fn, spec) || spec.h.fixed > max_args) return 0;
    // Each argument in the order fetch_and_run fetches it: its spec item and, for a
    // refinement's, its slot in the frame.
    std::vector<std::pair<uint32_t, uint32_t>> wanted;
    for (uint32_t i = 0; i < spec.h.fixed; ++i) {
        wanted.emplace_back(i, 0);
    }
    std::vector<Cell> image;
    if (is_function) {
        for (uint32_t i = spec.h.fixed; i < spec.h.items; ++i) {
            Cell slot;
            if (!frame_slot(spec.item(i), slot)) return 0;
            image.push_back(slot);
        }
    }
    if (is_path) {
        Cursor pc = cursor(pn, 0xFFFFFFFFu);
        for (uint32_t j = pi + 1; j < pc.limit; ++j) {
            const Cell& element = pc.cells[j];
            if (!cell::is(element, T_word)) return 0;
            uint32_t found = refinement_item(spec, element);  // as fetch_refinements finds it
            if (found == no_item) return 0;
            if (is_function) {
                // A function's refinement is its slot in the frame, its arguments the slots after it.
                if (logic::get(image[found - spec.h.fixed])) return 0;
                image[found - spec.h.fixed] = logic::true_value;
            } else {
                // A native's is its ordinal, given the position of its first argument.
                uint32_t r = spec.item(found).kind - 1;
                if (r >= 32 || r >= spec.h.refinements || call.refinements == 4) return 0;
                for (uint32_t j = 0; j < call.refinements; ++j)
                    if (call.refinement[j] == r) return 0;
                call.refinement[call.refinements] = static_cast<uint8_t>(r);
                call.refinement_at[call.refinements++] = static_cast<uint8_t>(wanted.size());
            }
            for (uint32_t a = 1; a <= spec.item(found).ts1; ++a) wanted.emplace_back(found + a, is_function ? found + a : 0);
        }
        call.path = pn;
        call.path_form = code_cache::token(pn, call.path_serial);  // may move the forms
    }
    if (wanted.size() > max_args) return 0;
    std::vector<code_cache::CallArg> args;
    uint32_t q = p + 1;
    for (auto [item, slot] : wanted) {
        c = cursor(cells_of, 0xFFFFFFFFu);
        if (q >= c.limit) return 0;
        code_cache::Statement a;
        bool calls = false;
        uint32_t r;
        if (uint32_t kind = spec.item(item).kind; kind != kind_normal) {
            // A literal or get argument is the cell as it stands (fetch_one), but for the
            // literal argument's paren, get-word and get-path, which it evaluates.
            const Cell& arg = c.cells[q];
            if (kind == kind_literal && (cell::is(arg, T_paren) || cell::is(arg, T_get_word) || cell::is(arg, T_get_path)))
                return 0;
            a.first = arg;
            a.first_read = code_cache::Read::constant;
            a.shape = code_cache::Shape::value;
            r = a.next = q + 1;
        } else {
            r = compile_expr_at(code, cells_of, q, depth + 1, a, nested && !is_path ? &calls : nullptr);
        }
        code_cache::Form* f = form_of(code);
        if (r == 0 || !f) return 0;
        call.runs_code |= calls;
        f->statements.push_back(a);
        SpecItem it = spec.item(item);
        args.push_back(code_cache::CallArg{static_cast<uint32_t>(f->statements.size()), slot, it.ts1, it.ts2, it.ts3, q,
                                           it.symbol});
        q = r;
    }
    code_cache::Form* f = form_of(code);
    if (!f) return 0;
    call.first_arg = static_cast<uint32_t>(f->call_args.size());
    call.fixed = spec.h.fixed;
    call.args = static_cast<uint32_t>(args.size());
    f->call_args.insert(f->call_args.end(), args.begin(), args.end());
    call.image = static_cast<uint32_t>(f->images.size());
    call.slots = static_cast<uint32_t>(image.size());
    f->images.insert(f->images.end(), image.begin(), image.end());
    call.next = q;
    k = static_cast<uint32_t>(f->calls.size());
    f->calls.push_back(call);
    return q;
}

// Whether a value statement (or sub-statement) reads and sets global words alone, a constant
// operand aside: then it runs from the global values directly (global_value), which need
// reach only max_index.
// An operand may also be an index path whose words (the holder and its get-word steps) are
// global ones, or a paren whose own statement is of the lane (compiled before this one): such a
// statement is `rich` rather than `global`, and run_value and first_value pass it on to the
// rich instance out of line, so that the lean instance inline in the loops has no call in it
// (a call there made the compiler keep the counter statement's values on the stack: count took
// 11% longer).
void global_lane(const code_cache::Form& f, code_cache::Statement& s) {
    using code_cache::Read;
    auto global_word = [](const Cell& w) { return word::context_of(w) == context::global_node; };
    uint32_t max_index = 0;
    bool rich = false;
    auto note = [&](const Cell& w) { max_index = std::max(max_index, slot_index(w)); };
    auto operand = [&](Read read, const Cell& c, uint32_t sub) {
        switch (read) {
        case Read::constant: return true;
        case Read::global: return note(c), true;
        case Read::index: {
            rich = true;
            const code_cache::IndexPath& ip = f.indexes[sub];
            if (!global_word(ip.first)) return false;
            note(ip.first);
            for (uint32_t i = 0; i < ip.steps; ++i) {
                if (!cell::is(ip.step[i], T_get_word)) continue;
                if (!global_word(ip.step[i])) return false;
                note(ip.step[i]);
            }
            return true;
        }
        case Read::paren: {
            rich = true;
            const code_cache::Statement& t = f.statements[sub - 1];
            if (t.shape != code_cache::Shape::value || !(t.global || t.rich)) return false;
            max_index = std::max(max_index, t.max_index);
            return true;
        }
        default: return false;
        }
    };
    bool global = operand(s.first_read, s.first, s.first_sub) &&
                  (!s.sets || (s.target_read == Read::word && global_word(s.target)));
    if (s.sets && s.target_read == Read::word) note(s.target);
    for (uint32_t i = 0; global && i < s.steps; ++i) {
        const code_cache::Step& step = f.steps[s.first_step + i];
        global = global_word(step.word) && operand(step.right_read, step.right, step.sub);
        note(step.word);
    }
    s.global = global && !rich;
    s.rich = global && rich;
    s.max_index = max_index;
}

// Marks a value statement that adds to what it sets, in place (add_in_place): x: x + k or
// x: x - k with an integer k, or x: x + y with y a word; x a word (of the global lane or a
// simple statement's), or a field path read and set through the same word.
void counter_of(const code_cache::Form& f, code_cache::Statement& s) {
    using code_cache::Read;
    if (!s.sets || s.steps != 1) return;
    auto same_word = [](const Cell& a, const Cell& b) {
        return word::context_of(a) == word::context_of(b) && word::index_of(a) == word::index_of(b);
    };
    bool same;
    if (s.global) {
        same = s.first_read == Read::global && slot_index(s.first) == slot_index(s.target);
    } else if (s.simple) {
        same = s.first_read == Read::word && same_word(s.first, s.target);
    } else {
        const code_cache::Field* first = s.first_read == Read::field ? &f.fields[s.first_field] : nullptr;
        const code_cache::Field* target = s.target_read == Read::field ? &f.fields[s.target_field] : nullptr;
        same = first && target && !s.rich && !s.fast && first->context == target->context &&
               first->index == target->index && same_word(first->holder, target->holder);
    }
    if (!same) return;
    const code_cache::Step& step = f.steps[s.first_step];
    if (step.right_read == Read::constant && cell::is(step.right, T_integer) &&
        (step.operation == op_add || (step.operation == op_subtract && integer::get(step.right) != INT32_MIN))) {
        s.counter = true;
        s.delta = step.operation == op_add ? integer::get(step.right) : -integer::get(step.right);
    } else if ((step.right_read == Read::global || step.right_read == Read::word) && step.operation == op_add) {
        s.counter = true;
        s.by_word = true;
    }
}

// Compiles the statement at pos into statement n of the block's form (steps and fields go into
// the form's lists). The tokens of its paths are taken first: making one may move the forms.
void compile_value_statement(Node code, uint32_t pos, uint32_t n, bool alone) {
    using code_cache::Shape;
    Cursor c = cursor(code, 0xFFFFFFFFu);
    uint32_t p = pos;
    bool set_path = cell::is(c.cells[p], T_set_path);
    code_cache::Field target_field, first_field;
    bool target_ok = set_path && field_of(c.cells[p], target_field);
    uint32_t q = set_path || cell::is(c.cells[p], T_set_word) ? p + 1 : p;
    bool first_path = q < c.limit && cell::is(c.cells[q], T_path);
    bool first_ok = first_path && field_of(c.cells[q], first_field);
    if (target_ok) target_field.form = code_cache::token(target_field.path, target_field.serial);
    if (first_ok) first_field.form = code_cache::token(first_field.path, first_field.serial);
    // A set-path into a block (`b/:i: x`, `m/:i/:j: x`), as the walker's path steps and poke
    // reach its cell.
    uint32_t target_index = 0;
    bool target_indexed = set_path && !target_ok && compile_index(code, c.cells[p], target_index);
    c = cursor(code, 0xFFFFFFFFu);

    // Built here and stored at the end: compiling a paren adds sub-statements and may move the
    // forms.
    code_cache::Statement s;
    {
        code_cache::Statement& old = form_of(code)->statements[n - 1];
        old.shape = Shape::walker;
        if (old.compiles == 255) return;
        s.compiles = ++old.compiles;
    }
    if (set_path && !target_ok && !target_indexed) return;
    s.sets = set_path || cell::is(c.cells[p], T_set_word);
    if (s.sets) {
        s.target = c.cells[p];
        s.target_read = set_path ? code_cache::Read::word : code_cache::Read::word;
        if (++p >= c.limit) return;
    }
    s.first = c.cells[p];
    if (first_ok) {
        const Cell* holder;
        Cell* slot = field_slot(first_field, holder);
        if (!slot || cell::is(*slot, T_unset) || called_by_path(cell::type(*slot))) return;
        s.first_read = code_cache::Read::field;
    } else if (!compile_operand(code, s.first, s.first_read, s.first_sub, 0)) {
        return;
    }
    std::vector<code_cache::Step> steps;
    p = compile_steps(code, code, p + 1, steps, 0);
    if (p == 0) return;
    c = cursor(code, 0xFFFFFFFFu);
    code_cache::Form& f = *form_of(code);
    if (target_indexed) {
        s.target_read = code_cache::Read::index;
        s.target_field = target_index;
    } else if (set_path) {
        s.target_read = code_cache::Read::field;
        s.target_field = static_cast<uint32_t>(f.fields.size());
        f.fields.push_back(target_field);
    }
    if (first_ok) {
        s.first_field = static_cast<uint32_t>(f.fields.size());
        f.fields.push_back(first_field);
    }
    s.first_step = static_cast<uint32_t>(f.steps.size());
    s.steps = static_cast<uint32_t>(steps.size());
    f.steps.insert(f.steps.end(), steps.begin(), steps.end());
    // A value alone first in its block costs the walker no more than the check of its form
    // would; after other statements (a function's `x` at the end of its body) it keeps the
    // block's compiled run going to the end. (alone: compiled all the same, for a native that
    // evaluates the block one expression at a time: `reduce [i i + 1]`.)
    if (!s.sets && s.steps == 0 && pos == 0 && !alone) return;
    s.lookahead = p < c.limit;
    if (s.lookahead) s.after = c.cells[p];
    s.next = p;
    s.misses = 0;
    s.shape = Shape::value;
    global_lane(f, s);
    {
        using code_cache::Read;
        auto plain = [](Read r) { return r == Read::constant || r == Read::global || r == Read::word; };
        bool simple = !s.global && !s.rich && plain(s.first_read) && (!s.sets || s.target_read == Read::word);
        for (uint32_t i = 0; simple && i < s.steps; ++i) simple = plain(f.steps[s.first_step + i].right_read);
        s.simple = simple;
        s.fast = pick_fast(f, s);
    }
    f.statements[n - 1] = s;
    counter_of(f, f.statements[n - 1]);
}

// Compiles statement n at pos as a conditional when it is one: the head word holding the if,
// unless or either native, a condition that compiles as a value expression, and its block or
// blocks. A word after them must hold no operator when it runs (else the walker applies it
// to the native's result).
void compile_conditional(Node code, uint32_t pos, uint32_t n) {
    Cursor c = cursor(code, 0xFFFFFFFFu);
    const Cell& head = c.cells[pos];
    if (!cell::is(head, T_word)) return;
    const Cell* value = bound_value(head);
    if (!value || !cell::is(*value, T_native)) return;
    uint32_t k = function::entry_index(*value);
    if (k != natives::index::if_ && k != natives::index::unless && k != natives::index::either) return;
    uint32_t blocks = k == natives::index::either ? 2 : 1;
    if (pos + 1 >= c.limit) return;
    // The condition: a value expression, or one with calls (an expression sub-statement).
    code_cache::Statement cond;
    bool calls = false;
    uint32_t p = compile_expr_at(code, code, pos + 1, 0, cond, &calls);
    c = cursor(code, 0xFFFFFFFFu);
    if (p == 0 || p + blocks > c.limit) return;
    for (uint32_t i = 0; i < blocks; ++i)
        if (!cell::is(c.cells[p + i], T_block)) return;
    code_cache::Form* f = form_of(code);
    if (!f) return;
    f->statements.push_back(cond);
    f->runs_code = true;
    code_cache::Statement& s = f->statements[n - 1];
    s.shape = code_cache::Shape::conditional;
    s.head = head;
    s.native = *value;
    s.condition = static_cast<uint32_t>(f->statements.size());
    s.blocks_at = p;
    s.blocks = blocks;
    s.next = p + blocks;
    s.lookahead = s.next < c.limit && cell::is(c.cells[s.next], T_word);
    if (s.lookahead) s.after = c.cells[s.next];
    s.misses = 0;
}

// Compiles statement n at pos as an expression statement when it is one: a value statement
// but for its operands, among which at least one call (or a paren holding one).
// The expression at position p of cells_of (code or a paren in it): an operand, or (calls
// given) a call or a paren holding one, then its operators, into s with its look-ahead; s is
// an expression when calls were compiled in it (*calls set), else a value. Gives the position
// after it, or 0.
uint32_t compile_expr_at(Node code, Node cells_of, uint32_t p, uint32_t depth, code_cache::Statement& s, bool* calls) {
    Cursor c = cursor(cells_of, 0xFFFFFFFFu);
    if (p >= c.limit) return 0;
    s.first = c.cells[p];
    bool has_calls = false;
    if (calls && call_at(s.first)) {
        p = compile_call(code, cells_of, p, depth, s.first_sub, true);
        if (!p) return 0;
        s.first_read = code_cache::Read::call;
        has_calls = true;
    } else if (calls && cell::is(s.first, T_paren)) {
        s.first_sub = compile_paren(code, s.first, depth, &has_calls);
        if (!s.first_sub) return 0;
        s.first_read = code_cache::Read::paren;
        ++p;
    } else {
        if (!compile_operand(code, s.first, s.first_read, s.first_sub, depth)) return 0;
        ++p;
    }
    std::vector<code_cache::Step> steps;
    p = compile_steps(code, cells_of, p, steps, depth, calls ? &has_calls : nullptr);
    code_cache::Form* f = form_of(code);
    if (p == 0 || !f) return 0;
    c = cursor(cells_of, 0xFFFFFFFFu);
    s.first_step = static_cast<uint32_t>(f->steps.size());
    s.steps = static_cast<uint32_t>(steps.size());
    f->steps.insert(f->steps.end(), steps.begin(), steps.end());
    s.lookahead = p < c.limit && cell::is(c.cells[p], T_word);
    if (s.lookahead) s.after = c.cells[p];
    s.next = p;
    s.shape = has_calls ? code_cache::Shape::expression : code_cache::Shape::value;
    if (has_calls) {
        *calls = true;
    } else {
        global_lane(*f, s);
        s.fast = pick_fast(*f, s);
    }
    return p;
}

void compile_expression(Node code, uint32_t pos, uint32_t n) {
    Cursor c = cursor(code, 0xFFFFFFFFu);
    uint32_t p = pos;
    code_cache::Statement s;
    s.compiles = form_of(code)->statements[n - 1].compiles;
    s.sets = cell::is(c.cells[p], T_set_word);
    if (s.sets) {
        s.target = c.cells[p];
        if (++p >= c.limit) return;
    }
    bool calls = false;
    p = compile_expr_at(code, code, p, 0, s, &calls);
    code_cache::Form* f = form_of(code);
    if (p == 0 || !calls || !f) return;
    s.misses = 0;
    if (lone_call(s) && !s.sets && p == c.limit) {
        const code_cache::Call& call = f->calls[s.first_sub];
        s.ends = cell::is(call.fn, T_native) && function::entry_index(call.fn) == natives::index::return_ && !call.path &&
                 call.args == 1 && f->statements[f->call_args[call.first_arg].statement - 1].shape == code_cache::Shape::value;
    }
    f->statements[n - 1] = s;
    f->runs_code = true;
}

// The block's `current` while a compiled statement that runs code runs, as the walker's block
// loop would have it; put back on every way out.
struct StatementPosition : RestorePosition {
    StatementPosition(uint32_t type, Node code, uint32_t pos)
        : RestorePosition(!(memory::buffer(code)->flags & memory::system_code)) {
        if (active) {
            current_depth = stack::depth();
            cell::store(current, type, pos, code, 0);
        }
    }
};

// A conditional's branch run in place, when its form's compiled value statements make it from
// its first statement: they run no code and raise nothing, so the native's frame, which the
// walker would have pushed around them, shows nowhere. Gives the position of the first
// statement left (its end when all ran, its start when none did).
uint32_t run_branch_in_place(const Cell& branch) {
    Node code = series::node_of(branch);
    memory::Buffer* b = memory::buffer(code);
    uint32_t pos = series::position_of(branch);
    // (run_conditional, its one caller, runs where room on the stack was looked for.)
    if (check_forms || trace::active || os::interrupt_flag) return pos;
    if (!(b->flags & memory::has_form)) {
        // A branch of one value, left to the walker for good (no form: `[n]`): its value when
        // eval_single would push it, running nothing and raising nothing.
        uint32_t end = b->used() / sizeof(Cell);
        if (b->spare != code_cache::walked_only || pos + 1 != end) return pos;
        const Cell& c = cells::of(code)[pos];
        const Cell* v = cell::is(c, T_word) ? operand_value(c) : plain_constant(cell::type(c)) ? &c : nullptr;
        if (!v) return pos;
        *stack::values.args = *v;
        return end;
    }
    code_cache::Form* f = code_cache::linked_form(code, b->spare);
    uint32_t end = b->used() / sizeof(Cell);
    uint32_t next;
    while (f && pos < end && run_value_statement(*f, pos, end, next)) pos = next;
    return pos;
}

// Runs a conditional statement into the result cell (the argument base) as call and
// fetch_and_run run the native: the head word must still hold the native, the condition still
// be a plain value. The branch runs in place when it can (run_branch_in_place); otherwise, or
// for the rest of it, the native's frame is pushed with its condition and blocks as
// fetch_and_run pushes them (conditional_rest),
// and the branch runs in it, through the native or from where the compiled run stopped.
// false, having done nothing, where the walker must take the statement.
// Its callers (a block's compiled run, continue_body, a loop's back-to-back run) have looked for
// room on the stack at the depth it runs at.
//
// Its first part, which runs no code (conditional_start): the checks, the condition's value,
// the choice, and the chosen branch's value statements run in place; what the second part
// (conditional_finish: the native's frame, the rest of the branch) needs is kept in c. miss:
// nothing was done; done: the statement ran whole; more: the second part must follow.
// loop: the instance of a loop's back-to-back run, where a condition of global words alone is
// the common one: any other is read out of line (inline, its code made the global one's
// slower: either took 3% longer).
bool condition_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v);
template <bool loop>
[[gnu::always_inline]] inline CondStep conditional_start(const code_cache::Form& f, const code_cache::Statement& s, Node code,
                                                          Conditional& c) {
    const Cell* value = context::bound_slot(s.head);
    if (!value || !cell::same_bits(*value, s.native)) return CondStep::miss;
    if (s.lookahead && infix_op_at(s.after)) return CondStep::miss;
    const code_cache::Statement& cs = f.statements[s.condition - 1];
    if (loop && !cs.global) {
        if (!condition_value(f, cs, c.condition)) return CondStep::miss;
    } else if (!any_value(f, cs, c.condition)) {
        return CondStep::miss;
    }
    uint32_t k = function::entry_index(s.native);
    // The native's choice (either's condition is never unset here: an operand holds a value).
    bool falsy = cell::is(c.condition, T_none) || (cell::is(c.condition, T_logic) && !logic::get(c.condition));
    int32_t chosen = k == natives::index::either ? (falsy ? 1 : 0) : (falsy == (k == natives::index::unless) ? 0 : -1);
    if (chosen < 0) {
        none::make_at(*stack::values.args);
        return CondStep::done;
    }
    Cell branch = at(code, s.blocks_at + uint32_t(chosen));
    uint32_t start = series::position_of(branch);
    uint32_t left = run_branch_in_place(branch);
    uint32_t branch_end = tail_index(series::node_of(branch));
    if (left >= branch_end && left > start) return CondStep::done;
    // What the second part needs, the statement read before code runs (it may move the form).
    c.lookahead = s.lookahead;
    c.after = s.after;
    c.next = s.next;
    c.fn = s.native;
    c.word = s.head;
    c.blocks_at = s.blocks_at;
    c.blocks = s.blocks;
    c.start = start;
    c.left = left;
    c.branch = branch;
    c.branch_end = branch_end;
    return CondStep::more;
}

[[gnu::always_inline]] inline void conditional_finish(const Conditional& c, uint32_t type, Node code, uint32_t pos,
                                                      uint32_t end, uint32_t& next) {
    Cell* result = stack::values.args;
    Node branch_code = series::node_of(c.branch);
    StatementPosition position(type, code, pos);
    check_depth();
    Cell* slot = stack::push(c.fn);
    stack::push_frame(stack::interp_native, &c.word);
    stack::push(c.condition);
    for (uint32_t i = 0; i < c.blocks; ++i) stack::push(at(code, c.blocks_at + i));
    // A branch whose form has statements that run code goes on as eval_body, which the
    // native's do_block calls, would go on with it (the same tests).
    const code_cache::Form* bf = form_of(branch_code);
    bool compiled = bf && bf->runs_code && !check_forms && !trace::active && !os::interrupt_flag;
    if (c.left == c.start && !compiled) {
        int32_t no_refinements[1] = {-1};
        natives::Args args(no_refinements);
        natives::table[function::entry_index(c.fn)](args);
    } else {
        // The rest of the branch, as the native's do_block would have run it.
        stack::keep();
        if (c.left > c.start) *stack::values.args = *result;
        if (compiled) continue_body(c.branch, c.left, c.branch_end, stack::values.top);
        else finish_body(T_block, branch_code, c.left, c.branch_end);
    }
    end_call(slot);
    next = c.next;
    // The branch's code may have given the word after the statement an operator, which the
    // walker's look-ahead would now apply to the native's result: the walker's loop does it.
    if (c.lookahead && !stack::exiting() && infix_op_at(c.after)) {
        next = continue_infix(code, next, clip(code, end), slot);
        stack::values.top = slot + 1;
    }
    *result = *slot;
    stack::values.top = slot;
}

// The value a statement that ends a block with `return value` (Statement::ends) returns, as
// the call would give it to the native: false, having done nothing, where the call must run
// (an argument the walker must read, a word that no longer holds return).
inline bool return_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v) {
    const code_cache::Call& c = f.calls[s.first_sub];
    const code_cache::CallArg& a = f.call_args[c.first_arg];
    const code_cache::Statement& t = f.statements[a.statement - 1];
    const Cell* held = context::bound_slot(c.head);
    if (!held || !cell::same_bits(*held, c.fn) || !any_value(f, t, v) || (t.lookahead && infix_op_at(t.after)))
        return false;
    Cell ts{T_typeset, a.ts1, a.ts2, a.ts3};
    return typeset::contains(ts, cell::type(v));
}

// Such a statement run without the native where the block runs as a function's body in its
// frame (body_frame): the native's exit would only carry the value to the body's end, so the
// value is the body's last value. false, having done nothing, where the call must run (the
// block run as anything but the body, or return_value's cases).
inline bool return_in_place(const code_cache::Form& f, const code_cache::Statement& s, Node code, uint32_t end,
                            uint32_t& next) {
    if (!ends_body(code, end, s.next, stack::depth())) return false;
    Cell v;
    if (!return_value(f, s, v)) return false;
    *stack::values.args = v;
    next = s.next;
    return true;
}

// A lone call of return that ends its block (Statement::ends): return_in_place where it holds,
// before the expression runner, whose set-up it does not need; else the runner. Out of line, so
// that the check costs the runner's other statements one test.
[[gnu::noinline]] bool run_ending(uint32_t n, uint32_t type, Node code, uint32_t pos, uint32_t end, uint32_t& next) {
    const code_cache::Form* f = form_of(code);
    if (!trace::active && return_in_place(*f, f->statements[n - 1], code, end, next)) return true;
    return run_expression<true>(n, type, code, pos, end, next);
}

// A conditional statement that ends a function's body (its last statement, the body's frame
// the innermost), whose branch goes on (after the value statements run in place) with a
// statement that ends the branch with `return value`: that value is the conditional's, and so
// the body's, as the native's exit would carry it there; nothing else would run between. false,
// having done nothing, where the branch must run in the native's frame.
// (The word `return` spelt so, first in what is left of the branch, is looked for first: most
// branches have something else there, and a word that only holds return takes the way of every
// call.)
inline bool branch_returns(const Conditional& c, const code_cache::Statement& s, Node code, uint32_t end) {
    Node branch = series::node_of(c.branch);
    const Cell& first = cells::of(branch)[c.left];
    if (!cell::is(first, T_word) || word::symbol_of(first) != words::symbols::return_) return false;
    if (check_forms || os::interrupt_flag || !ends_body(code, end, s.next, stack::depth())) return false;
    const code_cache::Form* bf = form_of(branch);
    if (!bf || c.left >= bf->at.size()) return false;
    uint32_t n = bf->at[c.left];
    if (n == 0 || n == code_cache::walker_statement) return false;
    const code_cache::Statement& t = bf->statements[n - 1];
    if (t.shape != code_cache::Shape::expression || !t.ends || t.next < clip(branch, c.branch_end)) return false;
    Cell v;
    if (!return_value(*bf, t, v)) return false;
    *stack::values.args = v;
    return true;
}

[[gnu::always_inline]] inline bool run_conditional(const code_cache::Form& f, const code_cache::Statement& s,
                                                   uint32_t type, Node code, uint32_t pos, uint32_t end,
                                                   uint32_t& next) {
    if (f.statements[s.condition - 1].shape == code_cache::Shape::expression) {
        const Cell* value = context::bound_slot(s.head);
        if (!value || !cell::same_bits(*value, s.native) || (s.lookahead && infix_op_at(s.after))) return false;
        next = s.next;
        return run_code_conditional(f, s, type, code, pos, end, next);
    }
    Conditional c;
    CondStep step = conditional_start(f, s, code, c);
    if (step == CondStep::miss) return false;
    next = s.next;
    if (step == CondStep::more && !branch_returns(c, s, code, end)) conditional_finish(c, type, code, pos, end, next);
    return true;
}

// first_value for a statement of global words alone (s.global), the global values g reaching
// its max_index: the same checks, with the values found once.
// The rich instance (s.rich) also reads paren and index path operands, as paren_value and
// index_value read them, their words from g too.
bool index_value(const code_cache::Form& f, uint32_t k, Cell& v, const Cell* g = nullptr);
inline bool index_value_in(const code_cache::Form& f, uint32_t k, Cell& v, const Cell* g);
bool global_paren_value(const code_cache::Form& f, uint32_t sub, const Cell* g, Cell& v);
template <bool rich>
[[gnu::always_inline]] inline bool global_value_as(const code_cache::Form& f, const code_cache::Statement& s,
                                                   const Cell* g, Cell& v) {
    using code_cache::Read;
    v = s.first;
    if (s.first_read == Read::global) {
        v = g[slot_index(s.first)];
        uint32_t t = cell::type(v);
        if (in(t, ANY_FUNCTION) || t == T_unset) return false;
    } else if constexpr (rich) {
        if (s.first_read == Read::index) {
            if (!index_value_in(f, s.first_sub, v, g)) return false;
        } else if (s.first_read == Read::paren) {
            if (!global_paren_value(f, s.first_sub, g, v)) return false;
        }
    }
    for (uint32_t i = 0; i < s.steps; ++i) {
        const code_cache::Step& step = f.steps[s.first_step + i];
        if (!cell::same_bits(g[slot_index(step.word)], step.op)) return false;
        if (!rich) {
            const Cell& right = step.right_read == Read::global ? g[slot_index(step.right)] : step.right;
            if (!number_operation(step.operation, v, right)) return false;
            continue;
        }
        Cell computed;
        const Cell* right = &step.right;
        if (step.right_read == Read::global) {
            right = &g[slot_index(step.right)];
        } else if (step.right_read == Read::index) {
            if (!index_value_in(f, step.sub, computed, g)) return false;
            right = &computed;
        } else if (step.right_read == Read::paren) {
            if (!global_paren_value(f, step.sub, g, computed)) return false;
            right = &computed;
        }
        if (!number_operation(step.operation, v, *right)) return false;
    }
    return true;
}
[[gnu::always_inline]] inline bool global_value(const code_cache::Form& f, const code_cache::Statement& s, const Cell* g,
                                                Cell& v) {
    return global_value_as<false>(f, s, g, v);
}

// first_value, through global_value where the statement allows.
[[gnu::always_inline]] inline bool any_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v);
[[gnu::noinline]] bool condition_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v) {
    return any_value(f, s, v);
}
[[gnu::always_inline]] inline bool any_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v) {
    if (s.global) {
        memory::Buffer* values = context::global_buffer;
        return s.max_index < values->used() / sizeof(Cell) && global_value(f, s, cells::of(values), v);
    }
    return first_value(f, s, v);
}

// A counter (s.counter: x: x + k, x: x - k, x: x + y) run in place: slot, the first operand's
// and the set's, given its amount with the integer add the steps would make, the sum made in
// the register the cell is loaded into (integer::add_unchecked: a counter's chain from one
// iteration to the next is then one load, one add and one store). Each check is one the steps
// and the set make, its integer check standing for the function and unset ones; false, having
// done nothing, where the steps' way must decide (a float, an overflow, the operator word
// changed). The look-ahead is checked before the sum is made: a sum kept across its call would
// wait on the stack when registers run short (count took 11% longer). global: the words are
// read from g, as global_value reads them; path: the set is a set-path's, which checks the
// native stack first.
template <bool global, bool path>
[[gnu::always_inline]] inline bool add_in_place(const code_cache::Form& f, const code_cache::Statement& s,
                                                uint32_t end, Cell& slot, Cell* g) {
    const code_cache::Step& step = f.steps[s.first_step];
    if (!cell::is(slot, T_integer)) return false;
    const Cell* op = global ? &g[slot_index(step.word)] : op_value(step.word);
    if (!op || !cell::same_bits(*op, step.op)) return false;
    int32_t delta = s.delta;
    if (s.by_word) {
        const Cell* amount = global ? &g[slot_index(step.right)] : read_operand(step.right_read, step.right);
        if (!amount || !cell::is(*amount, T_integer)) return false;
        delta = integer::get(*amount);
    }
    if (s.lookahead && s.next < end && infix_op_at(s.after)) return false;
    int32_t r;
    if (__builtin_add_overflow(integer::get(slot), delta, &r)) return false;
    if (path) check_depth();
    integer::add_unchecked(slot, delta);
    *stack::values.args = slot;
    return true;
}

// run_value for a statement of global words alone: the same checks, with the global values
// found once (they only ever grow, so one bound covers every index).
[[gnu::always_inline]] inline bool run_global_value(const code_cache::Form& f, const code_cache::Statement& s,
                                                    uint32_t end) {
    memory::Buffer* values = context::global_buffer;
    return s.max_index < values->used() / sizeof(Cell) && global_statement(f, s, end, cells::of(values));
}
// The same, the global values g within the statement's reach.
[[gnu::always_inline]] inline bool global_statement(const code_cache::Form& f, const code_cache::Statement& s,
                                                    uint32_t end, Cell* g) {
    if (s.counter && add_in_place<true, false>(f, s, end, g[slot_index(s.first)], g)) [[likely]]
        return true;
    Cell v;
    if (!global_value(f, s, g, v)) return false;
    if (s.lookahead && s.next < end && infix_op_at(s.after)) return false;
    if (s.sets) g[slot_index(s.target)] = v;
    *stack::values.args = v;
    return true;
}

// Runs a value statement; false (having stored nothing) where the walker must take it. Each
// word is read where the walker reads it, and must mean what it meant when compiled: the first
// operand a plain value (eval_single, or eval_path for a field path), each operator word the
// same op! and each operand a number whose answer the operator's action or native would give
// (number_operation), the word after the statement no operator (infix_loop's look-ahead), the
// target a slot that context::set, or eval_path for a field path of an object without change
// hooks, stores into directly.
// The value of a statement's operand and operators (first_value for all but the set and the
// look-ahead), or false where the walker must evaluate it.
inline bool first_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v);

// The cell an index path reaches, as eval_path's steps reach it: the path unchanged since
// compiled (its token), its word holding a block, each step an integer (or a get-word holding
// one) in the block's range. For a set-path's target (set), the last holder must also be one
// that no owner watches and that is no compiled code (the block's poke would run the owner's
// code, or drop the block's form, which moves the forms). Else null, having done nothing.
// vector_at: the same walk with a vector as the last holder (and its element's position p).
// g: the global values, when the path's words are all global ones within their reach (a
// statement of the global lane); else null, and each word is read through its binding.
template <bool vector>
[[gnu::always_inline]] inline const Cell* index_walk(const code_cache::Form& f, uint32_t k, bool set, int64_t& p,
                                                     const Cell* g) {
    const code_cache::IndexPath& ip = f.indexes[k];
    if (!code_cache::token_holds(ip.path, ip.form, ip.serial, ip.checked)) return nullptr;
    const Cell* cur = g ? &g[slot_index(ip.first)] : context::bound_slot(ip.first);
    if (!cur) return nullptr;
    for (uint32_t i = 0; i < ip.steps; ++i) {
        const Cell* element = &ip.step[i];
        if (cell::is(*element, T_get_word)) {
            element = g ? &g[slot_index(*element)] : context::bound_slot(*element);
            if (!element) return nullptr;
        }
        bool last = i + 1 == ip.steps;
        uint32_t holder = vector && last ? uint32_t(T_vector) : uint32_t(T_block);
        if (!cell::is(*element, T_integer) || !cell::is(*cur, holder)) return nullptr;
        int32_t n = integer::get(*element);
        memory::Buffer* b = memory::buffer(series::node_of(*cur));
        uint32_t unit = holder == T_block ? uint32_t(sizeof(Cell)) : (b->unit() ? b->unit() : 1);
        p = int64_t(series::position_of(*cur)) + (n > 0 ? int64_t(n) - 1 : int64_t(n));
        if (n == 0 || p < 0 || p >= int64_t(b->used() / unit)) return nullptr;
        if (set && last && (b->flags & (memory::owned | memory::has_form))) return nullptr;
        if (vector && last) return cur;
        cur = cells::of(b) + p;
    }
    return cur;
}
[[gnu::always_inline]] inline Cell* index_cell(const code_cache::Form& f, uint32_t k, bool set, const Cell* g = nullptr) {
    int64_t p = 0;
    return const_cast<Cell*>(index_walk<false>(f, k, set, p, g));
}
[[gnu::always_inline]] inline const Cell* vector_at(const code_cache::Form& f, uint32_t k, bool set, int64_t& p,
                                                    const Cell* g = nullptr) {
    return index_walk<true>(f, k, set, p, g);
}

// Vector elements read and written in place: those of integer! and float! (and percent!)
// elements, which the vector's pick and poke convert without raising.
inline bool plain_elements(uint32_t type) { return type == T_integer || type == T_float_ || type == T_percent; }

// A vector's element reached by an index path (vector_at), as the vector's pick boxes it.
[[gnu::noinline]] bool vector_value(const code_cache::Form& f, uint32_t k, Cell& v, const Cell* g) {
    int64_t p = 0;
    const Cell* holder = vector_at(f, k, false, p, g);
    if (!holder || !plain_elements(vector::element_type(*holder))) return false;
    v = vector::element_value(vector::element_at(*holder, uint64_t(p)), vector::width(*holder),
                              vector::element_type(*holder));
    return true;
}

// An index path's value as eval_path reads it (index_cell), a function at the end excepted,
// which the walker would call; else a vector's element (vector_value). Else false.
// index_value_in: the same inline, for the rich lane's operands (numeric code's inner steps).
[[gnu::always_inline]] inline bool index_value_in(const code_cache::Form& f, uint32_t k, Cell& v, const Cell* g) {
    const Cell* cur = index_cell(f, k, false, g);
    if (!cur) return vector_value(f, k, v, g);
    if (called_by_path(cell::type(*cur))) return false;
    v = *cur;
    return true;
}
[[gnu::noinline]] bool index_value(const code_cache::Form& f, uint32_t k, Cell& v, const Cell* g) {
    return index_value_in(f, k, v, g);
}

// A set-path's store of v through an index path, as the holder's poke stores it: into a
// block's cell (index_cell), or a vector's element of a value of its element type (vector_at).
// The native stack is checked first, as the walker's set-path checks it. false, having done
// nothing, where the walker must store.
[[gnu::noinline]] bool index_store(const code_cache::Form& f, uint32_t k, const Cell& v) {
    if (Cell* slot = index_cell(f, k, true)) {
        check_depth();
        *slot = v;
        return true;
    }
    int64_t p = 0;
    const Cell* holder = vector_at(f, k, true, p);
    uint32_t type = holder ? vector::element_type(*holder) : 0;
    if (!holder || !plain_elements(type) || cell::type(v) != type) return false;
    check_depth();
    vector::set_element(vector::element_at(*holder, uint64_t(p)), v, vector::width(*holder), type);
    return true;
}

// A paren's sub-statement: the paren unchanged since compiled (its token), then its value as
// the walker's run of the paren would leave it.
[[gnu::noinline]] bool paren_value(const code_cache::Form& f, uint32_t sub, Cell& v) {
    const code_cache::Statement& s = f.statements[sub - 1];
    return code_cache::token_holds(s.paren, s.paren_form, s.paren_serial, s.paren_checked) && first_value(f, s, v);
}
// paren_value for a paren of the global lane (its statement's own words within g's reach).
[[gnu::noinline]] bool global_paren_value(const code_cache::Form& f, uint32_t sub, const Cell* g, Cell& v) {
    const code_cache::Statement& s = f.statements[sub - 1];
    return code_cache::token_holds(s.paren, s.paren_form, s.paren_serial, s.paren_checked) &&
           global_value_as<true>(f, s, g, v);
}
// first_value for a statement of the rich lane.
[[gnu::noinline]] bool rich_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v) {
    memory::Buffer* values = context::global_buffer;
    return s.max_index < values->used() / sizeof(Cell) && global_value_as<true>(f, s, cells::of(values), v);
}

// A statement's first operand, as eval_single (or eval_path for a field path) reads it; false where
// the walker must.
[[gnu::always_inline]] inline bool first_operand(const code_cache::Form& f, const code_cache::Statement& s, Cell& v) {
    using code_cache::Read;
    if (s.first_read == Read::field) {
        const Cell* holder;
        const Cell* slot = field_slot(f.fields[s.first_field], holder);
        if (!slot || cell::is(*slot, T_unset) || called_by_path(cell::type(*slot))) return false;
        v = *slot;
    } else if (s.first_read == Read::paren) {
        // A paren's value is whatever it leaves, a function included.
        if (!paren_value(f, s.first_sub, v)) return false;
    } else if (s.first_read == Read::index) {
        if (!index_value(f, s.first_sub, v)) return false;
    } else {
        const Cell* first = read_operand(s.first_read, s.first);
        if (!first) return false;
        v = *first;
        if (s.first_read != Read::constant) {
            uint32_t t = cell::type(v);
            if (in(t, ANY_FUNCTION) || t == T_unset) return false;
        }
    }
    return true;
}

[[gnu::always_inline]] inline bool first_value(const code_cache::Form& f, const code_cache::Statement& s, Cell& v) {
    using code_cache::Read;
    if (s.fast) return s.fast(f, s, v);
    if (s.rich) return rich_value(f, s, v);
    if (!first_operand(f, s, v)) return false;
    for (uint32_t i = 0; i < s.steps; ++i) {
        const code_cache::Step& step = f.steps[s.first_step + i];
        const Cell* op = op_value(step.word);
        if (!op || !cell::same_bits(*op, step.op)) return false;
        Cell computed;
        const Cell* right;
        if (step.right_read == Read::paren || step.right_read == Read::index) {
            // The walker's operator call evaluates it with the operator's frame in place, then
            // does the operation; nothing of that shows when neither raises.
            if (!(step.right_read == Read::paren ? paren_value(f, step.sub, computed) : index_value(f, step.sub, computed)))
                return false;
            right = &computed;
        } else {
            right = read_operand(step.right_read, step.right);
        }
        if (!right || !number_operation(step.operation, v, *right)) return false;
    }
    return true;
}

bool run_value(const code_cache::Form& f, const code_cache::Statement& s, uint32_t end) {
    using code_cache::Read;
    if (s.simple) return run_simple_value(f, s, end);
    Cell v;
    if (s.rich) {
        // run_global_value's way, for the rich lane.
        memory::Buffer* values = context::global_buffer;
        if (s.max_index >= values->used() / sizeof(Cell)) return false;
        Cell* g = cells::of(values);
        if (!global_value_as<true>(f, s, g, v)) return false;
        if (s.lookahead && s.next < end && infix_op_at(s.after)) return false;
        if (s.sets) g[slot_index(s.target)] = v;
        *stack::values.args = v;
        return true;
    }
    if (s.counter && s.first_read == Read::field) {
        // o/n: o/n + k: the path read and the set-path must reach the same field, of an object
        // without change hooks.
        const Cell *holder, *target_holder;
        Cell* slot = field_slot(f.fields[s.first_field], holder);
        if (slot && slot == field_slot(f.fields[s.target_field], target_holder) && !object::hooks_of(*target_holder) &&
            add_in_place<false, true>(f, s, end, *slot, nullptr))
            return true;
    }
    if (!first_value(f, s, v)) return false;
    if (s.lookahead && s.next < end && infix_op_at(s.after)) return false;
    if (s.sets) {
        Cell* slot;
        if (s.target_read == Read::field) {
            // A set-path checks the native stack as the walker's does.
            const Cell* holder;
            slot = field_slot(f.fields[s.target_field], holder);
            if (!slot || object::hooks_of(*holder)) return false;
            check_depth();
        } else if (s.target_read == Read::index) {
            if (!index_store(f, s.target_field, v)) return false;
            *stack::values.args = v;
            return true;
        } else {
            slot = direct_slot(s.target);
        }
        if (!slot) return false;
        *slot = v;
    }
    *stack::values.args = v;
    return true;
}

// run_value for a simple statement (s.simple): the same reads, checks and store, without the
// kinds of operand and target it cannot have.
[[gnu::always_inline]] inline bool run_simple_value(const code_cache::Form& f, const code_cache::Statement& s,
                                                    uint32_t end) {
    using code_cache::Read;
    if (s.counter) {
        // The set's slot, which for the same word is the one its read finds.
        Cell* slot = direct_slot(s.target);
        if (slot && add_in_place<false, false>(f, s, end, *slot, nullptr)) return true;
    }
    const Cell* first = read_operand(s.first_read, s.first);
    if (!first) return false;
    Cell v = *first;
    if (s.first_read != Read::constant) {
        uint32_t t = cell::type(v);
        if (in(t, ANY_FUNCTION) || t == T_unset) return false;
    }
    for (uint32_t i = 0; i < s.steps; ++i) {
        const code_cache::Step& step = f.steps[s.first_step + i];
        const Cell* op = op_value(step.word);
        if (!op || !cell::same_bits(*op, step.op)) return false;
        const Cell* right = read_operand(step.right_read, step.right);
        if (!right || !number_operation(step.operation, v, *right)) return false;
    }
    if (s.lookahead && s.next < end && infix_op_at(s.after)) return false;
    if (s.sets) {
        Cell* slot = direct_slot(s.target);
        if (!slot) return false;
        *slot = v;
    }
    *stack::values.args = v;
    return true;
}

// ---- expression statements ----
// An expression statement runs as the walker's expression would, its calls as call_as makes
// them. Until code has run, a check that fails leaves the whole statement to the walker; once
// a call has run, the walker goes on from the exact place (the rest of a call's arguments, the
// rest of an operator's call, the infix loop after a value, the look-ahead), with what was
// evaluated so far in place. A call may also change the block or the paren it stands in (the
// rest is the walker's, reading the cells as they are now), leave an exit pending (the
// statement stops where the walker's would), or switch tracing on (the walker, which traces,
// goes on).

// How a part ended: failed having done nothing, done as compiled (its value pushed, at its
// compiled end), or finished by the walker (its value pushed; the position where the walker
// ended, from which the enclosing parts go on with the walker too).
enum class Ran : uint8_t { failed, done, walked };

// Where a part's cells are: the block with the form (found again by its serial after code
// ran), the cells the positions count in (the block, or a paren in it, whose token must then
// still hold) and the end the walker's run of them has.
// epoch: the cache's epoch when the statement began; while it has not moved, no form was
// made or dropped, so the form (and a paren's token) still holds, at the same address.
struct Where {
    Node code;
    code_cache::Epoch serial;
    Node cells_of;
    uint32_t end;
    code_cache::Epoch epoch;
    Node paren = 0;
    uint32_t paren_form = 0;
    code_cache::Epoch paren_serial = 0;
    const code_cache::Form* form = nullptr;  // the form at epoch, when known
};

// The form of the part, found again only when the epoch has moved (its caller has made sure it
// still holds, as still tells).
inline const code_cache::Form* form_in(const Where& w) {
    return w.form && code_cache::epoch == w.epoch ? w.form : form_of(w.code);
}

// The form again after code ran (f: where it was), or null when the compiled rest no longer
// holds.
// The block's form found again after code moved the epoch, while it is still the one compiled
// from (its serial) and tracing is off; else null.
[[gnu::noinline]] const code_cache::Form* form_found_again(Node code, code_cache::Epoch serial) {
    const code_cache::Form* now = form_of(code);
    return now && now->serial == serial && !trace::active ? now : nullptr;
}
inline const code_cache::Form* still(const Where& w, const code_cache::Form* f) {
    if (code_cache::epoch == w.epoch && !trace::active) [[likely]] return f;
    f = form_found_again(w.code, w.serial);
    return f && (!w.paren || code_cache::token_valid(w.paren, w.paren_form, w.paren_serial)) ? f : nullptr;
}
// still for a statement of the block itself (no paren), from what was read of its form
// before the code ran.
inline const code_cache::Form* form_after(const code_cache::Form* f, Node code, code_cache::Epoch serial,
                                          code_cache::Epoch epoch) {
    if (epoch == code_cache::epoch && !trace::active) [[likely]] return f;
    return form_found_again(code, serial);
}

Ran run_expr(const Where& w, uint32_t n, uint32_t& next);
inline Ran run_lone_call(const Where& w, const code_cache::Statement& t, uint32_t& next);

// The arguments of a call whose arguments run code, fetched as fetch_and_run fetches them, its
// frame pushed (slot: the function's cell): each argument in turn, checked for its type at
// once. Gives false when the walker finished the call (fetch_and_run with the arguments so far
// in place, from where the compiled run could not go on), or left an exit pending; next is
// then where it ended. failed: nothing had run yet, and the frame is popped again.
[[gnu::noinline]] bool fetch_code_args(const Where& w, uint32_t k, Cell* slot, const Cell& label, uint32_t& next,
                                       bool& failed) {
    const code_cache::Form* f = form_in(w);
    uint32_t first = f->calls[k].first_arg, fixed = f->calls[k].fixed;
    bool ran = false;
    failed = false;
    // Nothing has run: the frame goes, and the walker takes the whole call.
    auto undo = [&] {
        stack::drop_frame();
        stack::values.top = slot;
        failed = true;
        return false;
    };
    for (uint32_t i = 0; i < fixed; ++i) {
        code_cache::CallArg a = f->call_args[first + i];
        bool value = f->statements[a.statement - 1].shape == code_cache::Shape::value;
        uint32_t p;
        Ran r;
        if (value) {
            const code_cache::Statement& s = f->statements[a.statement - 1];
            Cell v;
            r = any_value(*f, s, v) && !(s.lookahead && infix_op_at(s.after)) ? Ran::done : Ran::failed;
            if (r == Ran::done) stack::push(v);
            p = s.next;
        } else if (const code_cache::Statement& s = f->statements[a.statement - 1]; lone_call(s)) {
            r = run_lone_call(w, s, p);
        } else {
            r = run_expr(w, a.statement, p);
        }
        if (r == Ran::failed) {
            if (!ran) return undo();
            next = fetch_and_run<false>(*slot, w.cells_of, a.pos, w.end, &label, CallHow{}, i);
            return false;
        }
        if (!value) ran = true;
        if (stack::exiting()) {
            next = p;
            return false;
        }
        Cell ts{T_typeset, a.ts1, a.ts2, a.ts3};
        if (!typeset::contains(ts, cell::type(stack::values.top[-1]))) {
            if (!ran) return undo();
            fire_expect_arg(stack::values.top[-1], a.symbol, &label);
        }
        if (ran && (r == Ran::walked || !(f = still(w, f)))) {
            next = fetch_and_run<false>(*slot, w.cells_of, p, w.end, &label, CallHow{}, i + 1);
            return false;
        }
    }
    return true;
}

// A call of the form's list: the head word must still hold the function, the path be
// unchanged. Arguments that run no code are evaluated first (any failure: nothing has
// happened, failed), each of the type its spec item takes; then the frame is made as call_as
// and fetch_and_run make it, and the call runs; its value is left pushed.
Ran run_call(const Where& w, uint32_t k, uint32_t& next) {
    constexpr uint32_t max_args = 8;
    const code_cache::Form* f = form_in(w);
    const code_cache::Call& c = f->calls[k];
    if (trace::active || (c.path && !code_cache::token_holds(c.path, c.path_form, c.path_serial, c.path_checked)))
        return Ran::failed;
    const Cell* held = context::bound_slot(c.head);
    if (!held || !cell::same_bits(*held, c.fn)) return Ran::failed;
    Cell argv[max_args];
    bool code_args = c.runs_code;
    if (!code_args) {
        for (uint32_t i = 0; i < c.args; ++i) {
            const code_cache::CallArg& a = f->call_args[c.first_arg + i];
            const code_cache::Statement& s = f->statements[a.statement - 1];
            if (!any_value(*f, s, argv[i]) || (s.lookahead && infix_op_at(s.after))) return Ran::failed;
            Cell ts{T_typeset, a.ts1, a.ts2, a.ts3};
            if (!typeset::contains(ts, cell::type(argv[i]))) return Ran::failed;
        }
    }
    // What the call needs, read before any code runs (it may move the form).
    Cell fn = c.fn, label = c.head;
    uint32_t fixed = c.fixed, args = c.args, image = c.image, slots = c.slots, first_arg = c.first_arg;
    uint32_t call_next = c.next, used = c.refinements;
    uint8_t refinement[4], refinement_at[4];
    if (used) {
        std::copy_n(c.refinement, 4, refinement);
        std::copy_n(c.refinement_at, 4, refinement_at);
    }
    check_depth();
    Cell* slot = stack::push(fn);
    bool is_function = cell::is(fn, T_function);
    stack::push_frame(is_function ? stack::interp_function : stack::interp_native, &label);
    if (code_args) {
        bool failed;
        if (!fetch_code_args(w, k, slot, label, next, failed)) {
            if (failed) return Ran::failed;
            end_call(slot);
            return Ran::walked;
        }
        f = form_in(w);
        if (is_function) stack::push_n(f->images.data() + image, slots);
    } else if (is_function) {
        stack::push_n(argv, fixed);
        stack::push_n(f->images.data() + image, slots);
        for (uint32_t i = fixed; i < args; ++i) stack::values.args[f->call_args[first_arg + i].slot] = argv[i];
    } else {
        stack::push_n(argv, args);
    }
    if (stack::values.top == stack::values.args) stack::reserve();  // the result cell
    if (is_function) {
        call_function(fn, &label);
    } else if (cell::is(fn, T_native) && function::entry_index(fn) == natives::index::return_ &&
               ends_body(w.cells_of, w.end, call_next, stack::depth() - 1)) {
        // A return that ends its function's body leaves its value as the body's last value:
        // the function ends with it just as when the native's exit travels to it.
    } else if (!used) {
        run_entry(fn, no_refinements_given);
    } else {
        int32_t refinements[32];
        std::fill_n(refinements, 32, -1);
        for (uint32_t j = 0; j < used; ++j) refinements[refinement[j]] = refinement_at[j];
        run_entry(fn, refinements);
    }
    end_call(slot);
    next = call_next;
    return Ran::done;
}

// A term that runs code (a call, or a paren whose expression has calls), its value pushed;
// next: the position after a call (a paren ends after its own cell, which the caller knows).
[[gnu::noinline]] Ran run_paren_term(const Where& w, uint32_t sub);
// (Inline: a call goes straight to run_call, one C++ call less on every compiled call.)
[[gnu::always_inline]] inline Ran run_code_term(const Where& w, code_cache::Read read, uint32_t sub, uint32_t& next) {
    if (read == code_cache::Read::call) return run_call(w, sub, next);
    return run_paren_term(w, sub);
}
// A paren, run as eval_frameless runs it: its result cell, its own `current`.
Ran run_paren_term(const Where& w, uint32_t sub) {
    const code_cache::Statement& ps = form_in(w)->statements[sub - 1];
    if (!code_cache::token_holds(ps.paren, ps.paren_form, ps.paren_serial, ps.paren_checked) || os::interrupt_flag)
        return Ran::failed;
    Node pn = ps.paren;
    uint32_t at = ps.paren_at;
    check_depth();
    Cell* caller_args = stack::values.args;
    Cell* result = stack::reserve();
    stack::values.args = result;
    collector::RootNode keep(pn);
    uint32_t p;
    Ran r;
    {
        StatementPosition position(T_paren, pn, at);
        const code_cache::Form* f = form_in(w);
        const code_cache::Statement& t = f->statements[sub - 1];
        if (lone_call(t)) {
            // run_expr's way into the paren's cells, for its one call.
            Where inner{w.code, w.serial, t.paren, t.next, w.epoch, t.paren, t.paren_form, t.paren_serial, f};
            r = run_lone_call(inner, t, p);
        } else {
            r = run_expr(w, sub, p);
        }
    }
    if (r == Ran::failed) {
        stack::values.args = caller_args;
        stack::values.top = result;
        return Ran::failed;
    }
    *result = result[1];
    // Its code changed the paren: the walker's loop runs the rest of it.
    if (r == Ran::walked && !stack::exiting() && p < tail_index(pn)) {
        stack::values.top = result + 1;
        run_expressions_as<false, false>(T_paren, pn, p, tail_index(pn), result);
    }
    stack::values.args = caller_args;
    stack::values.top = result + 1;
    return Ran::done;
}

// Whether an operand is read by run_code_term.
inline bool runs_code(const code_cache::Form& f, code_cache::Read read, uint32_t sub) {
    return read == code_cache::Read::call ||
           (read == code_cache::Read::paren && f.statements[sub - 1].shape == code_cache::Shape::expression);
}

// The expression of statement n (a statement, a paren's, or a call's argument), its value
// pushed. A paren's is read in the paren's cells, up to the paren's tail.
Ran run_expr(const Where& outer, uint32_t n, uint32_t& next) {
    using code_cache::Read;
    const code_cache::Form* f = form_in(outer);
    // What the run needs of the statement, read before code runs: a recompile may replace it
    // meanwhile (its steps and sub-statements stay where they are).
    struct {
        code_cache::Read first_read;
        bool lookahead;
        uint32_t first_sub, first_step, steps, next;
        Cell after;
    } s;
    Where inner;
    const Where* wp = &outer;
    {
        const code_cache::Statement& t = f->statements[n - 1];
        s = {t.first_read, t.lookahead, t.first_sub, t.first_step, t.steps, t.next, t.after};
        if (t.paren) {
            inner = Where{outer.code, outer.serial, t.paren, t.next, outer.epoch, t.paren, t.paren_form, t.paren_serial, f};
            wp = &inner;
        }
    }
    const Where& w = *wp;
    Cell* start = stack::values.top;
    bool ran = false;  // code has run: a failed check hands the rest to the walker
    uint32_t p;
    // The walker's infix loop and look-ahead from position at, the value so far at start.
    auto walk_from = [&](uint32_t at) {
        next = stack::exiting() ? at : continue_infix(w.cells_of, at, clip(w.cells_of, w.end), start);
        stack::values.top = start + 1;
        return Ran::walked;
    };
    if (runs_code(*f, s.first_read, s.first_sub)) {
        // From where its first operator would be: after a call, where it ended; after a paren,
        // its cell's neighbour.
        if (s.first_read == Read::paren) p = s.steps ? f->steps[s.first_step].pos : s.next;
        Ran r = run_code_term(w, s.first_read, s.first_sub, p);
        if (r == Ran::failed) return Ran::failed;
        ran = true;
        f = still(w, f);
        if (r == Ran::walked || !f || stack::exiting()) return walk_from(p);
    } else {
        Cell v;
        if (!first_operand(*f, f->statements[n - 1], v)) return Ran::failed;
        stack::push(v);
    }
    for (uint32_t i = 0; i < s.steps; ++i) {
        code_cache::Step step = f->steps[s.first_step + i];
        const Cell* op = infix_op_at(step.word);
        if (!op || !cell::same_bits(*op, step.op)) {
            if (!ran) return stack::values.top = start, Ran::failed;
            return walk_from(step.pos);
        }
        if (runs_code(*f, step.right_read, step.sub)) {
            // fetch_and_run's way for an operator on an integer (every operator done here takes
            // one, so the left operand's check cannot fail): the right operand evaluated, then
            // the operation in place while both are integers and the answer one too, else the
            // operator called on the two. Anything else is the walker's.
            Cell fn = op_function(step.op);
            // (The operation compiled is the operator's: its op! checked above.)
            if (!cell::is(*start, T_integer) || step.operation == op_divide) {
                if (!ran) return stack::values.top = start, Ran::failed;
                return walk_from(step.pos);
            }
            check_depth();
            Cell* slot = start;
            stack::push(*slot);
            *slot = fn;
            Cell label = step.word;
            stack::push_frame(stack::interp_native, &label);
            stack::values.args = slot + 1;
            stack::values.top = slot + 2;
            uint32_t q = step.pos + 2;  // after a paren
            Ran r = run_code_term(w, step.right_read, step.sub, q);
            if (r == Ran::failed) q = eval_expression(w.cells_of, step.pos + 1, clip(w.cells_of, w.end), Infix::stop, Result::push);
            if (!stack::exiting() &&
                !(cell::is(slot[2], T_integer) && integer_operation(step.operation, slot[1], integer::get(slot[2]))))
                q = fetch_and_run<false>(*slot, w.cells_of, q, w.end, &label, CallHow{.infix = true}, 2);
            end_call(slot);
            ran = true;
            f = still(w, f);
            if (r != Ran::done || !f || stack::exiting()) return walk_from(q);
            continue;
        }
        Cell computed;
        const Cell* right;
        if (step.right_read == Read::paren || step.right_read == Read::index) {
            if (!(step.right_read == Read::paren ? paren_value(*f, step.sub, computed) : index_value(*f, step.sub, computed))) {
                if (!ran) return stack::values.top = start, Ran::failed;
                return walk_from(step.pos);
            }
            right = &computed;
        } else {
            right = read_operand(step.right_read, step.right);
        }
        if (!right || !number_operation(step.operation, *start, *right)) {
            if (!ran) return stack::values.top = start, Ran::failed;
            return walk_from(step.pos);
        }
    }
    if (s.lookahead && s.next < clip(w.cells_of, w.end) && infix_op_at(s.after)) {
        if (!ran) return stack::values.top = start, Ran::failed;
        return walk_from(s.next);
    }
    next = s.next;
    return Ran::done;
}

// An expression statement into the result cell (the argument base), as the walker's
// expression runs it; false, having done nothing, where the walker must take it.
// run_expr for a statement of one call and nothing after it (`append data x`, `r: f x`): the
// same steps without the operator loop.
[[gnu::always_inline]] inline Ran run_lone_call(const Where& w, const code_cache::Statement& t, uint32_t& next) {
    bool lookahead = t.lookahead;
    uint32_t after_at = t.next;
    Cell after = t.after;
    Cell* start = stack::values.top;
    uint32_t p;
    Ran r = run_code_term(w, code_cache::Read::call, t.first_sub, p);
    if (r == Ran::failed) return r;
    // After a call that ran as compiled, p is the statement's end.
    if (r == Ran::walked || !still(w, w.form) || stack::exiting() ||
        (lookahead && after_at < clip(w.cells_of, w.end) && infix_op_at(after))) {
        next = stack::exiting() ? p : continue_infix(w.cells_of, p, clip(w.cells_of, w.end), start);
        stack::values.top = start + 1;
        return Ran::walked;
    }
    next = after_at;
    return Ran::done;
}

// ---- lean native calls ----
// A statement of one call of a native or action without refinements (`append data i % 100`,
// `r: pick s 3`, `append s pick letters i % 26 + 1`) runs as run_expression runs it through
// run_lone_call and run_call, in fewer steps, while its arguments are values that run no code
// or lone calls of the same kind whose own arguments are such values.

// The entry of a native or action that a lean call may call, present in its table; else null.
// (A return that ends a body leaves it by its exit, as the walker's does: run_call's and
// return_in_place's ending without it give the same answer.)
inline natives::Entry lean_entry(const Cell& fn) {
    return cell::is(fn, T_native) || cell::is(fn, T_action) ? entry_of(fn) : nullptr;
}
inline bool lean_shape(const code_cache::Call& c) { return !c.refinements && !c.path && !cell::is(c.fn, T_function); }

// The call's arguments, values all, read into slot[1] on, above the function's cell, with
// nothing pushed: false when one fails a check (nothing has happened then).
[[gnu::always_inline]] inline bool lean_values(const code_cache::Form& f, const code_cache::Call& c, Cell* slot) {
    for (uint32_t i = 0; i < c.args; ++i) {
        const code_cache::CallArg& a = f.call_args[c.first_arg + i];
        const code_cache::Statement& t = f.statements[a.statement - 1];
        if (!any_value(f, t, slot[1 + i]) || (t.lookahead && infix_op_at(t.after))) return false;
        Cell ts{T_typeset, a.ts1, a.ts2, a.ts3};
        if (!typeset::contains(ts, cell::type(slot[1 + i]))) return false;
    }
    return true;
}

// The native's frame made over its function's cell at slot and the n arguments above it, as
// run_call makes it; then the native runs and its value is left at slot.
[[gnu::always_inline]] inline void lean_run(const Cell& fn, const Cell& label, natives::Entry e, Cell* slot,
                                            uint32_t n) {
    check_depth();
    *slot = fn;
    stack::values.top = slot + 1;
    stack::push_frame(stack::interp_native, &label);
    stack::values.top = slot + 1 + n;
    if (!n) stack::reserve();  // the result cell
    natives::Args args(no_refinements_given);
    e(args);
    end_call(slot);
}

// A lean call whose arguments include lone calls (c.runs_code): its frame is pushed first and
// each argument taken in turn, as fetch_code_args takes them; until a call has run, a failed
// check undoes the frame (0: the walker takes the statement), after one ran the walker goes on
// from the exact place (fetch_and_run with the arguments so far, continue_infix after a call
// followed by an operator). -1, having done nothing, for arguments of another kind. The value
// is left at slot, next set.
[[gnu::noinline]] int lean_code_args(const code_cache::Form& f, const code_cache::Call& c, natives::Entry e,
                                     Node code, uint32_t end, Cell* slot, uint32_t& next) {
    uint32_t n = c.args, room = n + 2;
    for (uint32_t i = 0; i < n; ++i) {
        const code_cache::Statement& t = f.statements[f.call_args[c.first_arg + i].statement - 1];
        if (t.shape == code_cache::Shape::value) continue;
        if (!lone_call(t) || t.paren) return -1;
        const code_cache::Call& inner = f.calls[t.first_sub];
        if (inner.runs_code || !lean_shape(inner) || !lean_entry(inner.fn)) return -1;
        room += inner.args + 2;
    }
    if (slot + room >= stack::values.end) return -1;
    Cell label = c.head;
    uint32_t call_next = c.next, first_arg = c.first_arg;
    code_cache::Epoch serial = f.serial, epoch = code_cache::epoch;
    const code_cache::Form* form = &f;  // found again after each call (form_after)
    check_depth();
    *slot = c.fn;
    stack::values.top = slot + 1;
    stack::push_frame(stack::interp_native, &label);
    bool ran = false;
    // The walker's fetch of the arguments from i on (those before are in place), then its call.
    auto walk_from = [&](uint32_t at, uint32_t i) {
        next = fetch_and_run<false>(*slot, code, at, end, &label, CallHow{}, i);
        end_call(slot);
        return 1;
    };
    for (uint32_t i = 0; i < n; ++i) {
        const code_cache::Form& cur = *form;
        code_cache::CallArg a = cur.call_args[first_arg + i];
        const code_cache::Statement& t = cur.statements[a.statement - 1];
        Cell* cell = stack::values.top;
        uint32_t p = t.next;
        if (t.shape == code_cache::Shape::value) {
            if (!any_value(cur, t, *cell) || (t.lookahead && infix_op_at(t.after))) {
                if (!ran) return stack::drop_frame(), stack::values.top = slot, 0;
                return walk_from(a.pos, i);
            }
            stack::values.top = cell + 1;
        } else {
            const code_cache::Call& inner = cur.calls[t.first_sub];
            const Cell* held = context::bound_slot(inner.head);
            if (!held || !cell::same_bits(*held, inner.fn) || !lean_values(cur, inner, cell)) {
                if (!ran) return stack::drop_frame(), stack::values.top = slot, 0;
                return walk_from(a.pos, i);
            }
            bool lookahead = t.lookahead;
            Cell after = t.after;
            lean_run(inner.fn, inner.head, lean_entry(inner.fn), cell, inner.args);
            ran = true;
            if (stack::exiting()) {
                next = p;
                end_call(slot);
                return 1;
            }
            form = form_after(form, code, serial, epoch);
            if (!form || (lookahead && p < clip(code, end) && infix_op_at(after))) {
                // run_lone_call's way on: an operator applied to the call's value, then the
                // rest of the arguments as the walker fetches them.
                p = continue_infix(code, p, clip(code, end), cell);
                stack::values.top = cell + 1;
                if (stack::exiting()) {
                    next = p;
                    end_call(slot);
                    return 1;
                }
                if (!typeset::contains(Cell{T_typeset, a.ts1, a.ts2, a.ts3}, cell::type(*cell)))
                    fire_expect_arg(*cell, a.symbol, &label);
                return walk_from(p, i + 1);
            }
        }
        Cell ts{T_typeset, a.ts1, a.ts2, a.ts3};
        if (!typeset::contains(ts, cell::type(*cell))) {
            if (!ran) return stack::drop_frame(), stack::values.top = slot, 0;
            fire_expect_arg(*cell, a.symbol, &label);
        }
    }
    natives::Args args(no_refinements_given);
    e(args);
    end_call(slot);
    next = call_next;
    return 1;
}

// The statement (s: a lone call), into the result cell: 1 when it ran, 0 (having done nothing)
// when the walker must take it, -1 (having done nothing) for run_call's general way: a
// function, refinements, arguments of another kind, return, a native the table lacks, the
// stack near its end.
[[gnu::always_inline]] inline int lean_call(const code_cache::Form& f, const code_cache::Statement& s, uint32_t type,
                                            Node code, uint32_t pos, uint32_t end, uint32_t& next) {
    const code_cache::Call& c = f.calls[s.first_sub];
    if (!lean_shape(c)) return -1;
    natives::Entry e = lean_entry(c.fn);
    Cell* slot = stack::values.top;
    if (!e || slot + c.args + 2 >= stack::values.end) return -1;
    const Cell* held = context::bound_slot(c.head);
    if (!held || !cell::same_bits(*held, c.fn)) return 0;
    if (!c.runs_code && !lean_values(f, c, slot)) return 0;
    // What the rest needs, read before the native runs (its code may move the form).
    Cell target = s.target, after = s.after;
    bool sets = s.sets, lookahead = s.lookahead;
    uint32_t call_next = c.next;
    code_cache::Epoch serial = f.serial, epoch = code_cache::epoch;
    {
        StatementPosition position(type, code, pos);
        if (c.runs_code) {
            if (int r = lean_code_args(f, c, e, code, end, slot, call_next); r <= 0) return r;
        } else {
            lean_run(c.fn, c.head, e, slot, c.args);
        }
        // run_lone_call's checks after the call: the form as it was, no exit, no operator after.
        next = call_next;
        if (!stack::exiting() &&
            (!form_after(&f, code, serial, epoch) || (lookahead && call_next < clip(code, end) && infix_op_at(after)))) {
            next = continue_infix(code, call_next, clip(code, end), slot);
            stack::values.top = slot + 1;
        }
        // The set is the statement's too: an error in it names the statement.
        if (sets && !stack::exiting()) {
            Cell value = *slot;
            if (cell::is(value, T_unset)) error::fire(err::script_need_value, target);
            context::set(target, value);
        }
    }
    *stack::values.args = *slot;
    stack::values.top = slot;
    return 1;
}

// lone: a statement of one call alone (lone_call tells).
template <bool lone>
bool run_expression(uint32_t n, uint32_t type, Node code, uint32_t pos, uint32_t end, uint32_t& next) {
    if (trace::active) return false;
    const code_cache::Form* f = form_of(code);
    const code_cache::Statement& s = f->statements[n - 1];
    if constexpr (lone) {
        if (int r = lean_call(*f, s, type, code, pos, end, next); r >= 0) return r;
    }
    bool sets = s.sets;
    Cell target = s.target;
    StatementPosition position(type, code, pos);
    Cell* start = stack::values.top;
    Ran r;
    if constexpr (lone) r = run_lone_call(Where{code, f->serial, code, end, code_cache::epoch, 0, 0, 0, f}, s, next);
    else r = run_expr(Where{code, f->serial, code, end, code_cache::epoch, 0, 0, 0, f}, n, next);
    if (r == Ran::failed) return false;
    if (sets && !stack::exiting()) {
        Cell value = *start;
        if (cell::is(value, T_unset)) error::fire(err::script_need_value, target);
        context::set(target, value);
    }
    *stack::values.args = *start;
    stack::values.top = start;
    return true;
}

// A conditional whose condition runs code: the native's frame pushed first, as call pushes
// it, then the condition evaluated in it; the native runs with its blocks as conditional_rest
// gives them, or, once the condition's code has changed what the compiled statement was made
// from, fetch_and_run goes on from the condition's end. false, having done nothing, where the walker must take the statement.
[[gnu::noinline]] bool run_code_conditional(const code_cache::Form& f, const code_cache::Statement& s, uint32_t type,
                                            Node code, uint32_t pos, uint32_t end, uint32_t& next) {
    if (trace::active) return false;
    Cell fn = s.native, word = s.head, after = s.after;
    uint32_t condition = s.condition, blocks_at = s.blocks_at, blocks = s.blocks;
    bool lookahead = s.lookahead;
    Where w{code, f.serial, code, end, code_cache::epoch, 0, 0, 0, &f};
    StatementPosition position(type, code, pos);
    check_depth();
    Cell* result = stack::values.args;
    Cell* slot = stack::push(fn);
    stack::push_frame(stack::interp_native, &word);
    uint32_t q;
    Ran r = run_expr(w, condition, q);
    if (r == Ran::failed) {
        stack::drop_frame();
        stack::values.top = slot;
        return false;
    }
    // The blocks are taken as written only while the word after them holds no operator, which
    // the condition's code may have given it (the walker then fetches the last block as an
    // argument, which the operator takes).
    if (r == Ran::walked || !still(w, &f) || stack::exiting() || (lookahead && infix_op_at(after))) {
        next = conditional_rest(slot, fn, code, q, end, word);
        if (!stack::exiting()) next = continue_infix(code, next, clip(code, end), slot);
    } else {
        for (uint32_t i = 0; i < blocks; ++i) stack::push(at(code, blocks_at + i));
        int32_t no_refinements[1] = {-1};
        natives::Args args(no_refinements);
        natives::table[function::entry_index(fn)](args);
        end_call(slot);
        // The code may have given the word after the statement an operator (run_conditional).
        if (lookahead && !stack::exiting() && infix_op_at(after))
            next = continue_infix(code, next, clip(code, end), slot);
    }
    *result = *slot;
    stack::values.top = slot;
    return true;
}

// Compiles statement n at pos: a value statement, or else a conditional, or else an expression.
void compile_statement(Node code, uint32_t pos, uint32_t n, bool alone = false) {
    compile_value_statement(code, pos, n, alone);
    auto left = [&] {
        code_cache::Form* f = form_of(code);
        return f && f->statements[n - 1].shape == code_cache::Shape::walker && f->statements[n - 1].compiles < 255;
    };
    if (left()) compile_conditional(code, pos, n);
    if (left()) compile_expression(code, pos, n);
}

// Compiles the statement at pos, the first time the form meets it.
[[gnu::noinline]] uint32_t first_compile(Node code, uint32_t pos, bool alone = false) {
    form_of(code)->statements.emplace_back();
    uint32_t n = static_cast<uint32_t>(form_of(code)->statements.size());
    compile_statement(code, pos, n, alone);
    code_cache::Form& f = *form_of(code);
    if (f.statements[n - 1].shape == code_cache::Shape::walker) {
        // Its entry goes unless sub-statements were added after it.
        if (n == f.statements.size()) f.statements.pop_back();
        n = code_cache::walker_statement;
    }
    f.at[pos] = n;
    return n;
}

// A miss of statement n at pos, counted after its runner did nothing (the form is where it was).
[[gnu::noinline]] void missed_at(Node code, uint32_t pos, uint32_t n) {
    missed(code, pos, form_of(code)->statements[n - 1], n);
}

// run_code_statement for a conditional, whose runner is large: out of line.
[[gnu::noinline]] bool run_conditional_statement(const code_cache::Form& f, uint32_t n, uint32_t type, Node code,
                                                 uint32_t pos, uint32_t end, uint32_t& next) {
    const code_cache::Statement& s = f.statements[n - 1];
    if (s.next > end) return false;
    if (run_conditional(f, s, type, code, pos, end, next)) return true;
    missed_at(code, pos, n);
    return false;
}

// A compiled statement that runs code (a conditional or an expression statement), statement
// n of form f at pos: false, having done nothing (a miss), where the walker must take it. An
// expression statement goes to its runner from here, one C++ call less on every statement of
// calls.
[[gnu::always_inline]] inline bool run_code_statement(const code_cache::Form& f, uint32_t n, uint32_t type, Node code,
                                                      uint32_t pos, uint32_t end, uint32_t& next) {
    const code_cache::Statement& s = f.statements[n - 1];
    if (s.shape == code_cache::Shape::conditional) return run_conditional_statement(f, n, type, code, pos, end, next);
    if (s.next > end) return false;
    if (run_any_expression(s, n, type, code, pos, end, next)) return true;
    missed_at(code, pos, n);
    return false;
}

bool run_compiled(uint32_t type, Node code, uint32_t pos, uint32_t end, uint32_t& next) {
    code_cache::Form* f = form_of(code);
    uint32_t n = f->at[pos];
    if (!n) {
        n = first_compile(code, pos);
        if (n == code_cache::walker_statement) return false;
        f = form_of(code);
    }
    code_cache::Statement& s = f->statements[n - 1];
    if (s.next > end) return false;
    if (s.shape == code_cache::Shape::value) {
        if (run_value(*f, s, end)) {
            next = s.next;
            return true;
        }
    } else if (s.shape == code_cache::Shape::conditional) {
        if (run_conditional(*f, s, type, code, pos, end, next)) return true;
    } else if (s.shape == code_cache::Shape::expression) {
        if (run_any_expression(s, n, type, code, pos, end, next)) return true;
        f = form_of(code);
        if (!f) return false;
        missed(code, pos, f->statements[n - 1], n);
        return false;
    } else {
        return false;
    }
    missed(code, pos, s, n);
    return false;
}

bool value_at(Node code, uint32_t pos, uint32_t end, uint32_t& next) {
    memory::Buffer* b = memory::buffer(code);
    if (!(b->flags & memory::has_form) || trace::active || walker_only || !stack::room()) return false;
    code_cache::Form* f = code_cache::linked_form(code, b->spare);
    if (!f || pos >= f->at.size()) return false;
    uint32_t n = f->at[pos];
    if (n == code_cache::walker_statement) return false;
    if (!n) {
        n = first_compile(code, pos, true);
        if (n == code_cache::walker_statement) return false;
        f = form_of(code);
    }
    code_cache::Statement& s = f->statements[n - 1];
    if (s.shape != code_cache::Shape::value || s.next > end) return false;
    if (!run_any_value(*f, s, end)) {
        missed(code, pos, s, n, true);
        return false;
    }
    next = s.next;
    return true;
}

// A compiled statement left to the walker: after two misses it is compiled again from the
// values now; after four compiles it stays walked.
void missed(Node code, uint32_t pos, code_cache::Statement& s, uint32_t n, bool alone) {
    if (++s.misses >= 2) {
        if (s.compiles >= 4) s.shape = code_cache::Shape::walker;
        else compile_statement(code, pos, n, alone);
    }
}

// A compiled conditional's call once its condition is pushed in the native's frame (slot: the
// native's cell): the blocks pushed as they stand and the native run, as fetch_and_run pushes
// blocks that no operator follows and runs the native (the condition takes any value, the
// blocks are blocks); any other shape takes fetch_and_run's way from the condition on. The
// frame popped; gives the position after the call.
uint32_t conditional_rest(Cell* slot, const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell& word) {
    if (!stack::exiting()) {
        uint32_t blocks = function::entry_index(fn) == natives::index::either ? 2 : 1;
        Cursor c = cursor(code, end);
        // A block that an operator may follow is an expression: call's way decides.
        bool plain = pos + blocks <= c.limit && (pos + blocks == c.limit || !cell::is(c.cells[pos + blocks], T_word));
        for (uint32_t k = 0; plain && k < blocks; ++k) plain = cell::is(c.cells[pos + k], T_block);
        if (plain) {
            for (uint32_t k = 0; k < blocks; ++k) stack::push(c.cells[pos + k]);
            pos += blocks;
            int32_t no_refinements[1] = {-1};
            natives::Args args(no_refinements);
            natives::table[function::entry_index(fn)](args);
        } else {
            pos = fetch_and_run<false>(*slot, code, pos, end, &word, CallHow{}, 1);
        }
    }
    end_call(slot);
    return pos;
}

// The values eval_single leaves to eval_other: every type that needs more than a push.
inline bool needs_work(uint32_t t) {
    switch (t) {
    case T_paren: case T_lit_word: case T_get_word: case T_native: case T_action: case T_function:
    case T_routine: case T_op: case T_path: case T_lit_path: case T_get_path: case T_set_path: case T_issue:
        return true;
    default:
        return false;
    }
}

[[gnu::noinline]] uint32_t eval_other(Cell v, Node code, uint32_t pos, uint32_t end);

// Evaluates the single value at pos (no infix); pushes the result; gives the next position.
// Words, set-words and values that stand for themselves are done here; the rest, rarer,
// out of line, which keeps this path short.
template <bool traced>
inline uint32_t eval_single(Cell v, Node code, uint32_t pos, uint32_t end) {
    ++pos;
    switch (cell::type(v)) {
    case T_word: {
        const Cell* value = context::get(v);
        uint32_t t = cell::type(*value);
        if (called_prefix(t)) {
            Cell f = *value;
            return call(f, code, pos, end, &v);
        }
        if (t == T_unset) error::fire(err::script_no_value, v);
        if (t == T_op) error::fire(err::script_no_op_arg, v);
        stack::push(*value);
        if constexpr (traced) trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    }
    case T_set_word:
        // A set-word after another one (a: b: 1): set by its own expression's evaluation, one
        // native level deeper per set-word of the chain, so it is guarded like any nesting.
        check_depth();
        return eval_expression(code, pos - 1, end, Infix::apply, Result::push);
    default:
        if (needs_work(cell::type(v))) return eval_other(v, code, pos, end);
        stack::push(v);
        if constexpr (traced) trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    }
}

uint32_t eval_other(Cell v, Node code, uint32_t pos, uint32_t end) {
    switch (cell::type(v)) {
    case T_paren:
        eval_frameless(v);  // no frame: the paren's value is left pushed
        return pos;
    case T_lit_word:
        cell::set_type(v, T_word);
        stack::push(v);
        if (trace::active) [[unlikely]] trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    case T_get_word:
        stack::push(*context::get(v));
        if (trace::active) [[unlikely]] trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    case T_native:
    case T_action:
    case T_function:
    case T_routine:
        return call(v, code, pos, end, nullptr);
    case T_op:
        error::fire(err::internal_not_done);
    case T_path:
        return eval_path(v, code, pos, end, PathMode::evaluate);
    case T_lit_path:
        cell::set_type(v, T_path);
        stack::push(v);
        if (trace::active) [[unlikely]] trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    case T_get_path:
        return eval_path(v, code, pos, end, PathMode::get);
    case T_set_path: {
        // No frame, as for set-words: error reports name the expression `set-path` from the
        // code position. The value is the result, left where the expression put it.
        check_depth();  // a chain of set-paths nests as deep as it is long
        end = clip(code, end);
        if (pos >= end) error::fire(err::script_need_value, v);
        Cell* value = stack::values.top;
        pos = eval_expression(code, pos, end, Infix::apply, Result::push);
        if (!stack::exiting()) {
            stack::values.top = value + 1;
            eval_path(v, code, pos, end, PathMode::set);
            stack::values.top = value + 1;
            if (trace::active) [[unlikely]] trace::fire(trace::ev_set, code, T_block, pos, value, &v);
        }
        return pos;
    }
    case T_issue:
        // #system and #system-global before a block mark code meant for compilation.
        if (pos < clip(code, end) && cell::is(at(code, pos), T_block) &&
            (symbol::resolve(word::symbol_of(v)) == symbol::resolve(words::symbols::system) ||
             symbol::resolve(word::symbol_of(v)) == symbol::resolve(words::symbols::system_global)))
            error::fire(err::internal_kov_system);
        stack::push(v);
        return pos;
    default:
        stack::push(v);
        return pos;
    }
}


}  // namespace

namespace {
[[gnu::noinline]] uint32_t expression_traced(Node code, uint32_t pos, uint32_t end, Infix infix, Result result);

// The infix operators after a value (at start, the top of the stack), applied left to right
// from pos while the word there holds an op!; gives the position after the last one.
template <bool traced>
[[gnu::always_inline]] inline uint32_t infix_loop(Node code, uint32_t pos, uint32_t end, Cell* start) {
    while (!stack::exiting()) {
        Cursor c = cursor(code, end);
        end = c.limit;
        if (pos >= end) return pos;
        Cell name = c.cells[pos];
        const Cell* value = infix_op_at(name);
        if (!value) return pos;
        stack::values.top = start + 1;  // the value just produced is the left operand
        if constexpr (traced) trace::operator_found(code, pos);
        pos = call(op_function(*value), code, pos + 1, end, &name, CallHow{.infix = true});
    }
    return pos;
}

// The untraced instance, for a compiled statement whose walker would be the untraced one.
[[gnu::noinline]] uint32_t continue_infix(Node code, uint32_t pos, uint32_t end, Cell* start) {
    return infix_loop<false>(code, pos, end, start);
}

// One expression; the traced instance fires its events, the other has none to test but the
// switch, on which it hands the expression to the traced one.
template <bool traced>
uint32_t expression(Node code, uint32_t pos, uint32_t end, Infix infix, Result result) {
    if constexpr (!traced)
        if (trace::active) [[unlikely]] return expression_traced(code, pos, end, infix, result);
    Cell* start = stack::values.top;
    if constexpr (traced) trace::fetch(code, pos);
    // The code's cells are read through one look-up, made again after anything that may
    // move them (evaluating a value, calling an operator).
    Cursor c = cursor(code, end);
    Cell v = c.cells[pos];
    // A set-word starting the expression takes the value of the whole expression after it,
    // infix operators included; it is set here, without another level of evaluation (set-words
    // that follow it take eval_single's way).
    Cell target;
    bool setting = cell::is(v, T_set_word);
    if (setting) {
        target = v;
        end = c.limit;
        if (++pos >= end) error::fire(err::script_need_value, target);
        v = c.cells[pos];
        infix = Infix::apply;
        if constexpr (traced) trace::set_word(code, pos);
    }
    pos = eval_single<traced>(v, code, pos, end);
    if (infix == Infix::apply) pos = infix_loop<traced>(code, pos, end, start);
    if (setting && !stack::exiting()) {
        Cell value = *start;
        if (cell::is(value, T_unset)) error::fire(err::script_need_value, target);
        context::set(target, value);
    }
    if constexpr (traced) if (setting) trace::set(code, pos, start, target);
    if (result == Result::to_base) {
        *stack::values.args = *start;
        stack::values.top = start;
    }
    return pos;
}

uint32_t expression_traced(Node code, uint32_t pos, uint32_t end, Infix infix, Result result) {
    return expression<true>(code, pos, end, infix, result);
}
}  // namespace

uint32_t eval_expression(Node code, uint32_t pos, uint32_t end, Infix infix, Result result) {
    return expression<false>(code, pos, end, infix, result);
}

// ---- paths -----------------------------------------------------------------------------------------

namespace {

// After an assignment through a path changed the value at chain step `changed` (the values
// reached are chain[0], chain[2] ..., each followed by the element applied to it): a value
// held in its cell (a date, a time, a pair ...) was changed on the stack only, so it is
// stored into the value it was read from, through that value's own path assignment (which
// tells an object's change hook or a series' owner), and so on back while the holder is such
// a value too; the first one goes back into the path's word.
void store_back(Cell* chain, uint32_t changed, Cell& first, Cell& path) {
    for (uint32_t k = changed;; --k) {
        if (!scalar::held_by_value(cell::type(chain[2 * k]))) return;
        if (k == 0) {
            context::set(first, chain[0]);
            return;
        }
        Cell* holder = chain + 2 * (k - 1);
        auto fn = actions::lookup<actions::slot::eval_path>(cell::type(*holder));
        PathStep back{.element = holder + 1, .value = chain + 2 * k, .path = &path};
        fn(holder, back);
    }
}

// The path as far as its element at index `last`: a new path of the same kind, for a report
// that names the step that failed.
[[gnu::noinline]] Cell path_through(const Cell& path, uint32_t last) {
    Node p = series::node_of(path);
    uint32_t first = series::position_of(path);
    Cell* cut = block::push_new(static_cast<int32_t>(last + 1 - first));
    for (uint32_t k = first; k <= last; ++k) block::rs_append(*cut, at(p, k));
    cell::set_type(*cut, cell::type(path));
    return *cut;
}

}  // namespace

uint32_t eval_path(const Cell& path_in, Node code, uint32_t pos, uint32_t end, PathMode mode, bool case_) {
    bool set = mode == PathMode::set, get = mode == PathMode::get;
    if (trace::active) [[unlikely]] trace::path(path_in);
    Cell path = path_in;
    collector::Root keep(path);
    Node p = series::node_of(path);
    uint32_t pend = tail_index(p);
    uint32_t i = series::position_of(path);
    if (i >= pend) error::fire(err::script_empty_path);
    Cell first = at(p, i);
    if (!cell::is(first, T_word)) error::fire(err::script_word_first, path);
    Cell value = *context::get(first);
    if (cell::is(value, T_unset)) error::fire(err::script_unset_path, path, first);
    if (called_by_path(cell::type(value))) {
        if (set) error::fire(err::script_invalid_path_set, path);
        if (get) error::fire(err::script_invalid_path_get, path);
        return call(prefix_form(value), code, pos, end, &first, CallHow{.path = &path, .path_pos = i + 1});
    }
    // Every value reached lives on the stack, each followed by the element applied to it:
    // they stay reachable, and an assignment to a field of a value held in its cell (a date's
    // time, a pair in a block) is stored back through them (see store_back).
    Cell* to_store = stack::values.top - 1;  // set: the value being set sits in the caller's frame
    Cell* chain = stack::push(value);
    uint32_t steps = 0;  // values reached after the first
    for (++i; i < tail_index(p); ++i) {
        Cell* parent = chain + 2 * steps;
        Cell element = at(p, i);
        Cell* el = stack::push(element);
        if (cell::is(element, T_get_word)) {
            *el = *context::get(element);
        } else if (cell::is(element, T_paren)) {
            stack::push_frame(stack::interp_native, nullptr);
            stack::reserve();
            eval_block(element, true);
            stack::unwind();
            if (stack::exiting()) return pos;
            *el = stack::values.top[-1];
            stack::values.top--;
        }
        bool last = i + 1 >= tail_index(p);
        auto fn = actions::lookup<actions::slot::eval_path>(cell::type(*parent));
        if (!fn) {
            if (cell::type(*parent) == T_none) error::fire(err::script_invalid_path, path, element);
            error::fire(err::script_bad_path_type, path, datatype_of(*parent), path_through(path, i));
        }
        PathStep step{.element = el,
                      .value = set && last ? to_store : nullptr,
                      .path = &path,
                      .case_ = case_,
                      .get = get,
                      .tail = last};
        // A step may overwrite its parent cell with the result; a read keeps the holder.
        Cell holder = *parent;
        Cell* result = fn(parent, step);
        Cell r = result ? *result : none::value;
        if (!(set && last)) *parent = holder;
        stack::values.top = el + 1;  // drop what the step pushed
        if (called_by_path(cell::type(r)) && (!last || (!set && !get))) {
            // A function is called, the rest of the path being its refinements; its result
            // replaces the cells pushed here.
            Cell f = prefix_form(r);
            stack::values.top = chain;
            return call(f, code, pos, end, &element, CallHow{.path = &path, .path_pos = i + 1});
        }
        if (set && last) {
            store_back(chain, steps, first, path);
            r = *to_store;
        }
        if (last) {
            // The result replaces the cells pushed here.
            stack::values.top = chain;
            stack::push(r);
            if (trace::active && !set) [[unlikely]] trace::pushed(code, pos, stack::values.top - 1);
            return pos;
        }
        stack::push(r);
        ++steps;
    }
    // A path of one word: its value.
    Cell r = *chain;
    stack::values.top = chain;
    stack::push(r);
    return pos;
}

}  // namespace kov::interp