// The compiled form of a code block: a tree of nodes (nodes.def) built once per block, statement
// by statement at each one's first run through the form, from the cells and the words' values
// at that moment (build.cpp), and run (run.cpp, loops.cpp) with the walker's frames, results and
// `current`.
//
// A statement node holds its operands, its target and the address of the entry of the
// statement after it; an expression node holds its operands read inline (a constant, a global
// or local word's slot, an object's field, a block's element through an index path) and child
// nodes for what is not an operand (a paren, a call); a call node holds its arguments, the
// frame image of a function (refinement flags, refinement arguments, locals) and a reference
// to the callee body's form, so that a call runs the body's statements without looking
// anything up.
//
// Exactness. Every decision taken from a word's value is checked where the walker reads that
// word: the head word of a call before any argument is evaluated, an operator word after its
// left operand, the word after an expression (which must hold no operator). A pure node (one
// that runs no code) that fails a check has done nothing: the walker takes the whole
// statement. A node that runs code goes on with the walker from its own position once a check
// fails after code ran (the rest of a call's arguments, an operator's call, the infix loop),
// and so does every node whose form its code dropped, or which meets tracing switched on.
// Shortcuts that push less than the walker (values made in registers, a branch run without its
// native's frame) are taken only while the stacks have room (stack::room), so that both ways
// overflow at the same place.
//
// Moving memory: nodes live in their form's arena and never move; a form's nodes stay valid
// while a run of its statements is in progress (code_cache::Running), even after the form is
// released. Cells of the code are read through their node and index, never kept as addresses
// across code.
#pragma once
#include <cstdint>

#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/interpreter/evaluator.h"

namespace kov::interp {

enum class NodeKind : uint8_t {
#define NODE(name, pure, meaning) name,
#include "runtime/interpreter/compiled/nodes.def"
#undef NODE
};

// A series compiled code depends on (a path, a paren), by its token (code_cache::token).
struct Token {
    Node series = 0;
    uint32_t form = 0;
    code_cache::Epoch serial = 0;
    mutable code_cache::Epoch checked = 0;
    // Makes the token (may make a form, which moves the epoch; no series moves).
    void take(Node s) {
        series = s;
        form = code_cache::token(s, serial);
    }
    bool holds() const { return code_cache::token_holds(series, form, serial, checked); }
    bool valid() const { return code_cache::token_valid(series, form, serial); }
};

// Another block's form as a node keeps it (a callee's body, a branch): found again whenever
// the epoch moved, so never a released one.
struct FormRef {
    mutable code_cache::Form* form = nullptr;
    mutable code_cache::Epoch checked = 0;
    [[gnu::always_inline]] code_cache::Form* of(Node code) const {
        if (checked != code_cache::epoch) [[unlikely]] {
            form = code_cache::form_of(code);
            checked = code_cache::epoch;
        }
        return form;
    }
};

// ---- operands ------------------------------------------------------------------------------------

// Whether two word cells reach the same slot: the same context and the same index in it.
inline bool same_binding(const Cell& a, const Cell& b) {
    return word::context_of(a) == word::context_of(b) && word::index_of(a) == word::index_of(b);
}

// How an operand is read: its own cell (a constant), a global word's slot, a word of the
// running function, any other bound word through its binding, an object's field through a
// path of two words, a block's or vector's element through an index path, or a child node.
// A word compiled as global had its slot in the global values then; they only ever grow, so
// it is read at its index without a bound.
enum class Src : uint8_t { constant, global, local, word, field, index, expr };

// A path `word/field` in code, read or set as an object's path step does: the holder word (its
// first element) and the field's context and index found when compiled (a word list only
// grows, so they stay right while the holder holds an object with that context).
struct Field {
    Token path;
    Cell holder{};
    Src holder_src = Src::word;
    Node context = 0;
    uint32_t index = 0;
};
// A path of a word holding a block and up to three integer or get-word steps (a/:i/:j), read
// as the block's path step reads it; as a set-path target, set as the block's poke sets it.
struct IndexPath {
    Token path;
    Cell first{};
    Src first_src = Src::word;
    uint32_t steps = 0;
    Cell step[3]{};
    Src step_src[3]{};  // constant: an integer written; else how the get-word is read
    // One integer step written, not zero (`b/4`), the commonest: how far its element lies from
    // the block's position.
    bool one_constant = false;
    int32_t offset = 0;
};

struct Expr;
struct Operand {
    Src src = Src::constant;
    Cell cell{};                // the constant, or the word
    const void* ref = nullptr;  // the Field, IndexPath or Expr
    const Field& field() const { return *static_cast<const Field*>(ref); }
    const IndexPath& index() const { return *static_cast<const IndexPath*>(ref); }
    const Expr& expr() const { return *static_cast<const Expr*>(ref); }
};

// ---- expressions ---------------------------------------------------------------------------------

// How a node that runs code ended: failed having done nothing, done as compiled (its value
// pushed, at its compiled end), or finished by the walker (its value pushed; the position where
// the walker ended, from which the enclosing nodes go on with the walker too).
enum class Ran : uint8_t { failed, done, walked };

// Where an expression's cells are: the form holding its nodes, the epoch at which that form was
// last known to hold, the cells its positions count in (the block, or a paren in it, whose
// token must then still hold) and the end the walker's run of them has.
struct Where {
    code_cache::Form* form;
    code_cache::Epoch epoch;
    Node cells;
    uint32_t end;
    const Token* paren = nullptr;
    // After code ran: whether the nodes still stand for the cells (no form released that they
    // depend on, tracing off).
    [[gnu::always_inline]] bool holds() {
        if (code_cache::epoch == epoch && !trace::active) [[likely]] return true;
        return holds_again();
    }
    bool holds_again();
};

using ValueFn = bool (*)(const Expr& e, Cell& v);
using PushFn = Ran (*)(const Expr& e, Where& w, uint32_t& next);

// The cell after a whole expression (a statement's, an argument's, a condition's), where the
// walker looks for an operator to apply to its value.
struct Tail {
    bool lookahead = false;
    Cell after{};
};

struct Expr {
    NodeKind kind{};
    bool pure = false;
    // A whole expression (a statement's, an argument's, a condition's, a paren's), as opposed
    // to a term of one: after its code ran, it goes on with the walker's infix loop itself
    // wherever the nodes no longer hold or an operator follows it.
    bool whole = false;
    ValueFn value = nullptr;     // pure: the value, or false having done nothing
    PushFn push = nullptr;       // the value pushed as the walker pushes it (every node)
    uint32_t pos = 0, next = 0;  // where it starts and ends in its cells
    Tail tail;                   // a whole expression's
};

// A number operator applied in place: the operator word, the op! value it held, the operation
// (operators.h), the right operand, and where the operator word stands.
struct Step {
    Cell word{}, op{};
    Operand right;
    uint8_t operation = 0;
    Src word_src = Src::word;  // how the operator word is read
    uint32_t pos = 0;
};
struct Chain : Expr {
    Operand first;
    uint32_t steps = 0;
    const Step* step = nullptr;
};
struct Paren : Expr {
    Token paren;
    const Expr* inner = nullptr;
    uint32_t at = 0;  // where the paren's expression starts in it
};

// A call's argument: its expression (which runs code only in a call that does), the types it
// takes, where it starts, its name in the spec (for the type error) and, for a refinement's
// argument of a function, its slot in the frame.
struct Arg {
    const Expr* expr = nullptr;
    uint32_t ts1 = 0, ts2 = 0, ts3 = 0;
    uint32_t pos = 0, symbol = 0, slot = 0;
    bool any = false;  // it takes every type but unset!
};
// A call of what a word (or a path's first word) held when compiled: the head word and the
// function, native or action it held (kept alive while the form names it, so that its node
// cannot come back as another function), the path for refinements written in one, the
// arguments in the order fetch_and_run fetches them (the fixed ones, then each refinement's),
// the frame's cells after the fixed arguments for a function (its refinements set as the path
// sets them), and for a native its refinements: each one's ordinal and the position of its
// first argument in the frame.
struct Call : Expr {
    Cell head{}, fn{};
    Src head_src = Src::word;
    Token path;
    bool has_path = false;
    bool is_function = false;
    bool runs_code = false;  // an argument runs code: the frame is pushed before the arguments
    bool is_return = false;  // the native return
    uint8_t fixed = 0, args = 0, slots = 0;
    uint8_t refinements = 0;
    uint8_t refinement[4] = {}, refinement_at[4] = {};
    const Arg* arg = nullptr;
    const Cell* image = nullptr;
    natives::Entry entry = nullptr;
    // A function's body: its form and index, as found when the epoch was body_checked (while
    // the epoch stays, the function's body is that form's block, unchanged).
    mutable code_cache::Form* body = nullptr;
    mutable code_cache::Epoch body_checked = 0;
    mutable uint32_t body_pos = 0;
};
constexpr uint32_t max_call_args = 8;

// ---- statements ----------------------------------------------------------------------------------

// A run of a block's statements: the form, the block, where the run ends, where its statements
// leave their values (the argument base).
struct Block {
    code_cache::Form* form;
    Node code;
    uint32_t type;
    uint32_t end;
    Cell* result;
};

struct Stmt;
// A statement run: the position after it (its compiled end, or where the walker ended), or
// miss, having done nothing, where the walker must take it.
using RunFn = uint32_t (*)(Stmt& s, Block& b);
constexpr uint32_t miss = 0xFFFFFFFFu;

struct Stmt {
    NodeKind kind{};
    bool pure = false;
    uint8_t misses = 0;    // runs that left it to the walker since it was compiled
    uint8_t compiles = 0;  // times it was compiled
    RunFn run = nullptr;
    uint32_t pos = 0, next = 0;
    Stmt** follow = nullptr;  // the form's entry for the statement at next (null at the end)
};

// Where a statement stores its value: nowhere, a global word's slot, a word of the running
// function, an object's field (no change hook), a block's or vector's element.
enum class TargetKind : uint8_t { none, global, local, field, index };
struct Target {
    TargetKind kind = TargetKind::none;
    Cell word{};
    const void* ref = nullptr;  // the Field or IndexPath
};

struct ValueStmt : Stmt {
    const Expr* value = nullptr;
    Target target;
    Tail tail;
};
// x: x + k, x: x - k (k an integer, delta) or x: x + y (y a word, by_word): x's cell, reached
// through the target (a global word, a local, a field path read and set through the same
// word: read_field is the path read), gets the amount added in place; anything else runs as
// the value statement it also is.
struct CounterStmt : ValueStmt {
    Cell word{}, op{};  // the operator word and its op!
    Src word_src = Src::word;
    bool in_place = false;  // the operator word global, no word after the statement: the sum in place may be tried
    int32_t delta = 0;
    bool by_word = false;
    Operand amount;
    const Field* read_field = nullptr;
};
struct CodeStmt : Stmt {
    const Expr* expr = nullptr;
    bool sets = false;
    Cell target{};
};
// A branch written in a conditional: its block and, once it has one, its form.
struct Branch {
    Cell block{};
    FormRef form;
};
struct CondStmt : Stmt {
    Cell head{}, native{};
    Src head_src = Src::word;
    uint32_t which = 0;  // the native's index: if, unless or either
    const Expr* cond = nullptr;
    uint32_t blocks_at = 0;
    uint8_t blocks = 0;
    Branch branch[2];
    Tail tail;
};
// What a conditional's first part (which runs no code) leaves for its second (the native's
// frame and the rest of the branch): the condition, the branch chosen and its form, where the
// branch starts, where the statements run in place stopped, and where it ends.
struct CondState {
    Cell condition;
    uint32_t chosen;
    code_cache::Form* form;
    uint32_t start, left, branch_end;
};
enum class CondStep : uint8_t { miss, done, more };

// ---- between the builder and the runner --------------------------------------------------------

// build.cpp: compiles the statement at pos of the block into its form (alone: a value alone
// first in its block is compiled too, for the natives that evaluate a block one expression at
// a time); gives the node, or code_cache::walker_statement.
Stmt* compile_statement(code_cache::Form& f, Node code, uint32_t pos, bool alone = false);
// A statement the walker took: after two misses it is compiled again from the values now;
// after four compiles it stays walked.
void missed(code_cache::Form& f, Node code, Stmt& s, bool alone = false);

// run.cpp: the runner of each node, chosen by its kind and shape.
void choose_runner(Expr& e);
void choose_runner(Stmt& s);

// run.cpp: the statements of a block with a form from pos (a block run: its result cell the
// argument base); gives the position from which the walker goes on, or ran_to_end.
uint32_t run_statements(code_cache::Form& f, uint32_t type, Node code, uint32_t pos, uint32_t end, Cell* result);
// run.cpp: the statements from pos in a result cell of their own, as eval_frameless reserves it
// (its value copied down into the argument base at the end), the walker going on where the form
// stops.
void run_in_result(code_cache::Form& f, uint32_t type, Node code, uint32_t pos, uint32_t end);
// run.cpp: a frameless run of a block with a form (eval_body's way), whole: false, having done
// nothing, where eval_body's own way must take it.
bool run_frameless(code_cache::Form& f, const Cell& block, uint32_t type, uint32_t pos, uint32_t end);
// run.cpp: the rest of a frameless run from pos once it met a statement that runs code (its
// value so far in the argument base, top where its result cell goes): the result cell reserved
// as eval_frameless reserves it, the statements from the form (walk: the walker's from pos),
// the value left pushed at top. A conditional whose first part ran (cond, with what it left
// in state) runs its second part first.
void continue_frameless(code_cache::Form* f, const Cell& block, uint32_t pos, uint32_t end, Cell* top,
                        bool walk = false, const CondStmt* cond = nullptr, const CondState* state = nullptr);
// run.cpp: a pure conditional's first part and second part (see CondState).
CondStep conditional_start(const CondStmt& s, Block& b, CondState& c);
uint32_t conditional_in_frame(const CondStmt& s, Block& b, const CondState& c);
// The walker's run of a block from pos, into its result cell (a value statement there counts
// a miss).
void walk_rest(uint32_t type, Node code, uint32_t pos, uint32_t end, Cell* result);

}  // namespace kov::interp
