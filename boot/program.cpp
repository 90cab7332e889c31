// The program behind the entry point of `kov` (and of `kov-test`): the systems-level start,
// then, on the evaluating thread, the runtime, the boot definitions and the console.
#include <exception>
#include <new>

#include "boot/image.h"
#include "boot/loader.h"
#include "boot/start.h"
#include "console/engine_words.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"

namespace kov::boot {

namespace {

void (*after_definitions)() = nullptr;

// Reports what reached the outermost handler and ends the process with status 1. When the
// report itself cannot be formed (memory is exhausted, say), a fixed line stands for it.
[[noreturn]] void fail(const char* heading, const Error* e) {
    try {
        if (heading) runtime::print_line({heading});
        if (!e) error::fire(err::internal_no_memory);
        print_error(*e);
    } catch (const Error& again) {
        if (!e) fail(nullptr, &again);
        runtime::print_line({"*** Error: not enough memory to report the error"});
    } catch (...) {
        runtime::print_line({"*** Error: not enough memory to report the error"});
    }
    runtime::exit_with(1);
}

int run_program(void*) {
    os::note_stack_bounds(stack_reserve);
    // The outermost catch frame: whatever reaches it ends the process.
    try {
        init_runtime();
        // The boot definitions fill most of the next 1.5 MB: their pages are made resident in
        // one call, which costs a fraction of a fault per page. (Past the buffers that
        // init_runtime made, whose reserved room mostly stays untouched and so not resident.)
        memory::prefault(3u << 19);
        run_image(image, image_size);
        // The image is read once, uncompressed for speed: its pages need not stay resident.
        os::drop_file_pages(image, image_size);
        // The scripts, and what their definitions made and dropped, are garbage now, spread
        // among the live data: one collection packs the live data at the frames' start, and
        // the pages after it go back to the system until they are needed again.
        collector::collect();
        memory::release_free_pages();
        collector::started();
        if (after_definitions) after_definitions();
        // From here on the console's own code reaches the values its words have now.
        engine_words::seal();
    } catch (const runtime::Throw& t) {
        runtime::quit_handler(t.code);
    } catch (const Error& e) {
        fail("*** Boot Error: the boot definitions failed", &e);
    } catch (const std::bad_alloc&) {
        fail("*** Boot Error: the boot definitions failed", nullptr);
    }
    // The console catches what its commands raise; what escapes it (an error in the command
    // line's handling, say) is reported and ends the process.
    try {
        evaluate("cli-console-ctx/launch");
    } catch (const runtime::Throw& t) {
        runtime::quit_handler(t.code);
    } catch (const Error& e) {
        fail(nullptr, &e);
    } catch (const std::bad_alloc&) {
        fail(nullptr, nullptr);
    }
    runtime::quit(0, 0);
}

}  // namespace

int main(int argc, char** argv, void (*after_boot)()) {
    after_definitions = after_boot;
    runtime::init_process(argc, argv);
    return os::run_on_large_stack(stack_size, run_program, nullptr);
}

}  // namespace kov::boot
