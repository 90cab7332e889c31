#include "runtime/io/http.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/platform/http.h"
#include "runtime/platform/os.h"
#include "runtime/datatypes/unit_types.h"

namespace kov::io {

namespace {

// The formed text of a value as UTF-8.
std::string formed(const Cell& value) {
    stack::Mark mark;
    Cell copy = value;
    collector::Root keep(copy);
    Cell* text = string::push(16, 1);
    auto fn = actions::lookup<actions::slot::form>(cell::type(copy));
    if (!fn) error::fire(err::script_invalid_arg, copy);
    fn(&copy, text, nullptr, 0x7FFFFFFF);
    std::string out;
    append_utf8(*text, -1, out);
    return out;
}

std::string spelling_of(uint32_t sym) {
    symbol::Spelling s = symbol::spelling(sym);
    return std::string(reinterpret_cast<const char*>(s.bytes), s.length);
}

// A header name: a word's spelling, else the formed value; a value: a string's text, else the
// formed value.
std::string header_name(const Cell& c) {
    if (in(cell::type(c), ALL_WORD)) return spelling_of(word::symbol_of(c));
    return formed(c);
}
std::string header_value(const Cell& c) {
    if (cell::is(c, T_string)) {
        std::string out;
        append_utf8(c, -1, out);
        return out;
    }
    return formed(c);
}

void header_pairs(const Cell& block, std::vector<std::pair<std::string, std::string>>& out) {
    memory::Node node = series::node_of(block);
    int64_t start = series::index_of(block);
    if (start < 0) start = 0;
    // Cells are copied one at a time: forming a value may move the block's buffer.
    auto item = [&](int64_t i) {
        return cells::at(node, static_cast<uint32_t>(start + i));
    };
    int64_t n = static_cast<int64_t>(memory::buffer(node)->used() / sizeof(Cell)) - start;
    // A last name without a value sends nothing. A line end or a NUL would end the header
    // line early and start another one the caller never named: refused.
    auto checked = [](std::string text, const Cell& from) {
        if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            error::fire(err::script_invalid_arg, from);
        return text;
    };
    for (int64_t i = 0; i + 1 < n; i += 2) {
        Cell name = item(i);
        std::string key = checked(header_name(name), name);
        Cell value = item(i + 1);
        out.emplace_back(std::move(key), checked(header_value(value), value));
    }
}

// "Name: value" lines of the final answer, in order; the status line and lines without a
// colon are skipped, white space after the colon is not part of the value.
std::vector<std::pair<std::string, std::string>> parse_headers(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) continue;
        size_t v = colon + 1;
        while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
        std::string name = line.substr(0, colon);
        std::string value = line.substr(v);
        auto same = std::find_if(out.begin(), out.end(), [&](const auto& e) { return e.first == name; });
        if (same == out.end()) {
            out.emplace_back(name, value);
        } else {
            same->second += '\n';
            same->second += value;
        }
    }
    return out;
}

// The header map: each name a word, its value a string, or a block of strings when the name
// came more than once. `values` holds a name's values joined by line feeds, which no header
// line can hold.
void make_header_map(Cell& target, const std::string& text) {
    auto headers = parse_headers(text);
    stack::Mark mark;
    Cell* pairs = block::push_new(int32_t(headers.size() * 2 + 2));
    for (const auto& [name, joined] : headers) {
        uint32_t sym = symbol::make(name.c_str());
        word::make_in(sym, series::node_of(*pairs));
        if (joined.find('\n') == std::string::npos) {
            string::load_in(series::node_of(*pairs), reinterpret_cast<const uint8_t*>(joined.data()), joined.size(), 0);
            continue;
        }
        Cell* all = block::make_in(pairs, 4);
        Cell each = *all;
        collector::Root keep(each);
        size_t at = 0;
        while (true) {
            size_t end = joined.find('\n', at);
            size_t stop = end == std::string::npos ? joined.size() : end;
            string::load_in(series::node_of(each), reinterpret_cast<const uint8_t*>(joined.data() + at), stop - at, 0);
            if (end == std::string::npos) break;
            at = end + 1;
        }
    }
    map::make_at(target, series::node_of(*pairs), 0);
}

// The body as the caller asked for it, into the cell.
void make_body(Cell& target, const std::string& body, bool binary, bool lines) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(body.data());
    if (binary) {
        Cell* b = binary::load(bytes, body.size());
        target = *b;
    } else if (lines) {
        Cell* out = block::push_new(16);
        split_lines(bytes, body.size(), *out);
        target = *out;
    } else {
        string::load(bytes, body.size(), &target, 0);
    }
}

}  // namespace

Cell* http_request(Cell* target, const Cell& url, const HttpArgs& args) {
    os::http::Request req;
    req.verb = spelling_of(args.method);
    for (char& c : req.verb) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    append_utf8(url, -1, req.url);
    if (args.headers) {
        header_pairs(*args.headers, req.headers);
    } else {
        req.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                       {"Accept-Charset", "UTF-8"},
                       {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
    }
    if (req.verb != "GET" && req.verb != "HEAD" && args.body && !cell::is(*args.body, T_none)) {
        req.has_body = true;
        if (cell::is(*args.body, T_binary)) {
            req.body.assign(reinterpret_cast<const char*>(binary::head_pointer(*args.body)),
                            binary::length(*args.body));
        } else {
            req.body = header_value(*args.body);
        }
    }
    Cell keep_url = url;
    collector::Root keep(keep_url);
    req.stop = [] { return os::interrupt_flag != 0; };
    os::http::Response res;
    os::http::Outcome outcome = os::http::request(req, res);
    if (outcome == os::http::Outcome::stopped) {
        // Ctrl+C: the evaluation stops as `halt` does, from here rather than at the next poll,
        // so that no caller goes on with a missing answer. Without a catcher for it the
        // interrupt stays pending and the request gives no value.
        *target = unset::value;
        stack::raise_interrupt();
        return target;
    }
    if (outcome != os::http::Outcome::done) error::fire(err::access_no_connect, keep_url);

    stack::Mark mark;
    if (!args.info) {
        Cell* body = stack::reserve();
        make_body(*body, res.body, args.binary, args.lines);
        *target = *body;
        return target;
    }
    Cell* out = block::push_new(3);
    Cell* status = stack::reserve();
    integer::make_at(*status, static_cast<int32_t>(res.status));
    block::rs_append(*out, *status);
    Cell* headers = stack::reserve();
    make_header_map(*headers, res.header_text);
    block::rs_append(*out, *headers);
    Cell* body = stack::reserve();
    make_body(*body, res.body, args.binary, args.lines);
    block::rs_append(*out, *body);
    *target = *out;
    return target;
}

}  // namespace kov::io
