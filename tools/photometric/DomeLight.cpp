#include "DomeLight.h"

#include <algorithm>
#include <cmath>

namespace zeb::photometric {

namespace {

struct Sampling {
    std::vector<Vector3> positions;
    std::vector<double> areas;
};

Sampling Sample(double radius, const LightPatch& patch) {
    Sampling sampling;
    const int32_t columns = std::max(
        1, static_cast<int32_t>(std::lround(DomeLight::ColumnsPerQuadrant * patch.widthDegrees / 90)));
    const double top = std::asin(DomeLight::OpeningShare);
    const double rowStep = (Pi / 2 - top) / DomeLight::Rows;
    const double columnStep = Radians(patch.widthDegrees) / columns;
    const double first = Radians(patch.azimuthDegrees - patch.widthDegrees / 2);
    for (int32_t row = 0; row < DomeLight::Rows; ++row) {
        const double polar = top + (row + 0.5) * rowStep;
        for (int32_t column = 0; column < columns; ++column) {
            const double azimuth = first + (column + 0.5) * columnStep;
            sampling.positions.push_back({radius * std::sin(polar) * std::cos(azimuth),
                                          radius * std::sin(polar) * std::sin(azimuth),
                                          radius * std::cos(polar)});
            sampling.areas.push_back(radius * radius * std::sin(polar) * rowStep * columnStep);
        }
    }
    return sampling;
}

} // namespace

DomeLight::DomeLight(double domeRadius, const LightPatch& patch) : _radius(domeRadius), _patch(patch) {
    // The reference first, with the sampling of one quadrant: what it gives a surface facing the
    // camera at the centre of the rim's plane.
    Sampling quadrant = Sample(domeRadius, {135, 90});
    _positions = std::move(quadrant.positions);
    _areas = std::move(quadrant.areas);
    const double reference = VectorLight({0, 0, 0}).z;
    Sampling sampling = Sample(domeRadius, patch);
    _positions = std::move(sampling.positions);
    _areas = std::move(sampling.areas);
    _reference = reference > 0 ? reference : 1;
}

bool DomeLight::EmitterAt(size_t i, const Vector3& point, Vector3& vector) const {
    const Vector3& s = _positions[i];
    const Vector3 d = s - point;
    const double distance = Length(d);
    const double emitted = (_radius * _radius - Dot(s, point)) / (_radius * distance);
    if (!(emitted > 0) || !(distance > 0))
        return false;
    const double irradiance = _areas[i] * emitted / (distance * distance) / _reference;
    vector = (irradiance / distance) * d;
    return true;
}

Vector3 DomeLight::VectorLight(const Vector3& point) const {
    Vector3 sum;
    Vector3 vector;
    for (size_t i = 0; i < _positions.size(); ++i)
        if (EmitterAt(i, point, vector))
            sum = sum + vector;
    return sum;
}

Vector3 DomeLight::Light(const Vector3& point, const Vector3& normal) const {
    Vector3 sum;
    Vector3 vector;
    for (size_t i = 0; i < _positions.size(); ++i)
        if (EmitterAt(i, point, vector) && Dot(vector, normal) > 0)
            sum = sum + vector;
    return sum;
}

double DomeLight::LowestElevation(const Vector3& point) const {
    double lowest = Pi / 2;
    Vector3 vector;
    for (size_t i = 0; i < _positions.size(); ++i)
        if (EmitterAt(i, point, vector))
            lowest = std::min(lowest, std::asin(std::clamp(Normalised(vector).z, -1.0, 1.0)));
    return lowest;
}

void DomeLight::RowEdges(size_t i, Vector3& lower, Vector3& upper) const {
    const Vector3& s = _positions[i];
    const double azimuth = std::atan2(s.y, s.x);
    const double top = std::asin(OpeningShare);
    const double rowStep = (Pi / 2 - top) / Rows;
    const int32_t row = static_cast<int32_t>(i) / std::max(Columns(), 1);
    auto at = [&](double polar) {
        return Vector3{_radius * std::sin(polar) * std::cos(azimuth),
                       _radius * std::sin(polar) * std::sin(azimuth), _radius * std::cos(polar)};
    };
    lower = at(top + (row + 1) * rowStep);
    upper = at(top + row * rowStep);
}

void DomeLight::Emitters(const Vector3& point, EmitterVectors& out) const {
    out.x.assign(_positions.size(), 0.0f);
    out.y.assign(_positions.size(), 0.0f);
    out.z.assign(_positions.size(), 0.0f);
    Vector3 vector;
    for (size_t i = 0; i < _positions.size(); ++i)
        if (EmitterAt(i, point, vector)) {
            out.x[i] = static_cast<float>(vector.x);
            out.y[i] = static_cast<float>(vector.y);
            out.z[i] = static_cast<float>(vector.z);
        }
}

} // namespace zeb::photometric
