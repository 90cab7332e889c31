#include "runtime/runtime.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/heap.h"
#include "runtime/platform/os.h"

namespace kov::runtime {

Record record;

namespace {

void write_stdout(const char* bytes, std::size_t count) {
    os::write_all(os::std_out, bytes, count);
}
RawWriter raw_writer = write_stdout;

struct ErrorRow {
    int code;
    const char* message;
};
constexpr ErrorRow error_rows[] = {
#define RUNTIME_ERROR(code, message) {code, message},
#include "runtime/defs/runtime_errors.def"
#undef RUNTIME_ERROR
};

// Builds the two-line report without allocating, so that the fault handler can use it too.
std::size_t format_report(int code, uint32_t address, char* out) {
    char* p = out;
    auto put = [&](const char* s) {
        std::size_t n = std::strlen(s);
        std::memcpy(p, s, n);
        p += n;
    };
    put("\n*** Runtime Error ");
    char digits[16];
    int n = 0;
    unsigned v = code < 0 ? static_cast<unsigned>(-static_cast<long>(code)) : static_cast<unsigned>(code);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (code < 0) *p++ = '-';
    while (n) *p++ = digits[--n];
    put(": ");
    put(error_message(code));
    put("\n*** at: ");
    for (int shift = 28; shift >= 0; shift -= 4) *p++ = "0123456789ABCDEF"[(address >> shift) & 0xF];
    put("h\n");
    return static_cast<std::size_t>(p - out);
}

void report_fault(int code, uintptr_t address) {
    // Async-signal-safe: a stack buffer and write(2) only.
    char text[256];
    std::size_t n = format_report(code, static_cast<uint32_t>(address - os::image_base()), text);
    os::write_all(os::std_out, text, n);
}

}  // namespace

void set_raw_writer(RawWriter writer) {
    raw_writer = writer ? writer : write_stdout;
}

const char* error_message(int code) {
    for (const auto& row : error_rows)
        if (row.code == code) return row.message;
    return "unknown error code!";
}

uint32_t code_address(const void* address) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address) - os::image_base());
}

void init_process(int argc, char** argv) {
    os::install_fault_handlers(report_fault);
    // The arguments already are UTF-8 bytes on Linux; they are copied so that the runtime
    // owns them for the whole run.
    record.argc = argc;
    record.argv = static_cast<char**>(heap::allocate(sizeof(char*) * (static_cast<std::size_t>(argc) + 1)));
    for (int i = 0; i < argc; ++i) {
        std::size_t n = std::strlen(argv[i]) + 1;
        record.argv[i] = static_cast<char*>(heap::allocate(n));
        std::memcpy(record.argv[i], argv[i], n);
    }
    record.argv[argc] = nullptr;
}

void quit(int code, uint32_t address) {
    if (code != 0) {
        char text[256];
        std::size_t n = format_report(code, address, text);
        raw_writer(text, n);
    }
    exit_with(code);
}

void exit_with(int status) {
    heap::free_all();
    record.argv = nullptr;
    record.argc = 0;
    os::exit_process(status);
}

void throw_code(uint32_t code) {
    record.thrown_code = code;
    throw Throw{code};
}

void quit_handler(uint32_t code) {
    if (code == quiet_exit_code) quit(0, 0);
    quit(95, KOV_CALLER_ADDRESS());
}

std::size_t format_item(const PrintItem& item, char* out) {
    switch (item.tag) {
    case PrintItem::logic:
        std::strcpy(out, item.i ? "true" : "false");
        return std::strlen(out);
    case PrintItem::integer:
        return static_cast<std::size_t>(std::snprintf(out, 64, "%i", static_cast<int>(item.i)));
    case PrintItem::byte:
        out[0] = static_cast<char>(item.i);
        out[1] = '\0';
        return 1;
    case PrintItem::float32:
    case PrintItem::float64: {
        double d = item.d;
        if (std::isnan(d)) return static_cast<std::size_t>(std::snprintf(out, 64, "1.#NaN"));
        if (std::isinf(d)) return static_cast<std::size_t>(std::snprintf(out, 64, d < 0 ? "-1.#INF" : "1.#INF"));
        return static_cast<std::size_t>(std::snprintf(out, 64, item.tag == PrintItem::float32 ? "%.7g" : "%.16g", d));
    }
    case PrintItem::text: {
        // Text entries are printed by the caller straight from their bytes.
        out[0] = '\0';
        return 0;
    }
    default:
        return static_cast<std::size_t>(std::snprintf(out, 64, "%08X", static_cast<uint32_t>(item.i)));
    }
}

void print(std::initializer_list<PrintItem> items) {
    char number[64];
    for (const auto& item : items) {
        if (item.tag == PrintItem::text) {
            if (item.s) raw_writer(item.s, std::strlen(item.s));
        } else {
            raw_writer(number, format_item(item, number));
        }
    }
}

void print_line(std::initializer_list<PrintItem> items) {
    print(items);
    raw_writer("\n", 1);
}

}  // namespace kov::runtime

namespace kov::cell {

// A typed accessor met a cell of another datatype, or a node no longer alive.
void wrong_cell() { runtime::quit(98, KOV_CALLER_ADDRESS()); }

}  // namespace kov::cell

namespace kov::math {

double normalize_degrees(double angle, int kind) {
    angle = std::fmod(angle, 360.0);
    if (angle > 180.0 || angle < -180.0) angle += angle < 0.0 ? 360.0 : -360.0;
    if (angle > 90.0 || angle < -90.0) {
        if (kind == 0) angle += angle < 0.0 ? 180.0 : -180.0;
        else if (kind == 2) angle = angle >= 0.0 ? 180.0 - angle : -180.0 - angle;
    }
    return angle * 3.141592653589793 / 180.0;
}

}  // namespace kov::math
