// File I/O of file! values: the read, write and delete actions of file!, and the file
// services of the routines and natives (exists?, create-dir, size?).
//
// A file! names a local POSIX path: its text from the cursor, as UTF-8 (%/home/x is the local
// /home/x; a relative name is taken from the process's current directory). A name that ends in
// a slash, or is "." or "..", or ends in "/." or "/..", names a directory.
//
// Text is read and written as UTF-8 bytes as they are: no line-end conversion, a leading
// byte-order mark dropped on reading text. Sizes and offsets are 64-bit; a result too large
// for a series raises access/cannot-open.
//
// Moving memory: reading and writing allocate (results, molded text), so every function here
// may move series buffers.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kov::io {

// Names of the system (file names, arguments, the current folder) are bytes, mostly UTF-8
// but not always. A name becomes text as UTF-8, and each byte b that is not part of a valid
// sequence becomes the character U+DC00 + b (U+DC80 to U+DCFF, which valid UTF-8 never
// gives); a local path turns those characters back into their bytes, so that every name the
// system gives names the same file again.
//
// The local path of a file! (or any string cell) from its cursor. False when the name holds a
// NUL character, which no local path can.
bool local_path(const Cell& file, std::string& out);
// A name from the system as a new string! in the target (a new value-stack cell when null).
Cell* load_name(const uint8_t* bytes, uint64_t n, Cell* target);
// True when the file! names a directory by its spelling (see above).
bool dir_path_q(const Cell& file);

// UTF-8 of at most `limit` characters (all when negative) of a string cell, appended.
void append_utf8(const Cell& s, int64_t limit, std::string& out);
// Line strings of bytes appended to the block: split at line feeds, a carriage return before
// one dropped; a last line without its line feed counts, an ending line feed makes no empty
// last line.
void split_lines(const uint8_t* bytes, uint64_t n, Cell& block);

// The actions. `source` and `destination` are the action's first argument cell; the result is
// left there.
//   read: a file's text as a string!, its bytes with /binary, a block of line strings with
//   /lines; /seek and /part count bytes. A device or pipe (a file reporting no size) is read
//   in chunks up to its end or as far as /part asks, never further; /seek on a pipe reads
//   past that many bytes. A directory gives a block of file! names, those of
//   directories ending in a slash. Failure: access/cannot-open with the file.
//   write: a string's UTF-8, a binary's bytes, any other value molded; with /lines a block's
//   values (strings as they are, others molded) each followed by a line feed, or one value
//   followed by one. /append adds at the end, /seek writes over the file from an offset; a
//   plain write replaces the contents whole, and one that fails leaves the old contents
//   (os::files::Rewrite). /part limits the data (characters, bytes). Failure (past the
//   file-size limit too): access/cannot-open with the destination. The result is unset.
//   delete: removes a file, or an empty directory named as one; false when that fails.
//   query: the last modification date in UTC (a date! with its time, no zone), or none when
//   the file cannot be found or a name spelled as a directory names a file.
//   rename: renames or moves the file; true on success.
//   /info of read and write changes nothing. A file of 2 GiB or more raises
//   access/cannot-open on read (unless /part asks for less) and math/overflow from size?.
Cell* read(Cell* source, const ReadArgs& args);
Cell* write(Cell* destination, Cell* data, const WriteArgs& args);
Cell* delete_(Cell* file);
Cell* query(Cell* file);
Cell* rename(Cell* from, Cell* to);

// The routines' services.
bool exists_q(const Cell& file);
// Raises access/no-create with the file when the directory cannot be made.
void create_dir(const Cell& file);
// The file's size in bytes, or -1 when it cannot be opened or measured; math/overflow when
// it does not fit integer!.
int64_t size_q(const Cell& file);

}  // namespace kov::io
