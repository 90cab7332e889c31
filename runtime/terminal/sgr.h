// Terminal styles: the one reader and the one writer of SGR, the sequences "ESC [ p ; p ... m"
// that set colours and attributes, for the two dialects that speak it: console output (the
// escape dialect of printed text, over the console's attribute word) and rich text on cells
// (in-text styles of the GUI back end's faces, and the frames it writes). What differs
// between the two is data, a `SgrTable`: what each parameter does, how many parameters make
// a group and what an empty or a surplus one means, and which sequences write a style.
//
// A style is two colours and attribute bits. On cells a colour word keeps its kind in the
// top byte: 0 the terminal's default, 1 a basic colour index 0-17 (0-7 standard, 8 written as
// "0", 9 default, 10-17 bright), 2 a 256-colour palette index, 4 a 24-bit colour (R in bits
// 16-23); the console's style holds its attribute word's nibbles and high byte instead.
//
// Moving memory: nothing here allocates series memory or runs Kov code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kov::terminal {

enum ColourKind : uint32_t { k_default = 0, k_basic = 1u << 24, k_palette = 2u << 24, k_rgb = 4u << 24 };

// The attribute bits of a cell.
enum Attribute : uint32_t {
    a_blink = 0x1, a_bold = 0x2, a_dim = 0x4, a_reverse = 0x8, a_underline = 0x10, a_strike = 0x40,
    a_italic = 0x100, a_concealed = 0x200, a_second_half = 0x400, a_password = 0x800,
};

struct Style {
    uint32_t background = 0;
    uint32_t foreground = 0;
    uint32_t attributes = 0;
    bool operator==(const Style&) const = default;
};

// What the parameters from..to do to a style: reset it, exchange its colours, or set a field
// to (field & keep) | (set + n), n being values[parameter - from] or else parameter - from.
struct SgrEffect {
    enum Field : uint8_t { reset, exchange, foreground, background, attributes };
    uint16_t from, to;
    Field field;
    uint32_t keep = 0, set = 0;
    const uint8_t* values = nullptr;
};

// One part of a written style, in writing order: an attribute bit with its on and off
// parameters, or a colour.
struct SgrWrite {
    enum Kind : uint8_t { attribute, foreground, background };
    Kind kind;
    uint32_t bit = 0;
    uint8_t on = 0, off = 0;
};

// Parameters from this one up do nothing in either table.
constexpr uint32_t sgr_parameters = 128;

struct SgrTable {
    std::span<const SgrEffect> effects;  // every effect of a parameter applies, in order
    const uint8_t* first_effect;         // by parameter, the first of its effects (0xFF: none)
    std::span<const SgrWrite> writes;
    // Parameters per group. A full group followed by ";" is applied to the style to be (or
    // dropped) and a new group begins; the last group is applied by the final "m".
    uint8_t group;
    bool groups_apply;
    // An empty parameter inside a group reads as 0; otherwise it is skipped, and a sequence
    // that ends right after a ";" does nothing.
    bool empty_is_zero;
    // The colour kind of a group "38;5;n" or "48;5;n", 0 for none.
    uint32_t palette;
};

extern const SgrTable console_sgr;
extern const SgrTable cell_sgr;

// What a control sequence held: its final character (0 when the text ended first), its last
// group of parameters, whether it ended right after a ";" (`open`, in a table without empty
// parameters), and whether it set the style.
struct Sequence {
    uint32_t final_char = 0;
    int count = 0;
    uint32_t params[3] = {0, 0, 0};
    bool open = false;
    bool styled = false;
};

// Reads the control sequence whose ESC is at `text`, in characters of `unit` bytes up to
// `end`: an "m" sets `style` (parameter 0 gives `reset`). Gives the characters it took, 0
// when no "[" follows the ESC. Parameters are kept modulo 65535.
size_t read_sequence(const uint8_t* text, const uint8_t* end, uint32_t unit, const SgrTable& table, Style& style,
                     const Style& reset, Sequence& sequence);
// Applies one parameter to a style.
void apply_sgr(const SgrTable& table, Style& style, const Style& reset, uint32_t parameter);

// The sequences that change the terminal's style from one style to another, one sequence per
// change. An off parameter that ends other attributes too ("\e[22m" ends bold and dim
// together) is followed by those that stay on.
void append_sgr_change(std::string& out, const Style& from, const Style& to, const SgrTable& table);
// One sequence that resets the style, then sets what differs from `base` (the style a reset
// gives): "\e[0;...m".
void append_sgr_style(std::string& out, const Style& style, const Style& base, const SgrTable& table);

}  // namespace kov::terminal
