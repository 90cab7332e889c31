// libFuzzer target for the GIF decoder: any bytes (given the format's signature when they
// lack it) must decode to an image or end in access/bad-media; a decoded image must encode
// again and decode to the same pixels.
//
// Build: the `fuzz` preset (tests/fuzz/CMakeLists.txt), then
//   build/fuzz/tests/fuzz/gif_fuzz -max_total_time=60 build/fuzz/tests/fuzz/gif-corpus tests/kov/images
#include "tests/fuzz/codec_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kov::fuzz::run_with_input("fuzz-input:", data, size, R"~(
        fuzz-signature: #{474946383961}
        unless fuzz-signature == copy/part fuzz-input length? fuzz-signature [insert fuzz-input fuzz-signature]
        fuzz-value: try [system/codecs/gif/decode fuzz-input]
        either error? :fuzz-value [
            unless fuzz-value/id = 'bad-media [do fuzz-value]
        ][
            unless image? :fuzz-value [do make error! "not an image"]
            fuzz-again: system/codecs/gif/decode system/codecs/gif/encode fuzz-value none
            unless fuzz-again = fuzz-value [do make error! "a second round differs"]
        ]
    )~");
}
