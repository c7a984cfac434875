#include "view/LiveImageSet.h"

#include "files/ImageSet.h"
#include "imagefiles/Png.h"
#include "session/ImageSetDescription.h"

namespace zeb::view {

GreyStatistics Measure(const host::Image& image) {
    GreyStatistics statistics;
    for (uint8_t pixel : image.pixels)
        ++statistics.histogram[pixel];
    if (image.pixels.empty())
        return statistics;
    double sum = 0;
    uint64_t dark = 0;
    for (size_t grey = 0; grey < 256; ++grey) {
        sum += static_cast<double>(grey) * static_cast<double>(statistics.histogram[grey]);
        if (grey < 10)
            dark += statistics.histogram[grey];
    }
    const double count = static_cast<double>(image.pixels.size());
    statistics.mean = sum / count;
    statistics.saturatedPercent = 100.0 * static_cast<double>(statistics.histogram[255]) / count;
    statistics.darkPercent = 100.0 * static_cast<double>(dark) / count;
    return statistics;
}

host::Image Shrink(const host::Image& image, int32_t factor) {
    if (factor <= 1)
        return image;
    host::Image out;
    out.width = (image.width + factor - 1) / factor;
    out.height = (image.height + factor - 1) / factor;
    out.pixels.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    for (int32_t y = 0; y < out.height; ++y)
        for (int32_t x = 0; x < out.width; ++x) {
            uint32_t sum = 0, count = 0;
            bool saturated = false;
            for (int32_t row = y * factor; row < std::min(image.height, (y + 1) * factor); ++row)
                for (int32_t column = x * factor; column < std::min(image.width, (x + 1) * factor);
                     ++column) {
                    const uint8_t pixel =
                        image.pixels[static_cast<size_t>(row) * static_cast<size_t>(image.width) +
                                     static_cast<size_t>(column)];
                    saturated = saturated || pixel == 255;
                    sum += pixel;
                    ++count;
                }
            out.pixels[static_cast<size_t>(y) * static_cast<size_t>(out.width) + static_cast<size_t>(x)] =
                saturated ? uint8_t{255}
                          : static_cast<uint8_t>(std::min<uint32_t>(254, (sum + count / 2) / count));
        }
    return out;
}

std::vector<std::string> LitFromSides(const std::string& lightingSequence) {
    // LitFrom names them as "0 right, 1 top, ..."; the page wants the sides alone.
    if (lightingSequence != "Axial" && lightingSequence != "Diagonal")
        return {};
    const std::string text = cli::LitFrom(lightingSequence);
    std::vector<std::string> sides;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(", ", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(start, end - start);
        const size_t blank = entry.find(' ');
        sides.push_back(blank == std::string::npos ? entry : entry.substr(blank + 1));
        start = end + 2;
    }
    return sides;
}

LiveImageSet::LiveImageSet(int64_t number, host::Image delivered, cli::ImageSetDescription description,
                           std::chrono::system_clock::time_point taken)
    : _number(number), _delivered(std::move(delivered)), _description(std::move(description)), _taken(taken) {
}

bool LiveImageSet::KnownForm(const std::string& form) {
    return form == "stack" || form == "average" || form == "direction0" || form == "direction1" ||
           form == "direction2" || form == "direction3";
}

std::vector<std::string> LiveImageSet::Forms() const {
    if (_description.Averaged())
        return {"average"};
    return {"stack", "average", "direction0", "direction1", "direction2", "direction3"};
}

int32_t LiveImageSet::DirectionHeight() const {
    return _description.Averaged() ? _delivered.height : _delivered.height / 4;
}

std::optional<host::Image> LiveImageSet::Form(const std::string& form) const {
    const bool line = _description.LineScan();
    if (_description.Averaged())
        return form == "average" ? std::optional<host::Image>(_delivered) : std::nullopt;
    if (form == "stack")
        return _delivered;
    if (form == "average")
        return cli::Average(_delivered, line);
    for (int32_t k = 0; k < 4; ++k)
        if (form == "direction" + std::to_string(k))
            return cli::Direction(_delivered, line, k);
    return std::nullopt;
}

std::shared_ptr<const std::string> LiveImageSet::Png(const std::string& form, int32_t factor) const {
    const auto key = std::make_pair(form, factor);
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (const auto found = _png.find(key); found != _png.end())
            return found->second;
    }
    const std::optional<host::Image> image = Form(form);
    if (!image)
        return nullptr;
    const host::Image shrunk = Shrink(*image, factor);
    const std::vector<uint8_t> bytes = imagefiles::EncodePng(cli::GreyPicture(shrunk), {});
    auto png = std::make_shared<const std::string>(bytes.begin(), bytes.end());
    std::lock_guard<std::mutex> lock(_mutex);
    return _png.emplace(key, std::move(png)).first->second;
}

const GreyStatistics& LiveImageSet::Statistics() const {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_statistics)
        _statistics = Measure(_delivered);
    return *_statistics;
}

const std::vector<GreyStatistics>& LiveImageSet::DirectionStatistics() const {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_directionStatistics) {
        _directionStatistics.emplace();
        if (!_description.Averaged())
            for (int32_t k = 0; k < 4; ++k)
                _directionStatistics->push_back(
                    Measure(cli::Direction(_delivered, _description.LineScan(), k)));
    }
    return *_directionStatistics;
}

} // namespace zeb::view
