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

// Reads stack memory that the sanitizer poisons between frames: those reads are intended.
[[gnu::noinline, gnu::no_sanitize_address]] void scan_from(uintptr_t from, void (*visit)(uint64_t, void*),
                                                           void* data) {
    uintptr_t high = stack_high();
    if (!high || from >= high) return;
    for (uintptr_t p = from & ~uintptr_t(7); p + 8 <= high; p += 8) visit(*reinterpret_cast<const uint64_t*>(p), data);
}

}  // namespace

[[gnu::noinline]] void scan_native_stack(void (*visit)(uint64_t word, void* data), void* data) {
    // Every callee-saved register is stored in this frame, below the caller's frames.
    __builtin_unwind_init();
    volatile uintptr_t marker = 0;
    scan_from(reinterpret_cast<uintptr_t>(&marker), visit, data);
    (void)marker;
}

}  // namespace kov::os
