// libFuzzer target for whole console sessions: the input is what a pipe feeds the console,
// read line by line through the line editor's standard-input path and evaluated by the
// console loop (`system/console/run`) until the input ends. The first byte chooses the form:
// even, the bytes as they are; odd, each byte picks a piece of Kov text (words, literals,
// openers and closers, line ends), so that sessions reach the evaluator as well as the lexer.
// A session must end at the end of its input, whatever it holds, with the stacks as they
// were.
//
// The process stays: `quit` (and the end of input) ends the session instead of the process;
// words that touch files, the environment or other programs raise an error instead; each
// session runs at most about a second of evaluation before it is interrupted as Ctrl+C would;
// the output goes to /dev/null; the current folder is a fresh temporary one.
//
// Build: the `fuzz` preset (tests/fuzz/CMakeLists.txt), then
//   build/fuzz/tests/fuzz/console_fuzz -max_total_time=60
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "boot/loader.h"
#include "console/line_editor.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/error.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/series_buffer.h"
#include "tests/fuzz/boot_harness.h"

namespace {

using namespace kov;

// The session's input, read by the line editor in place of standard input.
std::string input;
std::size_t input_pos = 0;

long read_session(void* bytes, std::size_t count) {
    std::size_t left = input.size() - input_pos;
    std::size_t n = count < left ? count : left;
    std::memcpy(bytes, input.data() + input_pos, n);
    input_pos += n;
    return long(n);
}

using fuzz::restore_globals;
using fuzz::save_globals;

// A watchdog raises the interrupt once a session has run past its deadline.
std::atomic<int64_t> deadline_ms{0};

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void watchdog() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        int64_t d = deadline_ms.load();
        if (d && now_ms() > d) os::interrupt_flag = 1;
    }
}

const char* const pieces[] = {
    "\n", "\n", " ", " ", "[", "]", "(", ")", "{", "}", "\"", "#[", "#(", "%{", "}%", "<a>", "#{", ";",
    "x", "y", "x:", ":x", "'x", "/", "1", "-2", "3.5", "1e308", "$1", "10%", "1x2", "1.2.3", "#\"a\"", "a/b",
    "b/2:", "%file", "http://a", "a@b", "1:2", "1-Jan-2000", "#abc", "^(1F600)", "none", "true", "print",
    "probe", "mold", "form", "do", "load", "reduce", "compose", "func", "function", "does", "has", "context",
    "make", "copy", "append", "insert", "remove", "take", "clear", "find", "select", "pick", "poke", "at", "skip",
    "head", "tail", "next", "back", "length?", "reverse", "sort", "parse", "loop", "repeat", "while", "until",
    "foreach", "forall", "forever", "either", "if", "unless", "case", "switch", "all", "any", "try", "attempt",
    "catch", "throw", "break", "continue", "return", "exit", "halt", "quit", "q", "ask", "input", "help", "?",
    "about", "source", "what", "system", "system/console", "system/console/prompt:", "system/console/result:",
    "system:", "transcode", "to", "string!", "block!", "integer!", "object!", "map!", "+", "-", "*", "/", "=",
    "<", ">", "and", "or", "not", "set", "get", "in", "bind", "words-of", "values-of", "rejoin", "join", "split",
    "replace", "trim", "uppercase", "lowercase", "charset", "bitset!", "to-binary", "enbase", "debase",
    "recycle", "stats", "now", "wait", "random", "checksum", "complement", "union", "intersect", "unique",
};
constexpr std::size_t piece_count = sizeof pieces / sizeof pieces[0];

void set_up() {
    fuzz::quiet_output();
    static char dir[] = "/tmp/kov-console-fuzz-XXXXXX";
    if (!mkdtemp(dir) || !os::set_current_dir(dir)) std::abort();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    });
    fuzz::boot_program();
    // The session's end, and the words with effects outside the process, made harmless.
    boot::evaluate(
        "system/options/cache: none "
        "change-dir to-kov-file get-current-dir "
        "quit-return: func [status] [throw/name 'session-end 'session-end] "
        "_save-cfg: func [] [] "
        "foreach w [write delete rename make-dir save change-dir cd call browse write-clipboard "
        "set-env get-env list-env read read-thru load-thru do-thru exists-thru? path-thru] ["
        "  set w func [] [cause-error 'access 'cannot-open [w]]"
        "] "
        "system/console/size: 80x50 "
        "fuzz-system: system fuzz-console: system/console fuzz-options: system/options");
    save_globals();
    line_editor::init(nullptr);
    line_editor::editor().console_input = false;  // even when the fuzzer runs in a terminal
    line_editor::editor().read_input = read_session;
    std::thread(watchdog).detach();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (set_up(), true);
    (void)ready;
    if (size == 0) return 0;
    input.clear();
    input_pos = 0;
    if (data[0] & 1) {
        for (size_t i = 1; i < size; ++i) {
            input += pieces[data[i] % piece_count];
            if (data[i] >= 128) input += ' ';
        }
    } else {
        input.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    }

    os::clear_interrupt();
    deadline_ms = now_ms() + 1000;
    uint32_t depth = stack::depth();
    Cell* top = stack::values.top;
    Cell* args = stack::values.args;
    bool raised = false;
    try {
        // A fresh console state, then the loop until the input ends (or the session is
        // interrupted outside any command, which ends it too).
        restore_globals();
        boot::evaluate(
            "system/console: fuzz-console system/options: fuzz-options "
            "system/console/mode: 'mono system/console/cue: none "
            "clear system/console/buffer clear system/console/delimiters "
            "system/console/prompt: system/console/def-prompt "
            "system/console/result: system/console/def-result "
            "catch/name [system/console/run/no-banner] 'session-end");
    } catch (const Error&) {
        // The session overwrote the console itself: what it raised is its own affair. This
        // is the session's barrier: it unrolls what the error left, as every barrier does.
        raised = true;
        stack::unroll_to(depth, top, args);
    }
    deadline_ms = 0;
    os::clear_interrupt();
    if (stack::exiting()) stack::pending = stack::Pending{};
    if (!raised && stack::depth() != depth) std::abort();  // the session's frames were not all popped
    return 0;
}
