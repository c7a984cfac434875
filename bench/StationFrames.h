// A real frame of the default area channel for the benchmarks that write images: 1280 x 1024, the
// part under the default light with the sensor's noise, its four directions one below the other as
// the host receives them.
#pragma once

#include "Scene.h"
#include "Sensor.h"
#include "hostkit/HostChannel.h"

#include <cstddef>
#include <cstdint>

namespace zeb::bench {

constexpr int32_t FrameWidth = 1280, FrameHeight = 1024;

inline host::Image DefaultStack() {
    station::SceneRenderer renderer;
    station::SensorNoise sensor;
    sensor.Configure(station::SensorSettings{}, 0);
    host::Image stack;
    stack.width = FrameWidth;
    stack.height = 4 * FrameHeight;
    stack.pixels.resize(size_t{FrameWidth} * 4 * FrameHeight);
    const size_t quadrantOfStep[4] = {1, 0, 2, 3}; // the diagonal sequence
    for (size_t k = 0; k < 4; ++k) {
        station::RenderRequest request;
        request.width = request.sensorWidth = FrameWidth;
        request.height = request.sensorHeight = FrameHeight;
        request.darkOffset = 2;
        request.weights[quadrantOfStep[k]] = 0.0078f * 50 * 2; // sensitivity, 50 us, brightness 200
        sensor.ExposeFrame(renderer.Render(request),
                           stack.pixels.data() + k * size_t{FrameWidth} * FrameHeight);
    }
    return stack;
}

} // namespace zeb::bench
