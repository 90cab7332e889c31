// Registers the entries of one family of natives, as runtime/defs/natives.def lists them. The
// includer defines NATIVES_<family>(index, entry) for its own family, then includes this file
// inside the kov::natives namespace, where the entries are visible; the other families expand
// to nothing. Deliberately included more than once: no include guard.
#ifndef NATIVES_control
#define NATIVES_control(index, entry)
#endif
#ifndef NATIVES_eval
#define NATIVES_eval(index, entry)
#endif
#ifndef NATIVES_math
#define NATIVES_math(index, entry)
#endif
#ifndef NATIVES_sets
#define NATIVES_sets(index, entry)
#endif
#ifndef NATIVES_text
#define NATIVES_text(index, entry)
#endif
#ifndef NATIVES_io
#define NATIVES_io(index, entry)
#endif
#ifndef NATIVES_time
#define NATIVES_time(index, entry)
#endif
#ifndef NATIVES_system
#define NATIVES_system(index, entry)
#endif
#ifndef NATIVES_parse
#define NATIVES_parse(index, entry)
#endif
// Not built yet: the table keeps a null entry, whose calls raise internal/not-done.
#define NATIVES_later(index, entry)

#define NATIVE(n, word, ident, family) NATIVES_##family(n, ident)
#include "runtime/defs/natives.def"
#undef NATIVE

#undef NATIVES_control
#undef NATIVES_eval
#undef NATIVES_math
#undef NATIVES_sets
#undef NATIVES_text
#undef NATIVES_io
#undef NATIVES_time
#undef NATIVES_system
#undef NATIVES_parse
#undef NATIVES_later
