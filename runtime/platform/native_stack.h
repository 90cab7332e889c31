// The calling thread's native stack as memory to look through: the collector reads it to learn
// which node ids C++ frames still hold, so that it never renumbers those nodes.
#pragma once
#include <cstdint>

namespace kov::os {

// Where a collection began: the callee-saved registers as they were there (copied out of the
// frame that spilled them) and the address from which the stack belongs to the frames that
// called the collector. The collector's own, deeper frames are never read: their unused
// slots hold ids left by earlier collections.
struct StackMark {
    uintptr_t from = 0;
    uint32_t count = 0;       // words in `saved`
    uint64_t saved[32] = {};
};
void mark_native_stack(StackMark& mark);

// Calls visit(word, data) for each saved register word and every 8-byte word of the calling
// thread's stack from the mark to the stack's upper end. Does nothing when the stack's
// bounds cannot be learnt.
void scan_native_stack(const StackMark& mark, void (*visit)(uint64_t word, void* data), void* data);

}  // namespace kov::os
