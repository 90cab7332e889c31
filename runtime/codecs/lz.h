// The LZ codec: the runtime's own LZ77 byte compressor and its decompressor.
//
// Stream (every integer 32-bit little-endian):
//   0  bytes of the blocks that follow (the stream without this 8-byte header)
//   4  size of the uncompressed data
//   8  blocks: a 32-bit uncompressed length (1 .. block_size), then the block's bit stream
//      padded to a whole byte.
// Bits are packed least significant first; each block restarts its bit buffer and its hashes
// and never refers to bytes of another block, so blocks decode independently. Items are a
// literal (0, then 8 bits) or a match (1, a length code for lengths 3-566, a distance code
// for distances 1-262,144); a match copies byte by byte, so it may overlap its own output.
//
// What must stay true: decompression reads only the `length` bytes it is given and writes
// only the room it is given; every item either produces output or fails, and reading past
// the stream fails, so it always ends. A header whose uncompressed size the blocks could not
// produce, or that no series buffer could hold, is refused before anything is allocated.
// Failures are a status (-1 or null), not a Kov error: the callers (the Kovbin loader, the
// start-up data table) report corrupt data in their own words.
//
// Memory: work areas and the result of `decompress` live on the tracked heap; nothing here
// touches series memory, so the pointers passed in (even into a series) stay valid for the
// whole call.
#pragma once
#include <cstdint>

namespace kov::lz {

constexpr uint32_t header_size = 8;
constexpr uint32_t block_size = 1u << 20;  // uncompressed bytes a block holds at most
constexpr uint64_t min_input = 128;        // shorter inputs are not worth compressing

// Compresses size bytes into out, which has room for size bytes. Gives the stream size
// (header included), or -1 when the input is shorter than min_input, longer than the
// header can count, or does not shrink (the caller then stores it uncompressed).
int64_t compress(const uint8_t* in, uint64_t size, uint8_t* out);

// The uncompressed size the header of a stream of length bytes declares, or -1 when the
// header is cut, counts more block bytes than there are, or declares a size that its blocks
// could not produce or that is larger than a series buffer may be.
int64_t decompressed_size(const uint8_t* stream, uint64_t length);

// Decodes a stream of length bytes into out (room for capacity bytes). Gives the byte count,
// or -1 when the stream is corrupt or its declared size exceeds capacity.
int64_t decompress_into(const uint8_t* stream, uint64_t length, uint8_t* out, uint64_t capacity);

// The uncompressed bytes in a new tracked-heap block (release it with heap::free), their
// count in *size_out when given; null on any failure (nothing is then left allocated).
uint8_t* decompress(const uint8_t* stream, uint64_t length, uint64_t* size_out);

}  // namespace kov::lz
