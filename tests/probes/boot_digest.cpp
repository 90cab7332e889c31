// Boots the runtime from the embedded boot image (`image`) or from the boot sources of a
// source tree (`sources ROOT`), then prints, for every global word with a value, in the
// order of the global context, its name, a checksum of its molded value and a checksum of
// the bindings in its body (a function's, or those of an object's functions: for each word,
// whether it is bound to the function itself, to the global context, to nothing, or to
// another context, named by its words). The test same_boot.cmake runs both ways: the image,
// decoded and run with the start-up's shortcuts (function bodies copied and bound at their
// first use among them), must leave exactly the words, values and bindings that the lexed
// sources leave.
#include <cstring>

#include "boot/image.h"
#include "boot/loader.h"
#include "boot/sources.h"
#include "boot/start.h"
#include "runtime/error.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"

using namespace kov;

namespace {

const char* root = nullptr;

const char* const digest =
    "digest-walk: func [code fn out /local ctx] [\n"
    "    foreach v code [\n"
    "        if any-word? :v [\n"
    "            ctx: context? v\n"
    "            append out either none? :ctx [{u}] [\n"
    "                either same? :ctx :fn [{f}] [\n"
    "                    either same? :ctx system/words [{g}] [checksum mold/flat words-of :ctx 'crc32]\n"
    "                ]\n"
    "            ]\n"
    "        ]\n"
    "        if any-block? :v [digest-walk v :fn out]\n"
    "    ]\n"
    "    out\n"
    "]\n"
    "digest-bindings: func [value /local out f] [\n"
    "    out: make string! 64\n"
    "    if function? :value [digest-walk body-of :value :value out]\n"
    "    if object? :value [\n"
    "        foreach w words-of value [f: get/any in value w  if function? :f [digest-walk body-of :f :f out]]\n"
    "    ]\n"
    "    out\n"
    "]\n"
    "foreach w words-of system/words [\n"
    "    if value? w [print [mold w checksum mold/all get/any w 'crc32 checksum digest-bindings get/any w 'crc32]]\n"
    "]\n"
    "print [length? words-of system/words {words}]\n";

int run(void*) {
    os::note_stack_bounds(boot::stack_reserve);
    try {
        boot::init_runtime();
        if (root) {
            boot::SourceFiles files = boot::read_tree(root);
            std::vector<boot::Source> list = files.list();
            boot::run_definitions(list.data(), list.size());
        } else {
            boot::run_image(boot::image, boot::image_size);
        }
        boot::evaluate(digest);
    } catch (const runtime::Throw& t) {
        runtime::quit_handler(t.code);
    } catch (const Error& e) {
        boot::print_error(e);
        runtime::exit_with(1);
    }
    runtime::quit(0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    bool image = argc == 2 && std::strcmp(argv[1], "image") == 0;
    bool sources = argc == 3 && std::strcmp(argv[1], "sources") == 0;
    if (!image && !sources) return 2;
    if (sources) root = argv[2];
    // The mode is not the system's business: both ways see the same (empty) command line.
    runtime::init_process(1, argv);
    return os::run_on_large_stack(boot::stack_size, run, nullptr);
}
