// The clipboard routines `read-clipboard` and `write-clipboard`: text as string!, a file
// list as a block of file! values, an image as image! (PNG on the clipboard). The clipboard itself is the platform's (clipboard.h there).
// Each takes its arguments from the argument base and leaves its result there; each may
// allocate.
#pragma once
#include "runtime/cell.h"

namespace kov::natives {
class Args;
}

namespace kov::io {

// A string!, a block! of file!, an image!, none when the clipboard holds nothing usable
// (an image that does not decode included), false when it cannot be reached.
void read_clipboard(natives::Args& args, const Cell& data);
// string!, a block of files (file! or other text, as local paths), none! (empties the
// clipboard), image! (access/bad-media when it has no pixels); any other value raises
// script/invalid-arg. Gives whether
// the clipboard took it.
void write_clipboard(natives::Args& args, const Cell& data);

}  // namespace kov::io
