#include "runtime/terminal/screen.h"

#include "runtime/unicode.h"

namespace kov::terminal {

namespace {

const uint8_t basic_rgb[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                  {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                  {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                  {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
const int cube_levels[6] = {0, 95, 135, 175, 215, 255};

void palette_rgb(int index, int rgb[3]) {
    if (index < 16) {
        for (int i = 0; i < 3; ++i) rgb[i] = basic_rgb[index][i];
    } else if (index < 232) {
        int n = index - 16;
        rgb[0] = cube_levels[n / 36];
        rgb[1] = cube_levels[(n / 6) % 6];
        rgb[2] = cube_levels[n % 6];
    } else {
        rgb[0] = rgb[1] = rgb[2] = 8 + 10 * (index - 232);
    }
}

int cube_step(int v) { return v < 48 ? 0 : v <= 114 ? 1 : (v - 35) / 40; }

int distance(const int a[3], const int b[3]) {
    int d = 0;
    for (int i = 0; i < 3; ++i) d += (a[i] - b[i]) * (a[i] - b[i]);
    return d;
}

bool is_control(uint32_t cp) { return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F); }

}  // namespace

void Screen::resize(int width, int height) {
    width_ = width < 0 ? 0 : width;
    height_ = height < 0 ? 0 : height;
    size_t n = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    if (cells_.size() < n) cells_.resize(n);
    for (size_t i = 0; i < n; ++i) cells_[i] = ScreenCell{};
}

Clip Screen::bounds(Clip c) const {
    if (c.left < 0) c.left = 0;
    if (c.top < 0) c.top = 0;
    if (c.right > width_) c.right = width_;
    if (c.bottom > height_) c.bottom = height_;
    return c;
}

uint32_t palette_index(uint32_t rgba) {
    if ((rgba >> 24) == 255) return k_default;
    int c[3] = {static_cast<int>(rgba & 0xFF), static_cast<int>((rgba >> 8) & 0xFF), static_cast<int>((rgba >> 16) & 0xFF)};
    int cube = 16 + 36 * cube_step(c[0]) + 6 * cube_step(c[1]) + cube_step(c[2]);
    int average = (c[0] + c[1] + c[2]) / 3;
    int grey = 232 + (average >= 239 ? 23 : (average - 3) / 10);
    if (average < 13) grey = 232;
    int cube_rgb[3], grey_rgb[3];
    palette_rgb(cube, cube_rgb);
    palette_rgb(grey, grey_rgb);
    int index = distance(c, cube_rgb) < distance(c, grey_rgb) ? cube : grey;
    return k_palette | static_cast<uint32_t>(index);
}

uint32_t rgb_colour(uint32_t rgba) {
    if ((rgba >> 24) == 255) return k_default;
    return k_rgb | ((rgba & 0xFF) << 16) | (rgba & 0xFF00) | ((rgba >> 16) & 0xFF);
}

int char_width(uint32_t cp) { return unicode::char_width(cp); }

void measure(const char32_t* text, size_t n, int wrap_width, int& width, int& lines) {
    width = 0;
    lines = n > 0 ? 1 : 0;
    int line = 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = text[i];
        if (cp == '\n') {
            ++lines;
            line = 0;
            continue;
        }
        int w = char_width(cp);
        if (wrap_width > 0 && line + w > wrap_width) {
            if (w > wrap_width) break;
            ++lines;
            line = 0;
        }
        line += w;
        if (line > width) width = line;
    }
}

void fill(Screen& screen, Clip clip, uint32_t background) {
    clip = screen.bounds(clip);
    for (int y = clip.top; y < clip.bottom; ++y)
        for (int x = clip.left; x < clip.right; ++x) *screen.at(x, y) = ScreenCell{0, background, 0, 0};
}

void text_run(Screen& screen, Clip clip, int x0, int y0, const char32_t* text, size_t n, Style style, uint32_t flags,
              std::span<const Style> styles) {
    clip = screen.bounds(clip);
    if (clip.empty()) return;
    int x = x0, y = y0;
    bool skipping = false;
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = text[i];
        if (i < styles.size()) style = styles[i];
        if (cp == '\n') {
            x = x0;
            ++y;
            skipping = false;
            continue;
        }
        if (cp == 0x1B && (flags & run_ansi)) {
            Sequence sequence;
            size_t used = read_sequence(reinterpret_cast<const uint8_t*>(text + i), reinterpret_cast<const uint8_t*>(text + n), 4,
                                        cell_sgr, style, Style{}, sequence);
            if (used > 0) {
                i += used - 1;
                continue;
            }
        }
        if (skipping) continue;
        if (y >= clip.bottom) break;
        int w = char_width(cp);
        if (w == 0) continue;
        if (x + w > clip.right) {
            if (flags & run_wrap) {
                x = x0;
                ++y;
                if (y >= clip.bottom) break;
            } else {
                skipping = true;
                continue;
            }
        }
        if (y >= clip.top && x >= clip.left && x + w <= clip.right) {
            *screen.at(x, y) = ScreenCell{cp, style.background, style.foreground, style.attributes};
            if (w == 2) *screen.at(x + 1, y) = ScreenCell{0, style.background, style.foreground, style.attributes | a_second_half};
        }
        x += w;
    }
}

void append_utf8(std::string& out, uint32_t cp) {
    if (is_control(cp) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void append_style_change(std::string& out, const ScreenCell& from, const ScreenCell& to) {
    if (from.background == to.background && from.foreground == to.foreground && from.attributes == to.attributes) return;
    append_sgr_change(out, Style{from.background, from.foreground, from.attributes}, Style{to.background, to.foreground, to.attributes},
                      cell_sgr);
}

void write_frame(std::string& out, const Screen& screen, FrameState& state, int caret_column, int caret_row) {
    int w = screen.width(), h = screen.height();
    if (w < 1 || h < 1) return;
    if (state.full_screen) {
        out += "\x1b[H";
    } else {
        out += '\r';
        if (state.cursor_row > 0) out += "\x1b[" + std::to_string(state.cursor_row) + "A";
        out += "\x1b[0J";
    }
    ScreenCell current{};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const ScreenCell& c = *screen.at(x, y);
            if (c.attributes & a_second_half) continue;
            append_style_change(out, current, c);
            current = c;
            current.code = 0;
            if (c.attributes & a_password) {
                out += '*';
            } else if (c.code == 0) {
                out += ' ';
            } else {
                append_utf8(out, c.code);
            }
        }
        if (y + 1 < h) {
            current.background = k_default;
            out += "\x1b[49m\r\n";
        }
    }
    append_style_change(out, current, ScreenCell{});
    if (caret_column >= 0 && caret_row >= 0) {
        out += '\r';
        int up = h - (caret_row + 1);
        if (up > 0) out += "\x1b[" + std::to_string(up) + "A";
        if (caret_column > 0) out += "\x1b[" + std::to_string(caret_column) + "C";
        state.cursor_row = caret_row;
    } else {
        state.cursor_row = h - 1;
    }
    state.area_drawn = true;
}

}  // namespace kov::terminal
