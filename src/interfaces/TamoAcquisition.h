// Tamo::Acquisition: the maker's acquisition library as the plug-in calls it: cameras as named
// image sources with text features and numbered frames.
#pragma once

#include "Tamo/Exception.h"
#include "Tamo/String.h"

#include <vector>

namespace Tamo::Acquisition {

// The library's view of one image source, shared by every user in the process.
class ImageSourceInterface {
public:
    explicit ImageSourceInterface(String name) : _name(std::move(name)) {}
    const String& Name() const { return _name; }
    // Name of the channel that currently uses the source; empty when none does.
    String Owner() const;

private:
    String _name;
};

class Main {
public:
    static Main& Instance();
    // Loads a transport plug-in ("Tamo.Acquisition.MicroEnable", "Tamo.Acquisition.Pleora").
    ExitCode Load(const String& name);
    // Names of the image sources of the loaded transports whose scan type equals the filter.
    static std::vector<String> ImageSources(const String& filter);
    ImageSourceInterface& ImageSource(const String& name);
};

class ImageSource {
public:
    ImageSource() = default;
    ImageSource(const ImageSource& other);
    ImageSource& operator=(const ImageSource& other);
    ~ImageSource();

    ExitCode SetOwner(const String& owner);
    ExitCode Bind(const String& name);
    String Bound() const { return _name; }

    ExitCode SetFeature(const String& name, const String& value);
    ExitCode GetFeature(const String& name, String& value);
    ExitCode GetEnumValues(const String& name, std::vector<String>& values);

    ExitCode Open();
    ExitCode Close();
    ExitCode Start();
    ExitCode Stop();

    ExitCode GetFrameIndex(int64_t& index);
    // The frame's pixels stay valid and writable until ReleaseFrame of the same index.
    ExitCode GetFrame(int64_t index, int32_t& width, int32_t& height, int32_t& stride, unsigned char*& data);
    ExitCode ReleaseFrame(int64_t index);

private:
    void ReleaseOwnership();

    String _owner;
    String _name;
    String _openMode = "ImageSource";
    String _cameraEvents;
    bool _open = false;
};

} // namespace Tamo::Acquisition
