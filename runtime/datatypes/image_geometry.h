// Pixel geometry of image!: 2D vector arithmetic, the point-in-quadrilateral test, mirroring
// of a quadrilateral, a clipped rectangle copy and the mapping of a whole image into a target
// quadrilateral with bilinear sampling. Pixels are 32-bit words of four bytes, row after row
// with no padding; every byte is treated alike.
//
// A quadrilateral is four corners P0..P3 in this order; its edges P0P1 (top), P1P2 (right),
// P2P3 (bottom) and P3P0 (left). A point is inside when it lies right of no edge: for each
// edge, the cross product of (point - start) and (end - start) is 0 or less.
//
// Moving memory: nothing here allocates on the collected heap; `transform` gives a malloc'ed
// buffer the caller frees.
#pragma once
#include <cstdint>

namespace kov::geometry {

struct Vector {
    double x, y;
};
struct Point {
    float x, y;
};
struct Quad {
    Point p[4];
};

double vector_length(const Vector& v);
// The vector divided by its length, in place (a zero vector is left as it is).
void normalize(Vector& v);
Vector vector_subtract(double x1, double y1, double x2, double y2);
double cross(const Vector& a, const Vector& b);
bool right_of_edge(double x, double y, double x1, double y1, double x2, double y2);
bool point_in_quad(const Quad& q, double x, double y);
// Every corner's x (or y) becomes 2a - x (or 2a - y).
void mirror_quad_x(Quad& q, float a);
void mirror_quad_y(Quad& q, float a);

// Copies the rectangle at (x, y) of width × height pixels of the source into the destination,
// packed at the clipped row length: the rows are cut at the source's right edge and the row
// count at its bottom. False, with nothing copied, when the origin lies outside the source
// or the width or height is not positive.
bool copy_rect_pixels(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t x, int32_t y,
                      int32_t width, int32_t height, uint8_t* destination);

// The source scaled to width × height pixels into the destination by nearest neighbour: each
// destination pixel takes the source pixel under its centre. Nothing is written when a side
// of either is not positive.
void scale_pixels(const uint8_t* source, int32_t source_width, int32_t source_height, int32_t width,
                  int32_t height, uint8_t* destination);

// The source mapped into the quadrilateral: a new buffer of the quadrilateral's bounding box
// (its origin and size truncated toward zero, given in out_*), pixels outside the
// quadrilateral all bytes 0. Null when the source has no pixels, when a corner is not finite,
// when the box is empty or its sides or origin pass 65535 in size, or when memory is short.
uint8_t* transform(const uint8_t* source, int32_t source_width, int32_t source_height, const Quad& q, int32_t& out_x,
                   int32_t& out_y, int32_t& out_width, int32_t& out_height);

}  // namespace kov::geometry
