// The harness of the codec fuzz targets: the program boots as `kov` does (boot_harness.h),
// and each input is handed to Kov code as a binary!
// written in the source text, so that the decoder is reached exactly as a console user
// reaches it: the bytes converted to a string, then the codec's Kov function. The check
// code raises an error only when an invariant fails; any error that leaves it, or frames
// left on the stack, end the run.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/loader.h"
#include "runtime/error.h"
#include "runtime/interpreter/stack.h"
#include "tests/fuzz/boot_harness.h"

namespace kov::fuzz {

// Runs `prefix #{hex of the input} suffix` in the global context.
inline int run_with_input(const char* prefix, const uint8_t* data, size_t size, const char* suffix) {
    static bool ready = (boot_program(), true);  // output kept: it shows a failed check
    (void)ready;
    static const char digits[] = "0123456789ABCDEF";
    std::string code(prefix);
    code += " #{";
    for (size_t i = 0; i < size; ++i) {
        code += digits[data[i] >> 4];
        code += digits[data[i] & 15];
    }
    code += "} ";
    code += suffix;
    uint32_t depth = stack::depth();
    try {
        boot::evaluate(code.c_str());
    } catch (const Error& e) {
        boot::print_error(e);
        std::fflush(stdout);
        std::fprintf(stderr, "the check failed on this input\n");
        std::abort();
    }
    if (stack::exiting()) std::abort();
    if (stack::depth() != depth) std::abort();
    return 0;
}

}  // namespace kov::fuzz
