// The evaluating thread and its native-stack bounds. Kov code runs on a thread with a large
// reserved stack; a depth check against `stack_limit` raises the stack-overflow error long
// before the stack really ends.
//
// Signals sent to the process go to the evaluating thread: the starting thread, which only
// waits for it, blocks them all. A Ctrl+C must interrupt the evaluator's own blocking call (an
// open of a FIFO, a read of a silent device) to stop it; taken by the waiting thread, it would
// only raise the flag.
#include "runtime/platform/os.h"

#include <csignal>
#include <pthread.h>
#include <cstdlib>

namespace kov::os {

extern uintptr_t stack_low;

namespace {
struct Start {
    int (*body)(void*);
    void* arg;
    int result;
    sigset_t mask;   // the starting thread's own, before it blocked every signal
};

void* thread_main(void* p) {
    auto s = static_cast<Start*>(p);
    pthread_sigmask(SIG_SETMASK, &s->mask, nullptr);
    enter_thread();
    s->result = s->body(s->arg);
    return nullptr;
}
}  // namespace

int run_on_large_stack(std::size_t stack_size, int (*body)(void*), void* arg) {
    Start s{body, arg, 0, {}};
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &s.mask);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_t thread;
    // The stack is mapped at once but its pages are only committed as they are touched.
    if (pthread_attr_setstacksize(&attr, stack_size) != 0 ||
        pthread_create(&thread, &attr, thread_main, &s) != 0) {
        pthread_attr_destroy(&attr);
        pthread_sigmask(SIG_SETMASK, &s.mask, nullptr);
        return body(arg);  // no thread: run on the current stack, still guarded by its bounds
    }
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
    pthread_sigmask(SIG_SETMASK, &s.mask, nullptr);
    return s.result;
}

void note_stack_bounds(std::size_t reserve) {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0 && size > reserve * 2) {
        stack_low = reinterpret_cast<uintptr_t>(low);
        stack_limit = stack_low + reserve;
    }
    pthread_attr_destroy(&attr);
}

void exit_process(int status) {
    std::exit(status);
}

}  // namespace kov::os
