// The lexer: UTF-8 source text into values.
//
// A byte-class table and a state machine (tables.h) find each token's extent and class; a
// scanner per structural class handles nesting, braced strings, paths, points and the
// construction syntax; a loader per value class (loaders.cpp) checks the token's exact syntax
// and builds its value.
//
// Values collect in one value buffer shared by every running scan, an array of cells on the
// tracked heap. An open block, paren, map, path or point is a level marker cell in that
// buffer, followed by the level's values; closing the level moves them into a new series once.
// The buffer grows by moving, so the lexer holds cell indexes, never cell addresses, across
// anything that reserves a cell. Every running scan has a record linked into a list of active
// scans; the collector marks, for each, its cells, its input series and its callback, so
// values under construction survive any collection.
//
// Scans nest only through the callback, which may run code that scans again or raises: a
// nested scan stores after its parent's cells and converts its text after its parent's, and
// every exit, normal or not, unlinks the record, returns the buffer's tail and gives back the
// conversion space.
//
// Memory: scanning allocates (strings, blocks, ...), so any call here may move series buffers.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::lexer {

// The events a callback may receive, as bits of its mask.
enum Event : uint32_t {
    ev_prescan = 1,   // a token was found (false: skip it)
    ev_scan = 2,      // a value token is about to be loaded (false: do not load it)
    ev_load = 4,      // a value was built (false: drop it)
    ev_open = 8,      // a level opens (false: do not open it)
    ev_close = 16,    // a level closes (false: do not close it)
    ev_error = 32,    // a syntax error (false: end the scan quietly instead of raising)
};
constexpr uint32_t all_events = 63;

// A hook called for the events of its mask; an event outside the mask counts as answered
// true. `input` is the scanned series with its index moved to the token (characters for a
// string, bytes for a binary, counted from the index the scan started at); the hook may move
// that index, and the scan then goes on from there (clamped to the scanned text). `type` is a
// datatype! value, or none! for a token without a type; `token` is the value just built for a
// load event, else a pair! of the token's 1-based start and end offsets. The hook may raise a
// kov::Error (the scan then ends cleanly and the error passes through) or leave a pending exit
// (the scan then ends and returns 0).
struct Callback {
    using Fn = bool (*)(void* data, Event event, Cell& input, const Cell& type, int32_t line, const Cell& token);
    Fn fn = nullptr;
    void* data = nullptr;
    uint32_t mask = all_events;
    Cell value{T_none, 0, 0, 0};  // the language-level callback it stands for, kept alive
};

struct Options {
    bool one_value = false;  // stop after the first complete value
    bool load = true;        // build values; without it the scan only classifies tokens
    bool wrap = true;        // put the result into the output cell (or the `into` block)
    bool as_block = false;   // in one-value mode, keep the result a block
    const Callback* callback = nullptr;
    const Cell* into = nullptr;  // a block to append the result to, instead of the output cell
};

// Scans the string! or binary! from its index (length characters or bytes, -1 for all). The
// result goes into `out`, which must not lie in a series buffer. `next`, when given, receives
// the characters (or bytes) consumed. Gives the datatype id of the last token (0 when the
// input held none, 34 for an invalid token in scan-only mode).
uint32_t load(Cell& out, const Cell& series, int64_t length, const Options& options, int64_t* next);

// Scans UTF-8 text (which must not lie in a series) for `input` (the series the text came
// from, for the callback and the consumed count; none! for text of no series). A NUL ends the
// input.
uint32_t scan(const uint8_t* text, uint64_t length, const Options& options, const Cell& input, Cell& out,
              int64_t* next = nullptr);

// Start-up: the value buffer, the conversion buffer and the collector root. Safe to call
// more than once; the scanning entry points call it when needed.
void init_tables();

// Introspection for tests: the number of active scans and the value buffer's capacity in cells.
uint32_t active_scans();
uint32_t buffer_capacity();
uint64_t conversion_used();

}  // namespace kov::lexer
