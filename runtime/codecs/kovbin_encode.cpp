// Kovbin writers: the fixed and the compact encoding (the layout is described in kovbin.h).
//
// One walk serves both encodings: the sharing check, the position counter and the path stack
// are the same, only the bytes of each record differ. Positions: every record takes the next
// position of its nesting level, except the spec block of a native! or action! and the
// function wrapped by an op!, which share their owner's position. A container's elements
// start a level of their own; so do the fields written after a word that is the first to meet
// its context (the context's owner record).
//
// The writer keeps everything on the tracked heap (output bytes, symbol table, path stack and
// store, seen table), so walking the values allocates no series and every cell address stays
// valid for the whole walk; the result binary is allocated at the end. Each blob gets a fresh
// writer, so no path or seen entry survives from one encode into the next, however it ended.
#include <cmath>
#include <bit>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/codecs/kovbin.h"
#include "runtime/codecs/lz.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/heap.h"

namespace kov::kovbin {

namespace {

using memory::Node;

// Growable bytes on the tracked heap: never moved by the collector.
class Bytes {
public:
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { heap::free(data_); }

    uint64_t size() const { return size_; }
    const uint8_t* data() const { return data_; }

    uint8_t* grow(uint64_t n) {
        if (size_ + n > memory::max_buffer_size) error::fire(err::internal_no_memory);
        if (size_ + n > capacity_) {
            uint64_t cap = capacity_ ? capacity_ : 256;
            while (cap < size_ + n) cap *= 2;
            data_ = static_cast<uint8_t*>(heap::resize(data_, cap));
            capacity_ = cap;
        }
        uint8_t* p = data_ + size_;
        size_ += n;
        return p;
    }
    void bytes(const void* src, uint64_t n) {
        if (n) std::memcpy(grow(n), src, n);
    }
    void byte(uint32_t b) { *grow(1) = static_cast<uint8_t>(b); }
    void u32(uint32_t v) {
        uint8_t* p = grow(4);
        for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            byte(v | 0x80);
            v >>= 7;
        }
        byte(v);
    }
    void zigzag(int32_t n) { varint((static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31)); }
    void pad_to(uint32_t multiple) {
        while (size_ % multiple) byte(0);
    }

private:
    uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t capacity_ = 0;
};

// A growable array of 32-bit words on the tracked heap.
class Words {
public:
    Words() = default;
    Words(const Words&) = delete;
    Words& operator=(const Words&) = delete;
    ~Words() { heap::free(data_); }

    uint32_t size() const { return size_; }
    uint32_t operator[](uint32_t i) const { return data_[i]; }
    void push(uint32_t v) {
        if (size_ == capacity_) {
            capacity_ = capacity_ ? capacity_ + capacity_ / 2 : 1024;
            data_ = static_cast<uint32_t*>(heap::resize(data_, std::size_t(capacity_) * 4));
        }
        data_[size_++] = v;
    }
    uint32_t pop() { return data_[--size_]; }

private:
    uint32_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
};


[[noreturn]] void no_codec(const Cell& value) { error::fire(err::access_no_codec, value); }

// A word whose context is the global one, or no context, or one owned by none!, unset! or
// block!, is written by its symbol alone.
bool global_binding(const Cell& word) {
    Node ctx = word::context_of(word);
    if (!ctx || ctx == context::global() || !context::is_context(ctx)) return true;
    uint32_t owner = cell::type(*context::self_cell(ctx));
    return owner == T_none || owner == T_unset || owner == T_block;
}

class Writer {
public:
    explicit Writer(bool compact)
        : compact_(compact), seen_(hashtable::heap_make(1024)), symbols_(hashtable::heap_make(256)) {}
    ~Writer() {
        hashtable::heap_free(seen_);
        hashtable::heap_free(symbols_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // One record (and what follows it) at the next position of the current level.
    void value(const Cell& v) {
        if (++depth_ > max_depth) error::fire(err::internal_too_deep);
        write(v);
        --depth_;
        ++counter_;
    }

    Cell* finish(uint32_t roots);

private:
    bool compact_;
    Bytes out_;              // the payload
    Bytes names_;            // NUL-terminated spellings
    Bytes offsets_;          // int32 offset of each name
    uint32_t symbol_count_ = 0;
    uint32_t counter_ = 0;   // position counter of the current level
    uint32_t depth_ = 0;
    Words path_;             // the parents' positions
    Words store_;            // per seen key: path length, then the positions
    hashtable::HeapMap* seen_;     // key node -> offset in store_
    hashtable::HeapMap* symbols_;  // symbol id -> table index

    // ---- symbols and paths ----------------------------------------------------------------------
    uint32_t symbol_index(uint32_t id) {
        uint32_t index;
        if (hashtable::heap_get(symbols_, id, index)) return index;
        index = symbol_count_++;
        hashtable::heap_put(symbols_, id, index);
        offsets_.u32(static_cast<uint32_t>(names_.size()));
        symbol::Spelling s = symbol::spelling(id);
        names_.bytes(s.bytes, s.length);
        names_.byte(0);
        return index;
    }

    void push_path() {
        path_.push(counter_);
        counter_ = 0;
    }
    void pop_path() { counter_ = path_.pop(); }

    // The stored path offset of a key met before, else -1.
    int64_t find_seen(Node key) {
        uint32_t offset;
        return hashtable::heap_get(seen_, key, offset) ? int64_t(offset) : -1;
    }
    void record_seen(Node key) {
        hashtable::heap_put(seen_, key, store_.size());
        store_.push(path_.size());
        for (uint32_t i = 0; i < path_.size(); ++i) store_.push(path_[i]);
    }
    void write_path(uint32_t offset) {
        uint32_t n = store_[offset];
        if (compact_) {
            out_.varint(n);
            for (uint32_t i = 1; i <= n; ++i) out_.varint(store_[offset + i]);
        } else {
            out_.u32(fx_reference);
            out_.u32(n);
            for (uint32_t i = 1; i <= n; ++i) out_.u32(store_[offset + i]);
        }
    }

    // ---- record heads ---------------------------------------------------------------------------
    // Fixed: the header word. Compact: the prefixes and the lead byte (flag = bit 6).
    void head(uint32_t type, bool new_line, bool shared, bool flag, uint32_t fixed_bits = 0) {
        if (compact_) {
            if (new_line) out_.byte(cp_new_line);
            if (shared) out_.byte(cp_shared);
            out_.byte(type | (flag ? cp_flag : 0));
        } else {
            out_.u32(type | fixed_bits | (new_line ? fx_new_line : 0) | (shared ? fx_shared : 0));
        }
    }
    void field(uint32_t v) {
        if (compact_) out_.varint(v);
        else out_.u32(v);
    }
    void signed_field(int32_t v) {
        if (compact_) out_.zigzag(v);
        else out_.u32(static_cast<uint32_t>(v));
    }

    void write(const Cell& v);
    void number(const Cell& v, bool nl);
    void word(const Cell& v, bool nl);
    void native(const Cell& v, bool nl);
    void op(const Cell& v, bool nl);
    void keyed(const Cell& v, bool nl);
    void own_fields(const Cell& v, bool nl, bool shared);
    void body(const Cell& v);
    void context_record(Node ctx);
    void empty_block();
};

void Writer::write(const Cell& v) {
    uint32_t t = cell::type(v);
    bool nl = (v.header & cell::new_line) != 0;
    switch (t) {
    case T_unset: case T_none:
        head(t, nl, false, false);
        break;
    case T_logic:
        if (compact_) {
            if (nl) out_.byte(cp_new_line);
            out_.byte(logic::get(v) ? cp_true : cp_false);
        } else {
            head(t, nl, false, false);
            out_.u32(logic::get(v) ? 1 : 0);
        }
        break;
    case T_datatype:
        head(t, nl, false, false);
        field(datatype::id_of(v));
        break;
    case T_char_:
        head(t, nl, false, false);
        field(static_cast<uint32_t>(char_::get(v)));
        break;
    case T_integer: {
        int32_t n = integer::get(v);
        if (compact_ && n >= 0 && n <= 63) {
            if (nl) out_.byte(cp_new_line);
            out_.byte(cp_small_int + static_cast<uint32_t>(n));
        } else {
            head(t, nl, false, false);
            signed_field(n);
        }
        break;
    }
    case T_float_: case T_percent: case T_time:
        number(v, nl);
        break;
    case T_pair:
        head(t, nl, false, false);
        signed_field(static_cast<int32_t>(cell::word<2>(v)));
        signed_field(static_cast<int32_t>(cell::word<3>(v)));
        break;
    case T_point2d: case T_point3d:
        head(t, nl, false, false);
        out_.u32(cell::word<1>(v));
        out_.u32(cell::word<2>(v));
        if (t == T_point3d) out_.u32(cell::word<3>(v));
        break;
    case T_typeset:
        head(t, nl, false, false);
        if (compact_) {
            uint8_t bytes[12];
            std::memcpy(bytes, cell::payload(v), 12);
            uint32_t n = 12;
            while (n > 0 && bytes[n - 1] == 0) --n;
            out_.byte(n);
            out_.bytes(bytes, n);
        } else {
            out_.u32(cell::word<1>(v));
            out_.u32(cell::word<2>(v));
            out_.u32(cell::word<3>(v));
        }
        break;
    case T_tuple: {
        uint32_t length = tuple::length(v);
        if (compact_) {
            head(t, nl, false, length != 3);
            if (length != 3) out_.byte(length);
            uint8_t bytes[12];
            std::memcpy(bytes, cell::payload(v), 12);
            out_.bytes(bytes, length <= 12 ? length : 12);
        } else {
            head(t, nl, false, false, length << 8);
            out_.u32(cell::word<1>(v));
            out_.u32(cell::word<2>(v));
            out_.u32(cell::word<3>(v));
        }
        break;
    }
    case T_money: {
        bool negative = money::negative_q(v);
        head(t, nl, false, negative, negative ? fx_negative : 0);
        out_.u32(cell::word<1>(v));
        out_.u32(cell::word<2>(v));
        out_.u32(cell::word<3>(v));
        break;
    }
    case T_date: {
        bool timed = date::has_time_q(cell::word<1>(v));
        head(t, nl, false, timed);
        out_.u32(cell::word<1>(v));
        if (compact_) {
            if (timed) {
                out_.u32(cell::word<2>(v));
                out_.u32(cell::word<3>(v));
            }
        } else {
            out_.u32(cell::word<3>(v));
            out_.u32(cell::word<2>(v));
        }
        break;
    }
    case T_issue:
        head(t, nl, false, false);
        field(symbol_index(word::symbol_of(v)));
        break;
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
        word(v, nl);
        break;
    case T_native: case T_action:
        native(v, nl);
        break;
    case T_op:
        op(v, nl);
        break;
    default:
        // The keyed types; past them routine!, triple!, handle!, port!, event!, and the types that
        // have no values to store.
        if (keyed_type(t)) keyed(v, nl);
        else no_codec(v);
    }
}

// float!, percent!, time!: the compact encoding keeps whole numbers (whole hundredths for a
// percent!) as an integer when the integer gives back exactly the same double.
void Writer::number(const Cell& v, bool nl) {
    uint32_t t = cell::type(v);
    if (!compact_) {
        if (out_.size() % 8) out_.u32(0);  // the header starts on a multiple of 8
        head(t, nl, false, false);
        out_.u32(cell::word<3>(v));
        out_.u32(cell::word<2>(v));
        return;
    }
    double d = cell::get_double(v);
    bool negative_zero = d == 0.0 && std::signbit(d);
    if (!negative_zero) {
        if (t == T_percent) {
            if (d >= -21474836.0 && d <= 21474836.0) {
                double n = std::round(d * 100.0);
                if (n / 100.0 == d) {
                    head(t, nl, false, true);
                    out_.zigzag(static_cast<int32_t>(n));
                    return;
                }
            }
        } else if (d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d)) {
            head(t, nl, false, true);
            out_.zigzag(static_cast<int32_t>(d));
            return;
        }
    }
    head(t, nl, false, false);
    out_.u32(cell::word<2>(v));
    out_.u32(cell::word<3>(v));
}

void Writer::word(const Cell& v, bool nl) {
    uint32_t t = cell::type(v);
    uint32_t sym = symbol_index(word::symbol_of(v));
    if (global_binding(v)) {
        head(t, nl, false, false, fx_global);
        field(sym);
        if (!compact_) out_.u32(static_cast<uint32_t>(word::index_of(v)));
        return;
    }
    Node ctx = word::context_of(v);
    Cell owner = *context::self_cell(ctx);
    uint32_t ot = cell::type(owner);
    bool stack = context::on_stack(*context::record(ctx));
    // Only an object, an error or a function can be written in the word's place and bind it
    // again on reading.
    if (stack ? ot != T_function : (ot != T_object && ot != T_error)) no_codec(v);
    int64_t seen = find_seen(ctx);
    head(t, nl, seen >= 0, true);
    field(sym);
    signed_field(word::index_of(v));
    if (seen >= 0) {
        write_path(static_cast<uint32_t>(seen));
        return;
    }
    push_path();
    record_seen(ctx);
    cell::set_word<1>(owner, ctx);
    owner.header = ot;
    own_fields(owner, false, false);
    body(owner);
    pop_path();
}

// The spec block takes the native's own position.
void Writer::native(const Cell& v, bool nl) {
    head(cell::type(v), nl, false, false);
    field(function::entry_index(v));
    value(block::cell_of(function::spec_of(v)));
    --counter_;
}

// The wrapped value takes the op's own position.
void Writer::op(const Cell& v, bool nl) {
    uint32_t wrapped = function::wrapped_type(v);
    if (wrapped != T_native && wrapped != T_action && wrapped != T_function) no_codec(v);
    head(T_op, nl, false, false, wrapped << 16);
    value(Cell{wrapped, cell::word<1>(v), cell::word<2>(v), cell::word<3>(v)});
    --counter_;
}

// Series, bitsets, objects, errors and functions: written in full once, then by their path.
void Writer::keyed(const Cell& v, bool nl) {
    uint32_t t = cell::type(v);
    Node key = (t == T_object || t == T_error || t == T_function) ? cell::word<1>(v) : cell::word<2>(v);
    int64_t seen = find_seen(key);
    if (seen >= 0) {
        own_fields(v, nl, true);
        write_path(static_cast<uint32_t>(seen));
        return;
    }
    push_path();
    // Every image without pixels has node 0: each is written in full, none is shared.
    if (key) record_seen(key);
    own_fields(v, nl, false);
    body(v);
    pop_path();
}

// The head of a record and the fields it keeps when shared (a series' head index).
void Writer::own_fields(const Cell& v, bool nl, bool shared) {
    uint32_t t = cell::type(v);
    if (in(t, ANY_BLOCK | ANY_STRING) || t == T_binary || t == T_vector || t == T_image) {
        // The fixed header carries the unit width of text and vectors; a negative index
        // counts as 0.
        uint32_t width = in(t, ANY_STRING) || t == T_vector ? memory::buffer(series::node_of(v))->unit() << 8
                                                            : (t == T_binary ? 1u << 8 : 0);
        uint32_t index = series::index_of(v) < 0 ? 0 : series::position_of(v);
        head(t, nl, shared, index != 0, width);
        if (compact_) {
            if (index) out_.varint(index);
        } else {
            out_.u32(index);
        }
    } else if (t == T_object) {
        bool hooks = !shared && object::hooks_of(v) != 0;
        head(t, nl, shared, hooks, hooks ? fx_hooks : 0);
    } else if (t == T_bitset) {
        bool complemented = bitset::complement_q(v);
        head(t, nl, shared, complemented, complemented ? fx_complement : 0);
    } else {
        head(t, nl, shared, false);  // map!, error!, function!
    }
}

// What a record holds when written in full.
void Writer::body(const Cell& v) {
    uint32_t t = cell::type(v);
    if (in(t, ANY_BLOCK)) {
        Node node = series::node_of(v);
        uint32_t n = cells::count(node);
        field(n);
        for (uint32_t i = 0; i < n; ++i) value(cells::at(node, i));
    } else if (t == T_map) {
        // A removed entry keeps its key and a value cell of header 0: only live pairs count.
        uint32_t n = cells::count(cell::word<2>(v)) & ~1u, live = 0;
        for (uint32_t i = 0; i < n; i += 2)
            if (cells::of(cell::word<2>(v))[i + 1].header != 0) ++live;
        field(live * 2);
        for (uint32_t i = 0; i < n; i += 2) {
            if (cells::of(cell::word<2>(v))[i + 1].header == 0) continue;
            value(cells::of(cell::word<2>(v))[i]);
            value(cells::of(cell::word<2>(v))[i + 1]);
        }
    } else if (t == T_bitset) {
        // The bytes from head to tail; the bits past them follow the complement flag.
        memory::Buffer* b = memory::buffer(bitset::node_of(v));
        uint32_t length = b->used();
        field(length);
        out_.bytes(b->head_ptr(), length);
        if (!compact_) out_.pad_to(4);
    } else if (t == T_image) {
        // The size, then every pixel as it lies in memory (B, G, R, opacity).
        uint32_t w = image::width(v), h = image::height(v);
        if (compact_) {
            out_.varint(w);
            out_.varint(h);
        } else {
            out_.u32(cell::word<3>(v));
        }
        if (cell::word<2>(v)) out_.bytes(image::pixels(v), uint64_t(w) * h * 4);
    } else if (t == T_vector) {
        // The whole buffer: its element count, then the element type and width (the compact
        // encoding packs both into one byte), then the elements as they lie.
        memory::Buffer* b = memory::buffer(cell::word<2>(v));
        uint32_t unit = b->unit();
        uint32_t length = b->used() / unit;
        if (compact_) {
            out_.byte(cell::word<3>(v) << 2 | static_cast<uint32_t>(std::countr_zero(unit)));
            out_.varint(length);
        } else {
            out_.u32(length);
            out_.u32(cell::word<3>(v));
        }
        out_.bytes(memory::buffer(cell::word<2>(v))->head_ptr(), uint64_t(length) * unit);
        if (!compact_) out_.pad_to(4);
    } else if (in(t, ANY_STRING) || t == T_binary) {
        memory::Buffer* b = memory::buffer(series::node_of(v));
        uint32_t unit = t == T_binary ? 1 : b->unit();
        uint32_t length = b->used() / unit;
        if (compact_) {
            if (t == T_binary) {
                out_.varint(length);
            } else {
                if (length >= (1u << 30)) error::fire(err::script_too_long);
                out_.varint(length << 2 | (unit >> 1));
            }
        } else {
            out_.u32(length);
        }
        out_.bytes(memory::buffer(series::node_of(v))->head_ptr(), uint64_t(length) * unit);
        if (!compact_) out_.pad_to(4);
    } else if (t == T_object) {
        signed_field(static_cast<int32_t>(object::class_of(v)));
        if (object::hooks_of(v)) {
            // The field index and local count of each hook, as the object keeps them.
            const Cell* hooks = cells::of(object::hooks_of(v));
            signed_field(static_cast<int32_t>(cell::word<2>(hooks[0])));
            signed_field(static_cast<int32_t>(cell::word<2>(hooks[1])));
        }
        context_record(object::context_of(v));
    } else if (t == T_error) {
        const Cell* code = context::value_cell(object::context_of(v), error::f_code);
        if (!code || !cell::is(*code, T_integer)) no_codec(v);
        field(static_cast<uint32_t>(integer::get(*code)));
        for (uint32_t f = error::f_arg1; f <= error::f_stack; ++f) {
            const Cell* c = context::value_cell(object::context_of(v), f);
            value(c ? *c : none::value);
        }
    } else if (t == T_function) {
        const Cell& code = function::more(v)[0];
        bool has_body = in(cell::type(code), ANY_BLOCK);
        field(cells::count(function::spec_of(v)));
        int64_t length = has_body ? int64_t(cells::count(series::node_of(code))) - int64_t(series::position_of(code)) : 0;
        field(length > 0 ? static_cast<uint32_t>(length) : 0);
        context_record(function::context_of(v));
        value(block::cell_of(function::spec_of(v)));
        if (has_body) value(block::cell_of(series::node_of(code), series::index_of(code)));
        else empty_block();
    }
}

// A context: its kind and flags, its words, and its values when they live in the context and
// any of them is set.
void Writer::context_record(Node ctx) {
    Cell rec = *context::record(ctx);
    bool stack = context::on_stack(rec);
    uint32_t n = context::word_count(ctx);
    bool values = false;
    for (uint32_t i = 0; !stack && i < n && !values; ++i) {
        const Cell* c = context::value_cell(ctx, i);
        values = c && !cell::is(*c, T_unset);
    }
    uint32_t kind = context::kind_of(rec);
    bool self = context::binds_self(rec);
    if (compact_) {
        out_.byte(T_context);
        out_.byte(kind | (stack ? cp_ctx_stack : 0) | (self ? cp_ctx_self : 0) | (values ? cp_ctx_values : 0));
    } else {
        out_.u32(T_context | kind << fx_ctx_kind_shift | (self ? fx_ctx_self : 0) | (stack ? fx_ctx_stack : 0) |
                 (values ? fx_ctx_values : 0));
    }
    field(n);
    for (uint32_t i = 0; i < n; ++i) field(symbol_index(word::symbol_of(*context::slot_at(ctx, i))));
    if (!values) return;
    for (uint32_t i = 0; i < n; ++i) {
        const Cell* c = context::value_cell(ctx, i);
        value(c ? *c : unset::value);
    }
}

// A function made without a body block is written with an empty one.
void Writer::empty_block() {
    head(T_block, false, false, false);
    if (!compact_) out_.u32(0);
    field(0);
    ++counter_;
}

Cell* Writer::finish(uint32_t roots) {
    bool symbols = symbol_count_ > 0;
    uint8_t flags = (compact_ ? flag_compact : 0) | (symbols ? flag_symbols : 0);
    Bytes blob;
    blob.bytes(magic, sizeof magic);
    blob.byte(version);
    blob.byte(flags);
    uint32_t payload = static_cast<uint32_t>(out_.size());
    if (compact_) {
        blob.varint(roots);
        blob.varint(payload);
        if (symbols) {
            blob.varint(symbol_count_);
            blob.varint(static_cast<uint32_t>(names_.size()));
        }
    } else {
        blob.u32(roots);
        blob.u32(payload);
        if (symbols) {
            while (names_.size() % 8) names_.byte(0);
            blob.u32(symbol_count_);
            blob.u32(static_cast<uint32_t>(names_.size()));
        }
    }
    if (symbols) {
        blob.bytes(offsets_.data(), offsets_.size());
        blob.bytes(names_.data(), names_.size());
    }
    blob.bytes(out_.data(), out_.size());
    Cell* result = binary::push(blob.size());
    memory::Buffer* b = memory::buffer(series::node_of(*result));
    std::memcpy(b->head_ptr(), blob.data(), blob.size());
    b->tail = b->head + static_cast<uint32_t>(blob.size());
    return result;
}

}  // namespace

Cell* encode(const Cell& value_in, bool compact) {
    Cell value = value_in;
    collector::Root keep(value);
    // The writer must not allocate: a function's body it may meet is made first.
    if (function::pending_bodies) function::take_all();
    Writer w(compact);
    w.value(value);
    return w.finish(1);
}

Cell* encode_roots(const Cell& block_in, bool compact) {
    Cell block = block_in;
    collector::Root keep(block);
    if (function::pending_bodies) function::take_all();
    Writer w(compact);
    Node node = series::node_of(block);
    uint32_t n = cells::count(node);
    uint32_t roots = 0;
    for (uint32_t i = series::position_of(block); i < n; ++i, ++roots) w.value(cells::at(node, i));
    return w.finish(roots);
}

uint64_t compress_blob(const uint8_t* blob, uint64_t size, uint8_t* out) {
    if (size <= header_size) return 0;
    int64_t n = lz::compress(blob + header_size, size - header_size, out + header_size);
    if (n < 0 || uint64_t(n) + header_size >= size) return 0;
    std::memcpy(out, blob, header_size);
    out[7] |= flag_compressed;
    return uint64_t(n) + header_size;
}

}  // namespace kov::kovbin
