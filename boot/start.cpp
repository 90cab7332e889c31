#include "boot/start.h"

#include "console/line_editor.h"

#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/handles.h"
#include "runtime/interpreter/checksum.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/random.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"
#include "runtime/memory.h"
#include "runtime/owner.h"
#include "runtime/platform/os.h"
#include "runtime/root.h"
#include "runtime/runtime.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

namespace kov::boot {

namespace {
// Every datatype module registers its types. Inheritance does not depend on the order here:
// the registry applies each registration once its parent's (runtime/defs/datatypes.def) is.
void register_datatypes() {
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    string::init();
    binary::init();
    integer::init();
    symbol::init();
    context::init();
    word::init();
    char_::init();
    native::init();
    op::init();
    path::init();
    lit_path::init();
    set_path::init();
    get_path::init();
    function::init();
    paren::init();
    issue::init();
    url::init();
    file::init();
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    vector::init();
    map::init();
    hash::init();
    pair::init();
    percent::init();
    tuple::init();
    time::init();
    tag::init();
    email::init();
    handle::init();
    date::init();
    money::init();
    ref::init();
    point2d::init();
    point3d::init();
    port::init();
    event::init();
    image::init();
    datatype::register_remaining();
}
}  // namespace

void init_runtime() {
    static bool done = false;
    if (done) return;
    done = true;
    console::init_output();
    print_hooks::init();
    random::init();
    memory::init();
    // Room for everything the boot definitions make (about 2.5 MB today) in one frame.
    memory::size_next_series_frame(3u << 20);
    handles::init();
    register_datatypes();
    root::init();
    context::init_global();
    symbol::init_table();
    // While the runtime makes its own words, each is also kept in the root block.
    context::boot_flag = true;
    datatype::init_names();
    words::init_runtime();
    words::init_routine_keywords();
    words::init_ooo_issue();
    context::boot_flag = false;
    owner::init();
    stack::init();
    stack::set_hidden_symbols(word::symbol_of(words::loaded::body_tag), word::symbol_of(words::loaded::anon_tag));
    natives::init();
    checksum::init();
    routines::init();
    // The console's routines: the runtime below it does not know the console.
    line_editor::register_routines();
    interp::init();
    lexer::init_tables();
    slotpool::init();
    collector::init();
    error::init_catalog();
}

}  // namespace kov::boot
