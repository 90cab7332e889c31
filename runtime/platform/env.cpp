// Environment variables and the current directory.
#include "runtime/platform/os.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <climits>
#include <string>

namespace kov::os {

static long copy_out(const char* text, char* buffer, std::size_t size) {
    std::size_t n = std::strlen(text);
    if (size > 0) {
        std::size_t k = n < size - 1 ? n : size - 1;
        std::memcpy(buffer, text, k);
        buffer[k] = '\0';
    }
    return static_cast<long>(n);
}

long get_env(const char* name, char* buffer, std::size_t size) {
    const char* value = getenv(name);
    if (!value) return -1;
    return copy_out(value, buffer, size);
}

bool set_env(const char* name, const char* value) {
    if (!name || !*name || std::strchr(name, '=')) return false;
    if (!value) return unsetenv(name) == 0;
    return setenv(name, value, 1) == 0;
}

long get_current_dir(char* buffer, std::size_t size) {
    std::string dir(PATH_MAX, '\0');
    while (!getcwd(dir.data(), dir.size())) {
        if (errno != ERANGE || dir.size() > (1u << 20)) return -1;
        dir.resize(dir.size() * 2);
    }
    return copy_out(dir.c_str(), buffer, size);
}

bool set_current_dir(const char* path) {
    return chdir(path) == 0;
}

}  // namespace kov::os
