#include "runtime/tui/routines.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/cells.h"
#include "runtime/console_output.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/platform/terminal.h"
#include "runtime/root.h"
#include "runtime/series_buffer.h"
#include "runtime/terminal/input.h"
#include "runtime/terminal/screen.h"
#include "runtime/tui/loop.h"
#include "runtime/tui_hooks.h"
#include "runtime/unicode.h"

namespace kov::tui {

using namespace terminal;

namespace {

class MonotonicClock : public Clock {
public:
    double now_ms() override { return static_cast<double>(os::monotonic_ns()) / 1e6; }
};

class Stdin : public ByteSource {
public:
    int read(unsigned char* buffer, int capacity, int timeout_ms) override {
        int got = os::tty::read_some(buffer, capacity, timeout_ms);
        if (got == os::tty::interrupted) return -3;
        if (got == os::tty::interrupt_key) return -4;
        return got < 0 ? -2 : got;
    }
};

MonotonicClock clock;
Stdin source;
Screen screen;
FrameState frame_state;
Decoder decoder{back_end_reading};
Timers timers;
Clicks clicks;
Pacer pacer(clock, source);
std::string out;
bool active = false, mouse_on = false, alternate_on = false, cursor_hidden = false;
bool suspended = false;
int columns = 80, rows = 24;
uint32_t generation = 0;

// The parts of a widget that the language-level helpers reach through routines (the rest of
// a widget is view/terminal.kov's record): its private data (a text list's first shown line)
// and the text a helper rendered for it, by widget id; and which widget has the focus (0:
// none). Kept as plain C++ values, so the collector has nothing to see here.
struct WidgetPart {
    int32_t data = 0;
    bool has_ui = false;
    std::u32string ui;
};
std::unordered_map<int32_t, WidgetPart> widget_parts;
int32_t focused_widget = 0;
uint32_t records_slot = 0;  // index in the root block of the records block, 0: not made
uint32_t wait_hook_slot = 0;  // index in the root block of the single-pass function, 0: none

// The modes that must be undone if the process ends while they are on, and taken again when a
// stopped process continues (the alternate screen comes back blank: the pass that the
// continuation wakes redraws it).
void update_exit_sequence() {
    std::string s, r;
    if (mouse_on) {
        s += "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";
        r += "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h";
    }
    if (alternate_on) {
        s += "\x1b[?1049l";
        r += "\x1b[?1049h\x1b[2J";
    }
    if (cursor_hidden) {
        s += "\x1b[?25h";
        r += "\x1b[?25l";
    }
    os::tty::set_exit_sequence(s.data(), s.size(), r.data(), r.size());
}

void flush() {
    if (out.empty()) return;
    os::tty::write_out(out.data(), out.size());
    out.clear();
}

void read_size() {
    int c = 0, r = 0;
    if (os::tty::size(c, r) && c > 0 && r > 0) {
        columns = c;
        rows = r;
    } else {
        columns = 80;
        rows = 24;
    }
}

std::u32string text_of(const Cell& s) {
    std::u32string t;
    if (!in(cell::type(s), ANY_STRING)) return t;
    memory::Buffer* b = memory::buffer(series::node_of(s));
    uint32_t unit = b->unit(), shift = unicode::unit_shift(unit);
    uint32_t count = b->used() >> shift;
    for (uint32_t i = series::position_of(s); i < count; ++i) t += static_cast<char32_t>(unicode::char_at(b->head_ptr() + (i << shift), unit));
    return t;
}

int32_t int_of(const Cell& c) {
    if (cell::is(c, T_integer)) return integer::get(c);
    if (cell::is(c, T_float_)) {
        double d = float_::get_value(c);
        return d != d ? 0 : d > 1e9 ? 1000000000 : d < -1e9 ? -1000000000 : static_cast<int32_t>(d);
    }
    return 0;
}

// A colour tuple as R in the low byte and alpha at the top; none and other values: the
// default colour (alpha 255).
uint32_t rgba_of(const Cell& c) {
    if (!cell::is(c, T_tuple)) return 0xFF000000u;
    uint32_t v = 0;
    for (uint32_t i = 0; i < 4 && i < tuple::length(c); ++i) v |= static_cast<uint32_t>(tuple::byte_at(c, i)) << (8 * i);
    return v;
}

Cell& records() {
    if (records_slot == 0) {
        Cell* b = block::push_new(16);
        root::append(*b);
        stack::pop(1);
        records_slot = cells::count(root::block()) - 1;
    }
    return cells::at(root::block(), records_slot);
}

Cell read_event(uint32_t handle, int32_t field, const Cell&) {
    Cell list = records();
    memory::Node node = series::node_of(list);
    uint32_t n = cells::count(node);
    for (uint32_t i = 0; i + 5 <= n; i += 5) {
        const Cell* r = cells::of(node) + i;
        if (static_cast<uint32_t>(integer::get(r[0])) != handle) continue;
        switch (field) {
        case event::f_face: return r[1];
        case event::f_offset: return r[2];
        case event::f_key: return r[3];
        case event::f_picked: return r[4];
        default: return none::value;
        }
    }
    return none::value;
}

// The terminal answers with the cursor's position, which the decoder reads as the inline
// area's row.
void ask_cursor() {
    out += "\x1b[6n";
    decoder.cursor_reported = false;
}

// Before the terminal is given back: an answer still on its way is waited for (a little),
// and whatever input is pending is dropped, so that neither reaches the shell as text.
void drain_input() {
    unsigned char bytes[256];
    double until = clock.now_ms() + 200;
    std::vector<Input> ignored;
    while (!decoder.cursor_reported) {
        double left = until - clock.now_ms();
        if (left <= 0) break;
        int got = os::tty::read_some(bytes, sizeof bytes, static_cast<int>(left) + 1);
        if (got <= 0) break;
        decoder.feed(bytes, static_cast<size_t>(got));
        decoder.decode(ignored, false);
        ignored.clear();
    }
    while (os::tty::read_some(bytes, sizeof bytes, 0) > 0) {
    }
    decoder.clear();
}

void set_private(int n, bool on) { out += "\x1b[?" + std::to_string(n) + (on ? "h" : "l"); }

void mouse_modes(bool on) {
    if (on == mouse_on) return;
    for (int n : {1000, 1003, 1015, 1006}) set_private(n, on);
    mouse_on = on;
}

// ---- routines ---------------------------------------------------------------------------------

// tui-enter full? mouse?: takes the terminal; false when standard input or output is not one.
void tui_enter(routines::Args& args, const Cell&) {
    bool full = logic::true_value_q(*args.cell(0), false, nullptr), mouse = logic::true_value_q(*args.cell(1), false, nullptr);
    if (!active) {
        if (!os::tty::interactive() || !os::tty::enter_raw()) {
            logic::make_at(*args.cell(0), false);
            return;
        }
        active = true;
        output_bracketed = true;
        read_size();
        decoder.clear();
        decoder.cursor_reported = true;  // no question asked yet
        pacer.reset();
        clicks.reset();
        frame_state = FrameState{};
        frame_state.full_screen = full;
        if (!full) ask_cursor();
    }
    if (full && !alternate_on) {
        out += "\x1b[?1049h\x1b[2J";
        alternate_on = true;
        frame_state.full_screen = true;
    }
    mouse_modes(mouse);
    update_exit_sequence();
    flush();
    logic::make_at(*args.cell(0), true);
}

void tui_leave(routines::Args& args, const Cell&) {
    if (active) {
        if (frame_state.area_drawn && !alternate_on) {
            int below = screen.height() - frame_state.cursor_row;
            if (frame_state.cursor_row < screen.height() - 1 && below > 1) out += "\x1b[" + std::to_string(below - 1) + "B";
            out += "\r\n";
        }
        mouse_modes(false);
        if (alternate_on) out += "\x1b[?1049l";
        alternate_on = false;
        out += "\x1b[?25h";
        cursor_hidden = false;
        flush();
        drain_input();
        os::tty::set_exit_sequence("", 0);
        os::tty::leave_raw();
        active = false;
        output_bracketed = false;
        frame_state = FrameState{};
    }
    decoder.clear();
    timers.clear();
    *args.cell(0) = none::value;
}

void tui_active_q(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), active); }
void tui_real_q(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), os::tty::interactive()); }

void tui_size(routines::Args& args, const Cell&) {
    int c = 0, r = 0;
    bool known = os::tty::size(c, r) && c > 0 && r > 0;
    pair::make_at(*args.cell(0), known ? c : 80, known ? r : 24);
}

// tui-screen width height: the grid for the next frame, cut to the terminal, all blank.
void tui_screen(routines::Args& args, const Cell&) {
    if (active) read_size();
    int w = int_of(*args.cell(0)), h = int_of(*args.cell(1));
    screen.resize(w > columns ? columns : w, h > rows ? rows : h);
    pair::make_at(*args.cell(0), screen.width(), screen.height());
}

// The clip rectangle given by four integer arguments from argument k.
Clip clip_of(const routines::Args& args, uint32_t k) {
    return Clip{int_of(*args.cell(k)), int_of(*args.cell(k + 1)), int_of(*args.cell(k + 2)), int_of(*args.cell(k + 3))};
}

// tui-fill left top right bottom colour-word
void tui_fill(routines::Args& args, const Cell&) {
    fill(screen, clip_of(args, 0), static_cast<uint32_t>(int_of(*args.cell(4))));
    *args.cell(0) = none::value;
}

// tui-text x y left top right bottom text fg bg attributes flags
void tui_text(routines::Args& args, const Cell&) {
    std::u32string t = text_of(*args.cell(6));
    Style st{static_cast<uint32_t>(int_of(*args.cell(8))), static_cast<uint32_t>(int_of(*args.cell(7))), static_cast<uint32_t>(int_of(*args.cell(9)))};
    text_run(screen, clip_of(args, 2), int_of(*args.cell(0)), int_of(*args.cell(1)), t.data(), t.size(), st, static_cast<uint32_t>(int_of(*args.cell(10))));
    *args.cell(0) = none::value;
}

// tui-styled-text x y left top right bottom text line flags: the line holds one [foreground
// background attributes] block per character.
void tui_styled_text(routines::Args& args, const Cell&) {
    std::u32string t = text_of(*args.cell(6));
    std::vector<Style> styles;
    if (cell::is(*args.cell(7), T_block)) {
        memory::Node line = series::node_of(*args.cell(7));
        for (uint32_t i = series::position_of(*args.cell(7)); i < cells::count(line) && styles.size() < t.size(); ++i) {
            Style st;
            const Cell& entry = cells::at(line, i);
            if (cell::is(entry, T_block)) {
                memory::Node e = series::node_of(entry);
                uint32_t at = series::position_of(entry), n = cells::count(e);
                uint32_t* parts[3] = {&st.foreground, &st.background, &st.attributes};
                for (uint32_t k = 0; k < 3 && at + k < n; ++k) *parts[k] = static_cast<uint32_t>(int_of(cells::at(e, at + k)));
            }
            styles.push_back(st);
        }
    }
    text_run(screen, clip_of(args, 2), int_of(*args.cell(0)), int_of(*args.cell(1)), t.data(), t.size(), Style{}, static_cast<uint32_t>(int_of(*args.cell(8))), styles);
    *args.cell(0) = none::value;
}

// tui-put x y code fg bg attributes
void tui_put(routines::Args& args, const Cell&) {
    if (ScreenCell* c = screen.at(int_of(*args.cell(0)), int_of(*args.cell(1))))
        *c = ScreenCell{static_cast<uint32_t>(int_of(*args.cell(2))), static_cast<uint32_t>(int_of(*args.cell(4))),
                        static_cast<uint32_t>(int_of(*args.cell(3))), static_cast<uint32_t>(int_of(*args.cell(5)))};
    *args.cell(0) = none::value;
}

// tui-frame caret: writes the grid; the caret is a pair of area cells, or none.
void tui_frame(routines::Args& args, const Cell&) {
    bool caret = cell::is(*args.cell(0), T_pair);
    if (active) {
        if (!caret && !cursor_hidden) {
            out += "\x1b[?25l";
            cursor_hidden = true;
            update_exit_sequence();
        }
        write_frame(out, screen, frame_state, caret ? pair::x(*args.cell(0)) : -1, caret ? pair::y(*args.cell(0)) : -1);
        if (caret && cursor_hidden) {
            out += "\x1b[?25h";
            cursor_hidden = false;
            update_exit_sequence();
        }
        flush();
    }
    *args.cell(0) = none::value;
}

// tui-pass once?: reads, waits out the frame and moves the timers: [input? resized?
// interrupted? fired-owner ...].
void tui_pass(routines::Args& args, const Cell&) {
    bool once = logic::true_value_q(*args.cell(0), false, nullptr);
    std::vector<int32_t> fired;
    Pacer::Pass p;
    if (active) {
        p = pacer.begin(decoder, timers, fired, once);
        clicks.tick();
    }
    if (p.resized) read_size();
    Cell* b = block::push_new(static_cast<int32_t>(3 + fired.size()));
    memory::Node node = series::node_of(*b);
    *series::append_cell(node) = logic::make(p.got_input);
    *series::append_cell(node) = logic::make(p.resized);
    *series::append_cell(node) = logic::make(p.interrupted);
    for (int32_t id : fired) *series::append_cell(node) = integer::make(id);
    *args.cell(0) = *b;
    stack::pop(1);
}

void tui_pass_end(routines::Args& args, const Cell&) {
    pacer.end();
    *args.cell(0) = none::value;
}

// tui-decode pointer?: [kind code x y flags ...], kind one of the words char key button
// over wheel.
void tui_decode(routines::Args& args, const Cell&) {
    std::vector<Input> items;
    decoder.decode(items, logic::true_value_q(*args.cell(0), false, nullptr));
    static const char* const kinds[] = {"char", "key", "button", "over", "wheel"};
    Cell* b = block::push_new(static_cast<int32_t>(items.size() * 5));
    for (const Input& in : items) {
        uint32_t sym = symbol::make(kinds[in.kind]);
        memory::Node node = series::node_of(*b);
        *series::append_cell(node) = word::cell_of(T_word, sym);
        *series::append_cell(series::node_of(*b)) = integer::make(in.code);
        *series::append_cell(series::node_of(*b)) = float_::make(in.x);
        *series::append_cell(series::node_of(*b)) = float_::make(in.y);
        *series::append_cell(series::node_of(*b)) = integer::make(static_cast<int32_t>(in.flags));
    }
    *args.cell(0) = *b;
    stack::pop(1);
}

// tui-feed bytes: input as if the terminal had sent it (sessions driven from a script).
void tui_feed(routines::Args& args, const Cell&) {
    if (cell::is(*args.cell(0), T_binary) || in(cell::type(*args.cell(0)), ANY_STRING)) {
        std::u32string t = text_of(*args.cell(0));
        std::string bytes;
        if (cell::is(*args.cell(0), T_binary)) {
            memory::Buffer* b = memory::buffer(series::node_of(*args.cell(0)));
            bytes.assign(reinterpret_cast<const char*>(b->head_ptr()) + series::position_of(*args.cell(0)), b->used() - series::position_of(*args.cell(0)));
        } else {
            // Control characters go in as they are: they are the keys being fed.
            for (char32_t c : t) {
                if (c < 0x80) bytes += static_cast<char>(c);
                else append_utf8(bytes, c);
            }
        }
        decoder.feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    *args.cell(0) = none::value;
}

void tui_clear_input(routines::Args& args, const Cell&) {
    decoder.clear();
    *args.cell(0) = none::value;
}

void tui_area(routines::Args& args, const Cell&) { pair::make_at(*args.cell(0), decoder.area_column, decoder.area_row); }
void tui_set_area_row(routines::Args& args, const Cell&) {
    decoder.area_row = int_of(*args.cell(0));
    *args.cell(0) = none::value;
}

void tui_timer_add(routines::Args& args, const Cell&) {
    timers.add(int_of(*args.cell(0)), int_of(*args.cell(1)));
    *args.cell(0) = none::value;
}
void tui_timer_remove(routines::Args& args, const Cell&) {
    timers.remove(int_of(*args.cell(0)));
    *args.cell(0) = none::value;
}
// tui-rate-period rate: ms, 0 for a rate that cannot be used.
void tui_rate_period(routines::Args& args, const Cell&) {
    int32_t p = 0;
    if (cell::is(*args.cell(0), T_integer)) p = period_of_rate(integer::get(*args.cell(0)));
    else if (cell::is(*args.cell(0), T_time)) p = period_of_seconds(time::get(*args.cell(0)));
    else if (cell::is(*args.cell(0), T_float_)) p = period_of_seconds(float_::get_value(*args.cell(0)));
    integer::make_at(*args.cell(0), p);
}

void tui_click_double_q(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), clicks.take_double()); }
void tui_click_released(routines::Args& args, const Cell&) {
    clicks.released();
    *args.cell(0) = none::value;
}

void tui_palette(routines::Args& args, const Cell&) { integer::make_at(*args.cell(0), static_cast<int32_t>(palette_index(rgba_of(*args.cell(0))))); }
void tui_rgb(routines::Args& args, const Cell&) { integer::make_at(*args.cell(0), static_cast<int32_t>(rgb_colour(rgba_of(*args.cell(0))))); }

// tui-measure text wrap-width: widest line by lines, in cells.
void tui_measure(routines::Args& args, const Cell&) {
    std::u32string t = text_of(*args.cell(0));
    int w = 0, l = 0;
    measure(t.data(), t.size(), int_of(*args.cell(1)), w, l);
    pair::make_at(*args.cell(0), w, l);
}

void tui_char_width(routines::Args& args, const Cell&) { integer::make_at(*args.cell(0), char_width(static_cast<uint32_t>(int_of(*args.cell(0))))); }

// tui-event type face offset key picked flags: a back-end event whose record stays readable
// until tui-event-done.
void tui_event(routines::Args& args, const Cell&) {
    uint32_t type = static_cast<uint32_t>(int_of(*args.cell(0)));
    uint32_t flags = static_cast<uint32_t>(int_of(*args.cell(5)));
    ++generation;
    if (generation == 0) generation = 1;
    Cell list = records();
    memory::Node node = series::node_of(list);
    *series::append_cell(node) = integer::make(static_cast<int32_t>(generation));
    for (int i = 1; i <= 4; ++i) {
        Cell v = *args.cell(i);
        *series::append_cell(series::node_of(records())) = v;
    }
    *args.cell(0) = event::make_backend(type, generation, flags);
}

void tui_event_done(routines::Args& args, const Cell&) {
    Cell list = records();
    uint32_t n = cells::count(series::node_of(list));
    if (n >= 5) block::set_tail(list, n - 5);
    *args.cell(0) = none::value;
}

// tui-contents: the grid as text rows (second halves left out), for tests.
void tui_contents(routines::Args& args, const Cell&) {
    std::string text;
    for (int y = 0; y < screen.height(); ++y) {
        for (int x = 0; x < screen.width(); ++x) {
            const ScreenCell& c = *screen.at(x, y);
            if (c.attributes & a_second_half) continue;
            append_utf8(text, c.attributes & a_password ? '*' : c.code == 0 ? ' ' : c.code);
        }
        text += '\n';
    }
    Cell* s = string::load_at(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0);
    *args.cell(0) = *s;
    stack::pop(1);
}

// tui-cell x y: [code foreground background attributes] of a cell of the grid, for tests.
void tui_cell(routines::Args& args, const Cell&) {
    const ScreenCell* c = screen.at(int_of(*args.cell(0)), int_of(*args.cell(1)));
    ScreenCell v = c ? *c : ScreenCell{};
    Cell* b = block::push_new(4);
    for (uint32_t x : {v.code, v.foreground, v.background, v.attributes})
        *series::append_cell(series::node_of(*b)) = integer::make(static_cast<int32_t>(x));
    *args.cell(0) = *b;
    stack::pop(1);
}

// tui-handle id: the handle! a widget is known by; tui-handle-id handle: its id.
void tui_handle(routines::Args& args, const Cell&) { handle::make_at(*args.cell(0), int_of(*args.cell(0)), handle::window); }
void tui_handle_id(routines::Args& args, const Cell&) {
    integer::make_at(*args.cell(0), cell::is(*args.cell(0), T_handle) ? handle::value(*args.cell(0)) : 0);
}

// ---- widget parts -------------------------------------------------------------------------------

// The widget id of a face: the handle its state block starts with; 0 when it has none.
int32_t widget_id_of(const Cell& face) {
    if (!object::object_q(cell::type(face))) return 0;
    static uint32_t state_sym = 0;
    if (state_sym == 0) state_sym = symbol::make("state");
    const Cell* state = object::select_word(face, word::cell_of(T_word, state_sym));
    if (!in(cell::type(*state), ANY_BLOCK)) return 0;
    memory::Node node = series::node_of(*state);
    uint32_t at = series::position_of(*state);
    if (at >= cells::count(node)) return 0;
    const Cell& h = cells::of(node)[at];
    return cell::is(h, T_handle) ? handle::value(h) : 0;
}

WidgetPart* part_of(int32_t id) {
    auto it = widget_parts.find(id);
    return it == widget_parts.end() ? nullptr : &it->second;
}

// tui-widget-add id / tui-widget-free id: a widget's parts come and go with it.
void tui_widget_add(routines::Args& args, const Cell&) {
    widget_parts[int_of(*args.cell(0))] = WidgetPart{};
    *args.cell(0) = none::value;
}
void tui_widget_free(routines::Args& args, const Cell&) {
    int32_t id = int_of(*args.cell(0));
    widget_parts.erase(id);
    if (focused_widget == id) focused_widget = 0;
    *args.cell(0) = none::value;
}
void tui_widgets_clear(routines::Args& args, const Cell&) {
    widget_parts.clear();
    focused_widget = 0;
    *args.cell(0) = none::value;
}
// tui-widget-focus id: the widget that has the focus, 0 for none.
void tui_widget_focus(routines::Args& args, const Cell&) {
    int32_t id = int_of(*args.cell(0));
    focused_widget = part_of(id) ? id : 0;
    *args.cell(0) = none::value;
}
// tui-widget-set-data id n
void tui_widget_set_data(routines::Args& args, const Cell&) {
    if (WidgetPart* w = part_of(int_of(*args.cell(0)))) w->data = int_of(*args.cell(1));
    *args.cell(0) = none::value;
}
// tui-widget-ui id: the rendered text attached to the widget, or none.
void tui_widget_ui(routines::Args& args, const Cell&) {
    WidgetPart* w = part_of(int_of(*args.cell(0)));
    if (!w || !w->has_ui) {
        *args.cell(0) = none::value;
        return;
    }
    std::string bytes;
    for (char32_t c : w->ui) append_utf8(bytes, c);
    Cell* s = string::load_at(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0);
    *args.cell(0) = *s;
    stack::pop(1);
}

// TUI-helpers/focused? face: the face has a widget and the widget has the focus.
void tui_focused_q(routines::Args& args, const Cell&) {
    int32_t id = widget_id_of(*args.cell(0));
    logic::make_at(*args.cell(0), id != 0 && id == focused_widget && part_of(id) != nullptr);
}
// TUI-helpers/widget-data face: the widget's private data, 0 without a widget.
void tui_widget_data(routines::Args& args, const Cell&) {
    WidgetPart* w = part_of(widget_id_of(*args.cell(0)));
    integer::make_at(*args.cell(0), w ? w->data : 0);
}
// TUI-helpers/set-face-ui face ui: attaches the rendering to the face's widget, if it has one.
void tui_set_face_ui(routines::Args& args, const Cell&) {
    if (WidgetPart* w = part_of(widget_id_of(*args.cell(0)))) {
        w->ui = text_of(*args.cell(1));
        w->has_ui = true;
    }
    *args.cell(0) = none::value;
}

// tui-set-wait-hook fn: the function `wait` runs (with true) after its sleep while the user
// interface is up.
void tui_set_wait_hook(routines::Args& args, const Cell&) {
    if (wait_hook_slot == 0) {
        root::append(*args.cell(0));
        wait_hook_slot = cells::count(root::block()) - 1;
    } else {
        cells::at(root::block(), wait_hook_slot) = *args.cell(0);
    }
    *args.cell(0) = none::value;
}

}  // namespace

void wait_events() {
    if (!active || wait_hook_slot == 0) return;
    Cell fn = cells::at(root::block(), wait_hook_slot);
    if (!cell::is(fn, T_function)) return;
    Cell arg = logic::make(true);
    interp::apply_function(fn, &arg, 1);
}

bool ui_active() { return active; }

void suspend_output() {
    if (!active || suspended) return;
    suspended = true;
    if (frame_state.area_drawn && !alternate_on) {
        out += '\r';
        if (frame_state.cursor_row > 0) out += "\x1b[" + std::to_string(frame_state.cursor_row) + "A\x1b[0J";
        frame_state.cursor_row = 0;
    }
    frame_state.area_drawn = false;
    flush();
    os::tty::leave_raw();
}

void resume_output() {
    if (!active || !suspended) return;
    suspended = false;
    os::tty::enter_raw();
    if (!alternate_on) ask_cursor();
    flush();
}

Cell face_to_image(const Cell&) { return none::value; }

void register_routines() {
    event::set_reader(read_event);
#define ROUTINES_tui(index, entry) routines::register_entry(index, entry);
#include "runtime/interpreter/routines_register.h"
}

}  // namespace kov::tui
