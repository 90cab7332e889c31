// Ctrl+C as a request to stop the evaluation, and the console's settings written on the way
// out when a signal ends the process.
//
// Handlers use async-signal-safe calls only (clock_gettime, open, write, close, rename,
// tcsetattr through the terminal module, sigaction, raise, _exit). The exit file's bytes are
// swapped in with every handled signal blocked, so a handler never sees half a change.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/platform/os.h"
#include "runtime/platform/terminal.h"

namespace kov::os {

volatile int interrupt_flag = 0;

void raise_with_default_action(int sig) {
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

namespace {

struct ExitFile {
    char* path = nullptr;     // NUL-terminated
    char* temp = nullptr;     // path with ".new" appended
    char* bytes = nullptr;
    std::size_t count = 0;
};
ExitFile exit_file;
// Set with the flag; cleared only when the evaluation is over (clear_interrupt).
volatile sig_atomic_t outstanding = 0;
volatile sig_atomic_t first_interrupt_sec = 0;
volatile long first_interrupt_nsec = 0;
bool installed = false;

void write_exit_file() {
    const ExitFile& f = exit_file;
    if (!f.path || !f.bytes) return;
    int fd = ::open(f.temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    bool ok = write_all(fd, f.bytes, f.count);
    ok = ::close(fd) == 0 && ok;
    if (ok) ::rename(f.temp, f.path);
    else ::unlink(f.temp);
}

[[noreturn]] void end_quietly() {
    int saved_errno = errno;
    write_exit_file();
    tty::put_back();
    errno = saved_errno;
    _exit(0);
}

void on_interrupt(int) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (outstanding) {
        long long ms = (static_cast<long long>(now.tv_sec) - first_interrupt_sec) * 1000 +
                       (now.tv_nsec - first_interrupt_nsec) / 1000000;
        if (ms < 1000) end_quietly();  // the evaluation did not stop in time: the user insists
    }
    first_interrupt_sec = static_cast<sig_atomic_t>(now.tv_sec);
    first_interrupt_nsec = now.tv_nsec;
    outstanding = 1;
    interrupt_flag = 1;
}

// The settings first, then the signal's own effect (the terminal module, when it wrapped
// this handler, has already put the terminal back).
void on_end(int sig) {
    int saved_errno = errno;
    write_exit_file();
    tty::put_back();
    raise_with_default_action(sig);
    errno = saved_errno;
}

char* copy_bytes(const void* bytes, std::size_t count, const char* suffix) {
    std::size_t extra = suffix ? std::strlen(suffix) : 0;
    char* p = static_cast<char*>(std::malloc(count + extra + 1));
    if (!p) return nullptr;
    std::memcpy(p, bytes, count);
    if (extra) std::memcpy(p + count, suffix, extra);
    p[count + extra] = '\0';
    return p;
}

bool private_folder(const char* path) {
    struct stat st{};
    if (::mkdir(path, 0700) != 0 && errno != EEXIST) return false;
    // Not a link planted by someone else, and nobody else's.
    return ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 0022) == 0;
}

}  // namespace

void clear_interrupt() {
    interrupt_flag = 0;
    outstanding = 0;
}

void install_interrupt_handlers() {
    if (installed) return;
    installed = true;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a blocking read or wait returns, so that it can give up early. A signal
    // ignored from the start stays ignored: a shell ignores SIGINT for the jobs it starts in
    // the background, nohup ignores SIGHUP.
    auto take = [&](int sig, void (*handler)(int)) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
        sa.sa_handler = handler;
        sigaction(sig, &sa, nullptr);
    };
    take(SIGINT, on_interrupt);
    take(SIGHUP, on_end);
    take(SIGTERM, on_end);
}

void set_exit_file(const char* path, std::size_t path_length, const void* bytes, std::size_t count) {
    ExitFile next;
    next.path = copy_bytes(path, path_length, nullptr);
    next.temp = copy_bytes(path, path_length, ".new");
    next.bytes = copy_bytes(bytes, count, nullptr);
    next.count = count;
    if (!next.path || !next.temp || !next.bytes) {
        std::free(next.path);
        std::free(next.temp);
        std::free(next.bytes);
        return;
    }
    sigset_t all, old;
    sigemptyset(&all);
    for (int sig : {SIGINT, SIGHUP, SIGTERM}) sigaddset(&all, sig);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    ExitFile previous = exit_file;
    exit_file = next;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    std::free(previous.path);
    std::free(previous.temp);
    std::free(previous.bytes);
}

std::size_t settings_folder(char* buffer, std::size_t size) {
    auto answer = [&](const char* a, const char* b) -> std::size_t {
        std::size_t n = std::strlen(a), m = std::strlen(b);
        if (n + m + 1 > size) return 0;
        std::memcpy(buffer, a, n);
        std::memcpy(buffer + n, b, m + 1);
        return n + m;
    };
    const char* home = getenv("HOME");
    if (home && home[0] == '/' && home[1] != '\0') {
        // A trailing slash would make "//" below; the root itself is never used.
        std::size_t n = std::strlen(home);
        while (n > 1 && home[n - 1] == '/') --n;
        if (n > 1 && n < 4000) {
            char dir[4096];
            std::memcpy(dir, home, n);
            dir[n] = '\0';
            struct stat st{};
            char kov[4104];
            std::memcpy(kov, dir, n);
            std::memcpy(kov + n, "/.kov", 6);
            // Made here when HOME is a folder that takes it: trying is the only sure test
            // (access() answers yes to root on a file system that refuses).
            bool usable = (::stat(kov, &st) == 0 && S_ISDIR(st.st_mode) && ::access(kov, W_OK | X_OK) == 0) ||
                          (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && ::mkdir(kov, 0700) == 0);
            if (usable) return answer(kov, "/");
        }
    }
    char tmp[64];
    std::snprintf(tmp, sizeof tmp, "/tmp/kov-%u", static_cast<unsigned>(::getuid()));
    if (!private_folder(tmp)) return 0;
    return answer(tmp, "/");
}

}  // namespace kov::os
