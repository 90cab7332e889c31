// Processes, the environment and the system's facts as values: the bodies of the natives
// `call` and `list-env` and of the routine `os-info`. The host side lives in
// runtime/platform/process.cpp.
//
// call: the command is a command line (words split at spaces and tabs outside double
// quotes, the first one a program found on PATH; one not found is run as shell text through
// /bin/sh -c instead) or, for a file!, one program's path, which is never read as shell text:
// a missing program gives -1. /shell runs a command line through /bin/sh -c, and a file!'s
// program through the shell as one word. A command or file name holding a NUL raises
// script/invalid-arg (the system would cut it there). /input feeds the child a string's
// UTF-8, a binary's bytes or a file's content; /output and /error capture into a string!
// (decoded as UTF-8, invalid bytes as U+FFFD, CR LF and lone CR made LF, appended at the
// tail) or a binary! (raw bytes, inserted at its position, in front of the bytes there), or
// append to a file. Streams not redirected are thrown away, or with /console left on the console's
// terminal. Redirections and /console force a wait; /wait gives the exit status (128 plus the
// signal's number for a child ended by a signal), otherwise the result is the process id.
// The result is -1 when the process cannot be started or an input file cannot be opened.
// /show is accepted and does nothing. An interrupt (Ctrl+C) while waiting kills the child
// and gives -1; the interpreter then stops the evaluation as `halt` does. A capture
// larger than a series holds (2 GiB) stops the child and raises script/too-long.
//
// Moving memory: the results are new series; the captured text is appended to the targets.
#pragma once
#include "runtime/cell.h"

namespace kov::io {

struct CallArgs {
    bool wait, console, shell;
    Cell* input;    // null when not given
    Cell* output;
    Cell* error;
};
// Leaves the integer result in the command's cell.
void call(Cell* command, const CallArgs& args);

// The process environment as a map! of name strings to value strings, into the cell.
void list_env(Cell* result);

// An object! [name: string! arch: word! version: tuple! build: integer!] into the cell.
void os_info(Cell* result);

}  // namespace kov::io
