// Child processes: a stop asked for while waiting, or a capture past its limit, kills the
// child (and what its shell started) at once; command lines split as the console's do.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "runtime/platform/process.h"

using namespace kov::os;

namespace {

int polls_left = 0;
bool stop_after_polls() { return --polls_left < 0; }

struct StopGuard {
    ~StopGuard() { process::stop_requested = nullptr; }
};

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(Process, StopEndsEveryWait) {
    StopGuard guard;
    process::stop_requested = stop_after_polls;
    struct Row {
        const char* what;
        process::Route output;
    } rows[] = {
        {"waiting for the end", process::Route::quiet},
        {"reading its output", process::Route::pipe},
    };
    for (const Row& r : rows) {
        process::Launch l;
        l.command = "sleep 30";
        l.shell = true;
        l.wait = true;
        l.output = r.output;
        polls_left = 3;
        auto t0 = std::chrono::steady_clock::now();
        process::Outcome o = process::run(l);
        EXPECT_EQ(o.kind, process::Outcome::interrupted) << r.what;
        EXPECT_LT(seconds_since(t0), 5.0) << r.what;
    }
}

TEST(Process, NoStopRunsToTheEnd) {
    process::Launch l;
    l.command = "printf abc";
    l.output = process::Route::pipe;
    process::Outcome o = process::run(l);
    EXPECT_EQ(o.kind, process::Outcome::exited);
    EXPECT_EQ(o.value, 0);
    EXPECT_EQ(std::string(o.output.begin(), o.output.end()), "abc");
}

TEST(Process, CaptureBeyondTheLimitStopsTheChild) {
    process::Launch l;
    l.command = "cat /dev/zero";   // endless
    l.output = process::Route::pipe;
    l.capture_limit = 100000;
    process::Outcome o = process::run(l);
    EXPECT_EQ(o.kind, process::Outcome::overflowed);
    EXPECT_GT(o.output.size(), 100000u);
}

TEST(Process, CommandLinesSplitAtSpacesOutsideQuotes) {
    struct Row {
        const char* line;
        std::vector<std::string> words;
    } rows[] = {
        {"a b  c", {"a", "b", "c"}},
        {"  a\t\"b c\" d", {"a", "b c", "d"}},
        {"x\"y z\"w", {"xy zw"}},
        {"a \"\" b", {"a", "", "b"}},
        {"", {}},
    };
    for (const Row& r : rows) EXPECT_EQ(process::split_command(r.line), r.words) << r.line;
}
