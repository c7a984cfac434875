#include "view/ChannelWorker.h"

#include <cstdlib>

namespace zeb::view {

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t HistoryLength = 500;
// The view gets at most one image set per interval: the station may deliver hundreds a second, more
// than a page can show and than copying every one is worth.
constexpr auto PublishInterval = std::chrono::milliseconds(20);
} // namespace

bool ChannelWorker::PumpLive() {
    if (_startPending)
        Fulfil(std::exchange(_startPending, nullptr), {});
    RunJobs();
    std::lock_guard<std::mutex> lock(_mutex);
    // A recording by time ends on time, even when no image set arrives after it.
    if (_recorder.TimeUp())
        EndRecording("");
    // More pages that want the acquisition join it (it then outlasts a recording that started it),
    // a recording starts on it; any other request ends it.
    while (!_controls.empty() && (_controls.front()->kind == Control::Kind::StartLive ||
                                  _controls.front()->kind == Control::Kind::StartRecording)) {
        const std::shared_ptr<Control> control = _controls.front();
        _controls.pop_front();
        if (control->kind == Control::Kind::StartLive) {
            _owners.Join(control->client);
            _stopWhenRecorded = false;
            Fulfil(control, {});
        } else {
            Recorder::Estimate estimate;
            if (_latest) {
                const cli::ImageSetDescription& d = _latest->Description();
                estimate.setBytes = Recorder::SetBytes(_latest->DirectionWidth(), _latest->DirectionHeight(),
                                                       d.LineScan(), d.Averaged(), control->surfaces);
            }
            estimate.perSecond = RecentRate();
            Fulfil(control, BeginRecording(*control, estimate));
        }
        Changed();
    }
    // A recording that started the acquisition ends it.
    return !_controls.empty() || _quitting || (_stopWhenRecorded && !_recorder.Active());
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
    const bool recording = start && start->kind == Control::Kind::StartRecording;
    Recorder::Estimate estimate;
    if (recording) {
        // A set's size from the image region the channel is set to; its rate is measured once it runs.
        const auto number = [&](const char* name) {
            return static_cast<int32_t>(std::strtol(_channel.Read(name).value_or("0").c_str(), nullptr, 10));
        };
        const bool averaged = _channel.Read("SetupMode").value_or("") == "On";
        const bool lineScan = _channel.Read("DeviceScanType").value_or("") == "Linescan";
        estimate.setBytes =
            Recorder::SetBytes(number("Width"), number("Height"), lineScan, averaged, start->surfaces);
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (recording) {
            const Outcome outcome = BeginRecording(*start, estimate);
            if (outcome.kind != Outcome::Kind::Done) {
                Fulfil(start, outcome);
                return false;
            }
        }
        _stopWhenRecorded = recording;
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
        if (_recorder.Active()) {
            const Recording& cut = _recorder.State();
            if (_quitting)
                _recordingCut = "its recording of " +
                                (cut.count > 0 ? std::to_string(cut.count) + " image sets"
                                               : std::to_string(static_cast<int64_t>(cut.seconds)) + " s") +
                                " was cut short with " + std::to_string(cut.written) + " written";
            EndRecording("the acquisition ended after " + std::to_string(cut.written) + " image sets");
        }
        _owners.Clear();
        Changed();
    }
    const bool recordingOnly = std::exchange(_stopWhenRecorded, false);
    // A refused start is answered once the channel shows idle, so the page that asks next sees it so.
    if (_startPending)
        Fulfil(std::exchange(_startPending, nullptr), {Outcome::Kind::Refused, error});
    // Ended by another request while it ran well: an assistant started now lets it go on afterwards.
    return end == cli::AcquisitionLoop::End::Stopped && !_quitting && !recordingOnly;
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
    // The jobs run meanwhile see it (a profile read then holds the channel's own image form).
    struct Shown {
        const cli::AssistantRunner*& slot;
        ~Shown() { slot = nullptr; }
    } shown{_runner = &runner};
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
        case Control::Kind::StartRecording:
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
