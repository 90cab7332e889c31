// The calling thread's native stack as memory to look through: the collector reads it to learn
// which node ids C++ frames still hold, so that it never renumbers those nodes.
#pragma once
#include <cstdint>

namespace kov::os {

// Calls visit(word, data) for every 8-byte word of the calling thread's stack from the
// caller's frame to the stack's upper end, after the callee-saved registers have been spilled
// onto it. Does nothing when the stack's bounds cannot be learnt.
void scan_native_stack(void (*visit)(uint64_t word, void* data), void* data);

}  // namespace kov::os
