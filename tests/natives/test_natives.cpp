// The natives of the test build (`kov-test`): internals that a Kov test needs to look at and
// that the language itself does not offer. They exist only in this build, never in `kov`.
//
//   collect-now    runs a full collection now, whether the collector is on or not
//   verify-heap    none when every node and buffer of the heap is sound, else the fault found
#include <cstring>

#include "boot/loader.h"
#include "boot/start.h"
#include "runtime/collector.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/routines.h"
#include "runtime/memory.h"

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

// Registered by name, then bound to words as the boot definitions bind the runtime's own.
void install() {
    routines::add("collect-now", collect_now);
    routines::add("verify-heap", verify_heap);
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
)kov");
}

}  // namespace

}  // namespace kov::test_natives

int main(int argc, char** argv) {
    return kov::boot::main(argc, argv, kov::test_natives::install);
}
