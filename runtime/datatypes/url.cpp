#include "runtime/datatypes/url.h"

#include <cstring>
#include <string>
#include <vector>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/interp.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/http.h"
#include "runtime/datatypes/word.h"
#include "runtime/words.h"
#include "runtime/unicode.h"

namespace kov::url {

using memory::buffer;

namespace {

int32_t hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The UTF-8 bytes of a text value's characters from its position, in C++ memory (so that
// appending to a string while reading them is safe).
std::vector<uint8_t> utf8_of(const Cell& s) {
    memory::Buffer* b = buffer(s.w2);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t shift = string::shift_of(unit);
    int64_t length = b->used() >> shift;
    int64_t index = static_cast<int32_t>(s.w1);
    if (index < 0) index = 0;
    std::vector<uint8_t> out;
    for (int64_t i = index; i < length; ++i) {
        uint8_t bytes[4];
        int32_t n = unicode::encode_utf8(unicode::char_at(b->head_ptr() + (uint64_t(i) << shift), unit), bytes);
        out.insert(out.end(), bytes, bytes + n);
    }
    return out;
}

// The form action of the value's datatype, appending to out.
int32_t form_into(const Cell& value, Cell& out, int32_t part) {
    auto fn = actions::lookup<actions::slot::form>(cell::type(value));
    if (!fn) actions::fire_expect_arg(value, 0);
    stack::Mark mark;
    Cell* v = stack::push(value);
    return fn(v, &out, nullptr, part);
}

// The last character of the whole text, or -1 when empty.
int32_t last_char(const Cell& s) {
    int32_t n = string::rs_full_length_q(s);
    return n > 0 ? string::rs_abs_char(s, n - 1) : -1;
}

[[noreturn]] void not_done() { error::fire(err::internal_not_done); }

}  // namespace

// ---- encoding -----------------------------------------------------------------------------------

bool kept_q(int32_t table, uint32_t c) {
    if (c >= 128) return false;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
    case '-': case '.': case '_': case '~':
        return true;
    case '!': case '#': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case '/':
    case ':': case '=': case '?': case '@':
        return table != strict_table;
    default:
        return false;
    }
}

int32_t encode_byte(int32_t table, uint8_t byte, char out[3]) {
    if (kept_q(table, byte)) {
        out[0] = static_cast<char>(byte);
        return 1;
    }
    char hex[2];
    string::byte_to_hex(byte, hex);
    out[0] = '%';
    out[1] = hex[0];
    out[2] = hex[1];
    return 3;
}

void enhex_string(const Cell& value, Cell& out, int32_t table) {
    std::vector<uint8_t> bytes = utf8_of(value);
    std::string text;
    text.reserve(bytes.size());
    for (uint8_t b : bytes) {
        char e[3];
        text.append(e, static_cast<std::size_t>(encode_byte(table, b, e)));
    }
    if (!text.empty()) string::concatenate_literal_part(out, text.data(), static_cast<uint32_t>(text.size()));
}

// ---- decoding -----------------------------------------------------------------------------------

bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& byte) {
    if (end - p < 3 || p[0] != '%') return false;
    int32_t hi = hex_value(p[1]), lo = hex_value(p[2]);
    if (hi < 0 || lo < 0) return false;
    byte = static_cast<uint8_t>(hi << 4 | lo);
    return true;
}

bool decode_bytes(const uint8_t* text, uint64_t length, memory::Node out) {
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    while (p < end) {
        uint8_t lead;
        if (decode_escape(p, end, lead)) {
            int32_t n = unicode::utf8_lead_length(lead);
            if (n < 2) {
                string::append_char(out, lead);
                p += 3;
                continue;
            }
            uint8_t seq[4] = {lead};
            bool whole = n <= 4;
            for (int32_t i = 1; whole && i < n; ++i) whole = decode_escape(p + 3 * i, end, seq[i]);
            if (whole) {
                int32_t cp;
                const uint8_t* after = unicode::decode_utf8_char(seq, seq + n, cp);
                if (cp >= 0 && after == seq + n) {
                    string::append_char(out, cp);
                    p += 3 * n;
                    continue;
                }
            }
        }
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, cp);
        if (cp < 0) return false;
        string::append_char(out, cp);
        p = next;
    }
    return true;
}

void decode(const Cell& value, Cell& out) {
    std::vector<uint8_t> bytes = utf8_of(value);
    if (!decode_bytes(bytes.data(), bytes.size(), out.w2)) {
        // Only a surrogate code point in the text gives bytes the decoder refuses.
        Cell saved = value;
        error::fire(err::access_invalid_utf8, saved);
    }
}

// ---- actions ------------------------------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    if (type != T_url || !in(cell::type(*spec), ANY_LIST)) return string::to(proto, spec, type);
    memory::Node node = spec->w2;
    int64_t start = static_cast<int32_t>(spec->w1);
    if (start < 0) start = 0;
    auto count = [&] { return static_cast<int64_t>(buffer(node)->used() / sizeof(Cell)) - start; };
    auto item = [&](int64_t i) { return cells::of(node)[start + i]; };
    if (count() <= 0) error::fire(err::script_bad_to_arg, Cell{T_datatype, T_url, 0, 0}, *spec);
    Cell* r = Text::push(16, 1);
    const int32_t all = 0x7FFFFFFF;
    form_into(item(0), *r, all);
    string::concatenate_literal(*r, "://");
    if (count() > 1) form_into(item(1), *r, all);
    int64_t next = 2;
    if (count() > 2 && cell::is(item(2), T_integer)) {
        string::concatenate_literal(*r, ":");
        form_into(item(2), *r, all);
        if (count() == 3) return r;
        next = 3;
    }
    string::concatenate_literal(*r, "/");
    for (int64_t i = next; i < count(); ++i) {
        Cell v = item(i);
        if (cell::is(v, T_issue)) string::concatenate_literal(*r, "#");
        else if (i > next) string::concatenate_literal(*r, "/");
        form_into(v, *r, all);
    }
    return r;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    if (type == T_url && in(cell::type(*spec), ANY_LIST)) return to(proto, spec, type);
    return string::make(proto, spec, type);
}

namespace {

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    std::vector<uint8_t> bytes = utf8_of(*value);
    std::string text;
    text.reserve(bytes.size());
    for (uint8_t b : bytes) {
        char e[3];
        text.append(e, static_cast<std::size_t>(encode_byte(url_table, b, e)));
    }
    uint64_t n = text.size();
    if (how.arg && n > uint64_t(part < 0 ? 0 : part)) n = part < 0 ? 0 : uint64_t(part);
    if (n) string::concatenate_literal_part(*out, text.data(), static_cast<uint32_t>(n));
    return static_cast<int32_t>(int64_t(part) - int64_t(n) < INT32_MIN ? INT32_MIN : int64_t(part) - int64_t(n));
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    if (step.value) error::fire(err::script_bad_path_set, step.path ? *step.path : *parent, *step.element);
    uint32_t type = cell::type(*parent);
    Cell base = *parent;
    int32_t length = string::rs_length_q(base);
    Cell* r = string::push(static_cast<uint32_t>(length) + 16, 1);
    form_into(*step.element, *r, 0x7FFFFFFF);
    bool element_slash = string::rs_full_length_q(*r) > 0 && string::rs_abs_char(*r, 0) == '/';
    bool url_slash = last_char(base) == '/';
    // Exactly one "/" joins the two.
    if (!element_slash && !url_slash) string::insert_char(r->w2, 0, '/');
    int32_t take = element_slash && url_slash ? length - 1 : length;
    string::concatenate(*r, base, take, 0, true, string::insert_mode);
    cell::set_type(*r, type);
    *parent = *r;
    return parent;
}

// The global object or function named `name`, or null.
const Cell* global_named(const char* name) {
    uint32_t sym = symbol::find(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
    return sym ? context::get_any(sym, context::global()) : nullptr;
}

// The url as a port: the url parser's object for a copy of it made into a port!, opened with
// `how` when given. The port replaces the url in its cell. Returns false when a Kov exit is
// pending (the url cell then holds what the interrupted call left).
bool to_port(Cell* u, const OpenArgs* how) {
    stack::Mark mark;
    Cell* copied = stack::reserve();
    actions::lookup<actions::slot::copy>(T_url)(stack::push(*u), copied, nullptr, false, nullptr);
    const Cell* parser = global_named("url-parser");
    uint32_t sym = symbol::find(reinterpret_cast<const uint8_t*>("parse-url"), 9);
    const Cell* fn = parser && sym && cell::is(*parser, T_object)
                         ? object::select_word(*parser, word::cell_of(T_word, sym))
                         : nullptr;
    if (!fn || !cell::is(*fn, T_function)) error::fire(err::script_invalid_arg, *u);
    Cell name = word::cell_of(T_word, sym);
    Cell slots[2] = {*copied, logic::false_value};  // without /throw-error
    Cell* spec = stack::push(interp::apply_slots(*fn, slots, 2, &name));
    if (stack::exiting()) return false;
    if (!cell::is(*spec, T_object)) error::fire(err::script_invalid_arg, *u);
    Cell* port = stack::reserve();
    actions::lookup<actions::slot::make>(T_port)(port, spec, T_port);
    if (stack::exiting()) return false;
    if (how) {
        Cell* opened = stack::push(*port);
        actions::lookup<actions::slot::open>(T_port)(opened, *how);
        if (stack::exiting()) return false;
        *u = *opened;
    } else {
        *u = *port;
    }
    return true;
}

bool http_q(const Cell& u) { return string::starts_with_literal_q(u, "http"); }

Cell* open(Cell* u, const OpenArgs& a) {
    to_port(u, &a);
    return u;
}

Cell* read(Cell* u, const ReadArgs& a) {
    if (http_q(*u)) {
        if (a.part || a.seek || a.as) not_done();
        return io::http_request(u, *u, {.method = words::symbols::get, .headers = nullptr, .body = nullptr,
                                        .binary = a.binary, .lines = a.lines, .info = a.info});
    }
    if (!to_port(u, nullptr)) return u;
    return actions::lookup<actions::slot::read>(T_port)(u, a);
}

bool data_kind_q(const Cell& c) { return cell::is(c, T_block) || cell::is(c, T_string) || cell::is(c, T_binary); }

Cell* write(Cell* u, Cell* value, const WriteArgs& a) {
    if (!http_q(*u)) {
        if (!to_port(u, nullptr)) return u;
        return actions::lookup<actions::slot::write>(T_port)(u, value, a);
    }
    if (a.seek || a.allow || a.as) not_done();
    // [method headers data]: checked before any request is made.
    io::HttpArgs http{.method = words::symbols::post, .headers = nullptr, .body = value,
                      .binary = a.binary, .lines = a.lines, .info = a.info};
    Cell method{T_none, 0, 0, 0}, headers{T_none, 0, 0, 0}, data{T_none, 0, 0, 0};
    collector::Root keep_headers(headers), keep_data(data);
    if (cell::is(*value, T_block)) {
        memory::Node node = value->w2;
        int64_t start = static_cast<int32_t>(value->w1);
        if (start < 0) start = 0;
        int64_t n = static_cast<int64_t>(buffer(node)->used() / sizeof(Cell)) - start;
        auto item = [&](int64_t i) { return cells::of(node)[start + i]; };
        if (n > 0) {
            method = item(0);
            if (!cell::is(method, T_word)) error::fire(err::script_invalid_arg, method);
            if (n > 1 && !cell::is(item(1), T_block)) error::fire(err::script_invalid_arg, item(1));
            if (n > 2 && !data_kind_q(item(2))) error::fire(err::script_invalid_arg, item(2));
            http.method = word::symbol_of(method);
            if (n > 1) {
                headers = item(1);
                http.headers = &headers;
            }
            data = n > 2 ? item(2) : Cell{T_none, 0, 0, 0};
            http.body = &data;
        } else {
            http.method = words::symbols::get;
        }
    } else if (!data_kind_q(*value)) {
        error::fire(err::script_invalid_arg, *value);
    }
    return io::http_request(u, *u, http);
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    any_string::register_text(T_url, "url!", {.make = make, .to = to, .mold = mold, .eval_path = eval_path,
                                              .append = inherit, .open = open, .read = read, .write = write});
}

}  // namespace kov::url
