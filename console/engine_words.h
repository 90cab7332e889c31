// The console's own words. The console engine is Kov code that calls global words (`case`,
// `head`, `print`, `load`...), and every user shares those words: a user who assigned `case: 1`
// would otherwise stop the loop that reads the next line. So, once the boot definitions have
// run and before the console starts, the engine's code is bound to a private context that holds
// the values its global words had then.
//
// What is the engine's code: the functions of `system/console`, of `cli-console-ctx` (with its
// settings) and of `kov-complete-ctx`, and the global `quit`, `halt` and `_save-cfg`: these are
// bound in place, so they stay the language functions they are, with their spec and body
// blocks. A library function that their code calls (`load`, `save`, `attempt`...) gets a copy
// for the engine alone, bound the same way, and so on down: the user's calls of `load` still
// see the user's definitions of the words `load` uses, the console's never do.
//
// Invariants: a private word holds the value its global word had at start-up and is never set
// again (a word that the engine's code sets stays global, as does a word that had no value);
// the private context is reachable from the root block.
//
// Moving memory: `seal` allocates (the context, the copies); `lookup` does not.
#pragma once
#include <initializer_list>

#include "runtime/cell.h"

namespace kov::engine_words {

// Binds the engine's code to its private words. Runs once, after the boot definitions.
void seal();

// The value at the end of a path of words from the engine's own words (global ones before
// `seal`, or for a name that has none), through objects; null when a step is missing.
Cell* lookup(std::initializer_list<const char*> path);

}  // namespace kov::engine_words
