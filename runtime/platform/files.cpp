// Files and directories through POSIX: open/read/write/lseek on descriptors, stat, mkdir,
// unlink, rmdir, opendir. A call interrupted by a signal is retried, unless Ctrl+C raised the
// interrupt flag: then it gives up (see `interrupted`), so that opening a FIFO with no writer
// or reading a silent device can be stopped. Nothing is buffered.
#include "runtime/platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/platform/os.h"

namespace kov::os::files {

namespace {
bool gave_up = false;

// After a call failed with EINTR: true to try again; false, noted for `interrupted`, when the
// evaluation is to stop.
bool retry_after_signal() {
    if (interrupt_flag) {
        gave_up = true;
        return false;
    }
    return true;
}
}  // namespace

bool interrupted() { return gave_up; }

int open(const char* path, uint32_t mode) {
    int flags = O_CLOEXEC;
    if (mode & for_read) flags |= O_RDONLY;
    else flags |= O_WRONLY | O_CREAT | ((mode & keep_contents) ? 0 : O_TRUNC);
    gave_up = false;
    for (;;) {
        int fd = ::open(path, flags, 0666);
        if (fd < 0 && errno == EINTR && retry_after_signal()) continue;
        if (fd >= 0 && (mode & for_read)) {
            // A directory opens for reading on Linux, but it has no bytes to give.
            struct stat st;
            if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
                ::close(fd);
                return -1;
            }
        }
        return fd;
    }
}

void close(int fd) {
    if (fd >= 0) ::close(fd);
}

int64_t size(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool seek(int fd, int64_t offset) {
    off_t r = offset < 0 ? lseek(fd, 0, SEEK_END) : lseek(fd, static_cast<off_t>(offset), SEEK_SET);
    return r >= 0;
}

bool skip(int fd, int64_t count) {
    if (lseek(fd, static_cast<off_t>(count), SEEK_SET) >= 0) return true;
    if (errno != ESPIPE) return false;
    char chunk[65536];
    while (count > 0) {
        ssize_t n = ::read(fd, chunk, static_cast<size_t>(std::min<int64_t>(count, sizeof chunk)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        count -= n;
    }
    return true;
}

int64_t read(int fd, void* bytes, uint64_t count) {
    auto p = static_cast<char*>(bytes);
    uint64_t done = 0;
    gave_up = false;
    while (done < count) {
        uint64_t chunk = std::min<uint64_t>(count - done, 1u << 30);
        ssize_t n = ::read(fd, p + done, chunk);
        if (n < 0) {
            if (errno == EINTR && retry_after_signal()) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool read_rest(int fd, std::vector<uint8_t>& out, uint64_t limit) {
    uint8_t chunk[65536];
    gave_up = false;
    while (out.size() < limit) {
        uint64_t want = std::min<uint64_t>(sizeof chunk, limit - out.size());
        ssize_t n = ::read(fd, chunk, want);
        if (n < 0) {
            if (errno == EINTR && retry_after_signal()) continue;
            return false;
        }
        if (n == 0) break;
        out.insert(out.end(), chunk, chunk + n);
    }
    return true;
}

bool write(int fd, const void* bytes, uint64_t count) {
    auto p = static_cast<const char*>(bytes);
    gave_up = false;
    while (count > 0) {
        ssize_t n = ::write(fd, p, std::min<uint64_t>(count, 1u << 30));
        if (n < 0) {
            if (errno == EINTR && retry_after_signal()) continue;
            return false;
        }
        p += n;
        count -= static_cast<uint64_t>(n);
    }
    return true;
}

Rewrite::Rewrite(const char* path) {
    std::string target = path;
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path, nullptr)) {
            target = real;
            std::free(real);
        }
    }
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
        size_t slash = target.rfind('/');
        std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".kov-XXXXXX";
        int fd = mkostemp(temp.data(), O_CLOEXEC);
        if (fd >= 0) {
            if (fchmod(fd, st.st_mode & 07777) == 0 && fchown(fd, st.st_uid, st.st_gid) == 0) {
                fd_ = fd;
                temp_ = std::move(temp);
                target_ = std::move(target);
                return;
            }
            ::close(fd);
            unlink(temp.c_str());
        }
    }
    fd_ = open(path, for_write);
}

Rewrite::~Rewrite() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool Rewrite::commit() {
    // A full disk may show only when the file is closed.
    bool ok = ::close(fd_) == 0;
    fd_ = -1;
    if (temp_.empty()) return ok;
    if (ok && ::rename(temp_.c_str(), target_.c_str()) == 0) temp_.clear();
    return temp_.empty();
}

int64_t size_of(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

bool is_directory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool modified(const char* path, int64_t& seconds, int32_t& nanoseconds) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    nanoseconds = static_cast<int32_t>(st.st_mtim.tv_nsec);
    return true;
}

bool rename(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool make_dir(const char* path) { return mkdir(path, 0777) == 0; }

bool remove(const char* path, bool directory) { return (directory ? rmdir(path) : unlink(path)) == 0; }

bool list(const char* path, std::vector<Entry>& out) {
    DIR* dir = opendir(*path ? path : ".");
    if (!dir) return false;
    std::string base(*path ? path : ".");
    if (base.back() != '/') base += '/';
    while (dirent* e = readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        bool is_dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) is_dir = is_directory((base + e->d_name).c_str());
        out.push_back(Entry{e->d_name, is_dir});
    }
    closedir(dir);
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

}  // namespace kov::os::files
