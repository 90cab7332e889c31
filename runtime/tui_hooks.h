// The bracket that console output puts around every print, so that the terminal GUI back end
// can put its own drawing aside first and draw it again after. While no window holds the
// terminal the bracket costs one test of a flag.
#pragma once

namespace kov::tui {

// Set while the user interface holds the terminal (runtime/tui/routines.cpp keeps it).
extern bool output_bracketed;
void suspend_output();
void resume_output();

inline void suspend_for_output() {
    if (output_bracketed) suspend_output();
}
inline void resume_after_output() {
    if (output_bracketed) resume_output();
}

}  // namespace kov::tui
