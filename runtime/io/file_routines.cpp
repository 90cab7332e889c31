// The file routines (see file_routines.h). Paths are file! values turned into local paths by
// the I/O layer; the current directory comes back in the host's form, a string! ending in a
// slash.
#include "runtime/io/file_routines.h"
#include "runtime/interpreter/routines.h"

#include <string>

#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/io/file_io.h"
#include "runtime/platform/os.h"

namespace kov::io {

void exists_q(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), exists_q(*args.cell(0))); }

void create_dir(routines::Args& args, const Cell&) {
    create_dir(*args.cell(0));
    *args.cell(0) = unset::value;
}

void get_current_dir(routines::Args& args, const Cell&) {
    long length = os::get_current_dir(nullptr, 0);
    std::string dir(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length < 0 || os::get_current_dir(dir.data(), dir.size()) != length) {
        error::fire(err::access_cannot_open, string::load(reinterpret_cast<const uint8_t*>("."), 1, nullptr, 0)[0]);
    }
    dir.resize(static_cast<size_t>(length));
    if (dir.empty() || dir.back() != '/') dir += '/';
    load_name(reinterpret_cast<const uint8_t*>(dir.data()), dir.size(), args.cell(0));
}

void set_current_dir(routines::Args& args, const Cell&) {
    std::string path;
    if (!local_path(*args.cell(0), path) || path.empty() || !os::set_current_dir(path.c_str())) {
        error::fire(err::access_cannot_open, *args.cell(0));
    }
    *args.cell(0) = unset::value;
}

}  // namespace kov::io
