// libFuzzer target for the LZ decompressor: any byte string is a stream to decode, which must
// fail or give exactly its declared size without touching memory outside what it is given.
// Inputs long enough to compress whose last byte is 'Z' also make a round trip, which must
// give them back (only some: the compressor sets up 8 MiB of tables per call).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/codecs/lz.h"
#include "runtime/heap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kov;

    // A private copy of exactly the input's size, so a read past it is caught.
    std::unique_ptr<uint8_t[]> stream(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(stream.get(), data, size);

    int64_t declared = lz::decompressed_size(stream.get(), size);
    uint64_t count = 0;
    uint8_t* out = lz::decompress(stream.get(), size, &count);
    if (out) {
        if (declared < 0 || count != uint64_t(declared)) std::abort();
        heap::free(out);
    }

    if (size >= lz::min_input && data[size - 1] == 'Z') {
        std::unique_ptr<uint8_t[]> packed(new uint8_t[size]);
        int64_t n = lz::compress(stream.get(), size, packed.get());
        if (n >= 0) {
            if (uint64_t(n) > size) std::abort();
            uint8_t* back = lz::decompress(packed.get(), uint64_t(n), &count);
            if (!back || count != size || std::memcmp(back, data, size) != 0) std::abort();
            heap::free(back);
        }
    }
    return 0;
}
