// The commands of zeb. Each lives in a file of its own.
#pragma once

#include "commands/Command.h"
#include "session/ChannelLighting.h"

#include <filesystem>

namespace zeb::cli {

class ChannelsCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    bool _detect = false;
    bool _json = false;
};

class FeaturesCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    bool _json = false;
    bool _names = false;
};

class GetCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    std::string _name;
    bool _json = false;
    bool _choices = false;
};

class SetCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    std::string _name, _value;
};

class ExecCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    std::string _name;
};

class AcquireCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    int64_t _count = 1;
    bool _continuous = false;
    std::string _setupMode;
    std::string _out = ".";
    std::vector<std::string> _files;
    double _timeoutSeconds = 20;
    bool _json = false;
    bool _surface = false;
    SurfaceModelOptions _surfaceModel;
};

class CalibrateCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    std::string _out;
    double _sphereRadius = 20, _sphereAlbedo = 0.6;
    int32_t _count = 4;
    double _timeoutSeconds = 20;
    SurfaceModelOptions _model;
    bool _json = false;
};

class AssistCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    std::string _name;
    bool _yes = false;
    double _actSeconds = 1.0;
    int32_t _maxImages = 30;
    bool _json = false;
};

class ProfileCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    ChannelOptions _channel;
    CLI::App* _save = nullptr;
    CLI::App* _load = nullptr;
    std::filesystem::path _file;
};

class StationCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;
    bool LoadsPlugin() const override { return false; }

private:
    int32_t _channel = -1;
    std::string _object, _albedo, _material = "matte", _out;
    double _pixelSize = 0.05, _heightScale = 0.001, _roughness = 0.1, _specular = 0.5, _workingDistance = 10;
    double _fieldOfView = 0;
};

class ShellCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;
};

class ViewCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    int32_t _port = 8177;
    std::string _bind = "127.0.0.1";
    std::filesystem::path _out = ".";
    double _clientTimeoutSeconds = 10;
    double _imageTimeoutSeconds = 20;
    ChannelOptions _settings; // --channel with its --camera, --profile and --set, applied before serving
};

class HelpCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;
    bool LoadsPlugin() const override { return false; }

private:
    std::string _topic;
};

class CompletionCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;
    bool LoadsPlugin() const override { return false; }
};

} // namespace zeb::cli
