#include "runtime/cycles.h"

#include <cmath>
#include <cstring>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"

namespace kov::cycles {

namespace {
memory::Node stack[capacity];
uint32_t top = 0;
}  // namespace

void push(memory::Node node) {
    stack[top++] = node;
    if (top >= capacity) {
        top = 0;
        error::fire(err::internal_too_deep);
    }
}

void pop() {
    if (top > 0) --top;
}

void drop(uint32_t n) { top = n < top ? top - n : 0; }
void reset() { top = 0; }
uint32_t depth() { return top; }

bool find_q(memory::Node node) {
    for (uint32_t i = 0; i < top; ++i)
        if (stack[i] == node) return true;
    return false;
}

void for_each(void (*fn)(memory::Node)) {
    for (uint32_t i = 0; i < top; ++i) fn(stack[i]);
}

bool detect_q(const Cell& value, Cell& out, int32_t& part, bool mold) {
    uint32_t t = cell::type(value);
    // Any series or bitset; the node is only compared, never followed.
    memory::Node node = t == T_object ? object::context_of(value) : cell::word<2>(value);
    if (!find_q(node)) return false;
    const char* text = "...";
    if (mold) {
        switch (t) {
        case T_block: case T_hash: text = "[...]"; break;
        case T_paren: text = "(...)"; break;
        case T_map: text = "#[...]"; break;
        case T_object: text = "make object! [...]"; break;
        default: break;
        }
    }
    part = string::emit(out, text, part);
    return true;
}

}  // namespace kov::cycles

namespace kov::mold {

int32_t indent(Cell& out, int32_t level, int32_t part) {
    for (int32_t i = 0; i < level; ++i) part = string::emit(out, "    ", part);
    return part;
}

}  // namespace kov::mold

namespace kov::value {

int32_t to_int_arg(const Cell& v) {
    if (cell::is(v, T_integer)) return integer::get(v);
    double d = cell::get_double(v);
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) error::fire(err::script_out_of_range, v);
    return static_cast<int32_t>(d);
}

}  // namespace kov::value

namespace kov::memory {

uint8_t* fill_pattern(uint8_t* buffer, uint32_t unit, uint32_t count) {
    uint64_t total = uint64_t(unit) * count;
    if (count == 0) return buffer;
    uint64_t filled = unit;
    while (filled * 2 <= total) {
        std::memcpy(buffer + filled, buffer, filled);
        filled *= 2;
    }
    std::memcpy(buffer + filled, buffer, total - filled);
    return buffer + total;
}

}  // namespace kov::memory
