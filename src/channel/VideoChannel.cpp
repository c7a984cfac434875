#include "VideoChannel.h"

#include <mutex>

namespace Tamo::Morvane::Zeb {

const Tamo::Reflection VideoChannel::Reflection{
    [] { return new VideoChannel(); }, "Tamo::Morvane::Zeb::VideoChannel", &Tamo::Object::Reflection};

namespace {

constexpr const char* SourceFile = "VideoChannel";

// Trace line of a host operation, at Dump level, with the source line of the call that writes it.
template <typename... Args>
void Trace(int32_t line, const char* operation, const char* format, Args... args) {
    if (!Tamo::Log::Enabled(Tamo::Dump))
        return;
    const std::string function = std::string("Tamo::Morvane::Zeb::VideoChannel::") + operation;
    Tamo::Log::WriteFormat(Tamo::Dump, line, function.c_str(), SourceFile, format, args...);
}

} // namespace

Tamo::String VideoChannel::HandleError(const Tamo::Exception& exception) {
    return exception.Function() + ": " + exception.Error();
}

Feature& VideoChannel::Features(const Tamo::String& name) {
    for (Feature& feature : _features)
        if (feature._name == name)
            return feature;
    throw Tamo::Exception("Feature " + name + " does not exist.", "");
}

void VideoChannel::Initialize() {
    if (_initialized)
        return;
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, "Tamo::Morvane::Zeb::VideoChannel::Initialize", SourceFile,
                           "Intializing.");
    OnInitialize();
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, "Tamo::Morvane::Zeb::VideoChannel::Initialize", SourceFile,
                           "Intializing done.");
    _initialized = true;
}

void VideoChannel::Release() {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "Release", "Tamo::Morvane::Zeb::Scanner::Release()");
    Initialize();
    OnRelease();
}

void VideoChannel::StartAcquisition() {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "StartAcquisition", "Tamo::Morvane::Zeb::Scanner::StartAcquisition()");
    Initialize();
    OnStartAcquisition();
    Trace(__LINE__, "StartAcquisition", "Tamo::Morvane::Zeb::Scanner::StartAcquisition() done.");
}

void VideoChannel::WaitForIntegration(int32_t& status) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "WaitForIntegration", "Tamo::Morvane::Zeb::Scanner::WaitForIntegration()");
    Initialize();
    qrZEB_ImageAttributes scratch{};
    OnGetImage(status, scratch, nullptr);
}

void VideoChannel::StopAcquisition() {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "StopAcquisition", "Tamo::Morvane::Zeb::Scanner::StopAcquisition()");
    Initialize();
    OnStopAcquisition();
}

void VideoChannel::GetImageAttributes(qrZEB_ImageAttributes& attributes, int32_t& status) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "GetImageAttributes", "Tamo::Morvane::Zeb::Scanner::GetImageAttributes()");
    Initialize();
    OnGetImage(status, attributes, nullptr);
}

void VideoChannel::GetImage(char* image, int32_t& status) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "GetImage", "Tamo::Morvane::Zeb::Scanner::GetImage()");
    Initialize();
    qrZEB_ImageAttributes scratch{};
    OnGetImage(status, scratch, image);
}

void VideoChannel::SetupCommonParams(const qrZEB_CommonParams& parameters) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "SetupCommonParams", "Tamo::Morvane::Zeb::Scanner::SetupCommonParams()");
    Initialize();
    OnSetupCommonParams(parameters);
}

void VideoChannel::GetFeatureName(int32_t index, Tamo::String& name) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "GetFeatureName", "Tamo::Morvane::Zeb::VideoChannel::GetFeatureName()");
    Trace(__LINE__, "GetFeatureName", "    Index = %d", index);
    Initialize();
    if (index < 0 || static_cast<size_t>(index) >= _features.size())
        throw Tamo::Exception("", "");
    name = _features[static_cast<size_t>(index)]._name;
}

void VideoChannel::GetFeatureType(const Tamo::String& name, int32_t& type) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "GetFeatureType", "Tamo::Morvane::Zeb::VideoChannel::GetFeatureType()");
    Trace(__LINE__, "GetFeatureType", "    Feature = %s", name.CStr());
    Initialize();
    type = Features(name)._type;
}

void VideoChannel::GetValidEnum(const Tamo::String& name, int32_t index, Tamo::String& value) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "GetValidEnum", "Tamo::Morvane::Zeb::VideoChannel::GetValidEnum()");
    Trace(__LINE__, "GetValidEnum", "    Feature = %s", name.CStr());
    Trace(__LINE__, "GetValidEnum", "    Index = %d", index);
    Initialize();
    if (index < 0)
        throw Tamo::Exception("", "");
    const Feature& feature = Features(name);
    if (static_cast<size_t>(index) >= feature._enumValues.size())
        throw Tamo::Exception("", "");
    value = feature._enumValues[static_cast<size_t>(index)];
}

void VideoChannel::GetFeatureAttr(const Tamo::String& name, int32_t attribute, Tamo::String& value) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "GetFeatureAttr", "Tamo::Morvane::Zeb::VideoChannel::GetFeatureAttr()");
    Trace(__LINE__, "GetFeatureAttr", "    Feature = %s", name.CStr());
    Initialize();
    const Feature& feature = Features(name);
    switch (attribute) {
    case FeatureAttribute::Comment:
        value = "Comment";
        return;
    case FeatureAttribute::Readable:
        value = feature._readable ? "True" : "False";
        return;
    case FeatureAttribute::Writable:
        value = feature._writable ? "True" : "False";
        return;
    case FeatureAttribute::CommonParam:
        value = feature._commonParam ? "True" : "False";
        return;
    default:
        throw Tamo::Exception("Feature attribute for " + name + " does not exist.", "");
    }
}

void VideoChannel::ExecuteCommand(const Tamo::String& name) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "ExecuteCommand", "Tamo::Morvane::Zeb::VideoChannel::ExecuteCommand()");
    Trace(__LINE__, "ExecuteCommand", "    Feature = %s", name.CStr());
    Initialize();
    if (Features(name)._type != FeatureType::Command)
        throw Tamo::Exception("Feature " + name + " is not a command.", "");
    OnExecuteCommand(name);
}

void VideoChannel::ReadValue(const Tamo::String& name, Tamo::String& value) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "ReadValue", "Tamo::Morvane::Zeb::Scanner::ReadValue()");
    Trace(__LINE__, "ReadValue", "    Feature = %s", name.CStr());
    Initialize();
    if (!Features(name)._readable)
        throw Tamo::Exception("Feature " + name + " not readable.", "");
    OnReadValue(name);
    value = Features(name)._value;
}

void VideoChannel::WriteValue(const Tamo::String& name, const Tamo::String& value) {
    std::lock_guard lock(_mutex.Native());
    Trace(__LINE__, "WriteValue", "Tamo::Morvane::Zeb::Scanner::WriteValue()");
    Trace(__LINE__, "WriteValue", "    Feature = %s", name.CStr());
    Trace(__LINE__, "WriteValue", "    Value = %s", value.CStr());
    Initialize();
    Feature& feature = Features(name);
    if (!feature._writable)
        throw Tamo::Exception("Feature " + name + " not writable.", "");
    Tamo::String working = value;
    const Tamo::String current = feature._value;
    OnWriteValue(name, current, working);
    Features(name).SetValue(working);
}

} // namespace Tamo::Morvane::Zeb
