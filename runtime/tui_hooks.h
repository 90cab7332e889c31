// The bracket that console output puts around every print, so that the terminal GUI back end
// can put its own drawing aside first and draw it again after.
#pragma once

namespace kov::tui {

void suspend_for_output();
void resume_after_output();

}  // namespace kov::tui
