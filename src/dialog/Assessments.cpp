// The three image measurements of the setup assistant: brightness, focus and light orientation.
#include "Controller.h"
#include "Dialog.h"
#include "Scanner.h"
#include "Tamo/Log.h"

#include <algorithm>
#include <cmath>

namespace Tamo::Morvane::Zeb {

namespace {

constexpr const char* SourceFile = "Dialog";
constexpr const char* BrightnessFunction = "Tamo::Morvane::Zeb::Dialog::CalculateBrightness";
constexpr const char* FocusFunction = "Tamo::Morvane::Zeb::Dialog::CalculateFocus";
constexpr const char* OrientationFunction = "Tamo::Morvane::Zeb::Dialog::DetectOrientation";

constexpr uint8_t Saturated = 255;
constexpr uint8_t Dark = 10;
constexpr double WarningShare = 0.1;

constexpr const char* OrientationTexts[] = {"0 deg", "90 deg", "180 deg", "270 deg"};

int32_t RoundToInt(double value) {
    return static_cast<int32_t>(std::round(value));
}

} // namespace

void Dialog::CalculateBrightness() {
    const int32_t h = _directionImage.Height() / 4;
    const int32_t width = _directionImage.Width();
    const bool linescan = AssistantController()._deviceScanType == "Linescan";
    const int32_t step = linescan ? 4 : 1;
    const int32_t offset = linescan ? 1 : h;
    int32_t over = 0;
    int32_t under = 0;
    for (int32_t group = 0; group < h; ++group) {
        const int32_t base = step * group;
        const uint8_t* rows[4];
        for (int32_t k = 0; k < 4; ++k)
            rows[k] = _directionImage.UInt8RowPtr(base + k * offset);
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t p0 = rows[0][x], p1 = rows[1][x], p2 = rows[2][x], p3 = rows[3][x];
            over += (p0 >= Saturated || p1 >= Saturated || p2 >= Saturated || p3 >= Saturated) ? 1 : 0;
            under += (p0 < Dark && p1 < Dark && p2 < Dark && p3 < Dark) ? 1 : 0;
        }
    }
    const int32_t total = width * h;
    // Without pixels (an empty stack) there is nothing under- or overexposed.
    const float underShare =
        total > 0 ? static_cast<float>(under) * 100.0f / static_cast<float>(total) : 0.0f;
    const float overShare = total > 0 ? static_cast<float>(over) * 100.0f / static_cast<float>(total) : 0.0f;
    double mean = 0.0, deviation = 0.0;
    _intensityImage.GetMeanStdDev(mean, deviation);

    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, BrightnessFunction, SourceFile, "Intensity mean = %.2f",
                           static_cast<double>(static_cast<float>(mean)));
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, BrightnessFunction, SourceFile,
                           "Amount pixel underexposure = %d", under);
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, BrightnessFunction, SourceFile,
                           "Percentage pixel underexposure = %.4f", static_cast<double>(underShare));
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, BrightnessFunction, SourceFile,
                           "Amount pixel overexposure = %d", over);
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, BrightnessFunction, SourceFile,
                           "Percentage pixel overexposure = %.4f", static_cast<double>(overShare));
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, BrightnessFunction, SourceFile,
                           "Results updated in brightness calculation.");

    const bool warning =
        static_cast<double>(underShare) > WarningShare || static_cast<double>(overShare) > WarningShare;
    UpdateResult(warning ? "Warning" : "Success",
                 "The mean of the intensity image is {0}, {1}% of the pixels are underexposed and {2}% are "
                 "overexposed.",
                 Tamo::Log::Format("%0.2f;%0.4f;%0.4f", mean, static_cast<double>(underShare),
                                   static_cast<double>(overShare)));
}

void Dialog::CalculateFocus() {
    if (!_intensityImage.Data())
        Tamo::Log::WriteFormat(Tamo::Error, __LINE__, FocusFunction, SourceFile,
                               "No intensity bitmap loaded in dialog for focus calculation.");
    const int32_t height = _intensityImage.Height();
    const int32_t width = _intensityImage.Width();
    Dervo::Imaging::Bitmap crop;
    Dervo::Imaging::Bitmap::CopyRemoveBorder(_intensityImage, crop, height / 4, height / 4, width / 4,
                                             width / 4);
    Dervo::Imaging::Bitmap gradient;
    Dervo::Imaging::Bitmap::MorphologicalGradient(crop, gradient, 1, 3, 3, -1, -1, -1, -1, 1);
    double mean = 0.0, deviation = 0.0;
    gradient.GetMeanStdDev(mean, deviation);
    const double focusValue = std::round(mean * 50.0);

    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, FocusFunction, SourceFile, "    focusValue = %d",
                           static_cast<int32_t>(focusValue));
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, FocusFunction, SourceFile, "_maxFocusValue = %d",
                           static_cast<int32_t>(_maxFocusValue));
    if (focusValue > _maxFocusValue)
        _maxFocusValue = focusValue;
    UpdateResult(
        "Success", "The focus value is {0}. The maximum focus value was {1}.",
        Tamo::Log::Format("%d;%d", static_cast<int32_t>(focusValue), static_cast<int32_t>(_maxFocusValue)));
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, FocusFunction, SourceFile,
                           "Results updated in focus calculation.");
}

int32_t Dialog::CameraInteger(const char* name) const {
    const Tamo::String source = "Tamo::Acquisition::ImageSource::GetFeature";
    if (!_imageSource)
        throw Tamo::Exception("No image source is bound.", source);
    Tamo::String value;
    if (_imageSource->GetFeature(name, value) != 0)
        throw Tamo::Exception(Tamo::String("Feature ") + name + " could not be read.", source);
    return value.ToInt();
}

void Dialog::DetectOrientation() {
    Controller& controller = AssistantController();
    auto readRegister = [&controller](const char* name) {
        Tamo::String value;
        controller.GetRegisterValue(name, value);
        return value;
    };
    auto readCamera = [this](const char* name) { return CameraInteger(name); };

    // 1. Light settings and the set orientation.
    const float global = readRegister("Light.GlobalChannelParameters.Brightness").ToFloat();
    const int32_t pulseWidth = readRegister("Light.GlobalChannelParameters.PulseWidth").ToInt();
    const Tamo::String orientation = AssistantChannel().Features("LightingOrientation").Value();
    const int32_t setIndex = orientation == "90 deg"    ? 1
                             : orientation == "180 deg" ? 2
                             : orientation == "270 deg" ? 3
                                                        : 0;
    const Tamo::String sequence = readRegister("Sequencer.LightSequence");
    float brightness = global;
    if (readRegister("Light0.Channel0.UseGlobalParameters") == "0")
        brightness = readRegister("Light0.Channel0.Brightness").ToFloat();

    // 2., 3. The part of the image inside the sensor's central 60 %.
    const int32_t h = _directionImage.Height() / 4;
    const int32_t width = _directionImage.Width();
    const bool linescan = controller._deviceScanType == "Linescan";
    const int32_t ox = readCamera("OffsetX");
    const int32_t sensorWidth = readCamera("SensorWidth");
    const int32_t mx = RoundToInt(sensorWidth * 0.2);
    const int32_t rowStep = linescan ? 4 : 1;
    const int32_t imageOffset = linescan ? 1 : h;
    const int32_t oy = linescan ? 0 : readCamera("OffsetY");
    const int32_t sensorHeight = linescan ? h : readCamera("SensorHeight");
    const int32_t my = linescan ? 0 : RoundToInt(sensorHeight * 0.2);
    const int32_t x0 = std::max(ox, mx), x1 = std::min(sensorWidth - mx, ox + width);
    const int32_t y0 = std::max(oy, my), y1 = std::min(sensorHeight - my, oy + h);
    const int32_t usedWidth = x1 - x0, usedHeight = y1 - y0;

    // 4.
    if (usedWidth < 1 || usedHeight < 1) {
        UpdateResult(
            "Error",
            "The region of interest is too far away from the middle of the sensor. Increase the size of the "
            "region of interest and try again.",
            "");
        return;
    }

    // 5. Brightness-weighted column sums of the four direction images.
    double total = 0.0;
    double moment[4] = {0, 0, 0, 0}, sum[4] = {0, 0, 0, 0};
    int32_t count = 0;
    for (int32_t r = y0 - oy; r < y1 - oy; ++r) {
        const int32_t base = rowStep * r;
        for (int32_t x = x0 - ox; x < x1 - ox; ++x) {
            for (int32_t k = 0; k < 4; ++k) {
                const double p = _directionImage.UInt8RowPtr(base + k * imageOffset)[x];
                total += p;
                moment[k] += x * p;
                sum[k] += p;
            }
            ++count;
        }
    }

    // 6., 7.
    const double mean = total / (4.0 * count);
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, OrientationFunction, SourceFile, "OverallMean = %.2f",
                           mean);
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, OrientationFunction, SourceFile, "Brightness = %.2f",
                           static_cast<double>(brightness));
    if (sum[0] == 0 || sum[1] == 0 || sum[2] == 0 || sum[3] == 0) {
        UpdateResult("Error", "Image Brightness to dark. Adjust aperture or exposure time.", "");
        return;
    }

    // 8. Detect only once the brightness is usable (or cannot be raised any further).
    if (std::fabs(mean - 180.0) <= 20.0 || (mean < 180.0 && brightness == global)) {
        double a[4];
        for (int32_t k = 0; k < 4; ++k)
            a[k] = moment[k] / sum[k];
        if (sequence == "02010408") {
            const double c0 = a[0], c1 = a[1], c2 = a[2], c3 = a[3];
            a[0] = c3 + c0, a[1] = c1 + c0, a[2] = c2 + c1, a[3] = c3 + c2;
        }
        const double differences[4] = {a[0] - a[2], a[1] - a[3], a[2] - a[0], a[3] - a[1]};
        int32_t winner = 0;
        double largest = differences[0];
        for (int32_t k = 1; k < 4; ++k)
            if (differences[k] > largest) {
                largest = differences[k];
                winner = k;
            }
        const char* detected = OrientationTexts[(winner + setIndex) % 4];
        const char* set = OrientationTexts[setIndex];

        const char* confidence = "high";
        const char* reason = "image seems to contain enough meaningful data";
        const int64_t area = static_cast<int64_t>(usedWidth) * usedHeight;
        const struct {
            bool applies;
            const char* confidence;
            const char* reason;
        } rules[] = {
            {largest < 10, "medium", "input images deviations are small"},
            {mean < 50, "medium", "image is dark"},
            {usedWidth < 400, "medium",
             "image width is small or region of interest is far away from the middle of the sensor"},
            {area < 10000, "medium",
             "image size small or region of interest is far away from the middle of the sensor"},
            {largest < 5, "low", "input images deviations are very small"},
            {mean < 20, "low", "image is very dark"},
            {usedWidth < 200, "low",
             "image width is very small or region of interest is far away from the middle of the sensor"},
            {area < 2000, "low",
             "image size very small or region of interest is far away from the middle of the sensor"},
        };
        for (const auto& rule : rules)
            if (rule.applies) {
                confidence = rule.confidence;
                reason = rule.reason;
            }

        UpdateResult(
            Tamo::String(detected) == set ? "Success" : "Warning",
            "The set orientation is {0}, the detected orientation is {1}. Confidence is {2} because {3}.",
            Tamo::String(set) + ";" + detected + ";" + confidence + ";" + reason);
        Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, OrientationFunction, SourceFile,
                               "Result = %s, (Current = %s)", detected, set);
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, OrientationFunction, SourceFile,
                               "Confidence = %s, Reason = %s, Maximum difference = %0.1f ", confidence,
                               reason, largest);
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, OrientationFunction, SourceFile, "Size = %d x %d",
                               width, h);
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, OrientationFunction, SourceFile, "Used Size = %d x %d",
                               usedWidth, usedHeight);
    } else {
        UpdateResult("Undefined", "Image Brightness will be optimized, please wait.", "");
    }

    // 12. Rescale the four channels toward a mean of 180, never above the global brightness.
    float adjusted = brightness / static_cast<float>(mean) * 180.0f;
    if (static_cast<float>(mean) > 240.0f)
        adjusted = brightness * 0.2f;
    adjusted = std::min(global, adjusted);
    const Tamo::String adjustedText = Tamo::String::FromFloat(adjusted);
    const Tamo::String pulseText = Tamo::String::FromInt(pulseWidth);
    for (int32_t channel = 0; channel < 4; ++channel)
        controller.SetRegisterValue(
            "Light0.Channel" + Tamo::String::FromInt(channel) + ".UseGlobalParameters", "0");
    for (int32_t channel = 0; channel < 4; ++channel)
        controller.SetRegisterValue("Light0.Channel" + Tamo::String::FromInt(channel) + ".Brightness",
                                    adjustedText);
    for (int32_t channel = 0; channel < 4; ++channel)
        controller.SetRegisterValue("Light0.Channel" + Tamo::String::FromInt(channel) + ".PulseWidth",
                                    pulseText);
    ++_lightAdjustments;
}

} // namespace Tamo::Morvane::Zeb
