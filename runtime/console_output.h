// Console output and the print hooks.
//
// Everything printed to standard output passes through here, as UTF-8 through one writer on
// file descriptor 1 (or a capture that replaces it). Whether fd 1 is a terminal is decided
// once, by `init_output`.
//  - Redirected: characters are encoded to UTF-8 as they are; escape sequences pass through
//    untouched; a new line is LF.
//  - Terminal: the escape sequences in printed text are interpreted by this module's own
//    dialect (cursor moves column first and 0-based, clearing whole rows, a 16-bit colour
//    attribute word) and written out as the equivalent standard VT sequences. The cursor is
//    tracked as text is written, starting from column 0, row 0, and the size is asked of the
//    terminal before each use, so nothing waits for a terminal reply. A new line is CR LF.
// Invariant: the output buffer is empty between calls; every print routine flushes before it
// returns (also when it raises).
//
// Nothing here allocates series memory, so a text address passed in stays valid for the
// whole call; the print hooks are what may run other code.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kov::console {

// Where output bytes go: fd 1 unless a test captures them (null restores fd 1).
using Sink = void (*)(const uint8_t* bytes, std::size_t count);
void set_sink(Sink sink);

// Bytes as they are (a binary written to standard output), after what is pending.
void write_bytes(const uint8_t* bytes, std::size_t count);

// Allocates the output and number buffers, decides whether fd 1 is a terminal, and makes the
// runtime's typed print go through `print_cstring`.
void init_output();
// Makes the output behave as a terminal of the given size (or as redirected), with the
// cursor at 0, 0 and the default attributes: for tests, which cannot own a real terminal.
void set_terminal(bool console, int width, int height);
bool is_console();

// Cursor positions are packed as column | row << 16.
constexpr uint32_t coord(uint32_t column, uint32_t row) { return (column & 0xFFFF) | row << 16; }

// The tracked terminal state.
struct State {
    int width, height;
    int column, row;           // column may equal width: the next character wraps first
    uint32_t saved;            // position saved by ESC [ s
    uint16_t attributes;
    uint16_t default_attributes;
};
State state();

// Console attribute bits: foreground blue 0x01, green 0x02, red 0x04, intensity 0x08;
// the same four bits shifted by 4 for the background; 0x8000 underscore.
constexpr uint16_t initial_attributes = 0x07;

uint32_t save_cursor();
// A position outside the terminal leaves the cursor where it is.
void set_cursor(uint32_t position);
void set_attributes(uint16_t attributes);
// Modes 0-5: rows from the cursor's to the last, rows above the cursor's, everything (cursor
// home), the cursor's row (cursor to its start), from the cursor to the end of its row, the
// start of the row up to the cursor (cursor to the row's start).
void clear(int mode);
// The attributes after one SGR code; negative attributes mean the current ones.
int32_t sgr_attribute(int32_t attributes, uint32_t code);
// Interprets the CSI sequence at esc (an ESC character of the unit width; the text ends at
// end). Gives the bytes consumed from the ESC on, 0 when it does not start a sequence.
uint64_t do_escape(const uint8_t* esc, const uint8_t* end, uint32_t unit);

// Prints bytes of text at a unit width (1, 2 or 4), with a new line when asked.
void print_string(const uint8_t* text, uint64_t bytes, uint32_t unit, bool new_line);
void print_latin1(const uint8_t* text, uint64_t bytes);
void print_line_latin1(const uint8_t* text, uint64_t bytes);
void print_utf16(const uint8_t* text, uint64_t bytes);
void print_line_utf16(const uint8_t* text, uint64_t bytes);
void print_ucs4(const uint8_t* text, uint64_t bytes);
void print_line_ucs4(const uint8_t* text, uint64_t bytes);
// UTF-8 bytes written as they are (no escape interpretation), then the text listeners are
// told. Gives the text.
const char* print_cstring(const char* text);
// Numbers: "%i", "%02X", "%08X", "%.16g", "%.7g"; then the text listeners are told.
void print_int(int32_t value);
void print_hex2(uint32_t value);
void print_hex8(uint32_t value);
void print_float64(double value);
void print_float32(float value);

}  // namespace kov::console

namespace kov::print_hooks {

using StringHook = void (*)(const Cell& str, bool new_line);
using TextListener = void (*)(const char* text, std::size_t length, int zero);

// Allocates both tables (capacity 5) and registers `console_writer` first.
void init();
// Appends each non-null callback to its table (tables grow by 5).
void add(StringHook hook, TextListener listener);
// Calls every string hook in registration order.
void print(const Cell& str, bool new_line);
// Calls every text listener in registration order.
void print_line(const char* text, std::size_t length, int zero);
// Prints a string cell (unit 1, 2 or 4) from its head, with a new line when asked.
void console_writer(const Cell& str, bool new_line);

}  // namespace kov::print_hooks
