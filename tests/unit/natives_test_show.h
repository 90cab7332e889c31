// Results of the natives' tests as text: the value is written here for the datatypes whose text form is not built in every branch (pair!,
// point2D!, point3D!, tuple!, time!, issue!, money!, the strings, binary!); every other value
// is molded. The forms follow the literal syntax closely enough to read as Kov.
#pragma once
#include <cstdio>
#include <string>

#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "tests/unit/eval_harness.h"

namespace kov::test {

inline std::string float_text(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9g", d);
    std::string s = buf;
    if (s.find_first_of(".ein") == std::string::npos) s += ".0";
    return s;
}

inline std::string describe(const Cell& v) {
    char buf[64];
    switch (cell::type(v)) {
    case T_pair:
        return std::to_string(pair::x(v)) + "x" + std::to_string(pair::y(v));
    case T_point2d:
        return "(" + float_text(point2d::x(v)) + ", " + float_text(point2d::y(v)) + ")";
    case T_point3d:
        return "(" + float_text(point3d::x(v)) + ", " + float_text(point3d::y(v)) + ", " + float_text(point3d::z(v)) + ")";
    case T_tuple: {
        std::string s;
        for (uint32_t i = 0; i < tuple::length(v); ++i) s += (i ? "." : "") + std::to_string(tuple::byte_at(v, i));
        return s;
    }
    case T_time: {
        double t = cell::get_double(v);
        long whole = static_cast<long>(t);
        if (whole != t) return "time " + float_text(t);
        std::snprintf(buf, sizeof buf, "%s%ld:%02ld:%02ld", whole < 0 ? "-" : "", std::labs(whole) / 3600,
                      std::labs(whole) / 60 % 60, std::labs(whole) % 60);
        return buf;
    }
    case T_issue: {
        symbol::Spelling sp = symbol::spelling(v.w2);
        return "#" + std::string(reinterpret_cast<const char*>(sp.bytes), sp.length);
    }
    case T_money: {
        std::string s = money::negative_q(v) ? "-" : "";
        if (money::currency(v)) s += money::currency_code(money::currency(v));
        s += "$";
        std::string digits;
        for (uint32_t k = 1; k <= money::digit_count; ++k) digits += char('0' + money::get_digit(v, k));
        size_t first = digits.find_first_not_of('0');
        std::string whole = first < money::integer_digits ? digits.substr(first, money::integer_digits - first) : "0";
        return s + whole + "." + digits.substr(money::integer_digits);
    }
    case T_string: return "\"" + text(v) + "\"";
    case T_file: return "%" + text(v);
    case T_url: case T_email: return text(v);
    case T_tag: return "<" + text(v) + ">";
    case T_binary: {
        std::string s = "#{";
        memory::Buffer* b = memory::buffer(v.w2);
        for (uint32_t i = v.w1; i < b->used(); ++i) {
            std::snprintf(buf, sizeof buf, "%02X", b->head_ptr()[i]);
            s += buf;
        }
        return s + "}";
    }
    default: return mold(v);
    }
}

// Evaluates the text and gives the text `text_of` makes of its value, or "error: category/id".
// The code and the value stay on the value stack until the text is made, since making it
// allocates (and, in the gc-stress build, collects).
inline std::string evaluate(const std::string& source, std::string (*text_of)(const Cell&)) {
    stack::Mark mark;
    uint32_t depth = stack::depth();
    Cell* code = stack::reserve();
    Cell* value = stack::reserve();
    lexer::Options options;
    try {
        lexer::scan(reinterpret_cast<const uint8_t*>(source.data()), source.size(), options, none::value, *code);
        stack::push_frame(stack::eval, nullptr);
        stack::reserve();
        interp::eval_block(*code, true);
        *value = *stack::values.args;
        stack::drop_frame();
        stack::values.top = value + 1;
        if (stack::exiting()) {
            stack::pending = stack::Pending{};
            return "pending exit";
        }
        return text_of(*value);
    } catch (const Error& e) {
        stack::unroll_to(depth, value + 1, stack::values.args);
        stack::pending = stack::Pending{};
        return std::string("error: ") + err::category_words[err::defs[e.id].category] + "/" + err::defs[e.id].word;
    }
}

inline std::string show(const std::string& source) { return evaluate(source, describe); }

}  // namespace kov::test
