// Driving one setup assistant of a channel step by step, as a host does through the features:
// start it, acquire an averaged image set whenever it asks for one, read its result, press
// "DialogNext" or "DialogStop".
#pragma once

#include "hostkit/HostChannel.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zeb::cli {

// The assistant names a channel offers and the short names a person may type.
class AssistantNames {
public:
    explicit AssistantNames(std::vector<std::string> offered) : _offered(std::move(offered)) {}
    // The offered name for a full or short name (brightness, focus, orientation, trigger,
    // encoder), case-insensitive; nothing when the channel offers none that matches.
    std::optional<std::string> Resolve(const std::string& typed) const;
    // The full name of a short one, or `typed` itself.
    static std::string Expand(const std::string& typed);
    // The short names of the assistants, in the plug-in's order.
    static const std::vector<std::pair<std::string, std::string>>& ShortNames();
    const std::vector<std::string>& Offered() const { return _offered; }

private:
    std::vector<std::string> _offered;
};

// The message with {0}, {1}, ... replaced by the ';'-separated arguments.
std::string FillPlaceholders(const std::string& message, const std::string& arguments);
std::vector<std::string> SplitArguments(const std::string& arguments);

struct AssistantState {
    bool running = false;
    bool wantsImage = false; // the assistant asks the host for an image set
    std::string instruction;
    std::string result;  // "Undefined", "Success", "Warning" or "Error"
    std::string message; // with its placeholders filled in
    std::vector<std::string> arguments;
    // The brightness assistant's: the channel's "ExposureTime" and "Gain" when the result was read,
    // from which a fix is suggested.
    std::string exposureTime, gain;
};

class AssistantRunner {
public:
    // The channel needs a camera only for the assistants that ask for images.
    AssistantRunner(host::HostChannel& channel, std::string name);
    ~AssistantRunner();
    AssistantRunner(const AssistantRunner&) = delete;
    AssistantRunner& operator=(const AssistantRunner&) = delete;

    const std::string& Name() const { return _name; }
    // True for the assistants that judge images (brightness, focus, orientation).
    bool JudgesImages() const;
    // Selects and starts the assistant. Throws CommandError with the plug-in's text.
    void Start();
    // Acquires an image set when the assistant asks for one (averaged, one per start), then reads
    // the state. `stop` is asked while waiting for the image. Throws CommandError on failure.
    AssistantState Update(const std::function<bool()>& stop = {});
    void Next();
    // Presses "DialogStop" and restores the channel's image form and acquisition mode. Idempotent.
    void Stop();
    int32_t ImagesTaken() const { return _images; }
    // The features the assistant sets for its image sets ("SetupMode", "AcquisitionMode") with the
    // channel's own values, which Stop restores; none before Start or after Stop.
    std::vector<std::pair<std::string, std::string>> OwnValues() const;
    // Longest wait for one image set.
    void SetImageTimeout(int32_t milliseconds) { _timeoutMs = milliseconds; }
    // Called with each image set the assistant was given (a viewer shows them).
    void SetImageHandler(std::function<void(const host::Image&)> handler) { _onImage = std::move(handler); }

private:
    std::string Read(const char* feature);
    void Execute(const char* command);
    void AcquireImage(const std::function<bool()>& stop);

    host::HostChannel& _channel;
    std::string _name;
    bool _started = false;
    bool _acquiring = false;
    std::string _savedSetupMode, _savedAcquisitionMode;
    int32_t _images = 0;
    int32_t _timeoutMs = 20000;
    std::function<void(const host::Image&)> _onImage;
};

} // namespace zeb::cli
