// The GUI back end's drawing units: a grid of character cells (`Screen`), colour words from
// colour tuples, text runs with in-text SGR sequences (read with the cells' table of sgr.h),
// text measurement in cells, and the frame writer that turns the grid into one burst of UTF-8
// and escape sequences.
//
// A cell holds a code point, two colour words and attribute bits (sgr.h). Its code 0 is shown
// as a space; a cell marked as the second half of a double-width character is never written,
// its first half stands for both. Nothing written for a cell can be a terminal command:
// control characters (C0, DEL, C1) are written as U+FFFD.
//
// Moving memory: nothing here allocates series memory or runs Kov code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "runtime/terminal/sgr.h"

namespace kov::terminal {

struct ScreenCell {
    uint32_t code = 0;
    uint32_t background = 0;
    uint32_t foreground = 0;
    uint32_t attributes = 0;
};

// A rectangle of the screen, right and bottom excluded.
struct Clip {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
};

class Screen {
public:
    // Every cell blank (a space in default colours); the storage only ever grows.
    void resize(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    // The cell, or null outside the grid.
    ScreenCell* at(int x, int y) {
        return x >= 0 && y >= 0 && x < width_ && y < height_ ? &cells_[static_cast<size_t>(y) * width_ + x] : nullptr;
    }
    const ScreenCell* at(int x, int y) const { return const_cast<Screen*>(this)->at(x, y); }
    // The clip cut to the grid.
    Clip bounds(Clip c) const;

private:
    int width_ = 0, height_ = 0;
    std::vector<ScreenCell> cells_;
};

// A colour tuple's value with R in the low byte and alpha in the top byte, to a palette
// colour word; alpha 255 (fully transparent) gives the default colour.
uint32_t palette_index(uint32_t rgba);
// The same as a 24-bit colour word.
uint32_t rgb_colour(uint32_t rgba);

// Cells a code point takes: 0, 1 or 2.
int char_width(uint32_t cp);

// Widest line and line count of a text, in cells; with wrap_width above 0 a character that
// would pass it starts a new line, and one wider than it ends the measurement.
void measure(const char32_t* text, size_t n, int wrap_width, int& width, int& lines);

enum RunFlag : uint32_t { run_wrap = 1, run_ansi = 2 };

// Fills the clip with spaces in the background colour.
void fill(Screen& screen, Clip clip, uint32_t background);
// Writes a text from (x, y) inside the clip: line feeds start the next row at x; without
// wrap the rest of a line past the clip's right edge is skipped. With `styles`, character i
// is drawn in styles[i] (the last of them past their end) rather than in `style`.
void text_run(Screen& screen, Clip clip, int x, int y, const char32_t* text, size_t n, Style style, uint32_t flags,
              std::span<const Style> styles = {});

// What a frame must know of the frames before it.
struct FrameState {
    bool full_screen = false;
    int cursor_row = 0;      // the area's row the terminal cursor was left on
    bool area_drawn = false;
};

// The escape sequences between two cell styles, bold and dim kept right across "\e[22m".
void append_style_change(std::string& out, const ScreenCell& from, const ScreenCell& to);
// One frame of the whole grid appended to out; a caret at a negative column is none. Writes
// nothing for an empty grid.
void write_frame(std::string& out, const Screen& screen, FrameState& state, int caret_column, int caret_row);
// The code point as UTF-8, control characters as U+FFFD.
void append_utf8(std::string& out, uint32_t cp);

}  // namespace kov::terminal
