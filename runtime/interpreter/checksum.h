// The checksum and digest engine behind the `checksum` native: the method words, three
// integer checksums of our own (CRC-32, the 16-bit internet sum called `tcp`, Adler-32) and
// the secure digests and HMAC, which come from the platform's cryptographic library.
//
// Method words: nine symbols interned at start-up (`init`), recognised by their case-folded
// alias, so 'SHA256 names the same method as 'sha256.
//
// Digests are computed into a caller's buffer of `max_digest_length` bytes; a library failure
// raises internal/no-memory, so no caller ever sees a half-made digest.
//
// Moving memory: `init` interns symbols (it allocates); nothing else here does, so the data
// pointers given may point into a series buffer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::checksum {

enum class Method : int32_t { none = -1, tcp, md5, sha1, crc32, adler32, sha256, sha384, sha512, hash };

constexpr std::size_t max_digest_length = 64;

void init();
// The method a word's symbol names, or Method::none.
Method method_of(uint32_t symbol);
// True for md5 ... sha512.
bool digest_q(Method m);
// Digest length in bytes (0 for the integer methods and hash).
std::size_t digest_length(Method m);

// CRC-32 of gzip and zlib (reflected polynomial 0xEDB88320); 0 for no bytes.
uint32_t crc32(const uint8_t* data, std::size_t size);
// The internet checksum of RFC 1071 over big-endian 16-bit words (an odd last byte is the
// high byte of a zero-padded word): 0xFFFF for no bytes, 0x3B9D for "abc".
uint32_t tcp(const uint8_t* data, std::size_t size);
// Adler-32 of RFC 1950; 1 for no bytes.
uint32_t adler32(const uint8_t* data, std::size_t size);

// The digest of a digest method into out; gives its length.
std::size_t digest(Method m, const uint8_t* data, std::size_t size, uint8_t* out);
// HMAC (RFC 2104) of the data under the key, on a digest method; gives its length.
std::size_t hmac(Method m, const uint8_t* key, std::size_t key_size, const uint8_t* data, std::size_t size,
                 uint8_t* out);

}  // namespace kov::checksum
