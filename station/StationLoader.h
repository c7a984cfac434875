// Reading a station from its JSON file; every error names the file, the place and the reason. The
// devices are read in StationFile.cpp, a camera's scene in StationFileScene.cpp.
#pragma once

#include "Devices.h"
#include "StationFiles.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace zeb::station {

class Station;

class StationLoader {
public:
    using Json = nlohmann::json;

    StationLoader(std::string fileName, std::shared_ptr<const FileSource> files)
        : _file(std::move(fileName)), _files(std::move(files)) {}

    std::unique_ptr<Station> Load(const std::string& text);

private:
    [[noreturn]] void Fail(const std::string& place, const std::string& reason) const {
        throw std::runtime_error("station file " + _file + (place.empty() ? "" : " at " + place) + ": " +
                                 reason);
    }

    // An object whose keys must be among `keys`; without a list any key is allowed (maps of names).
    void Object(const Json& value, const std::string& place, std::span<const char* const> keys = {}) const {
        if (!value.is_object())
            Fail(place.empty() ? "/" : place, "expected an object");
        if (keys.size() == 0)
            return;
        for (const auto& [key, item] : value.items()) {
            bool known = false;
            for (const char* allowed : keys)
                known = known || key == allowed;
            if (!known)
                Fail(place + "/" + key, "unknown key \"" + key + "\"");
        }
    }
    const Json& Array(const Json& value, const std::string& place) const {
        if (!value.is_array())
            Fail(place, "expected an array");
        return value;
    }
    std::string Text(const Json& value, const std::string& place) const {
        if (!value.is_string())
            Fail(place, "expected a text");
        return value.get<std::string>();
    }
    double Number(const Json& value, const std::string& place) const {
        if (!value.is_number() || !std::isfinite(value.get<double>()))
            Fail(place, "expected a number");
        return value.get<double>();
    }
    double Number(const Json& value, const std::string& place, double minimum, double maximum) const {
        const double number = Number(value, place);
        if (number < minimum || number > maximum)
            Fail(place, "expected a number from " + NumberText(minimum) + " to " + NumberText(maximum));
        return number;
    }
    // A whole number given as text among a camera's features, within limits.
    int64_t FeatureInteger(const SimCamera& camera, const std::string& feature, const std::string& place,
                           int64_t minimum, int64_t maximum) const {
        const std::string text = camera.Feature(feature);
        int64_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error != std::errc() || end != text.data() + text.size() || number < minimum || number > maximum)
            Fail(place + "/" + feature, "expected a whole number from " + std::to_string(minimum) + " to " +
                                            std::to_string(maximum));
        return number;
    }
    int64_t Integer(const Json& value, const std::string& place, int64_t minimum, int64_t maximum) const {
        if (!value.is_number_integer())
            Fail(place, "expected an integer");
        const int64_t number = value.get<int64_t>();
        if (number < minimum || number > maximum)
            Fail(place,
                 "expected an integer from " + std::to_string(minimum) + " to " + std::to_string(maximum));
        return number;
    }
    bool Boolean(const Json& value, const std::string& place) const {
        if (!value.is_boolean())
            Fail(place, "expected true or false");
        return value.get<bool>();
    }

    std::vector<Fault> LoadFaults(const Json& list, const std::string& place) const;

    void LoadController(Station& station, const Json& item, const std::string& at);

    void LoadCamera(Station& station, const Json& item, const std::string& at);

    // The camera's limits ("limits"), checked against its features.
    void LoadLimits(SimCamera& c, const Json& list, const std::string& at) const;

    // The sensor and the region of interest: whole numbers that fit together, and a sensor of at
    // most 64 megapixels.
    void CheckRegion(const SimCamera& c, const std::string& place) const;

    void LoadCable(Station& station, const Json& item, const std::string& at);

    // The camera's scene (StationFileScene.cpp).
    // The scene: a built-in target or a part of one's own, and the optics; or a recording.
    void LoadScene(SimCamera& c, const Json& item, const std::string& at);

    void LoadOwnObject(SimCamera& c, const Json& object, const std::string& place);

    // A camera playing back recorded image sets. The sizes the file does not give are the recording's
    // (a line camera's "Height" counts object lines, four rows each, as the plug-in sets it).
    void LoadReplay(SimCamera& c, const Json& item, const std::string& at);

    std::string _file;
    std::shared_ptr<const FileSource> _files;
};

} // namespace zeb::station
