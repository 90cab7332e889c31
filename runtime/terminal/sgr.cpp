// Terminal styles. See sgr.h for the two dialects; their tables come first.
#include "runtime/terminal/sgr.h"

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
const char* const basic_bg[18] = {"40", "41", "42", "43", "44", "45", "46", "47", "0",
                                  "49", "100", "101", "102", "103", "104", "105", "106", "107"};
const char* const basic_fg[18] = {"30", "31", "32", "33", "34", "35", "36", "37", "0",
                                  "39", "90", "91", "92", "93", "94", "95", "96", "97"};

void append_number(std::string& out, uint32_t n) { out += std::to_string(n); }

void append_colour(std::string& out, uint32_t colour, bool foreground) {
    uint32_t kind = colour & 0xFF000000u, value = colour & 0xFFFFFFu;
    switch (kind) {
    case k_basic: out += value < 18 ? (foreground ? basic_fg : basic_bg)[value] : (foreground ? "39" : "49"); break;
    case k_palette:
        out += foreground ? "38;5;" : "48;5;";
        append_number(out, value & 0xFF);
        break;
    case k_rgb:
        out += foreground ? "38;2;" : "48;2;";
        append_number(out, (value >> 16) & 0xFF);
        out += ';';
        append_number(out, (value >> 8) & 0xFF);
        out += ';';
        append_number(out, value & 0xFF);
        break;
    default: out += foreground ? "39" : "49"; break;
    }
}

// The parameters of one part of a style, when it differs between the two.
bool append_part(std::string& out, const SgrWrite& w, const Style& from, const Style& to) {
    switch (w.kind) {
    case W::foreground:
        if (from.foreground == to.foreground) return false;
        append_colour(out, to.foreground, true);
        return true;
    case W::background:
        if (from.background == to.background) return false;
        append_colour(out, to.background, false);
        return true;
    default:
        if ((from.attributes & w.bit) == (to.attributes & w.bit)) return false;
        append_number(out, (to.attributes & w.bit) ? w.on : w.off);
        return true;
    }
}

}  // namespace

const SgrTable console_sgr{console_effects, console_writes, 2, true, false, 0};
const SgrTable cell_sgr{cell_effects, cell_writes, 3, false, true, k_palette};

void apply_sgr(const SgrTable& table, Style& style, const Style& reset, uint32_t parameter) {
    for (const SgrEffect& e : table.effects) {
        if (parameter < e.from || parameter > e.to) continue;
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
        for (int j = 0; j < k; ++j) apply_sgr(table, pending, reset, q[j]);
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
                q[k - 1] = (q[k - 1] * 10 + d) % 65535;
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
    uint32_t shown = from.attributes;
    const auto& writes = table.writes;
    for (size_t i = 0; i < writes.size(); ++i) {
        const SgrWrite& w = writes[i];
        size_t mark = out.size();
        out += "\x1b[";
        if (!append_part(out, w, from, to)) {
            out.resize(mark);
        } else {
            out += 'm';
        }
        if (w.kind != W::attribute) continue;
        if (out.size() != mark) {
            if (to.attributes & w.bit) {
                shown |= w.bit;
            } else {
                for (const SgrWrite& v : writes)
                    if (v.kind == W::attribute && v.off == w.off) shown &= ~v.bit;
            }
        }
        bool last = true;
        for (size_t j = i + 1; j < writes.size(); ++j)
            if (writes[j].kind == W::attribute && writes[j].off == w.off) last = false;
        if (!last) continue;
        for (size_t j = 0; j <= i; ++j) {
            const SgrWrite& v = writes[j];
            if (v.kind != W::attribute || v.off != w.off || !(to.attributes & v.bit) || (shown & v.bit)) continue;
            out += "\x1b[";
            append_number(out, v.on);
            out += 'm';
            shown |= v.bit;
        }
    }
}

void append_sgr_style(std::string& out, const Style& style, const Style& base, const SgrTable& table) {
    out += "\x1b[0";
    for (const SgrWrite& w : table.writes) {
        size_t mark = out.size();
        out += ';';
        if (!append_part(out, w, base, style)) out.resize(mark);
    }
    out += 'm';
}

}  // namespace kov::terminal
