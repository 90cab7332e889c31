// libFuzzer target for the two execution modes: its bytes become a small Kov program
// (modes_program.h), which runs twice in this process, walker-only (`interp::walker_only`) and
// with compiled execution, each time from the same global words. The two runs must give the
// same text: the program's result molded, or its error molded whole (id, arguments, near,
// where, stack), the words it works on, and the error of each statement that failed. A difference aborts with the program and both
// texts. A run stopped by the watchdog (a second) counts for nothing: where an interrupt lands
// depends on the speed of the mode.
//
// Build: the `fuzz` preset (tests/fuzz/CMakeLists.txt), then
//   build/fuzz/tests/fuzz/modes_fuzz -max_total_time=60 tests/fuzz/seeds/modes
// KOV_FUZZ_SHOW=1 prints each program and its text to standard error (with one input file
// given, to see what a seed or a crash holds).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "boot/loader.h"
#include "boot/start.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"
#include "tests/fuzz/boot_harness.h"
#include "tests/fuzz/modes_program.h"

namespace {

using namespace kov;

using fuzz::save_globals;

// A program uses only the words made before the save, so the context has not grown.
void restore_globals() {
    if (memory::buffer(context::global_values)->used() / sizeof(Cell) != fuzz::saved_count) std::abort();
    fuzz::restore_globals();
}

// A watchdog raises the interrupt once a run has gone past its deadline, and says so. The
// interpreter takes it where a catch can receive it, as the console's does: fuzz-run has one
// around the program.
std::atomic<int64_t> deadline_ms{0};
std::atomic<bool> fired{false};

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void watchdog() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        int64_t d = deadline_ms.load();
        if (d && now_ms() > d) {
            fired = true;
            os::interrupt_flag = 1;
        }
    }
}

bool show = false;

void set_up() {
    const char* s = std::getenv("KOV_FUZZ_SHOW");
    show = s && *s && *s != '0';
    fuzz::quiet_output();
    fuzz::boot_program();
    // Code that rewrites itself can double a block again and again in one run (a change whose
    // value became the block itself): such a program meets no-memory, as it would on a small
    // machine, long before the fuzzer's own memory limit would end the process, and fuzz-step
    // then gives it fresh code blocks.
    memory::set_frame_limit(uint64_t(48) << 20);
    // The report of a run: the result, or the error whole, then the words programs change.
    std::string text = "set [" + std::string(fuzz::program_words) + "] none " +
                       "fuzz-out: none fuzz-log: none "
                       "fuzz-step: func [code [block!] /local r] ["
                       "  if error? set/any 'r try/all [do code] ["
                       "    append fuzz-log mold/flat/part :r 1000"
                       "    if r/id = 'no-memory [p: copy [] q: copy [] recycle]"
                       "  ]"
                       "] "
                       "fuzz-run: func [code [block!] /local r] ["
                       "  fuzz-log: copy []"
                       "  set/any 'r catch [try/all [do code]]"
                       "  rejoin ["
                       "    either error? :r [mold/flat/part :r 1000] [any [attempt [mold/flat/part :r 1000] \"?\"]]"
                       "    \" | \" mold/flat/part reduce [:a :b :c :o :p :q :m] 4000"
                       "    \" | \" mold/flat fuzz-log"
                       "  ]"
                       "]";
    boot::evaluate(text.c_str());
    save_globals();
    std::thread(watchdog).detach();
}

// The characters of a string value, as UTF-8.
std::string utf8_of(const Cell& s) {
    std::string out;
    memory::Buffer* b = memory::buffer(s.w2);
    uint32_t unit = b->unit();
    uint32_t n = b->used() / unit;
    for (uint32_t i = s.w1; i < n; ++i) {
        uint8_t bytes[4];
        int32_t k = unicode::encode_utf8(unicode::char_at(b->head_ptr() + i * unit, unit), bytes);
        out.append(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(k));
    }
    return out;
}

struct Outcome {
    std::string text;
    bool interrupted = false;
};

Outcome run_here(const std::string& program, bool walker) {
    Outcome result;
    interp::walker_only = walker;
    os::clear_interrupt();
    fired = false;
    deadline_ms = now_ms() + 1000;
    uint32_t depth = stack::depth();
    Cell* top = stack::values.top;
    Cell* args = stack::values.args;
    try {
        restore_globals();
        boot::evaluate(("fuzz-out: fuzz-run [\n" + program + "]").c_str());
        Cell out = *context::get(word::load("fuzz-out"));
        result.text = cell::is(out, T_string) ? utf8_of(out) : "no report";
    } catch (const Error& e) {
        // Only an interrupt, or a program that broke the report itself, gets past try/all.
        stack::unroll_to(depth, top, args);
        result.text = std::string("escaped: ") + err::category_words[err::defs[e.id].category] + "/" +
                      err::defs[e.id].word;
    }
    deadline_ms = 0;
    result.interrupted = fired;
    os::clear_interrupt();
    if (stack::exiting()) stack::pending = stack::Pending{};
    if (stack::depth() != depth) std::abort();  // the run's frames were not all popped
    return result;
}

// Each run gets a stack as large as kov's own: the stack-overflow error then comes from the
// frame limit, at the same depth in both modes, as it does in kov, rather than from the
// fuzzer's small stack, where the depth reached depends on each mode's native frames.
Outcome run(const std::string& program, bool walker) {
    struct Job {
        const std::string* program;
        bool walker;
        Outcome out;
    } job{&program, walker, {}};
    os::run_on_large_stack(
        boot::stack_size,
        [](void* arg) {
            Job* j = static_cast<Job*>(arg);
            os::note_stack_bounds(boot::stack_reserve);
            j->out = run_here(*j->program, j->walker);
            return 0;
        },
        &job);
    os::note_stack_bounds(2 << 20);
    return job.out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (set_up(), true);
    (void)ready;
    std::string program = fuzz::ProgramMaker(data, size).make();
    bool mode = interp::walker_only;
    Outcome walked = run(program, true);
    Outcome compiled = run(program, false);
    interp::walker_only = mode;
    if (show) std::fprintf(stderr, "%s=> %s\n", program.c_str(), compiled.text.c_str());
    if (walked.interrupted || compiled.interrupted) return 0;
    // Near the frame limit, whether a run meets no-memory depends on when collections ran and
    // on how the frames lie (the second run starts among the first one's garbage), which the
    // two modes need not share: such a pair is not compared.
    if (walked.text.find("no-memory") != std::string::npos || compiled.text.find("no-memory") != std::string::npos)
        return 0;
    if (walked.text != compiled.text) {
        std::fprintf(stderr, "modes differ on this program:\n%s\nwalker-only: %s\ncompiled:    %s\n", program.c_str(),
                     walked.text.c_str(), compiled.text.c_str());
        std::abort();
    }
    return 0;
}
