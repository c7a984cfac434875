// zeb channels: the channels of the plug-in; with --detect, the wired camera, dome and state.
#include "base/JsonText.h"
#include "commands/Commands.h"

#include "base/Text.h"

#include "base/CommandError.h"
#include "session/PluginFiles.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace zeb::cli {

void ChannelsCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand("channels", "index, name, serial number and scan type of each channel");
    _app->add_flag("--detect", _detect,
                   "also find the camera wired to each channel's controller and show it, the dome model and "
                   "the channel's state; without a camera, what the wiring lacks");
    _app->add_flag("--json", _json, "print JSON");
    AddChannelOptions(*_app, _channel);
}

namespace {
struct ChannelReport {
    int32_t index = 0;
    std::string name, serial, scanType, camera, cameraModel, dome, state;
    std::vector<std::string> wiring; // what the cabling lacks when no camera was found
};

ChannelReport Inspect(Session& session, int32_t index, bool detect) {
    host::HostChannel& channel = session.Channel(index);
    ChannelReport report;
    report.index = index;
    report.name = channel.Name();
    report.serial = channel.Serial();
    const auto scanType = channel.Read("DeviceScanType");
    report.scanType = scanType.value_or("(" + channel.Error() + ")");
    if (!detect)
        return report;
    if (!scanType) {
        report.state = channel.Error();
        return report;
    }
    try {
        report.camera = SelectCamera(channel, {}, false, &report.wiring);
        if (report.camera != "None")
            report.cameraModel = channel.Read("DeviceImageSourceVendor").value_or("") + " " +
                                 channel.Read("DeviceImageSourceModel").value_or("") + ", serial number " +
                                 channel.Read("DeviceImageSourceSerial").value_or("");
        report.state = report.camera == "None" ? "no camera is wired to its controller" : "ready";
        if (channel.Read("DialogStatus").value_or("") == "True")
            report.state += ", an assistant is running";
    } catch (const CommandError& error) {
        report.state = error.what();
    }
    report.dome = session.DomeModel(index).value_or("");
    return report;
}
// Why the dome is not named: the plug-in names it only in its log.
std::string DomeNotReported() {
    const std::string start = "not reported (the plug-in names it only in its log, ";
    const auto log = LogFile();
    if (!log)
        return start + "which is off)";
    if (!LogWritable(*log))
        return start + "which cannot be written at " + log->string() + ")";
    return start + "and " + log->string() + " does not name it)";
}
} // namespace

int ChannelsCommand::Run(Session& session) {
    const int32_t count = session.ChannelCount();
    if (count == 0)
        session.Channel(0); // throws with the reason
    // Settings given for one channel reach it before the listing.
    if (!_channel.sets.empty() || !_channel.profiles.empty() || !_channel.camera.empty())
        PrepareChannel(session, _channel, CameraNeed::Soft);
    nlohmann::json json = nlohmann::json::array();
    for (int32_t index = 0; index < count; ++index) {
        const ChannelReport r = Inspect(session, index, _detect);
        if (_json) {
            nlohmann::json item = {
                {"index", r.index}, {"name", r.name}, {"serial", r.serial}, {"scanType", r.scanType}};
            if (_detect) {
                item["camera"] = r.camera;
                item["cameraModel"] = r.cameraModel;
                item["dome"] = r.dome.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.dome);
                item["state"] = r.state;
                item["wiring"] = r.wiring;
            }
            json.push_back(item);
            continue;
        }
        std::printf("%d\t%s\t%s\t%s\n", r.index, Printable(r.name).c_str(), Printable(r.serial).c_str(),
                    Printable(r.scanType).c_str());
        if (_detect) {
            if (!r.camera.empty())
                std::printf(
                    "  camera: %s\n",
                    Printable(r.camera + (r.cameraModel.empty() ? "" : " (" + r.cameraModel + ")")).c_str());
            std::printf("  dome:   %s\n", Printable(r.dome.empty() ? DomeNotReported() : r.dome).c_str());
            std::printf("  state:  %s\n", Printable(r.state).c_str());
            for (const std::string& finding : r.wiring)
                std::printf("  wiring: %s\n", Printable(finding).c_str());
        }
    }
    if (_json)
        std::printf("%s\n", JsonText(json, 2).c_str());
    return 0;
}

} // namespace zeb::cli
