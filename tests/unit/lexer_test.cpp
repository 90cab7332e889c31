// The lexer: every literal syntax, levels and paths, line counting, syntax errors, the
// callback, and the value buffer under collections.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/lexer/lexer.h"
#include "runtime/lexer/tables.h"
#include "runtime/lexer/tokenizer.h"
#include "tests/unit/harness.h"

using namespace kov;
using namespace kov::test;

namespace {

struct LexerTest : Runtime {};

// Scans the text; the result (a block, or one value) is a value-stack cell.
Cell* scan_text(const std::string& text, lexer::Options o = {}, uint32_t* type = nullptr) {
    Cell* out = stack::reserve();
    uint32_t t = lexer::scan(reinterpret_cast<const uint8_t*>(text.data()), text.size(), o, Cell{T_none, 0, 0, 0}, *out);
    if (type) *type = t;
    return out;
}

std::vector<Cell> cells_of(const Cell& block) {
    memory::Buffer* b = memory::buffer(block.w2);
    auto begin = reinterpret_cast<Cell*>(b->head_ptr()) + block.w1;
    auto end = reinterpret_cast<Cell*>(b->tail_ptr());
    return std::vector<Cell>(begin, end);
}

// The values of the text, which must scan.
std::vector<Cell> values(const std::string& text) { return cells_of(*scan_text(text)); }

// The one value of the text.
Cell one(const std::string& text) {
    auto v = values(text);
    EXPECT_EQ(v.size(), 1u) << text;
    return v.empty() ? Cell{T_none, 0, 0, 0} : v[0];
}

uint32_t type_of(const Cell& c) { return cell::type(c); }

// The error the text raises, as "id: arg, arg, arg" (strings as their text, datatypes by name,
// characters quoted), or "no error".
std::string error_text(const std::string& text) {
    try {
        scan_text(text);
    } catch (const Error& e) {
        std::string out = err::defs[e.id].word;
        out += ":";
        for (int i = 0; i < e.arg_count; ++i) {
            const Cell& a = e.args[i];
            out += " ";
            if (cell::is(a, T_string)) out += kov::test::text(a);
            else if (cell::is(a, T_datatype)) out += datatype::name_of(a.w1) ? datatype::name_of(a.w1) : std::to_string(a.w1);
            else if (cell::is(a, T_char_)) out += a.w2 ? std::string("'") + char(a.w2) + "'" : "NUL";
            else out += "?";
        }
        return out;
    }
    return "no error";
}

}  // namespace

TEST_F(LexerTest, Smoke) {
    auto v = values("1 2.5 \"abc\" 50% 1.2.3 10x20 #\"a\" $1.50 1:30 1-Feb-2024 #{0102} %a.txt http://x.y a@b.c <a> @r");
    ASSERT_EQ(v.size(), 16u);
    EXPECT_EQ(type_of(v[0]), T_integer);
    EXPECT_EQ(type_of(v[1]), T_float_);
    EXPECT_EQ(type_of(v[2]), T_string);
    EXPECT_EQ(type_of(v[3]), T_percent);
    EXPECT_EQ(type_of(v[4]), T_tuple);
    EXPECT_EQ(type_of(v[5]), T_pair);
    EXPECT_EQ(type_of(v[6]), T_char_);
    EXPECT_EQ(type_of(v[7]), T_money);
    EXPECT_EQ(type_of(v[8]), T_time);
    EXPECT_EQ(type_of(v[9]), T_date);
    EXPECT_EQ(type_of(v[10]), T_binary);
    EXPECT_EQ(type_of(v[11]), T_file);
    EXPECT_EQ(type_of(v[12]), T_url);
    EXPECT_EQ(type_of(v[13]), T_email);
    EXPECT_EQ(type_of(v[14]), T_tag);
    EXPECT_EQ(type_of(v[15]), T_ref);
    EXPECT_EQ(error_text("1''0"), "invalid: (line 1) integer! 1''0");
    EXPECT_EQ(error_text("[a b"), "missing: (line 1) ']' [a b");
}
