// The host services the runtime asks for, and nothing more. This header is the only view the
// rest of Kov has of the operating system: no OS or library header is included outside
// runtime/platform/. Each group below is implemented by one small module of this folder.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::os {

// ---- memory pages (pages.cpp) ------------------------------------------------------------
// Whole pages, read-write, zero-filled. A failure gives null / false; the memory manager turns
// it into the language error.
std::size_t page_size();
void* alloc_pages(std::size_t size);
bool free_pages(void* address, std::size_t size);
// Pages from alloc_pages given a new size, their contents kept: where they stand, or moved by
// the page tables without a copy (the old address is then invalid). Null, the pages as they
// were, when that cannot be done.
void* resize_pages(void* address, std::size_t old_size, std::size_t new_size);
// Makes a range of pages from alloc_pages resident at once, as writing it would page by page;
// a hint: where the system cannot, the pages come with the first writes as before.
void populate_pages(void* address, std::size_t size);
// Asks for large pages behind a big range of pages from alloc_pages (fewer faults as it is
// first written); a hint the system may ignore.
void prefer_large_pages(void* address, std::size_t size);
// The size of a large page: a range of pages whose length is a multiple of it is placed where
// large pages can back all of it (one of another length gets them at best for its aligned
// middle).
std::size_t large_page_size();
// bytes rounded up to whole large pages.
std::size_t large_pages_for(uint64_t bytes);
// Address space reserved without backing; `commit_pages` makes a part of it usable and
// `decommit_pages` gives the memory back while keeping the reservation.
void* reserve_pages(std::size_t size);
bool commit_pages(void* address, std::size_t size);
bool decommit_pages(void* address, std::size_t size);
// Takes out of the resident set the whole pages inside [address, address + size) of data
// mapped read-only from the executable; a later read brings them back from the file. Never
// for writable memory, whose contents it would lose.
void drop_file_pages(const void* address, std::size_t size);
// Gives back the whole pages inside [address, address + size) of writable memory whose
// contents are no longer needed: the range stays usable and reads as zeros when touched again.
void discard_pages(void* address, std::size_t size);

// ---- standard streams (stdio.cpp) ----------------------------------------------------------
enum : int { std_in = 0, std_out = 1, std_err = 2 };
// Writes every byte (retrying short writes and interruptions); false on an error.
bool write_all(int fd, const void* bytes, std::size_t count);
// Reads up to count bytes: the number read, 0 at end of input, -1 on an error.
long read_some(int fd, void* bytes, std::size_t count);
bool is_terminal(int fd);
// Size of the terminal on fd in character cells; false when it is not a terminal.
bool terminal_size(int fd, int& columns, int& rows);

// ---- time (clock.cpp) ----------------------------------------------------------------------
// The current UTC time of day in seconds; with `precise`, with its fraction.
double get_time(bool precise);
// The current date as a packed date word (year << 17 | month << 12 | day << 7 | zone);
// the zone is 0 for UTC, else the local offset (sign bit 6, hours bits 2-5, quarters 0-1).
uint32_t get_date(bool utc);
// Packs a zone offset given in minutes east of UTC into the 7 zone bits of a packed date.
uint32_t pack_zone(long offset_minutes);
// The calendar date and time of day of one reading of the clock, local (with the zone's
// offset, daylight saving included) or UTC (offset 0).
struct ClockReading {
    int32_t year;
    uint32_t month, day;    // 1-12, 1-31
    double seconds;         // of the day, with the fraction when asked for
    int32_t offset_minutes; // east of UTC
};
ClockReading read_clock(bool utc, bool precise);
// Sleeps for the duration (at least 1 ms; huge or NaN durations are clamped).
void sleep(double seconds);
// Monotonic nanoseconds, for timing.
int64_t monotonic_ns();

// ---- environment and current directory (env.cpp) -------------------------------------------
// Copies the variable's value (NUL-terminated, cut to fit) and gives its full length, or -1
// when it does not exist.
long get_env(const char* name, char* buffer, std::size_t size);
// A null value removes the variable. Gives success.
bool set_env(const char* name, const char* value);
// The current directory as a UTF-8 path; gives its length, or -1. The text is cut to fit.
long get_current_dir(char* buffer, std::size_t size);
bool set_current_dir(const char* path);

// ---- secure random bytes and digests (crypto.cpp) ------------------------------------------
// Fills the buffer from the kernel's cryptographic generator; false when it cannot.
bool secure_random(void* buffer, std::size_t size);
// The digests the runtime computes, by the length of their result.
enum class Digest : int { md5, sha1, sha256, sha384, sha512 };
constexpr std::size_t max_digest_length = 64;
std::size_t digest_length(Digest kind);
// The digest of the bytes into out (digest_length bytes); false when the library fails, in
// which case out holds nothing meaningful.
bool digest(Digest kind, const void* data, std::size_t size, uint8_t* out);
// HMAC (RFC 2104) of the bytes with the key, on the digest; the same contract as `digest`.
bool hmac(Digest kind, const void* key, std::size_t key_size, const void* data, std::size_t size, uint8_t* out);

// ---- faults and the native stack (faults.cpp, thread.cpp) ---------------------------------
// Installs the handler that turns processor faults into numbered runtime errors: the
// reporter gets the code and the faulting instruction's address, must be async-signal-safe,
// and the process then ends with the code as its status. SIGXFSZ is ignored from then on.
void install_fault_handlers(void (*reporter)(int code, uintptr_t address));
// Gives the calling thread an alternate signal stack, so that a stack overflow can be reported.
void enter_thread();
// Address of the running program's image start, for reporting code addresses.
uintptr_t image_base();

// Runs `body(arg)` on a new thread whose stack reserves `stack_size` bytes (committed as it is
// touched) and waits for it; gives its result.
int run_on_large_stack(std::size_t stack_size, int (*body)(void*), void* arg);
// The lowest usable address of the calling thread's stack plus a reserve kept back for raising
// the stack-overflow error. Set by `note_stack_bounds` for the thread that evaluates Kov code.
extern uintptr_t stack_limit;
void note_stack_bounds(std::size_t reserve);
// True when the native stack has come within the reserve of its end.
inline bool stack_exhausted() {
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < stack_limit;
}

// ---- interrupts and ending signals (signals.cpp) ------------------------------------------
// Set by Ctrl+C (SIGINT) once `install_interrupt_handlers` has run. The interpreter polls it
// at loop and call boundaries and stops the evaluation as `halt` does; blocking waits return
// early while it is set. A second Ctrl+C within a second, while it is still set, ends the
// process quietly with status 0. Plain int: one aligned load, written only by the handler
// and by `clear_interrupt`.
extern volatile int interrupt_flag;
void install_interrupt_handlers();
// The interpreter has taken the interrupt (the flag is down); the evaluation may still not
// stop, and a second Ctrl+C within the second still ends the process.
inline void take_interrupt() { interrupt_flag = 0; }
// The evaluation has ended, or the interrupt was a key of the line editor: nothing is left
// of it.
void clear_interrupt();
// A file written when the process ends by a signal (a second Ctrl+C, SIGHUP, SIGTERM): the
// handler can run no Kov code, so the console hands over the bytes to write beforehand.
// Both are copied; the handler writes them to a neighbour file and renames it over the path.
void set_exit_file(const char* path, std::size_t path_length, const void* bytes, std::size_t count);
// The per-user folder for settings, with a slash at its end: "$HOME/.kov/" when HOME names
// a folder other than the root where it exists or can be made (it is made here), else a
// folder under /tmp owned by the user alone (made here too). Nothing else is created: not
// HOME, not a folder at the root. 0 (nothing written) when neither can be had.
std::size_t settings_folder(char* buffer, std::size_t size);

// Gives a signal its default action and raises it again, unblocked: a handler that has put
// things back uses it to end the process as the signal would have (a fault signal returns
// and faults again). Safe in a signal handler.
void raise_with_default_action(int sig);

// ---- process ------------------------------------------------------------------------------
[[noreturn]] void exit_process(int status);   // flushes nothing; the caller has

}  // namespace kov::os
