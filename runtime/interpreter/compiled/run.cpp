// The runner of compiled forms: each node kind's run, and the runs of a block's statements that
// the walker, eval_body, the natives that evaluate one expression at a time, calls and loops
// hand to it. Every run reads and checks what the walker would read, in the walker's order, and
// leaves frames, pushes, results and `current` as the walker would leave them wherever code
// runs (tree.h).
//
// Moving memory: code run by a node may move every series and collect; nodes stay (their
// form's run is in progress), cells of the code are read through node and index, and what a
// node needs after its code ran is copied to the native stack before it runs (a collection
// that evacuates node frames rewrites no ids kept in C++ memory, but pins those on the stack).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/vector.h"
#include "runtime/interpreter/compiled/operators.h"
#include "runtime/interpreter/compiled/tree.h"
#include "runtime/interpreter/routines.h"
#include "runtime/words.h"

namespace kov::interp {

namespace {

// ---- reading ---------------------------------------------------------------------------------------

// The slot context::set's own fast paths store a word's value into: a global word's, or a local
// of the running function; null for any other context, whose set is the walker's.
[[gnu::always_inline]] inline Cell* direct_slot(const Cell& word) {
    return word::context_of(word) == context::global_node ? context::global_slot(word) : context::running_slot(word);
}

// A value the walker pushes for a word as it stands: not a function (it would be called), an
// operator (an error) or unset! (an error).
[[gnu::always_inline]] inline bool plain_value(const Cell& v) {
    uint32_t t = cell::type(v);
    return !in(t, ANY_FUNCTION) && t != T_unset;
}

// A word compiled as global: its slot at its index (Src).
[[gnu::always_inline]] inline Cell* gslot(const Cell& w) {
    return reinterpret_cast<Cell*>(context::global_buffer->head_ptr()) + static_cast<uint32_t>(word::index_of(w));
}

// A word's slot by how it was compiled: a global word's in the global values, a local of the
// running function in its frame, any other through its binding; null where it has none.
[[gnu::always_inline]] inline const Cell* word_slot(Src s, const Cell& w) {
    if (s == Src::global) return gslot(w);
    if (s == Src::local) {
        if (const Cell* p = context::running_slot(w)) [[likely]] return p;
    }
    return context::bound_slot(w);
}

// An operator word's value where a step checks it: a global word's slot, else as the walker's
// look-ahead finds it (infix_op_at), or null.
[[gnu::always_inline]] inline const Cell* op_value(const Step& s) {
    return s.word_src == Src::global ? gslot(s.word) : infix_op_at(s.word);
}

// The field's slot as eval_path finds it, with its holder, or null: the path unchanged since
// compiled (its token), the holder word still holding an object with that context.
[[gnu::always_inline]] inline Cell* field_slot(const Field& fl, const Cell*& holder) {
    if (!fl.path.holds()) return nullptr;
    holder = word_slot(fl.holder_src, fl.holder);
    if (!holder || !cell::is(*holder, T_object) || object::context_of(*holder) != fl.context) return nullptr;
    // context::value_cell, an object's values on the heap (the commonest) read here.
    const Cell& rec = *cells::of(fl.context);
    Node held = context::values_of(rec);
    if (!held || context::on_stack(rec)) return context::value_cell(fl.context, fl.index);
    memory::Buffer* values = memory::buffer(held);
    return fl.index < values->used() / sizeof(Cell) ? cells::of(values) + fl.index : nullptr;
}

// The cell an index path reaches, as eval_path's steps reach it: the path unchanged since
// compiled (its token), its word holding a block, each step an integer (or a get-word holding
// one) in the block's range. For a set-path's target (set), the last holder must also be one
// that no owner watches and that is no compiled code (the block's poke would run the owner's
// code, or drop the block's form). Else null, having done nothing.
// vector: the same walk with a vector as the last holder (and its element's position p).
template <bool vector>
[[gnu::always_inline]] inline const Cell* index_walk(const IndexPath& ip, bool set, int64_t& p) {
    if (!ip.path.holds()) return nullptr;
    const Cell* cur = word_slot(ip.first_src, ip.first);
    if (!cur) return nullptr;
    if (!vector && ip.one_constant) {
        // The loop's one step, its integer known.
        if (!cell::is(*cur, T_block)) return nullptr;
        memory::Buffer* b = memory::buffer(series::node_of(*cur));
        p = int64_t(series::position_of(*cur)) + ip.offset;
        if (p < 0 || p >= int64_t(b->used() / sizeof(Cell))) return nullptr;
        if (set && (b->flags & (memory::owned | memory::has_form))) return nullptr;
        return cells::of(b) + p;
    }
    for (uint32_t i = 0; i < ip.steps; ++i) {
        const Cell* element = &ip.step[i];
        if (ip.step_src[i] != Src::constant) {
            element = word_slot(ip.step_src[i], *element);
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

// Vector elements read and written in place: those of integer! and float! (and percent!)
// elements, which the vector's pick and poke convert without raising.
inline bool plain_elements(uint32_t type) { return type == T_integer || type == T_float_ || type == T_percent; }

// A vector's element reached by an index path, as the vector's pick boxes it.
[[gnu::noinline]] bool vector_value(const IndexPath& ip, Cell& v) {
    int64_t p = 0;
    const Cell* holder = index_walk<true>(ip, false, p);
    if (!holder || !plain_elements(vector::element_type(*holder))) return false;
    v = vector::element_value(vector::element_at(*holder, uint64_t(p)), vector::width(*holder),
                              vector::element_type(*holder));
    return true;
}

// An index path's value as eval_path reads it, a function at the end excepted, which the walker
// would call; else a vector's element (vector_value). Else false.
[[gnu::always_inline]] inline bool index_value(const IndexPath& ip, Cell& v) {
    int64_t p = 0;
    const Cell* cur = index_walk<false>(ip, false, p);
    if (!cur) [[unlikely]] return vector_value(ip, v);
    if (called_by_path(cell::type(*cur))) return false;
    v = *cur;
    return true;
}

// A set-path's store of v through an index path, as the holder's poke stores it: into a
// block's cell, or a vector's element of a value of its element type. The native stack is
// checked first, as the walker's set-path checks it. false, having done nothing, where the
// walker must store.
[[gnu::always_inline]] inline bool index_store(const IndexPath& ip, const Cell& v) {
    int64_t p = 0;
    if (Cell* slot = const_cast<Cell*>(index_walk<false>(ip, true, p))) [[likely]] {
        check_depth();
        *slot = v;
        return true;
    }
    const Cell* holder = index_walk<true>(ip, true, p);
    uint32_t type = holder ? vector::element_type(*holder) : 0;
    if (!holder || !plain_elements(type) || cell::type(v) != type) return false;
    check_depth();
    vector::set_element(vector::element_at(*holder, uint64_t(p)), v, vector::width(*holder), type);
    return true;
}

// An operand that is no word or constant: a field, an index path, a child node.
[[gnu::noinline]] bool read_other(const Operand& o, Cell& v) {
    switch (o.src) {
    case Src::field: {
        const Cell* holder;
        const Cell* slot = field_slot(o.field(), holder);
        if (!slot || cell::is(*slot, T_unset) || called_by_path(cell::type(*slot))) return false;
        v = *slot;
        return true;
    }
    case Src::index: return index_value(o.index(), v);
    case Src::expr: return o.expr().value(o.expr(), v);  // a paren's value: whatever it leaves
    default: {
        const Cell* p = context::bound_slot(o.cell);
        if (!p || !plain_value(*p)) return false;
        v = *p;
        return true;
    }
    }
}

// An operand's value, read where the walker reads it; false where the walker must. Constants,
// global words and the running function's words inline, with no call (a caller's fast path then
// saves no registers); the rest out of line.
[[gnu::always_inline]] inline bool read(const Operand& o, Cell& v) {
    const Cell* p;
    switch (o.src) {
    case Src::constant: v = o.cell; return true;
    case Src::global: p = gslot(o.cell); break;
    case Src::local:
        p = context::running_slot(o.cell);
        if (!p) [[unlikely]] return read_other(o, v);
        break;
    // Numeric code's operands: a block's element, a paren's value.
    case Src::index: return index_value(o.index(), v);
    case Src::expr: return o.expr().value(o.expr(), v);
    default: return read_other(o, v);
    }
    if (!plain_value(*p)) return false;
    v = *p;
    return true;
}

// Whether the word after a whole expression holds no operator (which the walker would apply).
[[gnu::always_inline]] inline bool tail_clear(const Tail& t, uint32_t next, Node cells, uint32_t end) {
    return !t.lookahead || next >= clip(cells, end) || !infix_op_at(t.after);
}

// ---- pure expressions ----------------------------------------------------------------------------

bool value_operand(const Expr& e, Cell& v) { return read(static_cast<const Chain&>(e).first, v); }

bool value_chain(const Expr& e, Cell& v) {
    const Chain& c = static_cast<const Chain&>(e);
    if (!read(c.first, v)) return false;
    for (uint32_t i = 0; i < c.steps; ++i) {
        const Step& s = c.step[i];
        const Cell* op = op_value(s);
        if (!op || !cell::same_bits(*op, s.op)) return false;
        Cell right;
        if (!read(s.right, right) || !number_operation(s.operation, v, right, v)) return false;
    }
    return true;
}

// value_chain for the commonest shape, each instance its own function: one operator, global,
// between two constants or words. Only numbers pass, so an operand's function or unset! needs
// no test of its own.
// Its path calls nothing but shaped_float: a local of a function not running innermost goes
// to value_chain (a tail call), which reads it through its binding.
template <Src S>
[[gnu::always_inline]] inline const Cell* shaped_source(const Cell& c) {
    if constexpr (S == Src::constant) return &c;
    else if constexpr (S == Src::global) return gslot(c);
    else return context::running_slot(c);
}
// The rest of value_shaped, a tail call that leaves its integer path as lean as before: two
// floats and an arithmetic operator (numeric code's other common case) answered with no switch
// on the operation, anything else as float_operation answers it.
template <uint8_t op>
[[gnu::noinline]] bool shaped_float(const Cell& left, const Cell& right, Cell& v) {
    if constexpr (float_arithmetic_q(op))
        if (cell::is(left, T_float_) && cell::is(right, T_float_)) return float_arithmetic(op, left, right, v), true;
    return float_operation(op, left, right, v);
}
template <Src A, Src B, uint8_t op>
bool value_shaped(const Expr& e, Cell& v) {
    const Chain& c = static_cast<const Chain&>(e);
    const Cell* p = shaped_source<A>(c.first.cell);
    const Step& s = c.step[0];
    const Cell* right = shaped_source<B>(s.right.cell);
    if (!p || !right) [[unlikely]] return value_chain(e, v);
    if (!cell::same_bits(*gslot(s.word), s.op)) return false;
    if (cell::is(*p, T_integer) && cell::is(*right, T_integer)) [[likely]]
        return integer_operation(op, *p, integer::get(*right), v);
    return shaped_float<op>(*p, *right, v);
}
template <Src A, Src B, std::size_t... ops>
constexpr std::array<ValueFn, sizeof...(ops)> shaped_row(std::index_sequence<ops...>) {
    return {&value_shaped<A, B, uint8_t(ops)>...};
}
template <Src A>
constexpr std::array<std::array<ValueFn, op_none>, 3> shaped_rows() {
    return {shaped_row<A, Src::constant>(std::make_index_sequence<op_none>()),
            shaped_row<A, Src::global>(std::make_index_sequence<op_none>()),
            shaped_row<A, Src::local>(std::make_index_sequence<op_none>())};
}
constexpr std::array<std::array<std::array<ValueFn, op_none>, 3>, 3> shaped_table = {
    shaped_rows<Src::constant>(), shaped_rows<Src::global>(), shaped_rows<Src::local>()};

// A chain of constants and words (global ones, or the running function's) between operators
// that are global words, with no call in its way: anything else (a local of a function not
// running innermost) goes to value_chain.
[[gnu::always_inline]] inline const Cell* simple_slot(const Operand& o) {
    if (o.src == Src::constant) return &o.cell;
    if (o.src == Src::global) return gslot(o.cell);
    return context::running_slot(o.cell);
}
bool value_chain_simple(const Expr& e, Cell& v) {
    const Chain& c = static_cast<const Chain&>(e);
    const Cell* p = simple_slot(c.first);
    if (!p) [[unlikely]] return value_chain(e, v);
    if (c.first.src != Src::constant && !plain_value(*p)) return false;
    v = *p;
    for (uint32_t i = 0; i < c.steps; ++i) {
        const Step& s = c.step[i];
        if (!cell::same_bits(*gslot(s.word), s.op)) return false;
        const Cell* right = simple_slot(s.right);
        if (!right) [[unlikely]] return value_chain(e, v);
        if (!number_operation(s.operation, v, *right, v)) return false;
    }
    return true;
}

// value_chain_simple for a chain whose right operands are all constants (`x * 75 + 74 % 65537`,
// `i % 7 < 3`).
bool value_chain_constants(const Expr& e, Cell& v) {
    const Chain& c = static_cast<const Chain&>(e);
    const Cell* p = simple_slot(c.first);
    if (!p) [[unlikely]] return value_chain(e, v);
    if (c.first.src != Src::constant && !plain_value(*p)) return false;
    v = *p;
    const Step* s = c.step;
    for (const Step* end = s + c.steps; s < end; ++s) {
        if (!cell::same_bits(*gslot(s->word), s->op) || !number_operation(s->operation, v, s->right.cell, v)) return false;
    }
    return true;
}

// value_chain_constants for a chain whose right operands are all integers, its first operand
// an integer: the value kept in a register while it stays an integer, the cell written once
// (holding the first operand's header words, as each step's answer keeps its left operand's).
// A step whose answer is no integer (a float from an overflow or a division) goes, with the
// rest, the way of value_chain_constants; a comparison ends the chain.
bool value_chain_integers(const Expr& e, Cell& v) {
    const Chain& c = static_cast<const Chain&>(e);
    const Cell* p = simple_slot(c.first);
    if (!p || !cell::is(*p, T_integer)) [[unlikely]] return value_chain_constants(e, v);
    int32_t a = integer::get(*p);
    const Step* s = c.step;
    const Step* end = s + c.steps;
    for (; s < end; ++s) {
        if (!cell::same_bits(*gslot(s->word), s->op)) return false;
        bool integer = true, logic = false, truth = false;
        bool done = integer_answer(
            s->operation, a, integer::get(s->right.cell), [&](int32_t r) { a = r; }, [&](double) { integer = false; },
            [&](bool t) {
                logic = true;
                truth = t;
            });
        if (!done) return false;
        if (logic && s + 1 == end) {
            logic::make_at(v, truth);
            return true;
        }
        if (!integer || logic) break;
    }
    integer::make_like(v, *p, a);
    for (; s < end; ++s) {
        if (!cell::same_bits(*gslot(s->word), s->op) || !number_operation(s->operation, v, s->right.cell, v)) return false;
    }
    return true;
}

// A chain of one operator (a global word) whose operands may be index paths and parens too,
// each instance its own function: numeric code's commonest shape (`a/:i/:k * b/:k/:j`).
template <Src S>
[[gnu::always_inline]] inline bool read_as(const Operand& o, Cell& v) {
    if constexpr (S == Src::constant) {
        v = o.cell;
        return true;
    } else if constexpr (S == Src::index) {
        return index_value(o.index(), v);
    } else if constexpr (S == Src::expr) {
        return o.expr().value(o.expr(), v);
    } else {
        const Cell* p = S == Src::global ? gslot(o.cell) : context::running_slot(o.cell);
        if (!p) [[unlikely]] return read_other(o, v);
        if (!plain_value(*p)) return false;
        v = *p;
        return true;
    }
}
template <Src A, Src B>
bool value_chain1(const Expr& e, Cell& v) {
    const Chain& c = static_cast<const Chain&>(e);
    if (!read_as<A>(c.first, v)) return false;
    const Step& s = c.step[0];
    if (!cell::same_bits(*gslot(s.word), s.op)) return false;
    Cell right;
    return read_as<B>(s.right, right) && number_operation(s.operation, v, right, v);
}
template <Src A>
constexpr std::array<ValueFn, 5> chain1_row() {
    return {&value_chain1<A, Src::constant>, &value_chain1<A, Src::global>, &value_chain1<A, Src::local>,
            &value_chain1<A, Src::index>, &value_chain1<A, Src::expr>};
}
constexpr std::array<std::array<ValueFn, 5>, 5> chain1_table = {
    chain1_row<Src::constant>(), chain1_row<Src::global>(), chain1_row<Src::local>(), chain1_row<Src::index>(),
    chain1_row<Src::expr>()};

// A pure call's answer, as the call gives it: the head word still holding the native or action,
// each argument of a type its spec takes (an operator after one would take it: the walker's);
// square-root of an integer or a float, pick of a block or a string by an integer. Else false,
// having done nothing.
bool value_pure_call(const Expr& e, Cell& v) {
    const Call& c = static_cast<const Call&>(e);
    const Cell* held = word_slot(c.head_src, c.head);
    if (!held || !cell::same_bits(*held, c.fn)) return false;
    Cell x[2];
    for (uint32_t i = 0; i < c.args; ++i) {
        const Arg& arg = c.arg[i];
        const Expr& a = *arg.expr;
        if (!a.value(a, x[i]) || (a.tail.lookahead && infix_op_at(a.tail.after))) return false;
        Cell ts{T_typeset, arg.ts1, arg.ts2, arg.ts3};
        if (!typeset::contains(ts, cell::type(x[i]))) return false;
    }
    if (cell::is(c.fn, T_native)) {
        double d;
        if (cell::is(x[0], T_integer)) d = double(integer::get(x[0]));
        else if (cell::is(x[0], T_float_)) d = cell::get_double(x[0]);
        else return false;
        // In the argument's cell, as the native leaves it (its header flags kept).
        v = x[0];
        float_::make_at(v, std::sqrt(d));
        return true;
    }
    if (!(cell::is(x[0], T_block) || cell::is(x[0], T_string)) || !cell::is(x[1], T_integer)) return false;
    v = x[0];
    series::pick(&v, integer::get(x[1]), &x[1]);
    return true;
}

bool value_paren(const Expr& e, Cell& v) {
    const Paren& p = static_cast<const Paren&>(e);
    return p.paren.holds() && p.inner->value(*p.inner, v);
}

// A pure node's value pushed, as an argument or a term of a node that runs code pushes it;
// failed, having done nothing, where a check fails (its tail's included).
Ran push_pure(const Expr& e, Where& w, uint32_t& next) {
    Cell v;
    if (!e.value(e, v) || !tail_clear(e.tail, e.next, w.cells, w.end)) return Ran::failed;
    stack::push(v);
    next = e.next;
    return Ran::done;
}

// ---- expressions that run code -------------------------------------------------------------------

// The block's `current` while a compiled statement that runs code runs, as the walker's block
// loop would have it; put back on every way out.
struct StatementPosition : RestorePosition {
    StatementPosition(bool user, uint32_t type, Node code, uint32_t pos) : RestorePosition(user) {
        if (active) {
            current_depth = stack::depth();
            cell::store(current, type, pos, code, 0);
        }
    }
};

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

// The rest of a function's body from pos once its statements' run stopped there: the walker's.
[[gnu::noinline]] void walk_body_rest(Node code, uint32_t pos, uint32_t end, Cell* result) {
    run_expressions_as<false, false>(T_block, code, pos, end, result);
}

// run_statements inline, for the hot runs (a function's body, a branch): from a first
// statement compiled already; anything else takes run_statements.
[[gnu::always_inline]] inline uint32_t statements_from(code_cache::Form& f, uint32_t type, Node code, uint32_t pos,
                                                       uint32_t end, Cell* result) {
    if (pos >= end || pos >= f.cells) [[unlikely]] return pos;
    Stmt* s = f.at[pos];
    if (!s || s == code_cache::walker_statement || !stack::room()) [[unlikely]]
        return run_statements(f, type, code, pos, end, result);
    code_cache::Running running(&f);
    Block b{&f, code, type, end, result};
    code_cache::Epoch epoch = code_cache::epoch;
    for (;;) {
        if (s->next > end) [[unlikely]] return pos;
        uint32_t n = s->run(*s, b);
        if (n >= end) [[likely]] {
            if (n != miss) [[likely]] return ran_to_end;
            if (!f.dead) missed(f, code, *s);
            return pos;
        }
        if (stack::exiting()) return ran_to_end;
        stack::values.top = result + 1;
        if (epoch != code_cache::epoch) [[unlikely]] {
            if (f.dead) return n < clip(code, end) ? n : ran_to_end;
            epoch = code_cache::epoch;
        }
        pos = n;
        s = f.at[pos];
        if (!s) return run_statements(f, type, code, pos, end, result);
        if (s == code_cache::walker_statement) return pos;
    }
}

// The statements from pos in a result cell of their own, reserved as eval_frameless reserves
// it (the argument base while they run, its value copied down into the caller's at the end),
// the walker going on where the form stops.
[[gnu::always_inline]] inline void statements_in_result(code_cache::Form& f, uint32_t type, Node code, uint32_t pos,
                                                        uint32_t end) {
    collector::RootNode keep(code);
    check_depth();
    Cell* caller = stack::values.args;
    Cell* result = stack::reserve();
    stack::values.args = result;
    uint32_t p = statements_from(f, type, code, pos, end, result);
    if (p != ran_to_end && p < clip(code, end)) walk_rest(type, code, p, end, result);
    stack::values.args = caller;
    stack::values.top = result + 1;
    *caller = *result;
}

// call_function for a function called from a node: its body's statements run straight from the
// body's form (the node's reference to it), as eval_function_body's block run would run them.
// Anything else (no form, tracing asked for, a boot body not made yet) takes call_function.
[[gnu::always_inline]] inline void function_body(const Cell& fn, const Cell* name, const Call& c) {
    code_cache::Form* f = c.body;
    uint32_t pos = c.body_pos;
    if (c.body_checked != code_cache::epoch) [[unlikely]] {
        const Cell& body = function::more(fn)[0];
        f = nullptr;
        if (cell::is(body, T_block) && !walker_only) {
            f = code_cache::form_of(series::node_of(body));
            pos = series::position_of(body);
        }
        c.body = f;
        c.body_pos = pos;
        c.body_checked = code_cache::epoch;
    }
    if (!f || trace::requested) [[unlikely]] return call_function(fn, name);
    // While the epoch stays, the body is the form's block as it was made.
    Node code = f->node;
    uint32_t end = f->cells;
    FunctionRun run(fn);
    {
        check_depth();
        stack::push_frame(stack::eval, nullptr);
        stack::top_frame().saved_values = code;
        Cell* result = stack::reserve();
        // run_expressions' way, its block's form known.
        if (trace::active || os::interrupt_flag || check_forms) [[unlikely]] {
            if (trace::active) {
                run_expressions_traced(T_block, code, pos, end, result);
            } else if (os::interrupt_flag && stack::raise_interrupt()) {
                *result = unset::value;
            } else {
                if (check_forms) code_cache::note_run(code);
                uint32_t p = run_statements(*f, T_block, code, pos, end, result);
                if (p != ran_to_end) walk_body_rest(code, p, end, result);
            }
        } else {
            uint32_t p = statements_from(*f, T_block, code, pos, end, result);
            if (p != ran_to_end) [[unlikely]] walk_body_rest(code, p, end, result);
        }
        stack::unwind_last();
    }
    stack::set_return_flag(false);
    if (stack::exiting()) [[unlikely]] {
        uint32_t code_ = stack::consume(run.depth);
        if (code_ == stack::exit_return || code_ == stack::exit_exit) *stack::values.args = stack::pending.value;
    }
}

[[gnu::noinline]] void run_function(const Cell& fn, const Cell* name, const Call& c) { function_body(fn, name, c); }

// Whether a value is of a type the argument takes.
[[gnu::always_inline]] inline bool takes(const Arg& a, const Cell& v) {
    if (a.any) return !cell::is(v, T_unset);
    Cell ts{T_typeset, a.ts1, a.ts2, a.ts3};
    return typeset::contains(ts, cell::type(v));
}

// The arguments of a call whose arguments run code, fetched as fetch_and_run fetches them, its
// frame pushed (slot: the function's cell): each argument in turn, checked for its type at
// once. Gives false when the walker finished the call (fetch_and_run with the arguments so far
// in place, from where the compiled run could not go on), or left an exit pending; next is
// then where it ended. failed: nothing had run yet, and the frame is popped again.
[[gnu::noinline]] bool fetch_code_args(const Call& c, Where& w, Cell* slot, const Cell& label, uint32_t& next,
                                       bool& failed) {
    bool ran = false;
    failed = false;
    uint32_t fixed = c.fixed;
    // The arguments' nodes stay where they are while the form runs (their fields hold no node
    // ids to go stale): read in place after code ran.
    const Arg* args = c.arg;
    for (uint32_t i = 0; i < fixed; ++i) {
        const Arg& a = args[i];
        const Expr& e = *a.expr;
        bool pure = e.pure;
        uint32_t p;
        Ran r = e.push(e, w, p);
        if (r == Ran::failed) {
            if (!ran) {
                stack::drop_frame();
                stack::values.top = slot;
                failed = true;
                return false;
            }
            next = fetch_and_run<false>(*slot, w.cells, a.pos, w.end, &label, CallHow{}, i);
            return false;
        }
        if (!pure) ran = true;
        if (stack::exiting()) {
            next = p;
            return false;
        }
        if (!takes(a, stack::values.top[-1])) {
            if (!ran) {
                stack::drop_frame();
                stack::values.top = slot;
                failed = true;
                return false;
            }
            fire_expect_arg(stack::values.top[-1], a.symbol, &label);
        }
        if (ran && (r == Ran::walked || !w.holds())) {
            next = fetch_and_run<false>(*slot, w.cells, p, w.end, &label, CallHow{}, i + 1);
            return false;
        }
    }
    return true;
}

// After a whole expression's code ran (its value at start, pushed): done at its compiled end
// when the nodes still hold and no operator follows; else the walker's infix loop goes on from
// where it ended.
[[gnu::always_inline]] inline Ran after_code(Ran r, Where& w, Cell* start, uint32_t end_at, const Tail& tail,
                                             uint32_t& next) {
    if (r == Ran::done && !stack::exiting() && w.holds() && tail_clear(tail, end_at, w.cells, w.end)) {
        next = end_at;
        return Ran::done;
    }
    if (!stack::exiting()) next = continue_infix(w.cells, next, clip(w.cells, w.end), start);
    stack::values.top = start + 1;
    return Ran::walked;
}


// push_call for the commonest calls, each arity its own instance: a function, or a native
// without refinements, its arguments pure (a function's refinements from a path too, its
// refinement arguments set into their slots after the frame image). The same steps, the
// argument loop unrolled.
template <bool function, bool path, uint32_t nargs>
Ran push_lean_call(const Expr& e, Where& w, uint32_t& next) {
    const Call& c = static_cast<const Call&>(e);
    if (path && !c.path.holds()) [[unlikely]] return Ran::failed;
    const Cell* held = word_slot(c.head_src, c.head);
    if (!held || !cell::same_bits(*held, c.fn) || trace::active) [[unlikely]] return Ran::failed;
    Cell* slot = stack::values.top;
    if (slot + nargs + 2 >= stack::values.end) [[unlikely]] return Ran::failed;
    uint32_t fixed = path ? c.fixed : nargs;
    Cell extra[nargs ? nargs : 1];  // a function's refinement arguments
    for (uint32_t i = 0; i < nargs; ++i) {
        const Arg& a = c.arg[i];
        Cell* v = i < fixed ? slot + 1 + i : &extra[i];
        if (!a.expr->value(*a.expr, *v) || !tail_clear(a.expr->tail, a.expr->next, w.cells, w.end) || !takes(a, *v))
            [[unlikely]] return Ran::failed;
    }
    check_depth();
    *slot = c.fn;
    stack::values.top = slot + 1;
    stack::push_frame(function ? stack::interp_function : stack::interp_native, &c.head);
    stack::values.top = slot + 1 + fixed;
    if constexpr (function) {
        stack::push_n(c.image, c.slots);
        if constexpr (path)
            for (uint32_t i = fixed; i < nargs; ++i) stack::values.args[c.arg[i].slot] = extra[i];
    }
    if (stack::values.top == stack::values.args) stack::reserve();  // the result cell
    // What the rest needs after the code ran, read before.
    uint32_t call_next = c.next;
    bool whole = e.whole;
    if constexpr (function) {
        Cell label = c.head;
        function_body(slot[0], &label, c);
    } else {
        natives::Args args(no_refinements_given);
        c.entry(args);
    }
    end_call(slot);
    next = call_next;
    if (!whole || (code_cache::epoch == w.epoch && !trace::active && !e.tail.lookahead)) [[likely]] return Ran::done;
    return after_code(Ran::done, w, slot, call_next, e.tail, next);
}

// A call: the head word must still hold the function, the path be unchanged. Arguments that run
// no code are evaluated first, straight into their cells above the function's (any failure:
// nothing has happened, failed), each of the type its spec item takes; then the frame is made
// over them as call_as and fetch_and_run make it, and the call runs; its value is left pushed.
// Arguments that run code are fetched in the frame, in turn (fetch_code_args).
template <bool function, bool code_args>
Ran push_call(const Expr& e, Where& w, uint32_t& next) {
    const Call& c = static_cast<const Call&>(e);
    if (c.has_path && !c.path.holds()) return Ran::failed;
    const Cell* held = word_slot(c.head_src, c.head);
    if (!held || !cell::same_bits(*held, c.fn) || trace::active) return Ran::failed;
    Cell* slot = stack::values.top;
    uint32_t nargs = c.args;
    if constexpr (!code_args) {
        if (slot + nargs + 2 >= stack::values.end) return Ran::failed;
        for (uint32_t i = 0; i < nargs; ++i) {
            const Arg& a = c.arg[i];
            Cell* v = slot + 1 + i;
            if (!a.expr->value(*a.expr, *v) || !tail_clear(a.expr->tail, a.expr->next, w.cells, w.end)) return Ran::failed;
            Cell ts{T_typeset, a.ts1, a.ts2, a.ts3};
            if (!typeset::contains(ts, cell::type(*v))) return Ran::failed;
        }
    }
    check_depth();
    // The frame as call_as makes it, the arguments in place (a function's refinement arguments
    // moved to their slots after the image).
    *slot = c.fn;
    stack::values.top = slot + 1;
    stack::push_frame(function ? stack::interp_function : stack::interp_native, &c.head);
    if constexpr (code_args) {
        bool failed;
        Cell label = c.head;
        uint32_t call_next = c.next;
        Tail tail = c.tail;
        bool whole = e.whole;
        if (!fetch_code_args(c, w, slot, label, next, failed)) {
            if (failed) return Ran::failed;
            end_call(slot);
            if (whole) return after_code(Ran::walked, w, slot, call_next, tail, next);
            return Ran::walked;
        }
        if (function) stack::push_n(c.image, c.slots);
    } else if (function) {
        uint32_t fixed = c.fixed;
        stack::values.top = slot + 1 + fixed;
        if (nargs > fixed) [[unlikely]] {
            Cell refinement_args[max_call_args];
            for (uint32_t i = fixed; i < nargs; ++i) refinement_args[i] = slot[1 + i];
            stack::push_n(c.image, c.slots);
            for (uint32_t i = fixed; i < nargs; ++i) stack::values.args[c.arg[i].slot] = refinement_args[i];
        } else {
            stack::push_n(c.image, c.slots);
        }
    } else {
        stack::values.top = slot + 1 + nargs;
    }
    if (stack::values.top == stack::values.args) stack::reserve();  // the result cell
    if constexpr (function) {
        // What the rest needs after the body ran, read before.
        uint32_t call_next = c.next;
        Cell label = c.head;
        bool whole = e.whole;
        Tail tail = c.tail;
        run_function(slot[0], &label, c);
        end_call(slot);
        next = call_next;
        if (!whole || (!tail.lookahead && code_cache::epoch == w.epoch && !trace::active)) [[likely]] return Ran::done;
        return after_code(Ran::done, w, slot, call_next, tail, next);
    } else {
        uint32_t call_next = c.next;
        bool whole = e.whole;
        Tail tail = c.tail;
        if (c.is_return && ends_body(w.cells, w.end, call_next, stack::depth() - 1)) {
            // A return that ends its function's body leaves its value as the body's last value:
            // the function ends with it just as when the native's exit travels to it.
        } else if (!c.refinements) {
            natives::Args args(no_refinements_given);
            c.entry(args);
        } else {
            int32_t refinements[32];
            std::fill_n(refinements, 32, -1);
            for (uint32_t j = 0; j < c.refinements; ++j) refinements[c.refinement[j]] = c.refinement_at[j];
            natives::Args args(refinements);
            c.entry(args);
        }
        end_call(slot);
        next = call_next;
        if (!whole || (!tail.lookahead && code_cache::epoch == w.epoch && !trace::active)) [[likely]] return Ran::done;
        return after_code(Ran::done, w, slot, call_next, tail, next);
    }
}

// A paren that runs code, run as eval_frameless runs it: its result cell, its own `current`.
Ran push_code_paren(const Expr& e, Where& w, uint32_t& next) {
    const Paren& ps = static_cast<const Paren&>(e);
    if (!ps.paren.holds() || os::interrupt_flag) return Ran::failed;
    Node pn = ps.paren.series;
    uint32_t paren_next = ps.next;
    Tail tail = ps.tail;
    bool whole = ps.whole;
    check_depth();
    Cell* caller_args = stack::values.args;
    Cell* result = stack::reserve();
    stack::values.args = result;
    collector::RootNode keep(pn);
    uint32_t p;
    Ran r;
    {
        StatementPosition position(w.form->user, T_paren, pn, ps.at);
        Where inner{w.form, w.epoch, pn, ps.inner->next, &ps.paren};
        r = ps.inner->push(*ps.inner, inner, p);
        w.epoch = inner.epoch;
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
    next = paren_next;
    if (!whole || (!tail.lookahead && code_cache::epoch == w.epoch && !trace::active)) [[likely]] return Ran::done;
    return after_code(Ran::done, w, result, paren_next, tail, next);
}

// An expression whose terms run code, as the walker's expression runs it; its value pushed.
[[gnu::always_inline]] inline Ran code_chain(const Expr& e, Where& w, uint32_t& next) {
    const Chain& c = static_cast<const Chain&>(e);
    Cell* start = stack::values.top;
    bool ran = false;  // code has run: a failed check hands the rest to the walker
    uint32_t p;
    uint32_t steps = c.steps;
    const Step* step = c.step;
    uint32_t chain_next = c.next;
    Tail tail = c.tail;
    // The walker's infix loop and look-ahead from position at, the value so far at start.
    auto walk_from = [&](uint32_t at) {
        next = stack::exiting() ? at : continue_infix(w.cells, at, clip(w.cells, w.end), start);
        stack::values.top = start + 1;
        return Ran::walked;
    };
    auto fail = [&](uint32_t at) {
        if (!ran) {
            stack::values.top = start;
            return Ran::failed;
        }
        return walk_from(at);
    };
    if (c.first.src == Src::expr && !c.first.expr().pure) {
        const Expr& t = c.first.expr();
        Ran r = t.push(t, w, p);
        if (r == Ran::failed) return Ran::failed;
        ran = true;
        if (r == Ran::walked || stack::exiting() || !w.holds()) return walk_from(p);
    } else {
        Cell v;
        if (!read(c.first, v)) return Ran::failed;
        stack::push(v);
    }
    for (uint32_t i = 0; i < steps; ++i) {
        // Read again after code ran: the nodes hold (checked), at the same addresses.
        const Step& s = step[i];
        uint32_t at = s.pos;
        const Cell* op = op_value(s);
        if (!op || !cell::same_bits(*op, s.op)) return fail(at);
        if (s.right.src == Src::expr && !s.right.expr().pure) {
            // call_as's way for an infix operator whose right operand runs code: its frame, the
            // left operand its first argument (which fetch_and_run checks for its type before
            // fetching the second: every operator compiled takes an integer or a float there),
            // the right operand evaluated, then the operation in place where both are numbers
            // it answers, else the operator called.
            if (!cell::is(*start, T_integer) && !cell::is(*start, T_float_)) return fail(at);
            Cell fn = op_function(s.op), label = s.word;
            uint8_t operation = s.operation;
            const Expr& right = s.right.expr();
            check_depth();
            Cell* slot = start;
            stack::push(*slot);
            *slot = fn;
            stack::push_frame(stack::interp_native, &label);
            stack::values.args = slot + 1;
            stack::values.top = slot + 2;
            uint32_t q = right.next;
            Ran r = right.push(right, w, q);
            if (r == Ran::failed) q = eval_expression(w.cells, at + 1, clip(w.cells, w.end), Infix::stop, Result::push);
            if (!stack::exiting() && !number_operation(operation, slot[1], slot[2], slot[1]))
                q = fetch_and_run<false>(*slot, w.cells, q, w.end, &label, CallHow{.infix = true}, 2);
            end_call(slot);
            ran = true;
            if (r != Ran::done || stack::exiting() || !w.holds()) return walk_from(q);
            continue;
        }
        Cell right;
        if (!read(s.right, right) || !number_operation(s.operation, *start, right, *start)) return fail(at);
    }
    if (!tail_clear(tail, chain_next, w.cells, w.end)) return fail(chain_next);
    next = chain_next;
    return Ran::done;
}
Ran push_code_chain(const Expr& e, Where& w, uint32_t& next) { return code_chain(e, w, next); }

// ---- statements ----------------------------------------------------------------------------------

// A pure statement's value stored where its target says (the walker's set-word or set-path),
// then into the result cell.
template <TargetKind T>
[[gnu::always_inline]] inline bool store(const Target& t, const Cell& v) {
    if constexpr (T == TargetKind::none) {
        return true;
    } else {
        if (cell::is(v, T_unset)) return false;  // the set raises: the walker's
        if constexpr (T == TargetKind::global) {
            *gslot(t.word) = v;
        } else if constexpr (T == TargetKind::local) {
            Cell* slot = context::running_slot(t.word);
            if (!slot) return false;
            *slot = v;
        } else if constexpr (T == TargetKind::field) {
            // A set-path checks the native stack as the walker's does; a change hook is code.
            const Cell* holder;
            Cell* slot = field_slot(*static_cast<const Field*>(t.ref), holder);
            if (!slot || object::hooks_of(*holder)) return false;
            check_depth();
            *slot = v;
        } else {
            return index_store(*static_cast<const IndexPath*>(t.ref), v);
        }
        return true;
    }
}

template <TargetKind T>
uint32_t run_value(Stmt& st, Block& b) {
    const ValueStmt& s = static_cast<const ValueStmt&>(st);
    Cell v;
    if (!s.value->value(*s.value, v)) return miss;
    if (s.tail.lookahead && s.next < b.end && infix_op_at(s.tail.after)) return miss;
    if (!store<T>(s.target, v)) return miss;
    *b.result = v;
    return s.next;
}

// run_value for an index path set from a one-operator chain whose first operand is that same
// path (`b/4: b/4 - (dx * m)`): the element reached once, read, answered and written back. The
// right operand runs no code, so nothing moves between the read and the store. Whatever does
// not pass here has done nothing, and run_value takes the statement.
uint32_t run_update(Stmt& st, Block& b) {
    const ValueStmt& s = static_cast<const ValueStmt&>(st);
    const Chain& c = static_cast<const Chain&>(*s.value);
    const Step& step = c.step[0];
    int64_t p = 0;
    Cell* slot = c.first.index().path.holds()
                     ? const_cast<Cell*>(index_walk<false>(*static_cast<const IndexPath*>(s.target.ref), true, p))
                     : nullptr;
    if (!slot || called_by_path(cell::type(*slot)) || (s.tail.lookahead && s.next < b.end && infix_op_at(s.tail.after)))
        [[unlikely]] return run_value<TargetKind::index>(st, b);
    const Cell* op = op_value(step);
    Cell v, right;
    if (!op || !cell::same_bits(*op, step.op) || !read(step.right, right) ||
        !number_operation(step.operation, *slot, right, v)) [[unlikely]]
        return run_value<TargetKind::index>(st, b);
    check_depth();
    *slot = v;
    *b.result = v;
    return s.next;
}

// Whether two index paths reach the same element: the same word and the same steps.
bool same_place(const IndexPath& a, const IndexPath& b) {
    if (a.first_src != b.first_src || !same_binding(a.first, b.first) || a.steps != b.steps) return false;
    for (uint32_t i = 0; i < a.steps; ++i) {
        if (a.step_src[i] != b.step_src[i]) return false;
        if (a.step_src[i] == Src::constant ? integer::get(a.step[i]) != integer::get(b.step[i])
                                           : !same_binding(a.step[i], b.step[i]))
            return false;
    }
    return true;
}

// run_value for a statement whose value is one word (global, or the running function's),
// stored nowhere or into a word: the word read inline, with no call in the way (a local of a
// function not running innermost takes run_value).
template <TargetKind T, Src S>
uint32_t run_value_word(Stmt& st, Block& b) {
    const ValueStmt& s = static_cast<const ValueStmt&>(st);
    const Cell& w = static_cast<const Chain&>(*s.value).first.cell;
    const Cell* p = S == Src::global ? gslot(w) : context::running_slot(w);
    if (!p || s.tail.lookahead) [[unlikely]] return run_value<T>(st, b);
    if (!plain_value(*p)) return miss;
    Cell v = *p;
    if constexpr (T == TargetKind::global) {
        *gslot(s.target.word) = v;
    } else if constexpr (T == TargetKind::local) {
        Cell* slot = context::running_slot(s.target.word);
        if (!slot) [[unlikely]] return run_value<T>(st, b);
        *slot = v;
    }
    *b.result = v;
    return s.next;
}

// A counter run in place: the cell the target reaches (the first operand's and the set's)
// given its amount with the integer add the operator would make, the sum made in the register
// the cell is loaded into (integer::add_unchecked: a counter's chain from one iteration to the
// next is then one load, one add and one store). Each check is one the operator and the set
// make, its integer check standing for the function and unset ones; anything else (a float, an
// overflow, the operator word changed, a field of an object with a change hook) takes the
// general way of value statements, a chain and a target, which the counter is too.
template <TargetKind T>
[[gnu::noinline]] uint32_t run_counter_general(Stmt& st, Block& b) {
    return run_value<T>(st, b);
}
// The fast path calls nothing: whatever it does not take (a word of another context, a float,
// an overflow, an operator word changed or not global, an operator after the statement) goes
// to the general way, a tail call, so that the common path saves no registers.
template <TargetKind T, bool by_word>
uint32_t run_counter(Stmt& st, Block& b) {
    const CounterStmt& s = static_cast<const CounterStmt&>(st);
    Cell* slot;
    if constexpr (T == TargetKind::global) {
        slot = gslot(s.target.word);
    } else if constexpr (T == TargetKind::local) {
        slot = context::running_slot(s.target.word);
    } else {
        // A field of an object without a change hook. The path read names the same field
        // through a word of the same binding (the builder's test), so it reaches this slot
        // while it is the path compiled.
        const Cell* holder;
        slot = field_slot(*static_cast<const Field*>(s.target.ref), holder);
        if (slot && (object::hooks_of(*holder) || !s.read_field->path.holds())) slot = nullptr;
    }
    if (!slot || !cell::is(*slot, T_integer) || !s.in_place) [[unlikely]] return run_counter_general<T>(st, b);
    if (!cell::same_bits(*gslot(s.word), s.op)) [[unlikely]] return run_counter_general<T>(st, b);
    int32_t delta;
    if constexpr (by_word) {
        const Cell* amount = s.amount.src == Src::global ? gslot(s.amount.cell)
                             : s.amount.src == Src::local ? context::running_slot(s.amount.cell)
                                                          : nullptr;
        if (!amount || !cell::is(*amount, T_integer)) [[unlikely]] return run_counter_general<T>(st, b);
        delta = integer::get(*amount);
    } else {
        delta = s.delta;
    }
    int32_t r;
    if (__builtin_add_overflow(integer::get(*slot), delta, &r)) [[unlikely]] return run_counter_general<T>(st, b);
    if constexpr (T == TargetKind::field) check_depth();
    integer::add_unchecked(*slot, delta);
    *b.result = *slot;
    return s.next;
}

// An expression statement into the result cell (the argument base), as the walker's
// expression runs it; miss, having done nothing, where the walker must take it.
// chain: the expression is a code chain, run inline.
template <bool chain>
uint32_t run_code(Stmt& st, Block& b) {
    if (trace::active) return miss;
    const CodeStmt& s = static_cast<const CodeStmt&>(st);
    bool sets = s.sets;
    Cell target = s.target;
    const Expr& e = *s.expr;
    StatementPosition position(b.form->user, b.type, b.code, s.pos);
    Cell* start = stack::values.top;
    Where w{b.form, code_cache::epoch, b.code, b.end};
    uint32_t next;
    Ran r = chain ? code_chain(e, w, next) : e.push(e, w, next);
    if (r == Ran::failed) return miss;
    // The set is the statement's too: an error in it names the statement.
    if (sets && !stack::exiting()) {
        Cell value = *start;
        if (cell::is(value, T_unset)) error::fire(err::script_need_value, target);
        context::set(target, value);
    }
    *b.result = *start;
    stack::values.top = start;
    return next;
}

// The value a `return value` statement (a lone call of return with a pure argument) returns,
// as the call would give it to the native: false, having done nothing, where the call must
// run (an argument the walker must read, a word that no longer holds return).
inline bool return_value(const Call& c, Node cells, uint32_t end, Cell& v) {
    const Arg& a = c.arg[0];
    const Cell* held = context::bound_slot(c.head);
    if (!held || !cell::same_bits(*held, c.fn) || !a.expr->value(*a.expr, v) ||
        !tail_clear(a.expr->tail, a.expr->next, cells, end))
        return false;
    Cell ts{T_typeset, a.ts1, a.ts2, a.ts3};
    return typeset::contains(ts, cell::type(v));
}

// return value ending a block: where the block runs as a function's body in its frame, the
// native's exit would only carry the value to the body's end, so the value is the body's last
// value; elsewhere the call runs.
uint32_t run_ending_return(Stmt& st, Block& b) {
    const CodeStmt& s = static_cast<const CodeStmt&>(st);
    Cell v;
    if (!trace::active && ends_body(b.code, b.end, s.next, stack::depth()) &&
        return_value(static_cast<const Call&>(*s.expr), b.code, b.end, v)) {
        *b.result = v;
        return s.next;
    }
    return run_code<false>(st, b);
}

// ---- conditionals ---------------------------------------------------------------------------------

// The statements of a branch from its start that run in place: pure statements of its form,
// which run no code and raise nothing, so the native's frame, which the walker would have pushed
// around them, shows nowhere. Their values go into result. Gives the position of the first
// statement left (its end when all ran, its start when none did).
[[gnu::noinline]] uint32_t run_in_place(code_cache::Form& f, Node code, uint32_t pos, uint32_t end, Cell* result) {
    Block b{&f, code, T_block, end, result};
    while (pos < end) {
        Stmt* s = f.at[pos];
        if (!s) {
            s = compile_statement(f, code, pos);
            f.at[pos] = s;
        }
        if (s == code_cache::walker_statement || !s->pure || s->next > end) break;
        uint32_t n = s->run(*s, b);
        if (n == miss) {
            missed(f, code, *s);
            break;
        }
        pos = n;
    }
    return pos;
}

// A conditional's branch as the native's do_block runs it (eval_body), the native's frame
// pushed around it: from `left`, the first statement not run in place (the value so far in
// `sofar`).
// bf: the branch's form, where eval_body would run it compiled (no checking, tracing or
// interrupt), else null.
[[gnu::always_inline]] inline void branch_rest(code_cache::Form* bf, const Cell& branch, uint32_t start, uint32_t left, uint32_t end,
                 const Cell& sofar) {
    stack::keep();
    if (left == start) {
        // eval_body's way, its form known: a branch whose first statement runs code runs in a
        // result cell of its own from the start, as eval_frameless runs it.
        if (bf && start < bf->cells && stack::room()) {
            Stmt* s = bf->at[start];
            if (s && s != code_cache::walker_statement && !s->pure && s->kind != NodeKind::conditional) {
                statements_in_result(*bf, T_block, series::node_of(branch), start, end);
                return;
            }
            if (run_frameless(*bf, branch, T_block, start, end)) return;
        }
        return eval_body(branch);
    }
    *stack::values.args = sofar;
    continue_frameless(bf, branch, left, end, stack::values.top);
}

// A conditional statement ending a function's body (the body's frame the innermost), whose
// branch goes on, after the statements run in place, with `return value` ending the branch:
// that value is the conditional's, and so the body's, as the native's exit would carry it
// there; nothing else would run between. false, having done nothing, where the branch must run
// in the native's frame.
[[gnu::noinline]] bool branch_returns(code_cache::Form& bf, Node branch, uint32_t left, uint32_t branch_end,
                                      const CondStmt& s, Block& b) {
    if (left >= bf.cells) return false;
    const Stmt* t = bf.at[left];
    if (!t || t == code_cache::walker_statement || t->kind != NodeKind::ending_return || t->next < branch_end)
        return false;
    if (check_forms || os::interrupt_flag || !ends_body(b.code, b.end, s.next, stack::depth())) return false;
    Cell v;
    if (!return_value(static_cast<const Call&>(*static_cast<const CodeStmt*>(t)->expr), branch, branch_end, v))
        return false;
    *b.result = v;
    return true;
}

}  // namespace

// The rest of a frameless block run from pos (eval_body's way, its value so far in the
// argument base), once it met a statement that runs code: the body's result cell reserved as
// eval_frameless reserves it (its statements' frames then stand as deep as under the walker),
// its statements run from the form, the walker's loop from the first one left. The value is
// left pushed at top, as eval_body leaves it.
void continue_frameless(code_cache::Form* f, const Cell& block, uint32_t pos, uint32_t end, Cell* top, bool walk,
                        const CondStmt* cond, const CondState* state) {
    Node code = series::node_of(block);
    collector::RootNode keep(code);  // as eval_frameless keeps its block
    uint32_t type = cell::is(block, T_paren) ? T_paren : T_block;
    stack::values.top = top;
    check_depth();
    Cell* caller = stack::values.args;
    Cell* result = stack::reserve();
    *result = *caller;
    stack::values.args = result;
    if (cond) {
        code_cache::Running running(f);
        Block b{f, code, type, end, result};
        pos = conditional_in_frame(*cond, b, *state);
        if (stack::exiting() || pos >= end) pos = ran_to_end;
        else stack::values.top = result + 1;
        if (pos != ran_to_end && f->dead) walk = true;
    }
    if (pos != ran_to_end && f && !walk && stack::room()) pos = run_statements(*f, type, code, pos, end, result);
    if (pos != ran_to_end && pos < clip(code, end)) walk_rest(type, code, pos, end, result);
    stack::values.args = caller;
    stack::values.top = result + 1;
    *caller = *result;
}

// The second part of a conditional, once its branch did not run in place whole: the native's
// frame pushed as call pushes it (its condition and blocks), the rest of the branch in it.
namespace {
[[gnu::always_inline]] inline uint32_t in_frame(const CondStmt& s, Block& b, const CondState& c) {
    Cell fn = s.native, word = s.head, branch = s.branch[c.chosen].block;
    Tail tail = s.tail;
    uint32_t next = s.next, blocks_at = s.blocks_at, blocks = s.blocks;
    Cell* result = b.result;
    Cell sofar = *result;
    StatementPosition position(b.form->user, b.type, b.code, s.pos);
    check_depth();
    Cell* slot = stack::push(fn);
    stack::push_frame(stack::interp_native, &word);
    stack::push(c.condition);
    for (uint32_t i = 0; i < blocks; ++i) stack::push(at(b.code, blocks_at + i));
    branch_rest(c.form, branch, c.start, c.left, c.branch_end, sofar);
    end_call(slot);
    // The branch's code may have given the word after the statement an operator, which the
    // walker's look-ahead would now apply to the native's result: the walker's loop does it.
    if (tail.lookahead && !stack::exiting() && infix_op_at(tail.after)) {
        next = continue_infix(b.code, next, clip(b.code, b.end), slot);
        stack::values.top = slot + 1;
    }
    *result = *slot;
    stack::values.top = slot;
    return next;
}
}  // namespace

// Out of line: a conditional whose branch ran in place saves no registers for it.
[[gnu::noinline]] uint32_t conditional_in_frame(const CondStmt& s, Block& b, const CondState& c) {
    return in_frame(s, b, c);
}

// A conditional statement's first part, which runs no code: the head word must still hold the
// native, the word after the blocks no operator; the condition's value chooses the branch as
// the native chooses it; a branch whose statements run in place runs so (run_in_place). done:
// the statement ran whole; miss: nothing was done; more: the rest of the branch must run in
// the native's frame (conditional_in_frame, with what c keeps).
namespace {
[[gnu::always_inline]] inline CondStep start_conditional(const CondStmt& s, Block& b, CondState& c) {
    const Cell* native = word_slot(s.head_src, s.head);
    if (!native || !cell::same_bits(*native, s.native)) return CondStep::miss;
    if (s.tail.lookahead && infix_op_at(s.tail.after)) return CondStep::miss;
    // A word alone as the condition (a flag, a refinement), read inline.
    if (s.cond->kind == NodeKind::operand) {
        if (!read(static_cast<const Chain&>(*s.cond).first, c.condition)) return CondStep::miss;
    } else if (!s.cond->value(*s.cond, c.condition)) {
        return CondStep::miss;
    }
    // The native's choice (either's condition is never unset here: an operand holds a value).
    bool falsy = cell::is(c.condition, T_none) || (cell::is(c.condition, T_logic) && !logic::get(c.condition));
    uint32_t chosen;
    if (s.which == natives::index::either) {
        chosen = falsy ? 1 : 0;
    } else if (falsy == (s.which == natives::index::unless)) {
        chosen = 0;
    } else {
        none::make_at(*b.result);
        return CondStep::done;
    }
    c.chosen = chosen;
    const Branch& br = s.branch[chosen];
    Node bcode = series::node_of(br.block);
    uint32_t start = series::position_of(br.block);
    c.start = start;
    code_cache::Form* f = check_forms || trace::active || os::interrupt_flag ? nullptr : br.form.of(bcode);
    c.form = f;
    if (!f) {
        c.left = start;
        c.branch_end = tail_index(bcode);
        return CondStep::more;
    }
    // While the form holds, the branch is its block as made.
    uint32_t end = f->cells;
    c.branch_end = end;
    // The commonest branches: one pure statement, or a first statement that runs code (which
    // nothing runs in place before, and which ends the branch by a return only as its kind).
    if (start < end) {
        Stmt* first = f->at[start];
        if (first && first != code_cache::walker_statement) [[likely]] {
            if (first->pure && first->next == end) [[likely]] {
                Block in{f, bcode, T_block, end, b.result};
                if (first->run(*first, in) != miss) [[likely]] return CondStep::done;
                missed(*f, bcode, *first);
                c.left = start;
                return CondStep::more;
            }
            if (!first->pure && first->kind != NodeKind::ending_return) {
                c.left = start;
                return CondStep::more;
            }
        }
    }
    c.left = run_in_place(*f, bcode, start, end, b.result);
    if (c.left >= end && c.left > start) return CondStep::done;
    if (branch_returns(*f, bcode, c.left, end, s, b)) return CondStep::done;
    return CondStep::more;
}
}  // namespace

CondStep conditional_start(const CondStmt& s, Block& b, CondState& c) { return start_conditional(s, b, c); }

namespace {

// A compiled conditional's call once its condition is pushed in the native's frame (slot: the
// native's cell): the blocks pushed as they stand and the native run, as fetch_and_run pushes
// blocks that no operator follows and runs the native; any other shape takes fetch_and_run's
// way from the condition on. The frame popped; gives the position after the call.
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
            natives::Args args(no_refinements_given);
            natives::table[function::entry_index(fn)](args);
        } else {
            pos = fetch_and_run<false>(*slot, code, pos, end, &word, CallHow{}, 1);
        }
    }
    end_call(slot);
    return pos;
}

// A conditional whose condition runs code: the native's frame pushed first, as call pushes
// it, then the condition evaluated in it; the native runs with its blocks as conditional_rest
// gives them, or, once the condition's code has changed what the node was made from,
// fetch_and_run goes on from the condition's end.
[[gnu::noinline]] uint32_t run_code_conditional(const CondStmt& s, Block& b) {
    if (trace::active) return miss;
    Cell fn = s.native, word = s.head;
    Tail tail = s.tail;
    uint32_t blocks_at = s.blocks_at, blocks = s.blocks, next = s.next;
    const Expr& cond = *s.cond;
    Where w{b.form, code_cache::epoch, b.code, b.end};
    StatementPosition position(b.form->user, b.type, b.code, s.pos);
    check_depth();
    Cell* result = b.result;
    Cell* slot = stack::push(fn);
    stack::push_frame(stack::interp_native, &word);
    uint32_t q;
    Ran r = cond.push(cond, w, q);
    if (r == Ran::failed) {
        stack::drop_frame();
        stack::values.top = slot;
        return miss;
    }
    // The blocks are taken as written only while the word after them holds no operator, which
    // the condition's code may have given it (the walker then fetches the last block as an
    // argument, which the operator takes).
    if (r == Ran::walked || stack::exiting() || !w.holds() || (tail.lookahead && infix_op_at(tail.after))) {
        next = conditional_rest(slot, fn, b.code, q, b.end, word);
        if (!stack::exiting()) next = continue_infix(b.code, next, clip(b.code, b.end), slot);
    } else {
        for (uint32_t i = 0; i < blocks; ++i) stack::push(at(b.code, blocks_at + i));
        natives::Args args(no_refinements_given);
        natives::table[function::entry_index(fn)](args);
        end_call(slot);
        // The code may have given the word after the statement an operator.
        if (tail.lookahead && !stack::exiting() && infix_op_at(tail.after))
            next = continue_infix(b.code, next, clip(b.code, b.end), slot);
    }
    *result = *slot;
    stack::values.top = slot;
    return next;
}

// A conditional statement into the result cell, as call and fetch_and_run run the native.
uint32_t run_conditional(Stmt& st, Block& b) {
    const CondStmt& s = static_cast<const CondStmt&>(st);
    if (!s.cond->pure) [[unlikely]] {
        const Cell* native = context::bound_slot(s.head);
        if (!native || !cell::same_bits(*native, s.native) || (s.tail.lookahead && infix_op_at(s.tail.after)))
            return miss;
        return run_code_conditional(s, b);
    }
    CondState c;
    CondStep step = start_conditional(s, b, c);
    if (step == CondStep::miss) return miss;
    if (step == CondStep::done) return s.next;
    return conditional_in_frame(s, b, c);
}

// ---- block runs ----------------------------------------------------------------------------------

// Whether a statement's run, or its first part, runs no code: a pure statement, or a
// conditional with a pure condition.
[[gnu::always_inline]] inline bool in_place(const Stmt& s) {
    return s.pure || (s.kind == NodeKind::conditional && static_cast<const CondStmt&>(s).cond->pure);
}

// The statement at pos, compiled at its first run.
[[gnu::always_inline]] inline Stmt* statement_at(code_cache::Form& f, Node code, uint32_t pos, bool alone = false) {
    Stmt* s = f.at[pos];
    if (!s) [[unlikely]] {
        s = compile_statement(f, code, pos, alone);
        f.at[pos] = s;
    }
    return s;
}

}  // namespace

bool Where::holds_again() {
    if (form->dead || trace::active) return false;
    if (paren && !paren->valid()) return false;
    epoch = code_cache::epoch;
    return true;
}

void run_in_result(code_cache::Form& f, uint32_t type, Node code, uint32_t pos, uint32_t end) {
    statements_in_result(f, type, code, pos, end);
}

uint32_t run_statements(code_cache::Form& f, uint32_t type, Node code, uint32_t pos, uint32_t end, Cell* result) {
    if (pos >= end || pos >= f.cells || !stack::room()) return pos;
    Stmt* s = statement_at(f, code, pos);
    if (s == code_cache::walker_statement) {
        // A body whose first statement the walker takes is left to it for good.
        if (pos == 0) code_cache::walk_only(code);
        return pos;
    }
    code_cache::Running running(&f);
    Block b{&f, code, type, end, result};
    code_cache::Epoch epoch = code_cache::epoch;
    for (;;) {
        if (s->next > end) return pos;
        uint32_t n = s->run(*s, b);
        if (n == miss) [[unlikely]] {
            if (!f.dead) missed(f, code, *s);
            return pos;
        }
        // A statement's code may have left an exit pending (the block ends as the walker's
        // does), or changed the block (its form is gone: the walker goes on from here, up to
        // the block's tail now).
        if (n >= end || stack::exiting()) return ran_to_end;
        stack::values.top = result + 1;
        if (epoch != code_cache::epoch) [[unlikely]] {
            if (f.dead) return n < clip(code, end) ? n : ran_to_end;
            epoch = code_cache::epoch;
        }
        pos = n;
        s = statement_at(f, code, pos);
        if (s == code_cache::walker_statement) return pos;
    }
}

uint32_t run_compiled_statements(uint32_t type, Node code, uint32_t pos, uint32_t end, Cell* result) {
    code_cache::Form* f = code_cache::form_of(code);
    if (!f) return pos;
    return run_statements(*f, type, code, pos, end, result);
}

void walk_rest(uint32_t type, Node code, uint32_t pos, uint32_t end, Cell* result) {
    collector::RootNode keep(code);  // as eval_frameless keeps its block
    stack::values.top = result + 1;
    run_expressions_as<false, false>(type, code, pos, end, result);
}

bool run_frameless(code_cache::Form& f, const Cell& block, uint32_t type, uint32_t pos, uint32_t end) {
    if (pos >= end || pos >= f.cells) return false;
    Node code = series::node_of(block);
    Stmt* s = statement_at(f, code, pos);
    if (s == code_cache::walker_statement) return false;
    Cell* top = stack::values.top;
    bool walk = false;
    if (in_place(*s)) {
        // Pure statements, and the first parts of conditionals with a pure condition, from the
        // first on run straight into the caller's argument base, without the block run around
        // them: they run no code and raise nothing.
        code_cache::Running running(&f);
        Block b{&f, code, type, end, stack::values.args};
        do {
            if (s->next > end) break;
            uint32_t n;
            if (s->pure) {
                n = s->run(*s, b);
            } else {
                CondState c;
                const CondStmt& cs = static_cast<const CondStmt&>(*s);
                CondStep step = conditional_start(cs, b, c);
                if (step == CondStep::more) {
                    continue_frameless(&f, block, pos, end, top, false, &cs, &c);
                    return true;
                }
                n = step == CondStep::done ? s->next : miss;
            }
            if (n == miss) {
                missed(f, code, *s);
                walk = true;
                break;
            }
            pos = n;
            if (pos >= end) {
                *top = *stack::values.args;
                stack::values.top = top + 1;
                return true;
            }
            s = statement_at(f, code, pos);
        } while (s != code_cache::walker_statement && in_place(*s));
    }
    // From the first statement that runs code, or the first the walker takes.
    continue_frameless(&f, block, pos, end, top, walk);
    return true;
}

// Loop bodies and branches whose form's statements run compiled from the first one on run here;
// near the stack's limits, or while checking or tracing, eval_frameless's way is taken from the
// start.
void eval_body(const Cell& block) {
    Node code = series::node_of(block);
    memory::Buffer* b = memory::buffer(code);
    if ((b->flags & memory::has_form) && !walker_only && !check_forms && !trace::active && !os::interrupt_flag &&
        stack::room()) {
        if (code_cache::Form* f = code_cache::linked_form(code, b->spare)) {
            uint32_t end = b->used() / sizeof(Cell);
            if (run_frameless(*f, block, cell::is(block, T_paren) ? T_paren : T_block, series::position_of(block), end))
                return;
        }
    }
    Cell* result = eval_frameless(block);
    *stack::values.args = *result;  // the caller's argument base, back in place
}

bool value_at(Node code, uint32_t pos, uint32_t end, uint32_t& next) {
    memory::Buffer* b = memory::buffer(code);
    if (!(b->flags & memory::has_form) || trace::active || walker_only || !stack::room()) return false;
    code_cache::Form* f = code_cache::linked_form(code, b->spare);
    if (!f || pos >= f->cells) return false;
    Stmt* s = statement_at(*f, code, pos, true);
    if (s == code_cache::walker_statement || !s->pure || s->next > end) return false;
    Block blk{f, code, T_block, end, stack::values.args};
    uint32_t n = s->run(*s, blk);
    if (n == miss) {
        missed(*f, code, *s, true);
        return false;
    }
    next = n;
    return true;
}

// ---- runners by kind and shape ---------------------------------------------------------------------

void choose_runner(Expr& e) {
    switch (e.kind) {
    case NodeKind::operand: e.value = value_operand; break;
    case NodeKind::chain: {
        Chain& c = static_cast<Chain&>(e);
        e.value = value_chain;
        // One operator (a global word) between constants and words: its own instance.
        auto src = [](Src s, uint32_t& out) {
            switch (s) {
            case Src::constant: out = 0; return true;
            case Src::global: out = 1; return true;
            case Src::local: out = 2; return true;
            default: return false;
            }
        };
        uint32_t a, b;
        if (c.steps == 1 && src(c.first.src, a) && src(c.step[0].right.src, b) &&
            c.step[0].word_src == Src::global && c.step[0].operation < op_none) {
            e.value = shaped_table[a][b][c.step[0].operation];
        } else if (c.steps == 1 && c.step[0].word_src == Src::global) {
            // Index paths and parens among constants and words.
            auto rich = [](Src s, uint32_t& out) {
                switch (s) {
                case Src::constant: out = 0; return true;
                case Src::global: out = 1; return true;
                case Src::local: out = 2; return true;
                case Src::index: out = 3; return true;
                case Src::expr: out = 4; return true;
                default: return false;
                }
            };
            if (rich(c.first.src, a) && rich(c.step[0].right.src, b)) e.value = chain1_table[a][b];
        } else if (c.steps > 1 && src(c.first.src, a)) {
            bool simple = true;
            for (uint32_t i = 0; simple && i < c.steps; ++i)
                simple = c.step[i].word_src == Src::global && src(c.step[i].right.src, b);
            if (simple) {
                bool constants = true, integers = true;
                for (uint32_t i = 0; constants && i < c.steps; ++i) {
                    constants = c.step[i].right.src == Src::constant;
                    integers = integers && constants && cell::is(c.step[i].right.cell, T_integer);
                }
                e.value = integers ? value_chain_integers : constants ? value_chain_constants : value_chain_simple;
            }
        }
        break;
    }
    case NodeKind::paren: e.value = value_paren; break;
    case NodeKind::pure_call: e.value = value_pure_call; break;
    case NodeKind::code_chain: e.push = push_code_chain; break;
    case NodeKind::code_paren: e.push = push_code_paren; break;
    case NodeKind::call: {
        Call& c = static_cast<Call&>(e);
        if (c.is_function) e.push = c.runs_code ? push_call<true, true> : push_call<true, false>;
        else e.push = c.runs_code ? push_call<false, true> : push_call<false, false>;
        // Lean: pure arguments, and for a native no path, no refinements and no return (whose
        // ending of a body push_call recognises).
        bool lean = !c.runs_code && c.args <= 4 &&
                    (c.is_function || (!c.has_path && c.args == c.fixed && !c.refinements && !c.is_return));
        if (lean) {
            static constexpr PushFn functions[] = {push_lean_call<true, false, 0>, push_lean_call<true, false, 1>,
                                                   push_lean_call<true, false, 2>, push_lean_call<true, false, 3>,
                                                   push_lean_call<true, false, 4>};
            static constexpr PushFn paths[] = {push_lean_call<true, true, 0>, push_lean_call<true, true, 1>,
                                               push_lean_call<true, true, 2>, push_lean_call<true, true, 3>,
                                               push_lean_call<true, true, 4>};
            static constexpr PushFn natives_[] = {push_lean_call<false, false, 0>, push_lean_call<false, false, 1>,
                                                  push_lean_call<false, false, 2>, push_lean_call<false, false, 3>,
                                                  push_lean_call<false, false, 4>};
            e.push = !c.is_function ? natives_[c.args] : c.has_path ? paths[c.args] : functions[c.args];
        }
        break;
    }
    default: break;
    }
    if (e.pure) e.push = push_pure;
}

void choose_runner(Stmt& s) {
    auto by_target = [](TargetKind k, auto value_of) -> RunFn { return value_of(k); };
    switch (s.kind) {
    case NodeKind::value_statement: {
        ValueStmt& v = static_cast<ValueStmt&>(s);
        s.run = by_target(v.target.kind, [](TargetKind k) -> RunFn {
            switch (k) {
            case TargetKind::none: return run_value<TargetKind::none>;
            case TargetKind::global: return run_value<TargetKind::global>;
            case TargetKind::local: return run_value<TargetKind::local>;
            case TargetKind::field: return run_value<TargetKind::field>;
            default: return run_value<TargetKind::index>;
            }
        });
        // One word, stored nowhere or into a word.
        if (v.value->kind == NodeKind::operand && v.target.kind <= TargetKind::local) {
            Src src = static_cast<const Chain&>(*v.value).first.src;
            static constexpr RunFn globals[] = {run_value_word<TargetKind::none, Src::global>,
                                                run_value_word<TargetKind::global, Src::global>,
                                                run_value_word<TargetKind::local, Src::global>};
            static constexpr RunFn locals[] = {run_value_word<TargetKind::none, Src::local>,
                                               run_value_word<TargetKind::global, Src::local>,
                                               run_value_word<TargetKind::local, Src::local>};
            if (src == Src::global) s.run = globals[uint32_t(v.target.kind)];
            else if (src == Src::local) s.run = locals[uint32_t(v.target.kind)];
        }
        if (v.target.kind == TargetKind::index && v.value->kind == NodeKind::chain) {
            const Chain& c = static_cast<const Chain&>(*v.value);
            if (c.steps == 1 && c.first.src == Src::index &&
                same_place(c.first.index(), *static_cast<const IndexPath*>(v.target.ref)))
                s.run = run_update;
        }
        break;
    }
    case NodeKind::counter: {
        CounterStmt& c = static_cast<CounterStmt&>(s);
        switch (c.target.kind) {
        case TargetKind::global: s.run = c.by_word ? run_counter<TargetKind::global, true> : run_counter<TargetKind::global, false>; break;
        case TargetKind::local: s.run = c.by_word ? run_counter<TargetKind::local, true> : run_counter<TargetKind::local, false>; break;
        default: s.run = c.by_word ? run_counter<TargetKind::field, true> : run_counter<TargetKind::field, false>; break;
        }
        break;
    }
    case NodeKind::code_statement:
        s.run = static_cast<CodeStmt&>(s).expr->kind == NodeKind::code_chain ? run_code<true> : run_code<false>;
        break;
    case NodeKind::ending_return: s.run = run_ending_return; break;
    case NodeKind::conditional: s.run = run_conditional; break;
    default: break;
    }
}

}  // namespace kov::interp
