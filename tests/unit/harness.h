// A small C++ harness for datatype tests: the runtime brought up once, strings made from
// UTF-8, and the form, mold and compare actions called through the action table.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "boot/start.h"
#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kov::test {

struct Runtime : ::testing::Test {
    stack::Mark mark;  // every test leaves the value stack as it found it
    static void SetUpTestSuite() { boot::init_runtime(); }
    Runtime() { boot::init_runtime(); }
};

// Collections run while the guard lives (at every allocation under gc-stress).
struct CollectorOn {
    CollectorOn() { collector::enable(true); }
    ~CollectorOn() { collector::enable(false); }
};

// A runtime test during which the collector runs.
struct CollectingRuntime : Runtime {
    CollectorOn collecting;
};

inline Cell I(int32_t v) { return integer::make(v); }

// A block of integers on the value stack.
inline Cell* ints(std::initializer_list<int32_t> values) {
    Cell* b = block::push_new(static_cast<int32_t>(values.size()));
    for (int32_t v : values) block::rs_append(*b, I(v));
    return b;
}

// A string on the value stack (so it stays reachable for the test's duration).
inline Cell* str(const std::string& utf8) {
    return string::load(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), nullptr, 0);
}

// The characters of a string value from its index, as UTF-8.
inline std::string text(const Cell& s) {
    std::string out;
    memory::Buffer* b = memory::buffer(s.w2);
    uint32_t unit = b->unit();
    uint32_t n = b->used() / unit;
    for (uint32_t i = s.w1; i < n; ++i) {
        uint32_t cp = unicode::char_at(b->head_ptr() + i * unit, unit);
        uint8_t buf[4];
        int32_t k = unicode::encode_utf8(cp, buf);
        out.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(k));
    }
    return out;
}

inline uint32_t unit_of(const Cell& s) { return memory::buffer(s.w2)->unit(); }

inline std::string form(const Cell& v) {
    Cell* out = string::push(16, 1);
    auto fn = actions::lookup<actions::slot::form>(cell::type(v));
    if (!fn) return "<no form>";
    Cell copy = v;
    fn(&copy, out, nullptr, 0x7FFFFFFF);
    return text(*out);
}

inline std::string mold(const Cell& v, bool all = false) {
    Cell* out = string::push(16, 1);
    auto fn = actions::lookup<actions::slot::mold>(cell::type(v));
    if (!fn) return "<no mold>";
    Cell copy = v;
    fn(&copy, out, MoldArgs{.all = all}, 0x7FFFFFFF);
    return text(*out);
}

// The raw answer of the comparison slot.
inline int32_t compare_raw(const Cell& a, const Cell& b, int32_t op) {
    auto fn = actions::lookup<actions::slot::compare>(cell::type(a));
    Cell x = a, y = b;
    return fn ? fn(&x, &y, op) : -99;
}

// The catalogue id of the error the call raises, or nothing.
template <class F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return std::string(err::category_words[err::defs[e.id].category]) + "/" + err::defs[e.id].word;
    }
    return "no error";
}

}  // namespace kov::test
