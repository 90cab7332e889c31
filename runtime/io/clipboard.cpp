#include "runtime/io/clipboard.h"
#include "runtime/interpreter/routines.h"

#include <string>

#include "runtime/cells.h"
#include "runtime/codecs/image_codecs.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/memory.h"
#include "runtime/platform/clipboard.h"
#include "runtime/series_buffer.h"

namespace kov::io {

namespace clip = os::clipboard;

void read_clipboard(routines::Args& args, const Cell&) {
    clip::Content content;
    if (!clip::read(content)) {
        logic::make_at(*args.cell(0), false);
        return;
    }
    switch (content.kind) {
    case clip::Content::Kind::empty:
        none::make_at(*args.cell(0));
        return;
    case clip::Content::Kind::text:
        string::load(reinterpret_cast<const uint8_t*>(content.text.data()), content.text.size(), args.cell(0), 0);
        return;
    case clip::Content::Kind::image: {
        // A picture that does not decode is nothing usable.
        stack::Mark mark;
        try {
            *args.cell(0) = *image_codecs::load_binary(reinterpret_cast<const uint8_t*>(content.text.data()), content.text.size());
        } catch (const Error& e) {
            if (e.id != err::access_bad_media) throw;
            none::make_at(*args.cell(0));
        }
        return;
    }
    case clip::Content::Kind::files: {
        stack::Mark mark;
        Cell* out = block::push_new(int32_t(content.files.size() < 0x7FFFFFF ? content.files.size() : 0x7FFFFFF));
        for (const std::string& name : content.files) {
            Cell* f = string::load_in(series::node_of(*out), reinterpret_cast<const uint8_t*>(name.data()), name.size(), 0);
            cell::set_type(*f, T_file);
        }
        *args.cell(0) = *out;
        return;
    }
    }
}

void write_clipboard(routines::Args& args, const Cell&) {
    clip::Content content;
    const Cell& value = *args.cell(0);
    if (cell::is(value, T_string)) {
        content.kind = clip::Content::Kind::text;
        append_utf8(value, -1, content.text);
    } else if (cell::is(value, T_block)) {
        content.kind = clip::Content::Kind::files;
        memory::Node node = series::node_of(value);
        int64_t start = series::index_of(value);
        if (start < 0) start = 0;
        int64_t n = static_cast<int64_t>(memory::buffer(node)->used() / sizeof(Cell)) - start;
        for (int64_t i = 0; i < n; ++i) {
            const Cell& f = cells::at(node, static_cast<uint32_t>(start + i));
            std::string path;
            if (!in(cell::type(f), ANY_STRING) || !local_path(f, path)) error::fire(err::script_invalid_arg, f);
            content.files.push_back(std::move(path));
        }
    } else if (cell::is(value, T_image)) {
        // An image without pixels has nothing to put there: the clipboard is only emptied.
        if (image::pixel_count(value) == 0) {
            logic::make_at(*args.cell(0), clip::write(content));
            return;
        }
        stack::Mark mark;
        Cell* png = image_codecs::encode(value, image_codecs::png);
        content.kind = clip::Content::Kind::image;
        memory::Buffer* b = memory::buffer(series::node_of(*png));
        content.text.assign(reinterpret_cast<const char*>(b->head_ptr()), b->used());
    } else if (!cell::is(value, T_none)) {
        error::fire(err::script_invalid_arg, value);
    }
    logic::make_at(*args.cell(0), clip::write(content));
}

}  // namespace kov::io
