// The line editor: reads one line for `ask`. On a terminal it edits the line in place (cursor
// keys, history, Tab completion) and redraws the prompt and the line with the widths the
// terminal gives wide characters and wrapped rows; otherwise it reads one line of UTF-8 text
// from standard input. Keys come from the terminal layer (runtime/terminal/input.h), read as
// the line editor reads them.
//
// State: one editor per process (`editor()`). Its cells (the line being edited, the prompt,
// the history block, the saved line) are collector roots. The line's index is the cursor.
//
// Screen model: positions are counted in cells from column 0 of the row where the prompt
// begins (so the prompt's start column counts too); cell k lies on row k / columns. The
// editor only ever moves the terminal's cursor relative to where it put it (rows up, line
// feeds down, carriage return and a move right), so the text may scroll without the editor
// knowing where on the screen it is.
//
// Moving memory: editing allocates (the line grows and widens) and Tab completion runs Kov
// code; the editor keeps nodes and indexes, never addresses into the line across those.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/terminal/input.h"

namespace kov::line_editor {

// ---- layout -------------------------------------------------------------------------------------
// The UCS-4 text of one screen update; written through the console output in one piece.
class Output {
public:
    Output() = default;
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    void put(uint32_t cp);
    void text(const char* ascii);
    void csi(int64_t n, char final);  // ESC [ n final (n > 0)
    void flush();
    void release();
    std::size_t size() const { return count_; }

private:
    uint32_t* buf_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

// The state carried from one character to the next while text is laid out.
struct Flow {
    Output* out;     // null: measure only
    int32_t columns;
    bool pending;    // the last character filled its row exactly: the next one starts a row
};

// Lays out the characters [from, to) of a string: emits them into flow.out when it is set and
// gives the cells they take, `avail` being the cells left in the first row. Wide characters
// that do not fit in a row go to the next one (the cell left over counts); a Tab takes four
// cells. In the prompt an escape sequence takes no cells and a line feed ends the row; in the
// line every control character shows as U+FFFD. Hidden text shows one "*" per character.
int64_t segment(Flow& flow, const Cell& text, uint32_t from, uint32_t to, int64_t avail, bool prompt, bool hidden);

// Where the prompt ends, where the cursor is and where the text ends, in cells.
struct Positions {
    int64_t prompt_end;
    int64_t pos;
    int64_t end;
    bool pending;  // the text ends exactly at the end of a row
};

// ---- the editor ---------------------------------------------------------------------------------
struct Editor {
    Cell line{T_unset, 0, 0, 0};        // string!: the text; its index is the cursor
    Cell prompt{T_unset, 0, 0, 0};      // string!
    Cell history{T_unset, 0, 0, 0};     // block! of strings, newest first
    Cell saved_line{T_unset, 0, 0, 0};  // text to pre-fill into the next edit, index = cursor
    int32_t columns = -1;
    int32_t rows = -1;
    int32_t start_col = 0;    // where the prompt begins
    int64_t cursor_row = 0;   // the row the terminal's cursor is on
    int64_t last_row = 0;     // the last row holding text
    int32_t history_pos = -1;
    bool console_input = true;
    bool full_redraw = true;
    bool first_refresh = true;
    bool hidden = false;
    bool keep_saved = false;  // the edit ended to show completions: pre-fill the next one
    bool fixed_size = false;  // tests: columns and rows are given, not asked of the terminal
    bool initialised = false;
    Output out;
    terminal::KeyReader keys{terminal::editor_reading};  // keys as the line editor reads them
    // The terminal: standard input's raw mode by default, replaceable by tests.
    bool (*enter_raw)() = nullptr;
    void (*leave_raw)() = nullptr;
    // Standard input when it is read as bytes: up to count bytes, 0 at the end, -1 on an error.
    long (*read_input)(void* bytes, std::size_t count) = nullptr;
};
Editor& editor();

// Whether standard input and output are a terminal, the window size, the saved line.
// `title` (a string!, or null) becomes the window title on a terminal.
void init(const Cell* title);
// The string the next edit fills and the history it recalls from and adds to.
void setup(const Cell& line, const Cell& history);
// Reads one line into the string given to `setup`. False when input had ended before any
// character of it was read.
bool edit(const Cell& prompt, bool hidden);
// Reads characters of standard input up to a line feed (not stored) or the end of input and
// appends them to the string; a carriage return stays. Invalid UTF-8 reads as U+FFFD; a
// byte-order mark as the input's first character is dropped. False when the input had ended
// before anything was read. A read given up for an interrupt ends the line as Ctrl+C does.
bool stdin_readline(Cell& str);

// Tab: calls `kov-complete-ctx/complete-input` with a copy of the line positioned at the
// cursor. Gives 0 (nothing to complete), 1 (the line was completed) or the number of
// candidates (the line shows them; the saved line holds their common part). Kov errors of
// the completion function reach the caller.
int32_t complete();

// The layout of the current prompt and line (no output).
Positions measure();
// Redraws (when full_redraw) and places the cursor.
void refresh();

// The routines the language reaches: _set-buffer-history, _read-input, _terminate-console,
// input-stdin, read-stdin, console-init (the `init` routine of system/console, which also
// installs the Ctrl+C and ending-signal handlers), _input-break (how the last edit ended:
// Ctrl+C, Ctrl+D), _clear-interrupt, _exit-settings (the bytes written when a signal ends the
// process), _report (a line on standard error) and _settings-folder.
void register_routines();

}  // namespace kov::line_editor
