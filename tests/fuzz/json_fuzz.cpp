// libFuzzer target for load-json: any bytes, as UTF-8 text (refused text is fine), must decode
// to a value or end in a Kov error; a decoded value (of text holding no surrogate code point)
// must encode with to-json, compact, pretty and ASCII-only, into text that load-json reads back
// without error, and the compact text of that must be the same again.
//
// Build: the `fuzz` preset (tests/fuzz/CMakeLists.txt), then
//   build/fuzz/tests/fuzz/json_fuzz -max_total_time=60
#include "tests/fuzz/codec_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return kov::fuzz::run_with_input("fuzz-input:", data, size, R"~(
        fuzz-value: try [load-json to string! fuzz-input]
        ; Text holding a surrogate code point alone (bytes of one in UTF-8 form) decodes, but
        ; the escape to-json writes for it is one that load-json refuses by design.
        unless any [error? :fuzz-value  find to string! fuzz-input charset [#"^(D800)" - #"^(DFFF)"]] [
            fuzz-text: to-json :fuzz-value
            foreach fuzz-out reduce [fuzz-text to-json/pretty :fuzz-value "  " to-json/ascii :fuzz-value][
                if error? fuzz-again: load-json fuzz-out [do make error! rejoin ["not read back: " fuzz-out]]
            ]
            unless fuzz-text == to-json load-json fuzz-text [do make error! "a second round differs"]
        ]
    )~");
}
