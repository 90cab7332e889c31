// The lexer from C++: its pinned tables, the cells it lays out, the callback, one-value and
// scan-only modes, and the value buffer under collections. Every literal syntax, its values and
// its errors are in tests/kov/lexer.kov.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/lexer/lexer.h"
#include "runtime/lexer/tables.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

namespace {

using LexerTest = Runtime;

const Cell none_cell{T_none, 0, 0, 0};

// Scans the text; the result (a block, or one value) is a value-stack cell.
Cell* scan_text(const std::string& text, lexer::Options o = {}, uint32_t* type = nullptr, int64_t* next = nullptr) {
    Cell* out = stack::reserve();
    uint32_t t = lexer::scan(reinterpret_cast<const uint8_t*>(text.data()), text.size(), o, none_cell, *out, next);
    if (type) *type = t;
    return out;
}

std::vector<Cell> cells_of(const Cell& block) {
    memory::Buffer* b = memory::buffer(block.w2);
    auto begin = reinterpret_cast<Cell*>(b->head_ptr()) + block.w1;
    auto end = reinterpret_cast<Cell*>(b->tail_ptr());
    return std::vector<Cell>(begin, end);
}

std::vector<Cell> values(const std::string& text) {
    Cell* b = scan_text(text);
    EXPECT_EQ(cell::type(*b), T_block) << text;
    return cells_of(*b);
}

Cell one(const std::string& text) {
    auto v = values(text);
    EXPECT_EQ(v.size(), 1u) << text;
    return v.empty() ? none_cell : v[0];
}

uint32_t type_of(const Cell& c) { return cell::type(c); }

std::string spelling(const Cell& word) {
    symbol::Spelling s = symbol::spelling(word.w2);
    return std::string(reinterpret_cast<const char*>(s.bytes), s.length);
}

// The name of any datatype id, registered or not.
std::string type_name(uint32_t id) {
    static const char* const names[] = {
#define DATATYPE(id, name, ident, parent, families) name,
#include "runtime/defs/datatypes.def"
#undef DATATYPE
    };
    return id >= 1 && id <= 54 ? names[id - 1] : std::to_string(id);
}

std::vector<uint8_t> bytes_of(const Cell& bin) {
    memory::Buffer* b = memory::buffer(bin.w2);
    return std::vector<uint8_t>(b->head_ptr() + bin.w1, b->tail_ptr());
}

}  // namespace

// ---- tables ---------------------------------------------------------------------------------------------

TEST(LexerTables, SizesAndEntriesArePinned) {
    using namespace lexer;
    EXPECT_EQ(byte_classes.size(), 256u);
    EXPECT_EQ(transitions.size(), 65u);
    EXPECT_EQ(transitions[0].size(), 40u);
    EXPECT_EQ(skip_table.size(), 104u);
    EXPECT_EQ(state_types.size(), 104u);
    EXPECT_EQ(line_table.size(), 40u);
    EXPECT_EQ(path_end_table.size(), 40u);
    EXPECT_EQ(float_text_table.size(), 256u);
    EXPECT_EQ(float_syntax_classes_of.size(), 256u);
    EXPECT_EQ(float_syntax.size(), 9u);
    EXPECT_EQ(float_syntax[0].size(), 7u);
    EXPECT_EQ(hex_digits.size(), 256u);
    EXPECT_EQ(escape_names.size(), 7u);
    EXPECT_EQ(month_names.size(), 12u);

    // Every byte has a class below 40; the class counts are those of the byte table.
    uint32_t per_class[40] = {};
    for (uint32_t e : byte_classes) {
        ASSERT_LT(e & class_mask, 40u);
        ++per_class[e & class_mask];
    }
    EXPECT_EQ(per_class[c_space], 3u);
    EXPECT_EQ(per_class[c_control], 28u);
    EXPECT_EQ(per_class[c_continuation], 65u);
    EXPECT_EQ(per_class[c_bad], 10u);
    EXPECT_EQ(per_class[c_word], 44u + 46u + 8u);
    EXPECT_EQ(per_class[c_end], 1u);
    // Every next state is a scan state or a terminal one; 65 never occurs.
    for (auto& row : transitions)
        for (uint8_t s : row) EXPECT_TRUE(s < 65 || (s >= 66 && s <= 101));
    // The skip table moves only state 0; the Unicode space set holds its 21 code points.
    uint32_t skips = 0, spaces = 0;
    for (uint8_t s : skip_table) skips += s;
    for (uint32_t cp = 0; cp < unicode_space_limit; ++cp) spaces += unicode_space_q(cp);
    EXPECT_EQ(skips, 1u);
    EXPECT_EQ(spaces, 21u);
    EXPECT_FALSE(unicode_space_q(' '));
    EXPECT_TRUE(unicode_space_q(0x3000));
    // Float syntax sees every byte: a wide or high byte is "other", never a digit.
    for (uint32_t b = 128; b < 256; ++b) EXPECT_EQ(float_syntax_classes_of[b], 0u);
    auto fs = [](const char* t) { return float_syntax_q(reinterpret_cast<const uint8_t*>(t), reinterpret_cast<const uint8_t*>(t) + std::strlen(t)); };
    EXPECT_TRUE(fs("1.5e-3"));
    EXPECT_TRUE(fs("1'000.5"));
    EXPECT_TRUE(fs(".5"));
    EXPECT_FALSE(fs("1z"));
    EXPECT_FALSE(fs("1e"));
    EXPECT_FALSE(fs("1.e5"));
    EXPECT_TRUE(fs("."));  // syntax only: the float reader then finds no digit
    EXPECT_FALSE(fs(""));
    EXPECT_FALSE(fs(std::string(313, '1').c_str()));
}

// The rows are written with names: a few cells pinned against the numbers they stand for, so
// that a reordered name list (which would still compile) is caught.
TEST(LexerTables, NamedTransitions) {
    using namespace lexer;
    struct Cell_ {
        uint32_t state, cls, next;
    } cells[] = {
        {s_start, c_block_open, 68}, {s_start, c_end, 66}, {s_start, c_space, 0}, {s_start, c_digit, 23},
        {s_integer, c_percent, 87}, {s_integer, c_word, 67}, {s_integer, c_e, 26}, {s_integer, c_E, 27},
        {s_exponent, c_minus, 26}, {s_exponent, c_space, 88}, {s_exponent, c_percent, 87},
        {s_digits_E, c_percent, 87}, {s_maybe_hex, c_slash, 75}, {s_word, c_colon, 53},
        {s_path_sign, c_minus, 64}, {s_path_sign, c_space, 80}, {s_path, c_paren_open, 70},
        {s_after_hash, c_block_open, 74}, {s_raw_close, c_space, 100}, {s_ref, c_space, 101},
        {s_point, c_paren_close, 93},
    };
    for (auto& c : cells) EXPECT_EQ(transitions[c.state][c.cls], c.next) << c.state << "," << c.cls;
    EXPECT_EQ(s_path_head, 75);
    EXPECT_EQ(s_path_sign, 64);
    EXPECT_EQ(c_caret, 34);
    EXPECT_EQ(state_types[s_word_colon], T_set_word);
    EXPECT_EQ(state_types[first_terminal + t_percent], T_percent);
}

// ---- the cells as laid out ------------------------------------------------------------------------------
// tests/kov/lexer.kov holds every literal syntax, its values and its errors; here is what the
// language cannot see of the cells the lexer makes.

TEST_F(LexerTest, CellsAsTheLexerLaysThemOut) {
    // A tuple's bytes from w1 on, nothing past its length.
    Cell t = one("1.2.3");
    EXPECT_EQ(t.w1, 0x030201u);
    EXPECT_EQ(t.w2, 0u);
    EXPECT_EQ(one("255.0.0.128").w1, 0x800000FFu);
    Cell full = one("1.2.3.4.5.6.7.8.9.10.11.12");
    EXPECT_EQ(full.header & 0xFF, T_tuple);
    EXPECT_EQ(full.w3, 0x0C0B0A09u);
    EXPECT_EQ(one("(1, 2)").w3, 0u);  // a point2D! leaves the third coordinate empty

    // Strings at their head, in the narrowest unit that holds their characters.
    struct Text {
        const char* text;
        uint32_t unit;
    } texts[] = {
        {"\"abc\"", 1}, {"\"\"", 1}, {"\"a^/b^-c\"", 1}, {"\"^\"q^\" ^^ ^(41)\"", 1}, {"\"^(263A)\"", 2},
        {"\"a^(1F600)\"", 4}, {"\"\xC3\xA9t\xC3\xA9\"", 2}, {"\"\xF0\x9F\x98\x80\"", 4}, {"{abc}", 1}, {"{}", 1},
        {"{a{b}c}", 1}, {"{a{b{c}}d}", 1}, {"{a^}b}", 1}, {"{a\"b}", 1}, {"{line1\nline2}", 1}, {"{\xE2\x98\xBA}", 2},
        {"%{a}b}%", 1}, {"%{^/}%", 1}, {"%%{a}% b}%%", 1}, {"%{}%", 1},
    };
    for (auto& r : texts) {
        Cell v = one(r.text);
        EXPECT_EQ(v.w1, 0u) << r.text;
        EXPECT_EQ(v.w3, 0u) << r.text;
        EXPECT_EQ(unit_of(v), r.unit) << r.text;
    }
    for (const char* b : {"#{0102FF}", "#{}", "#{ab cd}", "16#{ 01 02 ; a comment {[ }\n 03}", "2#{00000001}",
                          "2#{10000000 11111111}", "64#{AQ==}", "64#{YWJj}", "64#{YWI=}", "64#{YW\nJj}"}) {
        Cell bin = one(b);
        EXPECT_EQ(bin.w1, 0u) << b;
        EXPECT_EQ(bin.w3, 0u) << b;
    }

    // Words are bound to the global context at a slot; refinements are not bound; issues have
    // no slot.
    for (const char* w : {"abc", "abc:", ":abc", "'abc", "+", "-", "<", "<=", ">", "<>", "%", "/", "//", "a-b?", "-abc",
                          "\xC3\xA9t\xC3\xA9", "ab\xC2\xA0", "=", "'+", "x:"}) {
        Cell v = one(w);
        EXPECT_EQ(v.w1, context::global()) << w;
        EXPECT_GE(static_cast<int32_t>(v.w3), 0) << w;
    }
    EXPECT_EQ(one("/abc").w1, 0u);
    for (const char* i : {"#abc", "#FF00"}) {
        Cell v = one(i);
        EXPECT_EQ(v.w1, context::global()) << i;
        EXPECT_EQ(v.w3, 0xFFFFFFFFu) << i;
    }
    // Case variants share the slot of the first one.
    auto v = values("foo FOO");
    EXPECT_NE(v[0].w2, v[1].w2);
    EXPECT_EQ(v[0].w3, v[1].w3);

    for (const char* p : {"a/b", "a/b/c", "a/1", "a/1.5", "a/1.2.3", "a/(b c)", "a/(b)/c", "a/\"s\"/b", "a/'b/:c", "a/#x",
                          "a/-", "a/(1, 2)/b", "a/$1", "a/<t>", "'a/b", ":a/b", "a/b:", "a/b/1:"}) {
        Cell path = one(p);
        EXPECT_EQ(path.w1, 0u) << p;
        EXPECT_EQ(path.w3, 0u) << p;
    }
    EXPECT_NE(one("#[a 1]").w3, 0u);  // the key table is made when the map is loaded
}

// ---- modes -------------------------------------------------------------------------------------------------

TEST_F(LexerTest, OneValueIntoAndNextPosition) {
    lexer::Options o;
    o.one_value = true;
    int64_t next = -1;
    uint32_t type = 0;
    Cell* v = scan_text("  12 34", o, &type, &next);
    EXPECT_EQ(type_of(*v), T_integer);
    EXPECT_EQ(v->w2, 12u);
    EXPECT_EQ(type, T_integer);
    EXPECT_EQ(next, 4);
    v = scan_text("[1 2] 3", o, &type, &next);
    EXPECT_EQ(type_of(*v), T_block);
    EXPECT_EQ(next, 5);
    o.as_block = true;
    v = scan_text("x y", o, &type, &next);
    ASSERT_EQ(type_of(*v), T_block);
    EXPECT_EQ(cells_of(*v).size(), 1u);
    o.as_block = false;
    v = scan_text(" ", o, &type, &next);
    EXPECT_EQ(type_of(*v), T_block);
    EXPECT_EQ(type, 0u);

    // Into a block: appended at its tail.
    Cell* into = scan_text("[0]");
    Cell target = cells_of(*into)[0];
    lexer::Options i;
    i.into = &target;
    scan_text("1 2", i);
    EXPECT_EQ(cells_of(target).size(), 3u);
    i.one_value = true;
    scan_text("3 4", i);
    auto all = cells_of(target);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3].w2, 3u);

    // A string input counts characters consumed, a binary bytes.
    Cell* s = str("\u00e9\u00e9 x");
    Cell* out = stack::reserve();
    lexer::load(*out, *s, -1, o, &next);
    EXPECT_EQ(next, 2);
    EXPECT_EQ(spelling(*out), "\u00e9\u00e9");
    Cell* part = stack::reserve();
    lexer::Options whole;
    lexer::load(*part, *s, 1, whole, &next);
    EXPECT_EQ(next, 1);
    EXPECT_EQ(spelling(cells_of(*part)[0]), "\u00e9");
}

// tests/kov/lexer.kov holds the datatype each text scans to; here, that scanning alone leaves
// no scan running, whatever the text.
TEST_F(LexerTest, ScanOnlyModeLeavesNoScanRunning) {
    lexer::Options o;
    o.load = false;
    for (const char* text : {"123 x", "\"abc\" x", "[a b] c", "", "\"abc", "[a", "}"}) {
        uint32_t type = 99;
        scan_text(text, o, &type);
        EXPECT_NE(type, 99u) << text;
    }
    EXPECT_EQ(lexer::active_scans(), 0u);
}

// ---- the callback ---------------------------------------------------------------------------------------

namespace {

struct Recorder {
    std::vector<std::string> events;
    std::function<bool(lexer::Event, Cell&, const Cell&, int32_t, const Cell&)> answer;
    static bool call(void* data, lexer::Event event, Cell& input, const Cell& type, int32_t line, const Cell& token) {
        auto self = static_cast<Recorder*>(data);
        static const char* names[] = {"", "prescan", "scan", "", "load", "", "", "", "open"};
        std::string name = event == lexer::ev_close ? "close" : event == lexer::ev_error ? "error" : names[event];
        std::string t = cell::is(type, T_datatype) ? type_name(type.w1) : "none";
        std::string tok = cell::is(token, T_pair) ? std::to_string(pair::x(token)) + "x" + std::to_string(pair::y(token))
                                                  : type_name(cell::type(token));
        self->events.push_back(name + " " + t + " " + tok + " L" + std::to_string(line));
        return self->answer ? self->answer(event, input, type, line, token) : true;
    }
};

}  // namespace

TEST_F(LexerTest, CallbackEvents) {
    Recorder rec;
    lexer::Callback cb;
    cb.fn = Recorder::call;
    cb.data = &rec;
    lexer::Options o;
    o.callback = &cb;
    Cell* input = str("a [1]\n; c");
    Cell* out = stack::reserve();
    lexer::load(*out, *input, -1, o, nullptr);
    std::vector<std::string> expected = {
        "prescan word! 1x2 L1", "scan word! 1x2 L1",    "load word! word! L1",    "prescan none 3x3 L1",
        "open block! 3x4 L1",   "prescan integer! 4x5 L1", "scan integer! 4x5 L1", "load integer! integer! L1",
        "prescan none 5x5 L1",  "close block! 5x6 L1",  "prescan none 7x10 L2",   "scan none 7x10 L2",
    };
    EXPECT_EQ(rec.events, expected);
    // Refusals: no load drops the value, no scan skips it, no prescan skips the token.
    rec.events.clear();
    rec.answer = [](lexer::Event e, Cell&, const Cell& type, int32_t, const Cell&) {
        return !(e == lexer::ev_load && type.w1 == T_integer) && !(e == lexer::ev_scan && type.w1 == T_string) &&
               !(e == lexer::ev_prescan && type.w1 == T_float_);
    };
    Cell* r = scan_text("1 \"s\" 2.5 x", o);
    auto v = cells_of(*r);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(type_of(v[0]), T_word);
    // A skipped token takes its closing character along.
    rec.answer = [](lexer::Event e, Cell&, const Cell& type, int32_t, const Cell&) {
        return !(e == lexer::ev_prescan && (type.w1 == T_string || type.w1 == T_point2d || type.w1 == T_percent));
    };
    Cell* skipped = scan_text("\"a\" (1, 2) 5% x {b}", o);
    auto left = cells_of(*skipped);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(spelling(left[0]), "x");
    EXPECT_EQ(text(left[1]), "b");  // inside a braced string no prescan is asked
    // The event mask: only errors, answered false, end the scan quietly.
    rec.events.clear();
    cb.mask = lexer::ev_error;
    rec.answer = [](lexer::Event, Cell&, const Cell&, int32_t, const Cell&) { return false; };
    Cell* q = scan_text("a [b", o);
    EXPECT_EQ(type_of(*q), T_none);
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0], "error block! 3x5 L1");
    // A refused error inside the text goes on after the bad byte.
    rec.events.clear();
    Cell* w = scan_text("a } b", o);
    ASSERT_EQ(type_of(*w), T_block);
    EXPECT_EQ(cells_of(*w).size(), 2u);
}

TEST_F(LexerTest, CallbackMovesTheInput) {
    Recorder rec;
    lexer::Callback cb;
    cb.fn = Recorder::call;
    cb.data = &rec;
    cb.mask = lexer::ev_load;
    lexer::Options o;
    o.callback = &cb;
    // After the first value the scan jumps to the character at index 6 (the "z").
    bool moved = false;
    rec.answer = [&](lexer::Event, Cell& input, const Cell&, int32_t, const Cell&) {
        if (!moved) input.w1 += 4;
        moved = true;
        return true;
    };
    Cell* input = str("\u00e9 x y z");
    Cell* out = stack::reserve();
    lexer::load(*out, *input, -1, o, nullptr);
    auto v = cells_of(*out);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(spelling(v[1]), "z");
    // An index set past either end is clamped to the text.
    rec.answer = [](lexer::Event, Cell& input, const Cell&, int32_t, const Cell&) {
        input.w1 = 0x7FFFFFF0;
        return true;
    };
    lexer::load(*out, *input, -1, o, nullptr);
    EXPECT_EQ(cells_of(*out).size(), 1u);
    moved = false;
    rec.answer = [&](lexer::Event, Cell& input, const Cell&, int32_t, const Cell&) {
        if (!moved) input.w1 = uint32_t(-5);
        moved = true;
        return true;
    };
    lexer::load(*out, *input, -1, o, nullptr);
    EXPECT_EQ(cells_of(*out).size(), 5u);  // the first value, then all four again
}

TEST_F(LexerTest, CallbackThatRaisesLeavesNothingBehind) {
    Recorder rec;
    lexer::Callback cb;
    cb.fn = Recorder::call;
    cb.data = &rec;
    lexer::Options o;
    o.callback = &cb;
    uint64_t conversion = lexer::conversion_used();
    // A nested scan inside the callback, then an error from the callback.
    rec.answer = [&](lexer::Event e, Cell&, const Cell& type, int32_t, const Cell&) {
        if (e == lexer::ev_load && type.w1 == T_integer) {
            lexer::Options inner;
            Cell* nested = scan_text("[p q] r", inner);
            EXPECT_EQ(cells_of(*nested).size(), 2u);
            EXPECT_EQ(lexer::active_scans(), 1u);
            error::fire(err::user_message, Cell{T_integer, 0, 7, 0});
        }
        return true;
    };
    Cell* input = str("[a [b 1 c]] d");
    Cell* out = stack::reserve();
    *out = none_cell;
    try {
        lexer::load(*out, *input, -1, o, nullptr);
        ADD_FAILURE() << "the error did not pass through";
    } catch (const Error& e) {
        EXPECT_EQ(e.id, err::user_message);
        EXPECT_EQ(e.args[0].w2, 7u);
    }
    EXPECT_EQ(type_of(*out), T_none);
    EXPECT_EQ(lexer::active_scans(), 0u);
    EXPECT_EQ(lexer::conversion_used(), conversion);
    // The lexer is whole again: a new scan starts from an empty buffer.
    auto v = values("[x] y");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(cells_of(v[0]).size(), 1u);

    // A pending exit (a throw from language code) ends the scan; the exit stays pending.
    rec.answer = [](lexer::Event e, Cell&, const Cell&, int32_t, const Cell&) {
        if (e == lexer::ev_load) stack::pending.code = stack::exit_throw;
        return true;
    };
    uint32_t type = 99;
    Cell* r = stack::reserve();
    *r = none_cell;
    type = lexer::scan(reinterpret_cast<const uint8_t*>("a b"), 3, o, none_cell, *r);
    EXPECT_EQ(type, 0u);
    EXPECT_TRUE(stack::exiting());
    EXPECT_EQ(type_of(*r), T_none);
    stack::pending.code = stack::no_exit;
    EXPECT_EQ(lexer::active_scans(), 0u);
}

// ---- the value buffer and collections -------------------------------------------------------------------

namespace {

// Gives the series types that have no module yet the marking hooks the collector needs, for
// the duration of a test, and switches the collector on.
struct Collecting : Runtime {
    std::vector<uint32_t> patched;
    void SetUp() override {
        struct Hook {
            uint32_t type;
            datatype::MarkFn fn;
        } hooks[] = {
            {T_block, collector::mark_block_value},     {T_paren, collector::mark_block_value},
            {T_path, collector::mark_block_value},      {T_lit_path, collector::mark_block_value},
            {T_set_path, collector::mark_block_value},  {T_get_path, collector::mark_block_value},
            {T_map, collector::mark_block_value},       {T_file, collector::mark_string_value},
            {T_url, collector::mark_string_value},      {T_tag, collector::mark_string_value},
            {T_email, collector::mark_string_value},    {T_ref, collector::mark_string_value},
            {T_string, collector::mark_string_value},   {T_binary, collector::mark_series_value},
        };
        for (auto& h : hooks)
            if (!datatype::types[h.type].mark) {
                datatype::types[h.type].mark = h.fn;
                patched.push_back(h.type);
            }
        collector::enable(true);
    }
    void TearDown() override {
        collector::enable(false);
        for (uint32_t t : patched) datatype::types[t].mark = nullptr;
    }
};

}  // namespace

TEST_F(Collecting, ValuesUnderConstructionSurviveCollections) {
    // Enough values to grow the buffer several times, each holding series of its own.
    std::string source;
    for (int i = 0; i < 3000; ++i) {
        source += "[\"s" + std::to_string(i) + "\" %f" + std::to_string(i) + " #{0" + std::to_string(i % 10) + "} (w" +
                std::to_string(i % 50) + " <t>)] ";
        if (i % 7 == 0) source += "\n";
    }
    uint32_t before = collector::collections();
    Cell* b = scan_text(source);
    for (int k = 0; k < 3; ++k) collector::collect();
    EXPECT_GE(collector::collections(), before + 3);
    auto v = cells_of(*b);
    ASSERT_EQ(v.size(), 3000u);
    for (int i = 0; i < 3000; i += 97) {
        auto e = cells_of(v[i]);
        ASSERT_EQ(e.size(), 4u);
        EXPECT_EQ(text(e[0]), "s" + std::to_string(i));
        EXPECT_EQ(type_of(e[1]), T_file);
        EXPECT_EQ(text(e[1]), "f" + std::to_string(i));
        EXPECT_EQ(bytes_of(e[2]), std::vector<uint8_t>{uint8_t(i % 10)});
        EXPECT_EQ(spelling(cells_of(e[3])[0]), "w" + std::to_string(i % 50));
        EXPECT_EQ(text(cells_of(e[3])[1]), "t");
    }
    EXPECT_GE(lexer::buffer_capacity(), 4000u);
    EXPECT_EQ(memory::verify(), nullptr);
}

TEST_F(Collecting, NestedScansFromTheCallbackKeepTheirParentsValues) {
    Recorder rec;
    lexer::Callback cb;
    cb.fn = Recorder::call;
    cb.data = &rec;
    cb.mask = lexer::ev_load;
    lexer::Options o;
    o.callback = &cb;
    std::vector<std::string> nested_texts;
    // After each integer, whose string before it is held by the value buffer alone.
    rec.answer = [&](lexer::Event, Cell&, const Cell& type, int32_t, const Cell&) {
        if (type.w1 == T_integer) {
            lexer::Options inner;
            Cell* n = scan_text(std::string(200, '[') + "\"deep\"" + std::string(200, ']'), inner);
            Cell d = *n;
            for (int i = 0; i < 201; ++i) d = cells_of(d)[0];
            nested_texts.push_back(text(d));
            collector::collect();
        }
        return true;
    };
    std::string outer;
    for (int i = 0; i < 50; ++i) outer += "[\"o" + std::to_string(i) + "\" 1] ";
    Cell* b = scan_text(outer, o);
    auto v = cells_of(*b);
    ASSERT_EQ(v.size(), 50u);
    EXPECT_EQ(nested_texts.size(), 50u);
    EXPECT_EQ(nested_texts.back(), "deep");
    for (int i = 0; i < 50; ++i) EXPECT_EQ(text(cells_of(v[i])[0]), "o" + std::to_string(i));
    EXPECT_EQ(memory::verify(), nullptr);
}
