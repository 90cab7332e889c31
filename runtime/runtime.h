// The lowest layer below the language: the process-wide runtime record, the start-up steps
// that run before anything else, the routine that ends the process (with or without a fatal
// runtime error report), the systems-level throw, and the typed print used for low-level
// messages. Nothing here knows about values or series.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace kov::runtime {

struct Record {
    int argc = 0;
    char** argv = nullptr;         // argc + 1 entries, the last null; on the tracked heap
    uint32_t thrown_code = 0;      // the systems-level throw in progress
    const uint8_t* boot_image = nullptr;
    std::size_t boot_image_size = 0;
};
extern Record record;

// Start-up before the language runtime: fault handlers, then the arguments (copied as UTF-8).
void init_process(int argc, char** argv);

// Ends the process. Code 0 prints nothing; any other code prints the fatal-error report
// ("*** Runtime Error N: message" and "*** at: XXXXXXXXh"). Frees the tracked heap.
[[noreturn]] void quit(int code, uint32_t address);
// Ends the process with the status and no report (after a message of its own was printed).
[[noreturn]] void exit_with(int status);
// The message of a runtime error code ("unknown error code!" for a code without one).
const char* error_message(int code);
// A code address as the report shows it: relative to the program image's start.
uint32_t code_address(const void* address);
#define KOV_CALLER_ADDRESS() ::kov::runtime::code_address(__builtin_return_address(0))

// The systems-level throw: a code travelling to the outermost catch frame of the program
// entry, whose handler is `quit_handler`. 0xBADCAFE there means a quiet exit.
struct Throw {
    uint32_t code;
};
constexpr uint32_t quiet_exit_code = 0xBADCAFE;
[[noreturn]] void throw_code(uint32_t code);
[[noreturn]] void quit_handler(uint32_t code);

// Internal consistency failures that no language input can reach.
[[noreturn]] inline void no_switch_matched() { quit(101, KOV_CALLER_ADDRESS()); }

// The typed print: entries printed in order with nothing between them.
struct PrintItem {
    enum Tag : uint8_t { logic = 1, integer = 2, byte = 3, float32 = 4, float64 = 5, text = 6, hex = 7 };
    Tag tag;
    union {
        int64_t i;
        double d;
        const char* s;
    };
    PrintItem(bool v) : tag(logic), i(v) {}
    PrintItem(int v) : tag(integer), i(v) {}
    PrintItem(char v) : tag(byte), i(static_cast<unsigned char>(v)) {}
    PrintItem(float v) : tag(float32), d(v) {}
    PrintItem(double v) : tag(float64), d(v) {}
    PrintItem(const char* v) : tag(text), s(v) {}
    static PrintItem hex8(uint32_t v) { PrintItem p(0); p.tag = hex; p.i = v; return p; }
};
void print(std::initializer_list<PrintItem> items);
void print_line(std::initializer_list<PrintItem> items);
// Formats one entry into out (at least 64 bytes); gives the length.
std::size_t format_item(const PrintItem& item, char* out);

// Where low-level output goes; the console output layer installs its writer at start-up.
// Until then (and in a signal handler) bytes go straight to standard output.
using RawWriter = void (*)(const char* bytes, std::size_t count);
void set_raw_writer(RawWriter writer);

}  // namespace kov::runtime

namespace kov::math {
// Reduces an angle in degrees and converts it to radians for the trigonometric natives:
// kind 0 tangent (period 180), 1 cosine, 2 sine (symmetric about ±90).
double normalize_degrees(double angle, int kind);
}  // namespace kov::math

namespace kov::memory {
// (value + alignment - 1) with the low bits cleared; alignment is a power of two.
constexpr uint64_t round_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}
}  // namespace kov::memory
