// The compression engines: raw deflate and inflation (zlib) and Zstandard frames (libzstd).
// Only compression.cpp sees the libraries.
//
// Every routine follows the codec contract: `capacity` holds the room at `out` in bytes and is
// replaced by the size produced, or, when the output does not fit, by the size needed.
// Results: 0 done, 1 output too small (needed size written back), 2 bad data or failure.
// A capacity of 0 with no output asks for the size. The decoders never produce more than
// `limit` bytes: output beyond it counts as bad data, so no input can ask for more memory
// than the caller allows. Nothing here allocates more than the library's own working state.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::os {

enum CodecResult : int { codec_done = 0, codec_short = 1, codec_bad = 2 };

// Level -1 is the library's default; deflate takes 0-9, Zstandard 1-22.
int deflate_raw(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level);
int inflate_raw(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, uint64_t limit);
int zstd_compress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, int level);
int zstd_decompress(uint8_t* out, uint32_t& capacity, const uint8_t* in, uint32_t length, uint64_t limit);

}  // namespace kov::os
