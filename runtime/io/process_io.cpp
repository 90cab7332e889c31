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
    const uint8_t* p = in.data();
    const uint8_t* end = p + in.size();
    if (in.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    while (p < end) {
        if (*p == '\r') {
            out += '\n';
            p += p + 1 < end && p[1] == '\n' ? 2 : 1;
            continue;
        }
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, cp);
        if (cp < 0) {
            out += "\xEF\xBF\xBD";
            ++p;
            continue;
        }
        out.append(reinterpret_cast<const char*>(p), size_t(next - p));
        p = next;
    }
    return out;
}

// The bytes of a command or a file! argument, names as local paths have them. A NUL cannot
// pass to the system, which would cut the text short there: it is refused rather than run or
// taken for another file.
std::string path_argument(const Cell& file) {
    std::string path;
    if (!local_path(file, path)) error::fire(err::script_invalid_arg, file);
    return path;
}

// A redirection of output or error: a file appended to, or a series captured into.
void route_output(const Cell* target, proc::Route& route, std::string& path, bool console) {
    if (!target) {
        route = console ? proc::Route::terminal : proc::Route::quiet;
        return;
    }
    if (cell::is(*target, T_file)) {
        route = proc::Route::file;
        path = path_argument(*target);
        if (path.empty()) path.push_back('/');   // opens nowhere: thrown away
    } else {
        route = proc::Route::pipe;
    }
}

// Puts what was captured into a string! target (at its tail) or a binary! one (in front of
// the bytes from its position).
void store(Cell* target, const std::vector<uint8_t>& bytes) {
    if (!target || bytes.empty() || cell::is(*target, T_file)) return;
    if (cell::is(*target, T_binary)) {
        binary::insert_bytes(*target, 0, bytes.data(), bytes.size());
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
    launch.split = !cell::is(*command, T_file);   // a file! is one program's path
    launch.command = path_argument(*command);

    if (!args.input) {
        launch.input = args.console ? proc::Route::terminal : proc::Route::quiet;
    } else if (cell::is(*args.input, T_file)) {
        launch.input = proc::Route::file;
        launch.input_path = path_argument(*args.input);
        if (launch.input_path.empty()) {
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
    // Names and values are text of the system's, as file names are (see file_io.h).
    for (const auto& [name, value] : vars) {
        for (const std::string* text : {&name, &value}) {
            stack::Mark each;
            block::rs_append(*pairs, *load_name(reinterpret_cast<const uint8_t*>(text->data()), text->size(), nullptr));
        }
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
