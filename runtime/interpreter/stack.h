// The value stack: where arguments, locals and intermediate results live as cells. It is a
// fixed buffer of 20000 cells made once at start that never moves, so cells on it keep their
// addresses for the whole run (natives take their arguments as cell pointers). The argument
// base is the first argument cell of the running native, action or function, which is also
// its result cell. The collector marks every cell from the bottom to the top.
//
// Overflow raises internal/stack-overflow after moving the top back a few cells, which is
// the room the error machinery needs.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace kov::stack {

constexpr uint32_t value_stack_cells = 20000;

struct Values {
    Cell* begin = nullptr;
    Cell* top = nullptr;    // the next free cell
    Cell* end = nullptr;
    Cell* args = nullptr;   // the argument base
};
extern Values values;

void init();
bool ready();

[[noreturn]] void overflow();

inline Cell* reserve() {
    Cell* c = values.top++;
    if (values.top >= values.end) overflow();
    *c = Cell{T_unset, 0, 0, 0};
    return c;
}
inline Cell* push(const Cell& v) {
    Cell* c = values.top++;
    if (values.top >= values.end) overflow();
    *c = v;
    return c;
}
inline void pop(uint32_t n) {
    values.top = static_cast<uint32_t>(values.top - values.begin) > n ? values.top - n : values.begin;
}
inline Cell* top() { return values.top > values.begin ? values.top - 1 : values.begin; }
inline uint32_t top_type() { return cell::type(*top()); }
inline Cell* arguments() { return values.args; }
inline void reset() { values.top = values.args; }
inline void keep() { values.top = values.args + 1; }
inline Cell* set_last(const Cell& v) { *values.args = v; return values.args; }
inline Cell* set_result(const Cell& v) {
    values.top = values.args + 1;
    *values.args = v;
    return values.args;
}

// Saves and restores the value-stack top (C++ code that pushes temporaries).
class Mark {
public:
    Mark() : top_(values.top), args_(values.args) {}
    ~Mark() {
        values.top = top_;
        values.args = args_;
    }
    Mark(const Mark&) = delete;
    Mark& operator=(const Mark&) = delete;

private:
    Cell* top_;
    Cell* args_;
};

}  // namespace kov::stack
