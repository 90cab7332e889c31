// The platform layer: zone packing, dates, sleeping, environment, current directory.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/platform/os.h"

using namespace kov;

TEST(Os, ZoneOffsetsKeepTheirSign) {
    struct Row {
        long minutes;
        uint32_t bits;
    } rows[] = {
        {330, 5u << 2 | 2},            // +5:30
        {-180, 0x40 | 3u << 2},        // -3:00
        {-30, 0x40 | 2},               // -0:30 stays negative
        {-195, 0x40 | 3u << 2 | 1},    // -3:15
        {0, 0},
        {765, 12u << 2 | 3},           // +12:45
    };
    for (auto r : rows) EXPECT_EQ(os::pack_zone(r.minutes), r.bits) << r.minutes;
}

TEST(Os, DateAndTime) {
    uint32_t d = os::get_date(true);
    EXPECT_GE(d >> 17, 2024u);
    uint32_t month = (d >> 12) & 15, day = (d >> 7) & 31;
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_TRUE(day >= 1 && day <= 31);
    EXPECT_EQ(d & 0x7F, 0u);
    double t = os::get_time(false);
    EXPECT_TRUE(t >= 0 && t < 86400 && t == std::floor(t));
    double a = os::get_time(true);
    os::sleep(0.002);
    double b = os::get_time(true);
    EXPECT_NE(a, b);
}

TEST(Os, SleepClampsOddDurations) {
    int64_t t0 = os::monotonic_ns();
    os::sleep(std::nan(""));   // one millisecond, not forever
    os::sleep(-5);
    os::sleep(0.0001);
    int64_t t1 = os::monotonic_ns();
    EXPECT_GE(t1 - t0, 3'000'000);
    EXPECT_LT(t1 - t0, 2'000'000'000);
}

TEST(Os, EnvironmentAndDirectory) {
    char buf[8];
    EXPECT_TRUE(os::set_env("KOV_TEST_VAR", "a-long-value"));
    EXPECT_EQ(os::get_env("KOV_TEST_VAR", buf, sizeof buf), 12);
    EXPECT_STREQ(buf, "a-long-");  // cut to fit, still terminated
    EXPECT_TRUE(os::set_env("KOV_TEST_VAR", nullptr));
    EXPECT_EQ(os::get_env("KOV_TEST_VAR", buf, sizeof buf), -1);
    EXPECT_FALSE(os::set_env("A=B", "x"));

    char dir[4096];
    long n = os::get_current_dir(dir, sizeof dir);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(dir).size(), static_cast<std::size_t>(n));
    EXPECT_TRUE(os::set_current_dir("/"));
    char root[8];
    EXPECT_EQ(os::get_current_dir(root, sizeof root), 1);
    EXPECT_TRUE(os::set_current_dir(dir));
}
