#include "runs/AssistantRunner.h"

#include "base/CommandError.h"
#include "base/NameMatch.h"

namespace zeb::cli {

const std::vector<std::pair<std::string, std::string>>& AssistantNames::ShortNames() {
    static const std::vector<std::pair<std::string, std::string>> names = {
        {"brightness", "Brightness detection"},
        {"focus", "Focus detection"},
        {"orientation", "Orientation detection"},
        {"trigger", "Frame trigger input detection"},
        {"encoder", "Encoder movement detection"}};
    return names;
}

std::string AssistantNames::Expand(const std::string& typed) {
    for (const auto& [shortName, fullName] : ShortNames())
        if (EqualsIgnoringCase(typed, shortName))
            return fullName;
    return typed;
}

std::optional<std::string> AssistantNames::Resolve(const std::string& typed) const {
    const std::string wanted = Expand(typed);
    for (const std::string& name : _offered)
        if (EqualsIgnoringCase(name, wanted))
            return name;
    return std::nullopt;
}

std::vector<std::string> SplitArguments(const std::string& arguments) {
    std::vector<std::string> values;
    size_t start = 0;
    while (!arguments.empty()) {
        const size_t end = arguments.find(';', start);
        values.push_back(arguments.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return values;
}

std::string FillPlaceholders(const std::string& message, const std::string& arguments) {
    const std::vector<std::string> values = SplitArguments(arguments);
    std::string text = message;
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string placeholder = "{" + std::to_string(i) + "}";
        for (size_t at = text.find(placeholder); at != std::string::npos;
             at = text.find(placeholder, at + values[i].size()))
            text.replace(at, placeholder.size(), values[i]);
    }
    return text;
}

AssistantRunner::AssistantRunner(host::HostChannel& channel, std::string name)
    : _channel(channel), _name(std::move(name)) {}

AssistantRunner::~AssistantRunner() {
    try {
        Stop();
    } catch (...) {
        // Leaving anyway; the plug-in's error was reported where it happened.
    }
}

bool AssistantRunner::JudgesImages() const {
    return _name == "Brightness detection" || _name == "Focus detection" || _name == "Orientation detection";
}

std::string AssistantRunner::Read(const char* feature) {
    const auto value = _channel.Read(feature);
    if (!value)
        throw PluginError(_channel.Error());
    return *value;
}

void AssistantRunner::Execute(const char* command) {
    if (!_channel.Execute(command))
        throw PluginError(_channel.Error());
}

void AssistantRunner::Start() {
    _savedSetupMode = Read("SetupMode");
    _savedAcquisitionMode = Read("AcquisitionMode");
    if (!_channel.Write("DialogSelector", _name))
        throw PluginError(_channel.Error());
    _started = true;
    Execute("DialogStart");
}

void AssistantRunner::AcquireImage(const std::function<bool()>& stop) {
    if (!_acquiring) {
        if (!_channel.Write("SetupMode", "On") || !_channel.Write("AcquisitionMode", "SingleFrame"))
            throw PluginError(_channel.Error());
        _acquiring = true;
    }
    // One image set per start: each image shows the light as the assistant last set it.
    if (!_channel.Start())
        throw PluginError(_channel.Error());
    const host::ImageWait wait = _channel.WaitForImage(_timeoutMs, stop);
    if (wait == host::ImageWait::Cancelled)
        return;
    if (wait == host::ImageWait::TimedOut)
        throw CommandError(_channel.Error());
    std::optional<host::Image> image;
    if (wait == host::ImageWait::Ready)
        image = _channel.FetchImage();
    if (!image)
        throw PluginError(_channel.Error());
    ++_images;
    if (_onImage)
        _onImage(*image);
}

AssistantState AssistantRunner::Update(const std::function<bool()>& stop) {
    if (Read("DialogStatus") == "True" && Read("DialogAcquisitionRequest") == "True")
        AcquireImage(stop);
    AssistantState state;
    state.running = Read("DialogStatus") == "True";
    state.result = Read("DialogResult");
    state.instruction = Read("DialogInstruction");
    state.wantsImage = Read("DialogAcquisitionRequest") == "True";
    const std::string arguments = Read("DialogResultMessageArguments");
    state.message = FillPlaceholders(Read("DialogResultMessage"), arguments);
    state.arguments = SplitArguments(arguments);
    if (_name == "Brightness detection") {
        state.exposureTime = _channel.Read("ExposureTime").value_or("");
        state.gain = _channel.Read("Gain").value_or("");
    }
    return state;
}

std::vector<std::pair<std::string, std::string>> AssistantRunner::OwnValues() const {
    if (!_started)
        return {};
    return {{"SetupMode", _savedSetupMode}, {"AcquisitionMode", _savedAcquisitionMode}};
}

void AssistantRunner::Next() {
    Execute("DialogNext");
}

void AssistantRunner::Stop() {
    if (!_started)
        return;
    _started = false;
    const bool stopped = _channel.Execute("DialogStop");
    const std::string error = _channel.Error();
    if (_acquiring) {
        _acquiring = false;
        _channel.Stop();
        _channel.Write("SetupMode", _savedSetupMode);
        _channel.Write("AcquisitionMode", _savedAcquisitionMode);
    }
    if (!stopped)
        throw PluginError(error);
}

} // namespace zeb::cli
