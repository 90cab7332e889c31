// Loop bodies run by the loop natives (LoopBody, interp.h): a body with a form runs its
// statements straight from it iteration after iteration, each iteration as eval_body would run
// it. A plain body, whose statements run no code (pure statements, conditionals whose branch
// runs in place), runs whole runs of iterations with the loop's word set straight into its
// slot: across such a run nothing moves (no code runs, nothing is pushed or allocated), so the
// form, the stack's depth, tracing and the word's slot are looked at once per run, and only the
// interrupt per iteration. A statement that cannot run plainly finishes its iteration the
// general way, from where it stands.
//
// Moving memory: an iteration that runs code may move any series and collect; the body's form
// is looked up again whenever the cache's epoch moved, and the loop word's slot found again.
#include "runtime/interpreter/compiled/tree.h"

namespace kov::interp {

namespace {

constexpr uint32_t max_plain_misses = 4;

// The slot context::set's own fast paths store a word's value into: a global word's, or a local
// of the running function; null for any other word, whose set may run an object's change hook.
[[gnu::always_inline]] inline Cell* direct_slot(const Cell& word) {
    return word::context_of(word) == context::global_node ? context::global_slot(word) : context::running_slot(word);
}

[[gnu::always_inline]] inline bool in_place(const Stmt& s) {
    return s.pure || (s.kind == NodeKind::conditional && static_cast<const CondStmt&>(s).cond->pure);
}

inline bool falsy(const Cell& v) { return cell::is(v, T_none) || (cell::is(v, T_logic) && !logic::get(v)); }

}  // namespace


// Looked up as eval_body looks it up, and only while its tests would hold.
void LoopBody::refresh() {
    epoch_ = code_cache::epoch;
    code_ = series::node_of(body_);
    memory::Buffer* b = memory::buffer(code_);
    pos_ = series::position_of(body_);
    end_ = b->used() / sizeof(Cell);
    type_ = cell::is(body_, T_paren) ? T_paren : T_block;
    form_ = (b->flags & memory::has_form) && !walker_only ? code_cache::linked_form(code_, b->spare) : nullptr;
    if (form_ && pos_ >= form_->cells) form_ = nullptr;
    counting_ = form_ != nullptr;
    plan_builds_ = ~0u;  // the plan's statements were the old form's, which may be gone
}

[[gnu::always_inline]] inline bool LoopBody::ready() {
    if (epoch_ != code_cache::epoch) [[unlikely]] refresh();
    return form_ && !trace::active && !os::interrupt_flag && pos_ < end_ && stack::room();
}

// The body's first statement compiled already, and not the walker's: then a run of the body
// from the form runs its first statement at least (statements compile at their first run, after
// the loop's word is set: the native's own run of the iteration compiles it).
[[gnu::always_inline]] inline bool LoopBody::first_compiled() {
    Stmt* s = form_->at[pos_];
    if (s == code_cache::walker_statement) [[unlikely]] {
        counting_ = false;
        return false;
    }
    return s != nullptr;
}

// Whether the body is a plain one: its statements, from its first to its end, all compiled (at
// most max_plain); those that run code run in the body's result cell of their own (plain_code).
// The plan is made again when statements were compiled (or given to the walker) since.
bool LoopBody::plain() {
    if (plain_misses_ > max_plain_misses || check_forms) return false;
    if (plan_builds_ == form_->builds) return plain_k_ != 0;
    plan_builds_ = form_->builds;
    plain_k_ = 0;
    uint32_t k = 0;
    for (uint32_t at = pos_; at < end_;) {
        if (k == max_plain) return false;
        Stmt* s = form_->at[at];
        if (!s || s == code_cache::walker_statement || s->next > end_ || s->next <= at) return false;
        plain_s_[k++] = s;
        at = s->next;
    }
    plain_k_ = k;
    return k != 0;
}

// One iteration of a body that is no plain one, as eval_body would run it.
[[gnu::noinline]] void LoopBody::iterate() {
    Stmt* s = form_->at[pos_];
    if (in_place(*s)) {
        run_frameless(*form_, body_, type_, pos_, end_);
        return;
    }
    // Its first statement runs code: eval_frameless's result cell from the start.
    run_in_result(*form_, type_, code_, pos_, end_);
}

namespace {
// One iteration of a plain body, its values into the block's result cell: true when it ran
// plainly whole; false when a statement could not (nothing of it done, or a conditional's branch
// that must run in its native's frame), the rest of the iteration then run the general way from
// that statement.
[[gnu::noinline]] bool plain_rest(const Stmt* const* s, uint32_t j, uint32_t k, Block& b, const Cell& body, Cell* top);
[[gnu::always_inline]] inline bool plain_code(Stmt& st, Block& b, const Cell& body, Cell* top);
[[gnu::always_inline]] inline bool plain_conditional(const CondStmt& cs, Block& b, const Cell& body, Cell* top);
// A pure statement of a plain run missed (nothing of it done): the rest of the iteration is the
// walker's, from it.
[[gnu::noinline]] bool plain_stop(Stmt& st, Block& b, const Cell& body, Cell* top) {
    missed(*b.form, b.code, st);
    continue_frameless(b.form, body, st.pos, b.end, top, true);
    return false;
}
[[gnu::always_inline]] inline bool plain_iteration(const Stmt* const* s, uint32_t k, Block& b, const Cell& body,
                                                   Cell* top) {
    // The commonest body, one pure statement, straight.
    if (k == 1 && s[0]->pure) [[likely]] {
        Stmt& st = *const_cast<Stmt*>(s[0]);
        if (st.run(st, b) != miss) [[likely]] return true;
        return plain_stop(st, b, body, top);
    }
    return plain_rest(s, 0, k, b, body, top);
}
// Plain iterations back to back while begin() starts one (sets the loop's word, false at the
// loop's end or an interrupt): true when begin() ended them, false when one stopped (its rest
// run the general way). A body of one pure statement (a counter, a sum) runs through its
// runner, found once for the run.
template <class Begin>
[[gnu::always_inline]] inline bool plain_run(Stmt* const* s, uint32_t k, Block& b, const Cell& body, Cell* top,
                                             Begin begin) {
    if (k == 1) {
        Stmt& st = *s[0];
        if (st.pure) {
            RunFn run = st.run;
            while (begin()) {
                if (run(st, b) == miss) [[unlikely]] return plain_stop(st, b, body, top);
            }
            return true;
        }
        // One statement that runs code, or a conditional: its own step, with no loop over one.
        if (!in_place(st)) {
            while (begin()) {
                if (!plain_code(st, b, body, top)) return false;
            }
            return true;
        }
        const CondStmt& cs = static_cast<const CondStmt&>(st);
        while (begin()) {
            if (!plain_conditional(cs, b, body, top)) return false;
        }
        return true;
    }
    while (begin()) {
        if (!plain_iteration(s, k, b, body, top)) return false;
    }
    return true;
}
// A statement that runs code, in a plain run: as eval_frameless would run it, in the body's
// result cell (reserved at top, the value so far copied in, as continue_frameless reserves it,
// so that its frames stand as deep as under the walker). true when it ran whole as compiled and
// the run may go on plainly: no exit pending, no form made or dropped, tracing still off, the
// global values where they were (the loop word's slot is found once for the run). Else false,
// the rest of the iteration run the general way from where it stopped.
[[gnu::always_inline]] inline bool plain_code(Stmt& st, Block& b, const Cell& body, Cell* top) {
    code_cache::Epoch epoch = code_cache::epoch;
    memory::Buffer* globals = context::global_buffer;
    check_depth();
    Cell* caller = stack::values.args;
    Cell* result = stack::reserve();
    *result = *caller;
    stack::values.args = result;
    Block in{b.form, b.code, b.type, b.end, result};
    uint32_t n = st.run(st, in);
    stack::values.args = caller;
    stack::values.top = top;
    if (n == miss) {
        if (!b.form->dead) missed(*b.form, b.code, st);
        continue_frameless(b.form, body, st.pos, b.end, top, true);
        return false;
    }
    *caller = *result;
    if (stack::exiting()) return false;
    if (n == st.next && epoch == code_cache::epoch && !trace::active && globals == context::global_buffer) return true;
    // The rest of the iteration the general way (its form looked up again).
    if (n < clip(b.code, b.end)) {
        code_cache::Form* f = epoch == code_cache::epoch || !b.form->dead ? b.form : nullptr;
        continue_frameless(f, body, n, b.end, top, !f);
    }
    return false;
}

bool plain_rest(const Stmt* const* s, uint32_t from, uint32_t k, Block& b, const Cell& body, Cell* top) {
    for (uint32_t j = from; j < k; ++j) {
        Stmt& st = *const_cast<Stmt*>(s[j]);
        if (st.pure) [[likely]] {
            if (st.run(st, b) != miss) [[likely]] continue;
            return plain_stop(st, b, body, top);
        }
        if (!in_place(st)) {
            if (plain_code(st, b, body, top)) continue;
            return false;
        }
        if (!plain_conditional(static_cast<const CondStmt&>(st), b, body, top)) return false;
    }
    return true;
}

// A conditional whose condition runs no code, in a plain run: true when it ran whole in place;
// else false, the rest of the iteration run the general way from it (its branch in the native's
// frame, or, when nothing of it was done, the walker's).
[[gnu::always_inline]] inline bool plain_conditional(const CondStmt& cs, Block& b, const Cell& body, Cell* top) {
    CondState c;
    CondStep step = conditional_start(cs, b, c);
    if (step == CondStep::done) return true;
    if (step == CondStep::miss) {
        missed(*b.form, b.code, const_cast<CondStmt&>(cs));
        continue_frameless(b.form, body, cs.pos, b.end, top, true);
    } else {
        continue_frameless(b.form, body, cs.pos, b.end, top, false, &cs, &c);
    }
    return false;
}
}  // namespace

bool LoopBody::run() {
    // While checking, eval_body's own way (it compares the form's hash at every block run).
    if (check_forms || !ready()) return false;
    if (form_->at[pos_] == code_cache::walker_statement) {
        form_ = nullptr;  // eval_body's until the epoch moves
        return false;
    }
    return run_frameless(*form_, body_, type_, pos_, end_);
}

int64_t LoopBody::count(Cell* word, int64_t from, int64_t n, bool& ran) {
    ran = false;
    if (epoch_ != code_cache::epoch) refresh();
    if (!counting_) return from;
    // Any other word's set may run an object's change hook, which the statements must not be
    // run across.
    if (word && word::context_of(*word) != context::global_node && !context::running_slot(*word)) return from;
    for (int64_t i = from; i <= n; ++i) {
        if (!ready() || !first_compiled()) return i;
        if (check_forms) [[unlikely]] code_cache::note_run(code_);  // as each block run does
        stack::values.top = stack::values.args + 1;                 // as run_body leaves it
        // loop sets no word: its counter goes to a cell nothing reads.
        Cell unread;
        Cell* slot = word ? direct_slot(*word) : &unread;
        if (slot && plain()) {
            // The body's code may drop its form (changing the body, an eviction): the nodes
            // stay until the run ends.
            code_cache::Running running(form_);
            Block b{form_, code_, type_, end_, stack::values.args};
            Cell* top = stack::values.args + 1;
            int64_t first = i;
            // k and the statements as values no call can change, kept in registers; i counts
            // the iterations begun, the one that stopped among them.
            --i;
            bool ended = plain_run(plain_s_, plain_k_, b, body_, top, [&] {
                if (++i > n || os::interrupt_flag) return false;
                cell::store(*slot, T_integer, 0, static_cast<uint32_t>(i), 0);
                return true;
            });
            if (i > n) return n + 1;
            if (ended) return i;  // interrupted before iteration i
            // A body that keeps stopping in the first iteration of a run (its branches not
            // run in place, say) is left to the general way.
            if (i == first) ++plain_misses_;
            if (stack::exiting()) {
                ran = true;
                return i;
            }
            continue;
        }
        if (word) {
            if (!slot) return i;
            cell::store(*slot, T_integer, 0, static_cast<uint32_t>(i), 0);
        }
        iterate();
        if (stack::exiting()) {
            ran = true;
            return i;
        }
    }
    return n + 1;
}

bool LoopBody::each(Cell* word, Cell* series, bool& ran) {
    ran = false;
    if (!in(cell::type(*series), ANY_BLOCK)) return false;
    if (epoch_ != code_cache::epoch) refresh();
    if (!counting_) return false;
    for (;;) {
        if (!ready() || !first_compiled()) return false;
        Cell* slot = direct_slot(*word);
        if (!slot) return false;
        if (check_forms) [[unlikely]] code_cache::note_run(code_);  // as each block run does
        stack::values.top = stack::values.args + 1;                 // as run_body leaves it
        if (plain()) {
            code_cache::Running running(form_);  // as in count
            Block b{form_, code_, type_, end_, stack::values.args};
            Cell* top = stack::values.args + 1;
            // Nothing a plain run does moves the series: its cells are found once.
            Node node = series::node_of(*series);
            uint32_t begun = 0;
            bool at_tail = false;
            bool ended = plain_run(plain_s_, plain_k_, b, body_, top, [&] {
                if (os::interrupt_flag) return false;
                uint32_t i = series::position_of(*series);
                if (i >= tail_index(node)) return !(at_tail = true);
                *slot = at(node, i);
                series::set_index(*series, i + 1);
                ++begun;
                return true;
            });
            if (ended) return at_tail;
            if (begun == 1) ++plain_misses_;
            if (stack::exiting()) {
                ran = true;
                return false;
            }
            continue;
        }
        Node node = series::node_of(*series);
        uint32_t i = series::position_of(*series);
        if (i >= tail_index(node)) return true;
        *slot = at(node, i);
        series::set_index(*series, i + 1);
        iterate();
        if (stack::exiting()) {
            ran = true;
            return false;
        }
    }
}

// The expression of the block's one statement when it is a pure value statement that sets
// nothing, else null.
static const Expr* single_value(code_cache::Form* f, uint32_t pos, uint32_t end) {
    Stmt* s = f->at[pos];
    if (!s || s == code_cache::walker_statement || s->kind != NodeKind::value_statement || s->next != end) return nullptr;
    const ValueStmt& v = static_cast<const ValueStmt&>(*s);
    return v.target.kind == TargetKind::none ? v.value : nullptr;
}

bool LoopBody::value(Cell& out) {
    if (check_forms || !ready()) return false;
    const Expr* e = single_value(form_, pos_, end_);
    return e && e->value(*e, out);
}

bool LoopBody::plain_while(LoopBody& cond, bool& ran) {
    ran = false;
    if (epoch_ != code_cache::epoch) refresh();
    if (!counting_ || check_forms) return false;
    for (;;) {
        if (!ready() || !first_compiled() || !cond.ready()) return false;
        const Expr* ce = single_value(cond.form_, cond.pos_, cond.end_);
        if (!ce) return false;
        stack::values.top = stack::values.args + 1;  // as run_body leaves it
        if (plain()) {
            code_cache::Running running(form_);  // as in count
            Block b{form_, code_, type_, end_, stack::values.args};
            Cell* top = stack::values.args + 1;
            uint32_t begun = 0;
            bool done = false, given_up = false;
            bool ended = plain_run(plain_s_, plain_k_, b, body_, top, [&] {
                Cell v;
                if (os::interrupt_flag || !ce->value(*ce, v) || cell::is(v, T_unset)) return !(given_up = true);
                if (falsy(v)) return !(done = true);
                ++begun;
                return true;
            });
            if (ended) return done && !given_up;
            if (begun == 1) ++plain_misses_;
            if (stack::exiting()) {
                ran = true;
                return false;
            }
            continue;
        }
        Cell v;
        if (!ce->value(*ce, v) || cell::is(v, T_unset)) return false;
        if (falsy(v)) return true;
        iterate();
        if (stack::exiting()) {
            ran = true;
            return false;
        }
    }
}

}  // namespace kov::interp
