// The natives of the test build (`kov-test`): internals that a Kov test needs to look at and
// that the language itself does not offer. They exist only in this build, never in `kov`.
//
//   collect-now    runs a full collection now, whether the collector is on or not
//   verify-heap    none when every node and buffer of the heap is sound, else the fault found
//   make-handle    a handle! of a value and a kind (the platform layer makes them in `kov`)
//   make-triple    a triple! of three integers (no routine of the runtime makes one)
//   http-limits    sets how long an HTTP transfer waits to connect and for a byte (ms)
#include <cstring>

#include "boot/loader.h"
#include "boot/start.h"
#include "runtime/collector.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/routines.h"
#include "runtime/memory.h"
#include "runtime/platform/http.h"

namespace kov::test_natives {

namespace {

void collect_now(routines::Args& args, const Cell&) {
    collector::collect();
    *args.cell(0) = unset::value;
}

void verify_heap(routines::Args& args, const Cell&) {
    const char* fault = memory::verify();
    if (!fault) {
        *args.cell(0) = none::value;
        return;
    }
    Cell* text = string::push(static_cast<uint32_t>(std::strlen(fault)), 1);
    string::concatenate_literal(*text, fault);
    *args.cell(0) = *text;
}

void make_handle(routines::Args& args, const Cell&) {
    handle::make_at(*args.cell(0), static_cast<int32_t>(args.cell(0)->w2), args.cell(1)->w2);
}

void make_triple(routines::Args& args, const Cell&) {
    triple::make_at(*args.cell(0), static_cast<int32_t>(args.cell(0)->w2), static_cast<int32_t>(args.cell(1)->w2),
                    static_cast<int32_t>(args.cell(2)->w2));
}

void http_limits(routines::Args& args, const Cell&) {
    os::http::limits.connect_ms = integer::get(*args.cell(0));
    os::http::limits.idle_ms = integer::get(*args.cell(1));
    *args.cell(0) = unset::value;
}

// Registered as the test family of runtime/defs/routines.def, then bound to words as the boot
// definitions bind the runtime's own.
void install() {
#define ROUTINES_test(index, entry) routines::register_entry(index, entry);
#include "runtime/interpreter/routines_register.h"
    routines::allow_make = true;
    struct Done {
        ~Done() { routines::allow_make = false; }
    } done;
    boot::evaluate(R"kov(
collect-now: make routine! [[
		"Runs a full collection now (test build only)"
	] collect-now]
verify-heap: make routine! [[
		"None when the heap is sound, else the fault found (test build only)"
	] verify-heap]
make-handle: make routine! [[
		"A handle! of a native value and a kind: 0 null, 1 fd, 2 monitor, 3 window, 4 font, 5 rich-text (test build only)"
		value [integer!] kind [integer!]
	] make-handle]
make-triple: make routine! [[
		"A triple! of three integers (test build only)"
		a [integer!] b [integer!] c [integer!]
	] make-triple]
http-limits: make routine! [[
		"Sets how long an HTTP transfer waits to connect and for a byte, in ms (test build only)"
		connect [integer!] idle [integer!]
	] http-limits]
)kov");
}

}  // namespace

}  // namespace kov::test_natives

int main(int argc, char** argv) {
    return kov::boot::main(argc, argv, kov::test_natives::install);
}
