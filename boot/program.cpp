// The program behind the entry point of `kov` (and of `kov-test`): the systems-level start,
// then, on the evaluating thread, the runtime, the boot definitions and the console.
#include "boot/image.h"
#include "boot/loader.h"
#include "boot/start.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"

namespace kov::boot {

namespace {

void (*after_definitions)() = nullptr;

int run_program(void*) {
    os::note_stack_bounds(stack_reserve);
    // The outermost catch frame: whatever reaches it ends the process.
    try {
        init_runtime();
        run_image(image, image_size);
        if (after_definitions) after_definitions();
    } catch (const runtime::Throw& t) {
        runtime::quit_handler(t.code);
    } catch (const Error& e) {
        runtime::print_line({"*** Boot Error: the boot definitions failed"});
        print_error(e);
        runtime::exit_with(1);
    }
    // The console catches what its commands raise; what escapes it (an error in the command
    // line's handling, say) is reported and ends the process.
    try {
        evaluate("cli-console-ctx/launch");
    } catch (const runtime::Throw& t) {
        runtime::quit_handler(t.code);
    } catch (const Error& e) {
        print_error(e);
        runtime::exit_with(1);
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
