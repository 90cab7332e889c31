// Does one thing that ends the process on purpose, chosen by its argument, so that a test can
// check the report and the exit status.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/heap.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"

using namespace kov;

namespace {

#pragma GCC diagnostic ignored "-Winfinite-recursion"
#pragma GCC diagnostic ignored "-Warray-bounds"
int depth(int n) {
    volatile char pad[256];
    pad[0] = static_cast<char>(n);
    if (n >= 0) return depth(n + 1) + pad[0];  // n never turns negative in time
    return 0;
}

int run(void* arg) {
    const char* mode = static_cast<const char*>(arg);
    os::note_stack_bounds(0);
    if (!std::strcmp(mode, "null-deref")) {
        // Page 0 is never mapped; an address inside it faults like a null pointer.
        volatile int* p = reinterpret_cast<volatile int*>(static_cast<uintptr_t>(8));
        *p = 1;
    } else if (!std::strcmp(mode, "int-divide")) {
        int a = 1, b = 0;
        asm volatile("cltd; idivl %2" : "+a"(a) : "d"(0), "r"(b));  // past the compiler's checks
    } else if (!std::strcmp(mode, "runaway-recursion")) {
        return depth(0);
    } else if (!std::strncmp(mode, "quit-", 5)) {
        runtime::quit(std::atoi(mode + 5), KOV_CALLER_ADDRESS());
    } else if (!std::strcmp(mode, "uncaught-throw") || !std::strcmp(mode, "badcafe-throw")) {
        try {
            runtime::throw_code(mode[0] == 'u' ? 0x7FFFFFF7u : runtime::quiet_exit_code);
        } catch (const runtime::Throw& t) {
            runtime::quit_handler(t.code);
        }
    } else if (!std::strcmp(mode, "heap-exhausted")) {
        heap::allocate(SIZE_MAX / 2);
    }
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    runtime::init_process(argc, argv);
    if (argc < 2) return 2;
    return os::run_on_large_stack(std::size_t(8) << 20, run, argv[1]);
}
