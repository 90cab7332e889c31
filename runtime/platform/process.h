// Child processes of the host: posix_spawn with pipes for the three standard streams, and a
// poll loop that writes the child's input while it reads its output and error, so that a
// child writing more than a pipe holds on one stream while the parent feeds another never
// deadlocks. Nothing here raises or touches Kov memory; the I/O layer (runtime/io/process_io)
// turns values into a `Launch` and the captured bytes back into values.
//
// Every wait looks at the interrupt flag (Ctrl+C, os.h) and asks `stop_requested` a few times
// a second: when either says stop, the child (and the process group a shell started for it)
// is killed and reaped, and the launch gives `interrupted`. The flag is left set, so that the
// interpreter stops the evaluation next.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kov::os::process {

// Where a standard stream of the child goes.
enum class Route : uint8_t {
    quiet,      // input: nothing (the null device); output: thrown away
    terminal,   // the console's own stream
    file,       // input: read from the file; output: appended to it (created when missing)
    pipe,       // input: the bytes given; output: captured
};

struct Launch {
    std::string command;     // a command line (split into words), or a program's path
    bool split = true;       // false: the command is one program path with no arguments
    bool shell = false;      // through /bin/sh (a program path is handed to it as "$0")
    bool wait = false;       // wait for the end and give the exit status
    Route input = Route::quiet, output = Route::quiet, error = Route::quiet;
    std::string input_path, output_path, error_path;
    std::string input_bytes;
    // Captured output and error beyond this many bytes each stop the child (overflowed).
    uint64_t capture_limit = UINT64_MAX;
};

struct Outcome {
    enum Kind : uint8_t { failed, started, exited, interrupted, overflowed } kind = failed;
    int value = -1;                  // started: the process id; exited: the exit status
    std::vector<uint8_t> output, error;
};

// Asked while waiting besides the interrupt flag; null: only the flag.
extern bool (*stop_requested)();

// Starts the command. A command line that names no program found (not found on PATH) is
// tried once more through the shell, as shell text; a program path never is (it is a name,
// not code), so a missing one fails. Redirected streams force a wait.
Outcome run(const Launch& launch);

// Splits a command line into words: runs of spaces and tabs separate them outside double
// quotes; a double quote only switches quoting and is left out.
std::vector<std::string> split_command(const std::string& line);

// The environment as name and value pairs, in the order the process holds them. An entry
// without "=" has an empty value; the first "=" after the name's first character separates.
std::vector<std::pair<std::string, std::string>> environment();

// Facts of the running system: the kernel's name, release and machine (uname), and the
// distribution's pretty name from /etc/os-release (empty when there is none), and the
// kernel's build count (the number after "#" in its version text).
struct SystemInfo {
    std::string kernel, release, machine, distribution;
    int build = 0;
};
bool system_info(SystemInfo& out);

}  // namespace kov::os::process
