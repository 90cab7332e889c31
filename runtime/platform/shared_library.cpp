// Opening libraries on first use (see shared_library.h).
#include "runtime/platform/shared_library.h"

#include <dlfcn.h>

namespace kov::os {

void* open_library(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

void* library_symbol(void* handle, const char* name) { return dlsym(handle, name); }

}  // namespace kov::os
