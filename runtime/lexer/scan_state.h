// What the scan loop and the token loaders share: the record of one running scan, the value
// buffer, and the routines that raise syntax errors and call the callback.
//
// Positions are byte addresses in the scanned text, which lives outside the series frames
// (the conversion buffer or a caller's fixed buffer) and never moves during a scan. Cells of
// the value buffer are named by index: `reserve` may move the whole buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/lexer/lexer.h"
#include "runtime/lexer/tables.h"

namespace kov::lexer {

// The lexer's own quiet exit: the current scan loop (or token) ends without an error value.
struct Abort {};
// The callback left a pending exit (break, throw ...): the scan ends at once.
struct Leave {};

// The marker type of an open level: an id that scanned values never have.
constexpr uint32_t marker_type = T_triple;

// Error kinds besides datatype ids.
constexpr int32_t k_bad_char = -1;
constexpr int32_t k_malconstruct = -2;
constexpr int32_t k_missing = -3;      // at a closing character
constexpr int32_t k_missing_end = -4;  // at the end of the input

struct State {
    State* parent = nullptr;
    // The value buffer: first cell of this scan, first cell of the innermost open level (the
    // marker lies just before it), next free cell.
    uint32_t base = 0, head = 0, tail = 0;
    const uint8_t* start = nullptr;  // the scanned text
    const uint8_t* end = nullptr;
    const uint8_t* pos = nullptr;
    const uint8_t* token_start = nullptr;
    const uint8_t* token_end = nullptr;
    int32_t line = 1;        // at the token's end
    int32_t line_delta = 0;  // line feeds consumed with the token, leading space included
    int32_t pending_type = -1;
    int32_t type = 0;
    uint8_t start_state = s_start;
    uint8_t prev_state = s_start;
    int32_t open_type = 0;   // the level named by a missing error
    int32_t last_type = 0;
    const uint8_t* brace_start = nullptr;
    int32_t brace_depth = 0;
    uint32_t brace_flags = 0;
    int32_t point_line_delta = 0;
    const Callback* callback = nullptr;
    Cell input{T_none, 0, 0, 0};  // the series scanned, or none
    uint32_t input_index = 0;     // its index when the scan started
    bool load = true;             // values are built (load and wrap both asked)
    // The byte-to-character cache of callback positions.
    const uint8_t* cache_pos = nullptr;
    int64_t cache_index = 0;
    // Where the callback moved the input's index to; taken once the token is done.
    const uint8_t* reposition = nullptr;
    // The callback answered an error of the current token false: the scan goes on after it.
    bool refused = false;
    // The closing run that a raw string looked for in vain, and from where: a later search for
    // as long a run from further on fails as well (the text does not change during a scan).
    uint32_t raw_miss_run = 0;
    const uint8_t* raw_miss_from = nullptr;
};

// ---- the value buffer -----------------------------------------------------------------------------
// The cell at an index; valid until the next reserve.
Cell& at(uint32_t index);
// A new unset! cell at the tail (with the new-line flag when asked); gives its index. May move
// the buffer; raises internal/no-memory when it cannot grow.
uint32_t reserve(State& st, bool new_line);
inline uint32_t reserve(State& st) { return reserve(st, st.line_delta > 0); }
// True when the innermost open level is of the type (none open: false).
uint32_t innermost_level(const State& st);

// ---- errors and events ------------------------------------------------------------------------------
// Raises the syntax error of the kind (a datatype id: invalid; or k_bad_char, k_malconstruct,
// k_missing, k_missing_end) over the text from start (null: the innermost level's opening)
// with the current line. Without the load flag, or when the callback refuses the error, it
// throws Abort instead. `missing_at` is the closing byte of a k_missing error.
[[noreturn]] void throw_error(State& st, const uint8_t* start, const uint8_t* end, int32_t kind,
                              const uint8_t* missing_at = nullptr);
// Sends an event when the callback asks for it; gives its answer (true when not sent).
// `input_at` is where the input's index is moved to; value is the token for a load event.
bool notify(State& st, Event event, int32_t type, const uint8_t* start, const uint8_t* end, const uint8_t* input_at,
            const Cell* value = nullptr);

// ---- loaders (loaders.cpp) ---------------------------------------------------------------------------
// A loader checks the token [s, e) (flags: the OR of its bytes' class flags); with build it
// also appends the value. It leaves st.pos after the token or after its closing character.
using Loader = void (*)(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build);
extern const Loader loaders[token_class_count];
// The scanners of the value classes that have one (quoted strings, words, issues).
extern const Loader value_scanners[token_class_count];
// Builds (or, without build, checks) the text [s, e) as a string of the type; with escapes the
// "^" sequences are decoded. The new-line flag is given by the caller. Errors name the type
// over the token (over the whole braced string while one is being built).
void load_text(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build, uint32_t type,
               bool escapes, bool new_line);
// The head word of a path ("a" of a/b, without a leading "'" or ":").
void load_path_head(State& st, const uint8_t* s, const uint8_t* e, uint32_t flags, bool build);
// The line feeds in [s, e).
int32_t count_lines(const uint8_t* s, const uint8_t* e);

}  // namespace kov::lexer
