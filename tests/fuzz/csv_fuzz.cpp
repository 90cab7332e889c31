// libFuzzer target for load-csv: any bytes, as UTF-8 text, with the delimiter, quote character
// and layout chosen by the first byte, must give lines, records or columns, an error value,
// or the /header error; lines that load-csv gives must come back unchanged through to-csv.
//
// Build: the `fuzz` preset (tests/fuzz/CMakeLists.txt), then
//   build/fuzz/tests/fuzz/csv_fuzz -max_total_time=60
#include "tests/fuzz/codec_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    return kov::fuzz::run_with_input("fuzz-input:", data, size, R"~(
        fuzz-mode: first fuzz-input
        fuzz-text: try [to string! next fuzz-input]
        fuzz-with: pick [#"," #";" "::" #"^-"] 1 + (fuzz-mode and 3)
        fuzz-quote: pick [#"^"" #"'"] 1 + ((shift-right fuzz-mode 2) and 1)
        fuzz-value: unless error? fuzz-text [
            try [
                switch (shift-right fuzz-mode 3) and 7 [
                    0 [load-csv/with/quote fuzz-text fuzz-with fuzz-quote]
                    1 [load-csv/with/quote/header fuzz-text fuzz-with fuzz-quote]
                    2 [load-csv/with/quote/as-records fuzz-text fuzz-with fuzz-quote]
                    3 [load-csv/with/quote/header/as-records fuzz-text fuzz-with fuzz-quote]
                    4 [load-csv/with/quote/flat fuzz-text fuzz-with fuzz-quote]
                    5 [load-csv/with/quote/trim fuzz-text fuzz-with fuzz-quote]
                    6 [load-csv/with/quote/as-columns fuzz-text fuzz-with fuzz-quote]
                    7 [load-csv/with/quote/flat/header fuzz-text fuzz-with fuzz-quote]
                ]
            ]
        ]
        if all [
            zero? (shift-right fuzz-mode 3) and 7
            block? :fuzz-value
            not empty? fuzz-value
        ][
            fuzz-out: to-csv/with/quote fuzz-value fuzz-with fuzz-quote
            unless fuzz-value == fuzz-back: load-csv/with/quote fuzz-out fuzz-with fuzz-quote [
                do make error! rejoin ["not read back: " mold fuzz-out " gave " mold fuzz-back]
            ]
        ]
    )~");
}
