// The routines of the Kovbin codec object (`system/codecs/kovbin`): `encode*` gives the
// compact or the fixed encoding of a value, `decode` the value or values of a blob read from
// a binary! or a file.
//
// Moving memory: both allocate (the blob, the decoded values, the file's bytes).
#include "runtime/codecs/kovbin.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"

namespace kov::kovbin {

namespace {

void kovbin_encode(routines::Args& args, const Cell&) {
    stack::Mark mark;
    bool compact = !(cell::is(*args.cell(1), T_logic) && logic::get(*args.cell(1)) == 0) && !cell::is(*args.cell(1), T_none);
    *args.cell(0) = *encode(*args.cell(0), compact);
}

void kovbin_decode(routines::Args& args, const Cell&) {
    stack::Mark mark;
    Cell data = *args.cell(0);
    if (cell::is(data, T_file)) {
        ReadArgs read_args{};
        read_args.binary = true;
        Cell* source = stack::push(data);
        data = *io::read(source, read_args);
    }
    *args.cell(0) = *decode(data);
}

}  // namespace

void register_routines() {
#define ROUTINES_kovbin(index, entry) routines::register_entry(index, entry);
#include "runtime/interpreter/routines_register.h"
}

}  // namespace kov::kovbin
