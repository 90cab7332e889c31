// event!: events made by the back end, whose face, window, offset, key and picked the back
// end answers through its reader; once the back end lets the input record go, an event a
// program kept reads those fields as none. The cases of `make event!` are in
// tests/kov/events.kov.
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using EventTest = Kov;

namespace {

// A back end with one input record: the handle is its generation, bumped when the record is
// let go, so that a stale handle no longer matches.
uint32_t generation = 1;
Cell read_record(uint32_t handle, int32_t field, const Cell&) {
    if (handle != generation) return none::value;
    switch (field) {
    case event::f_offset: return pair::make(5, 6);
    case event::f_picked: return integer::make(42);
    default: return none::value;
    }
}

void keep_event(uint32_t type, uint32_t flags) {
    *context::get(word::load("be")) = event::make_backend(type, generation, flags);
}

}  // namespace

TEST_F(EventTest, BackendFieldsComeFromTheRecordWhileItLives) {
    event::set_reader(read_record);
    keep_event(9, event::down | event::shift | event::special_key);
    check({
        {"be/type", "click"},
        {"be/offset", "5x6"},
        {"be/picked", "42"},
        {"be/face", "none"},
        {"be/orientation", "none"},
        {"be/flags", "[down shift]"},  // the special-key bit is no flag
        {"reduce [be/down? be/shift? be/ctrl?]", "[true true false]"},
        {"pick be 4", "5x6"},
    });
    ++generation;  // the back end lets the record go
    check({
        {"be/offset", "none"},
        {"be/picked", "none"},
        {"be/type", "click"},  // kept in the cell itself
        {"be/down?", "true"},
    });
    event::set_reader(nullptr);
    check({{"be/offset", "none"}, {"be/type: 'up be/type", "up"}});
}
