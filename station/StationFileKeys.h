// The keys of a station file, object by object, in the order a written file lists them. The reader
// accepts exactly these and the writer writes exactly these, so the two cannot drift apart.
#pragma once

#include <array>

namespace zeb::station::keys {

inline constexpr std::array Root{"controllers", "cameras", "cables"};
inline constexpr std::array Controller{"deviceId",  "serial",       "light",          "connectFailures",
                                       "registers", "domeRotation", "domeRadius",     "triggerInput",
                                       "encoder",   "transport",    "encoderMaximum", "faults"};
inline constexpr std::array TriggerInput{"periodMs", "pulseMs"};
inline constexpr std::array Encoder{"connected", "speed", "travel"};
inline constexpr std::array Transport{"mmPerRevolution", "speed"};
inline constexpr std::array Camera{"name",        "transport",       "scanType",      "features",
                                   "lines",       "limits",          "scene",         "sensor",
                                   "sensitivity", "readoutNsPerRow", "grabberMemory", "faults"};
inline constexpr std::array Line{"name", "mode"};
inline constexpr std::array Limits{"min", "max", "increment"};
inline constexpr std::array Scene{"object",      "replay",          "defocus",
                                  "fieldOfView", "workingDistance", "cameraHeight"};
inline constexpr std::array OwnObject{"heightMap", "heightScale", "pixelSize", "albedoMap", "material"};
inline constexpr std::array Material{"type", "roughness", "specular"};
inline constexpr std::array Sensor{"electronsPerGrey", "readNoise", "darkOffset", "noise", "seed"};
inline constexpr std::array Fault{"kind", "after", "durationMs", "delayMs", "count"};
inline constexpr std::array FaultAfter{"operation", "name", "count"};
inline constexpr std::array Cable{"controller", "port", "camera", "line", "inverted"};

} // namespace zeb::station::keys
