#include "runtime/platform/native_stack.h"

#include <pthread.h>

#include <cstddef>

namespace kov::os {

namespace {

// The upper end of the calling thread's stack, learnt once per thread; 0 when unknown.
uintptr_t stack_high() {
    thread_local uintptr_t high = 0;
    if (!high) {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
        void* low = nullptr;
        std::size_t size = 0;
        if (pthread_attr_getstack(&attr, &low, &size) == 0) high = reinterpret_cast<uintptr_t>(low) + size;
        pthread_attr_destroy(&attr);
    }
    return high;
}

}  // namespace

// Reads stack memory that the sanitizer poisons between frames: those reads are intended.
[[gnu::noinline, gnu::no_sanitize_address]] void mark_native_stack(StackMark& mark) {
    // Every callee-saved register is stored in this frame, between its locals and its return
    // address; they are copied out before the frame is left.
    __builtin_unwind_init();
    volatile uintptr_t marker = 0;
    uintptr_t low = reinterpret_cast<uintptr_t>(&marker) & ~uintptr_t(7);
    uintptr_t high = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) + 16;
    mark.count = 0;
    for (uintptr_t p = low; p < high && mark.count < 32; p += 8)
        mark.saved[mark.count++] = *reinterpret_cast<const uint64_t*>(p);
    mark.from = high;
    (void)marker;
}

[[gnu::noinline, gnu::no_sanitize_address]] void scan_native_stack(const StackMark& mark,
                                                                   void (*visit)(uint64_t, void*), void* data) {
    for (uint32_t i = 0; i < mark.count; ++i) visit(mark.saved[i], data);
    uintptr_t high = stack_high();
    if (!high || !mark.from || mark.from >= high) return;
    for (uintptr_t p = mark.from; p + 8 <= high; p += 8) visit(*reinterpret_cast<const uint64_t*>(p), data);
}

}  // namespace kov::os
