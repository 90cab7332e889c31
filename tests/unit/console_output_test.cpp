// Console output: the escape dialect and its VT translation, cursor tracking, redirected
// UTF-8, buffering, and the print hooks. Output is captured instead of going to fd 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/console_output.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/unicode.h"

using namespace kov;

namespace {

std::string captured;
std::vector<std::size_t> writes;
std::vector<std::string> events;  // the order in which output and hooks happened

void capture(const uint8_t* bytes, std::size_t n) {
    captured.append(reinterpret_cast<const char*>(bytes), n);
    writes.push_back(n);
    events.push_back("out:" + std::string(reinterpret_cast<const char*>(bytes), n));
}

struct ConsoleTest : ::testing::Test {
    void SetUp() override {
        memory::init();
        console::set_sink(capture);
        console::set_terminal(true, 80, 24);
        clear();
    }
    void TearDown() override {
        console::set_sink(nullptr);
        console::set_terminal(false, 80, 24);
        runtime::set_raw_writer(nullptr);
        print_hooks::init();
    }
    static void clear() {
        captured.clear();
        writes.clear();
        events.clear();
    }
    // Prints text given as code points at a unit width; gives what reached the output.
    static std::string print(const std::u32string& text, uint32_t unit = 1, bool new_line = false) {
        std::vector<uint8_t> bytes(text.size() * unit);
        for (std::size_t i = 0; i < text.size(); ++i) unicode::put_char(bytes.data() + i * unit, unit, text[i]);
        clear();
        console::print_string(bytes.data(), bytes.size(), unit, new_line);
        return captured;
    }
};

Cell string_cell(const std::u32string& text, uint32_t unit) {
    memory::Node n = memory::alloc_series(text.size() + 1, unit, 0);
    memory::Buffer* b = memory::buffer(n);
    for (std::size_t i = 0; i < text.size(); ++i) unicode::put_char(b->data() + i * unit, unit, text[i]);
    b->tail = static_cast<uint32_t>(text.size() * unit);
    return cell::make(T_string, 0, n, 0);
}

}  // namespace

// ---- the escape dialect on a terminal --------------------------------------------------------

TEST_F(ConsoleTest, EscapesBecomeStandardSequences) {
    struct Row {
        const char32_t* setup;  // printed first, its output dropped
        const char32_t* text;
        const char* out;
        int column, row;
        uint16_t attributes;
    } rows[] = {
        {U"", U"\x1b[31mx", "\x1b[0;31mx", 1, 0, 0x04},
        {U"", U"\x1b[1;31m", "\x1b[0;91;100m", 0, 0, 0x8C},  // both intensities, then red
        {U"", U"\x1b[1;31;42mz", "\x1b[0;91;102mz", 1, 0, 0xAC},  // a third code after ';'
        {U"", U"\x1b[5m", "\x1b[0m", 0, 0, 0x07},             // unknown code: unchanged
        {U"", U"\x1b[7m", "\x1b[0;30;47m", 0, 0, 0x70},       // nibbles exchanged
        {U"", U"\x1b[4m", "\x1b[0;4m", 0, 0, 0x8007},
        {U"\x1b[31m", U"\x1b[0m", "\x1b[0m", 0, 0, 0x07},
        {U"\x1b[4m", U"\x1b[32m", "\x1b[0;32m", 0, 0, 0x02},  // the colour mask drops the underscore
        {U"abc\r\n", U"\x1b[2J", "\x1b[2J\x1b[H", 0, 0, 0x07},
        {U"abc\r\n", U"\x1b[3J", "", 3 - 3, 1, 0x07},
        {U"", U"\x1b[10;5H", "\x1b[6;11H", 10, 5, 0x07},
        {U"", U"\x1b[10;5f", "\x1b[6;11H", 10, 5, 0x07},
        {U"", U"\x1b[80;5H", "", 0, 0, 0x07},  // outside the screen: stays
        {U"", U"\x1b[65536;0H", "\x1b[1;2H", 1, 0, 0x07},  // numbers wrap at 65535
        {U"\x1b[3;4H", U"\x1b[H", "\x1b[1;1H", 0, 0, 0x07},
        {U"\x1b[3;4H", U"\x1b[5H", "", 3, 4, 0x07},  // one number and H: nothing
        {U"\x1b[0;5H", U"\x1b[2B", "\x1b[2B", 0, 7, 0x07},
        {U"\x1b[0;5H", U"\x1b[19B", "", 0, 5, 0x07},  // the target row 24 is outside
        {U"\x1b[0;5H", U"\x1b[18B", "\x1b[18B", 0, 23, 0x07},
        {U"\x1b[0;5H", U"\x1b[9A", "\x1b[9A", 0, 0, 0x07},  // not above row 0
        {U"\x1b[0;5H", U"\x1b[0A", "", 0, 5, 0x07},
        {U"\x1b[70;5H", U"\x1b[9C", "\x1b[9C", 79, 5, 0x07},
        {U"\x1b[70;5H", U"\x1b[10C", "", 70, 5, 0x07},
        {U"\x1b[7;5H", U"\x1b[9D", "\x1b[9D", 0, 5, 0x07},
        {U"\x1b[7;5H", U"\x1b[K", "\x1b[K", 7, 5, 0x07},
        {U"\x1b[7;5H", U"\x1b[1K", "\x1b[D\x1b[1K\r", 0, 5, 0x07},
        {U"\x1b[7;5H", U"\x1b[2K", "\r\x1b[2K", 0, 5, 0x07},
        {U"\x1b[7;5H", U"\x1b[J", "\x1b[2K\x1b[J", 7, 5, 0x07},
        {U"\x1b[7;5H", U"\x1b[1J", "\x1b[A\x1b[1J\x1b[K\x1b[B", 7, 5, 0x07},
        {U"", U"\x1b[1J", "", 0, 0, 0x07},  // no rows above
        {U"\x1b[7;5H", U"\x1b[0J", "", 7, 5, 0x07},
        {U"\x1b[7;5H\x1b[31m", U"\x1b[K", "\x1b[0m\x1b[K\x1b[0;31m", 7, 5, 0x04},  // fills use the defaults
        {U"\x1b[7;5H\x1b[s\x1b[1;1H", U"\x1b[u", "\x1b" "8\x1b[0m", 7, 5, 0x07},
        {U"", U"\x1b[s", "\x1b" "7", 0, 0, 0x07},
        {U"", U"\x1bx", "\x1bx", 1, 0, 0x07},  // no '[': an ordinary character
        {U"", U"\x1b", "\x1b", 0, 0, 0x07},
        {U"", U"\x1b[12", "", 0, 0, 0x07},  // cut by the end of the text
        {U"", U"\x1b[;;31m", "\x1b[0;31m", 0, 0, 0x04},
        {U"", U"a\x1b[1;2;3xb", "ab", 2, 0, 0x07},
    };
    for (const Row& r : rows) {
        console::set_terminal(true, 80, 24);
        print(r.setup);
        EXPECT_EQ(print(r.text), r.out) << "after " << std::u32string(r.setup).size();
        console::State s = console::state();
        EXPECT_EQ(s.column, r.column) << r.out;
        EXPECT_EQ(s.row, r.row) << r.out;
        EXPECT_EQ(s.attributes, r.attributes) << r.out;
    }
}

TEST_F(ConsoleTest, EveryUnitWidthIsInterpreted) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        console::set_terminal(true, 80, 24);
        EXPECT_EQ(print(U"\x1b[10;5H\x1b[31mx", unit), "\x1b[6;11H\x1b[0;31mx");
        EXPECT_EQ(console::state().column, 11);
    }
    EXPECT_EQ(print(U"\x1b[31m\x1F600", 4), "\x1b[0;31m\xF0\x9F\x98\x80");
    // Only '[' itself opens a sequence, not a character whose low byte looks like it.
    EXPECT_EQ(print(U"\x1b\u015B", 2), "\x1b\xC5\x9B");
}

TEST_F(ConsoleTest, SgrAttributes) {
    struct Row {
        int32_t before;
        uint32_t code;
        int32_t after;
    } rows[] = {
        {0x1234, 0, 0x07},     {0x07, 1, 0x8F},       {0x07, 4, 0x8007},     {0x8017, 7, 0x71},
        {0x8F7F, 30, 0x78},    {0x07, 31, 0x04},      {0x07, 32, 0x02},      {0x07, 33, 0x06},
        {0x07, 34, 0x01},      {0x07, 35, 0x05},      {0x07, 36, 0x03},      {0x07, 37, 0x07},
        {0x07, 39, 0x0F},      {0x8007, 40, 0x07},    {0x07, 41, 0x47},      {0x07, 42, 0x27},
        {0x07, 43, 0x67},      {0x07, 44, 0x17},      {0x07, 45, 0x57},      {0x07, 46, 0x37},
        {0x07, 47, 0x77},      {0x07, 49, 0x87},      {0x07, 5, 0x07},       {0x07, 38, 0x07},
    };
    for (const Row& r : rows) EXPECT_EQ(console::sgr_attribute(r.before, r.code), r.after) << r.code;
    print(U"\x1b[32m");
    EXPECT_EQ(console::sgr_attribute(-1, 1), 0x8A);  // negative: the current attributes
}

TEST_F(ConsoleTest, CursorIsTrackedThroughText) {
    struct Row {
        const char32_t* text;
        int column, row;
    } rows[] = {
        {U"abc", 3, 0},
        {U"ab\r\ncd\n", 0, 2},
        {U"a\tb", 9, 0},
        {U"abc\b\b", 1, 0},
        {U"e\u0301\u4E00", 3, 0},  // combining mark 0 cells, CJK 2 cells
        {U"\x7f\x01", 0, 0},
    };
    for (const Row& r : rows) {
        console::set_terminal(true, 80, 24);
        print(r.text, 4);
        EXPECT_EQ(console::state().column, r.column);
        EXPECT_EQ(console::state().row, r.row);
    }
    // The last column leaves a pending wrap; the next character starts the next row.
    console::set_terminal(true, 10, 3);
    print(std::u32string(10, U'x'));
    EXPECT_EQ(console::state().column, 10);
    EXPECT_EQ(console::state().row, 0);
    print(U"\x1b[2C");  // the visible column is 9: no room to move
    EXPECT_EQ(captured, "");
    print(U"y");
    EXPECT_EQ(console::state().column, 1);
    EXPECT_EQ(console::state().row, 1);
    print(U"123456789\u4E00", 4);  // a wide character does not fit in the last cell
    EXPECT_EQ(console::state().column, 2);
    EXPECT_EQ(console::state().row, 2);
    print(U"\n\n\n");  // the bottom row scrolls
    EXPECT_EQ(console::state().row, 2);
    // A new line on a terminal is CR LF.
    EXPECT_EQ(print(U"a", 1, true), "a\r\n");
    EXPECT_EQ(console::state().column, 0);
}

TEST_F(ConsoleTest, ScreenBufferReport) {
    console::init_output();
    console::set_terminal(true, 80, 24);
    print(U"ab\x1b[31m");
    std::string out = print(U"\x1b[?x");
    EXPECT_EQ(out,
              "Screen buffer info:\n"
              "   size______ 80x24\n"
              "   cursor____ 2x0\n"
              "   attribute_ 00000004 00000007\n"
              "   left______ 0 top: 0\n"
              "   right_____ 79 bottom: 23\n"
              "   max_______ 80x24\n"
              "x");
}

// ---- redirected output ------------------------------------------------------------------------

TEST_F(ConsoleTest, RedirectedOutputIsPlainUtf8) {
    console::set_terminal(false, 80, 24);
    EXPECT_EQ(print(U"\x1F600", 4), "\xF0\x9F\x98\x80");
    EXPECT_EQ(print(U"\x1b[31mx\x1b[10;5H", 1), "\x1b[31mx\x1b[10;5H");
    EXPECT_EQ(print(U"caf\u00e9", 1, true), "caf\xC3\xA9\n");
    EXPECT_EQ(print(U"\u0141\u20AC", 2, true), "\xC5\x81\xE2\x82\xAC\n");
    EXPECT_EQ(print(U"\x1F600", 4, true), "\xF0\x9F\x98\x80\n");
    EXPECT_EQ(console::state().column, 0);  // nothing is tracked

    // Above 0x10FFFF: invalid-char, and nothing of the text is printed.
    std::vector<uint8_t> bad(8, 0);
    unicode::put_char(bad.data(), 4, 'a');
    unicode::put_char(bad.data() + 4, 4, 0x110000);
    clear();
    try {
        console::print_ucs4(bad.data(), bad.size());
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.id, err::script_invalid_char);
        EXPECT_EQ(e.args[0].w2, 0x110000u);
    }
    EXPECT_EQ(captured, "");
    EXPECT_EQ(print(U"ok"), "ok");  // nothing was left behind in the buffer

    // The terminal commands do nothing on a redirected stream.
    clear();
    console::set_cursor(console::coord(1, 1));
    console::clear(2);
    console::set_attributes(0x04);
    EXPECT_EQ(captured, "");
}

TEST_F(ConsoleTest, OutputIsGatheredIntoBoundedWrites) {
    for (bool terminal : {false, true}) {
        console::set_terminal(terminal, 80, 24);
        std::u32string text;
        for (int i = 0; i < 3000; ++i) text += char32_t(i % 3 ? 'a' + i % 26 : 0x20AC);
        std::string out = print(text, 2);
        std::string want;
        for (char32_t c : text) want += c == 0x20AC ? "\xE2\x82\xAC" : std::string(1, char(c));
        EXPECT_EQ(out, want);
        EXPECT_GT(writes.size(), 1u);
        for (std::size_t n : writes) EXPECT_LE(n, 1024u);
        EXPECT_EQ(print(std::u32string(600, U'z')).size(), 600u);
        EXPECT_EQ(writes.size(), 1u);  // one write for a short text
    }
}

// ---- print hooks and the low-level prints ---------------------------------------------------

namespace {
void hook_a(const Cell& s, bool nl) { events.push_back(std::string("a") + (nl ? "+" : "-") + std::to_string(s.w1)); }
void hook_b(const Cell&, bool) { events.push_back("b"); }
void listener(const char* text, std::size_t n, int zero) {
    events.push_back("heard:" + std::string(text, n) + ":" + std::to_string(zero));
}
void listener2(const char*, std::size_t, int) { events.push_back("heard2"); }
}  // namespace

TEST_F(ConsoleTest, PrintHooksRunInRegistrationOrder) {
    console::set_terminal(false, 80, 24);
    print_hooks::init();
    print_hooks::add(hook_a, listener);
    print_hooks::add(hook_b, nullptr);
    print_hooks::add(nullptr, listener2);
    Cell s = string_cell(U"hi", 1);
    clear();
    print_hooks::print(s, true);
    EXPECT_EQ(events, (std::vector<std::string>{"out:hi\n", "a+0", "b"}));

    // Tables grow past their first five entries and keep the order.
    for (int i = 0; i < 6; ++i) print_hooks::add(i % 2 ? hook_a : hook_b, nullptr);
    clear();
    s.w1 = 1;
    print_hooks::print(s, false);
    EXPECT_EQ(events, (std::vector<std::string>{"out:i", "a-1", "b", "b", "a-1", "b", "a-1", "b", "a-1"}));

    // Text listeners hear the low-level prints: texts and numbers.
    clear();
    console::print_cstring("bytes");
    console::print_int(-42);
    console::print_hex2(0x1AB);
    console::print_hex8(0xBEEF);
    EXPECT_EQ(events, (std::vector<std::string>{"out:bytes", "heard:bytes:0", "heard2", "out:-42", "heard:-42:0",
                                                "heard2", "out:AB", "heard:AB:0", "heard2", "out:0000BEEF",
                                                "heard:0000BEEF:0", "heard2"}));
    clear();
    console::print_float64(0.1);
    console::print_float32(0.1f);
    EXPECT_EQ(captured, "0.10.1");
}

TEST_F(ConsoleTest, ConsoleWriterPrintsEveryUnitFromTheHead) {
    console::set_terminal(false, 80, 24);
    struct Row {
        std::u32string text;
        uint32_t unit;
        uint32_t head;
        bool nl;
        std::string out;
    } rows[] = {
        {U"caf\u00e9", 1, 0, false, "caf\xC3\xA9"},
        {U"caf\u00e9", 1, 2, true, "f\xC3\xA9\n"},
        {U"\u0141ab", 2, 1, false, "ab"},
        {U"\u0141ab", 2, 0, true, "\xC5\x81" "ab\n"},
        {U"x\x1F600", 4, 0, false, "x\xF0\x9F\x98\x80"},
        {U"x\x1F600", 4, 7, true, "\n"},  // a head past the tail is clipped
    };
    for (const Row& r : rows) {
        Cell s = string_cell(r.text, r.unit);
        s.w1 = r.head;
        clear();
        print_hooks::console_writer(s, r.nl);
        EXPECT_EQ(captured, r.out);
    }
    // An impossible unit is reported through the runtime's print, and nothing else is written.
    console::init_output();
    console::set_terminal(false, 80, 24);
    memory::Node odd = memory::alloc_series(2, 8, 0);
    memory::buffer(odd)->tail = 16;
    clear();
    print_hooks::console_writer(cell::make(T_string, 0, odd, 0), true);
    EXPECT_EQ(captured, "Error: unknown string encoding: 8\n");
}

TEST_F(ConsoleTest, RuntimePrintGoesThroughTheConsole) {
    console::init_output();
    console::set_terminal(true, 80, 24);
    print_hooks::init();
    print_hooks::add(nullptr, listener);
    clear();
    runtime::print({"n=", 7, " \xE4\xB8\x80"});  // bytes as they are, no interpretation
    EXPECT_EQ(captured, "n=7 \xE4\xB8\x80");
    EXPECT_EQ(console::state().column, 6);  // the wide character counts twice
    EXPECT_EQ(events.back(), "heard: \xE4\xB8\x80:0");
}
