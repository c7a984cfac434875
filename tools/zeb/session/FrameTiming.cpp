#include "session/FrameTiming.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zeb::cli {

int64_t LineScanTiming::LargestHeight() const {
    return static_cast<int64_t>(std::floor(LineScanFrameMargin * LineScanFrameWaitMs * lineRate / 4000.0));
}

int64_t LineScanTiming::SmallestLineRate() const {
    return static_cast<int64_t>(
        std::ceil(4000.0 * static_cast<double>(height) / (LineScanFrameMargin * LineScanFrameWaitMs)));
}

std::string LineScanTiming::Explanation() const {
    if (!TooLong())
        return {};
    char text[400];
    std::snprintf(text, sizeof text,
                  "a line-scan frame of 4 x %lld = %lld lines takes %.0f ms at \"AcquisitionLineRate\" %g "
                  "lines/s, longer than the %.0f ms the plug-in waits for it: set \"Height\" to at most %lld "
                  "or \"AcquisitionLineRate\" to at least %lld",
                  static_cast<long long>(height), static_cast<long long>(4 * height), FrameMs(), lineRate,
                  LineScanFrameWaitMs, static_cast<long long>(LargestHeight()),
                  static_cast<long long>(SmallestLineRate()));
    return text;
}

std::string LineScanTiming::TallestImage() const {
    if (!clocked)
        return {};
    char text[300];
    std::snprintf(
        text, sizeof text,
        "\"Height\" at most %lld at \"AcquisitionLineRate\" %g lines/s, so that a frame stays within "
        "the plug-in's %.0f ms wait; raise \"AcquisitionLineRate\" to go taller",
        static_cast<long long>(LargestHeight()), lineRate, LineScanFrameWaitMs);
    return text;
}

std::optional<LineScanTiming> ReadLineScanTiming(host::HostChannel& channel) {
    if (channel.Read("DeviceScanType").value_or("") != "Linescan")
        return std::nullopt;
    const auto height = channel.Read("Height");
    const auto rate = channel.Read("AcquisitionLineRate");
    if (!height || !rate)
        return std::nullopt;
    LineScanTiming timing;
    timing.height = std::strtoll(height->c_str(), nullptr, 10);
    timing.lineRate = std::strtod(rate->c_str(), nullptr);
    timing.clocked = channel.Read("AcquisitionLineRateEnable").value_or("True") != "False";
    if (timing.height <= 0 || !(timing.lineRate > 0))
        return std::nullopt;
    return timing;
}

std::string ExplainFailure(host::HostChannel& channel, const std::string& error) {
    if (error.find("overtriggered") == std::string::npos)
        return {};
    const auto timing = ReadLineScanTiming(channel);
    return timing ? timing->Explanation() : std::string();
}

bool ExplainFailures(host::HostChannel& channel, std::mutex& guard,
                     std::initializer_list<std::string*> texts) {
    constexpr const char* Sentence = " A line-scan frame of ";
    auto unexplained = [&](const std::string& text) {
        return text.find("overtriggered") != std::string::npos && text.find(Sentence) == std::string::npos;
    };
    std::string failure;
    {
        const std::lock_guard lock(guard);
        for (const std::string* text : texts)
            if (unexplained(*text))
                failure = *text;
    }
    if (failure.empty())
        return false;
    std::string why = ExplainFailure(channel, failure);
    if (why.empty())
        return false;
    why[0] = 'A';
    bool changed = false;
    const std::lock_guard lock(guard);
    for (std::string* text : texts)
        if (*text == failure) {
            *text += " " + why + ".";
            changed = true;
        }
    return changed;
}

} // namespace zeb::cli
