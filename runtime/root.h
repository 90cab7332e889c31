// The root block: the one block that keeps the runtime's own long-lived values alive (the
// symbol series, the boot image's values, global words made while booting...). Everything
// reachable from it survives every collection.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::root {

void init();
memory::Node block();
// Appends a copy of the value; gives the new cell (valid until the next allocation).
Cell* append(const Cell& value);

}  // namespace kov::root
