// The line editor. See line_editor.h for the screen model.
//
// A full redraw goes back to the prompt's first row, erases the rows the text held, writes
// the prompt and the line and puts the cursor in place; a cursor move or a character typed at
// the end of the line writes only the move (and the character). Every redraw computes the
// same layout twice over: once to measure, once to write, so the two cannot disagree.
//
// Memory: editing allocates (nodes and indexes are held, never addresses into the line), Tab
// completion runs Kov code. The editor's cells are marked by a root callback.
#include "console/line_editor.h"

#include <cstring>
#include <string>
#include <initializer_list>

#include "console/engine_words.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/heap.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/platform/terminal.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"

namespace kov::line_editor {

using namespace terminal;

namespace {

enum : int32_t { break_none = 0, break_interrupt = 1, break_end = 2 };
int32_t last_break = break_none;

constexpr uint32_t replacement = 0xFFFD;

// ---- string access (none of these allocate) ------------------------------------------------------

// Tests the node itself, so it reads the word unchecked.
bool is_text(const Cell& c) { return in(cell::type(c), ANY_STRING) && cell::word<2>(c) != 0; }

uint32_t length(const Cell& s) {
    memory::Buffer* b = memory::buffer(series::node_of(s));
    return b->used() >> unicode::unit_shift(b->unit());
}

uint32_t char_at(const Cell& s, uint32_t i) {
    memory::Buffer* b = memory::buffer(series::node_of(s));
    return unicode::char_at(b->head_ptr() + (uint64_t(i) << unicode::unit_shift(b->unit())), b->unit());
}

// The cell's index, clipped to its text.
uint32_t index_of(const Cell& s) {
    int32_t i = series::index_of(s);
    if (i < 0) return 0;
    uint32_t n = length(s);
    return uint32_t(i) < n ? uint32_t(i) : n;
}

bool control_q(uint32_t c) { return c < 32 || (c >= 0x7F && c < 0xA0); }

// The cells a character of the line takes on the screen.
int32_t cell_width(uint32_t c, bool hidden) {
    if (hidden || c == '\t') return 1;
    if (control_q(c)) return 1;
    return unicode::char_width(c);
}

// ---- string changes (these allocate) -------------------------------------------------------------

void clear_text(Cell& s) {
    string::truncate_at(series::node_of(s), 0);
    series::set_index(s, 0);
}

// Appends the whole text of `from` (from its buffer head).
void append_text(Cell& to, const Cell& from) {
    Cell source = from;
    series::set_index(source, 0);
    string::set_cache(source, 0);
    collector::Root keep(source);
    Cell target = to;
    series::set_index(target, length(target));
    string::concatenate(target, source, -1, 0, false, string::append_mode);
}

void append_ascii(Cell& to, const char* text) {
    for (const char* p = text; *p; ++p) string::append_char(series::node_of(to), static_cast<uint8_t>(*p));
}

// ---- the editor state ---------------------------------------------------------------------------

bool tty_enter_raw() { return os::tty::enter_raw(); }
void tty_leave_raw() { os::tty::leave_raw(); }
int tty_read(void*, int timeout_ms) { return os::tty::read_byte(timeout_ms); }
long stdin_read(void* bytes, std::size_t count) {
    if (os::interrupt_flag) return -1;  // an interrupt that came before the read began
    return os::read_some(os::std_in, bytes, count);
}

// Never destroyed: the process may end in the middle of an edit, after the tracked heap that
// holds the output buffer is gone.
Editor& state() {
    static Editor& e = *new Editor;
    if (!e.enter_raw) {
        e.enter_raw = tty_enter_raw;
        e.leave_raw = tty_leave_raw;
        e.keys.set_source(terminal::ByteSource{tty_read, nullptr});
        e.read_input = stdin_read;
    }
    return e;
}

void mark_roots() {
    Editor& e = state();
    for (const Cell* c : {&e.line, &e.prompt, &e.history, &e.saved_line}) collector::mark_cell(*c);
}

void init_globals() {
    Editor& e = state();
    if (e.initialised) return;
    e.initialised = true;
    collector::push_root(mark_roots);
    e.console_input = os::tty::interactive();
    string::make_at(e.saved_line, 1, 1);
}

// ---- standard input, line by line ---------------------------------------------------------------

// One byte kept back when it could not continue a UTF-8 sequence.
int pushed_byte = -1;
// Whether the next character read is the first of the input (a byte-order mark there is
// dropped, as files drop it).
bool first_char = true;

int read_stdin_byte() {
    if (pushed_byte >= 0) {
        int b = pushed_byte;
        pushed_byte = -1;
        return b;
    }
    uint8_t b;
    return state().read_input(&b, 1) == 1 ? b : -1;
}

// One code point, U+FFFD for a byte that does not make a valid sequence, -1 at the end.
int32_t read_utf8_char() {
    int lead = read_stdin_byte();
    if (lead < 0) return -1;
    if (lead < 0x80) return lead;
    int n = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (n == 0) return replacement;
    uint8_t bytes[4] = {uint8_t(lead), 0, 0, 0};
    for (int i = 1; i < n; ++i) {
        int b = read_stdin_byte();
        if (b < 0) return replacement;  // cut by the end: the end comes next
        if ((b & 0xC0) != 0x80) {
            pushed_byte = b;
            return replacement;
        }
        bytes[i] = uint8_t(b);
    }
    int32_t cp;
    unicode::decode_utf8_char(bytes, bytes + n, cp);
    return cp < 0 ? int32_t(replacement) : cp;
}

// ---- window size --------------------------------------------------------------------------------

void update_size() {
    Editor& e = state();
    if (e.fixed_size) return;
    int c = 0, r = 0;
    Cell* size = engine_words::lookup({"system", "console", "size"});
    if (os::tty::size(c, r)) {
        e.columns = c;
        e.rows = r;
        if (size) pair::make_at(*size, c, r);
        return;
    }
    if (size && cell::is(*size, T_pair)) {
        e.columns = pair::x(*size);
        e.rows = pair::y(*size);
    } else if (console::is_console()) {
        e.columns = console::state().width;
        e.rows = console::state().height;
    }
    if (e.columns <= 0) {
        e.columns = 80;
        if (size && cell::is(*size, T_pair)) pair::make_at(*size, 80, pair::y(*size));
    }
    if (e.rows <= 0) e.rows = 50;
}

// ---- cursor movement ----------------------------------------------------------------------------

void move_to_row(Output& out, int64_t row) {
    Editor& e = state();
    if (row < e.cursor_row) {
        for (int64_t n = e.cursor_row - row; n > 0; n -= 9999) out.csi(n > 9999 ? 9999 : n, 'A');
    } else {
        // Line feeds rather than cursor-down: at the bottom of the screen they scroll.
        for (int64_t n = row - e.cursor_row; n > 0; --n) out.put('\n');
    }
    e.cursor_row = row;
}

void move_to(Output& out, int64_t row, int64_t col) {
    move_to_row(out, row);
    out.put('\r');
    if (col > 0) out.csi(col, 'C');
}

// The row of the last cell holding text, given where the text ends.
int64_t row_of_end(const Positions& p, int32_t columns) {
    return p.pending ? p.end / columns - 1 : p.end / columns;
}

Positions layout(Output* out) {
    Editor& e = state();
    Flow f{out, e.columns, false};
    Positions p{};
    uint32_t cursor = index_of(e.line);
    uint32_t n = length(e.line);
    p.prompt_end = e.start_col;
    if (is_text(e.prompt))
        p.prompt_end += segment(f, e.prompt, index_of(e.prompt), length(e.prompt), e.columns - e.start_col, true, false);
    p.pos = p.prompt_end + segment(f, e.line, 0, cursor, e.columns - p.prompt_end % e.columns, false, e.hidden);
    p.end = p.pos + segment(f, e.line, cursor, n, e.columns - p.pos % e.columns, false, e.hidden);
    p.pending = f.pending;
    return p;
}

// Moves the terminal's cursor below the text as it shows, ready for what is printed after the line.
void finish_line() {
    Editor& e = state();
    move_to_row(e.out, e.last_row);
    e.out.put('\r');
    e.out.flush();
}

// ---- history ------------------------------------------------------------------------------------

int32_t history_count() {
    Editor& e = state();
    if (!cell::is(e.history, T_block)) return 0;
    int32_t n = block::rs_length_q(e.history);
    return n > 0 ? n : 0;
}

void history_recall(int32_t pos) {
    Editor& e = state();
    clear_text(e.line);
    if (pos >= 0 && pos < history_count()) {
        Cell entry = *block::rs_abs_at(e.history, series::position_of(e.history) + uint32_t(pos));
        if (is_text(entry)) append_text(e.line, entry);
    }
    series::set_index(e.line, length(e.line));
}

bool same_text(const Cell& a, const Cell& b) {
    uint32_t n = length(a);
    if (length(b) != n) return false;
    for (uint32_t i = 0; i < n; ++i)
        if (char_at(a, i) != char_at(b, i)) return false;
    return true;
}

void history_add() {
    Editor& e = state();
    series::set_index(e.line, 0);
    if (e.hidden || !cell::is(e.history, T_block) || length(e.line) == 0) return;
    series::set_index(e.history, 0);
    if (history_count() > 0) {
        Cell newest = *block::rs_abs_at(e.history, 0);
        if (is_text(newest) && same_text(newest, e.line)) return;
    }
    // A copy: the caller keeps the line it was given and may change it.
    Cell entry{T_string, 0, series::copy_part(series::node_of(e.line), 0, length(e.line)), 0};
    collector::Root keep(entry);
    block::insert_value(e.history, entry, false, true);
}

// ---- editing ------------------------------------------------------------------------------------

void set_cursor(uint32_t i) { series::set_index(state().line, i); }

void insert_key(int32_t c) {
    Editor& e = state();
    uint32_t cursor = index_of(e.line);
    if (cursor == length(e.line)) {
        // At the end: the character alone is written, then the cursor follows it.
        Positions before = layout(nullptr);
        string::append_char(series::node_of(e.line), c);
        set_cursor(cursor + 1);
        Flow f{&e.out, e.columns, false};
        int64_t end = before.pos + segment(f, e.line, cursor, cursor + 1, e.columns - before.pos % e.columns, false, e.hidden);
        e.cursor_row = f.pending ? end / e.columns - 1 : end / e.columns;
        e.full_redraw = false;
    } else {
        string::insert_char(series::node_of(e.line), cursor, c);
        set_cursor(cursor + 1);
    }
    refresh();
}

// complete() under a barrier: a failing completion function leaves the line as it was.
int32_t complete_key() {
    uint32_t depth = stack::depth();
    Cell* top = stack::values.top;
    Cell* args = stack::values.args;
    Cell current = interp::current;
    try {
        return complete();
    } catch (const Error&) {
        stack::unroll_to(depth, top, args);
        interp::current = current;
        cycles::reset();
        stack::pending = stack::Pending{};
        refresh();
        return 1;
    }
}

void replace_line(const char* text) {
    Editor& e = state();
    clear_text(e.line);
    append_ascii(e.line, text);
    set_cursor(length(e.line));
}

// The key loop. False when input ended with nothing typed.
bool edit_line() {
    Editor& e = state();
    if (cell::is(e.history, T_block)) series::set_index(e.history, 0);
    e.history_pos = -1;
    int32_t count = history_count();
    update_size();
    if (length(e.saved_line) > 0) {
        uint32_t at = length(e.line) + index_of(e.saved_line);
        append_text(e.line, e.saved_line);
        set_cursor(at);
    }
    e.keep_saved = false;
    e.first_refresh = true;
    e.full_redraw = true;
    refresh();
    for (;;) {
        e.full_redraw = true;
        int32_t key = e.keys.next();
        uint32_t cursor = index_of(e.line);
        uint32_t n = length(e.line);
        switch (key) {
        case key_redraw:
            update_size();
            refresh();
            break;
        case key_failed:
            finish_line();
            return n > 0;
        case 13:
        case 10:
            finish_line();
            history_add();
            return true;
        case 8:
        case 127:
            if (cursor > 0) {
                string::remove_char(e.line, cursor - 1);
                set_cursor(cursor - 1);
                refresh();
            }
            break;
        case key_left:
        case 2:
            if (cursor > 0) {
                set_cursor(cursor - 1);
                e.full_redraw = false;
                refresh();
            }
            break;
        case key_right:
        case 6:
            if (cursor < n) {
                set_cursor(cursor + 1);
                e.full_redraw = false;
                refresh();
            }
            break;
        case key_up:
        case 16:
            if (e.history_pos < count - 1) {
                history_recall(++e.history_pos);
            } else {
                clear_text(e.line);
            }
            refresh();
            break;
        case key_down:
        case 14:
            // Down shows the next newer entry, and an empty line past the newest.
            if (e.history_pos > 0) {
                history_recall(--e.history_pos);
            } else {
                e.history_pos = -1;
                clear_text(e.line);
            }
            refresh();
            break;
        case key_home:
        case 1:
            set_cursor(0);
            e.full_redraw = false;
            refresh();
            break;
        case key_end:
        case 5:
            set_cursor(n);
            e.full_redraw = false;
            refresh();
            break;
        case key_delete:
            if (cursor < n) {
                string::remove_char(e.line, cursor);
                refresh();
            }
            break;
        case 4:
            if (cursor < n) {
                string::remove_char(e.line, cursor);
                refresh();
            } else if (n == 0) {
                last_break = break_end;
                replace_line("q");
                finish_line();
                return true;
            }
            break;
        case 11:
            if (cursor < n) {
                string::truncate_at(series::node_of(e.line), cursor);
                refresh();
            }
            break;
        case 3:
            last_break = break_interrupt;
            os::clear_interrupt();
            replace_line("q");
            finish_line();
            return true;
        case 27:
            finish_line();
            clear_text(e.saved_line);
            string::append_char(series::node_of(e.line), 27);
            return true;
        case 9:
            if (!e.hidden) {  // a hidden line is never shown, so neither are completions of it
                int32_t done = complete_key();
                if (done > 1) {
                    finish_line();
                    clear_text(e.line);
                    e.keep_saved = true;
                    return true;
                }
                if (done == 1) break;
            }
            insert_key(9);
            break;
        default:
            if (key >= 32) insert_key(key);
            break;
        }
    }
}

// Raw mode for exactly as long as the key loop runs, however it ends.
struct RawMode {
    bool on;
    RawMode() : on(state().enter_raw()) {}
    ~RawMode() {
        if (on) state().leave_raw();
        state().out.release();
    }
};

}  // namespace

// ---- output -------------------------------------------------------------------------------------

Output::~Output() { release(); }

void Output::put(uint32_t cp) {
    if (count_ == capacity_) {
        std::size_t grown = capacity_ ? capacity_ * 2 : 128;
        buf_ = static_cast<uint32_t*>(heap::resize(buf_, grown * sizeof(uint32_t)));
        capacity_ = grown;
    }
    buf_[count_++] = cp;
}

void Output::text(const char* ascii) {
    for (const char* p = ascii; *p; ++p) put(static_cast<uint8_t>(*p));
}

void Output::csi(int64_t n, char final) {
    char digits[24];
    int k = 0;
    do {
        digits[k++] = char('0' + n % 10);
        n /= 10;
    } while (n > 0);
    put(27);
    put('[');
    while (k) put(static_cast<uint8_t>(digits[--k]));
    put(static_cast<uint8_t>(final));
}

void Output::flush() {
    if (count_ == 0) return;
    std::size_t n = count_;
    count_ = 0;
    console::print_string(reinterpret_cast<const uint8_t*>(buf_), uint64_t(n) * 4, 4, false);
}

void Output::release() {
    heap::free(buf_);
    buf_ = nullptr;
    count_ = capacity_ = 0;
}

// ---- layout -------------------------------------------------------------------------------------

int64_t segment(Flow& f, const Cell& text, uint32_t from, uint32_t to, int64_t avail, bool prompt, bool hidden) {
    const int64_t columns = f.columns > 0 ? f.columns : 1;
    auto emit = [&](uint32_t cp) {
        if (f.out) f.out->put(cp);
    };
    int64_t total = 0;
    int tab_left = 0;
    uint32_t i = from;
    while (i < to) {
        int64_t col = 0;
        int64_t pad = 0;
        while (i < to && col < avail) {
            int w;
            bool line_end = false;
            if (tab_left > 0) {  // the rest of a Tab
                emit(' ');
                w = 1;
                if (--tab_left == 0) ++i;
            } else {
                uint32_t c = char_at(text, i);
                if (hidden) {
                    emit('*');
                    w = 1;
                    ++i;
                } else if (c == '\t') {
                    emit(' ');
                    w = 1;
                    tab_left = 3;
                } else if (prompt && c == 27) {
                    // ESC, then "[" or "(" and the digits and ";" up to a final character.
                    emit(c);
                    ++i;
                    if (i < to && (char_at(text, i) == '[' || char_at(text, i) == '(')) {
                        emit(char_at(text, i++));
                        while (i < to) {
                            uint32_t d = char_at(text, i++);
                            emit(d);
                            if (!((d >= '0' && d <= '9') || d == ';')) break;
                        }
                    }
                    w = 0;
                } else if (prompt && c == '\n') {
                    emit(c);
                    ++i;
                    w = 0;
                    // Right after a row filled up the terminal is already at the next row's start.
                    line_end = !f.pending;
                    f.pending = false;
                } else {
                    emit(control_q(c) ? replacement : c);
                    w = cell_width(c, false);
                    ++i;
                }
            }
            if (line_end) {
                col = avail;
            } else if (w == 1) {
                col += 1;
                f.pending = col == avail;
            } else if (w == 2) {
                if (avail - col == 1) {
                    // No room for it in this row: it goes to the next one, whose first two
                    // cells it takes; the cell left empty counts.
                    col += 3;
                    pad = 2;
                    f.pending = false;
                } else {
                    col += 2;
                    f.pending = col == avail;
                }
            }
        }
        total += col;
        avail = columns - pad;
    }
    return total;
}

// ---- the editor ---------------------------------------------------------------------------------

Editor& editor() { return state(); }

Positions measure() { return layout(nullptr); }

void refresh() {
    Editor& e = state();
    if (e.columns <= 0) e.columns = 80;
    Output& out = e.out;
    if (e.first_refresh) {
        e.first_refresh = false;
        e.cursor_row = 0;
        e.last_row = 0;
        e.start_col = console::state().column;
        if (e.start_col >= e.columns) {  // the row is full: start on the next one
            out.text("\r\n");
            e.start_col = 0;
        }
    }
    Positions p = layout(nullptr);
    if (e.full_redraw) {
        // Back to where the prompt begins, and the rows of the old text erased.
        move_to(out, 0, e.start_col);
        out.text("\x1b[K");
        for (int64_t r = 1; r <= e.last_row; ++r) {
            out.put('\n');
            out.text("\x1b[K");
        }
        if (e.last_row > 0) {
            e.cursor_row = e.last_row;
            move_to(out, 0, e.start_col);
        }
        layout(&out);
        e.cursor_row = row_of_end(p, e.columns);
    }
    e.last_row = row_of_end(p, e.columns);
    int64_t row = p.pos / e.columns;
    int64_t col = p.pos % e.columns;
    uint32_t cursor = index_of(e.line);
    // A wide character that did not fit at the end of a row shows at the next row's start.
    if (col == e.columns - 1 && cursor < length(e.line) && cell_width(char_at(e.line, cursor), e.hidden) == 2) {
        ++row;
        col = 0;
    }
    move_to(out, row, col);
    out.flush();
}

void init(const Cell* title) {
    init_globals();
    Editor& e = state();
    if (title && is_text(*title)) {
        Cell t = *title;
        collector::Root keep(t);
        int64_t count = -1;
        const char* text = unicode::to_utf8_text(t, count);
        // A terminal that ignores or refuses the title changes nothing else.
        os::tty::set_title(text, std::size_t(count));
    }
    e.console_input = os::tty::interactive();
    if (e.console_input) update_size();
    Cell* size = engine_words::lookup({"system", "console", "size"});
    if (size && cell::is(*size, T_pair) && (pair::x(*size) == 0 || pair::y(*size) == 0)) pair::make_at(*size, 80, 50);
}

void setup(const Cell& line, const Cell& history) {
    init_globals();
    Editor& e = state();
    e.line = line;
    e.history = history;
}

bool edit(const Cell& prompt, bool hidden) {
    init_globals();
    last_break = break_none;
    Editor& e = state();
    if (!is_text(e.line)) error::fire(err::script_invalid_arg, e.line);
    if (!e.console_input) {
        e.hidden = false;
        return stdin_readline(e.line);
    }
    e.prompt = prompt;
    e.hidden = hidden;
    bool got;
    {
        RawMode raw;
        if (!raw.on) {
            // The terminal refuses raw mode: it edits the line itself, after the prompt.
            e.hidden = false;
            if (is_text(prompt)) print_hooks::console_writer(prompt, false);
            return stdin_readline(e.line);
        }
        got = edit_line();
    }
    if (!e.keep_saved) clear_text(e.saved_line);
    console::print_string(nullptr, 0, 1, true);
    return got;
}

bool stdin_readline(Cell& str) {
    bool any = false;
    for (;;) {
        int32_t c = read_utf8_char();
        if (c < 0) {
            // A read given up for an interrupt reads as Ctrl+C; the input goes on after it.
            if (os::interrupt_flag) {
                last_break = break_interrupt;
                os::clear_interrupt();
                return true;
            }
            return any;
        }
        if (first_char) {
            first_char = false;
            if (c == 0xFEFF) continue;
        }
        any = true;
        if (c == '\n') return true;
        string::append_char(series::node_of(str), c);
    }
}

int32_t complete() {
    Editor& e = state();
    Cell* found = engine_words::lookup({"kov-complete-ctx", "complete-input"});
    if (!found || !cell::is(*found, T_function)) return 0;
    Cell fn = *found;
    collector::Root keep_fn(fn);
    uint32_t cursor = index_of(e.line);
    Cell copy{T_string, cursor, series::copy_part(series::node_of(e.line), 0, length(e.line)), 0};
    collector::Root keep_copy(copy);
    Cell values[2] = {copy, logic::make(true)};
    Cell result = interp::apply_function(fn, values, 2);
    collector::Root keep_result(result);
    if (stack::exiting()) {  // a break, return or throw out of the completion: no completion
        stack::pending = stack::Pending{};
        return 0;
    }
    if (!cell::is(result, T_block)) return 0;
    int32_t n = block::rs_length_q(result);
    if (n <= 0) return 0;
    Cell first = *block::rs_abs_at(result, series::position_of(result));
    if (!is_text(first)) return 0;
    // The line as it stood, to come back after the candidates were shown.
    clear_text(e.saved_line);
    append_text(e.saved_line, e.line);
    series::set_index(e.saved_line, cursor);
    clear_text(e.line);
    if (n == 1) {
        append_text(e.line, first);
        set_cursor(index_of(first));
        refresh();
        return 1;
    }
    clear_text(e.saved_line);
    append_text(e.saved_line, first);
    series::set_index(e.saved_line, index_of(first));
    for (int32_t k = 1; k < n; ++k) {
        Cell item = *block::rs_abs_at(result, series::position_of(result) + uint32_t(k));
        if (!is_text(item)) continue;
        append_text(e.line, item);
        string::append_char(series::node_of(e.line), ' ');
    }
    set_cursor(length(e.line));
    refresh();
    return n;
}

// ---- routines -----------------------------------------------------------------------------------

namespace {

void set_buffer_history(routines::Args& args, const Cell&) {
    setup(*args.cell(0), *args.cell(1));
    *args.cell(0) = unset::value;
}

void read_input(routines::Args& args, const Cell&) {
    bool hidden = logic::get(*args.cell(1)) != 0;
    Cell prompt = *args.cell(0);
    logic::make_at(*args.cell(0), edit(prompt, hidden));
}

void terminate_console(routines::Args& args, const Cell&) { *args.cell(0) = unset::value; }

// How the last edit ended besides Enter: 0 normally, 1 Ctrl+C (or an interrupt), 2 Ctrl+D on
// an empty line. The line itself reads "q" after both, as the console's short quit.
void input_break(routines::Args& args, const Cell&) { integer::make_at(*args.cell(0), last_break); }

// An interrupt that came after the evaluation's last poll belongs to that evaluation.
void clear_interrupt(routines::Args& args, const Cell&) {
    os::clear_interrupt();
    *args.cell(0) = unset::value;
}

// The console's settings as they stand, for the handlers of the signals that end the process.
void exit_settings(routines::Args& args, const Cell&) {
    int64_t count = -1;
    const char* path = unicode::to_utf8_text(*args.cell(0), count);
    std::string p(path, std::size_t(count));
    const Cell& bin = *args.cell(1);
    auto* b = memory::buffer(series::node_of(bin));
    uint64_t used = b->used();
    uint64_t at = series::position_of(bin) < used ? series::position_of(bin) : used;
    os::set_exit_file(p.data(), p.size(), b->head_ptr() + at, std::size_t(used - at));
    *args.cell(0) = unset::value;
}

// A report on standard error, for scripts whose output is data.
void report(routines::Args& args, const Cell&) {
    int64_t count = -1;
    const char* text = unicode::to_utf8_text(*args.cell(0), count);
    std::string line(text, std::size_t(count));
    line += '\n';
    os::write_all(os::std_err, line.data(), line.size());
    *args.cell(0) = unset::value;
}

// The folder for the console's settings, or none.
void settings_folder(routines::Args& args, const Cell&) {
    char buffer[4200];
    std::size_t n = os::settings_folder(buffer, sizeof buffer);
    if (n == 0) {
        *args.cell(0) = none::value;
        return;
    }
    Cell* s = string::load(reinterpret_cast<const uint8_t*>(buffer), n, nullptr, 0);
    *args.cell(0) = *s;
}

void input_stdin(routines::Args& args, const Cell&) {
    string::make_at(*args.cell(0), 256, 1);
    if (!stdin_readline(*args.cell(0))) *args.cell(0) = none::value;
}

// Reads into the binary at its index, over what is there and past its tail when needed.
void read_stdin(routines::Args& args, const Cell&) {
    int32_t wanted = integer::get(*args.cell(1));
    if (wanted < 0) error::fire(err::script_out_of_range, *args.cell(1));
    // "Up to" the length: one call never reserves more than this.
    constexpr int32_t most = 1 << 20;
    std::size_t count = std::size_t(wanted < most ? wanted : most);
    Cell bin = *args.cell(0);
    struct Scratch {
        uint8_t* bytes;
        ~Scratch() { heap::free(bytes); }
    } scratch{count ? static_cast<uint8_t*>(heap::allocate(count)) : nullptr};
    long n = count ? state().read_input(scratch.bytes, count) : 0;
    int32_t got = n > 0 ? int32_t(n) : 0;
    if (got > 0) {
        uint64_t used = memory::buffer(series::node_of(bin))->used();
        uint64_t at = series::index_of(bin) < 0 ? 0 : series::position_of(bin);
        if (at > used) at = used;
        if (at + uint64_t(got) > used) series::reserve(series::node_of(bin), at + uint64_t(got) - used);
        std::memcpy(memory::buffer(series::node_of(bin))->head_ptr() + at, scratch.bytes, std::size_t(got));
    }
    integer::make_at(*args.cell(0), got);
}

void console_init(routines::Args& args, const Cell&) {
    os::install_interrupt_handlers();
    init(args.cell(0));
    *args.cell(0) = unset::value;
}

}  // namespace

void register_routines() {
#define ROUTINES_console(index, entry) routines::register_entry(index, entry);
#include "runtime/interpreter/routines_register.h"
}

}  // namespace kov::line_editor
