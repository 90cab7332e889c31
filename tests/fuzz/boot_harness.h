// What the fuzz targets that run Kov code share: the program brought up as `kov` brings
// itself up (the runtime, then the boot image with the whole library), with its output
// thrown away.
#pragma once
#include <cstdio>
#include <cstdlib>

#include "boot/image.h"
#include "boot/loader.h"
#include "boot/start.h"
#include "runtime/platform/os.h"

namespace kov::fuzz {

// Runs print a lot; nobody reads it.
inline void quiet_output() {
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

// The runtime and the boot definitions, on the calling thread (the fuzzer's), with a small
// reserve kept back for the stack-overflow error.
inline void boot_program() {
    os::note_stack_bounds(2 << 20);
    boot::init_runtime();
    boot::run_image(boot::image, boot::image_size);
}

}  // namespace kov::fuzz
