#include "runtime/datatypes/url.h"

#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"
#include "runtime/unicode.h"

namespace kov::url {

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, uint32_t n, uint32_t unit) { return cell::set_type(string::make_at(c, n, unit), T_url); }
Cell* make_in(memory::Node block, uint32_t n, uint32_t unit) {
    return &cell::set_type(*string::make_in(block, n, unit), T_url);
}
Cell* push(uint32_t n, uint32_t unit) { return &make_at(*stack::reserve(), n, unit); }
Cell* push(const Cell& value) { return stack::push(value); }

namespace {

int32_t hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// True, with the byte, when p holds "%" and two hex digits before end.
bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& byte) {
    if (end - p < 3 || p[0] != '%') return false;
    int32_t hi = hex_value(p[1]), lo = hex_value(p[2]);
    if (hi < 0 || lo < 0) return false;
    byte = static_cast<uint8_t>(hi << 4 | lo);
    return true;
}

}  // namespace

// ---- internal routines --------------------------------------------------------------------------

bool decode_bytes(const uint8_t* text, uint64_t length, memory::Node out) {
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    while (p < end) {
        uint8_t lead;
        if (decode_escape(p, end, lead)) {
            int32_t n = unicode::utf8_lead_length(lead);
            if (n < 2) {
                string::append_char(out, lead);
                p += 3;
                continue;
            }
            uint8_t seq[4] = {lead};
            bool whole = n <= 4;
            for (int32_t i = 1; whole && i < n; ++i) whole = decode_escape(p + 3 * i, end, seq[i]);
            if (whole) {
                int32_t cp;
                const uint8_t* after = unicode::decode_utf8_char(seq, seq + n, cp);
                if (cp >= 0 && after == seq + n) {
                    string::append_char(out, cp);
                    p += 3 * n;
                    continue;
                }
            }
        }
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, cp);
        if (cp < 0) return false;
        string::append_char(out, cp);
        p = next;
    }
    return true;
}

}  // namespace kov::url
