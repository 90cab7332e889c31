// The flag of the bracket around console output; the bracket itself is the terminal back
// end's (runtime/tui/routines.cpp).
#include "runtime/tui_hooks.h"

namespace kov::tui {

bool output_bracketed = false;

}  // namespace kov::tui
