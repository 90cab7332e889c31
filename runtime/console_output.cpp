// Console output and the print hooks. See console_output.h for the two output modes.
//
// The output buffer (1024 bytes) gathers UTF-8 and is written when more than 1020 bytes are
// pending and at the end of every print. On a terminal, an ESC flushes what is pending and the
// sequence it starts (read with the console's table of runtime/terminal/sgr.h) is translated
// into standard VT sequences in the same buffer; the tracked state (cursor, saved position,
// attributes) is what the dialect's commands read. Relative moves are sent as relative VT
// moves so that the terminal, which knows the true position, clamps them; the tracked
// position only decides the bounds the dialect adds (a move whose target lies outside the
// screen does nothing) and the absolute fills.
//
// Nothing here allocates series memory.
#include "runtime/console_output.h"

#include <cstring>

#include "runtime/datatypes/series.h"
#include "runtime/heap.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"
#include "runtime/terminal/sgr.h"
#include "runtime/tui_hooks.h"
#include "runtime/unicode.h"

namespace kov::console {

namespace {

constexpr std::size_t out_size = 1024;
constexpr std::size_t flush_above = 1020;  // room for one more 4-byte character

uint8_t* out = nullptr;
std::size_t pending = 0;
char* number = nullptr;  // 64 bytes
Sink sink = nullptr;
bool console_flag = false;
bool fixed_size = false;  // a test set the size; do not ask the terminal
State st{80, 24, 0, 0, 0, initial_attributes, initial_attributes};

void ensure_buffers() {
    if (!out) out = static_cast<uint8_t*>(heap::allocate(out_size));
    if (!number) number = static_cast<char*>(heap::allocate(64));
}

void write_out(const uint8_t* bytes, std::size_t n) {
    if (n == 0) return;
    if (sink) sink(bytes, n);
    else os::write_all(os::std_out, bytes, n);  // a closed or full stream loses the output
}

void flush() {
    write_out(out, pending);
    pending = 0;
}

void put(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (pending >= out_size) flush();
        out[pending++] = static_cast<uint8_t>(s[i]);
    }
}
void put(const char* s) { put(s, std::strlen(s)); }

void put_number(uint32_t n) {
    char digits[12];
    int k = 0;
    do {
        digits[k++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n);
    while (k) put(&digits[--k], 1);
}

// ESC [ n final
void put_csi(uint32_t n, char final) {
    put("\x1b[");
    put_number(n);
    put(&final, 1);
}

void refresh_size() {
    int w, h;
    if (!fixed_size && console_flag && os::terminal_size(os::std_out, w, h) && w > 0 && h > 0) {
        st.width = w;
        st.height = h;
    }
    if (st.column > st.width) st.column = st.width;
    if (st.row >= st.height) st.row = st.height - 1;
}

// The column the dialect sees: a pending wrap still shows the cursor on the last column.
int visible_column() { return st.column < st.width ? st.column : st.width - 1; }

void next_row() {
    if (st.row < st.height - 1) ++st.row;  // at the bottom the screen scrolls
}

// Follows what the terminal does with a character (a line feed also returns the carriage,
// as the terminal's output processing does).
void track(uint32_t cp) {
    switch (cp) {
    case '\r': st.column = 0; return;
    case '\n':
        st.column = 0;
        next_row();
        return;
    case '\b':
        st.column = visible_column();
        if (st.column > 0) --st.column;
        return;
    case '\t': {
        int stop = (visible_column() / 8 + 1) * 8;
        st.column = stop < st.width ? stop : st.width - 1;
        return;
    }
    default: break;
    }
    if (cp < 32 || (cp >= 0x7F && cp < 0xA0)) return;  // controls do not advance
    int w = cp < 0x7F ? 1 : unicode::char_width(cp);  // ASCII, most of what is printed, at once
    if (w == 0) return;
    if (st.column + w > st.width) {
        st.column = 0;
        next_row();
    }
    st.column += w;
}

// The attribute word as the SGR reader sees it: foreground nibble, background nibble, high byte.
terminal::Style style_of(uint16_t a) { return terminal::Style{uint32_t(a >> 4 & 0x0F), uint32_t(a & 0x0F), uint32_t(a & 0xFF00)}; }
uint16_t attributes_of(const terminal::Style& s) {
    return uint16_t((s.foreground & 0x0F) | (s.background & 0x0F) << 4 | (s.attributes & 0xFF00));
}

// A nibble (blue 1, green 2, red 4, intensity 8) as a basic colour word: SGR order, the
// intensity choosing the bright colours.
uint32_t colour_word(uint32_t nibble) {
    uint32_t vt = (nibble & 1) << 2 | (nibble & 2) | (nibble & 4) >> 2;
    return terminal::k_basic | ((nibble & 8) ? 10 + vt : vt);
}

// The sequences of the attribute words used last, by a hash of the word: a program prints in
// a few colours many times. Plain bytes, so that output at exit never meets a destroyed object.
struct Written {
    uint32_t key = ~0u;  // attributes | default attributes << 16
    uint8_t length = 0;
    char text[31];
};
Written written[16];

// Sends the whole attribute word. A nibble equal to the default's is the terminal's own
// default colour, so that the default attributes look like the terminal's usual text.
void put_attributes(uint16_t a) {
    uint16_t d = st.default_attributes;
    if (a == d) {
        put("\x1b[0m");
        return;
    }
    Written& w = written[(a ^ a >> 4 ^ a >> 8) & 15];
    uint32_t key = uint32_t(a) | uint32_t(d) << 16;
    if (w.key != key) {
        auto words = [](uint16_t word, uint32_t attributes) {
            return terminal::Style{colour_word(word >> 4 & 0x0F), colour_word(word & 0x0F), attributes};
        };
        std::string sequence;
        terminal::append_sgr_style(sequence, words(a, a & 0xFF00), words(d, 0), terminal::console_sgr);
        w.key = key;
        w.length = uint8_t(sequence.size() < sizeof w.text ? sequence.size() : sizeof w.text);
        std::memcpy(w.text, sequence.data(), w.length);
    }
    put(w.text, w.length);
}

// The screen-buffer report of ESC [ ?, in the tracked terms.
// The report's own lines move the cursor: the figures are taken before any is printed.
void report() {
    flush();
    using runtime::PrintItem;
    const State s = st;
    const int column = visible_column();
    runtime::print_line({"Screen buffer info:"});
    runtime::print_line({"   size______ ", s.width, "x", s.height});
    runtime::print_line({"   cursor____ ", column, "x", s.row});
    runtime::print_line({"   attribute_ ", PrintItem::hex8(s.attributes), " ", PrintItem::hex8(s.default_attributes)});
    runtime::print_line({"   left______ ", 0, " top: ", 0});
    runtime::print_line({"   right_____ ", s.width - 1, " bottom: ", s.height - 1});
    runtime::print_line({"   max_______ ", s.width, "x", s.height});
}

void restore_cursor() {
    uint32_t x = st.saved & 0xFFFF, y = st.saved >> 16;
    if (int(x) >= st.width || int(y) >= st.height) return;
    // The terminal's own save and restore are exact even where the tracked position is not;
    // they also restore colours, which this command leaves alone.
    put("\x1b" "8");
    put_attributes(st.attributes);
    flush();
    st.column = int(x);
    st.row = int(y);
}

// Whole characters of text in the unit, interpreted on a terminal, encoded to UTF-8.
void write_text(const uint8_t* text, uint64_t bytes, uint32_t unit, bool new_line) {
    ensure_buffers();
    uint32_t shift = unicode::unit_shift(unit);
    const uint8_t* end = text + (bytes >> shift << shift);
    if (unit == 4)  // checked first, so that a bad character prints nothing rather than a part
        for (const uint8_t* p = text; p < end; p += 4) unicode::utf8_length(unicode::char_at(p, 4));
    if (console_flag) refresh_size();
    const uint8_t* p = text;
    while (p < end) {
        uint32_t cp = unicode::char_at(p, unit);
        if (console_flag && cp == 27) {
            flush();
            uint64_t k = do_escape(p, end, unit);
            if (k) {
                p += k;
                continue;
            }
        }
        if (pending > flush_above) flush();
        pending += unicode::encode_utf8(cp, out + pending);
        if (console_flag) track(cp);
        p += unit;
    }
    if (new_line) {
        if (console_flag) {
            put("\r\n");
            track('\n');
        } else {
            put("\n");
        }
    }
    flush();
}

void notify_listeners(const char* text, std::size_t length) {
    print_hooks::print_line(text, length, 0);
}

// The runtime's typed print and NUL-terminated texts: bytes as they are.
void write_raw(const char* bytes, std::size_t n) {
    ensure_buffers();
    flush();
    if (console_flag) {
        auto p = reinterpret_cast<const uint8_t*>(bytes);
        const uint8_t* e = p + n;
        while (p < e) {
            int32_t cp;
            p = unicode::decode_utf8_char(p, e, cp);
            track(cp < 0 ? 0xFFFD : uint32_t(cp));
        }
    }
    write_out(reinterpret_cast<const uint8_t*>(bytes), n);
}

void runtime_writer(const char* bytes, std::size_t n) {
    write_raw(bytes, n);
    notify_listeners(bytes, n);
}

void print_number(std::size_t length) {
    write_text(reinterpret_cast<const uint8_t*>(number), length, 1, false);
    notify_listeners(number, length);
}

}  // namespace

void set_sink(Sink s) { sink = s; }

void write_bytes(const uint8_t* bytes, std::size_t count) { write_raw(reinterpret_cast<const char*>(bytes), count); }

void init_output() {
    ensure_buffers();
    pending = 0;
    console_flag = os::is_terminal(os::std_out);
    fixed_size = false;
    st = State{80, 24, 0, 0, 0, initial_attributes, initial_attributes};
    refresh_size();
    runtime::set_raw_writer(runtime_writer);
}

void set_terminal(bool console, int width, int height) {
    ensure_buffers();
    pending = 0;
    console_flag = console;
    fixed_size = true;
    st = State{width > 0 ? width : 1, height > 0 ? height : 1, 0, 0, 0, initial_attributes, initial_attributes};
}

bool is_console() { return console_flag; }

State state() { return st; }

// The commands below act on a terminal only, as the system calls they stand for fail on a
// redirected stream; each leaves the output buffer empty.
uint32_t save_cursor() {
    if (!console_flag) return 0;
    st.saved = coord(uint32_t(visible_column()), uint32_t(st.row));
    ensure_buffers();
    put("\x1b" "7");
    flush();
    return st.saved;
}

void set_cursor(uint32_t position) {
    uint32_t x = position & 0xFFFF, y = position >> 16;
    if (!console_flag || int(x) >= st.width || int(y) >= st.height) return;
    ensure_buffers();
    put("\x1b[");
    put_number(y + 1);
    put(";");
    put_number(x + 1);
    put("H");
    flush();
    st.column = int(x);
    st.row = int(y);
}

void set_attributes(uint16_t attributes) {
    if (!console_flag) return;
    ensure_buffers();
    st.attributes = attributes;
    put_attributes(attributes);
    flush();
}

void clear(int mode) {
    if (mode < 0 || mode > 5) runtime::no_switch_matched();
    if (!console_flag) return;
    ensure_buffers();
    refresh_size();
    uint16_t current = st.attributes;
    bool restyle = current != st.default_attributes;
    int x = visible_column();
    if (restyle) put_attributes(st.default_attributes);  // fills use the default attributes
    switch (mode) {
    case 0: put("\x1b[2K\x1b[J"); break;
    case 1:
        if (st.row > 0) put("\x1b[A\x1b[1J\x1b[K\x1b[B");
        st.column = x;
        break;
    case 2:
        put("\x1b[2J\x1b[H");
        st.column = st.row = 0;
        break;
    case 3:
        put("\r\x1b[2K");
        st.column = 0;
        break;
    case 4: put("\x1b[K"); break;
    case 5:
        if (x > 0) put("\x1b[D\x1b[1K");
        put("\r");
        st.column = 0;
        break;
    default: break;
    }
    if (restyle) put_attributes(current);
    flush();
}

int32_t sgr_attribute(int32_t attributes, uint32_t code) {
    terminal::Style style = style_of(uint16_t(attributes < 0 ? st.attributes : attributes));
    terminal::apply_sgr(terminal::console_sgr, style, style_of(st.default_attributes), code);
    return attributes_of(style);
}

uint64_t do_escape(const uint8_t* esc, const uint8_t* end, uint32_t unit) {
    unicode::unit_shift(unit);  // any other unit is a fault
    if (!console_flag) return 0;
    terminal::Style style = style_of(st.attributes);
    terminal::Sequence s;
    uint64_t used = terminal::read_sequence(esc, end, unit, terminal::console_sgr, style, style_of(st.default_attributes), s);
    if (used == 0) return 0;
    ensure_buffers();
    refresh_size();
    if (s.styled) set_attributes(attributes_of(style));
    uint32_t first = s.params[0], second = s.params[1];
    int n = int(first);
    uint32_t c = s.final_char;
    if (s.open) c = 0;  // a sequence that ends right after ";" does nothing
    switch (c ? s.count : -1) {
    case 0:
        if (c == 's') save_cursor();
        else if (c == 'u') restore_cursor();
        else if (c == 'K') clear(4);
        else if (c == 'J') clear(0);
        else if (c == 'H' || c == 'f') set_cursor(coord(0, 0));
        else if (c == '?') report();
        break;
    case 1:
        switch (c) {
        case 'A':
            if (n > 0) {
                put_csi(first, 'A');
                st.row = st.row > n ? st.row - n : 0;
            }
            break;
        case 'B':
            if (n > 0 && st.row + n < st.height) {
                put_csi(first, 'B');
                st.row += n;
            }
            break;
        case 'C':
            if (n > 0 && visible_column() + n < st.width) {
                put_csi(first, 'C');
                st.column = visible_column() + n;
            }
            break;
        case 'D':
            if (n > 0) {
                put_csi(first, 'D');
                st.column = visible_column() > n ? visible_column() - n : 0;
            }
            break;
        case 'J':
            if (first == 1) clear(1);
            else if (first == 2) clear(2);
            break;
        case 'K':
            if (first == 1) clear(5);
            else if (first == 2) clear(3);
            break;
        default: break;
        }
        break;
    case 2:
        if (c == 'H' || c == 'f') set_cursor(coord(first, second));
        break;
    default: break;
    }
    flush();
    return used * unit;
}

void print_string(const uint8_t* text, uint64_t bytes, uint32_t unit, bool new_line) {
    write_text(text, bytes, unit, new_line);
}
void print_latin1(const uint8_t* text, uint64_t bytes) { write_text(text, bytes, 1, false); }
void print_line_latin1(const uint8_t* text, uint64_t bytes) { write_text(text, bytes, 1, true); }
void print_utf16(const uint8_t* text, uint64_t bytes) { write_text(text, bytes, 2, false); }
void print_line_utf16(const uint8_t* text, uint64_t bytes) { write_text(text, bytes, 2, true); }
void print_ucs4(const uint8_t* text, uint64_t bytes) { write_text(text, bytes, 4, false); }
void print_line_ucs4(const uint8_t* text, uint64_t bytes) { write_text(text, bytes, 4, true); }

const char* print_cstring(const char* text) {
    std::size_t n = std::strlen(text);
    write_raw(text, n);
    notify_listeners(text, n);
    return text;
}

void print_int(int32_t value) {
    ensure_buffers();
    print_number(runtime::format_item(runtime::PrintItem(int(value)), number));
}

void print_hex2(uint32_t value) {
    ensure_buffers();
    number[0] = "0123456789ABCDEF"[value >> 4 & 0xF];
    number[1] = "0123456789ABCDEF"[value & 0xF];
    number[2] = 0;
    print_number(2);
}

void print_hex8(uint32_t value) {
    ensure_buffers();
    print_number(runtime::format_item(runtime::PrintItem::hex8(value), number));
}

void print_float64(double value) {
    ensure_buffers();
    print_number(runtime::format_item(runtime::PrintItem(value), number));
}

void print_float32(float value) {
    ensure_buffers();
    print_number(runtime::format_item(runtime::PrintItem(value), number));
}

}  // namespace kov::console

namespace kov::print_hooks {

namespace {

template <class Fn>
struct Table {
    Fn* entries = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;

    void reset() {
        heap::free(entries);
        entries = static_cast<Fn*>(heap::allocate(5 * sizeof(Fn)));
        count = 0;
        capacity = 5;
    }
    void add(Fn fn) {
        if (count == capacity) {
            auto grown = static_cast<Fn*>(heap::allocate((capacity + 5) * sizeof(Fn)));
            if (count) std::memcpy(grown, entries, count * sizeof(Fn));
            heap::free(entries);
            entries = grown;
            capacity += 5;
        }
        entries[count++] = fn;
    }
};

Table<StringHook> hooks;
Table<TextListener> listeners;

// The back end gets its output back even when printing raises.
struct Suspended {
    Suspended() { tui::suspend_for_output(); }
    ~Suspended() { tui::resume_after_output(); }
};

}  // namespace

void init() {
    hooks.reset();
    listeners.reset();
    add(console_writer, nullptr);
}

void add(StringHook hook, TextListener listener) {
    if (hook) hooks.add(hook);
    if (listener) listeners.add(listener);
}

// Indexes, not a pointer into the table: a hook may add hooks and so move the table.
void print(const Cell& str, bool new_line) {
    Cell text = str;
    for (uint32_t i = 0; i < hooks.count; ++i) hooks.entries[i](text, new_line);
}

void print_line(const char* text, std::size_t length, int zero) {
    for (uint32_t i = 0; i < listeners.count; ++i) listeners.entries[i](text, length, zero);
}

void console_writer(const Cell& str, bool new_line) {
    Suspended suspended;
    memory::Buffer* b = memory::buffer(series::node_of(str));
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) {
        runtime::print_line({"Error: unknown string encoding: ", int(unit)});
        return;
    }
    uint32_t shift = unicode::unit_shift(unit);
    uint64_t chars = b->used() >> shift;
    uint64_t index = series::position_of(str) < chars ? series::position_of(str) : chars;
    const uint8_t* text = b->head_ptr() + (index << shift);
    uint64_t bytes = (chars - index) << shift;
    switch (unit) {
    case 1: new_line ? console::print_line_latin1(text, bytes) : console::print_latin1(text, bytes); break;
    case 2: new_line ? console::print_line_utf16(text, bytes) : console::print_utf16(text, bytes); break;
    default: new_line ? console::print_line_ucs4(text, bytes) : console::print_ucs4(text, bytes); break;
    }
}

}  // namespace kov::print_hooks
