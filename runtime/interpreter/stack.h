// The value stack: where arguments, locals and intermediate results live as cells. It is a
// fixed buffer of 20000 cells made once at start that never moves, so cells on it keep their
// addresses for the whole run (natives take their arguments as cell pointers). The argument
// base is the first argument cell of the running native, action or function, which is also
// its result cell. The collector marks every cell from the bottom to the top.
//
// Overflow raises internal/stack-overflow after moving the top back a few cells, which is
// the room the error machinery needs.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/word.h"

namespace kov::stack {

constexpr uint32_t value_stack_cells = 20000;

struct Values {
    Cell* begin = nullptr;
    Cell* top = nullptr;    // the next free cell
    Cell* end = nullptr;
    Cell* args = nullptr;   // the argument base
};
extern Values values;

void init();
bool ready();

[[noreturn]] void overflow();

inline Cell* reserve() {
    Cell* c = values.top++;
    if (values.top >= values.end) overflow();
    *c = Cell{T_unset, 0, 0, 0};
    return c;
}
inline Cell* push(const Cell& v) {
    Cell* c = values.top++;
    if (values.top >= values.end) overflow();
    *c = v;
    return c;
}
// Pushes n cells, the overflow at the same cell as n pushes would raise it.
inline void push_n(const Cell* v, uint32_t n) {
    if (values.top + n >= values.end) [[unlikely]] {
        for (uint32_t i = 0; i < n; ++i) push(v[i]);
        return;
    }
    for (uint32_t i = 0; i < n; ++i) values.top[i] = v[i];
    values.top += n;
}
inline void pop(uint32_t n) {
    values.top = static_cast<uint32_t>(values.top - values.begin) > n ? values.top - n : values.begin;
}
inline Cell* top() { return values.top > values.begin ? values.top - 1 : values.begin; }
inline Cell* arguments() { return values.args; }
inline void reset() { values.top = values.args; }
inline void keep() { values.top = values.args + 1; }

// Saves and restores the value-stack top (C++ code that pushes temporaries).
class Mark {
public:
    Mark() : top_(values.top), args_(values.args) {}
    ~Mark() {
        values.top = top_;
        values.args = args_;
    }
    Mark(const Mark&) = delete;
    Mark& operator=(const Mark&) = delete;

private:
    Cell* top_;
    Cell* args_;
};

// ---- the call-frame stack ----------------------------------------------------------------------
// Who called whom, and where errors, break, continue, return, exit and throw stop. A frame
// records its kind, the labelling word (symbol and context), the argument base of its caller
// (as a value-stack index) and, for function calls from C++, the function context whose
// values reference it saved. Frames live in a fixed array that never moves; they are named by
// their 1-based depth.
//
// Errors are C++ exceptions: a barrier (try, catch, the console) saves the frame depth and
// unrolls to it when it catches. break, continue, return, exit and throw are not exceptions:
// their native finds its target frame, records a pending exit and returns; every caller sees
// `exiting()` and returns in turn, popping its own frame, until the owner of the target frame
// consumes the exit.

constexpr uint32_t frame_capacity = 12000;

enum Kind : uint8_t {
    call = 0x01,               // a function called from C++
    native = 0x02,             // a native or action called from C++
    try_ = 0x04,
    try_all = 0x05,            // stops every exit, which becomes an error
    catch_ = 0x06,
    loop = 0x08,
    compiled_function = 0x12,
    interp_function = 0x81,
    interp_native = 0x82,
    eval = 0x87,
};
constexpr uint8_t return_target = 0x10;  // the frame is the target of return and exit
constexpr uint8_t interpreted = 0x80;

struct Frame {
    uint8_t kind;
    uint32_t symbol;       // the labelling word's symbol
    uint32_t args;         // the caller's argument base, as a value-stack index
    uint32_t word_context; // the labelling word's context node (0: none)
    uint32_t fn_context;   // kind 0x01: the function context whose values reference was saved
    uint32_t saved_values; // its values reference at push time
};

struct Frames {
    Frame* base = nullptr;
    uint32_t depth = 0;    // frames in use; the innermost is base[depth - 1]
};
extern Frames frames;

inline uint32_t depth() { return frames.depth; }
// Whether the value stack and the frames have room for a few cells and frames more than now.
// The interpreter's compiled shortcuts, which leave out pushes the walker makes (a block run's
// result cell, a native's frame around a branch run in place, a value pushed and operated on
// in place), take the walker's way when there is not, so that a stack overflow comes at the
// same place either way.
constexpr uint32_t shortcut_cells = 16, shortcut_frames = 4;
inline bool room() {
    return values.top + shortcut_cells < values.end && frames.depth + shortcut_frames < frame_capacity;
}
inline Frame& frame_at(uint32_t d) { return frames.base[d - 1]; }
inline Frame& top_frame() { return frames.base[frames.depth - 1]; }
inline uint32_t index_of(const Cell* c) { return static_cast<uint32_t>(c - values.begin); }

// Pushes a frame labelled with the word cell (or the hidden word `<body>` when null); the
// argument base becomes the value-stack top. Gives the new depth.
inline uint32_t push_frame(Kind kind, const Cell* word);
uint32_t push_call_frame(const Cell* word, uint32_t fn_context);
inline void set_return_flag(bool on) {
    Frame& f = frames.base[frames.depth - 1];
    f.kind = on ? (f.kind | return_target) : (f.kind & ~return_target);
}

// Pops the innermost frame. unwind: the callee's result stays in the old argument-base cell,
// now the caller's next value. unwind_last: the result is copied into the caller's result
// cell. drop_frame: the values are dropped. The _function forms also put back the saved
// values reference of a kind 0x01 frame.
inline void unwind();
inline void unwind_last();
inline void drop_frame();
// Pops the innermost frame and drops what was pushed inside it (its result included): the
// value-stack top goes back to where the frame began. For C++ code that evaluates inside a
// frame of its own and keeps temporaries below it.
inline void leave_frame();
// Pops frames (restoring function contexts) until `depth` frames remain; the argument base
// becomes the one the innermost remaining frame's code runs with, the value-stack top `top`.
void unroll_to(uint32_t depth, Cell* top, Cell* args);

// True when a frame with the interpreted-call flag lies below the given depth (all the way
// down, or only the first one).
bool frame_barrier_q(uint32_t below, bool only_one);

// ---- the frame routines, inline: every call and every evaluated block runs them ----------------
[[noreturn]] void frame_overflow();
extern uint32_t hidden_body_symbol;
// A kind 0x01 frame puts back the values reference of its function context.
void restore_call_frame(const Frame& f);

[[gnu::always_inline]] inline uint32_t push_frame(Kind kind, const Cell* word) {
    if (frames.depth >= frame_capacity) frame_overflow();
    Frame& f = frames.base[frames.depth++];
    f.kind = kind;
    f.symbol = word ? word::symbol_of(*word) : hidden_body_symbol;
    f.word_context = word ? word::context_of(*word) : 0;
    f.args = index_of(values.args);
    f.fn_context = 0;
    f.saved_values = 0;
    values.args = values.top;
    return frames.depth;
}

[[gnu::always_inline]] inline void pop_frame() {
    const Frame& f = top_frame();
    if (f.kind == call && f.fn_context) restore_call_frame(f);
    --frames.depth;
}

[[gnu::always_inline]] inline void unwind() {
    Cell* old_args = values.args;
    uint32_t saved = top_frame().args;
    pop_frame();
    values.args = values.begin + saved;
    values.top = old_args + 1;
}

[[gnu::always_inline]] inline void unwind_last() {
    Cell* old_args = values.args;
    uint32_t saved = top_frame().args;
    pop_frame();
    values.args = values.begin + saved;
    *values.args = *old_args;
    values.top = old_args + 1;
}

inline void drop_frame() {
    uint32_t saved = top_frame().args;
    pop_frame();
    values.args = values.begin + saved;
    values.top = values.args;
}

inline void leave_frame() {
    Cell* old_args = values.args;
    uint32_t saved = top_frame().args;
    pop_frame();
    values.args = values.begin + saved;
    values.top = old_args;
}

// ---- pending exits ------------------------------------------------------------------------------
enum ExitCode : uint32_t {
    no_exit = 0,
    exit_throw = 0x7FFFFFFA,
    exit_exit = 0x7FFFFFFB,
    exit_return = 0x7FFFFFFC,
    exit_continue = 0x7FFFFFFD,
    exit_break = 0x7FFFFFFE,
};
struct Pending {
    uint32_t code = no_exit;
    uint32_t target = 0;   // the depth of the frame that consumes it
    Cell value{T_unset, 0, 0, 0};   // break/return: the value; throw: the thrown value
    Cell name{T_none, 0, 0, 0};     // throw: the /name
};
extern Pending pending;
inline bool exiting() { return pending.code != no_exit; }
// When the pending exit targets the frame at this depth, clears it and gives its code.
inline uint32_t consume(uint32_t depth) {
    if (pending.code == no_exit || pending.target != depth) return no_exit;
    uint32_t code = pending.code;
    pending.code = no_exit;
    return code;
}

// break and continue: the innermost loop frame; a try/all frame met first, or no loop at all,
// raises throw/break or throw/continue.
void throw_loop(bool has_value, const Cell* value, bool is_continue);
// return and exit: the innermost frame marked as return target below the native's own frame.
void throw_return(bool has_value, const Cell* value);
// throw: the innermost catch frame; otherwise throw/throw with the value.
void throw_catch(const Cell& value, const Cell* name);
// An interrupt (Ctrl+C) seen by the interpreter: the throw `halt` makes, started here, when
// a catch frame can take it (the console's barrier); false, and the interrupt left pending,
// when none can (the console's own code between two commands).
bool raise_interrupt();
// A catch has stopped the throw (the frame it came from no longer names later errors).
void throw_caught();
// Whether a throw has left its origin for the next error report, and the code it was
// thrown from.
bool throw_origin_q();
Cell throw_origin_near();

// ---- reports ------------------------------------------------------------------------------------
// Symbols of the hidden labels (frames that reports skip); set when the symbols exist.
void set_hidden_symbols(uint32_t body, uint32_t anon);
uint32_t body_symbol();
uint32_t anon_symbol();
// The word of the innermost call not labelled with a hidden symbol: gives its symbol and
// context (0 symbol when there is none).
void caller_word(uint32_t& symbol, uint32_t& context);

}  // namespace kov::stack
