// Three-component vectors for the photometric code: directions, light vectors and normals.
#pragma once

#include <algorithm>
#include <cmath>

namespace zeb::photometric {

constexpr double Pi = 3.14159265358979323846;

inline double Radians(double degrees) {
    return degrees * Pi / 180;
}
inline double Degrees(double radians) {
    return radians * 180 / Pi;
}

struct Vector3 {
    double x = 0, y = 0, z = 0;
};

inline Vector3 operator+(const Vector3& a, const Vector3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vector3 operator-(const Vector3& a, const Vector3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vector3 operator*(double s, const Vector3& a) {
    return {s * a.x, s * a.y, s * a.z};
}
inline double Dot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline double Length(const Vector3& a) {
    return std::sqrt(Dot(a, a));
}
// The unit vector along `a`; the zero vector stays zero.
inline Vector3 Normalised(const Vector3& a) {
    const double length = Length(a);
    return length > 0 ? (1 / length) * a : Vector3{};
}
// The angle between two unit vectors, in degrees.
inline double AngleDegrees(const Vector3& a, const Vector3& b) {
    return Degrees(std::acos(std::clamp(Dot(a, b), -1.0, 1.0)));
}
// Azimuth (counter-clockwise from +x) and elevation (above the x-y plane) of a direction, degrees;
// the azimuth in [0, 360).
inline double AzimuthDegrees(const Vector3& a) {
    const double azimuth = Degrees(std::atan2(a.y, a.x));
    return azimuth < 0 ? azimuth + 360 : azimuth;
}
inline double ElevationDegrees(const Vector3& a) {
    return Degrees(std::atan2(a.z, std::hypot(a.x, a.y)));
}

} // namespace zeb::photometric
