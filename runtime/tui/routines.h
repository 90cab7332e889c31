// The terminal GUI back end as the boot definitions see it: routines over the screen buffer,
// the decoder, the loop's clocks and the terminal (view/terminal.kov builds the widgets and
// the dispatch on them), the event records behind the back end's event! values, and the
// bracket that console output puts around every print while the user interface is up.
//
// A widget's private data, the text a helper rendered for it and which widget has the focus
// are kept here, by widget id, for the routines of TUI-helpers (focused?, widget-data,
// set-face-ui); they are plain C++ values, outside the collector's reach.
//
// Event records live in one block held by the root block: [generation face offset key
// picked] per event being dispatched, innermost last. An event! names its record by the
// generation, so one kept after its dispatch reads none.
//
// Moving memory: every routine may allocate except those that only write the terminal.
#pragma once

#include "runtime/cell.h"

namespace kov::tui {

void register_routines();
// True while the user interface holds the terminal.
bool ui_active();
// The bracket around console output (runtime/tui_hooks.h calls them while it is set).
void suspend_output();
// Called by `wait` after its sleep: while the user interface is up, one pass of the event
// loop (timers, input, redraw). Runs Kov code.
void wait_events();
void resume_output();
// A face made into an image (`to image!`): the terminal has no pixels to render one into, so
// the answer is none.
Cell face_to_image(const Cell& face);

}  // namespace kov::tui
