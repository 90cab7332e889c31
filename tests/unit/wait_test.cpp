// wait sleeps in short slices and stops early once the console's interrupt check answers true
// (Kov code cannot press Ctrl+C on itself, so the check is installed here).
#include "runtime/interpreter/natives.h"
#include "runtime/platform/os.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;
using WaitTest = kov::test::Kov;

namespace {
int checks = 0;
bool interrupt_after_three_checks() { return ++checks >= 3; }
}  // namespace

TEST_F(WaitTest, StopsEarlyOnAnInterrupt) {
    checks = 0;
    natives::interrupt_pending = interrupt_after_three_checks;
    int64_t start = os::monotonic_ns();
    EXPECT_EQ(eval("wait 30"), "none");
    double seconds = double(os::monotonic_ns() - start) / 1e9;
    natives::interrupt_pending = nullptr;
    EXPECT_EQ(checks, 3);
    EXPECT_LT(seconds, 5.0) << "the wait ran its whole course";
    EXPECT_GT(seconds, 0.05) << "the wait did not sleep between its checks";
}
