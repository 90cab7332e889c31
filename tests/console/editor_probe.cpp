// Reads lines with the line editor and echoes each one as "got [text]", so that a script can
// drive it in a real terminal. It ends after the line "q" (what Ctrl+C and Ctrl+D on an empty
// line give) and at the end of input ("[end]"). The line "fault" makes it fault while the
// terminal is in raw mode, to show that the terminal gets its settings back.
#include <cstdint>
#include <cstring>

#include "boot/start.h"
#include "console/line_editor.h"
#include "runtime/cell.h"
#include "runtime/console_output.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"
#include "runtime/platform/terminal.h"
#include "runtime/runtime.h"
#include "runtime/unicode.h"

using namespace kov;

#pragma GCC diagnostic ignored "-Warray-bounds"  // the fault is the point

namespace {

void say(const char* text) { console::print_string(reinterpret_cast<const uint8_t*>(text), std::strlen(text), 1, true); }

bool is(const Cell& s, const char* text) {
    Cell t = s;
    return string::rs_length_q(t) == int32_t(std::strlen(text)) && string::starts_with_literal_q(t, text);
}

}  // namespace

int main(int argc, char** argv) {
    runtime::init_process(argc, argv);
    boot::init_runtime();
    Cell* title = string::load(reinterpret_cast<const uint8_t*>("editor probe"), 12, nullptr, 0);
    line_editor::init(title);
    Cell* history = block::push_new(16);
    for (;;) {
        stack::Mark mark;
        Cell* line = string::push(1, 1);
        line_editor::setup(*line, *history);
        Cell* prompt = string::load(reinterpret_cast<const uint8_t*>(">> "), 3, nullptr, 0);
        if (!line_editor::edit(*prompt, false)) {
            say("[end]");
            break;
        }
        // "got [" text "]" as one print, so that the line shows whole.
        Cell* out = string::push(16, 1);
        string::concatenate_literal(*out, "got [");
        string::concatenate(*out, *line, -1, 0, false, string::append_mode);
        string::concatenate_literal(*out, "]");
        print_hooks::console_writer(*out, true);
        if (is(*line, "q")) break;
        if (is(*line, "fault")) {
            os::tty::enter_raw();
            volatile int* p = reinterpret_cast<volatile int*>(static_cast<uintptr_t>(8));
            *p = 1;
        }
    }
    runtime::quit(0, 0);
}
