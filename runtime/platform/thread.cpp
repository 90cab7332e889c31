// The evaluating thread and its native-stack bounds. Kov code runs on a thread with a large
// reserved stack; a depth check against `stack_limit` raises the stack-overflow error long
// before the stack really ends.
#include "runtime/platform/os.h"

#include <pthread.h>
#include <cstdlib>

namespace kov::os {

extern uintptr_t stack_low;

namespace {
struct Start {
    int (*body)(void*);
    void* arg;
    int result;
};

void* thread_main(void* p) {
    auto s = static_cast<Start*>(p);
    enter_thread();
    s->result = s->body(s->arg);
    return nullptr;
}
}  // namespace

int run_on_large_stack(std::size_t stack_size, int (*body)(void*), void* arg) {
    Start s{body, arg, 0};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_t thread;
    // The stack is mapped at once but its pages are only committed as they are touched.
    if (pthread_attr_setstacksize(&attr, stack_size) != 0 ||
        pthread_create(&thread, &attr, thread_main, &s) != 0) {
        pthread_attr_destroy(&attr);
        return body(arg);  // no thread: run on the current stack, still guarded by its bounds
    }
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
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
