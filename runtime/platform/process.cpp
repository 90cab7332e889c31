// Child processes, the environment and the system's facts (see process.h).
//
// Descriptors the parent opens are close-on-exec; the child gets its three streams through
// dup2 file actions, which clear that flag on the copies only. A child that runs in no
// terminal of its own gets a process group of its own, so that stopping it also stops what a
// shell started for it. SIGPIPE is ignored while the parent writes the child's input (a
// child may stop reading early; the write then fails instead of ending the console), and the
// child gets every signal back at its default.
#include "runtime/platform/process.h"

#include "runtime/platform/os.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kov::os::process {

bool (*stop_requested)() = nullptr;

namespace {

constexpr int poll_ms = 50;
constexpr size_t chunk = 65536;

// Ctrl+C (the console's interrupt flag), or the caller's own test.
bool should_stop() { return interrupt_flag != 0 || (stop_requested && stop_requested()); }

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int open_retrying(const char* path, int flags) {
    for (;;) {
        int fd = ::open(path, flags | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// Children started without waiting are reaped at the next launch, so that none stays a zombie.
std::vector<pid_t> unreaped;
void reap_finished() {
    std::erase_if(unreaped, [](pid_t pid) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

// The descriptors of one launch, closed on every way out.
struct Fds {
    int child[3] = {-1, -1, -1};   // what the child gets as 0, 1, 2 (-1: the console's own)
    int parent[3] = {-1, -1, -1};  // the parent's ends of the pipes
    ~Fds() {
        for (int& fd : child) close_fd(fd);
        for (int& fd : parent) close_fd(fd);
    }
};

bool make_pipe(int& read_end, int& write_end) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    read_end = p[0];
    write_end = p[1];
    return true;
}

// The child's end of one stream; false when an input cannot be had.
bool route_stream(int which, Route route, const std::string& path, Fds& fds) {
    bool input = which == 0;
    switch (route) {
    case Route::terminal:
        return true;
    case Route::quiet:
        fds.child[which] = open_retrying("/dev/null", input ? O_RDONLY : O_WRONLY);
        return fds.child[which] >= 0;
    case Route::file:
        if (input) {
            fds.child[0] = open_retrying(path.c_str(), O_RDONLY);
            return fds.child[0] >= 0;
        }
        // An output file that cannot be opened leaves the stream thrown away.
        fds.child[which] = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_APPEND);
        if (fds.child[which] < 0) fds.child[which] = open_retrying("/dev/null", O_WRONLY);
        return fds.child[which] >= 0;
    case Route::pipe:
        if (input) {
            if (!make_pipe(fds.child[0], fds.parent[0])) return false;
        } else if (!make_pipe(fds.parent[which], fds.child[which])) {
            return false;
        }
        fcntl(fds.parent[which], F_SETFL, fcntl(fds.parent[which], F_GETFL) | O_NONBLOCK);
        return true;
    }
    return false;
}

// Spawns argv with the streams and signal settings of the launch; gives the pid or -errno.
pid_t spawn(const std::vector<std::string>& words, bool search, bool own_group, const Fds& fds) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    for (int i = 0; i < 3; ++i) {
        if (fds.child[i] >= 0) posix_spawn_file_actions_adddup2(&actions, fds.child[i], i);
    }
    sigset_t defaults, empty;
    sigemptyset(&empty);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGTSTP, SIGTTIN, SIGTTOU, SIGWINCH, SIGXFSZ})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (own_group) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attr, 0);
    }
    posix_spawnattr_setflags(&attr, flags);
    pid_t pid = -1;
    int rc = search ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ)
                    : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -rc;
}

// Ignores SIGPIPE for its lifetime.
struct NoSigpipe {
    struct sigaction old {};
    NoSigpipe() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &old);
    }
    ~NoSigpipe() { sigaction(SIGPIPE, &old, nullptr); }
};

// Moves the input in and the output and error out until all three pipes are closed; false
// when a stop was asked for or a capture grew past the limit (then out.kind says which).
bool pump(Fds& fds, const std::string& input, uint64_t limit, Outcome& out) {
    size_t written = 0;
    if (fds.parent[0] >= 0 && input.empty()) close_fd(fds.parent[0]);
    std::vector<uint8_t>* sinks[3] = {nullptr, &out.output, &out.error};
    uint8_t buffer[chunk];
    for (;;) {
        pollfd p[3];
        int which[3];
        int n = 0;
        for (int i = 0; i < 3; ++i) {
            if (fds.parent[i] < 0) continue;
            p[n] = pollfd{fds.parent[i], static_cast<short>(i == 0 ? POLLOUT : POLLIN), 0};
            which[n++] = i;
        }
        if (n == 0) return true;
        int r = poll(p, static_cast<nfds_t>(n), poll_ms);
        if (should_stop()) {
            out.kind = Outcome::interrupted;
            return false;
        }
        if (r <= 0) continue;   // a timeout, or EINTR: look again
        for (int k = 0; k < n; ++k) {
            int i = which[k];
            if (!p[k].revents) continue;
            if (i == 0) {
                size_t want = std::min(chunk, input.size() - written);
                ssize_t w = ::write(fds.parent[0], input.data() + written, want);
                if (w > 0) written += static_cast<size_t>(w);
                else if (w < 0 && errno != EINTR && errno != EAGAIN) close_fd(fds.parent[0]);  // stopped reading
                if (written == input.size()) close_fd(fds.parent[0]);
            } else {
                ssize_t got = ::read(fds.parent[i], buffer, sizeof buffer);
                if (got > 0) sinks[i]->insert(sinks[i]->end(), buffer, buffer + got);
                else if (got == 0 || (errno != EINTR && errno != EAGAIN)) close_fd(fds.parent[i]);
                if (sinks[i]->size() > limit) {
                    out.kind = Outcome::overflowed;
                    return false;
                }
            }
        }
    }
}

// Waits for the child's end; false when a stop was asked for first.
bool wait_for(pid_t pid, int& status) {
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) {
            status = 0;
            return true;
        }
        if (should_stop()) return false;
        poll(nullptr, 0, poll_ms / 5);
    }
}

}  // namespace

std::vector<std::string> split_command(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, in_word = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

Outcome run(const Launch& launch) {
    Outcome out;
    reap_finished();
    Fds fds;
    if (!route_stream(0, launch.input, launch.input_path, fds) ||
        !route_stream(1, launch.output, launch.output_path, fds) ||
        !route_stream(2, launch.error, launch.error_path, fds))
        return out;
    bool redirected = launch.input == Route::pipe || launch.input == Route::file || launch.output == Route::pipe ||
                      launch.output == Route::file || launch.error == Route::pipe || launch.error == Route::file;
    bool wait = launch.wait || redirected;
    bool own_group = launch.input != Route::terminal && launch.output != Route::terminal &&
                     launch.error != Route::terminal;

    NoSigpipe quiet_pipes;
    std::vector<std::string> words;
    if (!launch.split) {
        if (launch.command.empty()) return out;
        // The shell gets the path as its $0, a word of its own, never as text to parse.
        if (launch.shell) words = {"/bin/sh", "-c", "\"$0\"", launch.command};
        else words = {launch.command};
    } else if (launch.shell) {
        words = {"/bin/sh", "-c", launch.command};
    } else {
        words = split_command(launch.command);
    }
    if (words.empty() || words[0].empty()) return out;
    pid_t pid = spawn(words, !launch.shell, own_group, fds);
    if (pid == -ENOENT && !launch.shell && launch.split)
        pid = spawn({"/bin/sh", "-c", launch.command}, false, own_group, fds);
    if (pid < 0) return out;
    for (int& fd : fds.child) close_fd(fd);

    if (!wait) {
        unreaped.push_back(pid);
        out.kind = Outcome::started;
        out.value = pid;
        return out;
    }
    int status = 0;
    bool pumped = pump(fds, launch.input_bytes, launch.capture_limit, out);
    if (!pumped || !wait_for(pid, status)) {
        kill(own_group ? -pid : pid, SIGKILL);
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        if (pumped) out.kind = Outcome::interrupted;
        return out;
    }
    out.kind = Outcome::exited;
    out.value = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 0;
    return out;
}

std::vector<std::pair<std::string, std::string>> environment() {
    std::vector<std::pair<std::string, std::string>> vars;
    for (char** e = environ; e && *e; ++e) {
        const char* entry = *e;
        const char* eq = entry[0] ? std::strchr(entry + 1, '=') : nullptr;
        if (eq) vars.emplace_back(std::string(entry, eq), std::string(eq + 1));
        else vars.emplace_back(std::string(entry), std::string());
    }
    return vars;
}

bool system_info(SystemInfo& out) {
    struct utsname u;
    if (uname(&u) != 0) return false;
    out.kernel = u.sysname;
    out.release = u.release;
    out.machine = u.machine;
    out.distribution.clear();
    std::ifstream f("/etc/os-release");
    std::string line, name;
    while (std::getline(f, line)) {
        auto value = [&](size_t from) {
            std::string v = line.substr(from);
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return v;
        };
        if (line.rfind("PRETTY_NAME=", 0) == 0) out.distribution = value(12);
        else if (line.rfind("NAME=", 0) == 0) name = value(5);
    }
    if (out.distribution.empty()) out.distribution = name;
    const char* hash = std::strchr(u.version, '#');
    out.build = hash ? std::atoi(hash + 1) : 0;
    return true;
}

}  // namespace kov::os::process
