#include "Commands.h"

#include "ImageFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

namespace zeb::cli {

volatile int interrupted = 0;

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "zeb: %s\n", message.c_str());
    return 1;
}

// The channel the options name; false (with the error printed) when there is none.
bool OpenChannel(host::Plugin& plugin, int32_t index, host::HostChannel& channel) {
    if (channel.Open(plugin.GetVideoChannel(), index))
        return true;
    Fail(index == 0 ? "no channel: the station has no lighting controller (" + channel.Error() + ")"
                    : "no channel " + std::to_string(index) + " (" + channel.Error() + ")");
    return false;
}

std::string Flags(host::HostChannel& channel, const std::string& name) {
    std::string flags;
    flags += channel.Attribute(name, 2).value_or("") == "True" ? "R" : "-";
    flags += channel.Attribute(name, 3).value_or("") == "True" ? "W" : "-";
    flags += channel.Attribute(name, 4).value_or("") == "True" ? "C" : "-";
    return flags;
}

// Selects the camera wired to the channel's controller when none is selected.
bool EnsureCamera(host::HostChannel& channel) {
    if (channel.Read("DeviceImageSource").value_or("None") != "None")
        return true;
    std::printf("Detecting the camera wired to %s ...\n", channel.Name().c_str());
    if (!channel.Execute("DeviceImageSourceDetect")) {
        Fail(channel.Error());
        return false;
    }
    const std::string camera = channel.Read("DeviceImageSource").value_or("None");
    if (camera == "None") {
        Fail("no camera is wired to the lighting controller of " + channel.Name());
        return false;
    }
    std::printf("Camera: %s (%s %s)\n", camera.c_str(),
                channel.Read("DeviceImageSourceVendor").value_or("").c_str(),
                channel.Read("DeviceImageSourceModel").value_or("").c_str());
    return true;
}

} // namespace

std::string FillPlaceholders(const std::string& message, const std::string& arguments) {
    std::vector<std::string> values;
    size_t start = 0;
    while (!arguments.empty()) {
        const size_t end = arguments.find(';', start);
        values.push_back(arguments.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    std::string text = message;
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string placeholder = "{" + std::to_string(i) + "}";
        for (size_t at = text.find(placeholder); at != std::string::npos;
             at = text.find(placeholder, at + values[i].size()))
            text.replace(at, placeholder.size(), values[i]);
    }
    return text;
}

int Channels(host::Plugin& plugin) {
    int32_t index = 0;
    for (;; ++index) {
        host::HostChannel channel;
        if (!channel.Open(plugin.GetVideoChannel(), index)) {
            if (index == 0 && channel.Error() != "no channel 0")
                return Fail(channel.Error());
            break;
        }
        std::printf("%d\t%s\t%s\t%s\n", index, channel.Name().c_str(), channel.Serial().c_str(),
                    channel.Read("DeviceScanType").value_or("(" + channel.Error() + ")").c_str());
    }
    if (index == 0)
        return Fail("no channel: the station has no lighting controller");
    return 0;
}

int Features(host::Plugin& plugin, const Options& options) {
    host::HostChannel channel;
    if (!OpenChannel(plugin, options.channel, channel))
        return 1;
    const std::vector<std::string> names = channel.FeatureNames();
    if (names.empty())
        return Fail(channel.Error());
    std::printf("%-34s %-8s %-5s %-28s %s\n", "Feature", "Type", "Flags", "Value", "Choices");
    for (const std::string& name : names) {
        const int32_t type = channel.Type(name).value_or(0);
        const std::string value = type == 4 ? "" : channel.Read(name).value_or("(" + channel.Error() + ")");
        std::string choices;
        for (const std::string& choice : channel.Choices(name))
            choices += (choices.empty() ? "" : ", ") + choice;
        std::printf("%-34s %-8s %-5s %-28s %s\n", name.c_str(), host::FeatureTypeName(type),
                    Flags(channel, name).c_str(), value.c_str(), choices.c_str());
    }
    return 0;
}

namespace {
// One feature operation on the chosen channel: checks the argument count, opens the channel and
// reports the host's error text when the operation fails.
template <typename Operation>
int FeatureOperation(host::Plugin& plugin, const Options& options, size_t arguments, const char* usage,
                     Operation operation) {
    if (options.arguments.size() != arguments)
        return Fail(std::string("usage: ") + usage);
    host::HostChannel channel;
    if (!OpenChannel(plugin, options.channel, channel))
        return 1;
    return operation(channel) ? 0 : Fail(channel.Error());
}
} // namespace

int Get(host::Plugin& plugin, const Options& options) {
    return FeatureOperation(plugin, options, 1, "zeb get NAME", [&](host::HostChannel& channel) {
        const auto value = channel.Read(options.arguments[0]);
        if (value)
            std::printf("%s\n", value->c_str());
        return value.has_value();
    });
}

int Set(host::Plugin& plugin, const Options& options) {
    return FeatureOperation(plugin, options, 2, "zeb set NAME VALUE", [&](host::HostChannel& channel) {
        if (!channel.Write(options.arguments[0], options.arguments[1]))
            return false;
        std::printf("%s\n", channel.Read(options.arguments[0]).value_or("").c_str());
        return true;
    });
}

int Exec(host::Plugin& plugin, const Options& options) {
    return FeatureOperation(plugin, options, 1, "zeb exec NAME", [&](host::HostChannel& channel) {
        return channel.Execute(options.arguments[0]);
    });
}

int Acquire(host::Plugin& plugin, const Options& options) {
    if (options.setupMode != "Off" && options.setupMode != "On")
        return Fail("--setup-mode takes Off or On");
    if (options.count < 1)
        return Fail("--count takes a number of at least 1");
    host::HostChannel channel;
    if (!OpenChannel(plugin, options.channel, channel) || !EnsureCamera(channel))
        return 1;
    const bool linescan = channel.Read("DeviceScanType").value_or("") == "Linescan";
    if (!channel.Write("SetupMode", options.setupMode) ||
        !channel.Write("AcquisitionMode", options.count > 1 ? "Continuous" : "SingleFrame"))
        return Fail(channel.Error());
    std::error_code error;
    std::filesystem::create_directories(options.outputFolder, error);
    if (error)
        return Fail("cannot create " + options.outputFolder + ": " + error.message());
    if (!channel.Start())
        return Fail(channel.Error());

    std::vector<std::string> files;
    host::Image last;
    const auto started = std::chrono::steady_clock::now();
    int32_t received = 0;
    int status = 0;
    for (; received < options.count && !interrupted; ++received) {
        auto image = channel.NextImage(20000);
        if (!image) {
            status = Fail(channel.Error());
            break;
        }
        last = std::move(*image);
        std::fprintf(stderr, "\rimage set %d/%d: %d x %d", received + 1, options.count, last.width,
                     last.height);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    channel.Stop();
    std::fprintf(stderr, "\n");
    if (received == 0)
        return status ? status : Fail("interrupted before the first image");

    const std::string base = options.outputFolder + "/zeb-channel" + std::to_string(options.channel);
    try {
        if (options.setupMode == "Off") {
            files = {base + "-stack.png", base + "-average.png", base + "-directions.png"};
            WritePng(files[0], last);
            WritePng(files[1], Average(last, linescan));
            WritePng(files[2], ContactSheet(last, linescan));
        } else {
            files = {base + "-average.png"};
            WritePng(files[0], last);
        }
    } catch (const std::exception& failure) {
        return Fail(failure.what());
    }
    std::printf("%d image set%s of %d x %d pixels (%s), %.1f ms per image set\n", received,
                received == 1 ? "" : "s", last.width, last.height,
                options.setupMode == "Off" ? "four directions stacked" : "averaged",
                1000.0 * seconds / received);
    for (const std::string& file : files)
        std::printf("wrote %s\n", file.c_str());
    return status;
}

int Assist(host::Plugin& plugin, const Options& options) {
    if (options.arguments.size() != 1)
        return Fail("usage: zeb assist NAME (for example \"Brightness detection\")");
    host::HostChannel channel;
    if (!OpenChannel(plugin, options.channel, channel))
        return 1;
    const std::string name = options.arguments[0];
    const auto choices = channel.Choices("DialogSelector");
    if (std::find(choices.begin(), choices.end(), name) == choices.end()) {
        std::string list;
        for (const std::string& choice : choices)
            list += (list.empty() ? "" : ", ") + ("\"" + choice + "\"");
        return Fail("no assistant \"" + name + "\" on this channel; choose one of " + list);
    }
    if (!channel.Write("DialogSelector", name) || !channel.Execute("DialogStart"))
        return Fail(channel.Error());

    bool acquiring = false;
    int32_t images = 0;
    int status = 0;
    std::string lastInstruction;
    while (!interrupted && channel.Read("DialogStatus").value_or("False") == "True") {
        const std::string instruction = channel.Read("DialogInstruction").value_or("");
        if (!instruction.empty() && instruction != lastInstruction)
            std::printf("\n%s\n", instruction.c_str());
        lastInstruction = instruction;
        if (channel.Read("DialogAcquisitionRequest").value_or("False") == "True") {
            if (!acquiring && (!EnsureCamera(channel) || !channel.Write("SetupMode", "On") ||
                               !channel.Write("AcquisitionMode", "SingleFrame"))) {
                status = channel.Error().empty() ? 1 : Fail(channel.Error());
                break;
            }
            // One image set per start: each image shows the light as the assistant last set it.
            if (!channel.Start()) {
                status = Fail(channel.Error());
                break;
            }
            acquiring = true;
            if (++images > options.maxImages) {
                status =
                    Fail("the assistant found no answer in " + std::to_string(options.maxImages) + " images");
                break;
            }
            if (!channel.NextImage(20000)) {
                status = Fail(channel.Error());
                break;
            }
        }
        const auto result = channel.Read("DialogResult");
        if (!result) {
            status = Fail(channel.Error());
            break;
        }
        const std::string message =
            FillPlaceholders(channel.Read("DialogResultMessage").value_or(""),
                             channel.Read("DialogResultMessageArguments").value_or(""));
        if (*result == "Undefined") {
            if (!message.empty())
                std::printf("  %s\n", message.c_str());
            if (channel.Read("DialogAcquisitionRequest").value_or("False") != "True")
                break; // nothing will change without an image
            continue;
        }
        std::printf("%s: %s\n", result->c_str(), message.c_str());
        if (*result != "Success") {
            status = 2;
            break;
        }
        if (options.yes && channel.Read("DialogAcquisitionRequest").value_or("False") != "True") {
            // A wiring check waits for the person to toggle the trigger or turn the encoder.
            std::this_thread::sleep_for(
                std::chrono::milliseconds(static_cast<int64_t>(options.actSeconds * 1000)));
        } else if (!options.yes) {
            std::printf("Press Enter for \"Next\" (or Ctrl-D to stop) ");
            std::fflush(stdout);
            std::string line;
            if (!std::getline(std::cin, line))
                break;
        }
        if (!channel.Execute("DialogNext")) {
            status = Fail(channel.Error());
            break;
        }
    }
    channel.Execute("DialogStop");
    if (acquiring)
        channel.Stop();
    return status;
}

} // namespace zeb::cli
