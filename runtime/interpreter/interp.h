// The interpreter: walks a block one expression at a time on the value and call-frame stacks.
// It resolves words in their contexts, evaluates set-words, get-words, lit-words and paths,
// calls native!, action!, op!, function! and routine! values after fetching their arguments
// from the code that follows, and applies infix operators strictly left to right.
//
// Positions in the code are indexes into the block's series, never cell addresses: a body that
// appends to or clears its own block, or a collection that moves it, never leaves the
// interpreter reading freed memory; evaluation stops at the smaller of the saved and the
// current tail.
//
// Results: an expression evaluated with `push` leaves its value as a new cell on top of the
// value stack; without it the value goes into the argument-base cell. Every evaluating frame
// keeps its result cell reserved, so that whatever it holds is always below the top and seen
// by the collector.
//
// break, continue, return, exit and throw travel as a pending exit (stack::pending): every
// loop of this file stops as soon as `stack::exiting()` is set, popping its frames as usual.
//
// Tracing (trace.h): an expression, a block run and a call each test `trace::active` once on
// entry and, when it is set, run in a traced instance of their routine, which fires the
// events; function bodies test `trace::requested`. The traced instances let no fast path
// past the events (integer operators done in place, arguments pushed without evaluation, the
// shortcuts of return and the conditionals), so that the callback sees every value. A trace
// started or resumed in the middle of an expression shows from the next expression on.
//
// Compiled execution (code_cache.h): a block run a second time gets a form, and its statements
// are compiled at their first run through it. They run with the walker's frames, `current`
// positions, result cells and pending exits, check every word where the walker reads it, and
// hand the rest to the walker from the exact position wherever a check fails after code has
// run. Their shortcuts leave out pushes the walker makes only while the stack has room
// (stack::room), so that both ways overflow at the same place.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/memory.h"

namespace kov::interp {

// The user's code being evaluated, its index at the current expression ("near" of error
// reports), and the call-frame depth it runs at. The bodies of the system's own functions
// (system_code blocks) leave both alone, so that errors are reported where the user's code
// called into the system.
extern Cell current;
extern uint32_t current_depth;
// The cell that starts the current expression, or null when there is none.
const Cell* current_cell();

// Execution switches, read from the environment once at start-up and changed only between
// runs (tests, fuzz targets). walker_only (KOV_WALKER_ONLY=1) turns compiled execution off so
// that every block is walked cell by cell, the reference behaviour; check_forms
// (KOV_CHECK_FORMS=1; on in checking builds unless KOV_CHECK_FORMS=0) makes every compiled
// form compare a hash of its source cells on each run and abort on a mismatch.
extern bool walker_only;
extern bool check_forms;

void init();

// Evaluates the block from its index; its last value (unset! for an empty block) goes into the
// caller's argument-base cell (keep_last) or is left as the caller's next value on the stack.
void eval_block(const Cell& block, bool keep_last);
// eval_block(block, true) without a frame of its own, for loop bodies and the branches of
// conditionals: a frame there would label nothing (it is hidden from reports) and stop
// nothing (break, continue, return and throw aim at loop, function and catch frames). The
// code runs with the current frame's depth as its own for error reports, which finds the
// same labelled frames above it.
void eval_body(const Cell& block);
// A loop body run by a loop native iteration after iteration: its form is looked up once per
// run of iterations (again whenever the cache's epoch moves), and its statements run straight
// from it, as eval_body's compiled run would run them, without eval_body's tests (and, for the
// counting loops and foreach, without the native's step) per iteration. Near the stack's limits
// every iteration takes eval_body's way, which pushes what the walker pushes.
// A plain body (statements that run no code, and conditionals whose branch runs in place)
// runs whole runs of iterations with the checks that hold for the run made once.
class LoopBody {
public:
    explicit LoopBody(const Cell& body) : body_(body) {}
    // One iteration as eval_body(body) runs it: false, having done nothing, where eval_body
    // must run it.
    bool run();
    // Iterations from..n of a counting loop (repeat's word, given, set to the iteration's
    // number first, as context::set sets it), run back to back while the body's statements
    // run compiled (those that run code too). Gives the first iteration it did not run back to
    // back (n + 1 when it ran them all); ran tells whether that one ran after all (its value in
    // the argument base, an exit pending), or nothing of it ran (its counter not set either).
    int64_t count(Cell* word, int64_t from, int64_t n, bool& ran);
    // The same for foreach over a block with one word (word set to each value in turn, the
    // series cell advanced, as the native's own step does): true when the series came to its
    // tail, false when an iteration is the native's (ran as for count).
    bool each(Cell* word, Cell* series, bool& ran);
    // The block (a loop's condition) run for its value alone when it is one compiled pure
    // statement: nothing in it can see the frames its evaluation would push. false, having
    // done nothing, where it must be evaluated.
    bool value(Cell& out);
    // A while loop's iterations (this the body, cond the condition) run back to back while the
    // condition is one compiled pure statement: true when the condition came out false, the
    // loop done; false when an iteration is the native's (ran as for count).
    bool plain_while(LoopBody& cond, bool& ran);
    // Whether count and each may run iterations (inline, as the loop asks every iteration).
    bool counting() const { return counting_ || epoch_ != code_cache::epoch; }

private:
    static constexpr uint32_t max_plain = 8;
    const Cell& body_;
    bool ready();
    void refresh();
    bool first_compiled();
    bool plain();
    void iterate();
    code_cache::Epoch epoch_ = ~code_cache::Epoch(0);
    bool counting_ = false;  // count may run iterations: the first statement is not known to be the walker's
    uint8_t plain_misses_ = 0;  // plain runs that stopped in their first iteration
    uint32_t pos_ = 0, end_ = 0, type_ = T_block;
    memory::Node code_ = 0;
    code_cache::Form* form_ = nullptr;
    // The body's plan as a plain body (plain_k statements), made when the form had plan_builds
    // statements compiled; plain_k 0 when it is no plain body.
    uint32_t plan_builds_ = ~0u, plain_k_ = 0;
    Stmt* plain_s_[max_plain];
};
// The same for a block given by node and index range.
void eval_range(uint32_t type, memory::Node code, uint32_t pos, uint32_t end, bool keep_last);

// Whether an expression takes the infix operators that follow its first value (an operand of
// an infix operator does not: operators apply strictly left to right).
enum class Infix : bool { apply, stop };
// Where an expression's value goes: into the argument-base cell, or a new cell on the stack.
enum class Result : bool { to_base, push };
// One expression from pos; gives the index after it.
uint32_t eval_expression(memory::Node code, uint32_t pos, uint32_t end, Infix infix, Result result);
// One expression inside a frame labelled `<body>`; gives the index after it.
uint32_t eval_next(memory::Node code, uint32_t pos, uint32_t end, bool push);
// One expression, its value pushed (eval_expression's Infix::apply and Result::push).
uint32_t eval_pushed(memory::Node code, uint32_t pos, uint32_t end);
// A native that evaluates a block one expression at a time through eval_next or eval_pushed
// (any, all, case, reduce, do/next, apply) counts each of its runs of the block here, as a
// block run is counted: a block run again gets a form, whose value statements then serve
// those two.
void note_expressions_run(memory::Node code);

// Call modes of `apply`.
enum Mode : uint32_t { mode_code = 0, mode_all = 1, mode_args = 2, mode_safer = 4 };

// How a call takes what is not in the code after it: the refinements written in the path it
// was reached through (from the element at path_pos), apply's mode, or, for an infix operator,
// its first argument, the value just before it on the stack.
struct CallHow {
    const Cell* path = nullptr;
    uint32_t path_pos = 0;
    uint32_t mode = mode_code;
    bool infix = false;
};

// Calls a native!, action!, function! or routine! with arguments fetched from the code at pos.
// The result is pushed.
uint32_t call(const Cell& fn, memory::Node code, uint32_t pos, uint32_t end, const Cell* name,
              const CallHow& how = CallHow{});

// Runs a function!'s body with its arguments already in place from the argument base; the
// result is left in the argument-base cell. Return and exit aimed at it end here.
void call_function(const Cell& fn, const Cell* name);

// Calls a function value from C++ with the given arguments (a comparator, a hook): pushes a
// call frame, the arguments, unused refinements and locals, runs it, and gives its result
// (copied out). A pending exit that does not stop at the function is left pending. The call
// frame is labelled with the word `name` when given (a callback's internal name).
Cell apply_function(const Cell& fn, const Cell* args, uint32_t count, const Cell* name = nullptr);

// Calls a function! from C++ with its first `count` slots given in spec order (arguments,
// refinements as logic! values, refinement arguments), whatever kind each slot is; the slots
// after them (and the locals) are filled as for unused refinements. The frame is labelled
// with `name`. Used where a caller fills a function's refinements itself (port actors).
Cell apply_slots(const Cell& fn, const Cell* slots, uint32_t count, const Cell* name);

// Builds and keeps the function's spec for fetching its arguments now, from the values its type
// words have now, as its first call would (allocates).
void keep_spec(const Cell& fn);

// Whether the spec of a native! or action! value fits its model's (the value its number was
// given by the boot definitions): the same arguments and refinements in the same places, no
// argument taking a type the model's does not.
bool spec_fits(const Cell& made, const Cell& model);

// What a path is evaluated for: its value, calling a function it reaches (evaluate), its value
// without calling (a get-path), or storing the value on top of the stack (a set-path).
enum class PathMode : uint8_t { evaluate, get, set };
// Evaluates a path; the result is pushed. With case_, the steps select case-sensitively
// (get/case, set/case).
uint32_t eval_path(const Cell& path, memory::Node code, uint32_t pos, uint32_t end, PathMode mode,
                   bool case_ = false);

// The index one past the last cell of a series (inline: loops ask it every iteration).
inline uint32_t tail_index(memory::Node code) { return memory::buffer(code)->used() / sizeof(Cell); }

}  // namespace kov::interp
