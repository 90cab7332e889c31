// The scan loop and the structural scanners: levels (blocks, parens, maps, paths, points),
// braced strings, the construction syntax, comments; syntax errors and callback events.
//
// A level marker is a cell of the marker type: w1 the number of cells between the enclosing
// level's head and the marker, w2 the level's datatype id (low 16 bits) and, for a point
// level, its comma count (high 16 bits), w3 the byte offset of its opening character. The
// values after it are the level's. Invariant: head - 1 is the innermost marker whenever
// head > base.
#include "runtime/lexer/lexer.h"

#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/heap.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/scan_state.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"

namespace kov::lexer {

namespace {

constexpr uint32_t initial_cells = 1000;
constexpr uint64_t conversion_bytes = 100000;

struct Globals {
    Cell* cells = nullptr;
    uint32_t capacity = 0;
    uint32_t used = 0;  // cells written since the last outermost scan ended
    uint8_t* conversion = nullptr;
    uint64_t conversion_used = 0;
    State* innermost = nullptr;
    uint32_t active = 0;
    bool ready = false;
};
Globals g;

// The collector's root: every active scan's cells, input and callback.
void mark() {
    for (State* s = g.innermost; s; s = s->parent) {
        collector::mark_cells(g.cells + s->base, g.cells + s->tail);
        collector::mark_cell(s->input);
        if (s->callback) collector::mark_cell(s->callback->value);
    }
}

bool is_marker(const Cell& c) { return cell::is(c, marker_type); }
// A marker is the lexer's own record, not a value: its words are read as stored.
uint32_t level_of(const Cell& marker) { return cell::word<2>(marker) & 0xFFFF; }

[[noreturn]] void no_memory() { error::fire(err::internal_no_memory); }

// ---- character indexes for the callback -------------------------------------------------------------

bool counts_characters(const State& st) { return in(cell::type(st.input), ANY_STRING); }

int64_t char_index(State& st, const uint8_t* p) {
    if (p < st.start) p = st.start;
    if (p > st.end) p = st.end;
    if (!counts_characters(st)) return p - st.start;
    // Counted from the last answer, forward or backward, so that a long text is not counted
    // again from its start for every event.
    if (!st.cache_pos) {
        st.cache_pos = st.start;
        st.cache_index = 0;
    }
    if (p >= st.cache_pos) st.cache_index += unicode::utf8_count(st.cache_pos, p);
    else st.cache_index -= unicode::utf8_count(p, st.cache_pos);
    st.cache_pos = p;
    return st.cache_index;
}

const uint8_t* position_of(State& st, int64_t index) {
    if (index <= 0) return st.start;
    if (!counts_characters(st)) return index >= st.end - st.start ? st.end : st.start + index;
    return unicode::utf8_skip(st.start, st.end, index);
}

// ---- error texts ----------------------------------------------------------------------------------

// A string! of the code points.
Cell text_cell(const uint32_t* cps, uint32_t n) {
    uint32_t unit = 1;
    for (uint32_t i = 0; i < n; ++i) unit = cps[i] > 0xFFFF ? 4 : (cps[i] > 0xFF && unit < 2 ? 2 : unit);
    memory::Node node = memory::alloc_series(n ? n : 1, unit, 0);
    memory::Buffer* b = memory::buffer(node);
    for (uint32_t i = 0; i < n; ++i) unicode::put_char(b->head_ptr() + i * unit, unit, cps[i]);
    b->tail = b->head + n * unit;
    return string::cell_of(node);
}

// The offending text: whole characters from start while they begin before the end of the
// input, before a line feed and less than 30 bytes after the start. A byte that is not
// valid UTF-8 stands as U+FFFD.
Cell offending_text(const State& st, const uint8_t* start) {
    uint32_t cps[40];
    uint32_t n = 0;
    const uint8_t* p = start;
    while (p < st.end && *p != '\n' && *p != 0 && p - start < 30) {
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, st.end, cp);
        if (cp < 0) {
            cp = 0xFFFD;
            next = p + 1;
        }
        cps[n++] = static_cast<uint32_t>(cp);
        p = next;
    }
    return text_cell(cps, n);
}

Cell line_text(int32_t line) {
    char text[32] = "(line ";
    uint32_t len = 6;
    char digits[12];
    uint32_t d = 0;
    uint32_t v = line < 0 ? 0 : static_cast<uint32_t>(line);
    do {
        digits[d++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (d) text[len++] = digits[--d];
    text[len++] = ')';
    uint32_t cps[32];
    for (uint32_t i = 0; i < len; ++i) cps[i] = static_cast<uint8_t>(text[i]);
    return text_cell(cps, len);
}

}  // namespace

// ---- the value buffer -------------------------------------------------------------------------------

Cell& at(uint32_t index) { return g.cells[index]; }

uint32_t reserve(State& st, bool new_line) {
    if (st.tail >= g.capacity) {
        uint64_t wanted = uint64_t(g.capacity) * 2;
        if (wanted * sizeof(Cell) > memory::max_buffer_size) no_memory();
        void* grown = heap::resize(g.cells, wanted * sizeof(Cell));
        if (!grown) no_memory();
        g.cells = static_cast<Cell*>(grown);
        g.capacity = static_cast<uint32_t>(wanted);
    }
    g.cells[st.tail] = Cell{T_unset | (new_line ? cell::new_line : 0u), 0, 0, 0};
    if (st.tail >= g.used) g.used = st.tail + 1;
    return st.tail++;
}

uint32_t innermost_level(const State& st) { return st.head > st.base ? level_of(g.cells[st.head - 1]) : 0; }

// ---- errors and events ------------------------------------------------------------------------------

bool notify(State& st, Event event, int32_t type, const uint8_t* start, const uint8_t* end, const uint8_t* input_at,
            const Cell* value) {
    const Callback* cb = st.callback;
    if (!cb || !cb->fn || !(cb->mask & event)) return true;
    Cell input = st.input;
    bool series_input = !cell::is(input, T_none);
    if (series_input) series::set_index(input, st.input_index + static_cast<uint32_t>(char_index(st, input_at)));
    uint32_t sent_index = series_input ? series::position_of(input) : 0;
    Cell type_cell = type > 0 ? datatype::make(static_cast<uint32_t>(type)) : none::value;
    Cell token = value ? *value
                       : pair::make(static_cast<int32_t>(char_index(st, start) + 1),
                                    static_cast<int32_t>(char_index(st, end) + 1));
    collector::Root keep_input(input);
    collector::Root keep_token(token);
    bool answer = cb->fn(cb->data, event, input, type_cell, st.line, token);
    if (stack::exiting()) throw Leave{};
    if (series_input && series::position_of(input) != sent_index) {
        int64_t index = int64_t(series::index_of(input)) - int64_t(st.input_index);
        st.reposition = position_of(st, index);
    }
    return answer;
}

void throw_error(State& st, const uint8_t* start, const uint8_t* end, int32_t kind, const uint8_t* missing_at) {
    if (!st.load) {
        st.type = T_error;
        st.open_type = 0;
        throw Abort{};
    }
    if (!start) start = st.head > st.base ? st.start + cell::word<3>(g.cells[st.head - 1]) : st.start;
    if (!end || end < start) end = start;
    if (st.callback) {
        int32_t t = kind > 0                ? kind
                    : st.open_type > 0      ? st.open_type
                    : st.type > 0           ? st.type
                    : st.pending_type > 0   ? st.pending_type
                                            : int32_t(T_error);
        if (!notify(st, ev_error, t, start, end, start)) {
            st.open_type = 0;
            st.refused = true;
            throw Abort{};
        }
    }
    uint32_t level = static_cast<uint32_t>(st.open_type > 0 ? st.open_type : 0);
    st.open_type = 0;
    // An error inside an open path is a bad character, except a path closed by what its kind
    // cannot take (a lit-path or get-path followed by ":"): that stays a missing closer.
    if (in(level, ANY_PATH) && kind != k_missing) kind = k_bad_char;

    Cell line = line_text(st.line);
    collector::Root keep_line(line);
    Cell text = offending_text(st, start);
    switch (kind) {
    case k_bad_char: error::fire(err::syntax_bad_char, line, text);
    case k_malconstruct: error::fire(err::syntax_malconstruct, line, text);
    case k_missing:
    case k_missing_end: {
        // The character that would have closed (or opened) the level.
        int32_t ch = 0;
        bool at_closer = kind == k_missing && missing_at && missing_at < st.end;
        if (level == T_block || level == T_map) ch = at_closer && *missing_at == ']' ? '[' : ']';
        else if (level == T_paren || level == T_point2d) ch = at_closer && *missing_at == ')' ? '(' : ')';
        error::fire(err::syntax_missing, line, char_::make(static_cast<int32_t>(ch)), text);
    }
    default: error::fire(err::syntax_invalid, line, datatype::make(static_cast<uint32_t>(kind)), text);
    }
}

int32_t count_lines(const uint8_t* s, const uint8_t* e) {
    int32_t n = 0;
    for (; s < e; ++s) n += *s == '\n';
    return n;
}

namespace {

// ---- levels -------------------------------------------------------------------------------------------

// False when the callback refused the opening.
bool open_level(State& st, uint32_t type, const uint8_t* opening) {
    if (innermost_level(st) == T_point2d) throw_error(st, st.token_start, st.token_end + 1, T_point2d);
    if (!notify(st, ev_open, static_cast<int32_t>(type), opening, opening + 1, opening)) return false;
    uint32_t m = reserve(st);
    Cell& marker = g.cells[m];
    marker.header = (marker.header & cell::new_line) | marker_type;
    cell::set_word<1>(marker, m - st.head);
    cell::set_word<2>(marker, type);
    cell::set_word<3>(marker, static_cast<uint32_t>(opening - st.start));
    st.head = st.tail;
    st.start_state = s_start;
    return true;
}

// Closes the innermost level as `expected` (a set-path! close turns a path! into a set-path!; a
// map closes with "]" as a block). `closer` is the closing byte, or null at the end of a path.
void close_level(State& st, uint32_t expected, bool internal, const uint8_t* closer) {
    bool any = st.head > st.base;
    uint32_t level = any ? level_of(g.cells[st.head - 1]) : 0;
    if (!internal && st.callback) {
        uint32_t t = expected && !(level == T_map && expected == T_block) ? expected : level;
        const uint8_t* at_byte = closer ? closer : st.pos;
        if (!notify(st, ev_close, static_cast<int32_t>(t), at_byte, at_byte + (closer ? 1 : 0), at_byte)) {
            st.start_state = s_start;
            return;
        }
    }
    const uint8_t* error_end = closer ? closer + 1 : st.pos;
    if (!any) {
        st.open_type = static_cast<int32_t>(expected);
        throw_error(st, nullptr, error_end, k_missing, closer);
    }
    bool match = level == expected || (level == T_map && expected == T_block) ||
                 (expected == T_set_path && level == T_path);
    if (!match) {
        st.open_type = static_cast<int32_t>(level);
        throw_error(st, nullptr, error_end, k_missing, closer);
    }
    uint32_t m = st.head - 1;
    uint32_t closing = level == T_map ? uint32_t(T_map) : expected;
    uint32_t n = st.tail - st.head;
    if (closing == T_map && st.load) {
        if (n % 2) throw_error(st, nullptr, error_end, T_map);
        for (uint32_t k = st.head; k < st.tail; k += 2)
            if (!map::key_type_q(cell::type(g.cells[k]))) throw_error(st, nullptr, error_end, T_map);
    }
    memory::Node node = memory::alloc_cells(n ? n : 1);
    memory::Buffer* b = memory::buffer(node);
    if (n) std::memcpy(b->head_ptr(), &g.cells[st.head], size_t(n) * sizeof(Cell));
    b->tail = b->head + n * uint32_t(sizeof(Cell));
    Cell& marker = g.cells[m];
    uint32_t back = cell::word<1>(marker);
    marker = Cell{(marker.header & cell::new_line) | closing, 0, node, 0};
    if (closing == T_map && st.load) {
        // A map gets its key table once, here, rather than at every use.
        uint32_t line = marker.header & cell::new_line;
        Cell made{T_none, 0, 0, 0};
        map::make_at(made, node, n);
        made.header |= line;
        g.cells[m] = made;
    }
    st.head = m - back;
    st.tail = m + 1;
    st.type = static_cast<int32_t>(closing);
    st.start_state = in(innermost_level(st), ANY_PATH) ? s_path : s_start;
}

// After an element of a path: the next byte closes the path or separates the next element.
void path_step(State& st) {
    const uint8_t* p = st.pos;
    uint8_t cls = p < st.end ? uint8_t(byte_classes[*p] & class_mask) : uint8_t(c_end);
    if (path_end_table[cls] || cls == c_control) {
        uint32_t expected = innermost_level(st);
        if (cls == c_colon) {
            if (p + 1 < st.end && p[1] == '/') throw_error(st, nullptr, p + 2, T_path);
            expected = T_set_path;
            st.pos = p + 1;
        }
        close_level(st, expected, false, nullptr);
        return;
    }
    if (cls == c_slash) {
        st.pos = p + 1;
        if (st.pos >= st.end) throw_error(st, nullptr, st.pos, T_path);
        return;
    }
    // Only "/" separates path elements: any other byte would silently swallow a character.
    throw_error(st, nullptr, p + 1, T_path);
}

// ---- structural scanners ----------------------------------------------------------------------------

// "(" starts a point literal when at least four bytes follow it and the bytes up to a ","
// may all be the text of a float.
bool point_start_q(const State& st, const uint8_t* paren) {
    const uint8_t* p = paren + 1;
    if (st.end - p < 4) return false;
    for (; p < st.end; ++p) {
        if (*p == ',') return true;
        if (!float_text_table[*p]) return false;
    }
    return false;
}

bool ascii_prefix_q(const uint8_t* text, uint32_t n, const char* name) {
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t a = text[i], b = static_cast<uint8_t>(name[i]);
        if (!b) return false;
        if (a >= 'A' && a <= 'Z') a = uint8_t(a + 32);
        if (b >= 'A' && b <= 'Z') b = uint8_t(b + 32);
        if (a != b) return false;
    }
    return true;
}

// "#(name)": true, false, none, unset, or the first datatype whose name begins with the name.
void construct(State& st) {
    const uint8_t* text = st.token_start + 2;
    const uint8_t* close = st.token_end;
    st.pos = close + 1;
    uint32_t n = static_cast<uint32_t>(close - text);
    Cell value{T_none, 0, 0, 0};
    bool found = false;
    static const char* const constants[] = {"true", "false", "none", "unset"};
    for (uint32_t k = 0; k < 4 && !found; ++k) {
        uint32_t len = static_cast<uint32_t>(std::strlen(constants[k]));
        if (n == 0 || n > len || !ascii_prefix_q(text, n, constants[k])) continue;
        // A shortened name is refused rather than taken for a datatype.
        if (n != len) throw_error(st, st.token_start, st.pos, k_malconstruct);
        value = k == 0 ? logic::make(true)
              : k == 1 ? logic::make(false)
              : k == 2 ? none::value
                       : unset::value;
        found = true;
    }
    static const char* const names[] = {
#define DATATYPE(id, name, ident, parent, families) name,
#include "runtime/defs/datatypes.def"
#undef DATATYPE
    };
    for (uint32_t id = 1; id <= sizeof names / sizeof names[0] && !found && n; ++id) {
        if (n <= std::strlen(names[id - 1]) && ascii_prefix_q(text, n, names[id - 1])) {
            value = datatype::make(id);
            found = true;
        }
    }
    if (!found) throw_error(st, st.token_start, st.pos, k_malconstruct);
    if (st.load) {
        uint32_t c = reserve(st);
        value.header |= g.cells[c].header & cell::new_line;
        g.cells[c] = value;
    }
    st.type = static_cast<int32_t>(cell::type(value));
}

void brace_open(State& st, uint32_t flags) {
    const uint8_t* brace = st.token_end;
    st.pos = brace + 1;
    if (st.brace_depth == 0) {
        if (!notify(st, ev_open, T_string, brace, brace + 1, brace)) return;
        st.brace_start = brace;
        st.brace_flags = st.line_delta > 0 ? f_braced_new_line : 0;
    }
    ++st.brace_depth;
    st.brace_flags |= flags;
    st.start_state = s_braced;
}

void brace_close(State& st, uint32_t flags) {
    const uint8_t* close = st.token_end;
    st.pos = close + 1;
    st.brace_flags |= flags;
    if (--st.brace_depth > 0) {
        if (st.pos >= st.end) throw_error(st, st.brace_start, st.pos, T_string);
        return;
    }
    const uint8_t* open = st.brace_start;
    uint32_t all = st.brace_flags;
    st.start_state = s_start;
    st.type = T_string;
    notify(st, ev_close, T_string, open, st.pos, open);
    bool new_line = (all & f_braced_new_line) != 0;
    if (!st.load) {
        load_text(st, open + 1, close, all, false, T_string, true, new_line);
    } else if (notify(st, ev_scan, T_string, open, st.pos, st.pos)) {
        uint32_t before = st.tail;
        load_text(st, open + 1, close, all, true, T_string, true, new_line);
        Cell v = g.cells[st.tail - 1];
        if (!notify(st, ev_load, T_string, open, st.pos, st.pos, &v)) st.tail = before;
    }
    st.brace_start = nullptr;
    st.brace_flags = 0;
}

void path_head(State& st, uint32_t flags) {
    const uint8_t* s = st.token_start;
    const uint8_t* slash = st.token_end;
    uint32_t type = *s == '\'' ? T_lit_path : *s == ':' ? T_get_path : T_path;
    bool opened = open_level(st, type, s);
    st.pending_type = T_word;
    if (st.load) {
        if (notify(st, ev_scan, T_word, s, slash, slash)) {
            uint32_t before = st.tail;
            load_path_head(st, s, slash, flags, true);
            Cell v = g.cells[st.tail - 1];
            if (!notify(st, ev_load, T_word, s, slash, slash, &v)) st.tail = before;
        }
    } else {
        load_path_head(st, s, slash, flags, false);
    }
    st.type = T_word;
    if (opened) {
        st.start_state = s_path;
        st.pos = slash + 1;
    } else {
        st.pos = slash;
    }
}

void comma(State& st) {
    const uint8_t* c = st.token_end;
    st.pos = c + 1;
    uint32_t level = innermost_level(st);
    Cell* marker = st.head > st.base ? &g.cells[st.head - 1] : nullptr;
    if (level == T_paren) cell::set_word<2>(*marker, T_point2d | 1u << 16);
    else if (level == T_point2d) cell::word_ref<2>(*marker) += 1u << 16;
    else throw_error(st, c, c + 1, T_point2d);
}

// The error token: the syntax error of the state it was in.
[[noreturn]] void error_token(State& st) {
    int32_t kind = state_types[st.prev_state];
    const uint8_t* start = st.token_start;
    // The offending byte is passed over, so that a scan going on after a refused error moves.
    st.pos = st.token_end < st.end ? st.token_end + 1 : st.end;
    if (kind == 0) kind = k_bad_char;
    else if (in(uint32_t(kind), ANY_PATH) || kind == T_block || kind == T_paren) start = nullptr;
    if (st.brace_depth > 0) start = st.brace_start;
    throw_error(st, start, st.pos, kind);
}

void run_structural(State& st, uint32_t cls, uint32_t flags) {
    const uint8_t* t = st.token_end;
    switch (cls) {
    case t_end: st.pos = st.end; break;
    case t_error: error_token(st);
    case t_block_open:
        st.pos = t + 1;
        open_level(st, T_block, t);
        break;
    case t_block_close:
        st.pos = t + 1;
        close_level(st, T_block, false, t);
        break;
    case t_paren_open:
        st.pos = t + 1;
        if (point_start_q(st, t)) {
            st.point_line_delta = st.line_delta;
            st.type = 0;
            st.start_state = s_point;
        } else {
            open_level(st, T_paren, t);
        }
        break;
    case t_paren_close:
        st.pos = t + 1;
        close_level(st, T_paren, false, t);
        break;
    case t_brace_open: brace_open(st, flags); break;
    case t_brace_close: brace_close(st, flags); break;
    case t_map_open:
        st.pos = t + 1;
        open_level(st, T_map, st.token_start);
        break;
    case t_path_head: path_head(st, flags); break;
    case t_construct: construct(st); break;
    case t_comment:
        st.pos = t;
        notify(st, ev_scan, 0, st.token_start, t, t);
        break;
    case t_comma: comma(st); break;
    default: runtime::no_switch_matched();
    }
}

// Passes over the characters of the Unicode white-space set at the start of a word token.
// Gives false when the whole token was white space.
bool skip_unicode_space(State& st) {
    const uint8_t* p = st.token_start;
    while (p < st.token_end) {
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, st.token_end, cp);
        if (cp < 0) throw_error(st, st.token_start, st.token_end, T_word);
        if (!unicode_space_q(uint32_t(cp))) break;
        p = next;
    }
    st.token_start = p;
    return p < st.token_end;
}

// A skipped token takes its closing character with it, which the scan loop left unconsumed.
void skip_closer(State& st, uint32_t cls) {
    const uint8_t* t = st.token_end;
    if (t >= st.end) return;
    switch (cls) {
    case t_string: case t_char: case t_binary: case t_percent: case t_point: case t_tag: st.pos = t + 1; break;
    case t_file:
        if (st.token_end - st.token_start > 1 && st.token_start[1] == '"') st.pos = t + 1;
        break;
    default: break;
    }
}

// ---- the scan loop ----------------------------------------------------------------------------------

void scan_loop(State& st, bool one_value, bool scan_only) {
    const Callback* cb = st.callback;
    while (st.pos < st.end) {
        const uint8_t* old_pos = st.pos;
        st.refused = false;
        uint8_t state = st.start_state;
        const uint8_t token_state = state;
        uint8_t prev = state;
        uint32_t skip = 0, flags = 0;
        int32_t line_at_start = st.line;
        const uint8_t* p = st.pos;
        for (;;) {
            uint32_t entry = p < st.end ? byte_classes[*p] : uint32_t(c_end);
            flags |= entry & ~class_mask;
            uint8_t cls = uint8_t(entry & class_mask);
            uint8_t next = transitions[state][cls];
            if (next >= first_terminal) {
                state = next;
                break;
            }
            skip += skip_table[next];
            st.line += line_table[cls];
            state = prev = next;
            ++p;
        }
        st.token_start = st.pos + skip;
        st.token_end = p;
        st.pos = p;
        st.line_delta = st.line - line_at_start;
        st.prev_state = prev;
        st.type = state_types[state];
        st.pending_type = -1;
        uint32_t cls = state - first_terminal;

        // A word may begin with white space of Unicode, which is no part of it.
        if (state == 80 && (flags & f_utf8)) {
            try {
                if (!skip_unicode_space(st)) {
                    if (st.pos < st.end) continue;
                    cls = t_end;
                    st.type = 0;
                }
            } catch (Abort&) {
                break;
            }
        }

        bool ran_early = false;
        if (scan_only && cls <= t_string) {
            ran_early = true;
            try {
                if (cls <= t_comma) run_structural(st, cls, flags);
                else value_scanners[cls](st, st.token_start, st.token_end, flags, false);
            } catch (Abort&) {
                break;
            }
        }

        bool go_on;
        bool point_paren = cls == t_paren_open && st.start_state == s_point;
        if (!cb) {
            go_on = !scan_only;
        } else if (token_state == s_braced || point_paren) {
            go_on = true;
        } else {
            const uint8_t* ev_start = st.token_start;
            const uint8_t* ev_end = st.token_end;
            if (cls == t_point) {
                --ev_start;
                ++ev_end;
            }
            bool structural = cls <= t_comma;
            go_on = notify(st, ev_prescan, st.type, ev_start, ev_end, structural ? ev_start : ev_end);
        }

        if (!go_on && cls >= t_string) skip_closer(st, cls);
        if (go_on && !ran_early) {
            bool build = !scan_only && !(one_value && !st.load);
            if (cls <= t_comma) {
                try {
                    run_structural(st, cls, flags);
                } catch (Abort&) {
                    if (!build) break;
                }
            } else {
                bool aborted = false;
                Loader scanner = value_scanners[cls];
                if (!st.load || scanner || (cb && (cb->mask & ev_scan))) {
                    try {
                        if (scanner) scanner(st, st.token_start, st.token_end, flags, false);
                        else loaders[cls](st, st.token_start, st.token_end, flags, false);
                    } catch (Abort&) {
                        aborted = true;
                    }
                    if (!cb && aborted) break;
                    if (cb) {
                        const uint8_t* ev_start = cls == t_point ? st.token_start - 1 : st.token_start;
                        build = build && !aborted && notify(st, ev_scan, st.type, ev_start, st.pos, st.pos);
                    }
                }
                if (build && loaders[cls]) {
                    uint32_t before = st.tail;
                    try {
                        loaders[cls](st, st.token_start, st.token_end, flags, true);
                        if (cb && st.tail > before) {
                            Cell v = g.cells[st.tail - 1];
                            if (!notify(st, ev_load, st.type, st.token_start, st.pos, st.pos, &v)) st.tail = before;
                        }
                    } catch (Abort&) {
                        st.tail = before;
                    }
                }
            }
        }

        // A point literal is one token: the scan goes on as it was before its "(".
        if (token_state == s_point && st.start_state == s_point)
            st.start_state = in(innermost_level(st), ANY_PATH) ? s_path : s_start;

        if (st.start_state == s_path && state != s_path_head && state != s_error) {
            try {
                path_step(st);
            } catch (Abort&) {
                break;
            }
        }
        if (st.reposition && !(st.refused && st.reposition <= old_pos)) {
            st.pos = st.reposition;
        } else if (st.pos <= old_pos && st.pos < st.end) {
            st.pos = old_pos + 1;  // every token moves the scan, whatever was refused
        }
        // An error the callback refused is passed for good: going back to where the token
        // began would meet it again. At the end of the input it was the braced string's last
        // word: the string is given up.
        st.reposition = nullptr;
        if (st.refused && st.pos >= st.end && st.start_state == s_braced) {
            st.start_state = s_start;
            st.brace_depth = 0;
            st.brace_start = nullptr;
            st.brace_flags = 0;
        }

        if ((one_value || scan_only) && st.type > 0 && st.start_state != s_path && st.start_state != s_braced &&
            state != s_path_head) {
            uint32_t n = st.tail - st.base;
            if (n == 0 || (n == 1 && !is_marker(g.cells[st.base]))) {
                st.last_type = st.type;
                break;
            }
        }
        st.last_type = st.type;
    }
}

// The checks at the end of the input: a braced string or a level still open.
void finish(State& st) {
    if (st.pos >= st.end && st.start_state == s_braced) throw_error(st, st.brace_start, st.end, T_string);
    if (st.head > st.base) {
        st.open_type = static_cast<int32_t>(innermost_level(st));
        throw_error(st, nullptr, st.end, k_missing_end);
    }
}

// Links a record into the active list for the duration of a scan; every exit unlinks it and
// gives the value buffer's cells back.
struct Link {
    State& st;
    explicit Link(State& s) : st(s) {
        g.innermost = &st;
        ++g.active;
    }
    ~Link() {
        g.innermost = st.parent;
        --g.active;
        // The cells left behind would read, to the collector's scan of the heap, as references
        // to whatever nodes now reuse their ids, and hold those nodes' frames in place.
        if (!st.parent) {
            std::memset(static_cast<void*>(g.cells), 0, std::size_t(g.used) * sizeof(Cell));
            g.used = 0;
        }
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
};

// Room for a text in the conversion buffer after the texts of the scans below, or a buffer of
// its own when it does not fit there.
struct Space {
    uint8_t* p = nullptr;
    uint64_t saved = 0;
    bool own = false;
    explicit Space(uint64_t need) {
        if (need > memory::max_buffer_size) no_memory();
        if (g.conversion_used + need <= conversion_bytes) {
            saved = g.conversion_used;
            p = g.conversion + g.conversion_used;
            g.conversion_used += need;
        } else {
            p = static_cast<uint8_t*>(heap::allocate(need));
            own = true;
        }
    }
    ~Space() {
        if (own) heap::free(p);
        else g.conversion_used = saved;
    }
    Space(const Space&) = delete;
    Space& operator=(const Space&) = delete;
};

}  // namespace

// ---- entry points -------------------------------------------------------------------------------------

void init_tables() {
    if (g.ready) return;
    g.cells = static_cast<Cell*>(heap::allocate(initial_cells * sizeof(Cell)));
    g.capacity = initial_cells;
    g.conversion = static_cast<uint8_t*>(heap::allocate(conversion_bytes));
    g.conversion_used = 0;
    collector::push_root(mark);
    g.ready = true;
}

uint32_t active_scans() { return g.active; }
uint32_t buffer_capacity() { return g.capacity; }
uint64_t conversion_used() { return g.conversion_used; }

uint32_t scan(const uint8_t* text, uint64_t length, const Options& options, const Cell& input, Cell& out,
              int64_t* next) {
    init_tables();
    if (length > memory::max_buffer_size) no_memory();
    State st;
    st.parent = g.innermost;
    st.base = st.head = st.tail = st.parent ? st.parent->tail : 0;
    st.start = st.pos = text;
    st.end = text + length;
    st.callback = options.callback;
    st.input = input;
    st.input_index = cell::is(input, T_none) ? 0 : series::position_of(input);
    st.load = options.load && options.wrap;
    bool scan_only = !options.load;
    Link link(st);

    bool refused = false;
    try {
        scan_loop(st, options.one_value, scan_only);
        finish(st);
    } catch (Abort&) {
        refused = true;
    } catch (Leave&) {
        return 0;
    }
    if (next) *next = char_index(st, st.pos);
    if (refused) {
        // Without the load flag the scan answers error!; with it, the callback refused an
        // error at the end, and nothing is loaded.
        if (!st.load) return T_error;
        if (options.wrap && !options.into) out = none::value;
        return uint32_t(st.type > 0 ? st.type : 0);
    }
    if (scan_only && st.start_state == s_path) st.type = static_cast<int32_t>(innermost_level(st));

    if (options.wrap) {
        uint32_t n = st.tail - st.base;
        if (options.one_value && n >= 1 && !options.as_block) {
            Cell v = g.cells[st.base];
            if (options.into) {
                collector::Root keep(v);
                *series::append_cell(series::node_of(*options.into)) = v;
            } else {
                out = v;
            }
        } else if (options.into) {
            memory::Node node = series::node_of(*options.into);
            uint8_t* room = series::reserve(node, uint64_t(n) * sizeof(Cell));
            if (n) std::memcpy(room, &g.cells[st.base], size_t(n) * sizeof(Cell));
        } else {
            memory::Node node = memory::alloc_cells(n ? n : 1);
            memory::Buffer* b = memory::buffer(node);
            if (n) std::memcpy(b->head_ptr(), &g.cells[st.base], size_t(n) * sizeof(Cell));
            b->tail = b->head + n * uint32_t(sizeof(Cell));
            out = block::cell_of(node);
        }
    }
    return uint32_t(st.type > 0 ? st.type : st.last_type > 0 ? st.last_type : 0);
}

uint32_t load(Cell& out, const Cell& series, int64_t length, const Options& options, int64_t* next) {
    init_tables();
    uint64_t size = 0;
    uint64_t count = 0;
    bool binary = cell::is(series, T_binary);
    memory::Buffer* b = memory::buffer(series::node_of(series));
    uint32_t unit = binary ? 1 : b->unit();
    uint32_t shift = unicode::unit_shift(unit);
    uint64_t total = b->used() >> shift;
    uint64_t index = series::position_of(series) < total ? series::position_of(series) : total;
    count = total - index;
    if (length >= 0 && uint64_t(length) < count) count = uint64_t(length);
    const uint8_t* from = b->head_ptr() + (index << shift);
    size = binary ? count : uint64_t(unicode::utf8_size(from, from + (count << shift), unit));
    Space space(size + 1);  // the terminating NUL included
    b = memory::buffer(series::node_of(series));
    from = b->head_ptr() + (index << shift);
    if (binary) {
        if (size) std::memcpy(space.p, from, size);
    } else {
        uint8_t* o = space.p;
        for (uint64_t i = 0; i < count; ++i) o += unicode::encode_utf8(unicode::char_at(from + (i << shift), unit), o);
    }
    space.p[size] = 0;
    Cell input = series;
    series::set_index(input, static_cast<uint32_t>(index));
    return scan(space.p, size, options, input, out, next);
}

}  // namespace kov::lexer
