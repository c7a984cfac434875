#include "HostChannel.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace zeb::host {

namespace {
struct Text {
    char buffer[256] = {};
    std::string String() const { return std::string(buffer, strnlen(buffer, sizeof buffer)); }
};
} // namespace

const char* FeatureTypeName(int32_t type) {
    switch (type) {
    case 1:
        return "Enum";
    case 2:
        return "Int";
    case 3:
        return "Float";
    case 4:
        return "Command";
    case 5:
        return "Bool";
    case 6:
        return "String";
    default:
        return "?";
    }
}

bool HostChannel::Check(qrZEB_Long result, const char* errorText) {
    if (result == 0)
        return true;
    _error = std::string(errorText, strnlen(errorText, 256));
    return false;
}

bool HostChannel::Open(qrZEB_GetVideoChannel getVideoChannel, int32_t index) {
    _descriptor = qrZEB_ChannelDescriptor{};
    _descriptor.size = sizeof(qrZEB_ChannelDescriptor);
    Text error;
    const qrZEB_Long result = getVideoChannel(error.buffer, index, &_descriptor);
    if (result != 0)
        _error = error.String().empty() ? "no channel " + std::to_string(index) : error.String();
    return result == 0;
}

std::optional<std::string> HostChannel::Read(const std::string& feature) {
    Text error, value;
    if (!Check(_descriptor.ReadValue(error.buffer, _descriptor.handle, feature.c_str(), value.buffer),
               error.buffer))
        return std::nullopt;
    return value.String();
}

bool HostChannel::Write(const std::string& feature, const std::string& value) {
    Text error;
    return Check(_descriptor.WriteValue(error.buffer, _descriptor.handle, feature.c_str(), value.c_str()),
                 error.buffer);
}

bool HostChannel::Execute(const std::string& feature) {
    Text error;
    return Check(_descriptor.ExecuteCommand(error.buffer, _descriptor.handle, feature.c_str()), error.buffer);
}

std::vector<std::string> HostChannel::FeatureNames() {
    std::vector<std::string> names;
    for (qrZEB_Long index = 0;; ++index) {
        Text error, name;
        if (_descriptor.GetFeatureName(error.buffer, _descriptor.handle, index, name.buffer) != 0)
            break;
        names.push_back(name.String());
    }
    return names;
}

std::optional<int32_t> HostChannel::Type(const std::string& feature) {
    Text error;
    qrZEB_Long type = 0;
    if (!Check(_descriptor.GetFeatureType(error.buffer, _descriptor.handle, feature.c_str(), &type),
               error.buffer))
        return std::nullopt;
    return type;
}

std::vector<std::string> HostChannel::Choices(const std::string& feature) {
    std::vector<std::string> choices;
    for (qrZEB_Long index = 0;; ++index) {
        Text error, value;
        if (_descriptor.GetValidEnum(error.buffer, _descriptor.handle, feature.c_str(), index,
                                     value.buffer) != 0)
            break;
        choices.push_back(value.String());
    }
    return choices;
}

std::optional<std::string> HostChannel::Attribute(const std::string& feature, int32_t attribute) {
    Text error, value;
    if (!Check(_descriptor.GetFeatureAttr(error.buffer, _descriptor.handle, feature.c_str(), attribute,
                                          value.buffer),
               error.buffer))
        return std::nullopt;
    return value.String();
}

bool HostChannel::Start() {
    Text error;
    return Check(_descriptor.StartAcquisition(error.buffer, _descriptor.handle), error.buffer);
}

bool HostChannel::Stop() {
    Text error;
    return Check(_descriptor.StopAcquisition(error.buffer, _descriptor.handle), error.buffer);
}

bool HostChannel::Release() {
    Text error;
    return Check(_descriptor.ReleaseVideoChannel(error.buffer, _descriptor.handle), error.buffer);
}

bool HostChannel::SetupCommonParams(const qrZEB_CommonParams& parameters) {
    Text error;
    return Check(_descriptor.SetupCommonParams(error.buffer, _descriptor.handle, &parameters), error.buffer);
}

std::optional<int32_t> HostChannel::Wait() {
    Text error;
    qrZEB_Long status = -1;
    if (!Check(_descriptor.WaitForIntegration(error.buffer, _descriptor.handle, &status), error.buffer))
        return std::nullopt;
    return status;
}

std::optional<Image> HostChannel::NextImage(int32_t timeoutMs) {
    if (WaitForImage(timeoutMs) != ImageWait::Ready)
        return std::nullopt;
    return FetchImage();
}

ImageWait HostChannel::WaitForImage(int32_t timeoutMs, const std::function<bool()>& cancelled) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        qrZEB_ImageAttributes attributes{};
        attributes.size = sizeof attributes;
        Text error;
        qrZEB_Long status = -1;
        if (!Check(_descriptor.GetImageAttributes(error.buffer, _descriptor.handle, &attributes, &status),
                   error.buffer))
            return ImageWait::Failed;
        if (status == 0) {
            _ready = attributes;
            return ImageWait::Ready;
        }
        if (cancelled && cancelled()) {
            _error = "interrupted";
            return ImageWait::Cancelled;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            _error = "no image within " + std::to_string(timeoutMs) + " ms";
            return ImageWait::TimedOut;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::optional<Image> HostChannel::FetchImage() {
    Image image;
    image.width = _ready.width;
    image.height = _ready.height;
    image.pixels.assign(static_cast<size_t>(_ready.width) * static_cast<size_t>(_ready.height), 0);
    Text error;
    qrZEB_Long status = -1;
    char dummy = 0;
    char* buffer = image.pixels.empty() ? &dummy : reinterpret_cast<char*>(image.pixels.data());
    if (!Check(_descriptor.GetImage(error.buffer, _descriptor.handle, buffer, &status), error.buffer))
        return std::nullopt;
    if (status != 0) {
        _error = "GetImage returned status " + std::to_string(status);
        return std::nullopt;
    }
    return image;
}

} // namespace zeb::host
