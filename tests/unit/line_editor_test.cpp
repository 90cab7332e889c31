// The line editor: key decoding from terminal bytes, the layout of the prompt and the line
// (widths, wrapping, wide characters at the end of a row), whole editing sessions driven by
// scripted keys with the output fed to a small screen model, history, Tab completion through
// a Kov function, reading standard input line by line, and the routines seen from Kov.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "boot/loader.h"
#include "console/line_editor.h"
#include "runtime/terminal/input.h"
#include "runtime/console_output.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/interpreter/routines.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/platform/terminal.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using line_editor::Editor;

namespace {

// ---- scripted input -----------------------------------------------------------------------------

// Bytes the decoder reads; `gap` is a gap longer than any key's bytes lag (a reader waiting
// with a timeout sees nothing, a reader waiting without one goes on to what follows).
constexpr int gap = 1000;
constexpr int resized = 1001;
// Marks how much output was written by then (see Script::shots) and goes on.
constexpr int snapshot = 1002;

struct Script {
    std::vector<int> items;
    std::size_t pos = 0;
    std::vector<std::size_t> marks;  // output sizes at the snapshots
};

std::string output;

int scripted(void* context, int timeout_ms) {
    auto* s = static_cast<Script*>(context);
    while (s->pos < s->items.size()) {
        int b = s->items[s->pos++];
        if (b == gap) {
            if (timeout_ms >= 0) return os::tty::no_byte;
            continue;
        }
        if (b == snapshot) {
            s->marks.push_back(output.size());
            continue;
        }
        if (b == resized) return os::tty::interrupted;
        return b;
    }
    return os::tty::end_of_input;
}

std::vector<int> bytes(const std::string& s) {
    std::vector<int> v;
    for (unsigned char c : s) v.push_back(c);
    return v;
}

// Key input built from text and the special items above: Keys() << "abc" << snapshot.
struct Keys {
    std::vector<int> v;
    Keys& operator<<(const std::string& text) {
        for (unsigned char c : text) v.push_back(c);
        return *this;
    }
    Keys& operator<<(int item) {
        v.push_back(item);
        return *this;
    }
    operator const std::vector<int>&() const { return v; }
};

std::vector<int32_t> decode_all(const std::vector<int>& input) {
    Script s{input};
    terminal::KeyReader d(terminal::editor_reading, terminal::ByteSource{scripted, &s});
    std::vector<int32_t> keys;
    for (int guard = 0; guard < 100; ++guard) {
        int32_t k = d.next();
        if (k == terminal::key_failed) break;
        keys.push_back(k);
    }
    return keys;
}

// ---- a screen that does what a VT terminal does with the editor's output ------------------------

struct Screen {
    int w, h;
    std::vector<std::vector<uint32_t>> cells;  // 0 marks the right half of a wide character
    int x = 0, y = 0;                           // x == w: the row is full, the next character wraps

    Screen(int width, int height) : w(width), h(height), cells(height, std::vector<uint32_t>(width, ' ')) {}

    void line_feed() {
        if (y < h - 1) {
            ++y;
        } else {
            cells.erase(cells.begin());
            cells.emplace_back(w, ' ');
        }
    }
    void put(uint32_t cp) {
        int cw = unicode::char_width(cp);
        if (cw == 0) return;
        if (x + cw > w) {
            x = 0;
            line_feed();
        }
        cells[y][x] = cp;
        if (cw == 2) cells[y][x + 1] = 0;
        x += cw;
    }
    void feed(const std::string& out) {
        auto p = reinterpret_cast<const uint8_t*>(out.data());
        const uint8_t* e = p + out.size();
        while (p < e) {
            int32_t cp;
            p = unicode::decode_utf8_char(p, e, cp);
            if (cp == '\r') {
                x = 0;
            } else if (cp == '\n') {  // output processing adds the carriage return
                x = 0;
                line_feed();
            } else if (cp == 27 && p < e && *p == '[') {
                ++p;
                int n = 0;
                bool any = false;
                while (p < e && ((*p >= '0' && *p <= '9') || *p == ';')) {
                    if (*p != ';') n = n * 10 + (*p - '0');
                    any = true;
                    ++p;
                }
                char f = static_cast<char>(*p++);
                if (!any) n = f == 'K' || f == 'J' ? 0 : 1;
                int cx = x < w ? x : w - 1;
                switch (f) {
                case 'A': y = y > n ? y - n : 0; x = cx; break;
                case 'C': x = cx + n < w ? cx + n : w - 1; break;
                case 'K':
                    for (int i = (n == 2 ? 0 : cx); i < w; ++i) cells[y][i] = ' ';
                    break;
                case 'J':
                    for (int i = cx; i < w; ++i) cells[y][i] = ' ';
                    for (int r = y + 1; r < h; ++r) cells[r].assign(w, ' ');
                    break;
                default: break;  // colours
                }
            } else if (cp >= 32) {
                put(uint32_t(cp));
            }
        }
    }
    std::string row(int r) const {
        std::string s;
        for (uint32_t c : cells[r]) {
            if (c == 0) continue;
            uint8_t buf[4];
            s.append(reinterpret_cast<char*>(buf), std::size_t(unicode::encode_utf8(c, buf)));
        }
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    }
    // The cursor as the terminal shows it.
    std::pair<int, int> cursor() const { return {x < w ? x : w - 1, y}; }
};

void capture(const uint8_t* b, std::size_t n) { output.append(reinterpret_cast<const char*>(b), n); }

bool no_raw() { return true; }
void no_leave() {}

std::string utf8(const Cell& s) { return test::text(s); }

Cell* make_string(const std::string& s) { return test::str(s); }

// ---- the fixture --------------------------------------------------------------------------------

struct LineEditor : test::Kov {
    static void SetUpTestSuite() {
        if (!test::boot_failure().empty()) return;
        static bool loaded = false;
        if (loaded) return;
        loaded = true;
        line_editor::register_routines();
        std::ifstream in(std::string(KOV_SOURCE_DIR) + "/console/input.kov", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string text = ss.str();
        routines::allow_make = true;
        boot::run_source(reinterpret_cast<const uint8_t*>(text.data()), text.size(), "console/input.kov");
        routines::allow_make = false;
    }

    Script script;
    Screen screen{20, 6};
    Cell* history = nullptr;

    LineEditor() { SetUpTestSuite(); }

    void SetUp() override {
        output.clear();
        console::set_sink(capture);
        console::set_terminal(true, screen.w, screen.h);
        line_editor::init(nullptr);
        Editor& e = line_editor::editor();
        e.console_input = true;
        e.fixed_size = true;
        e.columns = screen.w;
        e.rows = screen.h;
        e.enter_raw = no_raw;
        e.leave_raw = no_leave;
        e.keys.set_source(terminal::ByteSource{scripted, &script});
        history = block::push_new(8);
        // Tests may replace these two: each test starts with the real ones.
        test::eval("set/any 'saved-system get/any 'system  saved-complete: :kov-complete-ctx/complete-input");
    }
    void TearDown() override {
        test::eval("set/any 'system get/any 'saved-system  kov-complete-ctx/complete-input: :saved-complete");
        Editor& e = line_editor::editor();
        e.keys.set_source(terminal::ByteSource{nullptr, nullptr});
        e.line = e.prompt = e.history = unset::value;
        string::truncate_at(e.saved_line.w2, 0);
        e.saved_line.w1 = 0;
        e.fixed_size = false;
        console::set_sink(nullptr);
        console::set_terminal(false, 80, 24);
    }

    // One edit with the given keys; the line read, or "<end>" when input had ended.
    std::string type(const std::string& keys, const char* prompt = ">> ", bool hidden = false) {
        std::vector<int> v = bytes(keys);
        return type(v, prompt, hidden);
    }
    std::string type(const std::vector<int>& keys, const char* prompt = ">> ", bool hidden = false) {
        script.items = keys;
        script.pos = 0;
        script.marks.clear();
        line_editor::editor().keys.set_source(terminal::ByteSource{scripted, &script});
        Cell* line = string::push(1, 1);
        line_editor::setup(*line, *history);
        Cell* p = make_string(prompt);
        bool got = line_editor::edit(*p, hidden);
        screen.feed(output);
        last_output = output;
        output.clear();
        return got ? utf8(*line) : "<end>";
    }
    // What the screen showed at each snapshot of the last edit, and where its cursor was.
    std::vector<Screen> shots() {
        std::vector<Screen> v;
        Screen live(screen.w, screen.h);
        std::size_t done = 0;
        for (std::size_t m : script.marks) {
            live.feed(last_output.substr(done, m - done));
            done = m;
            v.push_back(live);
        }
        return v;
    }
    std::string between(std::size_t k) {  // the output from snapshot k - 1 to snapshot k
        std::size_t from = k ? script.marks[k - 1] : 0;
        return last_output.substr(from, script.marks[k] - from);
    }
    std::string last_output;
    std::vector<std::string> entries() {
        std::vector<std::string> v;
        for (int32_t i = 0; i < block::rs_length_q(*history); ++i) v.push_back(utf8(*block::rs_abs_at(*history, uint32_t(i))));
        return v;
    }
};

const std::string up = "\x1b[A", down = "\x1b[B", right = "\x1b[C", left = "\x1b[D", home = "\x1b[H",
                  end = "\x1b[F", del = "\x1b[3~";

}  // namespace

// ---- key decoding -------------------------------------------------------------------------------

TEST(KeyReader, SequencesGiveKeyCodes) {
    using namespace terminal;
    struct Case {
        std::string in;
        std::vector<int32_t> keys;
    } cases[] = {
        {"a\r\x7f\t", {'a', 13, 127, 9}},
        {"\x1b[A\x1b[B\x1b[C\x1b[D", {key_up, key_down, key_right, key_left}},
        {"\x1bOA\x1bOB\x1bOC\x1bOD\x1bOH\x1bOF", {key_up, key_down, key_right, key_left, key_home, key_end}},
        {"\x1b[H\x1b[F\x1b[1~\x1b[4~\x1b[7~\x1b[8~", {key_home, key_end, key_home, key_end, key_home, key_end}},
        {"\x1b[2~\x1b[3~\x1b[5~\x1b[6~", {key_insert, key_delete, key_page_up, key_page_down}},
        {"\x1bOP\x1bOQ\x1bOR\x1bOS", {-31, -32, -33, -34}},
        {"\x1b[11~\x1b[12~\x1b[13~\x1b[14~\x1b[15~", {-31, -32, -33, -34, -35}},
        {"\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~", {-36, -37, -38, -39, -40, -41, -42}},
        {"\x1b[[A\x1b[[E", {-31, -35}},
        // Modifiers are ignored: Ctrl+Right is Right, Shift+Delete is Delete.
        {"\x1b[1;5C\x1b[3;2~\x1b[1;2P\x1bO5A", {key_right, key_delete, -31, key_up}},
        // Unknown sequences go whole; what follows is a key of its own.
        {"\x1b[99~x", {key_none, 'x'}},
        {"\x1b[?25hx", {key_none, 'x'}},
        {"\x1b[<0;10;5Mx", {key_none, 'x'}},
        {"\x1b[M !!x", {key_none, 'x'}},
        {"\x1b[5Ax", {key_none, 'x'}},
        {"\x1bxy", {key_none, 'y'}},
        {"\x1b[1\r", {key_none, 13}},
        // UTF-8, and bytes that are no character.
        {"\xc3\xa9\xe7\x95\x8c\xf0\x9f\x98\x80", {0xE9, 0x754C, 0x1F600}},
        {"\xff" "a\xc3(", {key_none, 'a', key_none, '('}},
        {"\xed\xa0\x80z", {key_none, 'z'}},  // a surrogate
    };
    for (const Case& c : cases) EXPECT_EQ(decode_all(bytes(c.in)), c.keys) << "input " << c.in.substr(1);
}

TEST(KeyReader, EscapeAloneIsToldByItsTimeout) {
    using namespace terminal;
    EXPECT_EQ(decode_all({27, gap}), (std::vector<int32_t>{27}));
    EXPECT_EQ(decode_all({27, gap, '[', 'A'}), (std::vector<int32_t>{27, '[', 'A'}));
    EXPECT_EQ(decode_all({27, 27, '[', 'A'}), (std::vector<int32_t>{27, key_up}));
    EXPECT_EQ(decode_all({27}), (std::vector<int32_t>{27}));  // then the end
    // A sequence cut by a gap is swallowed as far as it came.
    EXPECT_EQ(decode_all({27, '[', '1', gap, '~', 'x'}), (std::vector<int32_t>{key_none, '~', 'x'}));
    EXPECT_EQ(decode_all({0xE7, 0x95, gap, 'x'}), (std::vector<int32_t>{key_none, 'x'}));
    // A resize wakes the reader; after an Escape it still comes.
    EXPECT_EQ(decode_all({resized, 'a', 27, resized}), (std::vector<int32_t>{key_redraw, 'a', 27, key_redraw}));
    EXPECT_EQ(decode_all({}), (std::vector<int32_t>{}));
}

// ---- layout -------------------------------------------------------------------------------------

TEST_F(LineEditor, SegmentWidths) {
    struct Case {
        const char* text;
        int64_t avail;
        bool prompt, hidden;
        int64_t cells;
    } cases[] = {
        {"abc", 10, false, false, 3},
        {"\xe7\x95\x8c\xe7\x95\x8c", 10, false, false, 4},  // two wide characters
        {"\xe7\x95\x8c", 1, false, false, 3},               // no room in the row: the cell left over counts
        {"ab\xe7\x95\x8cx", 3, false, false, 6},            // 界 moves to the next row, x after it
        {"ab\xe7\x95\x8c", 4, false, false, 4},             // fits exactly
        {"\tx", 10, false, false, 5},                       // a Tab is four cells
        {"e\xcc\x81", 10, false, false, 1},                 // a combining accent takes none
        {"a\x01" "b", 10, false, false, 3},                 // a control character shows as one cell
        {"\x1b[31m>> \x1b[0m", 10, true, false, 3},         // escape sequences in the prompt take none
        {"ab\ncd", 20, true, false, 22},                    // a line feed ends the row
        {"abcdefghijklmnopqrst\nx", 20, true, false, 21},   // right after a full row it takes nothing
        {"\xe7\x95\x8c\t", 10, false, true, 2},             // hidden: one * per character
    };
    for (const Case& c : cases) {
        Cell* s = make_string(c.text);
        line_editor::Flow f{nullptr, 20, false};
        EXPECT_EQ(line_editor::segment(f, *s, 0, uint32_t(string::rs_length_q(*s)), c.avail, c.prompt, c.hidden), c.cells)
            << c.text;
    }
}

TEST_F(LineEditor, SegmentEmitsWhatItMeasures) {
    Cell* s = make_string("a\tb\x01");
    line_editor::Output out;
    line_editor::Flow f{&out, 20, false};
    EXPECT_EQ(line_editor::segment(f, *s, 0, 4, 20, false, false), 7);
    out.flush();
    EXPECT_EQ(output, "a    b\xef\xbf\xbd");
    output.clear();
    Cell* h = make_string("pw");
    line_editor::Flow g{&out, 20, false};
    line_editor::segment(g, *h, 0, 2, 20, false, true);
    out.flush();
    EXPECT_EQ(output, "**");
}

// ---- editing ------------------------------------------------------------------------------------

TEST_F(LineEditor, CursorKeysAndControlKeysEdit) {
    struct Case {
        std::string keys;
        const char* line;
    } cases[] = {
        {"abc" + left + left + "X" + end + "Y" + home + "Z\r", "ZaXbcY"},
        {"abc\x02\x02X\x05Y\x01Z\x06W\r", "ZaWXbcY"},                    // Ctrl+B, F, A, E
        {"hello world\x01\x04\x04" + right + "\x0b\r", "l"},             // Ctrl+D deletes forward, Ctrl+K to the end
        {"abc\x7f\x08" + left + "\x7f\r", "a"},                          // Backspace (DEL and BS)
        {"abcd" + home + del + right + del + "\r", "bd"},                // Delete
        {"ab\x04\x05\x04\r", "ab"},                                      // Ctrl+D at the end of a line: nothing
        {"\x04", "q"},                                                   // Ctrl+D on an empty line
        {"abc\x03", "q"},                                                // Ctrl+C
        {"ab\x1b[Z\x07\x1b[5~\x1b[2~\x1bOPx\r", "abx"},                  // keys without an action are ignored
        {"\xe7\x95\x8c\xc3\xa9" + left + "\xf0\x9f\x98\x80\r", "\xe7\x95\x8c\xf0\x9f\x98\x80\xc3\xa9"},
    };
    for (const Case& c : cases) EXPECT_EQ(type(c.keys), c.line) << c.keys;
}

TEST_F(LineEditor, EscapeEndsTheLineWithAnEscapeCharacter) {
    EXPECT_EQ(type(Keys() << "abc" << 27 << gap), "abc\x1b");
    EXPECT_TRUE(entries().empty());
}

TEST_F(LineEditor, EndOfInput) {
    EXPECT_EQ(type(""), "<end>");
    EXPECT_EQ(type("ab"), "ab");  // what was typed before the end is the line
}

TEST_F(LineEditor, ScreenShowsTheLineAndTheCursor) {
    EXPECT_EQ(type("hello" + left + left + "X\r"), "helXlo");
    EXPECT_EQ(screen.row(0), ">> helXlo");
    EXPECT_EQ(screen.cursor(), std::make_pair(0, 1));  // the output goes on below the line
}

TEST_F(LineEditor, WideCharacterAtTheLastColumnWraps) {
    // 3 cells of prompt and 16 letters leave one cell in the 20-column row: 界 goes to the
    // next row, and so does the cursor when it stands on 界.
    std::string letters = "abcdefghijklmnop";
    Keys keys;
    keys << letters << snapshot << "\xe7\x95\x8c" << snapshot << "z" + left + left << snapshot << left + end + "\r";
    EXPECT_EQ(type(keys), letters + "\xe7\x95\x8cz");
    std::vector<Screen> at = shots();
    ASSERT_EQ(at.size(), 3u);
    EXPECT_EQ(at[0].cursor(), std::make_pair(19, 0));  // the last cell of the row, empty
    EXPECT_EQ(at[1].cursor(), std::make_pair(2, 1));   // after 界 on the next row
    EXPECT_EQ(at[2].cursor(), std::make_pair(0, 1));   // on 界
    EXPECT_EQ(screen.row(0), ">> " + letters);
    EXPECT_EQ(screen.row(1), "\xe7\x95\x8cz");
    EXPECT_EQ(screen.cursor(), std::make_pair(0, 2));
    EXPECT_EQ(line_editor::measure().end, 20 + 3);
}

TEST_F(LineEditor, CursorMovesAcrossRows) {
    // 25 letters: the row break falls after the 17th.
    type(Keys() << std::string(25, 'x') << snapshot << home << snapshot << end << snapshot
                << "\x01" + std::string(17, '\x06') << snapshot << "\r");
    std::vector<std::pair<int, int>> cursors;
    for (const Screen& sc : shots()) cursors.push_back(sc.cursor());
    EXPECT_EQ(cursors, (std::vector<std::pair<int, int>>{{8, 1}, {3, 0}, {8, 1}, {0, 1}}));
    // Moving the cursor writes no text.
    EXPECT_EQ(between(1).find('x'), std::string::npos);
    EXPECT_EQ(between(2).find("\x1b[K"), std::string::npos);
}

TEST_F(LineEditor, TypingAtTheEndWritesOnlyTheCharacter) {
    EXPECT_EQ(type(Keys() << "ab" << snapshot << "c" << snapshot << "\r"), "abc");
    EXPECT_EQ(between(1), "c\r\x1b[6C");
}

TEST_F(LineEditor, RowFilledExactlyPutsTheCursorOnTheNextRow) {
    type(Keys() << std::string(17, 'y') << snapshot << "\r");
    EXPECT_EQ(shots()[0].cursor(), std::make_pair(0, 1));
    EXPECT_EQ(screen.row(0), ">> " + std::string(17, 'y'));
    EXPECT_EQ(screen.row(1), "");
    EXPECT_EQ(screen.cursor(), std::make_pair(0, 1));  // no empty row left between
}

TEST_F(LineEditor, RedrawErasesRowsTheTextNoLongerHolds) {
    // 30 letters take two rows; Ctrl+A, Ctrl+K leaves the prompt alone.
    std::string keys = std::string(30, 'x') + "\x01\x0b" + "ok\r";
    EXPECT_EQ(type(keys), "ok");
    EXPECT_EQ(screen.row(0), ">> ok");
    EXPECT_EQ(screen.row(1), "");
    EXPECT_EQ(screen.cursor(), std::make_pair(0, 1));
}

TEST_F(LineEditor, ResizeRedraws) {
    type(Keys() << "abc" << snapshot << resized << snapshot << "\r");
    EXPECT_NE(between(1).find(">> abc"), std::string::npos);
}

TEST_F(LineEditor, PromptWithColoursAndLineFeeds) {
    EXPECT_EQ(type("abc" + left + "X\r", "\x1b[32mName\x1b[0m\n> "), "abXc");
    EXPECT_EQ(screen.row(0), "Name");
    EXPECT_EQ(screen.row(1), "> abXc");
    EXPECT_EQ(screen.cursor(), std::make_pair(0, 2));
}

TEST_F(LineEditor, PromptStartsWhereTheOutputLeftTheCursor) {
    console::print_string(reinterpret_cast<const uint8_t*>("abc"), 3, 1, false);
    screen.feed(output);
    output.clear();
    EXPECT_EQ(type("12" + left + "X\r", "? "), "1X2");
    EXPECT_EQ(screen.row(0), "abc? 1X2");
}

TEST_F(LineEditor, HiddenInputShowsStarsAndStaysOutOfHistory) {
    EXPECT_EQ(type("s\xc3\xa9" "c\t\r", "pw: ", true), "s\xc3\xa9" "c\t");
    EXPECT_EQ(screen.row(0), "pw: ****");
    EXPECT_TRUE(entries().empty());
}

// ---- history ------------------------------------------------------------------------------------

TEST_F(LineEditor, HistoryUpAndDown) {
    type("one\r");
    type("two\r");
    type("two\r");  // the same line twice in a row is kept once
    type("\r");     // an empty line is not kept
    type("three\r");
    EXPECT_EQ(entries(), (std::vector<std::string>{"three", "two", "one"}));
    // Recalled lines ended with Escape, which keeps them out of the history.
    struct Case {
        std::string keys;
        const char* line;
    } cases[] = {
        {up, "three"},
        {up + up, "two"},
        {up + up + up, "one"},
        {up + up + up + up, ""},                // past the oldest: an empty line
        {up + up + up + up + up, ""},
        {up + up + up + down, "two"},           // down shows the next newer one
        {up + up + down + down, ""},            // and an empty line past the newest
        {down, ""},
        {"abc" + up + "!", "three!"},           // the typed text goes
        {"\x10\x10\x0e", "three"},              // Ctrl+P, Ctrl+N
    };
    for (const Case& c : cases) EXPECT_EQ(type(Keys() << c.keys << 27 << gap), std::string(c.line) + "\x1b") << c.keys;
    EXPECT_EQ(entries().size(), 3u);
    EXPECT_EQ(type(up + up + "\r"), "two");  // Enter keeps a recalled line as the newest
    EXPECT_EQ(entries(), (std::vector<std::string>{"two", "three", "two", "one"}));
}

TEST_F(LineEditor, HistoryEntriesAreCopies) {
    type("abc\r");
    Editor& e = line_editor::editor();
    string::append_char(e.line.w2, '!');  // the caller changes the line it got
    EXPECT_EQ(entries(), (std::vector<std::string>{"abc"}));
}

// ---- completion ---------------------------------------------------------------------------------

TEST_F(LineEditor, TabWithoutCompletionInsertsATab) {
    test::eval("kov-complete-ctx/complete-input: none");
    EXPECT_EQ(type("a\tb\r"), "a\tb");
    EXPECT_EQ(screen.row(0), ">> a    b");
}

TEST_F(LineEditor, TabCompletesOneCandidate) {
    // A stand-in for the real completion: one candidate, the text after the cursor kept,
    // positioned where the cursor belongs.
    test::eval("kov-complete-ctx/complete-input: func [str console?] [next reduce ['word at copy \"print  x\" 6]]");
    EXPECT_EQ(type("pri  x" + left + left + left + "\t!\r"), "print!  x");
    EXPECT_EQ(screen.row(0), ">> print!  x");
}

TEST_F(LineEditor, TabWithSeveralCandidatesShowsThemAndPrefillsTheNextEdit) {
    test::eval(
        "kov-complete-ctx/complete-input: func [str console?] ["
        "  next reduce ['word tail copy \"pr\" \"print\" \"probe\"]]");
    EXPECT_EQ(type("p\t"), "");
    EXPECT_EQ(screen.row(0), ">> print probe");
    // The next edit starts from the common part, cursor at its end.
    EXPECT_EQ(type("o\r"), "pro");
    EXPECT_EQ(screen.row(1), ">> pro");
    // Only that one: the edit after starts empty.
    EXPECT_EQ(type("\r"), "");
}

// The global words come from system/words; a small object stands in for it here.
constexpr const char* some_words = "system: context [words: context [print: 1 probe: 2 prin: 3 append: 4 nothing: none]]";

TEST_F(LineEditor, CompleteInputFindsGlobalWords) {
    test::eval(some_words);
    // The first item as text, where it is positioned, and how many items there are.
    auto complete = [](const char* line) {
        return test::eval(std::string("r: kov-complete-ctx/complete-input ") + line +
                          " true either empty? r [[]] [reduce [head first r index? first r length? r]]");
    };
    EXPECT_EQ(complete("tail \"pri\""), "[\"prin\" 5 3]");             // the common part, then the candidates
    EXPECT_EQ(complete("tail \"prob\""), "[\"probe\" 6 1]");
    EXPECT_EQ(complete("tail \"PROB\""), "[\"probe\" 6 1]");           // letter case is ignored
    EXPECT_EQ(complete("tail \"x: [appe\""), "[\"x: [append\" 11 1]");  // after a delimiter, the text before stays
    EXPECT_EQ(complete("at \"x: appe 1\" 8"), "[\"x: append 1\" 10 1]"); // and the text after the cursor
    EXPECT_EQ(complete("tail \"x^-prob\""), "[\"x^-probe\" 8 1]");      // a Tab delimits too
    EXPECT_EQ(complete("tail \"print\""), "[]");                       // complete already
    EXPECT_EQ(complete("tail \"\""), "[]");
    EXPECT_EQ(complete("tail \"zz\""), "[]");
    EXPECT_EQ(complete("tail \"x: \""), "[]");
    EXPECT_EQ(test::eval("kov-complete-ctx/complete-input tail \"prin\" false"), "[word \"prin\" \"print\"]");
}

TEST_F(LineEditor, TabCompletesGlobalWords) {
    test::eval(some_words);
    EXPECT_EQ(type("x: prob\t 1\r"), "x: probe 1");
    EXPECT_EQ(type("pri\t"), "");
    EXPECT_EQ(screen.row(1), ">> prin print");
    EXPECT_EQ(type("t\r"), "print");
    EXPECT_EQ(type("print\t\r"), "print\t");  // nothing to complete: the Tab is typed
}

TEST_F(LineEditor, CompletionErrorsLeaveTheLine) {
    test::eval("kov-complete-ctx/complete-input: func [str console?] [1 / 0]");
    EXPECT_EQ(type("ab\tc\r"), "abc");
    EXPECT_EQ(test::eval("kov-complete-ctx/complete-input: func [str console?] [none] 1 + 1"), "2");
}

TEST_F(LineEditor, CompleteFromCxx) {
    test::eval(
        "kov-complete-ctx/complete-input: func [str console?] ["
        "  either console? [next reduce ['word tail copy \"print\"]] [[]]]");
    Editor& e = line_editor::editor();
    Cell* line = make_string("pr");
    line->w1 = 2;
    e.line = *line;
    e.prompt = *make_string(">> ");
    e.first_refresh = true;
    EXPECT_EQ(line_editor::complete(), 1);
    EXPECT_EQ(utf8(Cell{T_string, 0, e.line.w2, 0}), "print");
    EXPECT_EQ(e.line.w1, 5u);
    // The line as it was is kept aside, cursor included.
    EXPECT_EQ(utf8(Cell{T_string, 0, e.saved_line.w2, 0}), "pr");
    EXPECT_EQ(e.saved_line.w1, 2u);
}

// ---- standard input ------------------------------------------------------------------------------

namespace {

// Standard input replaced by bytes in memory, for the length of a test.
std::string piped;
std::size_t piped_pos = 0;

long read_piped(void* bytes, std::size_t count) {
    std::size_t n = std::min(count, piped.size() - piped_pos);
    std::memcpy(bytes, piped.data() + piped_pos, n);
    piped_pos += n;
    return long(n);
}

// Runs a routine's entry, as a call does, on the arguments pushed from `base`.
void run_routine(uint32_t index, Cell* base) {
    routines::Entry e = routines::entry(index);
    ASSERT_TRUE(e);
    struct Base {
        Cell* saved = stack::values.args;
        ~Base() { stack::values.args = saved; }
    } keep;
    stack::values.args = base;
    int32_t none_given[1] = {-1};
    routines::Args args(none_given);
    e(args, none::value);
}

struct PipedStdin {
    long (*saved)(void*, std::size_t);
    explicit PipedStdin(const std::string& data) {
        piped = data;
        piped_pos = 0;
        saved = line_editor::editor().read_input;
        line_editor::editor().read_input = read_piped;
    }
    ~PipedStdin() { line_editor::editor().read_input = saved; }
};

}  // namespace

TEST_F(LineEditor, StandardInputLineByLine) {
    PipedStdin in("ab\r\nc\xc3\xa9\n\n\xff" "x\xe7\x95" "\nlast");
    std::vector<std::string> lines;
    for (int i = 0; i < 10; ++i) {
        Cell* s = string::push(4, 1);
        if (!line_editor::stdin_readline(*s)) break;
        lines.push_back(utf8(*s));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"ab\r", "c\xc3\xa9", "", "\xef\xbf\xbdx\xef\xbf\xbd", "last"}));
}

TEST_F(LineEditor, ReadInputRoutineFromPipedInput) {
    line_editor::editor().console_input = false;
    PipedStdin in("first\nsecond");
    for (const char* expected : {"first", "second", "<end>", "<end>"}) {
        Cell* line = string::push(1, 1);
        Cell* args = stack::push(*line);
        stack::push(*history);
        run_routine(routines::index::set_buffer_history, args);
        args[0] = *make_string("? ");
        args[1] = logic::make(false);
        run_routine(routines::index::read_input, args);
        EXPECT_EQ(logic::get(args[0]) ? utf8(*line) : "<end>", expected);
    }
    EXPECT_TRUE(entries().empty());  // piped lines are not kept
}

TEST_F(LineEditor, AskAndInput) {
    if (test::eval("make string! 1").rfind("error", 0) == 0) GTEST_SKIP() << "make string! is not there yet";
    line_editor::editor().console_input = false;
    PipedStdin in("first\nsecond\n");
    test::eval("system: context [console: context [history: make block! 10 size: 0x0]]");
    EXPECT_EQ(test::eval("h: [] ask/history \">> \" h"), "\"first\"");
    EXPECT_EQ(test::eval("input"), "\"second\"");
    EXPECT_EQ(test::eval("input"), "none");  // the end of input
    EXPECT_EQ(test::eval("input"), "none");
    EXPECT_EQ(test::eval("input-stdin"), "none");
}

TEST_F(LineEditor, InputStdinRoutine) {
    PipedStdin in("ab\n\ncd");
    std::vector<std::string> got;
    for (int i = 0; i < 5; ++i) {
        Cell* result = stack::reserve();
        run_routine(routines::index::input_stdin, result);
        got.push_back(cell::is(*result, T_string) ? utf8(*result) : "none");
    }
    EXPECT_EQ(got, (std::vector<std::string>{"ab", "", "cd", "none", "none"}));
}

TEST_F(LineEditor, ReadStdinIntoABinary) {
    PipedStdin in("hello world");
    Cell bin{T_binary, 0, memory::alloc_bytes(4), 0};
    collector::Root keep(bin);
    auto read = [&](uint32_t index, int32_t length) {
        Cell* args = stack::push(Cell{T_binary, index, bin.w2, 0});
        stack::push(integer::make(length));
        run_routine(routines::index::read_stdin, args);
        int32_t n = integer::get(args[0]);
        stack::pop(2);
        return n;
    };
    auto bytes_of = [&] {
        memory::Buffer* b = memory::buffer(bin.w2);
        return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->used());
    };
    EXPECT_EQ(read(0, 3), 3);
    EXPECT_EQ(bytes_of(), "hel");
    EXPECT_EQ(read(3, 100), 8);  // more than the buffer had room for
    EXPECT_EQ(bytes_of(), "hello world");
    EXPECT_EQ(read(11, 10), 0);  // the end of input
    PipedStdin again("HE");
    EXPECT_EQ(read(0, 2), 2);    // at its index, over what was there
    EXPECT_EQ(bytes_of(), "HEllo world");
    EXPECT_EQ(test::error_of([&] { read(0, -1); }), "script/out-of-range");
}
