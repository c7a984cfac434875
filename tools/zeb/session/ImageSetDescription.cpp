#include "session/ImageSetDescription.h"

namespace zeb::cli {

ImageSetDescription ImageSetDescription::Read(host::HostChannel& channel, int32_t channelIndex) {
    auto value = [&](const char* feature) { return channel.Read(feature).value_or(""); };
    ImageSetDescription d;
    d.channelIndex = channelIndex;
    d.channel = channel.Name();
    d.camera = value("DeviceImageSource");
    d.cameraModel = value("DeviceImageSourceVendor") + " " + value("DeviceImageSourceModel") +
                    ", serial number " + value("DeviceImageSourceSerial");
    d.scanType = value("DeviceScanType");
    d.exposureTime = value("ExposureTime");
    d.gain = value("Gain");
    d.lightingSequence = value("LightingSequenceType");
    d.lightingOrientation = value("LightingOrientation");
    d.setupMode = value("SetupMode");
    if (d.LineScan())
        d.lineTiming = ReadLineScanTiming(channel);
    return d;
}

std::string LitFrom(const std::string& lightingSequence) {
    if (lightingSequence == "Axial")
        return "0 right, 1 top, 2 left, 3 bottom";
    if (lightingSequence == "Diagonal")
        return "0 top right, 1 top left, 2 bottom left, 3 bottom right";
    return "unknown for the lighting sequence \"" + lightingSequence + "\"";
}

} // namespace zeb::cli
