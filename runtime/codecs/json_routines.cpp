// The JSON decoder's `unescape` routine: the escape sequences of the text between a JSON
// string's quotes are replaced in place, the buffer widening once if a decoded character needs
// it. The decoder's grammar checks the text first, but the routine is reachable from any
// caller, so every read is bounded by the string's tail: a trailing backslash, a short or
// non-hex \u escape and a high surrogate without its low half raise script/invalid-data with
// the string.
//
// Moving memory: the buffer may be widened (it moves); positions are kept as indexes.
#include <vector>

#include "runtime/codecs/json.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/routines.h"
#include "runtime/memory.h"

namespace kov::json {

namespace {

int32_t hex_value(int32_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void unescape(Cell& str) {
    memory::Buffer* b = memory::buffer(series::node_of(str));
    uint32_t unit = b->unit();
    uint32_t sh = string::shift_of(unit);
    int64_t length = b->used() >> sh;
    int64_t index = series::index_of(str);
    if (index < 0) index = 0;
    if (index > length) index = length;

    // The decoded characters are gathered first: never more than the text holds, and no
    // allocation of the collector happens until they are written back.
    std::vector<int32_t> out;
    out.reserve(size_t(length - index));
    const uint8_t* p = b->head_ptr();
    auto at = [&](int64_t i) { return string::get_char(p + (uint64_t(i) << sh), unit); };
    auto hex4 = [&](int64_t i) {
        if (i + 4 > length) error::fire(err::script_invalid_data, str);
        int32_t v = 0;
        for (int64_t k = i; k < i + 4; ++k) {
            int32_t d = hex_value(at(k));
            if (d < 0) error::fire(err::script_invalid_data, str);
            v = v * 16 + d;
        }
        return v;
    };
    int32_t widest = 0;
    for (int64_t i = index; i < length;) {
        int32_t c = at(i++);
        if (c == '\\') {
            if (i >= length) error::fire(err::script_invalid_data, str);
            int32_t e = at(i++);
            switch (e) {
            case '"': case '/': case '\\': c = e; break;
            case 'b': c = 8; break;
            case 'f': c = 12; break;
            case 'n': c = 10; break;
            case 'r': c = 13; break;
            case 't': c = 9; break;
            case 'u':
                c = hex4(i);
                i += 4;
                if (c >= 0xD800 && c <= 0xDBFF) {
                    if (i + 2 > length || at(i) != '\\' || at(i + 1) != 'u') error::fire(err::script_invalid_data, str);
                    int32_t low = hex4(i + 2);
                    if (low < 0xDC00 || low > 0xDFFF) error::fire(err::script_invalid_data, str);
                    i += 6;
                    c = 0x10000 + (c - 0xD800) * 1024 + (low - 0xDC00);
                }
                break;
            default:
                // Not a JSON escape: kept as written, so that no text is lost.
                out.push_back('\\');
                c = e;
                break;
            }
        }
        if (c > widest) widest = c;
        out.push_back(c);
    }

    uint32_t wanted = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    if (wanted > unit) {
        b = string::widen_to(series::node_of(str), unit, wanted);
        unit = wanted;
        sh = string::shift_of(unit);
    }
    uint8_t* q = b->head_ptr() + (uint64_t(index) << sh);
    for (size_t k = 0; k < out.size(); ++k) string::put_char(q + (uint64_t(k) << sh), unit, out[k]);
    b->tail = b->head + static_cast<uint32_t>((uint64_t(index) + out.size()) << sh);
}

namespace {

void json_unescape(routines::Args& args, const Cell&) {
    if (!in(cell::type(*args.cell(0)), ANY_STRING)) error::fire(err::script_invalid_data, *args.cell(0));
    unescape(*args.cell(0));
}

}  // namespace

void register_routines() {
#define ROUTINES_json(index, entry) routines::register_entry(index, entry);
#include "runtime/interpreter/routines_register.h"
}

}  // namespace kov::json
