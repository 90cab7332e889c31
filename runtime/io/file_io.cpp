// File I/O of file! values (see file_io.h). The OS calls live in runtime/platform/files.cpp;
// this module converts between values and bytes and raises the language's errors.
//
// Reading goes straight into the new series' buffer: between fetching its address and the
// read call nothing allocates. Writing takes the bytes of the data's buffer the same way,
// molding first (which allocates) and fetching the address only afterwards.
#include "runtime/io/file_io.h"

#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"
#include "runtime/platform/files.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"

namespace kov::io {

namespace files = os::files;

namespace {

// Closes a descriptor on every way out, errors included.
struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor() { files::close(fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

[[noreturn]] void cannot_open(const Cell& file) { error::fire(err::access_cannot_open, file); }

// A failed open, read or write of `slot`'s file: when Ctrl+C gave it up (a FIFO with no
// writer, a silent device), the evaluation stops as `halt` stops it and the native returns
// at once; otherwise, or when nothing can take the halt, the file could not be used.
Cell* given_up(Cell* slot) {
    if (!files::interrupted() || !stack::raise_interrupt()) cannot_open(*slot);
    *slot = unset::value;
    return slot;
}

// Characters of a string cell from its cursor (clipped to the tail).
struct Text {
    uint32_t unit;
    uint64_t index, count;
};
Text text_of(const Cell& s) {
    memory::Buffer* b = memory::buffer(series::node_of(s));
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint64_t total = b->used() >> string::shift_of(unit);
    uint64_t index = series::position_of(s) < total ? series::position_of(s) : total;
    return Text{unit, index, total - index};
}

}  // namespace

namespace {

// The characters that stand for the bytes of a system name that are not part of valid UTF-8:
// byte b (0x80 to 0xFF) is U+DC00 + b, a lone surrogate, which no valid UTF-8 decodes to.
constexpr uint32_t name_byte_first = 0xDC80, name_byte_last = 0xDCFF;

// UTF-8 of the characters; for a name, the characters that stand for bytes as those bytes.
void append_text(const Cell& s, int64_t limit, std::string& out, bool name) {
    Text t = text_of(s);
    uint64_t n = limit >= 0 && uint64_t(limit) < t.count ? uint64_t(limit) : t.count;
    const uint8_t* p = memory::buffer(series::node_of(s))->head_ptr() + (t.index << string::shift_of(t.unit));
    uint8_t bytes[4];
    for (uint64_t i = 0; i < n; ++i) {
        auto cp = uint32_t(string::get_char(p + (i << string::shift_of(t.unit)), t.unit));
        if (name && cp >= name_byte_first && cp <= name_byte_last) {
            out += char(cp - 0xDC00);
            continue;
        }
        int32_t k = unicode::encode_utf8(cp, bytes);
        out.append(reinterpret_cast<char*>(bytes), size_t(k));
    }
}

}  // namespace

void append_utf8(const Cell& s, int64_t limit, std::string& out) { append_text(s, limit, out, false); }

Cell* load_name(const uint8_t* bytes, uint64_t n, Cell* target) {
    if (!target) target = stack::reserve();
    string::make_at(*target, uint32_t(n ? n : 1), 1);
    memory::Node node = series::node_of(*target);
    const uint8_t* end = bytes + n;
    for (const uint8_t* p = bytes; p < end;) {
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, cp);
        if (cp < 0) {
            cp = int32_t(0xDC00 + *p);
            next = p + 1;
        }
        string::append_char(node, cp);
        p = next;
    }
    return target;
}

namespace {

// A /part or /seek value as a count: integers as they are, other numbers truncated; a value
// beyond 32 bits raises script/out-of-range.
int64_t count_of(const Cell& c) {
    if (cell::is(c, T_integer)) return integer::get(c);
    if (cell::is(c, T_float_) || cell::is(c, T_percent)) {
        int32_t v;
        if (!numeric::to_int32(cell::get_double(c), v)) error::fire(err::script_out_of_range, c);
        return v;
    }
    error::fire(err::script_invalid_arg, c);
}

// The molded text of a value, at most `limit` characters of it (all when negative), appended
// as UTF-8.
void append_molded(const Cell& value, int64_t limit, std::string& out) {
    stack::Mark mark;
    Cell* text = string::push(16, 1);
    Cell copy = value;
    collector::Root keep(copy);
    auto fn = actions::lookup<actions::slot::mold>(cell::type(copy));
    if (!fn) error::fire(err::script_invalid_arg, copy);
    fn(&copy, text, MoldArgs{}, 0x7FFFFFFF);
    append_utf8(*text, limit, out);
}

}  // namespace

void split_lines(const uint8_t* bytes, uint64_t n, Cell& block) {
    uint64_t start = 0;
    for (uint64_t i = 0; i <= n; ++i) {
        if (i < n && bytes[i] != '\n') continue;
        if (i == n && start == n) break;
        uint64_t end = i;
        if (i < n && end > start && bytes[end - 1] == '\r') --end;
        string::load_in(series::node_of(block), bytes + start, end - start, 0);
        start = i + 1;
    }
}

namespace {

Cell* read_dir(Cell* source, const std::string& path) {
    std::vector<files::Entry> entries;
    if (!files::list(path.c_str(), entries)) cannot_open(*source);
    Cell* out = stack::reserve();
    block::make_at(*out, int32_t(entries.size() < 0x7FFFFFF ? entries.size() : 0x7FFFFFF));
    for (const files::Entry& e : entries) {
        std::string name = e.directory ? e.name + "/" : e.name;
        stack::Mark mark;
        Cell* s = load_name(reinterpret_cast<const uint8_t*>(name.data()), name.size(), nullptr);
        cell::set_type(*s, T_file);
        block::rs_append(*out, *s);
    }
    *source = *out;
    return source;
}

}  // namespace

bool local_path(const Cell& file, std::string& out) {
    out.clear();
    append_text(file, -1, out, true);
    return out.find('\0') == std::string::npos;
}

bool dir_path_q(const Cell& file) {
    std::string p;
    append_utf8(file, -1, p);
    if (p.empty()) return false;
    if (p == "." || p == "..") return true;
    size_t n = p.size();
    if (p[n - 1] == '/') return true;
    if (n >= 2 && p[n - 1] == '.' && p[n - 2] == '/') return true;
    return n >= 3 && p[n - 1] == '.' && p[n - 2] == '.' && p[n - 3] == '/';
}

// ---- read -----------------------------------------------------------------------------------------

Cell* read(Cell* source, const ReadArgs& args) {
    if (args.as) error::fire(err::internal_not_done);
    std::string path;
    if (!local_path(*source, path)) cannot_open(*source);
    if (dir_path_q(*source)) return read_dir(source, path);

    int64_t part = args.part ? count_of(*args.part) : -1;
    int64_t seek = args.seek ? count_of(*args.seek) : -1;
    Descriptor file(files::open(path.c_str(), files::for_read));
    if (file.fd < 0) return given_up(source);
    int64_t size = files::size(file.fd);
    if (size < 0) cannot_open(*source);

    // A file that reports no size (a device, a pipe, a kernel file) is read to its end, or as
    // far as /part asks, first; one that would not fit a series is out of memory.
    std::vector<uint8_t> rest;
    bool sized = size > 0;
    if (!sized) {
        if (seek > 0 && !files::skip(file.fd, seek)) cannot_open(*source);
        uint64_t limit = part >= 0 ? uint64_t(part) : memory::max_buffer_size + 1;
        if (!files::read_rest(file.fd, rest, limit)) return given_up(source);
    } else if (seek >= 0) {
        if (!files::seek(file.fd, seek)) cannot_open(*source);
        size = seek < size ? size - seek : 0;
    }
    uint64_t n = sized ? uint64_t(size) : rest.size();
    if (part >= 0 && uint64_t(part) < n) n = uint64_t(part);
    // More than a series holds (2 GiB) is refused whole rather than cut short.
    if (n > memory::max_buffer_size) cannot_open(*source);

    if (args.binary) {
        Cell* out = binary::push(n);
        if (n) {
            if (sized) {
                int64_t got = files::read(file.fd, memory::buffer(series::node_of(*out))->head_ptr(), n);
                if (got < 0) return given_up(source);
                n = uint64_t(got);
            } else {
                std::memcpy(memory::buffer(series::node_of(*out))->head_ptr(), rest.data(), n);
            }
        }
        memory::Buffer* b = memory::buffer(series::node_of(*out));
        b->tail = b->head + uint32_t(n);
        *source = *out;
        return source;
    }

    if (sized) {
        rest.resize(n);
        int64_t got = n ? files::read(file.fd, rest.data(), n) : 0;
        if (got < 0) return given_up(source);
        rest.resize(uint64_t(got));
        n = rest.size();
    }
    if (args.lines) {
        Cell* out = block::push_new(16);
        const uint8_t* bytes = rest.data();
        // A leading byte-order mark belongs to no line.
        uint64_t skip = n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
        split_lines(bytes + skip, n - skip, *out);
        *source = *out;
        return source;
    }
    string::load(rest.data(), n, source, 0);
    return source;
}

// ---- write ----------------------------------------------------------------------------------------

Cell* write(Cell* destination, Cell* data, const WriteArgs& args) {
    if (args.as || args.allow) error::fire(err::internal_not_done);
    std::string path;
    if (!local_path(*destination, path)) cannot_open(*destination);
    int64_t part = -1;
    if (args.part) {
        if (!cell::is(*args.part, T_integer)) {
            error::fire(err::script_invalid_refine_arg, word::load("part"), *args.part);
        }
        part = integer::get(*args.part);
        if (part < 0) {
            *destination = unset::value;
            return destination;
        }
    }
    int64_t seek = args.seek ? count_of(*args.seek) : -1;

    // The bytes to write: text is gathered in a C++ string; a binary is written from its own
    // buffer, whose address is taken only when nothing more will allocate.
    std::string bytes;
    bool from_binary = false;
    uint32_t t = cell::type(*data);
    if (args.lines && cell::is(*data, T_block)) {
        Cell block = *data;
        int32_t count = block::rs_length_q(block);
        for (int32_t i = 0; i < count; ++i) {
            Cell v = *block::rs_abs_at(block, series::position_of(block) + uint32_t(i));
            if (cell::is(v, T_string)) append_utf8(v, -1, bytes);
            else append_molded(v, -1, bytes);
            bytes += '\n';
        }
    } else if (t == T_string) {
        append_utf8(*data, part, bytes);
    } else if (t == T_binary) {
        from_binary = true;
    } else {
        append_molded(*data, part, bytes);
    }
    if (args.lines && !cell::is(*data, T_block)) bytes += '\n';

    auto put = [&](int fd) {
        if (!from_binary) return files::write(fd, bytes.data(), bytes.size());
        uint64_t n = binary::length(*data);
        if (part >= 0 && uint64_t(part) < n) n = uint64_t(part);
        bool ok = files::write(fd, binary::head_pointer(*data), n);
        return ok && (!args.lines || files::write(fd, "\n", 1));
    };
    if (!args.append && seek < 0) {
        // The new contents replace the old only once all are written (see files::Rewrite).
        files::Rewrite file(path.c_str());
        if (file.fd() < 0 || !put(file.fd())) return given_up(destination);
        if (!file.commit()) cannot_open(*destination);
    } else {
        Descriptor file(files::open(path.c_str(), files::for_write | files::keep_contents));
        if (file.fd < 0) return given_up(destination);
        if ((args.append || seek > 0) && !files::seek(file.fd, args.append ? -1 : seek)) cannot_open(*destination);
        if (!put(file.fd)) return given_up(destination);
    }
    *destination = unset::value;
    return destination;
}

// ---- delete ---------------------------------------------------------------------------------------

Cell* delete_(Cell* file) {
    std::string path;
    bool ok = local_path(*file, path) && files::remove(path.c_str(), dir_path_q(*file));
    logic::make_at(*file, ok);
    return file;
}

// ---- query and rename -----------------------------------------------------------------------------

Cell* query(Cell* file) {
    std::string path;
    int64_t seconds;
    int32_t nanoseconds;
    // A name spelled as a directory must name one.
    bool ok = local_path(*file, path) && !path.empty() && files::modified(path.c_str(), seconds, nanoseconds) &&
              (path.back() != '/' || files::is_directory(path.c_str()));
    if (!ok) {
        *file = none::value;
        return file;
    }
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // 1970-01-01 is day 719468 of the calendar; the time is kept to the millisecond.
    int64_t day = days + 719468;
    if (day < date::to_days(date::pack(date::min_year, 1, 1, 0, false)) ||
        day > date::to_days(date::pack(date::max_year, 12, 31, 0, false))) {
        *file = none::value;
        return file;
    }
    double time = double(rest) + double(nanoseconds / 1000000) / 1000.0;
    date::make_at(*file, date::from_days(int32_t(day), 0, true), time);
    return file;
}

Cell* rename(Cell* from, Cell* to) {
    std::string old_path, new_path;
    bool ok = local_path(*from, old_path) && local_path(*to, new_path) && !old_path.empty() && !new_path.empty() &&
              files::rename(old_path.c_str(), new_path.c_str());
    logic::make_at(*from, ok);
    return from;
}

// ---- services of the routines ---------------------------------------------------------------------

bool exists_q(const Cell& file) {
    std::string path;
    return local_path(file, path) && !path.empty() && files::exists(path.c_str());
}

void create_dir(const Cell& file) {
    std::string path;
    if (!local_path(file, path) || path.empty() || !files::make_dir(path.c_str())) {
        error::fire(err::access_no_create, file);
    }
}

int64_t size_q(const Cell& file) {
    // 2 GiB or more does not fit integer!: an error, not a wrong figure.
    std::string path;
    if (!local_path(file, path)) return -1;
    int64_t size = files::size_of(path.c_str());
    if (size > 0x7FFFFFFF) error::fire(err::math_overflow);
    return size;
}

}  // namespace kov::io
