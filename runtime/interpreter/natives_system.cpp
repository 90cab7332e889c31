// System natives: memory statistics (stats), the collector on demand (recycle), sleeping
// (wait), the desktop's browser (browse), and the compression front ends (compress,
// decompress).
//
// compress and decompress check and convert their arguments and call the method's codec
// (runtime/codecs/compress.h) at most twice: the second time with the size the first call
// asked for. Decompression sizes its output from what the data can expand to, never from a
// size the data declares: a declared size beyond that, a hint beyond it (clipped), or an output
// that cannot be allocated is the data's fault and raises script/invalid-data.
//
// Moving memory: the input bytes are copied out of their series before the output binary is
// allocated (which may move every buffer); the output's data address is fetched after its
// allocation and used before anything else allocates.
#include <cmath>
#include <string>
#include <vector>

#include "runtime/codecs/compress.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/heap.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/memory.h"
#include "runtime/platform/browser.h"
#include "runtime/platform/compression.h"
#include "runtime/platform/os.h"
#include "runtime/series_buffer.h"
#include "runtime/tui/routines.h"
#include "runtime/unicode.h"

#include "refinements.h"

namespace kov::natives {

namespace {


// Amounts past integer! come back as a float!.
void amount_at(Cell& c, double v) {
    if (v <= 2147483647.0) integer::make_at(c, static_cast<int32_t>(v));
    else float_::make_at(c, v);
}

// ---- stats and recycle ---------------------------------------------------------------------------

// A new block on the value stack, appended to `into` (when given) flagged to start a line.
Cell* append_block(const Cell* into, uint32_t size, bool new_line) {
    Cell* b = block::push_new(static_cast<int32_t>(size));
    if (into) {
        Cell* slot = series::append_cell(series::node_of(*into));
        *slot = *b;
        if (new_line) slot->header |= cell::new_line;
    }
    return b;
}

void append_amount(const Cell& into, double v, bool new_line) {
    Cell* slot = series::append_cell(series::node_of(into));
    amount_at(*slot, v);
    if (new_line) slot->header |= cell::new_line;
}

// [[free used total] per node frame] [[free used total] per series frame] [size per big
// frame] total heap: node counts, then bytes. The figures are read before the block is made,
// since making it may run a collection.
void detailed_stats(Cell& out) {
    uint32_t frames = memory::node_frame_count() + memory::series_frame_count() + memory::big_frame_count();
    std::vector<memory::FrameFigures> nodes(frames + 1), series(frames + 1);
    std::vector<uint64_t> bigs(frames + 1);
    uint32_t node_count, series_count, big_count;
    memory::frame_figures(nodes.data(), node_count, series.data(), series_count, bigs.data(), big_count, frames + 1);
    double heap_figure = static_cast<double>(heap::figure());
    double total = static_cast<double>(memory::frame_bytes()) + heap_figure;

    Cell* result = append_block(nullptr, 5, false);
    auto frame_list = [&](const std::vector<memory::FrameFigures>& list, uint32_t count) {
        Cell* b = append_block(result, count, false);
        for (uint32_t i = 0; i < count; ++i) {
            Cell* e = append_block(b, 3, true);
            append_amount(*e, static_cast<double>(list[i].free), false);
            append_amount(*e, static_cast<double>(list[i].used), false);
            append_amount(*e, static_cast<double>(list[i].total), false);
        }
    };
    frame_list(nodes, node_count);
    frame_list(series, series_count);
    Cell* b = append_block(result, big_count, false);
    for (uint32_t i = 0; i < big_count; ++i) append_amount(*b, static_cast<double>(bigs[i]), true);
    append_amount(*result, total, false);
    append_amount(*result, heap_figure, false);
    out = *result;
}

// stats /show /info
void stats(Args& args) {
    if (args.given(refine::stats::show)) {
        // The table is printed by the library.
        Cell fn = *context::get(context::get_or_add_global(symbol::make("show-memory-stats")));
        if (!cell::is(fn, T_function)) error::fire(err::internal_not_done);
        collector::Root keep_fn(fn);
        Cell data{T_none, 0, 0, 0};
        collector::Root keep_data(data);
        detailed_stats(data);
        interp::apply_function(fn, &data, 1);
        if (stack::exiting()) return;
        stack::keep();
        unset::make_at(*args.cell(0));
        return;
    }
    if (args.given(refine::stats::info)) {
        detailed_stats(*args.cell(0));
        stack::keep();
        return;
    }
    amount_at(*args.cell(0), memory::bytes_in_use());
}

// recycle /on /off
void recycle(Args& args) {
    if (args.given(refine::recycle::on) || args.given(refine::recycle::off)) {
        collector::enable(args.given(refine::recycle::on));
        unset::make_at(*args.cell(0));
        return;
    }
    collector::collect();
    amount_at(*args.cell(0), memory::bytes_in_use());
}

// ---- wait ----------------------------------------------------------------------------------------


// wait value /all
void wait(Args& args) {
    const Cell& v = *args.cell(0);
    double seconds;
    if (cell::is(v, T_integer)) seconds = integer::get(v);
    else if (cell::is(v, T_float_)) seconds = float_::get_value(v);
    else if (cell::is(v, T_time)) seconds = time::get(v);
    else error::fire(err::script_invalid_arg, v);
    none::make_at(*args.cell(0));
    // Ctrl+C ends the sleep at once and halts the evaluation from here.
    os::sleep(seconds);
    if (os::interrupt_flag) stack::raise_interrupt();
    // A script that waits while a window is up keeps its timers, input and drawing going.
    if (tui::ui_active()) tui::wait_events();
}

// ---- browse --------------------------------------------------------------------------------------

void browse(Args& args) {
    std::string target;
    if (cell::is(*args.cell(0), T_file)) {
        if (!io::local_path(*args.cell(0), target)) error::fire(err::access_cannot_open, *args.cell(0));
    } else {
        int64_t count = -1;
        const char* text = unicode::to_utf8_buffer(*args.cell(0), count, false);
        target.assign(text, static_cast<std::size_t>(count));
    }
    int r = os::open_in_browser(target.c_str());
    if (r == os::browse_no_browser) {
        std::string why = target + " (no browser: $BROWSER is unset and xdg-open is not installed)";
        Cell* text = stack::reserve();
        string::load(reinterpret_cast<const uint8_t*>(why.data()), why.size(), text, 0);
        error::fire(err::access_cannot_open, *text);
    }
    if (r != os::browse_started) error::fire(err::access_cannot_open, *args.cell(0));
    unset::make_at(*args.cell(0));
}

// ---- compress and decompress ---------------------------------------------------------------------

compress::Method method_of(const Cell& word) {
    symbol::Spelling s = symbol::spelling(word::symbol_of(word));
    compress::Method m = compress::method_of(s.bytes, s.length);
    if (m == compress::m_none) error::fire(err::script_invalid_arg, word);
    return m;
}

// The bytes to work on, copied out of their series: a binary's from its position, a string's
// text as UTF-8.
std::vector<uint8_t> input_bytes(Cell& data) {
    if (cell::is(data, T_binary)) {
        const uint8_t* p = binary::head_pointer(data);
        return std::vector<uint8_t>(p, p + binary::length(data));
    }
    int64_t count = -1;
    auto text = reinterpret_cast<const uint8_t*>(unicode::to_utf8_buffer(data, count, false));
    return std::vector<uint8_t>(text, text + count);
}

// A new binary with room for `capacity` bytes in the result cell; its data address.
uint8_t* output_binary(Args& args, uint32_t capacity, bool data_fault, const Cell& method) {
    try {
        binary::make_at(*args.cell(0), capacity);
    } catch (const Error& e) {
        if (!data_fault || e.id != err::internal_no_memory) throw;
        error::fire(err::script_invalid_data, method);
    }
    return memory::buffer(args.node(0))->data();
}

void finish_binary(Args& args, uint32_t produced) {
    memory::Buffer* b = memory::buffer(args.node(0));
    b->head = 0;
    b->tail = produced;
    series::set_index(*args.cell(0), 0);
}

// compress data method /level lvl
void compress_(Args& args) {
    Cell method = *args.cell(1);
    compress::Method m = method_of(method);
    int level = -1;
    if (args.given(refine::compress::level)) {
        const Cell& lvl = *args.option(refine::compress::level);
        int32_t most = m == compress::m_zstd ? 19 : 9;
        if (integer::get(lvl) < 1 || integer::get(lvl) > most) error::fire(err::script_out_of_range, lvl);
        level = integer::get(lvl);
    }
    std::vector<uint8_t> in = input_bytes(*args.cell(0));
    if (in.size() > memory::max_buffer_size) error::fire(err::internal_no_memory);
    uint32_t length = static_cast<uint32_t>(in.size());
    uint32_t capacity = length + length / 2048 + 32;
    for (int attempt = 0; attempt < 2; ++attempt) {
        uint32_t room = capacity;
        uint8_t* out = output_binary(args, room, false, method);
        int r = compress::encode(m, out, room, in.data(), length, level);
        if (r == os::codec_done) {
            finish_binary(args, room);
            return;
        }
        if (r != os::codec_short) break;
        capacity = room;
    }
    error::fire(err::script_invalid_data, method);
}

// decompress data method /size sz
void decompress_(Args& args) {
    Cell method = *args.cell(1);
    compress::Method m = method_of(method);
    int64_t hint = -1;
    if (args.given(refine::decompress::size)) {
        const Cell& sz = *args.option(refine::decompress::size);
        if (integer::get(sz) < 0) error::fire(err::script_invalid_arg, sz);
        if (m != compress::m_gzip) hint = integer::get(sz);
    }
    std::vector<uint8_t> in = input_bytes(*args.cell(0));
    uint32_t length = static_cast<uint32_t>(in.size());
    uint64_t limit = compress::max_output(m, length);

    // Without a usable hint the codec is asked for the size first.
    bool ask = hint < 0 || ((m == compress::m_zlib || m == compress::m_deflate) && hint <= int64_t(length));
    uint32_t capacity = static_cast<uint32_t>(std::min<uint64_t>(hint < 0 ? 0 : uint64_t(hint), limit));
    if (ask) {
        capacity = 0;
        int r = compress::decode(m, nullptr, capacity, in.data(), length);
        if (r == os::codec_done) {
            output_binary(args, 0, true, method);
            finish_binary(args, 0);
            return;
        }
        if (r != os::codec_short) error::fire(err::script_invalid_data, method);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (capacity > limit) break;
        uint32_t room = capacity;
        uint8_t* out = output_binary(args, room, true, method);
        int r = compress::decode(m, out, room, in.data(), length);
        if (r == os::codec_done) {
            finish_binary(args, room);
            return;
        }
        if (r != os::codec_short) break;
        capacity = room;
    }
    error::fire(err::script_invalid_data, method);
}

}  // namespace

void init_system() {
#define NATIVES_system(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
}

}  // namespace kov::natives
