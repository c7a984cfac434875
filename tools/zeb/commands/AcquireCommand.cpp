// zeb acquire: acquire image sets and keep each under numbered PNG names with its metadata.
#include "commands/Commands.h"

#include "base/CommandError.h"
#include "base/JsonText.h"
#include "base/Text.h"
#include "commands/CommandLine.h"
#include "commands/Interrupt.h"
#include "files/ImageSetWriter.h"
#include "files/SurfaceWriter.h"
#include "runs/AcquisitionLoop.h"
#include "session/FeatureReport.h"
#include "session/FrameTiming.h"

#include <cstdio>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif
#include <memory>

namespace zeb::cli {

void AcquireCommand::Define(CLI::App& parent) {
    _app =
        parent.add_subcommand("acquire", "acquire image sets and write each as PNG files with its metadata");
    AddChannelOptions(*_app, _channel);
    _app->add_option("--count,-n", _count, "image sets to acquire")->check(NumberIn(1, 1000000, true));
    _app->add_flag("--continuous", _continuous,
                   "acquire until Ctrl-C with a live line of image sets per second, lost and failed sets; "
                   "files are written only with --out");
    _app->add_option("--setup-mode", _setupMode,
                     "the image form: Off, the four directions stacked; On, their average (default: as the "
                     "channel holds it)")
        ->check(CLI::IsMember({"Off", "On"}));
    _app->add_option("--out,-o", _out, "folder for the PNG files");
    _app->add_option(
            "--files", _files,
            "the files of each image set, comma-separated: stack, average, directions (the 2 x 2 contact "
            "sheet), direction (a file per direction); the surface's normals, albedo, curvature, height "
            "(any of them computes the surface, as --surface does) (default: every file of the image "
            "set's form, and with --surface every file of the surface)")
        ->delimiter(',')
        ->check(CLI::IsMember(FileChoices()));
    _app->add_option("--timeout", _timeoutSeconds, "longest wait for one image set, in seconds")
        ->check(NumberIn(0.01, 3600));
    _app->add_flag("--json", _json, "print the result as JSON");
    _app->get_option("--count")->excludes(_app->get_option("--continuous"));
    _app->add_flag("--surface", _surface,
                   "also write each image set's surface: -normals.png, -albedo.png, "
                   "-curvature.png, -height.png");
    AddSurfaceModelOptions(*_app, _surfaceModel, true);
}

namespace {
bool StandardErrorIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

std::string Form(const ImageSetDescription& description) {
    if (description.Averaged())
        return "averaged";
    return description.LineScan() ? "four directions interleaved by rows" : "four directions stacked";
}
} // namespace

int AcquireCommand::Run(Session& session) {
    std::vector<Assignment> extra;
    if (!_setupMode.empty())
        extra.push_back({"SetupMode", _setupMode, "--setup-mode"});
    extra.push_back({"AcquisitionMode", _continuous || _count > 1 ? "Continuous" : "SingleFrame", "acquire"});
    host::HostChannel& channel = PrepareChannel(session, _channel, CameraNeed::Required, extra);

    const ImageSetDescription description = ImageSetDescription::Read(channel, _channel.channel);
    const bool writeFiles = !_continuous || _app->get_option("--out")->count() > 0;
    std::unique_ptr<ImageSetWriter> writer;
    if (writeFiles) {
        try {
            writer = std::make_unique<ImageSetWriter>(_out, description, _files);
        } catch (const std::exception& error) {
            throw CommandError(error.what());
        }
    }

    const bool surface = _surface || (writer && !writer->SurfaceFiles().empty());
    for (const char* option : {"--model", "--calibration"})
        if (!surface && _app->get_option(option)->count() > 0)
            throw CommandError(std::string(option) +
                               " is for the surface: add --surface, or name its files in --files");
    const std::unique_ptr<SurfaceWriter> surfaces =
        surface
            ? SurfaceWriter::ForAcquisition(channel, session, _channel.channel, _surfaceModel, writer.get())
            : nullptr;

    AcquisitionLoop::Options options;
    options.count = _continuous ? 0 : _count;
    options.keepGoing = _continuous;
    options.timeoutMs = static_cast<int32_t>(_timeoutSeconds * 1000);
    AcquisitionLoop loop(channel, options);
    std::vector<std::string> files;
    int64_t firstNumber = 0; // of the image sets written
    int32_t width = 0, height = 0;
    auto handle = [&](const host::Image& image, int64_t) {
        width = image.width;
        height = image.height;
        if (!writer)
            return;
        const auto taken = std::chrono::system_clock::now();
        for (const auto& file : surfaces ? surfaces->Write(image, taken) : writer->Write(image, taken))
            files.push_back(file.string());
        if (firstNumber == 0)
            firstNumber = writer->LastNumber();
    };
    // On a terminal one line rewritten in place; into a log a plain line every few seconds.
    const bool terminal = StandardErrorIsTerminal();
    bool rewritten = false;
    auto lastLine = std::chrono::steady_clock::now();
    auto progress = [&](const AcquisitionStatistics& s) {
        const auto now = std::chrono::steady_clock::now();
        if (!terminal && now - lastLine < std::chrono::seconds(3))
            return;
        lastLine = now;
        char line[200];
        if (_continuous)
            std::snprintf(line, sizeof line, "%lld image set%s, %.1f per second, %lld lost, %lld failed",
                          static_cast<long long>(s.sets), s.sets == 1 ? "" : "s", s.SetsPerSecond(now),
                          static_cast<long long>(s.lost), static_cast<long long>(s.failed));
        else
            std::snprintf(line, sizeof line, "image set %lld of %lld", static_cast<long long>(s.sets),
                          static_cast<long long>(_count));
        if (terminal)
            std::fprintf(stderr, "\r%s   ", line);
        else
            std::fprintf(stderr, "%s\n", line);
        rewritten = terminal;
        std::fflush(stderr);
    };
    auto endLine = [&] {
        if (rewritten)
            std::fprintf(stderr, "\n");
    };
    AcquisitionLoop::End end;
    try {
        end = loop.Run(handle, Interrupted, progress);
    } catch (const std::exception& error) {
        endLine();
        throw CommandError(error.what());
    }
    endLine();
    const AcquisitionStatistics& s = loop.Statistics();

    if (_json) {
        nlohmann::json json = {
            {"channel", description.channel},
            {"camera", description.camera},
            {"scanType", description.scanType},
            {"form", Form(description)},
            {"width", width},
            {"height", height},
            {"imageSets", s.sets},
            {"lost", s.lost},
            {"failed", s.failed},
            {"startupMs", 1000.0 * s.startupSeconds},
            {"msPerImageSet", s.MillisecondsPerSet()},
            {"msWritingPerImageSet", s.sets ? 1000.0 * s.handlingSeconds / double(s.sets) : 0.0},
            {"interrupted", end == AcquisitionLoop::End::Stopped},
            {"files", files}};
        if (!_continuous)
            json["requested"] = _count;
        if (end == AcquisitionLoop::End::Failed)
            json["error"] = loop.Error();
        if (!loop.LastFailure().empty())
            json["lastFailure"] = loop.LastFailure();
        std::printf("%s\n", JsonText(json, 2).c_str());
    } else if (s.sets > 0) {
        std::printf("%lld image set%s of %d x %d pixels (%s) from %s, camera %s (%s)\n",
                    static_cast<long long>(s.sets), s.sets == 1 ? "" : "s", width, height,
                    Form(description).c_str(), Printable(description.channel).c_str(),
                    Printable(description.camera).c_str(), Printable(description.cameraModel).c_str());
        std::printf("start-up %.1f ms (starting and the first image set)", 1000.0 * s.startupSeconds);
        if (s.sets > 1)
            std::printf(", then %.1f ms per image set", s.MillisecondsPerSet());
        std::printf("\n");
        if (writer)
            std::printf("%s took %.1f ms per image set\n",
                        surfaces ? "computing the surface and writing the files" : "writing the files",
                        1000.0 * s.handlingSeconds / double(s.sets));
        if (_continuous || s.lost || s.failed)
            std::printf("%lld lost, %lld failed%s\n", static_cast<long long>(s.lost),
                        static_cast<long long>(s.failed),
                        loop.LastFailure().empty()
                            ? ""
                            : Printable(" (the last: " + loop.LastFailure() + ")").c_str());
        if (const std::string why = ExplainFailure(channel, loop.LastFailure()); !why.empty())
            std::printf("%s\n", Printable(why).c_str());
        if (!files.empty()) {
            // Another writer into the same folder may have taken numbers in between.
            const int64_t last = writer->LastNumber();
            const std::string sets =
                s.sets == 1 ? "image set " + std::to_string(last)
                : last - firstNumber + 1 == s.sets
                    ? "image sets " + std::to_string(firstNumber) + " to " + std::to_string(last)
                    : std::to_string(s.sets) + " image sets numbered from " + std::to_string(firstNumber) +
                          " to " + std::to_string(last);
            std::printf("wrote %s of %s to %s\n", Count(static_cast<int64_t>(files.size()), "file").c_str(),
                        sets.c_str(), _out.c_str());
        }
    }
    if (end == AcquisitionLoop::End::Stopped) {
        if (_continuous)
            std::fprintf(stderr, "interrupted after %lld image set%s\n", static_cast<long long>(s.sets),
                         s.sets == 1 ? "" : "s");
        else
            std::fprintf(stderr, "interrupted after %lld of %s\n", static_cast<long long>(s.sets),
                         Count(_count, "image set").c_str());
        return StoppedStatus();
    }
    if (end == AcquisitionLoop::End::Failed) {
        const bool lost = s.lost > 0 && s.failed == 0;
        CommandError error = lost ? CommandError(loop.Error()) : PluginError(loop.Error());
        if (s.sets > 0)
            error.Hint("after " + std::to_string(s.sets) + " of " + Count(_count, "image set"));
        error.Hint(ExplainFailure(channel, loop.Error()));
        if (_json)
            return Report(error); // the JSON above carries the error
        throw error;
    }
    return 0;
}

} // namespace zeb::cli
