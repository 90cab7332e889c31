// Start-up: the fixed order in which the program brings itself up, from the entry point to
// the console.
#pragma once
#include <cstddef>

namespace kov::boot {

// Native stack of the evaluating thread, and the part kept back for raising stack-overflow.
// AddressSanitizer clears the marks of the frames an exception unwinds only on stacks under
// 64 MiB; on a larger one, the marks a stack-overflow error leaves behind are reported as
// faults by the next deep evaluation. The sanitized build keeps below that size.
#if defined(__SANITIZE_ADDRESS__)
#define KOV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KOV_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef KOV_ADDRESS_SANITIZER
constexpr std::size_t stack_size = std::size_t(60) << 20;
#else
constexpr std::size_t stack_size = std::size_t(256) << 20;
#endif
constexpr std::size_t stack_reserve = std::size_t(8) << 20;

// The whole program: systems-level start, then the runtime on the evaluating thread.
// `after_boot`, when given, runs once the boot definitions are in place (the test build adds
// its natives there).
int main(int argc, char** argv, void (*after_boot)() = nullptr);
// The language runtime start, in its fixed order (everything below the console).
void init_runtime();

}  // namespace kov::boot
