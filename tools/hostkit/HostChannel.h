// One channel as a host sees it: its descriptor and the entry points, with the host's texts.
#pragma once

#include "HostStructures.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zeb::host {

// How a wait for the next image ended.
enum class ImageWait { Ready, Failed, TimedOut, Cancelled };

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

class HostChannel {
public:
    // Fills the descriptor of channel `index`; false when GetVideoChannel fails (Error() says why).
    bool Open(qrZEB_GetVideoChannel getVideoChannel, int32_t index);

    const qrZEB_ChannelDescriptor& Descriptor() const { return _descriptor; }
    std::string Name() const { return _descriptor.name; }
    std::string Serial() const { return _descriptor.serialNumber; }
    // The error text of the last failed call.
    const std::string& Error() const { return _error; }

    std::optional<std::string> Read(const std::string& feature);
    bool Write(const std::string& feature, const std::string& value);
    bool Execute(const std::string& feature);
    std::vector<std::string> FeatureNames();
    std::optional<int32_t> Type(const std::string& feature);
    std::vector<std::string> Choices(const std::string& feature);
    std::optional<std::string> Attribute(const std::string& feature, int32_t attribute);
    bool Start();
    bool Stop();
    bool Release();
    bool SetupCommonParams(const qrZEB_CommonParams& parameters);
    // WaitForIntegration's status, or none on failure.
    std::optional<int32_t> Wait();
    // Polls until an image is ready or `timeoutMs` has passed; then fetches it. None on failure or timeout.
    std::optional<Image> NextImage(int32_t timeoutMs = 10000);
    // Polls GetImageAttributes until an image is ready, the call fails, `timeoutMs` has passed or
    // `cancelled` (checked between polls) returns true. Error() says why when it is not Ready.
    ImageWait WaitForImage(int32_t timeoutMs, const std::function<bool()>& cancelled = {});
    // Fetches the image that WaitForImage found ready. None on failure.
    std::optional<Image> FetchImage();

private:
    bool Check(qrZEB_Long result, const char* errorText);

    qrZEB_ChannelDescriptor _descriptor{};
    qrZEB_ImageAttributes _ready{}; // attributes of the image WaitForImage found ready
    std::string _error;
};

// Names of the feature types the host receives.
const char* FeatureTypeName(int32_t type);

} // namespace zeb::host
