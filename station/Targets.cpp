#include "Targets.h"

#include <algorithm>
#include <cmath>

namespace zeb::station {

namespace {

// A height field and its slope, summed over the features of a target.
struct Relief {
    double height = 0, dx = 0, dy = 0;
};

// A spherical cap rising from the plane: base circle of radius `base` around (cx, cy), `top` high.
void AddCap(Relief& relief, double x, double y, double cx, double cy, double base, double top) {
    const double sphere = (base * base + top * top) / (2 * top);
    const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
    if (r2 >= base * base)
        return;
    const double z = std::sqrt(sphere * sphere - r2);
    relief.height += z - (sphere - top);
    relief.dx -= (x - cx) / z;
    relief.dy -= (y - cy) / z;
}

// A rectangular pad `top` high with bevelled edges `bevel` wide.
void AddPad(Relief& relief, double x, double y, double cx, double cy, double halfWidth, double halfHeight,
            double top, double bevel) {
    const double inX = halfWidth - std::fabs(x - cx), inY = halfHeight - std::fabs(y - cy);
    const double inside = std::min(inX, inY);
    if (inside <= 0)
        return;
    if (inside >= bevel) {
        relief.height += top;
        return;
    }
    relief.height += top * inside / bevel;
    if (inX < inY)
        relief.dx -= std::copysign(top / bevel, x - cx);
    else
        relief.dy -= std::copysign(top / bevel, y - cy);
}

// A groove of parabolic section along a circle of radius `radius` around (cx, cy).
void AddRingGroove(Relief& relief, double x, double y, double cx, double cy, double radius, double halfWidth,
                   double depth) {
    const double r = std::hypot(x - cx, y - cy);
    const double off = r - radius;
    if (std::fabs(off) >= halfWidth || r <= 0)
        return;
    relief.height -= depth * (1 - (off / halfWidth) * (off / halfWidth));
    const double slope = 2 * depth * off / (halfWidth * halfWidth); // d height / d r
    relief.dx += slope * (x - cx) / r;
    relief.dy += slope * (y - cy) / r;
}

// A V-groove along the segment from (ax, ay) to (bx, by).
void AddScratch(Relief& relief, double x, double y, double ax, double ay, double bx, double by,
                double halfWidth, double depth) {
    const double t = std::clamp(((x - ax) * (bx - ax) + (y - ay) * (by - ay)) /
                                    ((bx - ax) * (bx - ax) + (by - ay) * (by - ay)),
                                0.0, 1.0);
    const double qx = ax + t * (bx - ax), qy = ay + t * (by - ay);
    const double d = std::hypot(x - qx, y - qy);
    if (d >= halfWidth)
        return;
    relief.height -= depth * (1 - d / halfWidth);
    if (d > 0) {
        relief.dx += depth / halfWidth * (x - qx) / d;
        relief.dy += depth / halfWidth * (y - qy) / d;
    }
}

Vector3 NormalOf(const Relief& relief) {
    const double norm = std::sqrt(relief.dx * relief.dx + relief.dy * relief.dy + 1);
    return {-relief.dx / norm, -relief.dy / norm, 1 / norm};
}

// The part: a machined plate with two spherical domes, a raised pad, an engraved ring and a scratch.
SurfacePoint Part(double x, double y, double texture) {
    Relief relief;
    AddCap(relief, x, y, -12.8, 7.7, 6.0, 2.5); // meets the plate at 45 degrees
    AddCap(relief, x, y, 13.8, -6.1, 4.6, 2.6); // meets the plate at 59 degrees
    AddPad(relief, x, y, -2.6, -14.3, 7.2, 3.1, 1.0, 1.0);
    AddRingGroove(relief, x, y, 11.3, 11.3, 3.6, 0.6, 0.4);
    AddScratch(relief, x, y, -21.5, -19.5, 6.1, -1.0, 0.2, 0.15);
    SurfacePoint point;
    point.height = relief.height;
    point.normal = NormalOf(relief);
    point.albedo = 0.6 * (1 + 0.08 * texture);
    if (relief.height < -0.05)
        point.albedo *= 0.75; // engravings are rougher and darker
    return point;
}

constexpr double SphereRadius = 20;

// A matte grey hemisphere on a dark plate.
SurfacePoint Sphere(double x, double y) {
    SurfacePoint point;
    const double r2 = x * x + y * y;
    if (r2 >= SphereRadius * SphereRadius) {
        point.albedo = 0.2;
        return point;
    }
    point.height = std::sqrt(SphereRadius * SphereRadius - r2);
    point.normal = {x / SphereRadius, y / SphereRadius, point.height / SphereRadius};
    point.albedo = 0.6;
    return point;
}

} // namespace

SurfacePoint TargetSurface(const std::string& object, double x, double y, double texture) {
    if (object == "part")
        return Part(x, y, texture);
    if (object == "sphere")
        return Sphere(x, y);
    SurfacePoint point;
    point.albedo = object == "sheet" ? 0.9 * (1 + 0.02 * texture) : 0.5; // paper fibres; a uniform card
    return point;
}

std::pair<double, double> TargetHeights(const std::string& object) {
    if (object == "part")
        return {-0.4, 2.6};
    if (object == "sphere")
        return {0, SphereRadius};
    return {0, 0};
}

PlaneBox TargetRelief(const std::string& object) {
    if (object == "part")
        return {-22, -20, 19, 16}; // the domes, pad, ring and scratch, with a margin
    if (object == "sphere")
        return {-SphereRadius, -SphereRadius, SphereRadius, SphereRadius};
    return {};
}

} // namespace zeb::station
