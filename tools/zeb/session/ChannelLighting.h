// The lighting model zeb computes a channel's surface with: the nominal model from the channel's
// settings (scan type, image region, exposure, gain, lighting sequence and orientation) and the
// dome's documented geometry, each value settable with --model NAME=VALUE; or the lights measured
// on a sphere, from a calibration file of `zeb calibrate`.
#pragma once

#include "hostkit/HostChannel.h"
#include "photometric/LightingModel.h"
#include "session/Session.h"

#include <string>
#include <vector>

namespace zeb::cli {

struct SurfaceModelOptions {
    std::vector<std::string> settings; // --model NAME=VALUE, in order
    std::string calibration;           // --calibration FILE
};

// The names --model takes, with what each means.
const std::vector<std::pair<std::string, std::string>>& SurfaceModelSettings();

struct ChannelLighting {
    photometric::NominalSettings nominal; // the channel's documented lighting
    photometric::ImageRegion region;
    photometric::LightingModel model; // nominal, or the calibration's for this exposure and gain
    std::string domeModel;            // "Dome M": as the plug-in's log names it, else the built-in station's
    std::string calibrationFile;      // empty: the nominal model
    std::string calibrationDate;

    // For the files' text chunks and the viewer: which model, and the calibration used.
    std::string ModelText() const { return model.Describe(); }
    std::string CalibrationText() const;
};

// The channel's settings the lighting model is made from, as they were when an image set was taken.
struct LightingSettings {
    bool lineScan = false;
    std::string sequence, orientation; // "LightingSequenceType", "LightingOrientation"
    double exposure = 0, gain = 0;     // microseconds, decibels
    int32_t width = 0, height = 0;     // of one direction image
    photometric::ImageRegion region;
    std::string domeModel; // as the plug-in's log names it, else the built-in station's
};

// Reads the channel's settings now. Throws CommandError when a feature cannot be read.
LightingSettings ReadLightingSettings(host::HostChannel& channel, Session& session, int32_t channelIndex);

// The lighting those settings give. Throws CommandError for a --model value that is not one, a
// calibration file that cannot be read, or one made under another scan type, sequence or
// orientation than the settings'.
ChannelLighting LightingFor(const LightingSettings& settings, const SurfaceModelOptions& options);

// Both of the above: the channel's lighting now.
ChannelLighting ReadChannelLighting(host::HostChannel& channel, Session& session, int32_t channelIndex,
                                    const SurfaceModelOptions& options);

} // namespace zeb::cli
