// Error reports printed instead of raised.
#include <string>

#include "runtime/console_output.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "tests/unit/eval_harness.h"

using namespace kov;

namespace {

std::string printed;
void capture(const uint8_t* bytes, std::size_t n) { printed.append(reinterpret_cast<const char*>(bytes), n); }

using ErrorReport = test::Kov;

TEST_F(ErrorReport, PrintNewPrintsTheReportAndGoesOn) {
    printed.clear();
    console::set_sink(capture);
    Cell arg = integer::make(5);
    error::print_new(err::script_invalid_arg, &arg, 1);
    console::set_sink(nullptr);
    EXPECT_EQ(printed.rfind("*** Script Error: invalid argument: 5\n", 0), 0u) << printed;
    EXPECT_NE(printed.find("*** Where: "), std::string::npos) << printed;
}

}  // namespace
