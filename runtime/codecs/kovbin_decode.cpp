// Kovbin readers: the fixed and the compact encoding, the blob header, the codec's decode and
// the boot image load (the layout is described in kovbin.h).
//
// Every value is built in place: a record's destination cell exists (appended to its container,
// or a context slot) before the record is read, and a container's cell is stored there before
// its elements are read. So everything made is reachable from the target block as soon as it
// exists, and a reference path can name any container that is still being filled. Reference
// paths are resolved against the cells built so far: a position must name a cell that exists,
// and the resolved cell must be of the reading record's own family.
//
// Nothing here keeps a cell address across an allocation: destinations are a node and an index,
// fetched again for every store. The bytes being read never lie in a series (the codec's decode
// reads a private copy), so the read position stays valid while the reader allocates.
#include <algorithm>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/codecs/kovbin.h"
#include "runtime/codecs/lz.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
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
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"

namespace kov::kovbin {

namespace {

using memory::Node;


// The types written as word records, with a binding: issue! is written by its symbol alone.
inline bool word_type(uint32_t t) { return in(t, ALL_WORD) && t != T_issue; }
// The types a shared record may have: those written once and then by their path.
inline bool shareable(uint32_t t) { return keyed_type(t) || word_type(t); }
using function::callable_type;

// The catalogue id of an error code, or false.
bool error_id(uint32_t code, err::Id& id) {
    for (uint32_t i = 0; i < err::id_count; ++i) {
        if (err::code(static_cast<err::Id>(i)) == code) {
            id = static_cast<err::Id>(i);
            return true;
        }
    }
    return false;
}

bool same_spec(Node a, Node b, uint32_t depth);

// Where a record's value goes: cell `index` of the cell series `node`. For a function's spec
// (spec_of set), only the spec's node is stored, into that cell's w2 (when node is not 0) and
// into the w2 of the function in the self cell of the context spec_of.
struct Dest : cells::View {
    Node spec_of = 0;
};

// What a record's head says.
struct Head {
    uint32_t id = 0;
    uint32_t bits = 0;   // fixed: the header word
    bool new_line = false;
    bool shared = false;
    bool bind = false;
    bool flag = false;   // compact: bit 6 of the lead byte
};

// A word waiting for the context of the owner record that follows it.
struct Binding {
    Cell word;
    bool active = false;
};

struct ContextHead {
    uint32_t kind = 0;
    bool stack = false;
    bool self = false;
    bool values = false;
    uint32_t count = 0;
};

// Frees a tracked-heap block however the scope ends.
struct HeapBlock {
    void* p = nullptr;
    ~HeapBlock() { heap::free(p); }
};

class Reader {
public:
    // [start, end): the blob after its flags byte (decompressed when it was compressed);
    // error offsets count from the blob's start, 8 bytes before `start`.
    Reader(const uint8_t* start, const uint8_t* end, bool compact, Mode mode, Node target)
        : start_(start), p_(start), end_(end), compact_(compact), boot_(mode == Mode::boot), target_(target),
          base_(cells::count(target)) {}
    ~Reader() { heap::free(ids_); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    void run(bool symbols);

private:
    const uint8_t* start_;
    const uint8_t* p_;
    const uint8_t* end_;     // the payload's end once it is known
    bool compact_;
    bool boot_;
    Node target_;
    uint32_t base_;          // cells the target held before the load
    uint32_t depth_ = 0;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* names_ = nullptr;
    uint32_t symbol_count_ = 0;
    uint32_t names_length_ = 0;
    // Per table entry: its interned symbol, then (after symbol_count_ entries) its global
    // word's index plus one; 0 until first used. Global word indexes never change, so each
    // symbol is looked up in the global context once per load, not at every word.
    uint32_t* ids_ = nullptr;
    uint32_t last_entry_ = 0;  // the table entry `symbol` read last

    // The global word of table entry `entry` (symbol sym), typed t: its index looked up once.
    Cell global_word(uint32_t sym, uint32_t entry, uint32_t t) {
        uint32_t& global_index = ids_[symbol_count_ + entry];
        Cell w;
        if (global_index) {
            w = word::cell_of(t, sym, context::global(), static_cast<int32_t>(global_index - 1));
        } else {
            word::make_at(sym, w);
            global_index = cell::word<3>(w) + 1;
            cell::set_type(w, t);
        }
        return w;
    }

    // ---- bounds and primitives --------------------------------------------------------------------
    [[noreturn]] void fail() const {
        error::fire(err::script_kb_invalid_record,
                    integer::make(static_cast<int32_t>(p_ - start_) + static_cast<int32_t>(header_size) + 1));
    }
    uint64_t left() const { return static_cast<uint64_t>(end_ - p_); }
    void need(uint64_t n) const {
        if (left() < n) fail();
    }
    uint8_t byte() {
        need(1);
        return *p_++;
    }
    uint32_t u32() {
        need(4);
        uint32_t v = uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
        p_ += 4;
        return v;
    }
    uint32_t varint() {
        uint32_t v = 0;
        for (uint32_t i = 0; i < 5; ++i) {
            uint8_t b = byte();
            if (i == 4 && (b & 0xF0)) fail();
            v |= uint32_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        fail();
    }
    int32_t zigzag() {
        uint32_t v = varint();
        return static_cast<int32_t>((v >> 1) ^ (0u - (v & 1)));
    }
    uint32_t field() { return compact_ ? varint() : u32(); }
    int32_t signed_field() { return compact_ ? zigzag() : static_cast<int32_t>(u32()); }
    // A count of records (or symbols) that must each take at least one unit of the encoding.
    uint32_t count_field() {
        uint32_t n = field();
        if (n > left() / (compact_ ? 1 : 4)) fail();
        return n;
    }
    // A series head index (a signed index that is never negative in written data).
    uint32_t head_index(const Head& h) {
        uint32_t index = compact_ ? (h.flag ? varint() : 0) : u32();
        if (index > 0x7FFFFFFFu) fail();
        return index;
    }
    void skip_padding() {
        uint32_t pad = static_cast<uint32_t>((4 - (p_ - start_) % 4) % 4);
        need(pad);
        p_ += pad;
    }

    // ---- destinations -----------------------------------------------------------------------------
    static Cell* at(const Dest& d) { return d.cells(); }
    static void put(const Dest& d, const Cell& c) {
        if (d.spec_of) {
            if (d.node) cell::set_word<2>(*at(d), cell::word<2>(c));
            cell::set_word<2>(*context::self_cell(d.spec_of), cell::word<2>(c));
            return;
        }
        *at(d) = c;
    }
    // Appends an unset! cell to the block and gives it as a destination.
    static Dest append(Node block) {
        uint32_t i = cells::count(block);
        series::append_cell(block);
        return Dest{{block, i}};
    }
    // The same for a block made with room for every element its record counts.
    static Cell* append_in_room(Node block) {
        memory::Buffer* b = memory::buffer(block);
        cell::expect(b->tail + sizeof(Cell) <= b->size);
        auto c = reinterpret_cast<Cell*>(b->tail_ptr());
        *c = Cell{T_unset, 0, 0, 0};
        b->tail += sizeof(Cell);
        return c;
    }
    static Dest append_room(Node block) {
        uint32_t i = cells::count(block);
        append_in_room(block);
        return Dest{{block, i}};
    }

    // A symbol table entry's symbol; the first use of an entry interns its spelling.
    uint32_t symbol() {
        // Most tables are small enough for most entries to be written in one byte.
        uint32_t i = compact_ && p_ < end_ && *p_ < 0x80 ? *p_++ : field();
        if (i >= symbol_count_) fail();
        last_entry_ = i;
        if (ids_[i]) [[likely]] return ids_[i];
        return intern(i);
    }
    [[gnu::noinline]] uint32_t intern(uint32_t i);
    Cell resolve(bool header_read = false);
    Cell adopt(uint32_t type, const Cell& found, uint32_t index);
    Node context_of_holder(const Cell& holder);
    void check_index(Node ctx, int32_t index);

    bool value(const Dest& d, bool top, uint32_t expect);
    bool global_word(Node block);
    Head head();
    void scalar(const Head& h, const Dest& d);
    bool word(const Head& h, const Dest& d);
    void owner(const Dest& d, Binding& binding);
    void native(const Head& h, const Dest& d);
    void op(const Head& h, const Dest& d);
    void keyed(const Head& h, const Dest& d);
    void block(const Head& h, const Dest& d, uint32_t index);
    void text(const Head& h, const Dest& d, uint32_t index);
    void elements(const Head& h, const Dest& d, uint32_t index);
    void pixels(const Head& h, const Dest& d, uint32_t index);
    // Kept out of line: inlined, it pushes head() out of value(), which the boot load runs
    // for every record.
    [[gnu::noinline]] void bits(const Head& h, const Dest& d);
    ContextHead context_head(uint32_t fixed_header);
    Node make_context(const ContextHead& ch);
    void object(const Head& h, const Dest& d, Binding* binding);
    void lone_context(const Head& h, const Dest& d);
    void error_record(const Head& h, const Dest& d, Binding* binding);
    void function_record(const Head& h, const Dest& d, Binding* binding);
    void check_function(Node ctx);
    void publish(const Dest& d, Binding* binding, const Cell& value, Node ctx);
};

// ---- the blob ---------------------------------------------------------------------------------------

void Reader::run(bool symbols) {
    field();  // the root count: records are read until the payload is used up
    uint32_t payload = field();
    if (symbols) {
        symbol_count_ = field();
        names_length_ = field();
        need(uint64_t(symbol_count_) * 4);
        offsets_ = p_;
        p_ += uint64_t(symbol_count_) * 4;
        need(names_length_);
        names_ = p_;
        p_ += names_length_;
        if (names_length_ && names_[names_length_ - 1] != 0) fail();
        if (symbol_count_) ids_ = static_cast<uint32_t*>(heap::allocate_zeroed(std::size_t(symbol_count_) * 8));
    }
    need(payload);
    end_ = p_ + payload;
    for (;;) {
        // Padding words stand before floats; they are no records.
        while (!compact_ && left() >= 4 && p_[0] == 0 && p_[1] == 0 && p_[2] == 0 && p_[3] == 0) p_ += 4;
        if (p_ >= end_) break;
        Dest d = append(target_);
        // A binding record leaves nothing behind.
        if (!value(d, true, 0)) memory::buffer(target_)->tail = memory::buffer(target_)->head + d.index * sizeof(Cell);
    }
}

uint32_t Reader::intern(uint32_t i) {
    const uint8_t* o = offsets_ + uint64_t(i) * 4;
    uint32_t offset = uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
    if (offset >= names_length_) fail();
    // The names area ends with a NUL, so the search ends inside it.
    const uint8_t* s = names_ + offset;
    auto e = static_cast<const uint8_t*>(std::memchr(s, 0, names_length_ - offset));
    if (e == s) fail();
    for (const uint8_t* q = s; q < e;) {
        if (*q < 0x80) {
            ++q;
            continue;
        }
        int32_t cp;
        q = unicode::decode_utf8_char(q, e, cp);
        if (cp < 0) fail();
    }
    ids_[i] = symbol::search(s, static_cast<uint32_t>(e - s));
    return ids_[i];
}

// ---- reference paths ----------------------------------------------------------------------------

// Follows a path of positions from the cells this load appended to the target, and gives the
// cell it names. A function (or a word of a function's context) takes one position to choose
// its spec (0) or its body (1). The fixed encoding writes a path as a record of its own, whose
// header a reference standing alone has had read already.
Cell Reader::resolve(bool header_read) {
    uint32_t n;
    if (compact_) {
        n = varint();
    } else {
        if (!header_read && u32() != fx_reference) fail();
        n = u32();
    }
    if (n < 1 || n > max_path || n > left() / (compact_ ? 1 : 4)) fail();
    Node node = target_;
    uint32_t first = base_;
    uint32_t count = cells::count(target_) - base_;
    Cell cur{};
    for (uint32_t k = 0;; ++k) {
        uint32_t pos = field();
        if (pos >= count) fail();
        cur = cells::of(node)[first + pos];
        if (k + 1 == n) return cur;
        uint32_t t = cell::type(cur);
        if (in(t, ANY_BLOCK) || t == T_map) {
            node = cell::word<2>(cur);
            first = 0;
            count = cells::count(node);
            continue;
        }
        Cell holder = cur;
        if (word_type(t)) {
            Node ctx = word::context_of(cur);
            if (!ctx || ctx == context::global() || !context::is_context(ctx)) fail();
            holder = *context::self_cell(ctx);
            uint32_t owner = cell::type(holder);
            if (context::on_stack(*context::record(ctx))) {
                if (owner != T_function) fail();
            } else {
                if (owner != T_object && owner != T_error) fail();
                holder = Cell{owner, ctx, 0, 0};
            }
        }
        uint32_t ht = callable_type(holder);
        if (ht == T_native || ht == T_action) {
            node = function::spec_of(holder);
            first = 0;
            count = cells::count(node);
        } else if (ht == T_function) {
            ++k;
            uint32_t which = field();
            Cell part;
            if (which == 0 && function::spec_of(holder)) part = block::cell_of(function::spec_of(holder));
            else if (which == 1) part = function::more(holder)[0];
            else fail();
            if (!in(cell::type(part), ANY_BLOCK)) fail();
            if (k + 1 == n) return part;
            node = cell::word<2>(part);
            first = 0;
            count = cells::count(node);
        } else if (ht == T_object || ht == T_error) {
            Node ctx = object::context_of(holder);
            node = context::values_of(*context::record(ctx));
            uint32_t values = std::min(context::word_count(ctx), cells::count(node));
            first = ht == T_error ? 3 : 0;
            if (values < first) fail();
            count = values - first;
        } else {
            fail();
        }
    }
}

// The value a shared record of the type makes from the cell its path named: only a cell of
// the same family will do.
Cell Reader::adopt(uint32_t type, const Cell& found, uint32_t index) {
    uint32_t ft = cell::type(found);
    uint32_t ct = callable_type(found);
    if (in(type, ANY_BLOCK)) {
        if (!(in(ft, ANY_BLOCK) || ct == T_native || ct == T_action)) fail();
        return Cell{type, index, cell::word<2>(found), type == T_hash && ft == T_hash ? cell::word<3>(found) : 0};
    }
    if (in(type, ANY_STRING)) {
        if (!in(ft, ANY_STRING)) fail();
        return Cell{type, index, cell::word<2>(found), 0};
    }
    if (type == T_bitset) {
        if (ft != type) fail();
        return Cell{T_bitset, 0, cell::word<2>(found), 0};
    }
    if (type == T_vector) {
        if (ft != type) fail();
        return Cell{T_vector, index, cell::word<2>(found), cell::word<3>(found)};
    }
    if (type == T_image) {
        if (ft != type) fail();
        return Cell{T_image, index, cell::word<2>(found), cell::word<3>(found)};
    }
    if (type == T_binary || type == T_map || type == T_object || type == T_error) {
        if (ft != type) fail();
        return Cell{type, type == T_binary ? index : cell::word<1>(found), cell::word<2>(found), cell::word<3>(found)};
    }
    if (type == T_function) {
        if (ct != T_function || !cell::word<2>(found)) fail();
        return Cell{T_function, cell::word<1>(found), cell::word<2>(found), cell::word<3>(found)};
    }
    fail();
}

// The context of a value that holds one: a word bound to a context of this load, an object,
// an error, a function or an op made from one.
Node Reader::context_of_holder(const Cell& holder) {
    uint32_t t = callable_type(holder);
    Node ctx = 0;
    if (word_type(cell::type(holder)) || t == T_object || t == T_error || t == T_function) ctx = cell::word<1>(holder);
    if (!ctx || ctx == context::global() || !context::is_context(ctx)) fail();
    return ctx;
}

void Reader::check_index(Node ctx, int32_t index) {
    if (index < -1 || (index >= 0 && static_cast<uint32_t>(index) >= context::word_count(ctx))) fail();
}

// ---- records ----------------------------------------------------------------------------------------

// Reads one record into d. Gives false for a binding record (allowed at the top level of the
// boot load only), which sets a word and leaves d as it was. With `expect`, the record must
// be of that datatype.
bool Reader::value(const Dest& d, bool top, uint32_t expect) {
    struct Depth {
        uint32_t& n;
        ~Depth() { --n; }
    } depth{++depth_};
    if (depth_ > max_depth) fail();
    Head h = head();
    if (expect && h.id != expect) fail();
    if (h.shared && !shareable(h.id)) fail();
    if (h.bind && !(boot_ && top && word_type(h.id))) fail();
    switch (h.id) {
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement:
        return word(h, d);
    case T_native: case T_action:
        native(h, d);
        break;
    case T_op:
        op(h, d);
        break;
    case T_context:
        lone_context(h, d);
        break;
    case fx_reference: {
        Cell c = resolve(true);
        c.header = (c.header & ~cell::new_line) | (h.new_line ? cell::new_line : 0);
        put(d, c);
        break;
    }
    case T_routine: case T_triple: case T_handle: case T_port: case T_event:
        error::fire(err::access_no_codec, datatype::make(h.id));
    default:
        if (keyed_type(h.id)) keyed(h, d);
        else scalar(h, d);
    }
    return true;
}

Head Reader::head() {
    Head h;
    if (!compact_) {
        uint32_t bits;
        do bits = u32();
        while (bits == 0);  // padding
        h.bits = bits;
        h.id = bits & 0xFF;
        h.new_line = (bits & fx_new_line) != 0;
        // An op! keeps its wrapped datatype in bits 16-23, over the shared bit.
        h.shared = (bits & fx_shared) != 0 && h.id != fx_reference && h.id != T_op;
        h.bind = boot_ && word_type(h.id) && (bits & fx_global);
        return h;
    }
    uint8_t b;
    for (;;) {
        b = byte();
        if (b == cp_new_line) h.new_line = true;
        else if (b == cp_shared) h.shared = true;
        else if (b == cp_bind) h.bind = true;
        else break;
    }
    if (b >= 0x80) {
        if (h.shared || h.bind) fail();
        if (b < cp_new_line) {
            h.id = T_integer;
            h.bits = b;
        } else if (b == cp_true || b == cp_false) {
            h.id = T_logic;
            h.bits = b;
        } else if (b == cp_reference) {
            h.id = fx_reference;
        } else {
            fail();
        }
        return h;
    }
    h.flag = (b & cp_flag) != 0;
    h.id = b & cp_long_id;
    if (h.id == cp_long_id) h.id = varint();
    if (h.id == 0 || h.id == fx_reference) fail();
    return h;
}

// The values held in the cell itself.
void Reader::scalar(const Head& h, const Dest& d) {
    uint32_t nl = h.new_line ? cell::new_line : 0;
    Cell c{h.id | nl, 0, 0, 0};
    switch (h.id) {
    case T_unset: case T_none:
        break;
    case T_datatype:
        cell::set_word<1>(c, field());
        if (cell::word<1>(c) < 1 || cell::word<1>(c) > T_LAST) fail();
        break;
    case T_logic:
        if (compact_) {
            if (h.bits != cp_true && h.bits != cp_false) fail();  // never a typed record
            cell::set_word<1>(c, h.bits == cp_true);
        } else {
            cell::set_word<1>(c, u32());
            if (cell::word<1>(c) > 1) fail();
        }
        break;
    case T_char_:
        cell::set_word<2>(c, field());
        if (cell::word<2>(c) > 0x10FFFF) fail();
        break;
    case T_integer:
        cell::set_word<2>(c, compact_ && h.bits >= cp_small_int ? h.bits - cp_small_int : static_cast<uint32_t>(signed_field()));
        break;
    case T_float_: case T_percent: case T_time:
        if (compact_ && h.flag) {
            int32_t n = zigzag();
            cell::set_double(c, h.id == T_percent ? n / 100.0 : double(n));
        } else if (compact_) {
            cell::set_word<2>(c, u32());
            cell::set_word<3>(c, u32());
        } else {
            cell::set_word<3>(c, u32());
            cell::set_word<2>(c, u32());
        }
        break;
    case T_pair:
        cell::set_word<2>(c, static_cast<uint32_t>(signed_field()));
        cell::set_word<3>(c, static_cast<uint32_t>(signed_field()));
        break;
    case T_point2d:
        cell::set_word<1>(c, u32());
        cell::set_word<2>(c, u32());
        break;
    case T_point3d:
        cell::set_word<1>(c, u32());
        cell::set_word<2>(c, u32());
        cell::set_word<3>(c, u32());
        break;
    case T_typeset:
        if (compact_) {
            uint8_t bytes[12] = {};
            uint32_t n = byte();
            if (n > 12) fail();
            need(n);
            std::memcpy(bytes, p_, n);
            p_ += n;
            std::memcpy(cell::payload(c), bytes, 12);
        } else {
            cell::set_word<1>(c, u32());
            cell::set_word<2>(c, u32());
            cell::set_word<3>(c, u32());
        }
        break;
    case T_tuple: {
        uint8_t bytes[12] = {};
        uint32_t length;
        if (compact_) {
            length = h.flag ? byte() : 3;
            if (length < tuple::min_length || length > tuple::max_length) fail();
            need(length);
            std::memcpy(bytes, p_, length);
            p_ += length;
        } else {
            length = (h.bits >> 8) & 0xFF;
            if (length < tuple::min_length || length > tuple::max_length) fail();
            uint32_t w[3] = {u32(), u32(), u32()};
            std::memcpy(bytes, w, 12);
            std::memset(bytes + length, 0, 12 - length);  // nothing past the length
        }
        uint32_t w[3];
        std::memcpy(w, bytes, 12);
        c = tuple::make(length, w[0], w[1], w[2]);
        c.header |= nl;
        break;
    }
    case T_money: {
        bool negative = compact_ ? h.flag : (h.bits & fx_negative) != 0;
        c.header |= negative ? money::sign_bit : 0;
        cell::set_word<1>(c, u32());
        cell::set_word<2>(c, u32());
        cell::set_word<3>(c, u32());
        if (money::currency(c) > money::currency_count()) fail();
        for (uint32_t k = 1; k <= money::digit_count; ++k)
            if (money::get_digit(c, k) > 9) fail();
        break;
    }
    case T_date: {
        cell::set_word<1>(c, u32());
        bool timed = date::has_time_q(cell::word<1>(c));
        if (compact_) {
            if (timed != h.flag) fail();
            if (timed) {
                cell::set_word<2>(c, u32());
                cell::set_word<3>(c, u32());
            }
        } else {
            cell::set_word<3>(c, u32());
            cell::set_word<2>(c, u32());
        }
        uint32_t month = date::month_of(cell::word<1>(c));
        uint32_t day = date::day_of(cell::word<1>(c));
        if (month < 1 || month > 12 || day < 1 || day > date::month_length(date::year_of(cell::word<1>(c)), month)) fail();
        double t = date::time_of(c);
        // A date without a time has neither a zone nor a time; a time of day stays within a
        // day of its zone's offset.
        if (!timed && (date::zone_bits_of(cell::word<1>(c)) || cell::word<2>(c) || cell::word<3>(c))) fail();
        if (!(t > -86400.0 && t < 2 * 86400.0)) fail();
        break;
    }
    case T_issue:
        c = issue::make(symbol());
        c.header |= nl;
        break;
    default:
        fail();
    }
    put(d, c);
}

// ---- words ------------------------------------------------------------------------------------------

bool Reader::word(const Head& h, const Dest& d) {
    uint32_t t = h.id;
    uint32_t sym = symbol();
    uint32_t entry = last_entry_;
    Cell w{t, 0, sym, 0xFFFFFFFFu};
    bool global = false;
    if (boot_) {
        // Boot records name the context's holder by its index among the cells this load added.
        uint32_t root = 0xFFFFFFFFu;  // the global context
        int32_t index = -1;
        if (compact_) {
            if (h.flag) {
                root = varint();
                index = zigzag();
                if (root == 0xFFFFFFFFu) fail();
            }
        } else {
            root = u32();
            index = static_cast<int32_t>(u32());
        }
        if (h.shared) fail();
        if (root == 0xFFFFFFFFu) {
            global = true;
        } else {
            if (root >= cells::count(target_) - base_) fail();
            Node ctx = context_of_holder(cells::of(target_)[base_ + root]);
            if (index == -1) index = context::find_word(ctx, sym, true);
            if (index < 0) fail();
            check_index(ctx, index);
            word::bind_to(w, ctx, index);
        }
    } else {
        bool bound = compact_ ? h.flag : !(h.bits & fx_global);
        int32_t index = compact_ && !h.flag ? -1 : signed_field();
        if (!bound) {
            if (h.shared) fail();
            global = true;
        } else if (h.shared) {
            Node ctx = context_of_holder(resolve());
            check_index(ctx, index);
            word::bind_to(w, ctx, index);
        } else {
            word::set_index(w, index);
            w.header = t | (h.new_line ? cell::new_line : 0);
            Binding binding{w, true};
            owner(d, binding);
            return true;
        }
    }
    if (global) {
        // Refinements are not bound in this runtime; the other word types bind globally.
        if (t != T_refinement) w = global_word(sym, entry, t);
    }
    if (h.bind) {
        // The value that follows goes into the word; neither cell stays.
        value(d, false, 0);
        Cell v = *at(d);
        collector::Root keep(v);
        Node ctx = cell::word<1>(w);
        context::set_in(w, v, ctx, false);
        return false;
    }
    w.header |= h.new_line ? cell::new_line : 0;
    put(d, w);
    return true;
}

// The object!, error! or function! record after the first word bound to its context.
void Reader::owner(const Dest& d, Binding& binding) {
    Head h;
    if (compact_) {
        uint8_t b = byte();
        if (b >= 0x80) fail();
        h.id = b & cp_long_id;
        h.flag = (b & cp_flag) != 0;
    } else {
        h.bits = u32();
        h.id = h.bits & 0xFF;
        if (h.bits & (fx_shared | fx_new_line)) fail();
    }
    struct Depth {
        uint32_t& n;
        ~Depth() { --n; }
    } depth{++depth_};
    if (depth_ > max_depth) fail();
    if (h.id == T_object) object(h, d, &binding);
    else if (h.id == T_function) function_record(h, d, &binding);
    else if (h.id == T_error) error_record(h, d, &binding);
    else fail();
}

// Stores the new value (or, after a word, the word bound to its context) into d.
void Reader::publish(const Dest& d, Binding* binding, const Cell& value, Node ctx) {
    if (binding) {
        check_index(ctx, static_cast<int32_t>(cell::word<3>(binding->word)));
        Cell w = binding->word;
        word::set_context(w, ctx);
        put(d, w);
    } else {
        put(d, value);
    }
}

// ---- natives, actions, ops --------------------------------------------------------------------------

// The spec block is read into the native's own place, then the native replaces it. A native
// trusts its spec's argument types, so data from outside must carry the very spec of the
// native it names (the one its word holds now).
void Reader::native(const Head& h, const Dest& d) {
    uint32_t index = field();
    uint32_t limit = h.id == T_native ? natives::count : actions::slot_count;
    if (index < 1 || index > limit) fail();
    value(d, false, T_block);
    Cell spec = *at(d);
    if (!boot_) {
        const char* name = h.id == T_native ? natives::words[index] : actions::words[index - 1];
        uint32_t sym = name ? symbol::find(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name))) : 0;
        const Cell* live = sym ? context::get_any(sym, context::global()) : nullptr;
        if (!live || !cell::is(*live, h.id) || cell::word<1>(*live) != index) fail();
        if (!same_spec(cell::word<2>(spec), cell::word<2>(*live), 0)) fail();
    }
    stack::Mark mark;
    Cell c = *native::make(spec, index, h.id);
    c.header |= h.new_line ? cell::new_line : 0;
    put(d, c);
}

void Reader::op(const Head& h, const Dest& d) {
    value(d, false, 0);
    Cell c = *at(d);
    uint32_t wrapped = cell::type(c);
    if (wrapped != T_native && wrapped != T_action && wrapped != T_function) fail();
    if (!compact_ && ((h.bits >> 16) & 0xFF) != wrapped) fail();
    if (!op::spec_suits_q(block::cell_of(function::spec_of(c)))) fail();
    if (wrapped == T_function) cells::of(cell::word<3>(c))[3] = c;
    c.header = function::op_header(wrapped) | (h.new_line ? cell::new_line : 0);
    put(d, c);
}

// ---- series, objects, errors, functions ----------------------------------------------------------

void Reader::keyed(const Head& h, const Dest& d) {
    uint32_t t = h.id;
    bool positional = in(t, ANY_BLOCK | ANY_STRING) || t == T_binary || t == T_vector || t == T_image;
    uint32_t index = positional ? head_index(h) : 0;
    if (h.shared) {
        Cell c = adopt(t, resolve(), index);
        c.header |= h.new_line ? cell::new_line : 0;
        put(d, c);
        return;
    }
    if (in(t, ANY_BLOCK) || t == T_map) block(h, d, index);
    else if (t == T_vector) elements(h, d, index);
    else if (t == T_image) pixels(h, d, index);
    else if (positional) text(h, d, index);
    else if (t == T_bitset) bits(h, d);
    else if (t == T_object) object(h, d, nullptr);
    else if (t == T_error) error_record(h, d, nullptr);
    else function_record(h, d, nullptr);
}

void Reader::block(const Head& h, const Dest& d, uint32_t index) {
    uint32_t n = count_field();
    if (h.id == T_map && (n & 1)) fail();
    Node node = memory::alloc_cells(n ? n : 1);
    if (boot_ && h.id == T_block) memory::buffer(node)->flags |= memory::boot_literal;
    put(d, Cell{h.id | (h.new_line ? cell::new_line : 0), index, node, 0});
    if (h.id == T_hash) {
        Node table = hashtable::make(n, node, hashtable::hash_index, 0);
        cell::set_word<3>(*at(d), table);
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (boot_ && compact_ && global_word(node)) continue;
        value(append_room(node), false, 0);
    }
    if (h.id == T_hash) block::index_rebuild(*at(d));
}

// The boot image's most common record, a word bound to the global context, read the short
// way and appended to the block: a lead byte that is the datatype id of word!, set-word!,
// get-word! or lit-word! (no flag: no binding record follows), after one new-line prefix or
// none. Gives false, having read nothing, for any other record; `word` reads the same records
// to the same cells. The block has room for the word (it was made for its record's count).
bool Reader::global_word(Node block) {
    const uint8_t* q = p_;
    bool new_line = q < end_ && *q == cp_new_line;
    if (new_line) ++q;
    if (q >= end_) return false;
    uint32_t t = *q;
    if (t != T_word && t != T_set_word && t != T_get_word && t != T_lit_word) return false;
    p_ = q + 1;
    uint32_t sym = symbol();
    Cell w = global_word(sym, last_entry_, t);
    w.header |= new_line ? cell::new_line : 0;
    *append_in_room(block) = w;
    return true;
}

void Reader::text(const Head& h, const Dest& d, uint32_t index) {
    uint32_t unit, length;
    if (h.id == T_binary) {
        unit = 1;
        length = field();
    } else if (compact_) {
        uint32_t v = varint();
        if ((v & 3) == 3) fail();
        unit = 1u << (v & 3);
        length = v >> 2;
    } else {
        unit = (h.bits >> 8) & 0xFF;
        if (unit != 1 && unit != 2 && unit != 4) fail();
        length = u32();
    }
    uint64_t bytes = uint64_t(length) * unit;
    need(bytes);
    if (unit == 4) {
        for (uint64_t i = 0; i < bytes; i += 4) {
            uint32_t cp;
            std::memcpy(&cp, p_ + i, 4);
            if (cp > 0x10FFFF) fail();
        }
    }
    Node node = memory::alloc_series(length ? length : 1, unit, 0);
    memory::Buffer* b = memory::buffer(node);
    if (bytes) std::memcpy(b->head_ptr(), p_, bytes);
    b->tail = b->head + static_cast<uint32_t>(bytes);
    p_ += bytes;
    if (!compact_) skip_padding();
    put(d, Cell{h.id | (h.new_line ? cell::new_line : 0), index, node, 0});
}

// A vector: its element type and width, its element count and the elements as they lie.
void Reader::elements(const Head& h, const Dest& d, uint32_t index) {
    uint32_t type, unit, length;
    if (compact_) {
        uint8_t b = byte();
        type = b >> 2;
        unit = 1u << (b & 3);
        length = varint();
    } else {
        unit = (h.bits >> 8) & 0xFF;
        length = u32();
        type = u32();
    }
    bool integral = type == T_integer || type == T_char_;
    bool floating = type == T_float_ || type == T_percent;
    if (!(integral && (unit == 1 || unit == 2 || unit == 4)) && !(floating && (unit == 4 || unit == 8))) fail();
    uint64_t bytes = uint64_t(length) * unit;
    need(bytes);
    Node node = memory::alloc_series(length ? length : 1, unit, 0);
    memory::Buffer* b = memory::buffer(node);
    if (bytes) std::memcpy(b->head_ptr(), p_, bytes);
    b->tail = b->head + static_cast<uint32_t>(bytes);
    p_ += bytes;
    if (!compact_) skip_padding();
    put(d, Cell{T_vector | (h.new_line ? cell::new_line : 0), index, node, type});
}

// An image: its size, checked before anything is allocated, then its pixels.
void Reader::pixels(const Head& h, const Dest& d, uint32_t index) {
    uint32_t w, ht;
    if (compact_) {
        w = varint();
        ht = varint();
    } else {
        uint32_t size = u32();
        w = size & 0xFFFF;
        ht = size >> 16;
    }
    if (w > image::max_side || ht > image::max_side) fail();
    uint64_t bytes = uint64_t(w) * ht * 4;
    need(bytes);
    Cell c;
    image::make_at(c, w, ht, 0);
    if (bytes) std::memcpy(image::pixels(c), p_, bytes);
    p_ += bytes;
    series::set_index(c, index);
    c.header |= h.new_line ? cell::new_line : 0;
    put(d, c);
}

// A bitset: its bytes, and the complement flag from the header. The length in bits must stay
// an integer!.
void Reader::bits(const Head& h, const Dest& d) {
    bool complemented = compact_ ? h.flag : (h.bits & fx_complement) != 0;
    uint32_t length = field();
    if (uint64_t(length) * 8 > uint64_t(bitset::max_index) + 1) fail();
    need(length);
    Cell c;
    bitset::make_at(c, length, complemented);
    if (length) std::memcpy(memory::buffer(cell::word<2>(c))->head_ptr(), p_, length);
    p_ += length;
    if (!compact_) skip_padding();
    c.header |= h.new_line ? cell::new_line : 0;
    put(d, c);
}

// A context's kind, flags and word count; the lead byte (compact) was read, or the fixed
// header is given.
ContextHead Reader::context_head(uint32_t bits) {
    ContextHead ch;
    if (compact_) {
        uint8_t f = byte();
        ch.kind = f & 3;
        ch.stack = (f & cp_ctx_stack) != 0;
        ch.self = (f & cp_ctx_self) != 0;
        ch.values = (f & cp_ctx_values) && !ch.stack;
    } else {
        ch.kind = (bits >> fx_ctx_kind_shift) & 3;
        ch.stack = (bits & fx_ctx_stack) != 0;
        ch.self = (bits & fx_ctx_self) != 0;
        ch.values = (bits & fx_ctx_values) && !ch.stack;
    }
    ch.count = count_field();
    return ch;
}

// A new context with the record's words, each once; unreachable until the caller stores it.
Node Reader::make_context(const ContextHead& ch) {
    Node ctx = context::create(ch.count, ch.stack, ch.self, 0, ch.kind);
    collector::RootNode keep(ctx);
    for (uint32_t i = 0; i < ch.count; ++i) {
        Cell w = word::cell_of(T_word, symbol());
        if (context::add_word(ctx, w) != static_cast<int32_t>(i)) fail();  // a word given twice
    }
    return ctx;
}

void Reader::object(const Head& h, const Dest& d, Binding* binding) {
    uint32_t class_id = static_cast<uint32_t>(signed_field());
    bool hooked = compact_ ? h.flag : (h.bits & fx_hooks) != 0;
    int32_t hooks[2] = {-1, -1};
    if (hooked) {
        hooks[0] = signed_field();
        hooks[1] = signed_field();
    }
    uint32_t bits = 0;
    if (compact_ ? byte() != T_context : ((bits = u32()) & 0xFF) != T_context) fail();
    ContextHead ch = context_head(bits);
    if (ch.kind != context::object_kind || ch.stack) fail();
    Node ctx = make_context(ch);
    collector::RootNode keep(ctx);
    Node record = 0;
    collector::RootNode keep_record(record);
    if (hooked) {
        for (int32_t hook : hooks) {
            int32_t field_index = hook >> 16;
            if (field_index < -1 || field_index >= static_cast<int32_t>(ch.count)) fail();
        }
        record = memory::alloc_cells(2);
        Cell* cells = cells::of(record);
        cells[0] = Cell{T_pair, 0, static_cast<uint32_t>(hooks[0]), 0};
        cells[1] = Cell{T_pair, 0, static_cast<uint32_t>(hooks[1]), 0};
        memory::buffer(record)->tail = memory::buffer(record)->head + 2 * sizeof(Cell);
    }
    // Data from outside gets a class of its own: its shape is not known to match any other.
    Cell obj{T_object, ctx, boot_ ? class_id : 0xFFFFFFFFu, record};
    *context::self_cell(ctx) = obj;
    obj.header |= h.new_line ? cell::new_line : 0;
    publish(d, binding, obj, ctx);
    if (!ch.values) return;
    for (uint32_t i = 0; i < ch.count; ++i) value(Dest{{context::values_of(*context::record(ctx)), i}}, false, 0);
}

// A context record on its own: an object of a new class owns it.
void Reader::lone_context(const Head& h, const Dest& d) {
    if (h.shared || h.flag) fail();
    ContextHead ch = context_head(h.bits);
    if (ch.kind != context::object_kind || ch.stack) fail();
    Node ctx = make_context(ch);
    collector::RootNode keep(ctx);
    Cell obj{T_object, ctx, 0xFFFFFFFFu, 0};
    *context::self_cell(ctx) = obj;
    obj.header |= h.new_line ? cell::new_line : 0;
    put(d, obj);
    if (!ch.values) return;
    for (uint32_t i = 0; i < ch.count; ++i) value(Dest{{context::values_of(*context::record(ctx)), i}}, false, 0);
}

// A new error of the catalogue entry, then its fields arg1 to stack.
void Reader::error_record(const Head& h, const Dest& d, Binding* binding) {
    err::Id id;
    if (!error_id(field(), id)) fail();
    Cell e = error::create(id, nullptr, 0);
    collector::Root keep(e);
    Node ctx = object::context_of(e);
    if (context::word_count(ctx) <= error::f_stack || cells::count(context::values_of(*context::record(ctx))) <= error::f_stack) fail();
    Cell value_cell = e;
    value_cell.header |= h.new_line ? cell::new_line : 0;
    publish(d, binding, value_cell, ctx);
    for (uint32_t f = error::f_arg1; f <= error::f_stack; ++f) value(Dest{{context::values_of(*context::record(ctx)), f}}, false, 0);
}

void Reader::function_record(const Head& h, const Dest& d, Binding* binding) {
    field();  // the spec's cell count and the body's length: hints only
    field();
    uint32_t bits = 0;
    if (compact_ ? byte() != T_context : ((bits = u32()) & 0xFF) != T_context) fail();
    ContextHead ch = context_head(bits);
    if (ch.kind != context::function_kind || !ch.stack) fail();
    Node ctx = make_context(ch);
    collector::RootNode keep(ctx);
    Node more = memory::alloc_cells_unset(5);
    memory::buffer(more)->tail = memory::buffer(more)->head + 5 * sizeof(Cell);
    cells::of(more)[0] = none::value;
    // The spec's node is filled in as soon as the spec record makes or finds it.
    Cell fn{T_function, ctx, 0, more};
    *context::self_cell(ctx) = fn;
    fn.header |= h.new_line ? cell::new_line : 0;
    publish(d, binding, fn, ctx);
    value(Dest{{binding ? 0 : d.node, d.index}, ctx}, false, T_block);
    value(Dest{{more, 0}}, false, T_block);
    check_function(ctx);
}

// A call lays out one frame value per spec word: the context must hold exactly the spec's
// words (each once, in order), or its words would name values the frame does not have.
void Reader::check_function(Node ctx) {
    Node spec = function::spec_of(*context::self_cell(ctx));
    uint32_t next = 0;
    for (uint32_t i = 0; i < cells::count(spec); ++i) {
        const Cell& c = cells::of(spec)[i];
        uint32_t t = cell::type(c);
        if (t != T_word && t != T_get_word && t != T_lit_word && t != T_refinement) continue;
        int32_t found = context::find_word(ctx, word::symbol_of(c), true);
        if (found < 0 || static_cast<uint32_t>(found) > next) fail();
        if (static_cast<uint32_t>(found) == next) ++next;
    }
    if (next != context::word_count(ctx)) fail();
}

// Two spec blocks alike cell for cell: words by symbol, text by characters, blocks in depth,
// anything else by its payload.
bool same_spec(Node a, Node b, uint32_t depth) {
    if (a == b) return true;
    uint32_t n = cells::count(a);
    if (n != cells::count(b) || depth > max_depth) return false;
    for (uint32_t i = 0; i < n; ++i) {
        Cell x = cells::of(a)[i], y = cells::of(b)[i];
        uint32_t t = cell::type(x);
        if (t != cell::type(y)) return false;
        if (in(t, ANY_BLOCK)) {
            if (cell::word<1>(x) != cell::word<1>(y) || !same_spec(cell::word<2>(x), cell::word<2>(y), depth + 1)) return false;
        } else if (in(t, ANY_STRING)) {
            memory::Buffer* bx = memory::buffer(cell::word<2>(x));
            memory::Buffer* by = memory::buffer(cell::word<2>(y));
            uint32_t ux = bx->unit(), uy = by->unit();
            uint32_t length = bx->used() / ux;
            if (cell::word<1>(x) != cell::word<1>(y) || length != by->used() / uy) return false;
            for (uint32_t k = 0; k < length; ++k)
                if (unicode::char_at(bx->head_ptr() + k * ux, ux) != unicode::char_at(by->head_ptr() + k * uy, uy))
                    return false;
        } else if (word_type(t) || t == T_issue) {
            if (cell::word<2>(x) != cell::word<2>(y)) return false;
        } else if (cell::word<1>(x) != cell::word<1>(y) || cell::word<2>(x) != cell::word<2>(y) || cell::word<3>(x) != cell::word<3>(y)) {
            return false;
        }
    }
    return true;
}

[[noreturn]] void invalid(const Cell& data) { error::fire(err::script_invalid_data, data); }

void load_blob(const uint8_t* blob, uint64_t length, Node target, Mode mode, const Cell& data) {
    if (length < header_size || std::memcmp(blob, magic, sizeof magic) != 0) invalid(data);
    uint8_t flags = blob[7];
    const uint8_t* start = blob + header_size;
    const uint8_t* end = blob + length;
    HeapBlock unpacked;
    if (flags & flag_compressed) {
        uint64_t size = 0;
        unpacked.p = lz::decompress(start, length - header_size, &size);
        if (!unpacked.p) invalid(data);
        start = static_cast<const uint8_t*>(unpacked.p);
        end = start + size;
    }
    bool compact = (flags & flag_compact) != 0;
    if (!compact && end - start < 8) invalid(data);
    Reader reader(start, end, compact, mode, target);
    reader.run((flags & flag_symbols) != 0);
}

}  // namespace

void load(const uint8_t* blob, uint64_t length, Node target, Mode mode) {
    load_blob(blob, length, target, mode, none::value);
}

Cell* decode(const Cell& data_in) {
    Cell data = data_in;
    collector::Root keep(data);
    if (!cell::is(data, T_binary)) invalid(data);
    uint32_t length = binary::length(data);
    if (length <= 10) invalid(data);
    HeapBlock copy;
    copy.p = heap::allocate(length);
    std::memcpy(copy.p, binary::head_pointer(data), length);
    Cell* result = stack::reserve();
    block::make_at(*result, 1);
    Node node = series::node_of(*result);
    load_blob(static_cast<const uint8_t*>(copy.p), length, node, Mode::codec, data);
    if (cells::count(node) == 1) *result = cells::at(node, 0);
    return result;
}

void load_boot(const uint8_t* blob, std::size_t size, Cell& out) {
    struct Switch {
        bool was = collector::enabled();
        ~Switch() { collector::enable(was); }
    } hold;
    collector::enable(false);
    Cell target{T_none, 0, 0, 0};
    block::make_at(target, 16);
    load_blob(blob, size, series::node_of(target), Mode::boot, none::value);
    out = target;
}

}  // namespace kov::kovbin
