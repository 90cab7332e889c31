#include "runtime/interpreter/trace.h"

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"

namespace kov::trace {

bool active = false;
bool requested = false;

namespace {

using memory::Node;

Cell callback{T_none, 0, 0, 0};
uint32_t mask = 0;
// The number of the system's own function bodies running: their insides fire no events but
// errors (user code they run included), while tracing? still answers the switch.
uint32_t quiet = 0;
void (*plain_stamp)(Error&) = nullptr;  // the stamp in force outside trace runs

const char* const event_names[16] = {"init",   "end",    "prolog", "epilog", "enter", "exit",  "open",  "return",
                                     "fetch",  "push",   "set",    "call",   "error", "throw", "catch", "expr"};
uint32_t event_symbols[16];
uint32_t callback_label = 0;

void mark_callback() { collector::mark_cell(callback); }

void init_once() {
    static bool done = false;
    if (done) return;
    done = true;
    for (int i = 0; i < 16; ++i) event_symbols[i] = symbol::make(event_names[i]);
    callback_label = symbol::make("<interp-callback>");
    collector::push_root(mark_callback);
}

inline const Cell& at(Node n, uint32_t i) { return cells::of(memory::buffer(n))[i]; }

// The OR of the event words of the block at the head of the series, or -1 when there is none.
int64_t filter_of(Node n) {
    if (!n || interp::tail_index(n) == 0 || !cell::is(at(n, 0), T_block)) return -1;
    Cell filter = at(n, 0);
    Node f = series::node_of(filter);
    uint32_t bits = 0;
    for (uint32_t i = series::position_of(filter); i < interp::tail_index(f); ++i) {
        const Cell& w = at(f, i);
        if (!cell::is(w, T_word)) continue;
        uint32_t s = symbol::resolve(word::symbol_of(w));
        for (int k = 0; k < 16; ++k)
            if (symbol::resolve(event_symbols[k]) == s) bits |= 1u << k;
    }
    return bits;
}

// The switch is put back however the callback ends.
struct SwitchOff {
    bool saved = active;
    SwitchOff() { active = false; }
    ~SwitchOff() { active = saved; }
};

// Errors raised while a trace runs are shown to the callback before they travel; a pending
// exit is put aside meanwhile, so that the callback runs as ordinary code.
void stamp_and_report(Error& e) {
    if (plain_stamp) plain_stamp(e);
    if (!active || !(mask & ev_error)) return;
    Cell args[3] = {e.args[0], e.args[1], e.args[2]};
    Cell near = e.near, given = e.value;
    collector::Root k0(args[0]), k1(args[1]), k2(args[2]), kn(near), kg(given);
    Cell v = error::value_of(e);
    collector::Root kv(v);
    stack::Pending aside = stack::pending;
    collector::Root ka(aside.value), kb(aside.name);
    stack::pending.code = stack::no_exit;
    fire(ev_error, 0, 0, -1, &v, nullptr);
    if (!stack::exiting()) stack::pending = aside;
}

}  // namespace

uint32_t mask_of(const Cell& fn) {
    init_once();
    if (!cell::is(fn, T_function)) return default_mask;
    int64_t bits = filter_of(function::spec_of(fn));
    if (bits < 0) {
        Cell body = function::body(fn);
        if (cell::is(body, T_block)) bits = filter_of(series::node_of(body));
    }
    return bits < 0 ? default_mask : static_cast<uint32_t>(bits);
}

void fire(Event e, Node code, uint32_t type, int32_t pos, const Cell* value, const Cell* ref) {
    if (!active || !(mask & e) || (quiet && e != ev_error) || stack::exiting()) return;
    if (code && (memory::buffer(code)->flags & memory::system_code)) return;
    int k = __builtin_ctz(e);
    Cell args[6];
    args[0] = word::cell_of(T_word, event_symbols[k]);
    if (code) {
        args[1] = Cell{type, 0, code, 0};
        uint32_t tail = interp::tail_index(code);
        args[2] = integer::make(pos >= 0 && static_cast<uint32_t>(pos) <= tail ? pos : -1);
    } else {
        args[1] = none::value;
        args[2] = integer::make(-1);
    }
    args[3] = value && !cell::is(*value, T_unset) ? *value : none::value;
    constexpr uint32_t with_ref = ev_set | ev_epilog | ev_prolog | ev_return | ev_call;
    args[4] = ref && (e & with_ref) ? *ref : none::value;
    // A call made without a name (a function value in the code) is named by the function.
    if (value && cell::is(args[4], T_word) && word::symbol_of(args[4]) == stack::anon_symbol()) args[4] = *value;
    args[5] = pair::make(static_cast<int32_t>(stack::values.args - stack::values.begin),
                         static_cast<int32_t>(stack::values.top - stack::values.begin));
    collector::Root r0(args[0]), r1(args[1]), r3(args[3]), r4(args[4]);
    Cell fn = callback;
    collector::Root rf(fn);
    Cell* top = stack::values.top;
    stack::reserve();  // the cell in use at the top stays as it is
    Cell label = word::cell_of(T_word, callback_label);
    {
        SwitchOff off;
        interp::apply_function(fn, args, 6, &label);
    }
    stack::values.top = top;
}

void fetch(Node code, uint32_t pos) {
    if (pos >= interp::tail_index(code)) return;
    Cell v = at(code, pos);
    fire(ev_fetch, code, T_block, static_cast<int32_t>(pos), &v, nullptr);
}

void pushed(Node code, uint32_t pos, const Cell* value) {
    Cell v = *value;
    collector::Root keep(v);
    fire(ev_push, code, T_block, static_cast<int32_t>(pos), &v, nullptr);
}

void set(Node code, uint32_t pos, const Cell* value, const Cell& target) {
    Cell v = *value, t = target;
    collector::Root keep(v), keep_target(t);
    fire(ev_set, code, T_block, static_cast<int32_t>(pos), &v, &t);
}

void set_word(Node code, uint32_t pos) {
    Cell target = at(code, pos - 1);
    collector::Root keep(target);
    fire(ev_push, code, T_block, static_cast<int32_t>(pos), &target, nullptr);
    fetch(code, pos);
}

void path(const Cell& path) {
    Node p = series::node_of(path);
    uint32_t type = cell::type(path);
    collector::RootNode keep(p);
    uint32_t start = series::position_of(path);
    fire(ev_enter, p, type, static_cast<int32_t>(start), nullptr, nullptr);
    for (uint32_t i = start; i < interp::tail_index(p); ++i) {
        Cell step = at(p, i);
        fire(ev_fetch, p, type, static_cast<int32_t>(i), &step, nullptr);
    }
}

void taken(Node code, uint32_t pos) {
    if (pos >= interp::tail_index(code)) return;
    Cell v = at(code, pos);
    collector::Root keep(v);
    fire(ev_fetch, code, T_block, static_cast<int32_t>(pos), &v, nullptr);
    fire(ev_push, code, T_block, static_cast<int32_t>(pos + 1), &v, nullptr);
}

void operator_found(Node code, uint32_t pos) { fetch(code, pos); }

void run(const Cell& block, const Cell& cb) {
    init_once();
    // A run inside another one (the callback may trace code itself) gets its own state and
    // gives the outer run its own back.
    struct Saved {
        bool active_ = active, requested_ = requested;
        Cell callback_ = callback;
        uint32_t mask_ = mask, quiet_ = quiet;
        void (*stamp_)(Error&) = error::stamp;
        ~Saved() {
            quiet = quiet_;
            active = active_;
            requested = requested_;
            callback = callback_;
            mask = mask_;
            error::stamp = stamp_;
        }
    } saved;
    collector::Root keep_outer(saved.callback_);
    if (error::stamp != stamp_and_report) plain_stamp = error::stamp;
    error::stamp = stamp_and_report;
    callback = cb;
    mask = mask_of(cb);
    quiet = 0;
    requested = active = true;
    fire(ev_init, 0, 0, -1, nullptr, nullptr);
    if (stack::exiting()) return;
    Cell b = block;
    collector::Root keep(b);
    interp::eval_block(b, true);
    // The end event sees no pending exit; one raised by the traced code goes on afterwards.
    stack::Pending aside = stack::pending;
    collector::Root ka(aside.value), kb(aside.name);
    stack::pending.code = stack::no_exit;
    Cell result = *stack::values.args;
    collector::Root kr(result);
    active = true;
    fire(ev_end, 0, 0, -1, nullptr, nullptr);
    if (!stack::exiting()) stack::pending = aside;
    *stack::values.args = result;
}

void run_body(const Cell& fn, const Cell* name, const Cell& body, void (*run)(const Cell& body)) {
    Body traced(fn, name, body);
    run(body);
    traced.epilog(*stack::values.args);
}

Body::Body(const Cell& fn, const Cell* name, const Cell& body)
    : saved_(active), switched_((fn.header & (function::flag_no_trace | function::flag_trace)) != 0),
      quieted_((fn.header & function::flag_compiled) != 0), fn_(fn), name_(name ? *name : none::value),
      body_(series::node_of(body)) {
    if (fn.header & function::flag_no_trace) active = false;
    else if (fn.header & function::flag_trace) active = requested;
    if (quieted_) ++quiet;
    else if (active) fire(ev_prolog, body_, T_block, 0, &fn_, &name_);
}

Body::~Body() {
    // Only an attribute's switch is undone: `trace false` inside a body holds after it.
    if (switched_) active = saved_;
    if (quieted_) --quiet;
}

void Body::epilog(const Cell& result) {
    (void)result;
    if (!quieted_ && active) fire(ev_epilog, body_, T_block, static_cast<int32_t>(interp::tail_index(body_)), &fn_, &name_);
}

}  // namespace kov::trace
