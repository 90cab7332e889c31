// Text and conversion natives: percent decoding (dehex) and encoding (enhex), the base codecs
// (debase, enbase), case change, the local form of a file name, `as`, the constructors of
// pairs, points and money, and the new-line markers of block cells.
//
// The codecs themselves belong to the datatypes and codec modules; what is fixed here is how
// each native picks its codec, sizes its output and checks its arguments.
//
// Moving memory: every native that makes a string or binary allocates. Text that a codec must
// read while its output grows is first copied to a tracked-heap scratch (which never moves);
// a byte source that stays in a series is fetched again after the output is allocated.
#include <cstring>
#include <memory>

#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/codecs/base_codecs.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/url.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/heap.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"
#include "runtime/platform/os.h"
#include "runtime/unicode.h"

#include "refinements.h"

namespace kov::natives {


namespace {

inline Cell datatype_cell(uint32_t t) { return Cell{T_datatype, t, 0, 0}; }
inline Cell word_cell(const char* text) { return Cell{T_word, 0, symbol::make(text), 0xFFFFFFFFu}; }

// A tracked-heap block freed however the native ends.
struct Scratch {
    uint8_t* bytes;
    explicit Scratch(uint64_t size) : bytes(static_cast<uint8_t*>(heap::allocate(size ? size : 1))) {}
    ~Scratch() { heap::free(bytes); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// The characters of a string value from its index, as UTF-8 in a scratch block; gives the
// byte count. Reads the series but allocates only on the tracked heap.
uint64_t utf8_of(const Cell& s, std::unique_ptr<Scratch>& out) {
    Cell v = s;
    const uint8_t* start = string::rs_head(v);
    const uint8_t* end = string::rs_tail(v);
    uint64_t size = static_cast<uint64_t>(unicode::utf8_size(start, end, memory::buffer(series::node_of(v))->unit()));
    out = std::make_unique<Scratch>(size);
    return static_cast<uint64_t>(unicode::write_utf8(v, out->bytes, -1, false));
}

// ---- percent codec ----------------------------------------------------------------------------------

void dehex(Args& args) {
    std::unique_ptr<Scratch> text;
    uint64_t n = utf8_of(*args.cell(0), text);
    Cell* out = string::push(static_cast<uint32_t>(string::rs_length_q(*args.cell(0))), 1);
    // The text came from code points, so only a lone surrogate can make it invalid UTF-8.
    if (!url::decode_bytes(text->bytes, n, series::node_of(*out))) args.wrong_value(0);
    *args.cell(0) = *out;
    stack::keep();
}

// A string keeps only the unreserved characters; the other text types keep what a URL may hold.
void enhex(Args& args) {
    Cell* out = string::push(static_cast<uint32_t>(string::rs_length_q(*args.cell(0))), 1);
    url::enhex_string(*args.cell(0), *out, cell::is(*args.cell(0), T_string) ? url::strict_table : url::url_table);
    *args.cell(0) = *out;
    stack::keep();
}

// ---- base codecs ------------------------------------------------------------------------------------

struct Codec {
    uint64_t (*encoded_size)(uint64_t);
    uint8_t* (*encode)(uint8_t*, const uint8_t*, uint64_t);
    memory::Node (*decode)(const uint8_t*, uint64_t, uint32_t);
};

// The codec of the /base refinement (64 when absent); other bases raise script/invalid-arg.
static_assert(refine::debase::base == refine::enbase::base);
Codec codec_of(Args& args) {
    int32_t base = 64;
    if (args.given(refine::enbase::base)) base = integer::get(*args.option(refine::enbase::base));
    switch (base) {
    case 64: return {base64::encoded_size, base64::encode, base64::decode};
    case 58: return {base58::encoded_size, base58::encode, base58::decode};
    case 16: return {base16::encoded_size, base16::encode, base16::decode};
    case 2: return {base2::encoded_size, base2::encode, base2::decode};
    default: error::fire(err::script_invalid_arg, *args.option(refine::enbase::base));
    }
}

void debase(Args& args) {
    Codec codec = codec_of(args);
    Cell v = *args.cell(0);
    const uint8_t* text = string::rs_head(v);
    uint64_t count = static_cast<uint64_t>(string::rs_length_q(v));
    memory::Node node = codec.decode(text, count, memory::buffer(series::node_of(v))->unit());
    if (node) *args.cell(0) = binary::cell_of(node);
    else none::make_at(*args.cell(0));
}

void enbase(Args& args) {
    Codec codec = codec_of(args);
    Cell v = *args.cell(0);
    std::unique_ptr<Scratch> utf8;
    uint64_t length = cell::is(v, T_binary) ? binary::length(v) : utf8_of(v, utf8);
    uint64_t size = codec.encoded_size(length);
    if (length > memory::max_buffer_size || size > memory::max_buffer_size) error::fire(err::script_too_long);
    Cell* out = string::push(static_cast<uint32_t>(size), 1);
    // Fetched after the allocation: a binary's bytes may have moved.
    const uint8_t* data = utf8 ? utf8->bytes : binary::head_pointer(v);
    memory::Buffer* b = memory::buffer(series::node_of(*out));
    uint8_t* end = codec.encode(b->head_ptr(), data, length);
    b->tail = b->head + static_cast<uint32_t>(end - b->head_ptr());
    *args.cell(0) = *out;
    stack::keep();
}

// ---- case ----------------------------------------------------------------------------------------

static_assert(refine::lowercase::part == refine::uppercase::part);
void change_case(Args& args, bool upper) {
    Cell* value = args.cell(0);
    Cell* part = args.option(refine::uppercase::part);
    if (cell::is(*value, T_char_)) part = nullptr;
    if (part && !cell::is(*part, T_integer) && !(cell::type(*part) == cell::type(*value) && series::node_of(*part) == series::node_of(*value)))
        error::fire(err::script_invalid_refine_arg, word_cell("part"), *part);
    unicode::change_case(*value, part, upper);
}

void uppercase(Args& args) { change_case(args, true); }
void lowercase(Args& args) { change_case(args, false); }

// ---- local file names ---------------------------------------------------------------------------

// The current directory, as the local system gives it (UTF-8), onto the value stack.
Cell* push_current_dir() {
    uint64_t room = 4096;
    for (;;) {
        Scratch buffer(room);
        long n = os::get_current_dir(reinterpret_cast<char*>(buffer.bytes), room);
        if (n < 0) n = 0;
        if (static_cast<uint64_t>(n) < room) return string::load(buffer.bytes, static_cast<uint64_t>(n), nullptr, 0);
        room = static_cast<uint64_t>(n) + 1;
    }
}

// Local names are POSIX paths, the language's own notation: the characters are copied as they
// are; /full puts the current directory before a relative name.
void to_local_file(Args& args) {
    Cell path = *args.cell(0);
    const uint8_t* head = string::rs_head(path);
    bool relative = string::rs_length_q(path) == 0 || string::get_char(head, memory::buffer(series::node_of(path))->unit()) != '/';
    Cell* out;
    if (args.given(refine::to_local_file::full) && relative) {
        out = push_current_dir();
        int32_t n = string::rs_full_length_q(*out);
        if (n == 0 || string::rs_abs_char(*out, n - 1) != '/') string::concatenate_literal(*out, "/");
    } else {
        out = string::push(static_cast<uint32_t>(string::rs_length_q(path)), 1);
    }
    string::concatenate(*out, *args.cell(0), -1, 0, false, string::append_mode);
    *args.cell(0) = *out;
    stack::keep();
}

// ---- as -----------------------------------------------------------------------------------------

enum Class { no_class, list_class, string_class };

// hash! is in no class: retyping its cells to or from a block would leave its index behind.
Class class_of(uint32_t t) {
    if (in(t, ANY_BLOCK) && t != T_hash) return list_class;
    if (in(t, ANY_STRING)) return string_class;
    return no_class;
}

void as(Args& args) {
    const Cell& type = *args.cell(0);
    uint32_t target = cell::is(type, T_datatype) ? datatype::id_of(type) : cell::type(type);
    Cell spec = *args.cell(1);
    Class c = class_of(cell::type(spec));
    if (c == no_class || class_of(target) != c)
        error::fire(err::script_not_same_class, datatype_cell(cell::type(spec)), datatype_cell(target));
    cell::retype(spec, target);
    // The conversion cache stays with the original cell; the new one makes its own.
    if (c == string_class) string::set_cache(spec, 0);
    *args.cell(0) = spec;
}

// ---- pairs, points, money -----------------------------------------------------------------------

// An integer, or a finite float truncated toward zero that fits 32 bits.
int32_t pair_coordinate(const Cell& c) {
    if (cell::is(c, T_integer)) return integer::get(c);
    int32_t n;
    if (!numeric::to_int32(cell::get_double(c), n)) error::fire(err::script_invalid_arg, c);
    return n;
}

float point_coordinate(const Cell& c) {
    if (cell::is(c, T_integer)) return static_cast<float>(integer::get(c));
    return static_cast<float>(cell::get_double(c));
}

void as_pair(Args& args) {
    int32_t x = pair_coordinate(*args.cell(0));
    int32_t y = pair_coordinate(*args.cell(1));
    pair::make_at(*args.cell(0), x, y);
}

void as_point2d(Args& args) {
    float x = point_coordinate(*args.cell(0));
    float y = point_coordinate(*args.cell(1));
    point2d::make_at(*args.cell(0), x, y);
}

void as_point3d(Args& args) {
    float x = point_coordinate(*args.cell(0));
    float y = point_coordinate(*args.cell(1));
    float z = point_coordinate(*args.cell(2));
    point3d::make_at(*args.cell(0), x, y, z);
}

void as_money(Args& args) {
    symbol::Spelling name = symbol::spelling(word::symbol_of(*args.cell(0)));
    int32_t currency = money::currency_index(name.bytes, name.length);
    if (currency < 0) error::fire(err::script_bad_denom, *args.cell(0));
    const Cell& amount = *args.cell(1);
    if (!cell::is(amount, T_integer)) {
        Cell m = money::from_float(cell::get_double(amount), false);
        money::set_currency(m, static_cast<uint32_t>(currency));
        *args.cell(0) = m;
        return;
    }
    int32_t n = integer::get(amount);
    char digits[12];
    uint32_t length = integer::form_signed(n, digits);
    const uint8_t* start = reinterpret_cast<const uint8_t*>(digits) + (n < 0 ? 1 : 0);
    Cell m = none::value;
    money::from_digits(m, n < 0, static_cast<uint32_t>(currency), start, reinterpret_cast<const uint8_t*>(digits) + length,
                       nullptr, nullptr);
    *args.cell(0) = m;
}

// ---- new-line markers ---------------------------------------------------------------------------

void set_marker(Cell& c, bool on) {
    if (on) c.header |= cell::new_line;
    else cell::clear_new_line(c);
}

void new_line(Args& args) {
    Cell position = *args.cell(0);
    bool value = args.logic(1);
    uint64_t step = 0;
    if (args.given(refine::new_line::skip)) {
        const Cell& size = *args.option(refine::new_line::skip);
        if (integer::get(size) < 1) error::fire(err::script_out_of_range, size);
        step = static_cast<uint64_t>(integer::get(size));
    } else if (args.given(refine::new_line::all)) {
        step = 1;
    }
    code_cache::changed(series::node_of(position));  // the markers are part of the cells
    memory::Buffer* b = memory::buffer(series::node_of(position));
    auto cells = reinterpret_cast<Cell*>(b->head_ptr());
    uint64_t tail = b->used() / sizeof(Cell);
    uint64_t at = series::position_of(position);
    if (step == 0) {
        if (at < tail) set_marker(cells[at], value);
        return;
    }
    for (uint64_t i = at; i < tail; ++i) {
        bool marked = step == 1 || (i - at) % step == 0;
        set_marker(cells[i], marked ? value : !value);
    }
}

void new_line_q(Args& args) {
    Cell position = *args.cell(0);
    memory::Buffer* b = memory::buffer(series::node_of(position));
    uint64_t tail = b->used() / sizeof(Cell);
    uint32_t at = series::position_of(position);
    bool marked = at < tail && (reinterpret_cast<Cell*>(b->head_ptr())[at].header & cell::new_line);
    logic::make_at(*args.cell(0), marked);
}

}  // namespace

void init_text() {
#define NATIVES_text(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
}

}  // namespace kov::natives
