// The terminal as the line editor needs it: raw key input on standard input, the window
// size, the window title, and the guarantee that the terminal gets its settings back
// however the process ends.
//
// Raw mode clears canonical input, echo, signal keys, extended input processing, CR-to-LF
// translation and flow control; output processing stays on, so a line feed written still
// returns the carriage. The settings found at the first `enter_raw` are the ones restored:
// by `leave_raw`, at exit, and before a terminating signal (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGABRT and the processor faults) takes its course. A stop signal restores them
// (and undoes the GUI's screen modes) for the shell; raw mode and the modes come back when the
// process continues.
//
// Nothing here allocates series memory or runs Kov code.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::os::tty {

// Standard input and standard output are both terminals: keys can be read raw and the
// editor's cursor movements reach the screen the keys are typed on.
bool interactive();

// Gives false (and changes nothing) when standard input is not a terminal or refuses.
bool enter_raw();
void leave_raw();
// Puts the terminal's settings back when raw mode is on; async-signal-safe, for the handlers
// that end the process.
void put_back();

// What `read_byte` answers besides a byte 0-255.
enum : int {
    no_byte = -1,       // nothing arrived within the timeout
    end_of_input = -2,  // end of input, or a read error: nothing more will come
    interrupted = -3,   // the window changed size or the process was continued: redraw
    interrupt_key = -4, // an interrupt (os::interrupt_flag) arrived while waiting: as Ctrl+C
};
// One byte of standard input, waiting at most timeout_ms milliseconds (negative: no limit).
// Reads one byte per call, so that nothing is taken from standard input beyond what the
// caller consumed.
int read_byte(int timeout_ms);

// Whatever standard input holds, up to capacity bytes, waiting at most timeout_ms for the
// first (negative: no limit): the count read, 0 when nothing came, or one of the codes above.
int read_some(unsigned char* buffer, int capacity, int timeout_ms);

// Bytes written to standard output when the process ends (exit or a terminating signal)
// while they are set: what undoes the GUI back end's screen modes. Empty to forget them. A
// stop signal writes them too, and the resume bytes (what takes the modes again) follow when
// the process continues; the caller redraws on the `interrupted` that the continuation gives.
void set_exit_sequence(const char* bytes, std::size_t length, const char* resume = "", std::size_t resume_length = 0);

// One write of all the bytes to standard output; false when it failed.
bool write_out(const char* bytes, std::size_t length);

// The window size in character cells, from the terminal on standard output, else standard
// input; false when neither answers.
bool size(int& columns, int& rows);

// Sets the window title when standard output is a terminal. Control characters of the text
// are left out, so that it cannot end the sequence early. False when nothing was written.
bool set_title(const char* utf8, std::size_t length);

}  // namespace kov::os::tty
