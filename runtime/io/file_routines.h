// The routines of the file layer that the boot definitions bind to words: exists?,
// create-dir, get-current-dir and set-current-dir. Each takes its arguments from the argument
// base and leaves its result there (routines.h); each may allocate.
#pragma once
#include "runtime/cell.h"

namespace kov::natives {
class Args;
}

namespace kov::io {

void exists_q(natives::Args& args, const Cell& data);
void create_dir(natives::Args& args, const Cell& data);
void get_current_dir(natives::Args& args, const Cell& data);
void set_current_dir(natives::Args& args, const Cell& data);

}  // namespace kov::io
