// Prints each argument (UTF-8) through the print hooks, as the language's `prin` does, so
// that a script can look at what a real terminal makes of the output.
//   kov-print-probe [--line] [--wait] text...
// --line prints each text with a new line; --wait then holds until a line of input arrives,
// so that the cursor can be inspected where the output left it.
#include <cstring>

#include "runtime/cell.h"
#include "runtime/console_output.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/unicode.h"

using namespace kov;

int main(int argc, char** argv) {
    memory::init();
    console::init_output();
    print_hooks::init();
    bool line = false, wait = false;
    try {
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], "--line") == 0) {
                line = true;
            } else if (std::strcmp(argv[i], "--wait") == 0) {
                wait = true;
            } else {
                memory::Node text = unicode::load_utf8_new(argv[i], int64_t(std::strlen(argv[i])));
                print_hooks::print(cell::make(T_string, 0, text, 0), line);
            }
        }
    } catch (const Error& e) {
        const char* word = e.what();
        os::write_all(os::std_err, word, std::strlen(word));
        os::write_all(os::std_err, "\n", 1);
        return 2;
    }
    if (wait) {
        char c = 0;
        while (os::read_some(os::std_in, &c, 1) == 1 && c != '\n') {
        }
    }
    return 0;
}
