// Handing a URL or a local path to the desktop's browser: the commands of $BROWSER (a list
// separated by colons; "%s" in one stands for the target, else the target is appended),
// else xdg-open. The first command found on PATH is started detached from the console (a
// session of its own, standard streams on /dev/null) and not waited for; children that have
// ended are reaped by the next call.
#pragma once

namespace kov::os {

enum BrowseResult : int { browse_started = 0, browse_no_browser = 1, browse_failed = 2 };

int open_in_browser(const char* target);

}  // namespace kov::os
