// The platform layer: zone packing, dates, sleeping, environment, current directory, the PNG
// decoder's guard against chunk claims.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "runtime/platform/images.h"
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

// A PNG chunk claiming far more bytes than the file holds is refused without the library first
// taking memory of the size claimed (a text chunk claiming 1.2 GB in a small file took as much,
// zeroed, and seconds). Each row's chunk type follows a valid header; the peak resident set
// must not grow by the claim.
TEST(Os, PngChunkClaimsTakeNoMemory) {
    const uint8_t head[] = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a,  // signature
                            0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,  // IHDR: 5x3, RGBA 8
                            0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x03, 0x08, 0x06,
                            0x00, 0x00, 0x00, 0x5b, 0x36, 0xc5, 0xf8};
    for (const char* type : {"tEXt", "zTXt", "iTXt", "iCCP", "eXIf", "sPLT", "ruSt"}) {
        std::vector<uint8_t> png(std::begin(head), std::end(head));
        const uint8_t claim[] = {0x48, 0x00, 0x00, 0x25};  // 1.2 GB
        png.insert(png.end(), std::begin(claim), std::end(claim));
        png.insert(png.end(), type, type + 4);
        for (char c : std::string("date:create\0" "2026", 16)) png.push_back(static_cast<uint8_t>(c));
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        os::DecodedImage out;
        os::ImageStatus status = os::decode_png(png.data(), png.size(), uint64_t(1) << 30, out);
        if (status == os::ImageStatus::no_library) GTEST_SKIP() << "libpng is not installed";
        getrusage(RUSAGE_SELF, &after);
        EXPECT_EQ(status, os::ImageStatus::bad_data) << type;
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << type << ": peak KiB grew";
    }
}
