// Natives that reach outside the evaluator: the environment (get-env, set-env, list-env),
// processes (call), file sizes (size?), the lexer's front end (transcode) and the checksum engine's (checksum).
//
// transcode checks and converts its arguments and hands the text to the lexer; a language
// callback given with /trace is called through a C++ hook whose event mask comes from a block
// of event words leading the callback's body ([open close error]); without one it gets every
// event.
//
// Moving memory: every native here may allocate; arguments are read from the value stack,
// which never moves.
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/interpreter/checksum.h"
#include "runtime/families.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/io/process_io.h"
#include "runtime/lexer/lexer.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

#include "refinements.h"

namespace kov::natives {

namespace {


// ---- the environment -----------------------------------------------------------------------------

// The name of a variable: the text of a string-like value or the spelling of a word, as
// UTF-8. False when it holds a NUL, which no variable name can.
bool variable_name(const Cell& var, std::string& out) {
    out.clear();
    if (in(cell::type(var), ALL_WORD)) {
        symbol::Spelling s = symbol::spelling(word::symbol_of(var));
        out.assign(reinterpret_cast<const char*>(s.bytes), s.length);
    } else if (!io::local_path(var, out)) {
        return false;
    }
    return out.find('\0') == std::string::npos;
}

void get_env(Args& args) {
    std::string name;
    if (!variable_name(*args.cell(0), name) || name.empty()) {
        none::make_at(*args.cell(0));
        return;
    }
    long length = os::get_env(name.c_str(), nullptr, 0);
    if (length < 0) {
        none::make_at(*args.cell(0));
        return;
    }
    std::string value(static_cast<size_t>(length) + 1, '\0');
    length = os::get_env(name.c_str(), value.data(), value.size());
    if (length < 0) {  // removed in between
        none::make_at(*args.cell(0));
        return;
    }
    value.resize(std::min<size_t>(static_cast<size_t>(length), value.size() - 1));
    io::load_name(reinterpret_cast<const uint8_t*>(value.data()), value.size(), args.cell(0));
}

// A name the host refuses (empty, holding "=" or a NUL) raises script/invalid-arg instead of
// passing as a change that never happened.
void set_env(Args& args) {
    std::string name;
    bool ok = variable_name(*args.cell(0), name);
    if (ok) {
        if (cell::is(*args.cell(1), T_none)) {
            ok = os::set_env(name.c_str(), nullptr);
        } else {
            std::string value;
            ok = io::local_path(*args.cell(1), value) && os::set_env(name.c_str(), value.c_str());
        }
    }
    if (!ok) args.wrong_value(0);
    *args.cell(0) = *args.cell(1);
}

// list-env
void list_env(Args& args) { io::list_env(args.cell(0)); }

// ---- processes -----------------------------------------------------------------------------------

// call cmd /wait /show /console /shell /input in /output out /error err
void call(Args& args) {
    io::call(args.cell(0), io::CallArgs{.wait = args.given(refine::call::wait), .console = args.given(refine::call::console), .shell = args.given(refine::call::shell),
                                        .input = args.option(refine::call::input), .output = args.option(refine::call::output), .error = args.option(refine::call::error)});
    stack::keep();
}

// ---- files ---------------------------------------------------------------------------------------

// A size beyond integer! is an error of the I/O layer.
void size_q(Args& args) {
    int64_t size = io::size_q(*args.cell(0));
    if (size < 0) none::make_at(*args.cell(0));
    else integer::make_at(*args.cell(0), static_cast<int32_t>(size));
}

// ---- transcode -----------------------------------------------------------------------------------

struct EventName {
    const Cell* word;
    lexer::Event event;
};
const EventName event_names[] = {
    {&words::loaded::prescan, lexer::ev_prescan}, {&words::loaded::scan, lexer::ev_scan},
    {&words::loaded::load, lexer::ev_load},       {&words::loaded::open, lexer::ev_open},
    {&words::loaded::close, lexer::ev_close},     {&words::loaded::error, lexer::ev_error},
};

// The events a language callback asks for: the event words of a block leading its body, or
// every event when its body starts otherwise.
uint32_t event_mask(const Cell& fn) {
    Cell b = function::body(fn);
    if (!cell::is(b, T_block)) return lexer::all_events;
    if (block::rs_length_q(b) < 1 || !cell::is(*block::rs_head(b), T_block)) return lexer::all_events;
    Cell list = *block::rs_head(b);
    uint32_t mask = 0;
    int32_t n = block::rs_length_q(list);
    for (int32_t i = 0; i < n; ++i) {
        const Cell& w = *block::rs_abs_at(list, series::position_of(list) + uint32_t(i));
        if (!in(cell::type(w), ALL_WORD)) continue;
        uint32_t sym = symbol::resolve(word::symbol_of(w));
        for (const EventName& e : event_names) {
            if (symbol::resolve(word::symbol_of(*e.word)) == sym) mask |= e.event;
        }
    }
    return mask;
}

const Cell& event_word(lexer::Event event) {
    for (const EventName& e : event_names) {
        if (e.event == event) return *e.word;
    }
    return words::loaded::error;
}

// The hook between the lexer and a language callback: event, input, type, line and token
// go in; an answer of none or false refuses the event. The input cell is the callback's own
// argument, so a callback that moves it moves the scan.
bool call_back(void* data, lexer::Event event, Cell& input, const Cell& type, int32_t line, const Cell& token) {
    const lexer::Callback* cb = static_cast<const lexer::Callback*>(data);
    stack::Mark mark;
    Cell* args = stack::push(event_word(event));
    stack::push(input);
    stack::push(type);
    integer::make_at(*stack::reserve(), line);
    stack::push(token);
    // The call's frame begins at the current top, its arguments in spec order; the input
    // argument as the callback left it is read back from there, so that a callback that
    // moves its input moves the scan. Only a position in the same series is taken.
    Cell* frame = stack::values.top;
    Cell answer = interp::apply_function(cb->value, args, 5, &words::loaded::lexer_callback_tag);
    if (stack::exiting()) return true;
    if (cell::type(frame[1]) == cell::type(input) && series::node_of(frame[1]) == series::node_of(input))
        series::set_index(input, series::position_of(frame[1]));
    return !(cell::is(answer, T_none) || (cell::is(answer, T_logic) && logic::get(answer) == 0));
}

// /part as a count from the source's position: an integer as it is, or a position in a
// series of the source's own type; never below 0.
int64_t part_length(const Cell& src, const Cell& length) {
    if (cell::is(length, T_integer)) {
        int32_t n = integer::get(length);
        return n < 0 ? 0 : n;
    }
    if (cell::type(length) != cell::type(src)) error::fire(err::script_not_same_type);
    int64_t n = int64_t(series::position_of(length)) - int64_t(series::position_of(src));
    return n < 0 ? 0 : n;
}

void transcode(Args& args) {
    bool next = args.given(refine::transcode::next), one = args.given(refine::transcode::one), prescan = args.given(refine::transcode::prescan), scan = args.given(refine::transcode::scan);
    Cell* src = args.cell(0);
    int64_t length = args.given(refine::transcode::part) ? part_length(*src, *args.option(refine::transcode::part)) : -1;

    // A byte-order mark at the head of binary text is not part of the text.
    if (cell::is(*src, T_binary)) {
        uint32_t n = binary::length(*src);
        const uint8_t* p = binary::head_pointer(*src);
        if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF && (length < 0 || length >= 3)) {
            series::set_index(*src, series::position_of(*src) + 3);
            if (length > 0) length -= 3;
        }
    }

    lexer::Callback callback;
    if (args.given(refine::transcode::trace)) {
        callback.fn = call_back;
        callback.data = &callback;
        callback.value = *args.option(refine::transcode::trace);
        callback.mask = event_mask(callback.value);
    }
    lexer::Options options;
    options.callback = args.given(refine::transcode::trace) ? &callback : nullptr;
    options.one_value = next || one || prescan || scan;
    options.load = !(prescan || scan);
    if (args.given(refine::transcode::into) && options.load && !next && !one) options.into = args.option(refine::transcode::into);

    Cell* out = stack::reserve();
    int64_t consumed = 0;
    uint32_t type = lexer::load(*out, *src, length, options, &consumed);
    if (stack::exiting()) return;

    if (!options.load) {
        if (type == 0) none::make_at(*out);
        else *out = Cell{T_datatype, type, 0, 0};
    } else if (options.into) {
        *out = *options.into;
    }
    if (next) {
        Cell after = *src;
        series::set_index(after, static_cast<uint32_t>(int64_t(series::position_of(*src)) + consumed));
        Cell* position = stack::push(after);
        Cell* result = block::push_new(2);
        *series::append_cell(series::node_of(*result)) = *out;
        *series::append_cell(series::node_of(*result)) = *position;
        *args.cell(0) = *result;
    } else {
        *args.cell(0) = *out;
    }
    stack::keep();
}

// ---- checksum ------------------------------------------------------------------------------------

// The bytes a checksum works on: a binary's from its position, a string's text from its
// position as UTF-8 (copied out, as the conversion goes through a cache that moves), a file's
// whole content (read into the cell given, which then holds a binary).
struct Bytes {
    std::string text;
    const Cell* binary = nullptr;
    // Valid until the next allocation.
    const uint8_t* data() const {
        return binary ? binary::head_pointer(*binary) : reinterpret_cast<const uint8_t*>(text.data());
    }
    std::size_t size() const { return binary ? binary::length(*binary) : text.size(); }
};

void bytes_of(Cell* value, Bytes& out) {
    if (cell::is(*value, T_file)) {
        if (io::dir_path_q(*value)) error::fire(err::script_invalid_arg, *value);
        io::read(value, ReadArgs{.part = nullptr, .seek = nullptr, .binary = true, .lines = false, .info = false,
                                 .as = nullptr});
    }
    if (cell::is(*value, T_binary)) {
        out.binary = value;
    } else if (cell::is(*value, T_string)) {
        int64_t count = -1;
        const char* text = unicode::to_utf8_buffer(*value, count, false);
        out.text.assign(text, std::size_t(count));
    } else {
        error::fire(err::script_invalid_arg, *value);
    }
}

// checksum data method /with spec
void checksum_(Args& args) {
    using checksum::Method;
    Cell* method_arg = args.cell(1);
    Method m = checksum::method_of(word::symbol_of(*method_arg));
    if (m == Method::none) error::fire(err::script_invalid_arg, *method_arg);
    Cell* spec = args.given(refine::checksum::with) ? args.option(refine::checksum::with) : nullptr;
    bool integer_method = m == Method::crc32 || m == Method::tcp || m == Method::adler32;
    if (spec && integer_method) error::fire(err::script_invalid_refine_arg, words::refinements::with, *spec);
    if (!spec && m == Method::hash) error::fire(err::script_invalid_refine_arg, words::refinements::with, none::value);
    if (spec && m == Method::hash && !cell::is(*spec, T_integer)) error::fire(err::script_invalid_arg, *spec);
    if (spec && m != Method::hash && !cell::is(*spec, T_string) && !cell::is(*spec, T_binary))
        error::fire(err::script_invalid_arg, *spec);

    // A file is read into a copy of its cell, so that error reports still name the file.
    Cell* data_cell = cell::is(*args.cell(0), T_file) ? stack::push(*args.cell(0)) : args.cell(0);
    Bytes data;
    bytes_of(data_cell, data);

    if (m == Method::hash) {
        // The hash of a table size has no algorithm yet: it says so and gives 0.
        runtime::print_line({"** /hash support not yet implemented; algorithm TBD."});
        *args.cell(0) = integer::make(0);
        return;
    }
    if (integer_method) {
        uint32_t sum = m == Method::crc32 ? checksum::crc32(data.data(), data.size())
                       : m == Method::tcp ? checksum::tcp(data.data(), data.size())
                                          : checksum::adler32(data.data(), data.size());
        *args.cell(0) = integer::make(static_cast<int32_t>(sum));
        return;
    }
    uint8_t digest[checksum::max_digest_length];
    std::size_t length;
    if (spec) {
        Bytes key;
        bytes_of(spec, key);
        length = checksum::hmac(m, key.data(), key.size(), data.data(), data.size(), digest);
    } else {
        length = checksum::digest(m, data.data(), data.size(), digest);
    }
    *args.cell(0) = *binary::load(digest, length);
    stack::keep();
}

}  // namespace

void init_io() {
#define NATIVES_io(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
}

}  // namespace kov::natives
