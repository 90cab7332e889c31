// What the fuzz targets that run Kov code share: the program brought up as `kov` brings
// itself up (the runtime, then the boot image with the whole library), with its output
// thrown away.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/image.h"
#include "boot/loader.h"
#include "boot/start.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/series_buffer.h"

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

// The global words' values as the set-up left them, put back before every run: a run that
// redefines `catch` or `print` must not blind all the ones after it, and runs to compare
// must start alike.
inline Cell saved_globals{T_none, 0, 0, 0};
inline uint32_t saved_count = 0;
inline void mark_saved_globals() { collector::mark_cell(saved_globals); }

inline void save_globals() {
    saved_count = uint32_t(memory::buffer(context::global_values)->used() / sizeof(Cell));
    saved_globals = Cell{T_block, 0, series::copy_part(context::global_values, 0, saved_count), 0};
    collector::push_root(mark_saved_globals);
}

// The words made since the save keep their values.
inline void restore_globals() {
    auto* from = reinterpret_cast<const Cell*>(memory::buffer(saved_globals.w2)->head_ptr());
    auto* to = reinterpret_cast<Cell*>(memory::buffer(context::global_values)->head_ptr());
    std::memcpy(static_cast<void*>(to), from, saved_count * sizeof(Cell));
}

}  // namespace kov::fuzz
