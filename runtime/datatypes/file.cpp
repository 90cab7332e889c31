#include "runtime/datatypes/file.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/error.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"

namespace kov::file {

// ---- actions ------------------------------------------------------------------------------------

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    int32_t count = string::rs_length_q(*value);
    string::rs_head(*value);  // an index past the tail is clipped, in the cell too
    if (how.arg && count > part) count = part < 0 ? 0 : part;
    // A name holding a character that a bare file literal cannot hold is written in quotes;
    // nothing is escaped either way.
    bool quoted = count == 0;
    memory::Buffer* b = memory::buffer(value->w2);
    uint32_t unit = b->unit() ? b->unit() : 1;
    const uint8_t* p = b->head_ptr() + (uint64_t(value->w1) << string::shift_of(unit));
    for (int32_t i = 0; i < count && !quoted; ++i) {
        int32_t c = string::get_char(p + (uint64_t(i) << string::shift_of(unit)), unit);
        if (c < 127 && !url::kept_q(url::url_table, static_cast<uint32_t>(c))) quoted = true;
    }
    part = string::emit(*out, quoted ? "%\"" : "%", part);
    if (count > 0) string::concatenate_part(*out, *value, count, 0, true, string::append_mode);
    part -= count;
    if (quoted) part = string::emit(*out, "\"", part);
    return part;
}

namespace {

// Files are read, written, renamed, deleted and queried through the I/O layer.
Cell* delete_(Cell* file) { return io::delete_(file); }
Cell* query(Cell* file) { return io::query(file); }
Cell* read(Cell* source, const ReadArgs& args) { return io::read(source, args); }
Cell* rename(Cell* from, Cell* to) { return io::rename(from, to); }
Cell* write(Cell* destination, Cell* data, const WriteArgs& args) { return io::write(destination, data, args); }

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    any_string::register_text(T_file, "file!", {.mold = mold, .eval_path = inherit, .append = inherit,
                                                .delete_ = delete_, .query = query, .read = read,
                                                .rename = rename, .write = write});
}

}  // namespace kov::file
