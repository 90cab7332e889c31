// The base 2, 16, 58 and 64 codecs (see base_codecs.h for the contract).
//
// Every decoder works in two steps: read the characters into bytes in a tracked-heap scratch
// (the text pointer is valid then, nothing allocates series memory), then copy them into a
// new series. Base 58 converts with 32-bit limbs, five base-58 digits per step (58^5 fits in
// 32 bits); the conversion is quadratic in the length, as any schoolbook base change is.
#include "runtime/codecs/base_codecs.h"

#include <array>
#include <cstring>

#include "runtime/heap.h"
#include "runtime/unicode.h"

namespace kov {

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";
constexpr char base58_digits[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Reverse tables, one entry per 7-bit code.
constexpr uint8_t no_digit = 255;  // base 16
constexpr uint8_t skip = 64;       // base 58 and 64: spacing and the apostrophe
constexpr uint8_t invalid = 128;

using Reverse = std::array<uint8_t, 128>;

constexpr Reverse hex_reverse() {
    Reverse t{};
    for (auto& e : t) e = no_digit;
    for (uint8_t i = 0; i < 10; ++i) t['0' + i] = i;
    for (uint8_t i = 0; i < 6; ++i) t['A' + i] = t['a' + i] = uint8_t(10 + i);
    return t;
}

constexpr Reverse spaced_reverse(const char* digits, uint8_t base) {
    Reverse t{};
    for (auto& e : t) e = invalid;
    for (uint8_t i = 0; i < base; ++i) t[uint8_t(digits[i])] = i;
    for (int c : {8, 9, 10, 12, 13, 32, int('\'')}) t[std::size_t(c)] = skip;
    return t;
}

constexpr Reverse base16_reverse = hex_reverse();
constexpr Reverse base58_reverse = spaced_reverse(base58_digits, 58);
constexpr Reverse base64_reverse = [] {
    Reverse t = spaced_reverse(base64_digits, 64);
    t['='] = 0;  // the decoder looks for it before the table
    return t;
}();

// The characters of a text with ";" comments taken out.
struct Text {
    const uint8_t* at;
    uint64_t count;
    uint32_t unit;
    uint64_t i = 0;

    uint32_t char_at(uint64_t k) const { return unicode::char_at(at + k * unit, unit); }

    // False at the end of the text (a comment running to the end ends it too).
    bool next(uint32_t& c) {
        while (i < count) {
            c = char_at(i++);
            if (c != ';') return true;
            while (i < count && char_at(i) != '\n') ++i;
            if (i < count) ++i;
        }
        return false;
    }
};

// A tracked-heap block, released on every path out.
struct Scratch {
    uint8_t* p;
    explicit Scratch(uint64_t size) : p(static_cast<uint8_t*>(heap::allocate(size))) {}
    ~Scratch() { heap::free(p); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

memory::Node make_binary(const uint8_t* bytes, uint64_t n) {
    memory::Node node = memory::alloc_bytes(n);
    memory::Buffer* b = memory::buffer(node);
    if (n) std::memcpy(b->data(), bytes, n);
    b->tail = uint32_t(n);
    return node;
}

constexpr uint32_t limb_base58 = 58u * 58 * 58 * 58 * 58;  // 656,356,768

}  // namespace

// ---- base 2 ----------------------------------------------------------------------------------

uint64_t base2::encoded_size(uint64_t bytes) { return bytes * 8; }

uint8_t* base2::encode(uint8_t* out, const uint8_t* data, uint64_t bytes) {
    for (uint64_t i = 0; i < bytes; ++i)
        for (int bit = 7; bit >= 0; --bit) *out++ = uint8_t('0' + ((data[i] >> bit) & 1));
    return out;
}

memory::Node base2::decode(const uint8_t* text, uint64_t count, uint32_t unit) {
    Scratch out(count / 8);
    uint64_t n = 0;
    uint32_t acc = 0, bits = 0, c;
    for (Text t{text, count, unit}; t.next(c);) {
        if (c <= 32) continue;
        if (c != '0' && c != '1') return 0;
        acc = acc << 1 | (c - '0');
        if (++bits == 8) {
            out.p[n++] = uint8_t(acc);
            acc = bits = 0;
        }
    }
    if (bits) return 0;
    return make_binary(out.p, n);
}

// ---- base 16 ---------------------------------------------------------------------------------

uint64_t base16::encoded_size(uint64_t bytes) { return bytes * 2; }

uint8_t* base16::encode(uint8_t* out, const uint8_t* data, uint64_t bytes) {
    for (uint64_t i = 0; i < bytes; ++i) {
        *out++ = uint8_t(hex_digits[data[i] >> 4]);
        *out++ = uint8_t(hex_digits[data[i] & 15]);
    }
    return out;
}

memory::Node base16::decode(const uint8_t* text, uint64_t count, uint32_t unit) {
    Scratch out(count / 2);
    uint64_t n = 0;
    uint32_t high = 0, c;
    bool have_high = false;
    for (Text t{text, count, unit}; t.next(c);) {
        if (c <= 32) continue;
        if (c > 127 || base16_reverse[c] > 15) return 0;
        if (have_high) out.p[n++] = uint8_t(high << 4 | base16_reverse[c]);
        else high = base16_reverse[c];
        have_high = !have_high;
    }
    return make_binary(out.p, n);
}

// ---- base 58 ---------------------------------------------------------------------------------

uint64_t base58::encoded_size(uint64_t bytes) { return bytes * 2; }

uint8_t* base58::encode(uint8_t* out, const uint8_t* data, uint64_t bytes) {
    uint64_t zeros = 0;
    while (zeros < bytes && data[zeros] == 0) ++zeros;
    uint64_t n = bytes - zeros;

    // The number as little-endian 32-bit limbs, then its digits written from the end of a
    // work area backwards (each step gives five, so room for four more than needed).
    uint64_t limbs = (n + 3) / 4;
    uint64_t digit_room = 2 * n + 5;
    Scratch work(limbs * 4 + digit_room);
    auto limb = reinterpret_cast<uint32_t*>(work.p);
    uint8_t* digits = work.p + limbs * 4;
    for (uint64_t k = 0; k < limbs; ++k) {
        uint32_t v = 0;
        for (uint64_t j = 4 * k + 4; j-- > 4 * k;)
            if (j < n) v = v << 8 | data[bytes - 1 - j];
            else v <<= 8;
        limb[k] = v;
    }
    uint8_t* d = digits + digit_room;
    while (limbs && limb[limbs - 1] == 0) --limbs;
    while (limbs) {
        uint64_t rem = 0;
        for (uint64_t k = limbs; k-- > 0;) {
            uint64_t t = rem << 32 | limb[k];
            limb[k] = uint32_t(t / limb_base58);
            rem = t % limb_base58;
        }
        while (limbs && limb[limbs - 1] == 0) --limbs;
        for (int k = 0; k < 5; ++k) {
            *--d = uint8_t(rem % 58);
            rem /= 58;
        }
    }
    uint8_t* end = digits + digit_room;
    while (d < end && *d == 0) ++d;  // the last step's leading zero digits

    for (uint64_t k = 0; k < zeros; ++k) *out++ = '1';
    for (; d < end; ++d) *out++ = uint8_t(base58_digits[*d]);
    return out;
}

memory::Node base58::decode(const uint8_t* text, uint64_t count, uint32_t unit) {
    // Digit values first: invalid text is found before any arithmetic.
    Scratch digit_area(count);
    uint8_t* digits = digit_area.p;
    uint64_t n = 0;
    uint32_t c;
    for (Text t{text, count, unit}; t.next(c);) {
        if (c > 127 || base58_reverse[c] == invalid) return 0;
        if (base58_reverse[c] != skip) digits[n++] = base58_reverse[c];
    }
    uint64_t zeros = 0;
    while (zeros < n && digits[zeros] == 0) ++zeros;

    // Each digit adds under 6 bits, so the limbs never outgrow (n - zeros) / 5 + 1.
    uint64_t room = (n - zeros) / 4 + 2;
    Scratch work(room * 4 + zeros + room * 4);
    auto limb = reinterpret_cast<uint32_t*>(work.p);
    uint64_t limbs = 0;
    for (uint64_t i = zeros; i < n;) {
        uint32_t multiplier = 1, value = 0;
        for (int k = 0; k < 5 && i < n; ++k, ++i) {
            multiplier *= 58;
            value = value * 58 + digits[i];
        }
        uint64_t carry = value;
        for (uint64_t k = 0; k < limbs; ++k) {
            uint64_t t = uint64_t(limb[k]) * multiplier + carry;
            limb[k] = uint32_t(t);
            carry = t >> 32;
        }
        if (carry) limb[limbs++] = uint32_t(carry);
    }

    uint8_t* out = work.p + room * 4;
    uint64_t len = 0;
    for (; len < zeros; ++len) out[len] = 0;
    bool leading = true;
    for (uint64_t k = limbs; k-- > 0;)
        for (int shift = 24; shift >= 0; shift -= 8) {
            auto byte = uint8_t(limb[k] >> shift);
            if (leading && byte == 0) continue;
            leading = false;
            out[len++] = byte;
        }
    return make_binary(out, len);
}

// ---- base 64 ---------------------------------------------------------------------------------

uint64_t base64::encoded_size(uint64_t bytes) { return (bytes + 2) / 3 * 4; }

uint8_t* base64::encode(uint8_t* out, const uint8_t* data, uint64_t bytes) {
    uint64_t i = 0;
    for (; i + 3 <= bytes; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) *out++ = uint8_t(base64_digits[(v >> shift) & 63]);
    }
    if (uint64_t rest = bytes - i) {
        uint32_t v = uint32_t(data[i]) << 16 | (rest == 2 ? uint32_t(data[i + 1]) << 8 : 0);
        *out++ = uint8_t(base64_digits[v >> 18]);
        *out++ = uint8_t(base64_digits[(v >> 12) & 63]);
        *out++ = rest == 2 ? uint8_t(base64_digits[(v >> 6) & 63]) : '=';
        *out++ = '=';
    }
    return out;
}

memory::Node base64::decode(const uint8_t* text, uint64_t count, uint32_t unit) {
    Scratch out((count + 3) / 4 * 3);
    uint64_t n = 0;
    uint32_t acc = 0, group = 0, c;
    for (Text t{text, count, unit}; t.next(c);) {
        if (c == '=') {
            if (group < 2) return 0;
            out.p[n++] = uint8_t(acc >> (group == 2 ? 4 : 10));
            if (group == 3) out.p[n++] = uint8_t(acc >> 2);
            break;
        }
        if (c > 127 || base64_reverse[c] == invalid) return 0;
        if (base64_reverse[c] == skip) continue;
        acc = acc << 6 | base64_reverse[c];
        if (++group == 4) {
            out.p[n++] = uint8_t(acc >> 16);
            out.p[n++] = uint8_t(acc >> 8);
            out.p[n++] = uint8_t(acc);
            acc = group = 0;
        }
    }
    return make_binary(out.p, n);
}

}  // namespace kov
