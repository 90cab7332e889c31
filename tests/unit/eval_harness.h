// Evaluating Kov text in C++ tests: the runtime booted from the boot sources in the source
// tree, then the text loaded, evaluated and its result molded.
#pragma once
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "boot/loader.h"
#include "boot/sources.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/interp.h"
#include "runtime/lexer/lexer.h"
#include "tests/unit/harness.h"

namespace kov::test {

// The boot definitions that the tests evaluate against, read from the source tree. While
// a definition fails, every test of the fixture fails with its report.
inline const std::string& boot_failure() {
    static std::string failure = [] {
        Runtime::SetUpTestSuite();
        static const char* const files[] = {"boot/natives.kov", "boot/actions.kov", "boot/base.kov",
                                            "boot/routines.kov", "boot/functions.kov"};
        std::vector<std::string> texts;
        std::vector<boot::Source> sources;
        for (const char* f : files) {
            std::ifstream in(std::string(KOV_SOURCE_DIR) + "/" + f, std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            texts.push_back(ss.str());
        }
        for (std::size_t i = 0; i < texts.size(); ++i)
            sources.push_back({files[i], reinterpret_cast<const uint8_t*>(texts[i].data()), texts[i].size()});
        try {
            boot::run_definitions(sources.data(), sources.size());
        } catch (const Error& e) {
            return std::string("boot failed: ") + err::category_words[err::defs[e.id].category] + "/" +
                   err::defs[e.id].word;
        }
        return std::string();
    }();
    return failure;
}

struct Kov : Runtime {
    Kov() {
        if (!boot_failure().empty()) ADD_FAILURE() << boot_failure();
    }
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
