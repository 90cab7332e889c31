// Tracing: `do/trace` runs a block under a callback that the interpreter calls at fixed points
// of evaluation (its events). The walker tests `trace::active` at each event site, a single
// predictable load and branch, and calls the out-of-line routines here only when it is set; a
// compiled executor reads the same switch and leaves every block run to the walker while it
// is on.
//
// Events fire only for the user's code: a block flagged as the system's own code (the bodies
// of functions made by the boot image) fires nothing, so that a library function's call and
// return show in a trace and its insides do not.
//
// The tracing switch is off while the callback runs, and inside functions with the
// `no-trace` attribute; a function with the `trace` attribute puts it back to `requested`.
//
// Moving memory: every fire routine calls Kov code, which may allocate, collect and move
// series; callers hold nodes and indexes, never cell pointers, across a call.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::trace {

// The tracing switch: on while events are delivered.
extern bool active;
// On from the start to the end of a `do/trace` run.
extern bool requested;

enum Event : uint32_t {
    ev_init = 1, ev_end = 2, ev_prolog = 4, ev_epilog = 8, ev_enter = 16, ev_exit = 32, ev_open = 64,
    ev_return = 128, ev_fetch = 256, ev_push = 512, ev_set = 1024, ev_call = 2048, ev_error = 4096,
    ev_throw = 8192, ev_catch = 16384, ev_expr = 32768,
};
constexpr uint32_t default_mask = 0x1FFFF;

// The event mask a callback asks for: the event words of a block at the head of its spec, or
// else of one at the head of its body; every event without either.
uint32_t mask_of(const Cell& callback);

// Calls the callback for the event when it is in the mask and `code` is the user's code (0:
// no code). type: the code's datatype (block! or paren!); pos: the position, -1 when none;
// value and ref may be null (none).
void fire(Event e, memory::Node code, uint32_t type, int32_t pos, const Cell* value, const Cell* ref);

// The walker's events of one expression: the value at pos is fetched; a value that no call
// produced is pushed (pos: after it); the value of an expression is set into a set-word.
void fetch(memory::Node code, uint32_t pos);
void pushed(memory::Node code, uint32_t pos, const Cell* value);
void set(memory::Node code, uint32_t pos, const Cell* value, const Cell& target);
// A set-word starting an expression, before pos: pushed, then the value at pos fetched.
void set_word(memory::Node code, uint32_t pos);

// A path about to be evaluated: entered, then each of its steps fetched.
void path(const Cell& path);
// An argument taken as it stands from pos: fetched and pushed.
void taken(memory::Node code, uint32_t pos);
// An infix operator's word found at pos by the look-ahead: fetched.
void operator_found(memory::Node code, uint32_t pos);
void produced(memory::Node code, uint32_t pos, const Cell* value, const Cell* target, bool pushed);

// Runs the block under the callback (the native `do` with /trace); its last value goes into the
// caller's argument-base cell.
void run(const Cell& block, const Cell& callback);

// Runs a function's body (with `run`) while a trace run is on, as a Body below.
void run_body(const Cell& fn, const Cell* name, const Cell& body, void (*run)(const Cell& body));

// A function body entered while a trace run is on: its attribute sets the switch, prolog fires
// (the system's own functions fire nothing from inside, errors apart);
// the destructor puts back a switch that the attribute changed.
class Body {
public:
    Body(const Cell& fn, const Cell* name, const Cell& body);
    ~Body();
    void epilog(const Cell& result);
private:
    bool saved_, switched_, quieted_;
    Cell fn_, name_;
    memory::Node body_;
};

}  // namespace kov::trace
