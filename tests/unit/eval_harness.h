// Evaluating Kov text in C++ tests: the runtime booted from the boot sources in the source
// tree, then the text loaded, evaluated and its result molded.
#pragma once
#include <fstream>
#include <sstream>
#include <string>

#include "boot/loader.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/interp.h"
#include "runtime/lexer/lexer.h"
#include "tests/unit/harness.h"

namespace kov::test {

inline void run_boot_file(const char* name) {
    std::ifstream in(std::string(KOV_SOURCE_DIR) + "/boot/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    boot::run_source(reinterpret_cast<const uint8_t*>(text.data()), text.size(), name);
}

struct Kov : Runtime {
    static void SetUpTestSuite() {
        Runtime::SetUpTestSuite();
        static bool booted = false;
        if (booted) return;
        booted = true;
        boot::set_datatype_words();
        run_boot_file("natives.kov");
        run_boot_file("actions.kov");
        run_boot_file("base.kov");
        run_boot_file("routines.kov");
        run_boot_file("functions.kov");
        // From here on the collector runs as in `kov` (at every allocation under gc-stress).
        collector::enable(true);
    }
    Kov() { SetUpTestSuite(); }
};

// Evaluates the text; gives the molded result, or "error: category/id" for an error.
inline std::string eval(const std::string& source) {
    stack::Mark mark;
    uint32_t depth = stack::depth();
    Cell* code = stack::reserve();
    lexer::Options options;
    try {
        lexer::scan(reinterpret_cast<const uint8_t*>(source.data()), source.size(), options, none::value, *code);
        stack::push_frame(stack::eval, nullptr);
        stack::reserve();
        interp::eval_block(*code, true);
        *code = *stack::values.args;  // the result stays on the stack (below the frame) while molded
        stack::leave_frame();
        if (stack::exiting()) {
            stack::pending = stack::Pending{};
            return "pending exit";
        }
        return mold(*code);
    } catch (const Error& e) {
        stack::unroll_to(depth, stack::values.top, stack::values.args);
        stack::pending = stack::Pending{};
        return std::string("error: ") + err::category_words[err::defs[e.id].category] + "/" + err::defs[e.id].word;
    }
}

}  // namespace kov::test
