// Compression methods behind `compress` and `decompress`: raw deflate, the zlib container
// (RFC 1950) and the gzip container (RFC 1952) around it, and Zstandard frames.
//
// Every routine follows the codec contract: `capacity` holds the room at `out` in bytes and is
// replaced by the size produced, or, when the output does not fit, by the size needed.
// Results: 0 done, 1 output too small (needed size written back), 2 bad data or failure. A
// capacity of 0 with no output asks a decoder for the size.
//
// Decoders never trust a size the data declares: the output a method may produce is bounded by
// what its input could expand to (`max_output`), and a declared size beyond it (a gzip ISIZE,
// a Zstandard content size) is bad data before anything is allocated or decoded. Decoders work
// on a private copy of their input, so the input may lie anywhere, even under the output.
//
// Memory: nothing here touches series memory; pointers passed in stay valid for the call.
#pragma once
#include <cstdint>

namespace kov::compress {

enum Method : int { m_none = -1, m_zlib, m_deflate, m_gzip, m_zstd };

// The method named by a spelling, compared without case; m_none when it names none.
Method method_of(const uint8_t* spelling, uint32_t length);

// The most output a method may produce from `length` bytes of input.
uint64_t max_output(Method method, uint64_t length);

// Level -1 is the default of the underlying engine.
int zlib_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level);
int zlib_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length);
int gzip_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level);
int gzip_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length);
int deflate_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level);
int deflate_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length);
int zstd_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level);
int zstd_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length);

// By method.
int encode(Method method, uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level);
int decode(Method method, uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length);

}  // namespace kov::compress
