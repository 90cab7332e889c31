// kov-formstat: the memory of compiled forms after a script, for bench/forms (not installed).
//
// It is `kov FILE`, the very program entry, with the script's output thrown away; when the
// process ends, however the script ended it (at its end, by `quit`, or failing), it prints one
// line to standard error: the forms alive, the bytes the code cache counts for them, the
// positions that hold a compiled statement, and the bytes per such position.
//
// Usage: kov-formstat FILE [ARG...]
//        kov-formstat --budget      prints the forms' budget in bytes
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/start.h"
#include "runtime/interpreter/compiled/code_cache.h"

using namespace kov;

namespace {

void report() {
    std::size_t forms = code_cache::form_count();
    std::size_t bytes = code_cache::bytes();
    std::size_t cells = code_cache::compiled_cells();
    double per_cell = cells ? double(bytes) / double(cells) : 0.0;
    std::fprintf(stderr, "forms %zu  bytes %zu  compiled-cells %zu  bytes-per-cell %.1f\n", forms, bytes, cells,
                 per_cell);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--budget") == 0) {
        std::printf("%zu\n", code_cache::budget);
        return 0;
    }
    // Without a file, `kov` would start the console.
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: kov-formstat FILE [ARG...] | --budget\n");
        return 2;
    }
    // The C library's freopen keeps the stream on descriptor 1, where the output goes.
    if (!std::freopen("/dev/null", "w", stdout)) {
        std::fprintf(stderr, "kov-formstat: cannot throw the output away\n");
        return 2;
    }
    // Every way out of `kov` ends in exit().
    std::atexit(report);
    return boot::main(argc, argv);
}
