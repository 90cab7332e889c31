// The cycle stack: the series (or object contexts) that a recursive walk over values is
// currently inside. Molding, forming, comparing, deep copying and ownership all guard
// themselves with it, so that a block containing itself is not entered again. It holds at
// most 1000 entries: the 1000th nested level raises internal/too-deep after emptying the
// stack, so the next top-level operation starts clean. The collector marks its entries.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::cycles {

constexpr uint32_t capacity = 1000;

void push(memory::Node node);
void pop();
void drop(uint32_t n);
void reset();
bool find_q(memory::Node node);
uint32_t depth();
// Visits the entries (collector marking).
void for_each(void (*fn)(memory::Node));

// When the value's series (or object context) is being walked already, appends the text that
// stands for the repeat ("[...]", "(...)", "#[...]", "make object! [...]", "..." for paths,
// "..." for everything when forming), lowers the part budget and gives true.
bool detect_q(const Cell& value, Cell& out, int32_t& part, bool mold);

// Pops on scope exit: every push in C++ is paired with a guard, so that an error raised
// inside the walk leaves the stack as it was.
class Guard {
public:
    explicit Guard(memory::Node node) { push(node); }
    ~Guard() { pop(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

}  // namespace kov::cycles

namespace kov::mold {
// Appends four spaces per level; gives the part budget lowered by 4 per level.
int32_t indent(Cell& out, int32_t level, int32_t part);
}  // namespace kov::mold

namespace kov::value {
// An integer! gives its value; a float! is truncated toward zero, and one outside the 32-bit
// range (or NaN) raises script/out-of-range with the value.
int32_t to_int_arg(const Cell& value);
}  // namespace kov::value

namespace kov::memory {
// The first unit bytes of the buffer hold one element; fills it with count copies by
// doubling copies. Gives the end address.
uint8_t* fill_pattern(uint8_t* buffer, uint32_t unit, uint32_t count);
}  // namespace kov::memory
