// File I/O of file! values: the read, write and delete actions of file!, and the file
// services of the routines and natives (exists?, create-dir, size?).
//
// A file! names a local POSIX path: its text from the cursor, as UTF-8 (%/home/x is the local
// /home/x; a relative name is taken from the process's current directory). A name that ends in
// a slash, or is "." or "..", or ends in "/." or "/..", names a directory.
//
// Text is read and written as UTF-8 bytes as they are: no line-end conversion, a leading
// byte-order mark dropped on reading text. Sizes and offsets are 64-bit; a file too large for a
// series raises internal/no-memory.
//
// Moving memory: reading and writing allocate (results, molded text), so every function here
// may move series buffers.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kov::io {

// The local path of a file! (or any string cell) from its cursor. False when the name holds a
// NUL character, which no local path can.
bool local_path(const Cell& file, std::string& out);
// True when the file! names a directory by its spelling (see above).
bool dir_path_q(const Cell& file);

// The actions. `source` and `destination` are the action's first argument cell; the result is
// left there.
//   read: a file's text as a string!, its bytes with /binary, a block of line strings with
//   /lines; /seek and /part count bytes. A device or pipe (a file reporting no size) is read
//   in chunks up to its end or as far as /part asks, never further. A directory gives a block of file! names, those of
//   directories ending in a slash. Failure: access/cannot-open with the file.
//   write: a string's UTF-8, a binary's bytes, any other value molded; with /lines a block's
//   values (strings as they are, others molded) each followed by a line feed, or one value
//   followed by one. /append adds at the end, /seek writes over the file from an offset; a
//   plain write truncates. /part limits the data (characters, bytes). Failure:
//   access/cannot-open with the destination. The result is unset.
//   delete: removes a file, or an empty directory named as one; false when that fails.
Cell* read(Cell* source, const ReadArgs& args);
Cell* write(Cell* destination, Cell* data, const WriteArgs& args);
Cell* delete_(Cell* file);

// The routines' services.
bool exists_q(const Cell& file);
// Raises access/no-create with the file when the directory cannot be made.
void create_dir(const Cell& file);
// The file's size in bytes, or -1 when it cannot be opened or measured.
int64_t size_q(const Cell& file);

}  // namespace kov::io
