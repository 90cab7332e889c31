// libFuzzer target for the lexer: any byte string is source text, scanned in a mode chosen by
// its first byte (load, one value, scan only, with or without a callback that refuses,
// moves the input or scans again), with the collector switched on. A scan must end with values
// or a syntax error, leave no scan active and give the conversion buffer back; the number
// conversions of to and make read the same bytes as characters of every unit width.
//
// Build (outside CMake, with the runtime compiled by clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. tests/fuzz/lexer_fuzz.cpp \
//       runtime/*.cpp runtime/*/*.cpp runtime/platform/*.cpp boot/start.cpp -o lexer_fuzz
//   ./lexer_fuzz -max_total_time=60
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "boot/start.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/registry.h"
#include "runtime/error.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"
#include "runtime/lexer/tokenizer.h"
#include "runtime/memory.h"

namespace {

using namespace kov;

// The series types whose modules do not register yet get the marking hooks the collector needs.
void set_up() {
    boot::init_runtime();
    const uint32_t blocks[] = {T_block, T_paren, T_path, T_lit_path, T_set_path, T_get_path, T_map};
    const uint32_t strings[] = {T_string, T_file, T_url, T_tag, T_email, T_ref};
    for (uint32_t t : blocks)
        if (!datatype::types[t].mark) datatype::types[t].mark = collector::mark_block_value;
    for (uint32_t t : strings)
        if (!datatype::types[t].mark) datatype::types[t].mark = collector::mark_string_value;
    if (!datatype::types[T_binary].mark) datatype::types[T_binary].mark = collector::mark_series_value;
    collector::enable(true);
}

struct Hook {
    uint8_t mode;
    uint32_t calls = 0;
};

bool callback(void* data, lexer::Event event, Cell& input, const Cell&, int32_t, const Cell&) {
    auto h = static_cast<Hook*>(data);
    uint32_t n = ++h->calls;
    if (n > 2000) return true;  // keep every run short
    switch (h->mode & 3) {
    case 0: return (n % 3) != 0;  // refuse every third event
    case 1:
        if (event == lexer::ev_load && n % 5 == 0) input.w1 += (n % 7) - 3;  // move back and forth
        return true;
    case 2:
        if (event == lexer::ev_error) return false;
        if (event == lexer::ev_load && n % 11 == 0) {
            Cell out{T_none, 0, 0, 0};
            collector::Root keep(out);
            lexer::Options inner;
            lexer::scan(reinterpret_cast<const uint8_t*>("[a \"b\" #{01}] c/d"), 17, inner, Cell{T_none, 0, 0, 0}, out);
        }
        return true;
    default:
        if (n == 50) error::fire(err::user_message, Cell{T_integer, 0, n, 0});
        return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (set_up(), true);
    (void)ready;
    if (size == 0) return 0;
    uint8_t mode = data[0];
    // A private copy of exactly the text, so that a read past it is caught.
    size_t n = size - 1;
    std::unique_ptr<uint8_t[]> text(new uint8_t[n ? n : 1]);
    if (n) std::memcpy(text.get(), data + 1, n);

    stack::Mark mark;
    uint64_t conversion = lexer::conversion_used();
    Hook hook{uint8_t(mode >> 5)};
    lexer::Callback cb;
    cb.fn = callback;
    cb.data = &hook;
    lexer::Options o;
    o.one_value = mode & 1;
    o.load = !(mode & 2);
    o.wrap = !(mode & 4);
    o.as_block = mode & 8;
    o.callback = (mode & 16) ? &cb : nullptr;
    Cell* out = stack::reserve();
    try {
        if (mode & 128) {
            // Through a binary!, as transcode scans one: the text converted into the lexer's buffer.
            Cell* bin = binary::load_in(text.get(), n, 0);
            int64_t next = 0;
            lexer::load(*out, *bin, -1, o, &next);
            if (next < 0 || uint64_t(next) > n) std::abort();
        } else {
            lexer::scan(text.get(), n, o, Cell{T_none, 0, 0, 0}, *out);
        }
    } catch (const Error&) {
    }
    stack::pending.code = stack::no_exit;
    if (lexer::active_scans() != 0 || lexer::conversion_used() != conversion) std::abort();

    for (uint32_t unit : {1u, 2u, 4u}) {
        int64_t count = int64_t(n / unit);
        int32_t error;
        tokenizer::scan_integer(text.get(), count, unit, &error);
        tokenizer::scan_float(text.get(), count, unit, &error);
        Cell m{T_none, 0, 0, 0};
        tokenizer::scan_money(text.get(), count, unit, &error, m);
    }
    if ((mode & 0x70) == 0x70 && memory::verify()) std::abort();
    return 0;
}
