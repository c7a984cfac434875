#include "view/ChannelWorker.h"

#include "files/ImageSetWriter.h"

namespace zeb::view {

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t HistoryLength = 500;
// The view gets at most one image set per interval: the station may deliver hundreds a second, more
// than a page can show and than copying every one is worth.
constexpr auto PublishInterval = std::chrono::milliseconds(20);
} // namespace

ChannelWorker::ChannelWorker(int32_t index, host::HostChannel& channel, const ClientRegistry& clients,
                             Options options)
    : _index(index), _channel(channel), _clients(clients), _options(std::move(options)) {
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
    ++_revision;
    WakeWaiters();
}

void ChannelWorker::WakeWaiters() const {
    std::erase_if(_waiters, [&](const auto& waiter) {
        if (waiter.first >= _revision && !_waitsEnded)
            return waiter.second.expired(); // waits on, unless it gave up
        if (const auto wake = waiter.second.lock())
            (*wake)();
        return true;
    });
}

ChannelWorker::Status ChannelWorker::StatusLocked() const {
    Status status;
    status.mode = _mode;
    status.revision = _revision;
    status.kept = _owners.Kept();
    status.pages = _owners.Pages();
    status.statistics = _statistics;
    status.latest = _latest;
    status.error = _error;
    status.lastFailure = _lastFailure;
    status.recording = _recording;
    // The rate over the image sets of the last three seconds, while they keep coming.
    const Clock::time_point now = Clock::now();
    std::vector<Clock::time_point> recent;
    for (const Clock::time_point arrival : _arrivals)
        if (now - arrival <= std::chrono::seconds(3))
            recent.push_back(arrival);
    if (recent.size() >= 2 && _mode != Mode::Idle) {
        const double seconds = std::chrono::duration<double>(recent.back() - recent.front()).count();
        if (seconds > 0)
            status.recentPerSecond = static_cast<double>(recent.size() - 1) / seconds;
    }
    return status;
}

ChannelWorker::Status ChannelWorker::CurrentStatus() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return StatusLocked();
}

void ChannelWorker::WakeOnChange(uint64_t since,
                                 const std::shared_ptr<const std::function<void()>>& wake) const {
    std::lock_guard<std::mutex> lock(_mutex);
    _waiters.emplace_back(since, wake);
    WakeWaiters(); // at once when it has changed already; and forgets those that gave up
}

ChannelWorker::AssistantView ChannelWorker::Assistant() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _assistant;
}

std::vector<std::filesystem::path> ChannelWorker::Save(const LiveImageSet& set) {
    // One save at a time: the writer numbers after the files already in the folder.
    std::lock_guard<std::mutex> lock(_saveMutex);
    cli::ImageSetWriter writer(_options.saveFolder, set.Description());
    return writer.Write(set.Delivered(), set.Taken());
}

ChannelWorker::Outcome ChannelWorker::StartRecording(int64_t count, double seconds) {
    return Call([this, count, seconds](host::HostChannel&) -> Outcome {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_mode != Mode::Live)
            return {Outcome::Kind::Conflict,
                    "channel " + std::to_string(_index) + " is not acquiring: start it, then record"};
        _recording = {};
        _recording.active = true;
        _recording.count = count;
        _recording.seconds = seconds;
        _recordingEnd = Clock::now() +
                        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        Changed();
        return {};
    });
}

ChannelWorker::Outcome ChannelWorker::StopRecording() {
    return Call([this](host::HostChannel&) -> Outcome {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_recording.active)
            EndRecording("stopped");
        return {};
    });
}

void ChannelWorker::EndRecording(const std::string& why) {
    _recording.active = false;
    _recording.ended = why;
    Changed();
}

void ChannelWorker::Record(const host::Image& image) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_recording.active)
            return;
        if (_recording.seconds > 0 && Clock::now() >= _recordingEnd) {
            EndRecording("");
            return;
        }
    }
    std::vector<std::filesystem::path> files;
    std::string failure;
    try {
        // The settings now are those the image set was taken with; one writer a set, so that the
        // numbering also counts the sets that "save" wrote meanwhile.
        std::lock_guard<std::mutex> lock(_saveMutex);
        cli::ImageSetWriter writer(_options.saveFolder, cli::ImageSetDescription::Read(_channel, _index));
        files = writer.Write(image, std::chrono::system_clock::now());
    } catch (const std::exception& error) {
        failure = error.what();
    }
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_recording.active)
        return;
    if (!failure.empty()) {
        EndRecording(failure);
        return;
    }
    ++_recording.written;
    _recording.lastFiles.clear();
    for (const auto& file : files)
        _recording.lastFiles.push_back(file.string());
    if (_recording.count > 0 && _recording.written >= _recording.count)
        EndRecording("");
    else
        Changed();
}

void ChannelWorker::EndWaits() {
    std::lock_guard<std::mutex> lock(_mutex);
    _waitsEnded = true;
    WakeWaiters();
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
            _waitsEnded = true;
            auto control = std::make_shared<Control>();
            control->kind = Control::Kind::Quit;
            _controls.push_back(control);
            _wake.notify_all();
            WakeWaiters();
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
        std::unique_lock<std::mutex> lock(_mutex);
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
            _farewell = "channel " + std::to_string(_index) + " (" + _name +
                        "): " + (released ? "released" : "release failed: " + _channel.Error());
            std::lock_guard<std::mutex> lock(_mutex);
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

bool ChannelWorker::PumpLive() {
    if (_startPending)
        Fulfil(std::exchange(_startPending, nullptr), {});
    RunJobs();
    std::lock_guard<std::mutex> lock(_mutex);
    // A recording by time ends on time, even when no image set arrives after it.
    if (_recording.active && _recording.seconds > 0 && Clock::now() >= _recordingEnd)
        EndRecording("");
    // More pages that want the acquisition join it; any other request ends it.
    while (!_controls.empty() && _controls.front()->kind == Control::Kind::StartLive) {
        _owners.Join(_controls.front()->client);
        Fulfil(_controls.front(), {});
        _controls.pop_front();
        Changed();
    }
    return !_controls.empty() || _quitting;
}

void ChannelWorker::Deliver(const host::Image& image, bool always) {
    Record(image);
    const Clock::time_point now = Clock::now();
    ++_setNumber;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _arrivals.push_back(now);
        while (_arrivals.size() > 1024)
            _arrivals.pop_front();
    }
    if (!always && now - _published < PublishInterval)
        return;
    _published = now;
    // The channel's settings now are those the image set was taken with (a write between two image
    // sets reaches the next one).
    cli::ImageSetDescription description = cli::ImageSetDescription::Read(_channel, _index);
    auto set = std::make_shared<const LiveImageSet>(_setNumber, image, std::move(description),
                                                    std::chrono::system_clock::now());
    std::lock_guard<std::mutex> lock(_mutex);
    _latest = std::move(set);
    Changed();
}

bool ChannelWorker::RunLive(std::shared_ptr<Control> start) {
    // A channel set to single frames gives one image set per start; otherwise it runs until stopped.
    const bool single = _channel.Read("AcquisitionMode").value_or("") == "SingleFrame";
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _mode = Mode::Live;
        _error.clear();
        _statistics = {};
        _lastFailure.clear();
        _arrivals.clear();
        if (start)
            _owners.Reset(start->client);
        Changed();
    }
    _startPending = start;
    cli::AcquisitionLoop::Options options;
    options.count = single ? 1 : 0;
    options.keepGoing = !single;
    options.timeoutMs = _options.imageTimeoutMs;
    cli::AcquisitionLoop loop(_channel, options);
    auto handle = [&](const host::Image& image, int64_t) {
        if (_startPending)
            Fulfil(std::exchange(_startPending, nullptr), {});
        Deliver(image, single);
    };
    auto progress = [&](const cli::AcquisitionStatistics& statistics) {
        std::lock_guard<std::mutex> lock(_mutex);
        // Lost and failed image sets are news; the count of image sets comes with the next one shown.
        const bool news = statistics.lost != _statistics.lost || statistics.failed != _statistics.failed;
        if (statistics.failed != _statistics.failed)
            _lastFailure = loop.Error();
        else if (statistics.lost != _statistics.lost)
            _lastFailure = "no image set within " + std::to_string(_options.imageTimeoutMs) + " ms" +
                           (loop.Error().empty() ? "" : ": " + loop.Error());
        _statistics = statistics;
        if (news)
            Changed();
    };
    cli::AcquisitionLoop::End end = cli::AcquisitionLoop::End::Failed;
    std::string error;
    try {
        end = loop.Run(
            handle, [&] { return PumpLive(); }, progress);
        error = loop.Error();
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _mode = Mode::Idle;
        _statistics = loop.Statistics();
        _error = end == cli::AcquisitionLoop::End::Failed ? error : std::string();
        if (_recording.active)
            EndRecording("the acquisition ended after " + std::to_string(_recording.written) + " image sets");
        _owners.Clear();
        Changed();
    }
    // A refused start is answered once the channel shows idle, so the page that asks next sees it so.
    if (_startPending)
        Fulfil(std::exchange(_startPending, nullptr), {Outcome::Kind::Refused, error});
    // Ended by another request while it ran well: an assistant started now lets it go on afterwards.
    return end == cli::AcquisitionLoop::End::Stopped && !_quitting;
}

bool ChannelWorker::RunAssistant(std::shared_ptr<Control> start, bool wasLive) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _mode = Mode::Assistant;
        _error.clear();
        _assistant = {};
        _assistant.active = true;
        _assistant.name = start->name;
        if (wasLive)
            _owners.Join(start->client);
        else
            _owners.Reset(start->client);
        _arrivals.clear();
        Changed();
    }
    cli::AssistantRunner runner(_channel, start->name);
    runner.SetImageTimeout(_options.imageTimeoutMs);
    runner.SetImageHandler([this](const host::Image& image) { Deliver(image, true); });
    bool resume = wasLive;
    std::string error;
    // A start or "Next" is answered once the assistant's state after it is known; a refusal once the
    // channel shows the assistant ended.
    std::shared_ptr<Control> reply = start;
    Outcome replyOutcome;
    try {
        runner.Start();
    } catch (const std::exception& failure) {
        error = failure.what();
        replyOutcome = {Outcome::Kind::Refused, error};
    }
    bool running = error.empty();
    auto pump = [this] {
        RunJobs();
        std::lock_guard<std::mutex> lock(_mutex);
        return !_controls.empty() || _quitting;
    };
    while (running) {
        cli::AssistantState state;
        try {
            state = runner.Update(pump);
        } catch (const std::exception& failure) {
            error = failure.what();
            if (reply)
                replyOutcome = {Outcome::Kind::Refused, error};
            break;
        }
        {
            std::lock_guard<std::mutex> lock(_mutex);
            if (runner.ImagesTaken() > _assistant.images) {
                _assistant.images = runner.ImagesTaken();
                _assistant.history.push_back(state.arguments);
                if (_assistant.history.size() > HistoryLength)
                    _assistant.history.erase(_assistant.history.begin());
            }
            if (!state.running) {
                // It ended by "DialogNext": what the person saw last is its result.
                _assistant.state.running = false;
                _assistant.state.wantsImage = false;
            } else {
                _assistant.state = state;
            }
            Changed();
        }
        if (reply)
            Fulfil(std::exchange(reply, nullptr), {});
        {
            std::lock_guard<std::mutex> lock(_mutex);
            if (_quitting) {
                resume = false;
                break;
            }
        }
        if (!state.running)
            break;
        // An assistant that asks for images goes on acquiring; one that does not waits for the person.
        std::shared_ptr<Control> control = TakeControl(!state.wantsImage);
        if (!control)
            continue;
        switch (control->kind) {
        case Control::Kind::NextAssistant:
            try {
                runner.Next();
                reply = control;
            } catch (const std::exception& failure) {
                Fulfil(control, {Outcome::Kind::Refused, failure.what()});
            }
            break;
        case Control::Kind::StopAssistant:
            reply = control; // answered once stopped
            running = false;
            break;
        case Control::Kind::StopLive:
            resume = false;
            Fulfil(control, {});
            break;
        case Control::Kind::StartLive:
        case Control::Kind::StartAssistant:
            Fulfil(control,
                   {Outcome::Kind::Conflict, "the assistant \"" + start->name + "\" is running on channel " +
                                                 std::to_string(_index) + "; stop it first"});
            break;
        case Control::Kind::Release:
        case Control::Kind::Quit:
            resume = false;
            running = false;
            if (control->kind == Control::Kind::Quit) {
                std::lock_guard<std::mutex> lock(_mutex);
                _controls.push_front(control); // the main loop ends the thread
            }
            break;
        }
    }
    try {
        runner.Stop();
    } catch (const std::exception& failure) {
        if (error.empty())
            error = failure.what();
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _mode = Mode::Idle;
        _assistant.active = false;
        _assistant.state.running = false;
        _assistant.state.wantsImage = false;
        _assistant.error = error;
        _error = error;
        if (!resume)
            _owners.Clear();
        Changed();
    }
    if (reply)
        Fulfil(std::exchange(reply, nullptr), replyOutcome);
    return resume;
}

} // namespace zeb::view
