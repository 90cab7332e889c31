// Processes, the environment and the system's facts as values (see process_io.h). The
// arguments are turned into bytes and paths before the child starts, so nothing of the Kov
// heap is held while it runs; what it wrote comes back as plain bytes and is stored into
// the targets afterwards.
#include "runtime/io/process_io.h"

#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"
#include "runtime/platform/process.h"
#include "runtime/unicode.h"

namespace kov::io {

namespace proc = os::process;

namespace {

// The UTF-8 of a string from its cursor, copied out of the conversion cache.
std::string utf8_of(const Cell& s) {
    Cell copy = s;
    int64_t count = -1;
    const char* text = unicode::to_utf8_buffer(copy, count, false);
    return std::string(text, size_t(count));
}

std::string bytes_of(const Cell& b) {
    return std::string(reinterpret_cast<const char*>(binary::head_pointer(b)), binary::length(b));
}

// Child output as text: valid UTF-8 kept, anything else U+FFFD per bad byte, a leading
// byte-order mark dropped, CR LF and lone CR made LF.
std::string clean_text(const std::vector<uint8_t>& in) {
    std::string out;
    out.reserve(in.size());
    size_t i = in.size() >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF ? 3 : 0;
    while (i < in.size()) {
        uint8_t c = in[i];
        if (c == '\r') {
            out += '\n';
            i += i + 1 < in.size() && in[i + 1] == '\n' ? 2 : 1;
            continue;
        }
        if (c < 0x80) {
            out += char(c);
            ++i;
            continue;
        }
        size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        bool ok = n > 0 && i + n <= in.size();
        for (size_t k = 1; ok && k < n; ++k) ok = (in[i + k] & 0xC0) == 0x80;
        if (ok && n == 3) {
            uint32_t cp = (c & 0x0Fu) << 12 | (in[i + 1] & 0x3Fu) << 6;
            ok = cp >= 0x800;   // no overlong forms
        }
        if (ok && n == 4) {
            uint32_t cp = (c & 0x07u) << 18 | (in[i + 1] & 0x3Fu) << 12;
            ok = cp >= 0x10000 && cp <= 0x10FFFF;
        }
        if (!ok) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(reinterpret_cast<const char*>(&in[i]), n);
        i += n;
    }
    return out;
}

// A redirection of output or error: a file appended to, or a series captured into.
void route_output(const Cell* target, proc::Route& route, std::string& path, bool console) {
    if (!target) {
        route = console ? proc::Route::terminal : proc::Route::quiet;
        return;
    }
    if (cell::is(*target, T_file)) {
        route = proc::Route::file;
        if (!local_path(*target, path) || path.empty()) path = "/";   // opens nowhere: thrown away
    } else {
        route = proc::Route::pipe;
    }
}

// Appends what was captured to a string! or binary! target.
void store(Cell* target, const std::vector<uint8_t>& bytes) {
    if (!target || bytes.empty() || cell::is(*target, T_file)) return;
    if (cell::is(*target, T_binary)) {
        binary::append_bytes(*target, bytes.data(), bytes.size());
        return;
    }
    std::string text = clean_text(bytes);
    stack::Mark mark;
    Cell* s = string::load(reinterpret_cast<const uint8_t*>(text.data()), text.size(), nullptr, 0);
    string::concatenate_part(*target, *s, string::rs_length_q(*s), 0, false, string::append_mode);
}

}  // namespace

void call(Cell* command, const CallArgs& args) {
    proc::Launch launch;
    launch.shell = args.shell;
    launch.wait = args.wait || args.console;
    if (cell::is(*command, T_file)) {
        launch.split = false;
        if (!local_path(*command, launch.command)) launch.command.clear();
    } else {
        launch.command = utf8_of(*command);
    }

    if (!args.input) {
        launch.input = args.console ? proc::Route::terminal : proc::Route::quiet;
    } else if (cell::is(*args.input, T_file)) {
        launch.input = proc::Route::file;
        if (!local_path(*args.input, launch.input_path) || launch.input_path.empty()) {
            integer::make_at(*command, -1);
            return;
        }
    } else {
        launch.input = proc::Route::pipe;
        launch.input_bytes = cell::is(*args.input, T_binary) ? bytes_of(*args.input) : utf8_of(*args.input);
    }
    route_output(args.output, launch.output, launch.output_path, args.console);
    route_output(args.error, launch.error, launch.error_path, args.console);

    // What no series can hold is refused whole, the child stopped, rather than cut short.
    launch.capture_limit = memory::max_buffer_size;
    proc::Outcome outcome = proc::run(launch);
    if (outcome.kind == proc::Outcome::overflowed) error::fire(err::script_too_long);
    if (outcome.kind == proc::Outcome::failed || outcome.kind == proc::Outcome::interrupted) {
        integer::make_at(*command, -1);
        // Ctrl+C stops the evaluation here, as the interpreter would at its next poll.
        if (outcome.kind == proc::Outcome::interrupted && os::interrupt_flag) stack::raise_interrupt();
        return;
    }
    store(args.output, outcome.output);
    store(args.error, outcome.error);
    integer::make_at(*command, outcome.value);
}

void list_env(Cell* result) {
    auto vars = proc::environment();
    stack::Mark mark;
    Cell* pairs = block::push_new(int32_t(vars.size() * 2 + 1));
    for (const auto& [name, value] : vars) {
        string::load_in(series::node_of(*pairs), reinterpret_cast<const uint8_t*>(name.data()), name.size(), 0);
        string::load_in(series::node_of(*pairs), reinterpret_cast<const uint8_t*>(value.data()), value.size(), 0);
    }
    Cell block = *pairs;
    map::make_at(*result, series::node_of(block), 0);
}

namespace {

// The processor's name as the system's words spell it.
const char* arch_name(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86-32";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine.rfind("arm", 0) == 0) return "ARM";
    if (machine == "ia64") return "IA-64";
    return "Unknown";
}

}  // namespace

void os_info(Cell* result) {
    proc::SystemInfo info;
    bool known = proc::system_info(info);
    std::string name = !known ? "Linux" : info.distribution.empty() ? info.kernel : info.distribution;
    // The kernel's release: its first three numbers, each at most 255.
    uint8_t version[3] = {0, 0, 0};
    const char* p = info.release.c_str();
    for (int k = 0; k < 3 && *p >= '0' && *p <= '9'; ++k) {
        long v = std::strtol(p, const_cast<char**>(&p), 10);
        version[k] = uint8_t(v > 255 ? 255 : v);
        if (*p != '.') break;
        ++p;
    }

    stack::Mark mark;
    Cell* obj = stack::reserve();
    object::make_empty_at(*obj, 4);
    memory::Node ctx = object::context_of(*obj);
    Cell text = *string::load(reinterpret_cast<const uint8_t*>(name.data()), name.size(), nullptr, 0);
    context::put_value(ctx, word::load("name"), text);
    context::put_value(ctx, word::load("arch"), word::load(arch_name(info.machine)));
    Cell t;
    tuple::make_at(t, version, 3);
    context::put_value(ctx, word::load("version"), t);
    context::put_value(ctx, word::load("build"), integer::make(known ? info.build : 0));
    *context::self_cell(ctx) = *obj;
    *result = *obj;
}

}  // namespace kov::io
