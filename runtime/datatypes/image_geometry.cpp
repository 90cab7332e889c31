#include "runtime/datatypes/image_geometry.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kov::geometry {

double vector_length(const Vector& v) { return std::sqrt(v.x * v.x + v.y * v.y); }

void normalize(Vector& v) {
    double n = vector_length(v);
    if (n == 0) return;
    v.x /= n;
    v.y /= n;
}

Vector vector_subtract(double x1, double y1, double x2, double y2) { return {x2 - x1, y2 - y1}; }

double cross(const Vector& a, const Vector& b) { return a.x * b.y - a.y * b.x; }

bool right_of_edge(double x, double y, double x1, double y1, double x2, double y2) {
    return cross(vector_subtract(x1, y1, x, y), vector_subtract(x1, y1, x2, y2)) > 0;
}

bool point_in_quad(const Quad& q, double x, double y) {
    for (int i = 0; i < 4; ++i) {
        const Point& a = q.p[i];
        const Point& b = q.p[(i + 1) % 4];
        if (right_of_edge(x, y, a.x, a.y, b.x, b.y)) return false;
    }
    return true;
}

void mirror_quad_x(Quad& q, float a) {
    for (Point& p : q.p) p.x = 2 * a - p.x;
}

void mirror_quad_y(Quad& q, float a) {
    for (Point& p : q.p) p.y = 2 * a - p.y;
}

bool copy_rect_pixels(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t x, int32_t y,
                      int32_t width, int32_t height, uint8_t* destination) {
    if (x < 0 || y < 0 || x >= source_width || y >= source_height || width < 1 || height < 1) return false;
    int64_t row = width < source_width - x ? width : source_width - x;
    int64_t rows = height < source_height - y ? height : source_height - y;
    for (int64_t r = 0; r < rows; ++r)
        std::memcpy(destination + r * row * 4, source + ((y + r) * int64_t(source_width) + x) * 4, size_t(row) * 4);
    return true;
}

void scale_pixels(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t width,
                  int32_t height, uint8_t* destination) {
    if (source_width < 1 || source_height < 1 || width < 1 || height < 1) return;
    for (int64_t y = 0; y < height; ++y) {
        // The centre of row y, (y + 1/2) / height of the way down, falls in this source row.
        int64_t sy = ((2 * y + 1) * source_height) / (2 * int64_t(height));
        const uint8_t* row = source + sy * int64_t(source_width) * 4;
        uint8_t* out = destination + y * int64_t(width) * 4;
        for (int64_t x = 0; x < width; ++x) {
            int64_t sx = ((2 * x + 1) * source_width) / (2 * int64_t(width));
            std::memcpy(out + x * 4, row + sx * 4, 4);
        }
    }
}

uint8_t* transform(const uint8_t* source, int32_t source_width, int32_t source_height, const Quad& q, int32_t& out_x,
                   int32_t& out_y, int32_t& out_width, int32_t& out_height) {
    if (source_width < 1 || source_height < 1) return nullptr;
    float min_x = 3.4028235e38f, min_y = 3.4028235e38f, max_x = -3.4028235e38f, max_y = -3.4028235e38f;
    for (const Point& p : q.p) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return nullptr;
        min_x = std::fmin(min_x, p.x);
        min_y = std::fmin(min_y, p.y);
        max_x = std::fmax(max_x, p.x);
        max_y = std::fmax(max_y, p.y);
    }
    // The box must be a size an image can have, at a place a pair can name.
    constexpr float limit = 65535;
    if (std::fabs(min_x) > limit || std::fabs(min_y) > limit || max_x - min_x > limit || max_y - min_y > limit)
        return nullptr;
    out_x = int32_t(min_x);
    out_y = int32_t(min_y);
    out_width = int32_t(max_x - min_x);
    out_height = int32_t(max_y - min_y);
    if (out_width < 1 || out_height < 1) return nullptr;
    auto* out = static_cast<uint8_t*>(std::calloc(size_t(out_width) * size_t(out_height), 4));
    if (!out) return nullptr;
    Vector e[4];
    for (int i = 0; i < 4; ++i) {
        const Point& a = q.p[i];
        const Point& b = q.p[(i + 1) % 4];
        e[i] = vector_subtract(a.x, a.y, b.x, b.y);
        normalize(e[i]);
    }
    for (int32_t j = 0; j < out_height; ++j) {
        for (int32_t i = 0; i < out_width; ++i) {
            float qx = float(i + out_x), qy = float(j + out_y);
            if (!point_in_quad(q, qx, qy)) continue;
            double d[4];
            for (int k = 0; k < 4; ++k) d[k] = std::fabs(cross(vector_subtract(q.p[k].x, q.p[k].y, qx, qy), e[k]));
            // A degenerate quadrilateral puts a point on two opposite edges at once.
            if (d[3] + d[1] == 0 || d[0] + d[2] == 0) continue;
            float sx = float(d[3] / (d[3] + d[1]) * source_width);
            float sy = float(d[0] / (d[0] + d[2]) * source_height);
            int32_t ix = int32_t(sx), iy = int32_t(sy);
            if (ix < 0 || iy < 0 || ix >= source_width || iy >= source_height) continue;
            int32_t ix1 = ix + 1 == source_width ? ix : ix + 1;
            int32_t iy1 = iy + 1 == source_height ? iy : iy + 1;
            float fx = sx - float(ix), fy = sy - float(iy);
            if (fx < 0) fx = 0;
            if (fy < 0) fy = 0;
            float w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
            const uint8_t* p00 = source + (int64_t(iy) * source_width + ix) * 4;
            const uint8_t* p10 = source + (int64_t(iy) * source_width + ix1) * 4;
            const uint8_t* p01 = source + (int64_t(iy1) * source_width + ix) * 4;
            const uint8_t* p11 = source + (int64_t(iy1) * source_width + ix1) * 4;
            uint8_t* o = out + (int64_t(j) * out_width + i) * 4;
            for (int c = 0; c < 4; ++c) {
                int32_t v = int32_t(p00[c] * w00 + p10[c] * w10 + p01[c] * w01 + p11[c] * w11);
                o[c] = uint8_t(v > 255 ? 255 : v);
            }
        }
    }
    return out;
}

}  // namespace kov::geometry
