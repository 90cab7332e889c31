#include "runtime/interpreter/natives.h"

#include "runtime/interpreter/stack.h"

namespace kov::natives {

Entry table[capacity + 1] = {};
bool last_line_feed = true;

const char* const words[count + 1] = {
    nullptr,
#define NATIVE(n, word, ident) word,
#include "runtime/defs/natives.def"
#undef NATIVE
};

void register_entry(uint32_t index, Entry entry) {
    if (index >= 1 && index <= capacity) table[index] = entry;
}

Cell* arg(uint32_t k) { return stack::values.args + k; }

}  // namespace kov::natives
