// Processor faults become numbered runtime errors. The handler runs on an alternate signal
// stack (so that a stack overflow can still be reported) and uses only async-signal-safe
// calls: it hands the code and the faulting instruction's address to the runtime's reporter.
#include "runtime/platform/os.h"

#include <csignal>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <ucontext.h>

extern "C" char __executable_start;  // start of the program image, placed by the linker

namespace kov::os {

uintptr_t stack_limit = 0;
uintptr_t stack_low = 0;    // lowest address of the evaluating thread's stack
void (*fault_reporter)(int code, uintptr_t address) = nullptr;

uintptr_t image_base() {
    return reinterpret_cast<uintptr_t>(&__executable_start);
}

static int code_for(int sig, const siginfo_t* info) {
    switch (sig) {
    case SIGSEGV: {
        // A fault just below the stack's end (in the guard area) is the stack running out.
        uintptr_t a = reinterpret_cast<uintptr_t>(info->si_addr);
        if (stack_low && a < stack_low + 65536 && a + (1u << 20) > stack_low) return 19;
        return 1;
    }
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? 2 : 34;
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
        }
    case SIGILL:
        switch (info->si_code) {
        case ILL_PRVOPC: return 15;
        case ILL_PRVREG: return 31;
        case ILL_ILLOPN: return 23;
        case ILL_ILLADR: return 24;
        case ILL_ILLTRP: return 25;
        case ILL_COPROC: return 26;
        default: return 17;
        }
    case SIGTRAP:
        return info->si_code == TRAP_TRACE ? 4 : 3;
    default:
        return 99;
    }
}

static void on_signal(int sig, siginfo_t* info, void* context) {
    uintptr_t address = 0;
#if defined(__x86_64__)
    if (context) address = static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
    int code = code_for(sig, info);
    if (fault_reporter) fault_reporter(code, address);
    _exit(code);
}

void install_fault_handlers(void (*reporter)(int, uintptr_t)) {
    fault_reporter = reporter;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(sig, &sa, nullptr);
    // A write past the file-size limit (ulimit -f) would end the process by SIGXFSZ: ignored,
    // the write fails (EFBIG) and the language reports it.
    signal(SIGXFSZ, SIG_IGN);
    enter_thread();
}

void enter_thread() {
    // Each thread needs its own alternate stack; it lives as long as the process.
    static thread_local bool done = false;
    if (done) return;
    constexpr std::size_t size = 256 * 1024;
    void* mem = alloc_pages(size);
    if (!mem) return;
    stack_t ss{};
    ss.ss_sp = mem;
    ss.ss_size = size;
    ss.ss_flags = 0;
    if (sigaltstack(&ss, nullptr) == 0) done = true;
}

}  // namespace kov::os
