#include "runtime/datatypes/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/image_geometry.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"
#include "runtime/tui/routines.h"
#include "runtime/words.h"

namespace kov::image {

using memory::buffer;
using memory::Node;
using series::Change;

namespace {

constexpr uint32_t opaque_white = 0xFFFFFFFFu;

[[noreturn]] void no_memory() { error::fire(err::internal_no_memory); }
[[noreturn]] void not_done() { error::fire(err::internal_not_done); }
Cell empty_image() { return Cell{T_image, 0, 0, 0}; }

inline uint32_t load_pixel(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void store_pixel(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// The pixel of a tuple: r.g.b opaque, r.g.b.t with opacity 255 - t.
uint32_t tuple_pixel(const Cell& t) {
    uint8_t b[12];
    tuple::bytes_of(t, b);
    uint32_t opacity = tuple::length(t) > 3 ? 255u - b[3] : 255u;
    return (opacity << 24) | (uint32_t(b[0]) << 16) | (uint32_t(b[1]) << 8) | b[2];
}

Cell pixel_tuple(uint32_t p) {
    uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF, t = 255u - (p >> 24);
    return tuple::make(4, r | (g << 8) | (b << 16) | (t << 24), 0, 0);
}

// The index clipped to 0 .. the pixel count.
uint32_t position(const Cell& c) {
    int32_t i = static_cast<int32_t>(c.w1);
    if (i < 0) return 0;
    return std::min(static_cast<uint32_t>(i), pixel_count(c));
}

bool tell(const Cell& c, Change word, const Cell& value, uint32_t index, uint32_t part) {
    if (!c.w2) return false;
    return series::report(c, word, value, static_cast<int32_t>(index), static_cast<int32_t>(part));
}

// A pixel position for an integer or pair index; `out` is set when it lies outside the image.
int64_t check_index(const Cell& img, const Cell& index, bool one_based, bool& out) {
    int64_t w = width(img), h = height(img);
    int64_t offset;
    out = false;
    if (cell::is(index, T_pair)) {
        int64_t x = static_cast<int32_t>(index.w2), y = static_cast<int32_t>(index.w3);
        if (one_based) {
            if (x > w || x < 1 || y > h || y < 1) out = true;
            if (y > 0) --y;
        } else if (x >= w || x < 0 || y >= h || y < 0) {
            out = true;
        }
        offset = y * w + x;
    } else if (cell::is(index, T_integer)) {
        offset = integer::get(index);
    } else {
        error::fire(err::script_invalid_arg, index);
    }
    int64_t base = one_based && offset >= 1 ? 1 : 0;
    int64_t p = int64_t(static_cast<int32_t>(img.w1)) + offset - base;
    if (p < 0) {
        p = 0;
        out = true;
    } else if (p >= w * h) {
        p = w * h;
        out = true;
    }
    if (offset == 0) out = true;
    return p;
}

// The index cell a pick or poke was given: the original pair, or the integer it stands for.
Cell index_cell(int32_t n, const Cell* boxed) {
    if (boxed && cell::is(*boxed, T_pair)) return *boxed;
    return integer::make(n);
}

// Copies the rectangle (x, y, rw, rh), which lies inside the source, into a new image.
Cell* copy_rect(const Cell& src, int64_t x, int64_t y, int64_t rw, int64_t rh) {
    if (rw < 1 || rh < 1) return stack::push(empty_image());
    Cell source = src;
    collector::Root keep(source);
    Cell* r = push(rw, rh, 0);
    geometry::copy_rect_pixels(pixels(source), int32_t(width(source)), int32_t(height(source)), int32_t(x),
                               int32_t(y), int32_t(rw), int32_t(rh), pixels(*r));
    return r;
}

// The bytes of a binary from its position (clipped), and their count; valid until the next
// allocation.
const uint8_t* binary_bytes(const Cell& bin, uint64_t& len) {
    memory::Buffer* b = buffer(bin.w2);
    int64_t i = static_cast<int32_t>(bin.w1);
    int64_t used = b->used();
    if (i < 0) i = 0;
    if (i > used) i = used;
    len = uint64_t(used - i);
    return b->head_ptr() + i;
}

void put_hex(std::string& text, uint32_t byte) {
    static const char digits[] = "0123456789ABCDEF";
    text += digits[byte >> 4];
    text += digits[byte & 15];
}

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, int64_t w, int64_t h, uint32_t fill) {
    if (w < 0) w = 0;
    if (h < 0) h = 0;
    if (w > max_side || h > max_side || uint64_t(w) * uint64_t(h) * 4 > memory::max_buffer_size) no_memory();
    if (w == 0 || h == 0) return c = cell_of(0, uint32_t(w), uint32_t(h));
    c = Cell{T_unset, 0, 0, 0};
    uint64_t count = uint64_t(w) * uint64_t(h);
    Node node = memory::alloc_series(count, 4, 0);
    memory::Buffer* b = buffer(node);
    uint8_t* p = b->head_ptr();
    for (uint64_t i = 0; i < count; ++i) store_pixel(p + i * 4, fill);
    b->tail = b->head + static_cast<uint32_t>(count * 4);
    return c = cell_of(node, uint32_t(w), uint32_t(h));
}

Cell* push(int64_t w, int64_t h, uint32_t fill) { return &make_at(*stack::reserve(), w, h, fill); }

Cell* push(const Cell& img, int64_t w, int64_t h) {
    Cell source = img;
    collector::Root keep(source);
    Cell* r = push(w, h, 0);
    if (r->w2 && source.w2)
        geometry::scale_pixels(pixels(source), int32_t(width(source)), int32_t(height(source)), int32_t(width(*r)),
                               int32_t(height(*r)), pixels(*r));
    return r;
}

uint8_t* pixels(const Cell& c) { return c.w2 ? buffer(c.w2)->head_ptr() : nullptr; }

// ---- channels -----------------------------------------------------------------------------------

Cell* to_binary(const Cell& c, uint32_t channel) {
    Cell img = c;
    collector::Root keep(img);
    uint64_t n = pixel_count(img);
    uint32_t per = channel == alpha ? 1 : channel == rgb ? 3 : 4;
    Cell* r = binary::push(n * per);
    if (!img.w2) return r;
    uint8_t* out = series::reserve(r->w2, n * per);
    const uint8_t* p = pixels(img);
    if (channel == argb) {
        std::memcpy(out, p, n * 4);
        return r;
    }
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t px = load_pixel(p + i * 4);
        if (channel == alpha) {
            out[i] = static_cast<uint8_t>(255u - (px >> 24));
        } else {
            out[i * 3] = static_cast<uint8_t>(px >> 16);
            out[i * 3 + 1] = static_cast<uint8_t>(px >> 8);
            out[i * 3 + 2] = static_cast<uint8_t>(px);
        }
    }
    return r;
}

void from_binary(const Cell& c, const Cell& value, uint32_t channel) {
    uint32_t vt = cell::type(value);
    if (vt != T_binary && vt != T_tuple && vt != T_integer) error::fire(err::script_invalid_arg, value);
    if (!c.w2) return;
    Cell img = c;
    collector::Root keep(img);
    bool owned = tell(img, Change::poke, value, 0, pixel_count(img));
    if (!img.w2) return;
    uint64_t n = pixel_count(img);
    uint8_t* p = pixels(img);
    if (vt == T_binary) {
        uint64_t len;
        const uint8_t* src = binary_bytes(value, len);
        if (channel == argb) {
            std::memcpy(p, src, std::min(len, n * 4));
        } else if (channel == rgb) {
            uint64_t k = std::min(len / 3, n);
            for (uint64_t i = 0; i < k; ++i) {
                uint32_t px = load_pixel(p + i * 4) & 0xFF000000u;
                px |= uint32_t(src[i * 3]) << 16 | uint32_t(src[i * 3 + 1]) << 8 | src[i * 3 + 2];
                store_pixel(p + i * 4, px);
            }
        } else {
            uint64_t k = std::min(len, n);
            for (uint64_t i = 0; i < k; ++i)
                store_pixel(p + i * 4, (load_pixel(p + i * 4) & 0x00FFFFFFu) | (255u - src[i]) << 24);
        }
    } else {
        uint32_t colour = vt == T_tuple ? tuple_pixel(value) : value.w2;
        uint32_t low = vt == T_tuple ? tuple::byte_at(value, 0) : (value.w2 & 0xFF);
        for (uint64_t i = 0; i < n; ++i) {
            uint32_t px = load_pixel(p + i * 4);
            if (channel == argb) px = colour;
            else if (channel == rgb) px = (px & 0xFF000000u) | (colour & 0x00FFFFFFu);
            else px = (px & 0x00FFFFFFu) | (255u - low) << 24;
            store_pixel(p + i * 4, px);
        }
    }
    if (owned) tell(img, Change::poked, value, 0, pixel_count(img));
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

Cell* copy_whole(const Cell& c) { return copy_rect(c, 0, 0, width(c), height(c)); }

// A face, as the GUI engine's face? tells.
bool face_q(const Cell& value) {
    const Cell* fn = context::get_any(symbol::make("face?"), context::global());
    if (!fn || !cell::is(*fn, T_function)) return false;
    Cell arg = value;
    collector::Root keep(arg);
    return logic::true_value_q(interp::apply_function(*fn, &arg, 1), false, nullptr);
}

Cell* to(Cell*, Cell* spec, uint32_t) {
    if (cell::is(*spec, T_image)) return copy_whole(*spec);
    // A face is rendered by the GUI back end, which gives what it can.
    if (cell::is(*spec, T_object) && face_q(*spec)) return stack::push(tui::face_to_image(*spec));
    error::fire(err::script_bad_to_arg, datatype::make(T_image), *spec);
}

// make image! 2x3, make image! [2x3 #{rgb...} #{alpha...}], make image! [2x3 255.0.0]
Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    if (cell::is(*spec, T_pair))
        return push(static_cast<int32_t>(spec->w2), static_cast<int32_t>(spec->w3), opaque_white);
    if (!cell::is(*spec, T_block)) return to(proto, spec, type);
    Cell blk = *spec;
    collector::Root keep(blk);
    int64_t avail = block::rs_length_q(blk);
    if (avail <= 0) {
        if (cell::is(*proto, T_image)) return copy_whole(*proto);
        error::fire(err::script_invalid_arg, *spec);
    }
    uint32_t start = static_cast<uint32_t>(static_cast<int32_t>(blk.w1) < 0 ? 0 : blk.w1);
    auto item = [&](int64_t k) { return *block::rs_abs_at(blk, start + static_cast<uint32_t>(k)); };
    Cell size = item(0);
    if (!cell::is(size, T_pair)) error::fire(err::script_invalid_arg, *spec);
    Cell colours = avail > 1 ? item(1) : none::value;
    Cell alphas = avail > 2 ? item(2) : none::value;
    if (!cell::is(colours, T_none) && !cell::is(colours, T_binary) && !cell::is(colours, T_tuple))
        error::fire(err::script_invalid_arg, colours);
    if (!cell::is(alphas, T_none) && !cell::is(alphas, T_binary))
        error::fire(err::script_invalid_type, datatype::make(cell::type(alphas)));
    Cell* r = push(static_cast<int32_t>(size.w2), static_cast<int32_t>(size.w3),
                   cell::is(colours, T_tuple) ? tuple_pixel(colours) : opaque_white);
    if (cell::is(colours, T_tuple) || !r->w2) return r;
    uint64_t n = pixel_count(*r);
    uint8_t* p = pixels(*r);
    uint64_t triples = 0, bytes = 0;
    const uint8_t* rgb_at = nullptr;
    const uint8_t* alpha_at = nullptr;
    if (cell::is(colours, T_binary)) {
        rgb_at = binary_bytes(colours, triples);
        triples /= 3;
    }
    if (cell::is(alphas, T_binary)) {
        alpha_at = binary_bytes(alphas, bytes);
    }
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t px = i < triples ? (uint32_t(rgb_at[i * 3]) << 16 | uint32_t(rgb_at[i * 3 + 1]) << 8 | rgb_at[i * 3 + 2])
                                  : 0x00FFFFFFu;
        px |= (i < bytes ? 255u - alpha_at[i] : 255u) << 24;
        store_pixel(p + i * 4, px);
    }
    return r;
}

int32_t text(const Cell& v, Cell& out, bool only, bool flat, bool limited, int32_t part, int32_t level) {
    Cell img = v;
    collector::Root keep(img);
    char head[40];
    std::snprintf(head, sizeof head, "%s%ux%u", only ? "" : "make image! [", width(img), height(img));
    part = string::emit(out, head, part);
    if (!img.w2) return string::emit(out, only ? " #{}" : " #{}]", part);
    uint32_t from = position(img), n = pixel_count(img);
    // The pixels are read into C++ text first: emitting allocates and may move the buffer.
    std::string colours, alphas;
    bool transparent = false;
    for (uint32_t i = from; i < n; ++i) {
        uint32_t px = load_pixel(pixels(img) + uint64_t(i) * 4);
        put_hex(colours, (px >> 16) & 0xFF);
        put_hex(colours, (px >> 8) & 0xFF);
        put_hex(colours, px & 0xFF);
        put_hex(alphas, 255u - (px >> 24));
        if ((px >> 24) != 255) transparent = true;
    }
    for (uint32_t i = 0; i < from; ++i)
        if ((load_pixel(pixels(img) + uint64_t(i) * 4) >> 24) != 255) transparent = true;
    part = string::emit(out, " #{", part);
    bool broke = !flat && n - from >= 8;
    if (broke) {
        part = string::emit(out, "\n", part);
        part = mold::indent(out, level, part);
    }
    uint32_t written = 0;
    for (uint32_t k = 0; k < n - from; ++k) {
        if (limited && part < 1) break;
        string::concatenate_literal_part(out, colours.data() + uint64_t(k) * 6, 6);
        part -= 6;
        ++written;
        if (written % 10 == 0 && !flat) {
            part = string::emit(out, "\n", part);
            part = mold::indent(out, level, part);
        }
    }
    if (broke && written % 10 != 0) {
        part = string::emit(out, "\n", part);
        part = mold::indent(out, level - 1, part);
    }
    part = string::emit(out, "}", part);
    if (transparent) {
        part = string::emit(out, " #{\n", part);
        part = mold::indent(out, level, part);
        for (uint32_t k = 0; k < n - from; ++k) {
            string::concatenate_literal_part(out, alphas.data() + uint64_t(k) * 2, 2);
            part -= 2;
            if ((k + 1) % 10 == 0 && !flat) {
                part = string::emit(out, "\n", part);
                part = mold::indent(out, level, part);
            }
        }
        part = string::emit(out, "\n", part);
        part = mold::indent(out, level - 1, part);
        part = string::emit(out, "}", part);
    }
    return only ? part : string::emit(out, "]", part);
}

int32_t form(Cell* v, Cell* out, Cell* arg, int32_t part) { return text(*v, *out, false, false, arg != nullptr, part, 0); }

int32_t mold(Cell* v, Cell* out, const MoldArgs& how, int32_t part) {
    return text(*v, *out, how.only, how.flat, how.arg != nullptr, part, how.indent + 1);
}

Cell* pick(Cell* s, int32_t n, Cell* boxed) {
    bool out;
    int64_t p = check_index(*s, index_cell(n, boxed), true, out);
    if (out) return &none::make_at(*s);
    *s = pixel_tuple(load_pixel(pixels(*s) + uint64_t(p) * 4));
    return s;
}

// Writes a tuple's colour at a position in range; gives the position.
Cell* poke(Cell* s, int32_t n, Cell* data, Cell* boxed) {
    Cell index = index_cell(n, boxed);
    bool out;
    int64_t p = check_index(*s, index, true, out);
    if (out) error::fire(err::script_out_of_range, index);
    if (!cell::is(*data, T_tuple)) error::fire(err::script_invalid_arg, *data);
    Cell img = *s;
    collector::Root keep(img);
    bool owned = tell(img, Change::poke, *data, uint32_t(p), 1);
    if (!img.w2 || p >= int64_t(pixel_count(img))) error::fire(err::script_out_of_range, index);
    store_pixel(pixels(img) + uint64_t(p) * 4, tuple_pixel(*data));
    if (owned) tell(img, Change::poked, *data, uint32_t(p), 1);
    return data;
}

Cell* at(Cell* s, Cell* offset) {
    bool out;
    s->w1 = static_cast<uint32_t>(check_index(*s, *offset, true, out));
    return s;
}

Cell* skip(Cell* s, Cell* offset) {
    bool out;
    s->w1 = static_cast<uint32_t>(check_index(*s, *offset, false, out));
    return s;
}

Cell* next(Cell* s) {
    int64_t i = static_cast<int32_t>(s->w1);
    if (i + 1 <= int64_t(pixel_count(*s))) s->w1 = static_cast<uint32_t>(i + 1);
    return s;
}

Cell* tail(Cell* s) {
    s->w1 = pixel_count(*s);
    return s;
}

Cell* tail_q(Cell* s) {
    bool at_tail = static_cast<int32_t>(s->w1) >= 0 && s->w1 >= pixel_count(*s);
    *s = Cell{T_logic, at_tail ? 1u : 0u, 0, 0};
    return s;
}

Cell* length_q(Cell* s) {
    *s = integer::make(static_cast<int32_t>(pixel_count(*s)));
    return s;
}

Cell* copy(Cell* s, Cell* result, Cell* part, bool, Cell*) {
    Cell img = *s;
    int64_t w = width(img), h = height(img);
    if (!img.w2) {
        *result = empty_image();
        return result;
    }
    int64_t index = position(img);
    int64_t x = index % w, y = index / w;
    Cell* r;
    if (!part) {
        r = copy_rect(img, x, y, w - x, h - y);
    } else if (cell::is(*part, T_pair)) {
        int64_t pw = static_cast<int32_t>(part->w2), ph = static_cast<int32_t>(part->w3);
        if (pw >= 1 && ph >= 1 && index < w * h) {
            r = copy_rect(img, x, y, std::min(pw, w - x), std::min(ph, h - y));
        } else if (pw < 0 && ph < 0 && index > 0) {
            int64_t rw = -pw, rh = -ph, left, top;
            if (x == 0) x = w;
            if (x < rw) {
                rw = x;
                left = 0;
            } else {
                left = x + pw;
            }
            int64_t rows = y < h ? y + 1 : y;
            if (rows < rh) {
                rh = rows;
                top = 0;
            } else {
                top = rows + ph;
            }
            // A column of 0 taken as the width may reach past the last row: keep inside.
            if (top + rh > h) rh = h - top;
            r = copy_rect(img, left, top, rw, rh);
        } else {
            r = stack::push(empty_image());
        }
    } else if (cell::is(*part, T_integer)) {
        not_done();
    } else if (cell::is(*part, T_image) && part->w2 == img.w2) {
        int64_t a = position(*part), b = index;
        int64_t lo = std::min(a, b), hi = std::max(a, b);
        int64_t sx = lo % w, sy = lo / w, ex = hi % w, ey = hi / w;
        r = copy_rect(img, sx, sy, ex - sx, ey - sy);
    } else {
        error::fire(err::script_invalid_refine_arg, series::word_arg("part"), *part);
    }
    *result = *r;
    stack::pop(1);
    return result;
}

Cell* change(Cell* s, Cell* value, int32_t part, bool, int32_t dup) {
    if (dup > 1 || part >= 0) not_done();
    if (cell::is(*value, T_tuple)) {
        uint32_t p = position(*s);
        Cell index = integer::make(static_cast<int32_t>(p + 1));
        if (p >= pixel_count(*s)) error::fire(err::script_out_of_range, index);
        Cell img = *s;
        collector::Root keep(img);
        bool owned = tell(img, Change::change, *value, p, 1);
        if (!img.w2 || p >= pixel_count(img)) error::fire(err::script_out_of_range, index);
        store_pixel(pixels(img) + uint64_t(p) * 4, tuple_pixel(*value));
        if (owned) tell(img, Change::changed, *value, p, 1);
        s->w1 = p + 1;
        return s;
    }
    if (!cell::is(*value, T_image)) error::fire(err::script_invalid_type, datatype::make(cell::type(*value)));
    uint32_t p = position(*s);
    if (p >= pixel_count(*s)) return s;
    Cell img = *s, src = *value;
    collector::Root keep(img), keep_src(src);
    int64_t w = width(img), h = height(img);
    int64_t x = p % w, y = p / w;
    int64_t cw = std::min<int64_t>(width(src), w - x), ch = std::min<int64_t>(height(src), h - y);
    if (cw < 1 || ch < 1 || !src.w2) return s;
    bool owned = tell(img, Change::change, *value, p, uint32_t(cw * ch));
    // The owner may have replaced the pixels: nothing is written past them.
    if (!img.w2 || pixel_count(img) != uint32_t(w * h) || !src.w2) error::fire(err::script_out_of_range, integer::make(int32_t(p + 1)));
    int64_t sw = width(src);
    // An image changed with itself would read rows already written: its pixels are copied
    // out first.
    std::vector<uint8_t> own;
    if (src.w2 == img.w2) own.assign(pixels(src), pixels(src) + uint64_t(pixel_count(src)) * 4);
    const uint8_t* from = own.empty() ? pixels(src) : own.data();
    uint8_t* to = pixels(img);
    for (int64_t row = 0; row < ch; ++row)
        std::memcpy(to + uint64_t((y + row) * w + x) * 4, from + uint64_t(row * sw) * 4, uint64_t(cw) * 4);
    if (owned) tell(img, Change::changed, *value, p, uint32_t(cw * ch));
    s->w1 = static_cast<uint32_t>((y + ch - 1) * w + x + cw);
    return s;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_image)) return actions::not_comparable;
    if (a->w2 == b->w2 && position(*a) == position(*b)) {
        if (op == actions::equal || op == actions::not_equal || op == actions::strict_equal || op == actions::same)
            return 0;
    }
    if (op == actions::same) return -1;
    bool ordered = op == actions::equal || op == actions::not_equal || op == actions::strict_equal ||
                   op == actions::sort_order || op == actions::sort_order_case || op == actions::find_equal;
    if (!ordered) return actions::not_comparable;
    uint32_t na = pixel_count(*a), nb = pixel_count(*b);
    if (na != nb) return na < nb ? -1 : 1;
    if (!na) return 0;
    int c = std::memcmp(pixels(*a), pixels(*b), uint64_t(na) * 4);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

uint32_t channel_of(const Cell& word) {
    if (scalar::word_is(word, words::symbols::rgb)) return rgb;
    if (scalar::word_is(word, words::symbols::alpha)) return alpha;
    if (scalar::word_is(word, words::symbols::argb)) return argb;
    return 99;
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell* element = step.element;
    auto bad = [&]() { error::fire(err::script_invalid_path, step.path ? *step.path : none::value, *element); };
    if (cell::is(*element, T_integer) || cell::is(*element, T_pair)) {
        int32_t n = cell::is(*element, T_integer) ? integer::get(*element) : 0;  // a pair is used as it is
        if (!step.value) return pick(parent, n, element);
        poke(parent, n, step.value, element);
        return step.value;
    }
    if (!cell::is(*element, T_word)) bad();
    if (scalar::word_is(*element, words::symbols::size)) {
        if (step.value) bad();
        *parent = pair::make(static_cast<int32_t>(width(*parent)), static_cast<int32_t>(height(*parent)));
        return parent;
    }
    uint32_t channel = channel_of(*element);
    if (channel == 99) bad();
    if (step.value) {
        from_binary(*parent, *step.value, channel);
        return step.value;
    }
    Cell* r = to_binary(*parent, channel);
    *parent = *r;
    stack::pop(1);
    return parent;
}

}  // namespace

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_image, .name = "image!", .rest = datatype::Rest::empty,
         .mark = collector::mark_series_value, .same = datatype::same::first_two, .hash = datatype::hashing::first_two,
         .actions = {.make = make, .to = to, .form = form, .mold = mold, .eval_path = eval_path, .compare = compare,
                     .at = at, .back = inherit, .change = change, .copy = copy, .head = inherit, .head_q = inherit,
                     .index_q = inherit, .length_q = length_q, .next = next, .pick = pick, .poke = poke,
                     .skip = skip, .tail = tail, .tail_q = tail_q, .modify = inherit}});
}

}  // namespace kov::image
