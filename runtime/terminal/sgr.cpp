// Terminal styles. See sgr.h for the two dialects; their tables come first.
#include "runtime/terminal/sgr.h"

#include <array>
#include <utility>

#include "runtime/unicode.h"

namespace kov::terminal {

namespace {

using E = SgrEffect;
using W = SgrWrite;

// ---- console output: the attribute word's foreground nibble, background nibble, high byte ----

// SGR colour order (red 1, green 2, blue 4) to the console's (blue 1, green 2, red 4).
constexpr uint8_t console_colours[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// Bold sets both intensities, 39 and 49 set one; a colour or reverse video drops the
// underscore with every other bit of the high byte.
constexpr SgrEffect console_effects[] = {
    {0, 0, E::reset},
    {1, 1, E::foreground, ~0u, 0x08},
    {1, 1, E::background, ~0u, 0x08},
    {4, 4, E::attributes, ~0u, 0x8000},
    {7, 7, E::exchange},
    {7, 7, E::attributes, 0, 0},
    {30, 37, E::foreground, 0x08, 0, console_colours},
    {30, 37, E::attributes, 0, 0},
    {39, 39, E::foreground, ~0u, 0x08},
    {40, 47, E::background, 0x08, 0, console_colours},
    {40, 47, E::attributes, 0, 0},
    {49, 49, E::background, ~0u, 0x08},
};

constexpr SgrWrite console_writes[] = {{W::foreground}, {W::background}, {W::attribute, 0x8000, 4, 24}};

// ---- rich text on cells ------------------------------------------------------------------------

// 22 ends dim only (21 ends bold); 38 and 48 alone do nothing.
constexpr SgrEffect cell_effects[] = {
    {0, 0, E::reset},
    {1, 1, E::attributes, ~0u, a_bold},
    {2, 2, E::attributes, ~0u, a_dim},
    {3, 3, E::attributes, ~0u, a_italic},
    {4, 4, E::attributes, ~0u, a_underline},
    {5, 5, E::attributes, ~0u, a_blink},
    {7, 7, E::attributes, ~0u, a_reverse},
    {8, 8, E::attributes, ~0u, a_concealed},
    {9, 9, E::attributes, ~0u, a_strike},
    {21, 21, E::attributes, ~uint32_t{a_bold}, 0},
    {22, 22, E::attributes, ~uint32_t{a_dim}, 0},
    {23, 23, E::attributes, ~uint32_t{a_italic}, 0},
    {24, 24, E::attributes, ~uint32_t{a_underline}, 0},
    {25, 25, E::attributes, ~uint32_t{a_blink}, 0},
    {27, 27, E::attributes, ~uint32_t{a_reverse}, 0},
    {28, 28, E::attributes, ~uint32_t{a_concealed}, 0},
    {29, 29, E::attributes, ~uint32_t{a_strike}, 0},
    {30, 37, E::foreground, 0, k_basic},
    {39, 39, E::foreground, 0, k_basic | 9},
    {40, 47, E::background, 0, k_basic},
    {49, 49, E::background, 0, k_basic | 9},
    {90, 97, E::foreground, 0, k_basic | 10},
    {100, 107, E::background, 0, k_basic | 10},
};

// Blink and concealed are kept but never written.
constexpr SgrWrite cell_writes[] = {
    {W::attribute, a_dim, 2, 22},    {W::attribute, a_reverse, 7, 27}, {W::attribute, a_bold, 1, 22},
    {W::attribute, a_italic, 3, 23}, {W::attribute, a_strike, 9, 29},  {W::attribute, a_underline, 4, 24},
    {W::foreground},                 {W::background},
};

// The basic colours' parameters: background, then foreground.
constexpr uint8_t basic_bg[18] = {40, 41, 42, 43, 44, 45, 46, 47, 0, 49, 100, 101, 102, 103, 104, 105, 106, 107};
constexpr uint8_t basic_fg[18] = {30, 31, 32, 33, 34, 35, 36, 37, 0, 39, 90, 91, 92, 93, 94, 95, 96, 97};

void append_number(std::string& out, uint32_t n) {
    char digits[10];
    int k = 10;
    do {
        digits[--k] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n);
    out.append(digits + k, static_cast<size_t>(10 - k));
}

void append_colour(std::string& out, uint32_t colour, bool foreground) {
    uint32_t kind = colour & 0xFF000000u, value = colour & 0xFFFFFFu;
    switch (kind) {
    case k_basic: append_number(out, value < 18 ? (foreground ? basic_fg : basic_bg)[value] : foreground ? 39 : 49); break;
    case k_palette:
        out.append(foreground ? "38;5;" : "48;5;", 5);
        append_number(out, value & 0xFF);
        break;
    case k_rgb:
        out.append(foreground ? "38;2;" : "48;2;", 5);
        append_number(out, (value >> 16) & 0xFF);
        out += ';';
        append_number(out, (value >> 8) & 0xFF);
        out += ';';
        append_number(out, value & 0xFF);
        break;
    default: append_number(out, foreground ? 39 : 49); break;
    }
}

bool differs(const SgrWrite& w, const Style& from, const Style& to) {
    switch (w.kind) {
    case W::foreground: return from.foreground != to.foreground;
    case W::background: return from.background != to.background;
    default: return ((from.attributes ^ to.attributes) & w.bit) != 0;
    }
}

// The parameters that give one part of a style its value in `to`.
void append_part(std::string& out, const SgrWrite& w, const Style& to) {
    switch (w.kind) {
    case W::foreground: append_colour(out, to.foreground, true); break;
    case W::background: append_colour(out, to.background, false); break;
    default: append_number(out, (to.attributes & w.bit) ? w.on : w.off); break;
    }
}

// For each parameter, the first of its effects (0xFF: none); a parameter's effects stand
// next to each other in its table.
template <size_t N>
constexpr std::array<uint8_t, sgr_parameters> first_effects(const SgrEffect (&effects)[N]) {
    std::array<uint8_t, sgr_parameters> first{};
    for (uint8_t& f : first) f = 0xFF;
    for (size_t i = N; i-- > 0;)
        for (uint32_t p = effects[i].from; p <= effects[i].to && p < sgr_parameters; ++p) first[p] = static_cast<uint8_t>(i);
    return first;
}

constexpr auto console_first = first_effects(console_effects);
constexpr auto cell_first = first_effects(cell_effects);

}  // namespace

const SgrTable console_sgr{console_effects, console_first.data(), console_writes, 2, true, false, 0};
const SgrTable cell_sgr{cell_effects, cell_first.data(), cell_writes, 3, false, true, k_palette};

namespace {

inline void apply(const SgrTable& table, Style& style, const Style& reset, uint32_t parameter) {
    if (parameter >= sgr_parameters) return;
    for (size_t i = table.first_effect[parameter]; i < table.effects.size(); ++i) {
        const SgrEffect& e = table.effects[i];
        if (parameter < e.from || parameter > e.to) break;
        uint32_t n = e.values ? e.values[parameter - e.from] : parameter - e.from;
        switch (e.field) {
        case E::reset: style = reset; break;
        case E::exchange: std::swap(style.foreground, style.background); break;
        case E::foreground: style.foreground = (style.foreground & e.keep) | (e.set + n); break;
        case E::background: style.background = (style.background & e.keep) | (e.set + n); break;
        case E::attributes: style.attributes = (style.attributes & e.keep) | (e.set + n); break;
        }
    }
}

}  // namespace

void apply_sgr(const SgrTable& table, Style& style, const Style& reset, uint32_t parameter) { apply(table, style, reset, parameter); }

size_t read_sequence(const uint8_t* text, const uint8_t* end, uint32_t unit, const SgrTable& table, Style& style,
                     const Style& reset, Sequence& sequence) {
    const uint8_t* p = text + unit;
    if (p + unit > end || unicode::char_at(p, unit) != '[') return 0;
    p += unit;
    sequence = Sequence{};
    uint32_t* q = sequence.params;
    int k = 0;          // parameters begun in this group
    bool open = false;  // a ";" after the last of them and nothing yet (no empty parameters)
    Style pending = style;
    auto apply_group = [&] {
        for (int j = 0; j < k; ++j) apply(table, pending, reset, q[j]);
    };
    while (p + unit <= end) {
        uint32_t c = unicode::char_at(p, unit);
        p += unit;
        if (c >= '0' && c <= '9') {
            uint32_t d = c - '0';
            if (k == 0) {
                q[k++] = d;
            } else if (open) {
                q[k++] = d;
                open = false;
            } else {
                uint32_t v = q[k - 1] * 10 + d;
                q[k - 1] = v < 65535 ? v : v % 65535;
            }
            continue;
        }
        if (c == ';') {
            if (k == 0 || open) continue;
            if (k == table.group) {
                if (table.groups_apply) apply_group();
                k = 0;
            } else if (table.empty_is_zero) {
                q[k++] = 0;
            } else {
                open = true;
            }
            continue;
        }
        sequence.final_char = c;
        sequence.count = k;
        sequence.open = open;
        if (c == 'm' && k > 0 && !open) {
            if (k == 3 && table.palette && (q[0] == 38 || q[0] == 48) && q[1] == 5) {
                (q[0] == 38 ? pending.foreground : pending.background) = table.palette | (q[2] & 0xFF);
            } else {
                apply_group();
            }
            style = pending;
            sequence.styled = true;
        }
        break;  // every other character ends the sequence; none of them is shown
    }
    return static_cast<size_t>(p - text) / unit;
}

void append_sgr_change(std::string& out, const Style& from, const Style& to, const SgrTable& table) {
    if (from == to) return;
    // What the terminal shows as the sequences go out: an off parameter ends every attribute
    // that shares it, and after the last of those in writing order the ones still wanted are
    // set again.
    const auto& writes = table.writes;
    uint32_t shown = from.attributes, done = 0;
    for (size_t i = 0; i < writes.size(); ++i) {
        const SgrWrite& w = writes[i];
        if (differs(w, from, to)) {
            out.append("\x1b[", 2);
            append_part(out, w, to);
            out += 'm';
            if (w.kind == W::attribute) {
                if (to.attributes & w.bit) {
                    shown |= w.bit;
                } else {
                    for (const SgrWrite& v : writes)
                        if (v.kind == W::attribute && v.off == w.off) shown &= ~v.bit;
                }
            }
        }
        if (w.kind != W::attribute) continue;
        done |= w.bit;
        uint32_t missing = to.attributes & ~shown & done;
        if (missing == 0) continue;
        bool last = true;
        for (size_t j = i + 1; j < writes.size(); ++j)
            if (writes[j].kind == W::attribute && writes[j].off == w.off) last = false;
        if (!last) continue;
        for (size_t j = 0; j <= i; ++j) {
            const SgrWrite& v = writes[j];
            if (v.kind != W::attribute || v.off != w.off || !(missing & v.bit)) continue;
            out.append("\x1b[", 2);
            append_number(out, v.on);
            out += 'm';
            shown |= v.bit;
        }
    }
}

void append_sgr_style(std::string& out, const Style& style, const Style& base, const SgrTable& table) {
    out.append("\x1b[0", 3);
    for (const SgrWrite& w : table.writes) {
        if (!differs(w, base, style)) continue;
        out += ';';
        append_part(out, w, style);
    }
    out += 'm';
}

}  // namespace kov::terminal
