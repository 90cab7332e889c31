// The bracket around console output: while the terminal GUI is up, its inline area is put
// aside before a print and drawn again below the printed text after it.
#include "runtime/tui_hooks.h"

#include "runtime/tui/routines.h"

namespace kov::tui {

void suspend_for_output() { suspend_output(); }
void resume_after_output() { resume_output(); }

}  // namespace kov::tui
