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

void collect_now(Cell* args, const Cell&) {
    collector::collect();
    args[0] = unset::value;
}

void verify_heap(Cell* args, const Cell&) {
    const char* fault = memory::verify();
    if (!fault) {
        args[0] = none::value;
        return;
    }
    Cell* text = string::push(static_cast<uint32_t>(std::strlen(fault)), 1);
    string::concatenate_literal(*text, fault);
    args[0] = *text;
}

void make_handle(Cell* args, const Cell&) {
    handle::make_at(args[0], static_cast<int32_t>(args[0].w2), args[1].w2);
}

void make_triple(Cell* args, const Cell&) {
    triple::make_at(args[0], static_cast<int32_t>(args[0].w2), static_cast<int32_t>(args[1].w2),
                    static_cast<int32_t>(args[2].w2));
}

void http_limits(Cell* args, const Cell&) {
    os::http::limits.connect_ms = integer::get(args[0]);
    os::http::limits.idle_ms = integer::get(args[1]);
    args[0] = unset::value;
}

// Registered by name, then bound to words as the boot definitions bind the runtime's own.
void install() {
    routines::add("collect-now", collect_now);
    routines::add("verify-heap", verify_heap);
    routines::add("make-handle", make_handle);
    routines::add("make-triple", make_triple);
    routines::add("http-limits", http_limits);
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
