// Files and directories of the host: POSIX calls on NUL-terminated UTF-8 paths. Nothing here
// raises or touches Kov memory; every failure comes back as -1 or false, and the I/O layer
// (runtime/io/file_io.cpp) turns it into the language's access errors.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kov::os::files {

// How a file is opened for writing.
enum Mode : uint32_t {
    for_read = 1,
    for_write = 2,       // created when missing, truncated
    keep_contents = 4,   // with for_write: created when missing, not truncated
};

// A descriptor, or -1.
int open(const char* path, uint32_t mode);
void close(int fd);
// The size in bytes of an open file, or -1.
int64_t size(int fd);
// Moves to an offset from the start (or to the end when offset < 0); false on failure.
bool seek(int fd, int64_t offset);
// Moves count bytes on from the start of a file that reports no size: a device seeks, a
// pipe is read and what is read dropped (up to its end); false on failure.
bool skip(int fd, int64_t count);
// Reads until count bytes or the end of the file: the bytes read, or -1.
int64_t read(int fd, void* bytes, uint64_t count);
// Reads from the current position on (for files that report no size: devices, pipes, kernel
// files) in chunks, until the end or until `out` holds `limit` bytes, never more, so that an
// endless device is read only as far as asked; false on failure.
bool read_rest(int fd, std::vector<uint8_t>& out, uint64_t limit);
// Writes every byte; false on failure.
bool write(int fd, const void* bytes, uint64_t count);

// A file written anew from its start. An existing regular file with one name gets its new
// contents in a new file of the same folder, which takes its place (rename) only once every
// byte is written and closed, with its mode and owner: a write that fails part-way (a full
// disk, the file-size limit) leaves the old contents whole. A symbolic link is followed to
// the file it names. Otherwise (a new file, a device or FIFO, a file with other names, a
// folder that takes no new file, an owner that cannot be kept) the file is truncated and
// written in place. A replacement never committed is removed.
class Rewrite {
public:
    explicit Rewrite(const char* path);
    ~Rewrite();
    Rewrite(const Rewrite&) = delete;
    Rewrite& operator=(const Rewrite&) = delete;
    // The descriptor to write to, or -1 when the file cannot be opened.
    int fd() const { return fd_; }
    // Closes the file and puts the new contents in place; false when that fails.
    bool commit();

private:
    int fd_ = -1;
    std::string temp_, target_;   // the new file and the one it replaces (none: in place)
};
// Whether the last open, read, read_rest or write failed because Ctrl+C interrupted it (a
// blocking FIFO, pipe or device given up), rather than for a fault of the file.
bool interrupted();

// Size of the file at a path, or -1 when it cannot be opened or measured.
int64_t size_of(const char* path);
bool exists(const char* path);
bool is_directory(const char* path);
// The last modification time of a path, in seconds and nanoseconds since 1970 (UTC); false
// when it cannot be read.
bool modified(const char* path, int64_t& seconds, int32_t& nanoseconds);
// Renames (moves) a file or directory; false on failure.
bool rename(const char* from, const char* to);
// Makes one directory (its parent must exist).
bool make_dir(const char* path);
// Removes a file, or an empty directory when `directory` is set.
bool remove(const char* path, bool directory);

struct Entry {
    std::string name;
    bool directory;
};
// The entries of a directory but "." and "..", sorted by name bytes; false when it cannot be
// listed.
bool list(const char* path, std::vector<Entry>& out);

}  // namespace kov::os::files
