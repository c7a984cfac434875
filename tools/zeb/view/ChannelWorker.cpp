#include "view/ChannelWorker.h"

#include "session/FrameTiming.h"

namespace zeb::view {

namespace {
using Clock = std::chrono::steady_clock;
} // namespace

ChannelWorker::ChannelWorker(int32_t index, host::HostChannel& channel, const ClientRegistry& clients,
                             Options options)
    : _index(index), _channel(channel), _clients(clients), _options(std::move(options)),
      _recorder(_options.saveFolder) {
    _name = _channel.Name();
    _serial = _channel.Serial();
    _scanType = _channel.Read("DeviceScanType").value_or("");
    _thread = std::thread([this] { Main(); });
}

ChannelWorker::~ChannelWorker() {
    Shutdown();
}

void ChannelWorker::Post(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_quitting)
        throw std::runtime_error("zeb view is stopping");
    _jobs.push_back(std::move(job));
    _wake.notify_all();
}

ChannelWorker::Outcome ChannelWorker::Request(Control::Kind kind, const std::string& client,
                                              const std::string& name) {
    auto control = std::make_shared<Control>();
    control->kind = kind;
    control->client = client;
    control->name = name;
    return Request(std::move(control));
}

ChannelWorker::Outcome ChannelWorker::Request(std::shared_ptr<Control> control) {
    std::future<Outcome> done = control->done.get_future();
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_quitting)
            throw std::runtime_error("zeb view is stopping");
        _controls.push_back(control);
        _wake.notify_all();
    }
    if (done.wait_for(_options.requestGuard) != std::future_status::ready)
        throw ChannelBusy("channel " + std::to_string(_index) + " did not take the request within " +
                          std::to_string(_options.requestGuard.count() / 1000) + " s; it is busy");
    return done.get();
}

void ChannelWorker::Fulfil(const std::shared_ptr<Control>& control, Outcome outcome) {
    if (control)
        control->done.set_value(std::move(outcome));
}

ChannelWorker::Outcome ChannelWorker::StartAcquisition(const std::string& client) {
    return Request(Control::Kind::StartLive, client);
}

ChannelWorker::Outcome ChannelWorker::StopAcquisition() {
    return Request(Control::Kind::StopLive);
}

ChannelWorker::Outcome ChannelWorker::StartAssistant(const std::string& name, const std::string& client) {
    return Request(Control::Kind::StartAssistant, client, name);
}

ChannelWorker::Outcome ChannelWorker::NextAssistant() {
    return Request(Control::Kind::NextAssistant);
}

ChannelWorker::Outcome ChannelWorker::StopAssistant() {
    return Request(Control::Kind::StopAssistant);
}

void ChannelWorker::Changed() {
    _changes.Changed();
}

ChannelWorker::Status ChannelWorker::StatusLocked() const {
    Status status;
    status.mode = _mode;
    status.revision = _changes.Revision();
    status.kept = _owners.Kept();
    status.pages = _owners.Pages();
    status.statistics = _statistics;
    status.latest = _latest;
    status.error = _error;
    status.lastFailure = _lastFailure;
    status.recording = _recorder.State();
    status.recentPerSecond = RecentRate();
    return status;
}

double ChannelWorker::RecentRate() const {
    const Clock::time_point now = Clock::now();
    std::vector<Clock::time_point> recent;
    for (const Clock::time_point arrival : _arrivals)
        if (now - arrival <= std::chrono::seconds(3))
            recent.push_back(arrival);
    if (recent.size() < 2 || _mode == Mode::Idle)
        return 0;
    const double seconds = std::chrono::duration<double>(recent.back() - recent.front()).count();
    return seconds > 0 ? static_cast<double>(recent.size() - 1) / seconds : 0;
}

ChannelWorker::Status ChannelWorker::CurrentStatus() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return StatusLocked();
}

void ChannelWorker::WakeOnChange(uint64_t since,
                                 const std::shared_ptr<const std::function<void()>>& wake) const {
    std::lock_guard<std::mutex> lock(_mutex);
    _changes.Add(since, wake);
}

ChannelWorker::AssistantView ChannelWorker::Assistant() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _assistant;
}

Recorder::Saved ChannelWorker::Save(const LiveImageSet& set, bool surface) {
    if (!surface)
        return _recorder.Save(set);
    if (!_options.lighting)
        throw std::runtime_error("zeb view computes no surface here");
    // The lighting as the channel is set now; the set is written with it on this thread.
    const cli::ChannelLighting lighting =
        Call([this](host::HostChannel& channel) { return _options.lighting(channel); });
    const Recorder::Lighting light = [&lighting] { return lighting; };
    return _recorder.Save(set, &light);
}

ChannelWorker::Outcome ChannelWorker::StartRecording(int64_t count, double seconds, bool surfaces,
                                                     const std::string& client) {
    auto control = std::make_shared<Control>();
    control->kind = Control::Kind::StartRecording;
    control->client = client;
    control->count = count;
    control->seconds = seconds;
    control->surfaces = surfaces;
    return Request(std::move(control));
}

ChannelWorker::Outcome ChannelWorker::BeginRecording(const Control& control, Recorder::Estimate estimate) {
    std::string refusal;
    try {
        refusal = _recorder.Start(control.count, control.seconds, control.surfaces, estimate);
    } catch (const std::exception& error) {
        return {Outcome::Kind::Failed, error.what()};
    }
    if (!refusal.empty())
        return {Outcome::Kind::NoRoom, refusal};
    Changed();
    return {};
}

ChannelWorker::Outcome ChannelWorker::StopRecording() {
    return Call([this](host::HostChannel&) -> Outcome {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_recorder.Active())
            EndRecording("stopped");
        return {};
    });
}

void ChannelWorker::EndRecording(const std::string& why) {
    _recorder.End(why);
    Changed();
}

void ChannelWorker::Record(const host::Image& image) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_recorder.Active())
            return;
        if (_recorder.TimeUp()) {
            EndRecording("");
            return;
        }
    }
    // The settings now are those the image set was taken with.
    const cli::ImageSetDescription description = cli::ImageSetDescription::Read(_channel, _index);
    bool surfaces = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        surfaces = _recorder.State().surfaces && _options.lighting;
        if (surfaces && description.Averaged()) {
            EndRecording("the surface needs the four directions, and the channel averages them "
                         "(\"SetupMode\" \"On\")");
            return;
        }
        const bool averaged = description.Averaged();
        const Recorder::Estimate estimate{Recorder::SetBytes(image.width,
                                                             averaged ? image.height : image.height / 4,
                                                             description.LineScan(), averaged, surfaces),
                                          RecentRate()};
        if (!_recorder.Room(estimate)) {
            Changed();
            return;
        }
    }
    Recorder::Saved saved;
    std::string failure;
    try {
        const Recorder::Lighting lighting = [this] { return _options.lighting(_channel); };
        saved = _recorder.Write(image, description, std::chrono::system_clock::now(),
                                surfaces ? &lighting : nullptr);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_recorder.Active())
        return;
    if (!failure.empty()) {
        EndRecording(failure);
        return;
    }
    _recorder.Written(saved);
    Changed();
}

void ChannelWorker::EndWaits() {
    std::lock_guard<std::mutex> lock(_mutex);
    _changes.End();
}

void ChannelWorker::Reap() {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_mode == Mode::Idle || _releasePending || _quitting || !_owners.Abandoned(_clients))
        return;
    auto control = std::make_shared<Control>();
    control->kind = Control::Kind::Release;
    _controls.push_back(control);
    _releasePending = true;
    _wake.notify_all();
}

void ChannelWorker::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_quitting) {
            _quitting = true;
            auto control = std::make_shared<Control>();
            control->kind = Control::Kind::Quit;
            _controls.push_back(control);
            _wake.notify_all();
            _changes.End();
        }
    }
    if (_thread.joinable())
        _thread.join();
}

void ChannelWorker::RunJobs() {
    while (true) {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            if (_jobs.empty())
                return;
            job = std::move(_jobs.front());
            _jobs.pop_front();
        }
        job();
    }
}

std::shared_ptr<ChannelWorker::Control> ChannelWorker::TakeControl(bool wait) {
    while (true) {
        RunJobs();
        // An acquisition that failed on a line-scan frame too long for the plug-in's wait says why.
        const bool explained =
            _scanType == "Linescan" && cli::ExplainFailures(_channel, _mutex, {&_error, &_lastFailure});
        std::unique_lock<std::mutex> lock(_mutex);
        if (explained)
            Changed();
        if (!_controls.empty()) {
            auto control = _controls.front();
            _controls.pop_front();
            if (control->kind == Control::Kind::Release)
                _releasePending = false;
            return control;
        }
        if (!wait)
            return nullptr;
        _wake.wait(lock, [&] { return !_jobs.empty() || !_controls.empty(); });
    }
}

void ChannelWorker::Main() {
    bool resumeLive = false, wasLive = false;
    while (true) {
        if (resumeLive) {
            resumeLive = false;
            wasLive = RunLive(nullptr);
            continue;
        }
        std::shared_ptr<Control> control = TakeControl(true);
        const bool interruptedLive = std::exchange(wasLive, false);
        switch (control->kind) {
        case Control::Kind::StartLive:
        case Control::Kind::StartRecording:
            wasLive = RunLive(control);
            break;
        case Control::Kind::StartAssistant:
            resumeLive = RunAssistant(control, interruptedLive);
            break;
        case Control::Kind::NextAssistant:
        case Control::Kind::StopAssistant:
            Fulfil(control,
                   {Outcome::Kind::Conflict, "no assistant is running on channel " + std::to_string(_index)});
            break;
        case Control::Kind::StopLive:
        case Control::Kind::Release:
            Fulfil(control, {});
            break;
        case Control::Kind::Quit: {
            const bool released = _channel.Release();
            std::lock_guard<std::mutex> lock(_mutex);
            _farewell = "channel " + std::to_string(_index) + " (" + _name +
                        "): " + (released ? "released" : "release failed: " + _channel.Error()) +
                        (_recordingCut.empty() ? "" : "; " + _recordingCut);
            // Whatever arrived meanwhile is answered, not left waiting.
            for (auto& pending : _controls)
                Fulfil(pending, {Outcome::Kind::Conflict, "zeb view is stopping"});
            _controls.clear();
            _jobs.clear();
            return;
        }
        }
    }
}

} // namespace zeb::view
