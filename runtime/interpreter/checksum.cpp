#include "runtime/interpreter/checksum.h"

#include "runtime/datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/platform/os.h"

namespace kov::checksum {

namespace {

// In interning order, which is the order of `Method`.
const char* const method_words[] = {"tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash"};
constexpr int32_t method_count = 9;
uint32_t method_symbols[method_count];  // case-folded ids; 0 before init

uint32_t crc_table[256];
bool crc_table_made = false;

void make_crc_table() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        crc_table[i] = c;
    }
    crc_table_made = true;
}

os::Digest platform_digest(Method m) {
    switch (m) {
    case Method::md5: return os::Digest::md5;
    case Method::sha1: return os::Digest::sha1;
    case Method::sha256: return os::Digest::sha256;
    case Method::sha384: return os::Digest::sha384;
    default: return os::Digest::sha512;
    }
}

}  // namespace

void init() {
    for (int32_t i = 0; i < method_count; ++i) method_symbols[i] = symbol::resolve(symbol::make(method_words[i]));
}

Method method_of(uint32_t sym) {
    uint32_t folded = symbol::resolve(sym);
    for (int32_t i = 0; i < method_count; ++i)
        if (method_symbols[i] == folded) return static_cast<Method>(i);
    return Method::none;
}

bool digest_q(Method m) {
    return m == Method::md5 || m == Method::sha1 || m == Method::sha256 || m == Method::sha384 ||
           m == Method::sha512;
}

std::size_t digest_length(Method m) { return digest_q(m) ? os::digest_length(platform_digest(m)) : 0; }

uint32_t crc32(const uint8_t* data, std::size_t size) {
    if (!crc_table_made) make_crc_table();
    uint32_t r = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) r = (r >> 8) ^ crc_table[(r ^ data[i]) & 0xFF];
    return ~r;
}

// The sum is kept in 64 bits and folded until it fits 16, so that inputs whose word sum passes
// 2^31 (about 64 KiB and more) still give the one's-complement sum.
uint32_t tcp(const uint8_t* data, std::size_t size) {
    uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < size; i += 2) sum += uint32_t(data[i]) << 8 | data[i + 1];
    if (i < size) sum += uint32_t(data[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return ~static_cast<uint32_t>(sum) & 0xFFFF;
}

uint32_t adler32(const uint8_t* data, std::size_t size) {
    // The largest run after which neither sum can pass 2^31 - 1, so the modulo is taken once
    // per block.
    constexpr std::size_t block = 3854;
    constexpr uint32_t base = 65521;
    uint32_t s1 = 1, s2 = 0;
    while (size > 0) {
        std::size_t n = size < block ? size : block;
        size -= n;
        for (; n >= 16; n -= 16, data += 16)
            for (int k = 0; k < 16; ++k) {
                s1 += data[k];
                s2 += s1;
            }
        for (; n > 0; --n, ++data) {
            s1 += *data;
            s2 += s1;
        }
        s1 %= base;
        s2 %= base;
    }
    return s2 << 16 | s1;
}

std::size_t digest(Method m, const uint8_t* data, std::size_t size, uint8_t* out) {
    if (!digest_q(m) || !os::digest(platform_digest(m), data, size, out)) error::fire(err::internal_no_memory);
    return digest_length(m);
}

std::size_t hmac(Method m, const uint8_t* key, std::size_t key_size, const uint8_t* data, std::size_t size,
                 uint8_t* out) {
    if (!digest_q(m) || !os::hmac(platform_digest(m), key, key_size, data, size, out))
        error::fire(err::internal_no_memory);
    return digest_length(m);
}

}  // namespace kov::checksum
