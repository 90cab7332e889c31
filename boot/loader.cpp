#include "boot/loader.h"

#include <fstream>
#include <sstream>

#include "boot/sources.h"
#include "runtime/cells.h"
#include "runtime/console_output.h"
#include "runtime/datatypes/error.h"

#include "runtime/codecs/kovbin.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"
#include "runtime/lexer/lexer.h"
#include "runtime/memory.h"

// Generated at build time (tools/platform_contract.cmake).
#include "platform_contract.h"

namespace kov::boot {

namespace {

using cells::at;

// The few words the loader recognizes, interned once: symbols are never removed, and the
// loader tests every cell of a script against them.
enum Known : uint32_t { k_kov, k_make, k_native, k_action, k_routine, k_count };
uint32_t known_symbol(Known k) {
    static const char* const spellings[k_count] = {"Kov", "make", "native!", "action!", "routine!"};
    static uint32_t symbols[k_count] = {};
    if (!symbols[k]) symbols[k] = symbol::resolve(symbol::make(spellings[k]));
    return symbols[k];
}

bool is_word(const Cell& c, Known k) {
    return cell::is(c, T_word) && symbol::resolve(word::symbol_of(c)) == known_symbol(k);
}

// `name: make routine! [spec entry-name data]`.
bool routine_definition(memory::Node code, uint32_t i, const Cell& spec) {
    stack::Mark mark;
    Cell name = at(code, i);
    Cell* value = routines::make_from(spec);
    context::set(name, *value);
    return true;
}

// `name: make native! [spec index]` or the same with action!: the value is made directly.
bool builtin_definition(memory::Node code, uint32_t i, uint32_t end) {
    if (i + 3 >= end || !cell::is(at(code, i), T_set_word) || !is_word(at(code, i + 1), k_make)) return false;
    const Cell& kind = at(code, i + 2);
    const Cell& spec = at(code, i + 3);
    if (!cell::is(spec, T_block)) return false;
    if (is_word(kind, k_routine)) return routine_definition(code, i, spec);
    uint32_t type = is_word(kind, k_native) ? T_native : (is_word(kind, k_action) ? T_action : 0);
    if (!type) return false;
    memory::Node n = series::node_of(spec);
    if (interp::tail_index(n) != 2 || !cell::is(at(n, 0), T_block) || !cell::is(at(n, 1), T_integer)) return false;
    Cell spec_block = at(n, 0);
    uint32_t index = static_cast<uint32_t>(integer::get(at(n, 1)));
    stack::Mark mark;
    Cell* value = native::make(spec_block, index, type);
    Cell name = at(code, i);
    context::set(name, *value);
    return true;
}

}  // namespace

void set_datatype_words() {
    for (uint32_t id = 1; id <= datatype::highest_id(); ++id) {
        const datatype::TypeEntry& t = datatype::types[id];
        if (!t.name || !t.name_symbol) continue;
        Cell w = word::cell_of(T_word, t.name_symbol);
        word::make_at(t.name_symbol, w);
        context::set(w, datatype::make(id));
    }
}

void run_block(const Cell& code_in, const char* name) {
    (void)name;
    stack::Mark mark;
    Cell code = code_in;
    collector::Root keep(code);
    memory::Node n = series::node_of(code);
    uint32_t i = series::position_of(code);
    uint32_t end = interp::tail_index(n);
    // A script starts with the word Kov and its header block.
    if (i + 1 < end && is_word(at(n, i), k_kov) && cell::is(at(n, i + 1), T_block)) i += 2;
    // Built-in definitions are made directly; the runs of other code between them are
    // evaluated in order.
    while (i < end) {
        if (builtin_definition(n, i, end)) {
            i += 4;
            continue;
        }
        uint32_t j = i + 1;
        while (j < end && !(cell::is(at(n, j), T_set_word) && j + 3 < end && is_word(at(n, j + 1), k_make) &&
                            cell::is(at(n, j + 3), T_block) &&
                            (is_word(at(n, j + 2), k_native) || is_word(at(n, j + 2), k_action) ||
                             is_word(at(n, j + 2), k_routine))))
            ++j;
        stack::push_frame(stack::eval, nullptr);
        stack::reserve();
        interp::eval_range(T_block, n, i, j, true);
        stack::leave_frame();
        i = j;
    }
}

void run_source(const uint8_t* text, std::size_t length, const char* name) {
    Cell code{T_none, 0, 0, 0};
    collector::Root keep(code);
    lexer::Options options;
    lexer::scan(text, length, options, none::value, code);
    run_block(code, name);
}

namespace {

#ifndef NDEBUG
// system/view/platform as the boot definitions left it; none when a step of the path is missing.
Cell view_platform() {
    const Cell* value = context::get_any(symbol::make("system"), context::global());
    for (const char* field : {"view", "platform"}) {
        if (!value || !cell::is(*value, T_object)) return none::value;
        // Held by value: making the next symbol may move the context's buffer.
        Cell holder = *value;
        value = context::get_any(symbol::make(field), object::context_of(holder));
    }
    return value ? *value : none::value;
}
#endif

// Runs the definitions with the system's own rules switched on: routines may be made and
// functions are marked compiled. The collector runs throughout.
template <typename Each>
void defining(Each each) {
    set_datatype_words();
    collector::enable(true);
    routines::allow_make = true;
    function::making_compiled = true;
    struct Done {
        ~Done() {
            routines::allow_make = false;
            function::making_compiled = false;
        }
    } done;
    each();
    set_class_ids();
}

}  // namespace

void run_image(const uint8_t* image, std::size_t size) {
    Cell files{T_none, 0, 0, 0};
    collector::Root keep(files);
    kovbin::load_boot(image, size, files);
    // The scripts stay rooted until the last has run: they are live data, not an allocation
    // that the collection budget should answer.
    memory::count_in_use_as_live();
    defining([&] {
        // Name and script block pairs, in the order the manifest gives.
        for (uint32_t i = series::position_of(files); i + 1 < interp::tail_index(series::node_of(files)); i += 2) {
            Cell script = at(series::node_of(files), i + 1);
            if (!cell::is(script, T_block)) error::fire(err::script_invalid_data, script);
            run_block(script, "boot image");
        }
    });
#ifndef NDEBUG
    if (const char* name = family_mismatch()) {
        runtime::print_line({"*** Boot Error: the typeset ", name, " differs from the type families"});
        runtime::exit_with(1);
    }
    if (const char* word = platform_gap(view_platform())) {
        runtime::print_line({"*** Boot Error: the back end does not define system/view/platform/", word});
        runtime::exit_with(1);
    }
#endif
}

std::span<const char* const> platform_contract() { return platform_contract_words; }

const char* platform_gap(const Cell& platform) {
    // Making a symbol may allocate, which moves buffers: the object is held by value (its
    // context's node stays where it is).
    Cell object = platform;
    for (const char* word : platform_contract_words) {
        if (!cell::is(object, T_object)) return word;
        if (!context::get_any(symbol::make(word), object::context_of(object))) return word;
    }
    return nullptr;
}

const char* family_mismatch() {
    for (const families::Info& f : families::list) {
        Cell* ts = context::get_any(word::symbol_of(word::load(f.name)), context::global());
        if (!ts || !cell::is(*ts, T_typeset)) return f.name;
        for (uint32_t t = 1; t <= T_LAST; ++t)
            if (typeset::contains(*ts, t) != in(t, f.bit)) return f.name;
    }
    return nullptr;
}

void run_definitions(const Source* sources, std::size_t count) {
    defining([&] {
        for (std::size_t i = 0; i < count; ++i) run_source(sources[i].text, sources[i].size, sources[i].name);
    });
}

void evaluate(const char* text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    Cell code{T_none, 0, 0, 0};
    collector::Root keep(code);
    lexer::Options options;
    lexer::scan(reinterpret_cast<const uint8_t*>(text), n, options, none::value, code);
    // The system's own code: errors it raises are not reported as the user's.
    memory::buffer(series::node_of(code))->flags |= memory::system_code;
    run_block(code, "evaluate");
}

void print_error(const Error& e) {
    stack::Mark mark;
    Cell value = error::value_of(e);
    collector::Root keep(value);
    Cell* report = error::form_report(value);
    print_hooks::print(*report, true);
}

// ---- sources from a source tree -------------------------------------------------------------------

std::vector<Source> SourceFiles::list() const {
    std::vector<Source> out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out.push_back({names[i].c_str(), reinterpret_cast<const uint8_t*>(texts[i].data()), texts[i].size()});
    return out;
}

SourceFiles read_tree(const char* root) {
    SourceFiles files;
    std::string manifest;
    read_file(std::string(root) + "/boot/manifest.txt", manifest);
    for (const std::string& name : manifest_entries(manifest)) {
        std::string text;
        if (!read_file(std::string(root) + "/" + name, text)) {
            runtime::print_line({"*** Boot Error: missing boot source ", name.c_str()});
            runtime::exit_with(1);
        }
        files.names.push_back(name);
        files.texts.push_back(std::move(text));
    }
    return files;
}

}  // namespace kov::boot
