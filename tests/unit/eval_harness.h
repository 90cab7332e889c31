// Evaluating Kov text in C++ tests: the runtime booted from the boot sources in the source
// tree, then the text loaded, evaluated and its result molded.
#pragma once
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "boot/loader.h"
#include "boot/sources.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/word.h"
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

// Evaluates the text and gives the text `text_of` makes of its value, or "error: category/id"
// for an error. The code and the value stay on the value stack until the text is made, since
// making it allocates (and, in the gc-stress build, collects).
inline std::string evaluate(const std::string& source, std::string (*text_of)(const Cell&)) {
    stack::Mark mark;
    uint32_t depth = stack::depth();
    Cell* code = stack::reserve();
    Cell* value = stack::reserve();
    lexer::Options options;
    try {
        lexer::scan(reinterpret_cast<const uint8_t*>(source.data()), source.size(), options, none::value, *code);
        stack::push_frame(stack::eval, nullptr);
        stack::reserve();
        interp::eval_block(*code, true);
        *value = *stack::values.args;
        stack::drop_frame();
        stack::values.top = value + 1;
        if (stack::exiting()) {
            stack::pending = stack::Pending{};
            return "pending exit";
        }
        return text_of(*value);
    } catch (const Error& e) {
        stack::unroll_to(depth, value + 1, stack::values.args);
        stack::pending = stack::Pending{};
        return std::string("error: ") + err::category_words[err::defs[e.id].category] + "/" + err::defs[e.id].word;
    }
}

// Evaluates the text; gives the molded result, or "error: category/id" for an error.
inline std::string eval(const std::string& source) {
    return evaluate(source, [](const Cell& v) { return mold(v); });
}

// A table of Kov texts and their molded results.
struct Case {
    const char* source;
    const char* result;
};
inline void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.result) << c.source;
}

// The value of a global word (kept alive by the global context).
inline Cell global(const char* name) { return *context::get(word::load(name)); }

}  // namespace kov::test
