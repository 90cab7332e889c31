// Registers the entries of one family of routines, as runtime/defs/routines.def lists them.
// The includer defines ROUTINES_<family>(index, entry) for its own family, then includes this
// file where the entries are visible; the other families expand to nothing. Deliberately
// included more than once: no include guard.
#ifndef ROUTINES_builtin
#define ROUTINES_builtin(index, entry)
#endif
#ifndef ROUTINES_system
#define ROUTINES_system(index, entry)
#endif
#ifndef ROUTINES_event
#define ROUTINES_event(index, entry)
#endif
#ifndef ROUTINES_files
#define ROUTINES_files(index, entry)
#endif
#ifndef ROUTINES_clipboard
#define ROUTINES_clipboard(index, entry)
#endif
#ifndef ROUTINES_kovbin
#define ROUTINES_kovbin(index, entry)
#endif
#ifndef ROUTINES_image
#define ROUTINES_image(index, entry)
#endif
#ifndef ROUTINES_json
#define ROUTINES_json(index, entry)
#endif
#ifndef ROUTINES_tui
#define ROUTINES_tui(index, entry)
#endif
#ifndef ROUTINES_console
#define ROUTINES_console(index, entry)
#endif
#ifndef ROUTINES_test
#define ROUTINES_test(index, entry)
#endif

#define ROUTINE(word, ident, family) ROUTINES_##family(::kov::routines::index::ident, ident)
#include "runtime/defs/routines.def"
#undef ROUTINE

#undef ROUTINES_builtin
#undef ROUTINES_system
#undef ROUTINES_event
#undef ROUTINES_files
#undef ROUTINES_clipboard
#undef ROUTINES_kovbin
#undef ROUTINES_image
#undef ROUTINES_json
#undef ROUTINES_tui
#undef ROUTINES_console
#undef ROUTINES_test
