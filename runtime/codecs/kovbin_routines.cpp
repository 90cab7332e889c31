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

void encode_x(Cell* args, const Cell&) {
    stack::Mark mark;
    bool compact = !(cell::is(args[1], T_logic) && logic::get(args[1]) == 0) && !cell::is(args[1], T_none);
    args[0] = *encode(args[0], compact);
}

void decode_payload(Cell* args, const Cell&) {
    stack::Mark mark;
    Cell data = args[0];
    if (cell::is(data, T_file)) {
        ReadArgs read_args{};
        read_args.binary = true;
        Cell* source = stack::push(data);
        data = *io::read(source, read_args);
    }
    args[0] = *decode(data);
}

}  // namespace

void register_routines() {
    routines::add("kovbin-encode", encode_x);
    routines::add("kovbin-decode", decode_payload);
}

}  // namespace kov::kovbin
