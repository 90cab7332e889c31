// The terminal layer's pure parts on a fake terminal: exact frame and style bytes, the
// palette, in-text SGR, and the GUI back end's reading of the decoder (including sequences
// split across reads).
#include <gtest/gtest.h>

#include <string>

#include "runtime/terminal/input.h"
#include "runtime/terminal/screen.h"

using namespace kov::terminal;

namespace {

std::string frame_of(const Screen& s, FrameState st = {}, int cx = -1, int cy = -1) {
    std::string out;
    write_frame(out, s, st, cx, cy);
    return out;
}

void put(Screen& s, int x, int y, const std::u32string& t, Style st = {}, uint32_t flags = 0) {
    text_run(s, Clip{0, 0, s.width(), s.height()}, x, y, t.data(), t.size(), st, flags);
}

struct Items {
    Decoder d{back_end_reading};
    std::vector<Input> out;
    void feed(const std::string& b) {
        d.feed(reinterpret_cast<const unsigned char*>(b.data()), b.size());
        d.decode(out);
    }
};

}  // namespace

TEST(TerminalScreen, InlineFrameBytes) {
    Screen s;
    s.resize(3, 2);
    put(s, 0, 0, U"ab");
    EXPECT_EQ(frame_of(s), "\r\x1b[0Jab \x1b[49m\r\n   ");
    FrameState st;
    st.cursor_row = 2;
    EXPECT_EQ(frame_of(s, st).substr(0, 9), "\r\x1b[2A\x1b[0J");
    st.full_screen = true;
    EXPECT_EQ(frame_of(s, st).substr(0, 3), "\x1b[H");
    // The caret: up from the last row, then right.
    std::string f = frame_of(s, {}, 2, 0);
    EXPECT_EQ(f.substr(f.size() - 9), "\r\x1b[1A\x1b[2C");
}

TEST(TerminalScreen, StyleWrittenOncePerRunAndReset) {
    Screen s;
    s.resize(3, 1);
    put(s, 0, 0, U"abc", Style{0, k_palette | 196, a_bold});
    EXPECT_EQ(frame_of(s), "\r\x1b[0J\x1b[1m\x1b[38;5;196mabc\x1b[22m\x1b[39m");
}

TEST(TerminalScreen, BoldOffKeepsDimAndDimOffKeepsBold) {
    ScreenCell bold_dim{0, 0, 0, a_bold | a_dim}, dim{0, 0, 0, a_dim}, bold{0, 0, 0, a_bold};
    std::string out;
    append_style_change(out, bold_dim, dim);
    EXPECT_EQ(out, "\x1b[22m\x1b[2m");
    out.clear();
    append_style_change(out, bold_dim, bold);
    EXPECT_EQ(out, "\x1b[22m\x1b[1m");
    out.clear();
    append_style_change(out, bold, ScreenCell{0, 0, 0, a_dim});
    EXPECT_EQ(out, "\x1b[2m\x1b[22m\x1b[2m");
}

TEST(TerminalScreen, ColoursKindsAndBasicTable) {
    std::string out;
    append_style_change(out, ScreenCell{}, ScreenCell{0, k_basic | 16, k_basic | 17, 0});
    EXPECT_EQ(out, "\x1b[97m\x1b[106m");
    out.clear();
    append_style_change(out, ScreenCell{}, ScreenCell{0, k_rgb | 0x0A141E, 0, 0});
    EXPECT_EQ(out, "\x1b[48;2;10;20;30m");
}

TEST(TerminalScreen, PaletteIndex) {
    auto idx = [](int r, int g, int b, int a = 0) { return palette_index(r | (g << 8) | (b << 16) | (uint32_t(a) << 24)); };
    EXPECT_EQ(idx(255, 0, 0), k_palette | 196);
    EXPECT_EQ(idx(255, 255, 255), k_palette | 231);
    EXPECT_EQ(idx(0, 0, 0), k_palette | 16);
    EXPECT_EQ(idx(10, 10, 10), k_palette | 232);
    EXPECT_EQ(idx(128, 128, 128), k_palette | 244);
    EXPECT_EQ(idx(100, 150, 200), k_palette | 68);
    EXPECT_EQ(idx(1, 2, 3, 255), uint32_t{k_default});
}

TEST(TerminalScreen, WidePasswordAndControlCells) {
    Screen s;
    s.resize(4, 1);
    put(s, 0, 0, U"a\u4E2Db");
    EXPECT_EQ(frame_of(s), "\r\x1b[0Ja\xE4\xB8\xAD" "b");
    put(s, 0, 0, U"xy", Style{0, 0, a_password});
    EXPECT_EQ(frame_of(s).substr(5, 2), "**");
    // A face text can send the terminal no command: ESC, BEL and C1 are not written raw.
    Screen c;
    c.resize(3, 1);
    put(c, 0, 0, U"\x1b]\x07");
    std::string f = frame_of(c);
    EXPECT_EQ(f.find('\x07'), std::string::npos);
    EXPECT_EQ(f.find("\x1b]"), std::string::npos);
    // A double-width character that does not fit is not half drawn.
    Screen n;
    n.resize(2, 1);
    put(n, 1, 0, U"\u4E2D");
    EXPECT_EQ(n.at(1, 0)->code, 0u);
}

TEST(TerminalScreen, InTextSgr) {
    Screen s;
    s.resize(12, 1);
    put(s, 0, 0, U"\x1b[1;34mab\x1b[0m c\x1b[38;5;208mX\x1b[2J\x1b[5AY", {}, run_ansi);
    EXPECT_EQ(s.at(0, 0)->code, U'a');
    EXPECT_EQ(s.at(0, 0)->attributes, uint32_t{a_bold});
    EXPECT_EQ(s.at(0, 0)->foreground, k_basic | 4);
    EXPECT_EQ(s.at(2, 0)->attributes, 0u);
    EXPECT_EQ(s.at(3, 0)->code, U'c');
    EXPECT_EQ(s.at(4, 0)->foreground, k_palette | 208);
    EXPECT_EQ(s.at(5, 0)->code, U'Y');
}

TEST(TerminalScreen, Measure) {
    int w, l;
    std::u32string t = U"a\u4E2Db";
    measure(t.data(), t.size(), 0, w, l);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(l, 1);
    t = U"e\u0301\nabc";
    measure(t.data(), t.size(), 0, w, l);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(l, 2);
    t = U"abcde";
    measure(t.data(), t.size(), 2, w, l);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(l, 3);
}

TEST(TerminalInput, KeysAndControls) {
    Items it;
    it.feed(std::string("\x08\x7f\n\r") + "\xE4\xB8\xAD" + "\x1b[A\x1b[3;5~\x1b[15~\x1b[24~\x1bOP\x1b[1;5A\x1b[2~\x1b[Z");
    std::vector<std::pair<int, int>> got;
    for (auto& i : it.out) got.push_back({i.kind, i.code});
    std::vector<std::pair<int, int>> want = {{0, 127}, {0, 127}, {0, 13}, {0, 13}, {0, 0x4E2D}, {1, key_up},
                                             {1, key_delete}, {1, -35}, {1, -42}, {1, -31}, {1, key_back_tab}};
    EXPECT_EQ(got, want);
}

TEST(TerminalInput, SplitAcrossReads) {
    Items it;
    it.feed("\x1b[");
    EXPECT_TRUE(it.out.empty());
    it.feed("A\xE4\xB8");
    ASSERT_EQ(it.out.size(), 1u);
    EXPECT_EQ(it.out[0].code, key_up);
    it.feed("\xAD");
    ASSERT_EQ(it.out.size(), 2u);
    EXPECT_EQ(it.out[1].code, 0x4E2D);
    Items lone;
    lone.feed("\x1b");
    ASSERT_EQ(lone.out.size(), 1u);
    EXPECT_EQ(lone.out[0].code, 27);
}

TEST(TerminalInput, StringSequencesEndOrAreDropped) {
    Items it;
    it.feed("\x1b]0;title\x07x\x1bP1\x1b\\y");
    ASSERT_EQ(it.out.size(), 2u);
    EXPECT_EQ(it.out[0].code, 'x');
    EXPECT_EQ(it.out[1].code, 'y');
    // Alt+] followed by keys: the unfinished OSC is dropped, the keys come through, and the
    // buffer does not keep growing.
    Items alt;
    alt.feed("\x1b]ab");
    ASSERT_EQ(alt.out.size(), 2u);
    EXPECT_EQ(alt.out[0].code, 'a');
    EXPECT_EQ(alt.d.pending(), 0u);
}

TEST(TerminalInput, EndlessSequenceIsNotWaitedFor) {
    Items it;
    it.feed("\x1b[" + std::string(100, '1'));
    EXPECT_EQ(it.out.size(), 100u);  // an Alt+[ (no event), then the digits as typed
    EXPECT_EQ(it.d.pending(), 0u);
    Items split;
    split.feed("\x1b[" + std::string(30, '1'));
    EXPECT_TRUE(split.out.empty());  // still a sequence that may end
    split.feed(std::string(40, '1'));
    EXPECT_EQ(split.d.pending(), 0u);
}

TEST(TerminalInput, MouseReportsAndCursorReport) {
    Items it;
    it.feed("\x1b[3;1R");
    EXPECT_EQ(it.d.area_row, 2);
    it.feed("\x1b[<0;10;5M\x1b[<32;11;5M\x1b[<0;10;5m\x1b[<64;1;1M\x1b[<4;1;4M\x1b[<35;2;4M\x1b[<1;2;3;4M");
    ASSERT_EQ(it.out.size(), 6u);
    EXPECT_EQ(it.out[0].kind, Input::button);
    EXPECT_EQ(it.out[0].code, t_down);
    EXPECT_EQ(it.out[0].x, 9);
    EXPECT_EQ(it.out[0].y, 2);
    EXPECT_EQ(it.out[1].kind, Input::over);
    EXPECT_EQ(it.out[1].flags, uint32_t{f_down});
    EXPECT_EQ(it.out[2].code, t_up);
    EXPECT_EQ(it.out[3].kind, Input::wheel);
    EXPECT_EQ(it.out[3].code, 1);
    EXPECT_EQ(it.out[4].flags, uint32_t{f_shift});
    EXPECT_EQ(it.out[5].kind, Input::over);
    EXPECT_EQ(it.out[5].flags, 0u);
    // Huge parameters saturate instead of wrapping round to small ones.
    Items big;
    big.feed("\x1b[<0;99999999999;1M");
    ASSERT_EQ(big.out.size(), 1u);
    EXPECT_GT(big.out[0].x, 1e9);
}
