// Building a form's nodes (tree.h): a statement is compiled at its first run through its block's
// form, from the cells and the words' values at that moment, into a value statement (its
// expression pure: constants, words, fields, index paths, parens and number operators), a
// counter, a conditional, a statement that returns ending a body, or an expression statement
// whose terms call functions; anything else is left to the walker. The runner checks, wherever
// the walker would read a word, that the word still means what it meant here.
//
// Moving memory: nothing here allocates in the collected heap or runs Kov code; making a path's
// or a paren's token may make a form (the epoch moves; forms and their nodes stay where they
// are). Cells are read through a cursor, again after each token.
#include <vector>

#include "runtime/datatypes/object.h"
#include "runtime/interpreter/compiled/operators.h"
#include "runtime/interpreter/compiled/tree.h"

namespace kov::interp {

namespace {

constexpr uint32_t max_depth = 8;
constexpr uint8_t max_compiles = 4;

// What eval_single pushes for a value that stands for itself (no word, nothing to run).
inline bool plain_constant(uint32_t t) { return !needs_work(t) && t != T_word && t != T_set_word && t != T_unset; }

// The value of a word where the walker would push it as an operand (context::get), or null
// where it would call a function or raise: a word without a value, or holding a function, an
// operator or unset!.
inline const Cell* operand_value(const Cell& c) {
    const Cell* v = context::bound_slot(c);
    if (!v) return nullptr;
    uint32_t t = cell::type(*v);
    return in(t, ANY_FUNCTION) || t == T_unset ? nullptr : v;
}

// How a word is read: a global word's slot (one it has now: the global values only ever grow),
// a word of the function running now (the one whose body is being compiled: its frame), or
// through its binding.
inline Src word_src(const Cell& w) {
    if (word::context_of(w) == context::global_node) return context::global_slot(w) ? Src::global : Src::word;
    return word::context_of(w) == context::running.context && context::running_slot(w) ? Src::local : Src::word;
}

// What a call compiles for: a function, a native or an action present in its table (a
// conditional alone in its statement is a conditional statement instead).
inline bool compiled_callee(const Cell* held) {
    if (!held) return false;
    if (cell::is(*held, T_native) || cell::is(*held, T_action)) return entry_of(*held) != nullptr;
    return cell::is(*held, T_function);
}

// A native or action that compiled code answers itself, called from a word with pure arguments
// and no refinements: on the arguments it answers (square-root of a number, pick of a block or
// string by an integer) it runs no code and raises nothing, so its call is as pure as an
// operator's.
inline bool pure_callee(const Cell& fn) {
    if (cell::is(fn, T_native)) return function::entry_index(fn) == natives::index::square_root;
    return cell::is(fn, T_action) && function::entry_index(fn) - 1 == actions::slot::pick;
}
// A pure callee's call is compiled pure only where it would be answered now: pick's series a
// word holding a block or a string (a pick of anything else would leave its whole statement to
// the walker at every run, where a call node runs it).
bool pure_now(const Call& k) {
    if (cell::is(k.fn, T_native)) return true;
    const Expr& series = *k.arg[0].expr;
    if (series.kind != NodeKind::operand) return false;
    const Operand& o = static_cast<const Chain&>(series).first;
    if (o.src != Src::global && o.src != Src::local && o.src != Src::word) return false;
    const Cell* v = context::bound_slot(o.cell);
    return v && (cell::is(*v, T_block) || cell::is(*v, T_string));
}
inline bool pure_call_at(const Cell& c) {
    const Cell* held = cell::is(c, T_word) ? context::bound_slot(c) : nullptr;
    return held && pure_callee(*held) && compiled_callee(held);
}

// A call where the walker meets this cell (a word holding one of those, or a path whose first
// word does).
bool call_at(const Cell& c) {
    if (cell::is(c, T_word)) return compiled_callee(context::bound_slot(c));
    if (!cell::is(c, T_path)) return false;
    Cursor pc = cursor(series::node_of(c), 0xFFFFFFFFu);
    uint32_t i = series::position_of(c);
    if (i + 1 >= pc.limit || !cell::is(pc.cells[i], T_word)) return false;
    return compiled_callee(context::bound_slot(pc.cells[i]));
}

class Builder {
public:
    Builder(code_cache::Form& f, Node code) : f_(f), code_(code), arena_(f.arena) {}

    Stmt* statement(uint32_t pos, bool alone);

private:
    code_cache::Form& f_;
    Node code_;
    code_cache::Arena& arena_;

    template <class T>
    T* make(NodeKind kind) {
        T* n = arena_.make<T>();
        n->kind = kind;
        return n;
    }
    Stmt* value_statement(uint32_t pos, bool alone);
    Stmt* conditional(uint32_t pos);
    Stmt* code_statement(uint32_t pos);
    const Expr* expression(Node cells, uint32_t p, uint32_t depth, bool calls, uint32_t& next);
    bool term(Node cells, uint32_t p, uint32_t depth, bool calls, Operand& out, uint32_t& next);
    bool operand(const Cell& c, uint32_t depth, Operand& out);
    const Paren* paren(const Cell& c, uint32_t depth, bool calls);
    const Call* call(Node cells, uint32_t p, uint32_t depth, uint32_t& next);
    const IndexPath* index_path(const Cell& path);
    const Field* field(const Cell& path);
    const Expr* pure_operand(const Operand& o, uint32_t pos, uint32_t next);
};

// A path of two words naming an object's field, as the object's path step finds it
// (object::eval_path): the field's context and index, and the holder word; null for any other
// path. Its token is taken last.
const Field* Builder::field(const Cell& path) {
    Cursor pc = cursor(series::node_of(path), 0xFFFFFFFFu);
    uint32_t i = series::position_of(path);
    if (i + 2 != pc.limit) return nullptr;
    Cell first = pc.cells[i], name = pc.cells[i + 1];
    if (!cell::is(first, T_word) || !cell::is(name, T_word)) return nullptr;
    const Cell* holder = context::bound_slot(first);
    if (!holder || !cell::is(*holder, T_object)) return nullptr;
    Node ctx = object::context_of(*holder);
    int32_t k = context::find_word(ctx, word::symbol_of(name), true);
    if (k < 0 || !context::value_cell(ctx, static_cast<uint32_t>(k))) return nullptr;
    Field* fl = arena_.make<Field>();
    fl->holder = first;
    fl->holder_src = word_src(first);
    fl->context = ctx;
    fl->index = static_cast<uint32_t>(k);
    fl->path.take(series::node_of(path));
    return fl;
}

// A path read by index (a/:i/:j): a word holding a block (or a vector, with one step) and up to
// three integer or get-word steps; null for any other path.
const IndexPath* Builder::index_path(const Cell& path) {
    Node pn = series::node_of(path);
    uint32_t i = series::position_of(path);
    Cursor pc = cursor(pn, 0xFFFFFFFFu);
    if (pc.limit < i + 2 || pc.limit > i + 4 || !cell::is(pc.cells[i], T_word)) return nullptr;
    IndexPath ip;
    ip.first = pc.cells[i];
    ip.first_src = word_src(ip.first);
    const Cell* holder = context::bound_slot(ip.first);
    if (!holder || !(cell::is(*holder, T_block) || (cell::is(*holder, T_vector) && pc.limit == i + 2))) return nullptr;
    for (uint32_t j = i + 1; j < pc.limit; ++j) {
        const Cell& step = pc.cells[j];
        if (!cell::is(step, T_integer) && !cell::is(step, T_get_word)) return nullptr;
        ip.step_src[ip.steps] = cell::is(step, T_integer) ? Src::constant : word_src(step);
        ip.step[ip.steps++] = step;
    }
    if (ip.steps == 1 && ip.step_src[0] == Src::constant && integer::get(ip.step[0]) != 0) {
        int32_t n = integer::get(ip.step[0]);
        ip.one_constant = true;
        ip.offset = n > 0 ? n - 1 : n;
    }
    IndexPath* out = arena_.make<IndexPath>();
    *out = ip;
    out->path.take(pn);
    return out;
}

// An operand read where it lies: a constant, a word read through its binding, a paren of one
// pure expression, an index path or a field path; false where the walker must evaluate it.
bool Builder::operand(const Cell& c, uint32_t depth, Operand& out) {
    if (cell::is(c, T_word)) {
        if (!operand_value(c)) return false;
        out.src = word_src(c);
        out.cell = c;
        return true;
    }
    if (cell::is(c, T_paren)) {
        const Paren* p = paren(c, depth, false);
        if (!p) return false;
        out.src = Src::expr;
        out.ref = p;
        return true;
    }
    if (cell::is(c, T_path)) {
        if (const Field* fl = field(c)) {
            // Read as eval_path reads it: a function at its end would be called.
            const Cell* holder = context::bound_slot(fl->holder);
            const Cell* slot = context::value_cell(fl->context, fl->index);
            if (!holder || !slot || cell::is(*slot, T_unset) || called_by_path(cell::type(*slot))) return false;
            out.src = Src::field;
            out.ref = fl;
            return true;
        }
        const IndexPath* ip = index_path(c);
        if (!ip) return false;
        out.src = Src::index;
        out.ref = ip;
        return true;
    }
    out.src = Src::constant;
    out.cell = c;
    return plain_constant(cell::type(c));
}

// A term at position p of cells: an operand, or (calls) a call or a paren whose expression runs
// code (a child node); next is the position after it.
bool Builder::term(Node cells, uint32_t p, uint32_t depth, bool calls, Operand& out, uint32_t& next) {
    Cursor c = cursor(cells, 0xFFFFFFFFu);
    if (p >= c.limit) return false;
    Cell cell = c.cells[p];
    if (calls && call_at(cell)) {
        const Call* k = call(cells, p, depth + 1, next);
        if (!k) return false;
        out.src = Src::expr;
        out.ref = k;
        return true;
    }
    if (calls && cell::is(cell, T_paren)) {
        const Paren* pr = paren(cell, depth, true);
        if (!pr) return false;
        out.src = Src::expr;
        out.ref = pr;
        next = p + 1;
        return true;
    }
    next = p + 1;
    if (operand(cell, depth, out)) return true;
    // Without calls, a word holding a function is no operand, but some calls are pure.
    if (calls || !pure_call_at(cell)) return false;
    const Call* k = call(cells, p, depth + 1, next);
    if (!k || !k->pure) return false;
    out.src = Src::expr;
    out.ref = k;
    return true;
}

// A pure expression of one operand (an argument, a value alone).
const Expr* Builder::pure_operand(const Operand& o, uint32_t pos, uint32_t next) {
    Chain* e = make<Chain>(NodeKind::operand);
    e->pure = true;
    e->first = o;
    e->pos = pos;
    e->next = next;
    choose_runner(*e);
    return e;
}

// The expression at position p of cells (the block, or a paren in it): a term, then its
// operators with their right operands; with calls, terms may be calls and parens that run
// code. A whole expression: its tail is the cell after it. Gives null where the walker must
// take it; next is the position after it.
const Expr* Builder::expression(Node cells, uint32_t p, uint32_t depth, bool calls, uint32_t& next) {
    if (depth > max_depth) return nullptr;
    uint32_t start = p;
    Operand first;
    if (!term(cells, p, depth, calls, first, p)) return nullptr;
    std::vector<Step> steps;
    bool pure = !(first.src == Src::expr && !first.expr().pure);
    for (;;) {
        Cursor c = cursor(cells, 0xFFFFFFFFu);
        if (p >= c.limit) break;
        const Cell* op = infix_op_at(c.cells[p]);
        if (!op) break;
        Cell fn = op_function(*op);
        Operation operation = operation_of(fn);
        if (operation == op_none || p + 1 >= c.limit) return nullptr;
        Step step;
        step.word = c.cells[p];
        step.word_src = word_src(step.word);
        step.op = *op;
        step.operation = operation;
        step.pos = p;
        uint32_t q;
        if (!term(cells, p + 1, depth + 1, calls, step.right, q)) return nullptr;
        if (step.right.src == Src::expr && !step.right.expr().pure) pure = false;
        steps.push_back(step);
        p = q;
    }
    Cursor c = cursor(cells, 0xFFFFFFFFu);
    Tail tail;
    tail.lookahead = p < c.limit && cell::is(c.cells[p], T_word);
    if (tail.lookahead) tail.after = c.cells[p];
    next = p;
    // A lone term that runs code is its own node, whole.
    if (steps.empty() && first.src == Src::expr && !first.expr().pure) {
        Expr* e = const_cast<Expr*>(&first.expr());
        e->whole = true;
        e->tail = tail;
        return e;
    }
    Chain* e = make<Chain>(steps.empty() ? NodeKind::operand : pure ? NodeKind::chain : NodeKind::code_chain);
    e->pure = pure;
    e->whole = true;
    e->first = first;
    e->steps = static_cast<uint32_t>(steps.size());
    Step* s = arena_.array<Step>(steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) s[i] = steps[i];
    e->step = s;
    e->pos = start;
    e->next = p;
    e->tail = tail;
    choose_runner(*e);
    return e;
}

// A paren that holds one expression (pure, or with calls running code), as a child node; its
// token is taken first. Null where the walker must run it.
const Paren* Builder::paren(const Cell& c, uint32_t depth, bool calls) {
    Node pn = series::node_of(c);
    if (depth > max_depth || pn == code_) return nullptr;
    uint32_t at = series::position_of(c);
    if (at >= tail_index(pn)) return nullptr;
    Paren* p = arena_.make<Paren>();
    p->paren.take(pn);
    uint32_t next;
    const Expr* inner = expression(pn, at, depth + 1, calls, next);
    if (!inner || next != tail_index(pn)) return nullptr;
    p->kind = inner->pure ? NodeKind::paren : NodeKind::code_paren;
    p->pure = inner->pure;
    p->inner = inner;
    p->at = at;
    choose_runner(*p);
    return p;
}

// A call at position p of cells (the block or a paren in it): its arguments as fetch_and_run
// fetches them, each an expression (running code only where the call has no refinements in a
// path, whose arguments the walker's continuation would fetch again); a function's frame image
// holds its refinements as the path sets them. Null where the walker must make it (an argument
// of another kind, a spec not kept yet, a refinement named twice or not at all: the walker
// raises the error); next is the position after it.
const Call* Builder::call(Node cells, uint32_t p, uint32_t depth, uint32_t& next) {
    if (depth > max_depth) return nullptr;
    Cursor c = cursor(cells, 0xFFFFFFFFu);
    Cell head = c.cells[p];
    if (!call_at(head)) return nullptr;
    bool is_path = cell::is(head, T_path);
    Node pn = is_path ? series::node_of(head) : 0;
    uint32_t pi = is_path ? series::position_of(head) : 0;
    Call* k = make<Call>(NodeKind::call);
    k->head = is_path ? cursor(pn, 0xFFFFFFFFu).cells[pi] : head;
    k->head_src = word_src(k->head);
    k->fn = *context::bound_slot(k->head);
    k->is_function = cell::is(k->fn, T_function);
    Spec spec;
    if (!kept_spec(k->fn, spec) || spec.h.fixed > max_call_args) return nullptr;
    // Each argument in the order fetch_and_run fetches it: its spec item and, for a
    // refinement's of a function, its slot in the frame.
    std::vector<std::pair<uint32_t, uint32_t>> wanted;
    for (uint32_t i = 0; i < spec.h.fixed; ++i) wanted.emplace_back(i, 0);
    std::vector<Cell> image;
    if (k->is_function) {
        for (uint32_t i = spec.h.fixed; i < spec.h.items; ++i) {
            Cell slot;
            if (!frame_slot(spec.item(i), slot)) return nullptr;
            image.push_back(slot);
        }
    }
    if (is_path) {
        Cursor pc = cursor(pn, 0xFFFFFFFFu);
        for (uint32_t j = pi + 1; j < pc.limit; ++j) {
            const Cell& element = pc.cells[j];
            if (!cell::is(element, T_word)) return nullptr;
            uint32_t found = refinement_item(spec, element);  // as fetch_refinements finds it
            if (found == no_item) return nullptr;
            if (k->is_function) {
                // A function's refinement is its slot in the frame, its arguments the slots after it.
                if (logic::get(image[found - spec.h.fixed])) return nullptr;
                image[found - spec.h.fixed] = logic::true_value;
            } else {
                // A native's is its ordinal, given the position of its first argument.
                uint32_t r = spec.item(found).kind - 1;
                if (r >= 32 || r >= spec.h.refinements || k->refinements == 4) return nullptr;
                for (uint32_t m = 0; m < k->refinements; ++m)
                    if (k->refinement[m] == r) return nullptr;
                k->refinement[k->refinements] = static_cast<uint8_t>(r);
                k->refinement_at[k->refinements++] = static_cast<uint8_t>(wanted.size());
            }
            for (uint32_t a = 1; a <= spec.item(found).ts1; ++a)
                wanted.emplace_back(found + a, k->is_function ? found + a : 0);
        }
        k->has_path = true;
        k->path.take(pn);  // may make a form
    }
    if (wanted.size() > max_call_args) return nullptr;
    Arg* args = arena_.array<Arg>(wanted.size());
    uint32_t q = p + 1;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        auto [item_at, slot] = wanted[i];
        c = cursor(cells, 0xFFFFFFFFu);
        if (q >= c.limit) return nullptr;
        SpecItem item = spec.item(item_at);
        Arg& a = args[i];
        uint32_t r;
        if (item.kind != kind_normal) {
            // A literal or get argument is the cell as it stands (fetch_one), but for the
            // literal argument's paren, get-word and get-path, which it evaluates.
            Cell arg = c.cells[q];
            if (item.kind == kind_literal &&
                (cell::is(arg, T_paren) || cell::is(arg, T_get_word) || cell::is(arg, T_get_path)))
                return nullptr;
            Operand o;
            o.cell = arg;
            a.expr = pure_operand(o, q, q + 1);
            r = q + 1;
        } else {
            a.expr = expression(cells, q, depth + 1, !is_path, r);
            if (!a.expr) return nullptr;
        }
        if (!a.expr->pure) k->runs_code = true;
        a.ts1 = item.ts1;
        a.ts2 = item.ts2;
        a.ts3 = item.ts3;
        Cell any = typeset::any_but_unset();
        a.any = item.ts1 == typeset::bits(any, 0) && item.ts2 == typeset::bits(any, 1) && item.ts3 == typeset::bits(any, 2);
        a.pos = q;
        a.symbol = item.symbol;
        a.slot = slot;
        q = r;
    }
    k->fixed = static_cast<uint8_t>(spec.h.fixed);
    k->args = static_cast<uint8_t>(wanted.size());
    k->arg = args;
    k->slots = static_cast<uint8_t>(image.size());
    Cell* im = arena_.array<Cell>(image.size());
    for (std::size_t i = 0; i < image.size(); ++i) im[i] = image[i];
    k->image = im;
    if (!k->is_function) k->entry = entry_of(k->fn);
    k->is_return = cell::is(k->fn, T_native) && function::entry_index(k->fn) == natives::index::return_;
    if (pure_callee(k->fn) && !k->has_path && k->args == k->fixed && !k->runs_code && pure_now(*k)) {
        k->kind = NodeKind::pure_call;
        k->pure = true;
    }
    k->pos = p;
    k->next = q;
    // The collector keeps the function alive while the form names it.
    f_.held.push_back(&k->fn);
    choose_runner(*k);
    next = q;
    return k;
}

// [set-word | set-path] pure expression.
Stmt* Builder::value_statement(uint32_t pos, bool alone) {
    Cursor c = cursor(code_, 0xFFFFFFFFu);
    uint32_t p = pos;
    Target target;
    Cell first = c.cells[p];
    if (cell::is(first, T_set_word)) {
        // A set-word that context::set stores straight into its slot: a global word's, or a
        // local of the running function; any other word's set may run an object's change hook.
        target.word = first;
        Src src = word_src(first);
        if (src == Src::global) target.kind = TargetKind::global;
        else if (src == Src::local) target.kind = TargetKind::local;
        else return nullptr;
        ++p;
    } else if (cell::is(first, T_set_path)) {
        // A set-path into an object's field or a block's (or vector's) element, as the walker's
        // path steps and poke reach it.
        if (const Field* fl = field(first)) {
            target.kind = TargetKind::field;
            target.ref = fl;
        } else if (const IndexPath* ip = index_path(first)) {
            target.kind = TargetKind::index;
            target.ref = ip;
        } else {
            return nullptr;
        }
        ++p;
    }
    c = cursor(code_, 0xFFFFFFFFu);
    if (p >= c.limit) return nullptr;
    uint32_t next;
    const Expr* value = expression(code_, p, 0, false, next);
    if (!value || !value->pure) return nullptr;
    (void)alone;
    c = cursor(code_, 0xFFFFFFFFu);
    Tail tail;
    tail.lookahead = next < c.limit;
    if (tail.lookahead) tail.after = c.cells[next];

    // A counter: x: x + k, x: x - k (k an integer) or x: x + y (y a word), x the target.
    const Chain* chain = value->kind == NodeKind::chain ? static_cast<const Chain*>(value) : nullptr;
    if (chain && chain->steps == 1 && target.kind != TargetKind::none && target.kind != TargetKind::index) {
        const Step& step = chain->step[0];
        bool same = false;
        if (target.kind == TargetKind::field) {
            const Field* tf = static_cast<const Field*>(target.ref);
            same = chain->first.src == Src::field && chain->first.field().context == tf->context &&
                   chain->first.field().index == tf->index && chain->first.field().holder_src == tf->holder_src &&
                   same_binding(chain->first.field().holder, tf->holder);
        } else {
            same = (chain->first.src == Src::global || chain->first.src == Src::local) &&
                   same_binding(chain->first.cell, target.word);
        }
        bool by_constant = step.right.src == Src::constant && cell::is(step.right.cell, T_integer) &&
                           (step.operation == op_add ||
                            (step.operation == op_subtract && integer::get(step.right.cell) != INT32_MIN));
        bool by_word = (step.right.src == Src::global || step.right.src == Src::local || step.right.src == Src::word) &&
                       step.operation == op_add;
        if (same && (by_constant || by_word)) {
            CounterStmt* s = make<CounterStmt>(NodeKind::counter);
            s->value = value;
            s->target = target;
            s->tail = tail;
            s->word = step.word;
            s->word_src = step.word_src;
            s->in_place = step.word_src == Src::global && !tail.lookahead;
            s->op = step.op;
            s->by_word = by_word;
            if (by_word) s->amount = step.right;
            else s->delta = step.operation == op_add ? integer::get(step.right.cell) : -integer::get(step.right.cell);
            if (target.kind == TargetKind::field) s->read_field = &chain->first.field();
            s->pure = true;
            s->next = next;
            return s;
        }
    }
    ValueStmt* s = make<ValueStmt>(NodeKind::value_statement);
    s->value = value;
    s->target = target;
    s->tail = tail;
    s->pure = true;
    s->next = next;
    return s;
}

// if, unless or either: the head word holding the native, a condition (an expression, which
// may run code), and its block or blocks written out. A word after them must hold no operator
// when it runs (else the walker applies it to the native's result).
Stmt* Builder::conditional(uint32_t pos) {
    Cursor c = cursor(code_, 0xFFFFFFFFu);
    Cell head = c.cells[pos];
    if (!cell::is(head, T_word)) return nullptr;
    const Cell* value = bound_value(head);
    if (!value || !cell::is(*value, T_native)) return nullptr;
    uint32_t k = function::entry_index(*value);
    if (k != natives::index::if_ && k != natives::index::unless && k != natives::index::either) return nullptr;
    Cell native = *value;
    uint32_t blocks = k == natives::index::either ? 2 : 1;
    if (pos + 1 >= c.limit) return nullptr;
    uint32_t p;
    const Expr* cond = expression(code_, pos + 1, 0, true, p);
    c = cursor(code_, 0xFFFFFFFFu);
    if (!cond || p + blocks > c.limit) return nullptr;
    for (uint32_t i = 0; i < blocks; ++i)
        if (!cell::is(c.cells[p + i], T_block)) return nullptr;
    CondStmt* s = make<CondStmt>(NodeKind::conditional);
    s->head = head;
    s->head_src = word_src(head);
    s->native = native;
    s->which = k;
    s->cond = cond;
    s->blocks_at = p;
    s->blocks = static_cast<uint8_t>(blocks);
    for (uint32_t i = 0; i < blocks; ++i) s->branch[i].block = c.cells[p + i];
    s->next = p + blocks;
    s->tail.lookahead = s->next < c.limit && cell::is(c.cells[s->next], T_word);
    if (s->tail.lookahead) s->tail.after = c.cells[s->next];
    return s;
}

// [set-word] an expression that runs code; `return value` ending the block.
Stmt* Builder::code_statement(uint32_t pos) {
    Cursor c = cursor(code_, 0xFFFFFFFFu);
    uint32_t p = pos;
    bool sets = cell::is(c.cells[p], T_set_word);
    Cell target = c.cells[p];
    if (sets && ++p >= c.limit) return nullptr;
    uint32_t next;
    const Expr* e = expression(code_, p, 0, true, next);
    if (!e || (e->pure && !sets)) return nullptr;
    CodeStmt* s = make<CodeStmt>(NodeKind::code_statement);
    s->expr = e;
    s->sets = sets;
    if (sets) s->target = target;
    s->next = next;
    // return value, the block's last statement.
    c = cursor(code_, 0xFFFFFFFFu);
    if (!sets && e->kind == NodeKind::call && next == c.limit) {
        const Call& k = static_cast<const Call&>(*e);
        if (k.is_return && !k.has_path && k.args == 1 && k.arg[0].expr->pure) s->kind = NodeKind::ending_return;
    }
    return s;
}

Stmt* Builder::statement(uint32_t pos, bool alone) {
    Stmt* s = value_statement(pos, alone);
    if (!s) s = conditional(pos);
    if (!s) s = code_statement(pos);
    if (!s) return code_cache::walker_statement;
    s->pos = pos;
    if (s->kind == NodeKind::counter || s->kind == NodeKind::value_statement) s->pure = true;
    if (s->next < f_.cells) s->follow = &f_.at[s->next];
    choose_runner(*s);
    return s;
}

}  // namespace

Stmt* compile_statement(code_cache::Form& f, Node code, uint32_t pos, bool alone) {
    ++f.builds;
    return Builder(f, code).statement(pos, alone);
}

void missed(code_cache::Form& f, Node code, Stmt& s, bool alone) {
    if (++s.misses < 2) return;
    s.misses = 0;
    if (s.compiles + 1 >= max_compiles) {
        ++f.builds;
        f.at[s.pos] = code_cache::walker_statement;
        return;
    }
    uint8_t compiles = s.compiles + 1;
    Stmt* n = compile_statement(f, code, s.pos, alone);
    if (n != code_cache::walker_statement) n->compiles = compiles;
    f.at[s.pos] = n;
}

}  // namespace kov::interp
