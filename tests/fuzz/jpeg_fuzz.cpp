// libFuzzer target for the JPEG decoder: any bytes (given the format's signature when they
// lack it) must decode to an image or end in access/bad-media; a decoded image must encode
// again and decode again (JPEG is lossy: the pixels may differ).
//
// Build: the `fuzz` preset (tests/fuzz/CMakeLists.txt), then
//   build/fuzz/tests/fuzz/jpeg_fuzz -max_total_time=60 build/fuzz/tests/fuzz/jpeg-corpus tests/kov/images
#include "tests/fuzz/codec_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kov::fuzz::run_with_input("fuzz-input:", data, size, R"~(
        fuzz-signature: #{FFD8FF}
        unless fuzz-signature == copy/part fuzz-input length? fuzz-signature [insert fuzz-input fuzz-signature]
        fuzz-value: try [system/codecs/jpeg/decode fuzz-input]
        either error? :fuzz-value [
            unless fuzz-value/id = 'bad-media [do fuzz-value]
        ][
            unless image? :fuzz-value [do make error! "not an image"]
            fuzz-again: system/codecs/jpeg/decode system/codecs/jpeg/encode fuzz-value none
            unless image? fuzz-again [do make error! "not read back"]
        ]
    )~");
}
