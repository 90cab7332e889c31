// No terminal GUI back end is live yet, so there is nothing to put aside around a print.
#include "runtime/tui_hooks.h"

namespace kov::tui {

void suspend_for_output() {}
void resume_after_output() {}

}  // namespace kov::tui
