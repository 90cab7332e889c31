// Unicode text and string units: widening, UTF-8 and UTF-16 decoding and encoding, the
// loaders, the conversion cache, case mapping and display width. See unicode.h for the unit
// model and for which routines may move memory.
//
// Every routine that allocates holds nodes and indexes across the allocation and fetches
// buffers again afterwards; the raw pointers it keeps never outlive a call that allocates.
#include "runtime/unicode.h"

#include "runtime/collector.h"

#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"

#include <cstring>

#include "runtime/error.h"
#include "runtime/heap.h"
#include "runtime/runtime.h"

namespace kov::unicode {

using memory::Buffer;
using memory::Node;

// ---- unit widths ------------------------------------------------------------------------------

uint32_t unit_shift(uint32_t unit) {
    switch (unit) {
    case 1: return 0;
    case 2: return 1;
    case 4: return 2;
    default: runtime::no_switch_matched();
    }
}

uint32_t char_at(const uint8_t* p, uint32_t unit) {
    switch (unit) {
    case 1: return p[0];
    case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    case 4: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    default: runtime::no_switch_matched();
    }
}

void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
    case 4:
        p[3] = uint8_t(cp >> 24);
        p[2] = uint8_t(cp >> 16);
        [[fallthrough]];
    case 2:
        p[1] = uint8_t(cp >> 8);
        [[fallthrough]];
    case 1:
        p[0] = uint8_t(cp);
        return;
    default: runtime::no_switch_matched();
    }
}

namespace {

// The widened content plus room for one more character must fit after the head; converting
// from the last character down lets source and target overlap.
Buffer* widen(Node node, uint32_t from, uint32_t to) {
    Buffer* b = memory::buffer(node);
    uint64_t chars = b->used() >> unit_shift(from);
    uint64_t need = chars * to + to;
    if (b->head + need > b->size) b = memory::expand_series(node, need);
    uint8_t* h = b->head_ptr();
    for (uint64_t i = chars; i-- > 0;) put_char(h + i * to, to, char_at(h + i * from, from));
    b->tail = static_cast<uint32_t>(b->head + chars * to);
    b->flags = (b->flags & ~memory::unit_mask) | to;
    return b;
}

// The characters of a string cell from its head index (clipped to the tail).
struct Text {
    Node node;
    uint32_t unit;
    uint32_t shift;
    uint64_t index;
    uint64_t count;
    const uint8_t* start() const { return memory::buffer(node)->head_ptr() + (index << shift); }
};

Text text_of(const Cell& str) {
    Text t;
    t.node = series::node_of(str);
    Buffer* b = memory::buffer(t.node);
    t.unit = b->unit();
    t.shift = unit_shift(t.unit);
    uint64_t total = b->used() >> t.shift;
    t.index = series::position_of(str) < total ? series::position_of(str) : total;
    t.count = total - t.index;
    return t;
}

[[noreturn]] void invalid_char(uint32_t cp) {
    error::fire(err::script_invalid_char, cell::make(T_integer, 0, cp, 0));
}

// A binary! of the bytes, made directly: a unit-1 series holding them, head index 0.
[[noreturn]] void invalid_utf8(const uint8_t* bytes, uint32_t n) {
    uint8_t copy[4];
    std::memcpy(copy, bytes, n);  // before the allocation, which may move the source
    Node node = memory::alloc_bytes(n);
    Buffer* b = memory::buffer(node);
    std::memcpy(b->data(), copy, n);
    b->head = 0;
    b->tail = n;
    error::fire(err::access_invalid_utf8, cell::make(T_binary, 0, node, 0));
}

void put16(uint8_t*& o, uint32_t unit16) {
    o[0] = uint8_t(unit16);
    o[1] = uint8_t(unit16 >> 8);
    o += 2;
}

}  // namespace

Buffer* widen_1_to_2(Node node) { return widen(node, 1, 2); }
Buffer* widen_1_to_4(Node node) { return widen(node, 1, 4); }
Buffer* widen_2_to_4(Node node) { return widen(node, 2, 4); }

// ---- scanning UTF-8 ---------------------------------------------------------------------------

// Björn Hoehrmann's DFA decoder table in its first published form.
const uint8_t utf8_dfa[364] = {
    // character classes of the bytes 0x00-0xFF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions: state (a multiple of 12) + class
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
};

// The state is tested before the next byte is read, so the byte after a complete sequence
// is never touched and the end bound is enough.
const uint8_t* decode_utf8_char(const uint8_t* pos, const uint8_t* end, int32_t& cp) {
    if (pos >= end) {
        cp = -1;
        return pos;
    }
    uint32_t b = *pos++;
    uint32_t type = utf8_dfa[b];
    uint32_t code = (0xFFu >> type) & b;
    uint32_t state = utf8_dfa[256 + type];
    for (;;) {
        if (state == 0) {
            cp = static_cast<int32_t>(code);
            return pos;
        }
        if (state == 12 || pos >= end) {
            cp = -1;
            return pos;
        }
        uint32_t c = *pos++;
        code = (c & 0x3F) | (code << 6);
        state = utf8_dfa[256 + state + utf8_dfa[c]];
    }
}

int64_t utf8_count(const uint8_t* start, const uint8_t* end) {
    int64_t n = 0;
    int32_t cp;
    while (start < end) {
        start = decode_utf8_char(start, end, cp);
        ++n;
    }
    return n;
}

const uint8_t* utf8_skip(const uint8_t* start, const uint8_t* end, int64_t n) {
    int32_t cp;
    while (n-- > 0 && start < end) start = decode_utf8_char(start, end, cp);
    return start;
}

int32_t utf8_lead_length(uint8_t byte) {
    if ((byte & 0xF0) == 0xF0) return 4;
    if ((byte & 0xE0) == 0xE0) return 3;
    if ((byte & 0xC0) == 0xC0) return 2;
    return 0;
}

// ---- encoding ---------------------------------------------------------------------------------

int32_t utf8_length(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp < 0x110000) return 4;
    invalid_char(cp);
}

int64_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    int64_t n = 0;
    for (; start < end; start += unit) n += utf8_length(char_at(start, unit));
    return n;
}

int32_t encode_utf8(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | cp >> 6);
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | cp >> 12);
        out[1] = uint8_t(0x80 | (cp >> 6 & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp < 0x110000) {
        out[0] = uint8_t(0xF0 | cp >> 18);
        out[1] = uint8_t(0x80 | (cp >> 12 & 0x3F));
        out[2] = uint8_t(0x80 | (cp >> 6 & 0x3F));
        out[3] = uint8_t(0x80 | (cp & 0x3F));
        return 4;
    }
    invalid_char(cp);
}

int32_t encode_utf8_to(uint32_t cp, uint8_t* out, int64_t room) {
    if (room <= 0) return 0;
    uint8_t bytes[4];
    int32_t n = encode_utf8(cp, bytes);
    if (room < n) n = static_cast<int32_t>(room);
    std::memcpy(out, bytes, static_cast<std::size_t>(n));
    return n;
}

int64_t write_utf8(const Cell& str, uint8_t* out, int64_t limit, bool terminate) {
    Text t = text_of(str);
    uint64_t n = limit < 0 || uint64_t(limit) >= t.count ? t.count : uint64_t(limit);
    const uint8_t* p = t.start();
    uint8_t* o = out;
    for (uint64_t i = 0; i < n; ++i, p += t.unit) o += encode_utf8(char_at(p, t.unit), o);
    if (terminate) *o = 0;
    return o - out;
}

// The terminator is counted inside the room, so nothing is ever written past it.
int64_t write_utf8_bounded(const Cell& str, uint8_t* out, int64_t room, int64_t limit, bool terminate) {
    if (room <= 0) return 0;
    Text t = text_of(str);
    uint64_t n = limit >= 1 && uint64_t(limit) < t.count ? uint64_t(limit) : t.count;
    int64_t budget = terminate ? room - 1 : room;
    const uint8_t* p = t.start();
    int64_t written = 0;
    for (uint64_t i = 0; i < n && written < budget; ++i, p += t.unit)
        written += encode_utf8_to(char_at(p, t.unit), out + written, budget - written);
    if (terminate) out[written] = 0;
    return written;
}

int32_t encode_utf16le(uint32_t cp, uint8_t* out) {
    if (cp < 0x10000) {
        put16(out, cp);
        return 1;
    }
    if (cp < 0x110000) {
        put16(out, 0xD800 + ((cp - 0x10000) >> 10));
        put16(out, 0xDC00 + (cp & 0x3FF));
        return 2;
    }
    return 0;
}

int64_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    int64_t n = 0;
    for (; start < end; start += unit) {
        uint32_t cp = char_at(start, unit);
        if (cp == 10 || cp > 0xFFFF) n += 2;
    }
    return n;
}

// ---- conversions into the cell's cache -----------------------------------------------------

Node utf8_into_cache(Cell& str, int64_t& count, bool crlf) {
    Text t = text_of(str);
    uint64_t n = count < 0 || uint64_t(count) > t.count ? t.count : uint64_t(count);
    uint64_t per_char = t.unit == 1 ? 2 : t.unit == 2 ? 3 : 4;  // CR LF fits too
    uint8_t* out = string::cache_buffer(str, (n + 1) * per_char);
    const uint8_t* p = t.start();  // after the allocation
    uint8_t* o = out;
    for (uint64_t i = 0; i < n; ++i, p += t.unit) {
        uint32_t cp = char_at(p, t.unit);
        if (crlf && cp == 10) *o++ = 13;
        o += encode_utf8(cp, o);
    }
    *o = 0;
    count = o - out;
    Buffer* cache = memory::buffer(string::cache_of(str));
    cache->tail = static_cast<uint32_t>(count + 1);
    return string::cache_of(str);
}

const char* to_utf8_text(Cell& str, int64_t& count) {
    return reinterpret_cast<const char*>(memory::buffer(utf8_into_cache(str, count, false))->data());
}

const char* to_utf8_buffer(Cell& str, int64_t& count, bool crlf) {
    return reinterpret_cast<const char*>(memory::buffer(utf8_into_cache(str, count, crlf))->data());
}

const uint8_t* to_utf16_text(Cell& str, int64_t& count, bool crlf) {
    Text t = text_of(str);
    uint64_t n = count < 0 || uint64_t(count) >= t.count ? t.count : uint64_t(count);
    const uint8_t* p = t.start();
    uint64_t size = uint64_t(utf16_extra_size(p, p + (n << t.shift), t.unit)) + n * 2 + 2;
    uint8_t* out = string::cache_buffer(str, size);
    p = t.start();  // after the allocation
    uint8_t* o = out;
    if (t.unit == 2 && !crlf) {
        std::memcpy(o, p, n * 2);
        o += n * 2;
    } else {
        for (uint64_t i = 0; i < n; ++i, p += t.unit) {
            uint32_t cp = char_at(p, t.unit);
            if (cp > 0x10FFFF) return nullptr;
            if (crlf && cp == 10) put16(o, 13);
            o += 2 * encode_utf16le(cp, o);
        }
    }
    put16(o, 0);
    count = (o - out) / 2 - 1;
    memory::buffer(string::cache_of(str))->tail = static_cast<uint32_t>(o - out);
    return out;
}

const uint8_t* to_utf16_crlf(Cell& str) {
    int64_t count = -1;
    return to_utf16_text(str, count, true);
}

// ---- loading external text ----------------------------------------------------------------

int32_t decode_utf8_bounded(const uint8_t* pos, int64_t& budget) {
    if (budget <= 0) return -1;
    uint32_t b = pos[0];
    uint32_t need;
    uint32_t cp;
    if (b < 0x80) {
        budget = 1;
        return static_cast<int32_t>(b);
    }
    if (b < 0xC0 || b >= 0xF8) {
        need = 1;
        goto invalid;
    }
    need = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (budget < need) return -1;
    for (uint32_t i = 1; i < need; ++i)
        if ((pos[i] & 0xC0) != 0x80) goto invalid;
    if (need == 2) {
        cp = (b - 0xC0) << 6 | (pos[1] - 0x80);
    } else if (need == 3) {
        // Surrogates are accepted like the rest of the range: the encoder writes the lone
        // surrogates a text may hold, and what it writes must load back.
        cp = (b - 0xE0) << 12 | uint32_t(pos[1] - 0x80) << 6 | (pos[2] - 0x80);
    } else {
        cp = (b - 0xF0) << 18 | uint32_t(pos[1] - 0x80) << 12 | uint32_t(pos[2] - 0x80) << 6 | (pos[3] - 0x80);
        if (cp > 0x10FFFF) goto invalid;
    }
    budget = need;
    return static_cast<int32_t>(cp);
invalid:
    invalid_utf8(pos, budget < 4 ? static_cast<uint32_t>(budget) : 4);
}

Node load_utf8(ByteSource bytes, int64_t count, Node target, int64_t* remaining, bool crlf) {
    if (remaining) *remaining = 0;
    if (count < 0) count = 0;
    uint64_t capacity = count > 0 ? uint64_t(count) : 1;
    Node node = target;
    uint32_t unit = 1;
    if (node) {
        Buffer* b = memory::buffer(node);
        unit = b->unit();
        if ((b->size - b->head) >> unit_shift(unit) < capacity) {
            b->tail = b->head;  // the old content is overwritten: nothing to copy
            memory::expand_series(node, capacity * unit);
        }
    } else {
        node = memory::alloc_series(capacity, 1, 0);
    }
    // Widening and growing below allocate: the new series must survive them.
    collector::RootNode keep(node);
    if (count == 0) return node;

    Buffer* b = memory::buffer(node);
    b->tail = b->head;
    uint64_t pos = 0;
    const uint8_t* p = bytes.at(0);
    if (count > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) pos = 3;

    // The tail always covers the characters stored so far, so that widening and growing
    // (which copy the used part) keep them.
    while (pos < uint64_t(count)) {
        int64_t budget = count - int64_t(pos);
        int32_t decoded = decode_utf8_bounded(bytes.at(pos), budget);
        if (decoded < 0) {
            if (remaining) *remaining = count - int64_t(pos);
            return node;
        }
        pos += uint64_t(budget);
        uint32_t cp = uint32_t(decoded);
        if (crlf && cp == 13) {
            if (pos < uint64_t(count) && *bytes.at(pos) == 10) continue;
            cp = 10;
        }
        if (unit == 1 && cp > 0xFF) {
            b = cp > 0xFFFF ? widen(node, 1, 4) : widen(node, 1, 2);
            unit = b->unit();
        } else if (unit == 2 && cp > 0xFFFF) {
            b = widen(node, 2, 4);
            unit = 4;
        } else {
            b = memory::buffer(node);
        }
        if (b->tail + unit > b->size) {
            uint64_t grow = unit == 4 ? uint64_t(count) : uint64_t(count) / 4;
            if (grow < 16) grow = 16;
            b = memory::expand_series(node, uint64_t(b->size) + grow);
        }
        put_char(b->tail_ptr(), unit, cp);
        b->tail += unit;
    }
    return node;
}

void load_utf8_into(ByteSource bytes, int64_t count, Cell& str, int64_t* remaining) {
    load_utf8(bytes, count, series::node_of(str), remaining, false);
}

Node load_utf8_new(ByteSource bytes, int64_t count) {
    return load_utf8(bytes, count, 0, nullptr, false);
}

uint32_t utf16_unit_width(const uint8_t* bytes, int64_t units) {
    uint32_t width = 1;
    for (int64_t i = 0; i < units; ++i) {
        uint8_t high = bytes[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) width = 2;
    }
    return width;
}

uint32_t utf16_unit_width(ByteSource bytes, int64_t units) {
    return units > 0 ? utf16_unit_width(bytes.at(0), units) : 1;
}

Node load_utf16le(ByteSource bytes, int64_t count, Cell* target, bool cr) {
    if (count < 0) count = 0;
    if (bytes.empty()) {
        // The text lies in the target's conversion cache; never read past that buffer.
        if (target && string::cache_of(*target)) {
            bytes = ByteSource::in_series(string::cache_of(*target), 0);
            uint64_t units = memory::buffer(string::cache_of(*target))->size / 2;
            if (uint64_t(count) > units) count = int64_t(units);
        } else {
            count = 0;
        }
    }
    uint32_t u = utf16_unit_width(bytes, count);
    Node node;
    if (target) {
        node = series::node_of(*target);
        uint64_t need = uint64_t(count) << unit_shift(u);
        Buffer* b = memory::buffer(node);
        // The unit is set first: growing sizes the new buffer in whole units of the old one.
        b->flags = (b->flags & ~memory::unit_mask) | u;
        b->tail = b->head;
        if (b->size - b->head < need) memory::expand_series(node, need);
    } else {
        node = count ? memory::alloc_series(uint64_t(count), u, 0) : memory::alloc_series(1, 2, 0);
    }
    // Nothing below allocates: the pointers hold.
    Buffer* b = memory::buffer(node);
    uint8_t* out = b->head_ptr();
    const uint8_t* in = count ? bytes.at(0) : nullptr;
    uint64_t n = 0;
    auto unit_at = [in](int64_t i) { return uint32_t(in[2 * i]) | uint32_t(in[2 * i + 1]) << 8; };
    switch (u) {
    case 1:
        for (int64_t i = 0; i < count; ++i)
            if (!(cr && in[2 * i] == 13)) out[n++] = in[2 * i];
        break;
    case 2:
        if (!cr) {
            if (count) std::memcpy(out, in, uint64_t(count) * 2);
            n = uint64_t(count);
        } else {
            for (int64_t i = 0; i < count; ++i) {
                uint32_t w = unit_at(i);
                if (w != 13) put_char(out + 2 * n++, 2, w);
            }
        }
        break;
    case 4:
        for (int64_t i = 0; i < count; ++i) {
            uint32_t w = unit_at(i);
            if (w >= 0xD800 && w <= 0xDBFF && i + 1 < count) {
                uint32_t low = unit_at(i + 1);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    put_char(out + 4 * n++, 4, (((w & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000);
                    ++i;
                    continue;
                }
            }
            if (!(cr && w == 13)) put_char(out + 4 * n++, 4, w);
        }
        break;
    default: runtime::no_switch_matched();
    }
    b->tail = static_cast<uint32_t>(b->head + n * u);
    return node;
}

// ---- case -------------------------------------------------------------------------------------

void (*on_case_changed)(const Cell& series, bool upper, uint32_t index, uint32_t count) = nullptr;

namespace {
int32_t* upper_table = nullptr;
int32_t* lower_table = nullptr;

int32_t* build_table(int32_t* table, const uint16_t (*pairs)[2], uint32_t count) {
    // Fresh zero pages for a new table: only the pages holding mapped characters (a few
    // alphabets) are ever touched.
    if (!table) table = static_cast<int32_t*>(heap::allocate_zeroed(0x10000 * sizeof(int32_t)));
    else std::memset(table, 0, 0x10000 * sizeof(int32_t));
    for (uint32_t i = 0; i < count; ++i) table[pairs[i][0]] = pairs[i][1];
    return table;
}

uint32_t map_astral(uint32_t cp, const uint32_t (*pairs)[2], uint32_t count) {
    if (count == 0 || cp < pairs[0][0] || cp > pairs[count - 1][0]) return cp;
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (pairs[mid][0] < cp) lo = mid + 1;
        else hi = mid;
    }
    return lo < count && pairs[lo][0] == cp ? pairs[lo][1] : cp;
}
}  // namespace

const uint32_t* latin1_upper() {
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t c = 0; c < 256; ++c) table[c] = c < 0x80 && c - 'a' < 26 ? c - 32 : c;
        for (uint32_t i = 0; i < to_upper_bmp_count; ++i)
            if (to_upper_bmp[i][0] >= 0x80 && to_upper_bmp[i][0] < 256) table[to_upper_bmp[i][0]] = to_upper_bmp[i][1];
        made = true;
    }
    return table;
}

void init_case_table() {
    upper_table = build_table(upper_table, to_upper_bmp, to_upper_bmp_count);
    lower_table = build_table(lower_table, to_lower_bmp, to_lower_bmp_count);
}

uint32_t case_map(uint32_t cp, bool upper) {
    // ASCII letters map to each other alone: most text never needs the tables built.
    if (cp < 0x80) {
        if (upper) return cp - 'a' < 26 ? cp - 32 : cp;
        return cp - 'A' < 26 ? cp + 32 : cp;
    }
    if (cp < 0x10000) {
        if (!upper_table) init_case_table();
        int32_t mapped = (upper ? upper_table : lower_table)[cp];
        return mapped ? uint32_t(mapped) : cp;
    }
    return upper ? map_astral(cp, to_upper_astral, to_upper_astral_count)
                 : map_astral(cp, to_lower_astral, to_lower_astral_count);
}

Cell& change_case(Cell& value, const Cell* part, bool upper) {
    if (cell::is(value, T_char_)) {
        char_::set(value, case_map(char_::get(value), upper));
        return value;
    }
    Text t = text_of(value);
    int64_t n = int64_t(t.count);
    if (part) {
        if (cell::is(*part, T_integer)) {
            n = integer::get(*part);
        } else if (cell::type(*part) == cell::type(value) && series::node_of(*part) == series::node_of(value)) {
            n = int64_t(series::position_of(*part)) - int64_t(t.index);
        } else {
            // The first argument should be the word `part`; words are not available here.
            error::fire(err::script_invalid_refine_arg, cell::make(T_none), *part);
        }
        if (n < 0) n = 0;
        if (uint64_t(n) > t.count) n = int64_t(t.count);
    }
    Cell series = value;  // the hook gets a copy: value may live in a buffer that moves
    for (uint64_t i = t.index; i < t.index + uint64_t(n); ++i) {
        Buffer* b = memory::buffer(t.node);
        uint32_t cp = char_at(b->head_ptr() + i * b->unit(), b->unit());
        uint32_t mapped = case_map(cp, upper);
        if (mapped != cp) string::set_char_at(t.node, static_cast<uint32_t>(i), static_cast<int32_t>(mapped));
    }
    if (on_case_changed) on_case_changed(series, upper, uint32_t(t.index), uint32_t(n));
    return value;
}

// ---- display width ----------------------------------------------------------------------------

bool in_ranges_q(uint32_t cp, const uint32_t* table, uint32_t words) {
    uint32_t pairs = words / 2;
    if (pairs == 0 || cp < table[0] || cp > table[2 * pairs - 1]) return false;
    // The last pair whose first word is not above cp.
    uint32_t lo = 0, hi = pairs;
    while (hi - lo > 1) {
        uint32_t mid = (lo + hi) / 2;
        if (table[2 * mid] <= cp) lo = mid;
        else hi = mid;
    }
    return cp <= table[2 * lo + 1];
}

int32_t char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 32 || (cp >= 0x7F && cp < 0xA0)) return 1;
    if (in_ranges_q(cp, zero_width_ranges, zero_width_ranges_words)) return 0;
    if (in_ranges_q(cp, wide_ranges, wide_ranges_words)) return 2;
    return 1;
}

}  // namespace kov::unicode

namespace kov::string {

uint8_t* cache_buffer(Cell& str, uint64_t size) {
    memory::Node cache = string::cache_of(str);
    if (!cache) {
        cache = memory::alloc_bytes(size);
        string::set_cache(str, cache);
    } else if (memory::buffer(cache)->size < size) {
        memory::expand_series(cache, size);
    }
    memory::Buffer* b = memory::buffer(cache);
    b->head = 0;
    return b->data();
}

}  // namespace kov::string
