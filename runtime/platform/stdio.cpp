// Standard streams as plain file descriptors. Kov never uses stdio on them, so nothing is
// buffered behind the runtime's back.
#include "runtime/platform/os.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kov::os {

bool write_all(int fd, const void* bytes, std::size_t count) {
    auto p = static_cast<const char*>(bytes);
    while (count > 0) {
        ssize_t n = ::write(fd, p, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

long read_some(int fd, void* bytes, std::size_t count) {
    for (;;) {
        ssize_t n = ::read(fd, bytes, count);
        // An interrupt gives up the read: the evaluation waiting on it is to stop.
        if (n < 0 && errno == EINTR && !interrupt_flag) continue;
        return static_cast<long>(n);
    }
}

bool is_terminal(int fd) {
    return isatty(fd) == 1;
}

bool terminal_size(int fd, int& columns, int& rows) {
    winsize ws{};
    if (ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) return false;
    columns = ws.ws_col;
    rows = ws.ws_row;
    return true;
}

}  // namespace kov::os
