// Raw terminal input, sizes, titles, and the settings put back on every way out.
//
// `saved` holds the terminal settings to restore and `raw_on` tells whether raw mode is in
// force; signal handlers read both, so `saved` is only written while `raw_on` is clear.
// Handlers use async-signal-safe calls only (tcsetattr, sigaction, sigprocmask, raise,
// write). Waiting for a key polls standard input together with a pipe that the SIGWINCH
// and SIGCONT handlers write to, so a resize or a resumption wakes the reader without a
// race between checking a flag and blocking.
#include "runtime/platform/terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "runtime/platform/os.h"

namespace kov::os::tty {

namespace {

termios saved{};
termios raw{};
volatile sig_atomic_t raw_on = 0;
int wake_pipe[2] = {-1, -1};
bool installed = false;

// Signals that end the process by default (or through a handler that ends it).
constexpr int terminating[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGABRT, SIGPIPE, SIGALRM,
                               SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGSEGV, SIGBUS,  SIGFPE,
                               SIGILL,  SIGTRAP};
struct sigaction previous[NSIG];

void wake() {
    if (wake_pipe[1] >= 0) {
        char b = 1;
        ssize_t n = ::write(wake_pipe[1], &b, 1);  // a full pipe already wakes the reader
        (void)n;
    }
}

// What the GUI back end wrote to the terminal that must be undone when the process ends
// while its screen is up (mouse reporting, the alternate screen, a hidden cursor), and what
// takes those modes again when a stopped process continues. `modes_off` tells that a stop
// undid them and nothing has taken them again yet.
char exit_sequence[128];
volatile sig_atomic_t exit_sequence_length = 0;
char resume_sequence[128];
volatile sig_atomic_t resume_sequence_length = 0;
volatile sig_atomic_t modes_off = 0;

void write_raw(const char* bytes, sig_atomic_t length) {
    if (length <= 0) return;
    ssize_t n = ::write(STDOUT_FILENO, bytes, static_cast<size_t>(length));
    (void)n;
}

// A stop hands the shell a terminal without the GUI's modes; they stay recorded for the exit.
void screen_modes_off() {
    if (exit_sequence_length > 0 && !modes_off) {
        write_raw(exit_sequence, exit_sequence_length);
        modes_off = 1;
    }
}

void screen_modes_on() {
    if (modes_off) {
        modes_off = 0;
        write_raw(resume_sequence, resume_sequence_length);
    }
}

void put_back_settings() {
    if (raw_on) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

// For the ways out that do not come back: the screen modes too.
void put_back_all() {
    if (exit_sequence_length > 0 && !modes_off) write_raw(exit_sequence, exit_sequence_length);
    exit_sequence_length = 0;
    put_back_settings();
}

void reapply_raw() {
    if (raw_on) tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

// The terminal first; then whatever was there before this module decides the signal's
// effect: the earlier handler (a fault reporter ends the process itself), or the default
// action, taken again with the signal unblocked.
void on_terminate(int sig, siginfo_t* info, void* context) {
    int saved_errno = errno;
    put_back_all();
    const struct sigaction& prev = previous[sig];
    if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction) {
        prev.sa_sigaction(sig, info, context);
    } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
        prev.sa_handler(sig);
    } else {
        raise_with_default_action(sig);
        // A fault signal returns here and faults again, now with the default action.
    }
    // The earlier handler let the process go on: so does the editor.
    reapply_raw();
    errno = saved_errno;
}

// Stopping hands the terminal back to the shell as it was; continuing takes it again.
void on_stop(int sig) {
    int saved_errno = errno;
    screen_modes_off();
    put_back_settings();
    struct sigaction dfl, mine;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, &mine);
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, &old);
    raise(sig);  // the process stops here until it is continued
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    sigaction(sig, &mine, nullptr);
    reapply_raw();
    screen_modes_on();
    wake();
    errno = saved_errno;
}

void on_continue(int) {
    int saved_errno = errno;
    reapply_raw();
    screen_modes_on();
    wake();
    errno = saved_errno;
}

void on_resize(int) {
    int saved_errno = errno;
    wake();
    errno = saved_errno;
}

void at_exit() { put_back_all(); }

void handle(int sig, void (*fn)(int)) {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = fn;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

void install() {
    if (installed) return;
    installed = true;
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
    for (int sig : terminating) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;  // nohup and friends
        previous[sig] = old;
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_sigaction = on_terminate;
        // Same stack as before (a fault reporter needs its alternate stack), and the signal
        // is not taken again while its handler runs.
        sa.sa_flags = SA_SIGINFO | (old.sa_flags & SA_ONSTACK);
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
    handle(SIGTSTP, on_stop);
    handle(SIGCONT, on_continue);
    handle(SIGWINCH, on_resize);
    std::atexit(at_exit);
}

void drain_wake_pipe() {
    char buf[64];
    while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], buf, sizeof buf) > 0) {
    }
}

}  // namespace

bool interactive() { return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1; }

bool enter_raw() {
    if (raw_on) return true;
    if (isatty(STDIN_FILENO) != 1) return false;
    install();
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    raw = saved;
    raw.c_iflag &= ~tcflag_t(ICRNL | IXON);
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw_on = 1;  // before the change, so that a signal arriving during it restores
    // Draining, not flushing: keys typed ahead stay to be read.
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) {
        raw_on = 0;
        return false;
    }
    drain_wake_pipe();
    return true;
}

void leave_raw() {
    if (!raw_on) return;
    tcsetattr(STDIN_FILENO, TCSADRAIN, &saved);
    raw_on = 0;
}

void put_back() { put_back_all(); }

void set_exit_sequence(const char* bytes, std::size_t length, const char* resume, std::size_t resume_length) {
    install();
    exit_sequence_length = 0;
    resume_sequence_length = 0;
    modes_off = 0;
    if (length > sizeof exit_sequence) length = sizeof exit_sequence;
    if (resume_length > sizeof resume_sequence) resume_length = sizeof resume_sequence;
    std::memcpy(exit_sequence, bytes, length);
    std::memcpy(resume_sequence, resume, resume_length);
    resume_sequence_length = static_cast<sig_atomic_t>(resume_length);
    exit_sequence_length = static_cast<sig_atomic_t>(length);
}

namespace {
// Waits for standard input or the wake pipe and reads up to capacity bytes: the count, 0 when
// the timeout passed first, or one of read_byte's codes.
int wait_and_read(unsigned char* buffer, int capacity, int timeout_ms) {
    for (;;) {
        // An interrupt that came before the wait began (before raw mode, say) is not lost.
        if (interrupt_flag) return interrupt_key;
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
        int n = poll(fds, wake_pipe[0] >= 0 ? 2 : 1, timeout_ms < 0 ? -1 : timeout_ms);
        if (n < 0) {
            if (errno == EINTR) {
                if (interrupt_flag) return interrupt_key;
                continue;
            }
            return end_of_input;
        }
        if (n == 0) return 0;
        if (wake_pipe[0] >= 0 && (fds[1].revents & POLLIN)) {
            drain_wake_pipe();
            return interrupted;
        }
        if (fds[0].revents & POLLNVAL) return end_of_input;
        ssize_t got = ::read(STDIN_FILENO, buffer, static_cast<size_t>(capacity));
        if (got > 0) return static_cast<int>(got);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            if (interrupt_flag) return interrupt_key;
            continue;
        }
        return end_of_input;
    }
}
}  // namespace

int read_some(unsigned char* buffer, int capacity, int timeout_ms) {
    install();
    return wait_and_read(buffer, capacity, timeout_ms);
}

bool write_out(const char* bytes, std::size_t length) { return write_all(std_out, bytes, length); }

int read_byte(int timeout_ms) {
    unsigned char b;
    int n = wait_and_read(&b, 1, timeout_ms);
    return n == 1 ? b : n == 0 ? no_byte : n;
}

bool size(int& columns, int& rows) {
    return terminal_size(std_out, columns, rows) || terminal_size(std_in, columns, rows);
}

bool set_title(const char* utf8, std::size_t length) {
    if (isatty(STDOUT_FILENO) != 1) return false;
    char out[512];
    std::memcpy(out, "\x1b]0;", 4);
    std::size_t n = 4;
    auto p = reinterpret_cast<const unsigned char*>(utf8);
    // Whole characters only; C1 controls (C2 80-9F) end the sequence on some terminals too.
    for (std::size_t i = 0; i < length;) {
        unsigned char c = p[i];
        std::size_t len = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + len > length || n + len > sizeof out - 1) break;
        bool control = c < 0x20 || c == 0x7F || (c == 0xC2 && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F);
        if (!control) {
            std::memcpy(out + n, p + i, len);
            n += len;
        }
        i += len;
    }
    out[n++] = '\a';
    return write_all(std_out, out, n);
}

}  // namespace kov::os::tty
