// The pixel geometry of images: the inside test, mirroring, the clipped rectangle copy and
// the mapping into a quadrilateral.
#include <gtest/gtest.h>

#include <array>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "runtime/datatypes/image_geometry.h"

using namespace kov::geometry;

namespace {

// A w × h picture whose pixel (x, y) has the bytes x*10, y*10, 7, 255.
std::vector<uint8_t> picture(int w, int h) {
    std::vector<uint8_t> p(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* q = &p[(size_t(y) * w + x) * 4];
            q[0] = uint8_t(x * 10);
            q[1] = uint8_t(y * 10);
            q[2] = 7;
            q[3] = 255;
        }
    return p;
}

Quad rect(float x0, float y0, float x1, float y1) { return Quad{{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}}; }

}  // namespace

TEST(ImageGeometry, VectorsAndInsideTest) {
    Vector v{3, 4};
    EXPECT_DOUBLE_EQ(vector_length(v), 5);
    normalize(v);
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    EXPECT_DOUBLE_EQ(v.y, 0.8);
    EXPECT_DOUBLE_EQ(cross({1, 0}, {0, 1}), 1);
    Quad q = rect(0, 0, 4, 2);
    // Inside, on the edges and corners (cross product 0 counts as inside), and outside.
    EXPECT_TRUE(point_in_quad(q, 2, 1));
    EXPECT_TRUE(point_in_quad(q, 0, 0));
    EXPECT_TRUE(point_in_quad(q, 4, 2));
    EXPECT_FALSE(point_in_quad(q, 4.01, 1));
    EXPECT_FALSE(point_in_quad(q, 2, -0.01));
    EXPECT_FALSE(point_in_quad(q, -1, 1));
}

TEST(ImageGeometry, Mirroring) {
    Quad q = rect(1, 2, 3, 5);
    mirror_quad_x(q, 4);
    EXPECT_FLOAT_EQ(q.p[0].x, 7);
    EXPECT_FLOAT_EQ(q.p[1].x, 5);
    mirror_quad_y(q, 0);
    EXPECT_FLOAT_EQ(q.p[0].y, -2);
    EXPECT_FLOAT_EQ(q.p[2].y, -5);
}

TEST(ImageGeometry, RectangleCopyClipsAndPacks) {
    std::vector<uint8_t> src = picture(4, 3);
    std::vector<uint8_t> dst(64 * 4, 0xEE);
    // 3 wide from column 2 runs past the right edge: rows of 2 pixels, packed.
    ASSERT_TRUE(copy_rect_pixels(src.data(), 4, 3, 2, 1, 3, 5, dst.data()));
    const uint8_t expected[][2] = {{20, 10}, {30, 10}, {20, 20}, {30, 20}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(dst[k * 4], expected[k][0]) << k;
        EXPECT_EQ(dst[k * 4 + 1], expected[k][1]) << k;
    }
    EXPECT_EQ(dst[16], 0xEE);  // nothing past the 4 pixels
    std::vector<uint8_t> untouched(dst);
    // Origins outside the source and empty sizes copy nothing.
    for (auto [x, y, w, h] : std::vector<std::array<int, 4>>{{-1, 0, 1, 1}, {0, -1, 1, 1}, {4, 0, 1, 1}, {0, 3, 1, 1},
                                                             {0, 0, 0, 1}, {0, 0, 1, -2}}) {
        EXPECT_FALSE(copy_rect_pixels(src.data(), 4, 3, x, y, w, h, dst.data())) << x << " " << y << " " << w << " " << h;
    }
    EXPECT_EQ(dst, untouched);
}

TEST(ImageGeometry, NearestNeighbourScaling) {
    std::vector<uint8_t> src = picture(4, 3);
    // Each output pixel takes the source pixel under its centre: (x, y) as source columns and
    // rows, for growing, shrinking and mixed scales.
    struct Case {
        int w, h;
        std::vector<int> columns, rows;
    };
    for (const Case& c : std::vector<Case>{{8, 6, {0, 0, 1, 1, 2, 2, 3, 3}, {0, 0, 1, 1, 2, 2}},
                                           {2, 1, {1, 3}, {1}},
                                           {3, 2, {0, 2, 3}, {0, 2}},
                                           {4, 3, {0, 1, 2, 3}, {0, 1, 2}},
                                           {1, 7, {2}, {0, 0, 1, 1, 1, 2, 2}}}) {
        std::vector<uint8_t> dst(size_t(c.w) * c.h * 4, 0xEE);
        scale_pixels(src.data(), 4, 3, c.w, c.h, dst.data());
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const uint8_t* q = &dst[(size_t(y) * c.w + x) * 4];
                EXPECT_EQ(q[0], c.columns[x] * 10) << c.w << "x" << c.h << " at " << x << "," << y;
                EXPECT_EQ(q[1], c.rows[y] * 10) << c.w << "x" << c.h << " at " << x << "," << y;
                EXPECT_EQ(q[2], 7);
                EXPECT_EQ(q[3], 255);
            }
    }
    // Sides that are not positive write nothing.
    std::vector<uint8_t> dst(16, 0xEE), untouched(dst);
    for (auto [sw, sh, w, h] : std::vector<std::array<int, 4>>{{0, 3, 2, 2}, {4, -1, 2, 2}, {4, 3, 0, 2}, {4, 3, 2, -1}})
        scale_pixels(src.data(), sw, sh, w, h, dst.data());
    EXPECT_EQ(dst, untouched);
}

TEST(ImageGeometry, TransformOntoTheSourceRectangleReproducesIt) {
    std::vector<uint8_t> src = picture(6, 4);
    int32_t x, y, w, h;
    uint8_t* out = transform(src.data(), 6, 4, rect(0, 0, 6, 4), x, y, w, h);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 4);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            for (int c = 0; c < 4; ++c) EXPECT_EQ(out[(j * w + i) * 4 + c], src[(j * 6 + i) * 4 + c]) << i << "," << j;
    std::free(out);
}

TEST(ImageGeometry, TransformScalesAndLeavesTheOutsideClear) {
    // A 2x1 picture of one black and one white pixel, stretched over a triangle-like quad whose
    // fractional corners give a truncated box.
    const uint8_t src[8] = {0, 0, 0, 255, 200, 200, 200, 255};
    int32_t x, y, w, h;
    Quad q{{{1.7f, 2.9f}, {9.2f, 2.9f}, {9.2f, 6.6f}, {5.0f, 6.6f}}};
    uint8_t* out = transform(src, 2, 1, q, x, y, w, h);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(x, 1);
    EXPECT_EQ(y, 2);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 3);
    // (1, 2) lies outside the quad: all bytes 0. (7, 3) lies inside near the right edge and
    // takes the white pixel; (2, 3), just inside the left edge, is nearly black: the blend
    // runs from left to right.
    for (int c = 0; c < 4; ++c) EXPECT_EQ(out[c], 0);
    const uint8_t* right = out + (1 * w + 6) * 4;
    const uint8_t* left = out + (1 * w + 1) * 4;
    EXPECT_EQ(right[0], 200);
    EXPECT_GE(right[3], 254);  // the blend is truncated, not rounded
    EXPECT_LT(left[0], 40);
    EXPECT_GE(left[3], 254);
    const uint8_t* middle = out + (1 * w + 3) * 4;
    EXPECT_GT(middle[0], left[0]);
    EXPECT_LT(middle[0], right[0]);
    std::free(out);
}

TEST(ImageGeometry, TransformRefusesUnsoundTargets) {
    std::vector<uint8_t> src = picture(2, 2);
    int32_t x, y, w, h;
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    for (const Quad& q : {rect(0, 0, inf, 2), rect(0, nan, 2, 2), rect(0, 0, 1e9f, 2), rect(-1e6f, 0, 2, 2),
                          rect(3, 3, 3, 9), rect(3, 3, 9, 3.5f)}) {
        EXPECT_EQ(transform(src.data(), 2, 2, q, x, y, w, h), nullptr);
    }
    EXPECT_EQ(transform(src.data(), 0, 2, rect(0, 0, 2, 2), x, y, w, h), nullptr);
}
