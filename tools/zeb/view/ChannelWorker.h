// One channel as zeb view drives it. A thread of its own is the only one that calls the channel, so
// that a sequence of calls (wait for an image set, then fetch it) is never interleaved with another
// request's calls: the server's threads queue their work to it, and it runs that work between the
// polls of an acquisition or an assistant.
//
// ChannelWorker.cpp is the thread and its queues; ChannelModes.cpp what runs on it (idle, live, an
// assistant); Recorder.h writes image sets; ChangeWaiters.h keeps the long polls.
#pragma once

#include "hostkit/HostChannel.h"
#include "runs/AcquisitionLoop.h"
#include "runs/AssistantRunner.h"
#include "view/ChangeWaiters.h"
#include "view/ClientRegistry.h"
#include "view/LiveImageSet.h"
#include "view/Recorder.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace zeb::view {

// The channel did not take a request within the guard time (it is busy with a long operation).
class ChannelBusy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ChannelWorker {
public:
    struct Options {
        int32_t imageTimeoutMs = 20000;                // longest wait for one image set
        std::filesystem::path saveFolder = ".";        // where "save this image set" writes
        std::chrono::milliseconds requestGuard{60000}; // longest wait of a request for the channel
        // The lighting a surface is computed with (the channel's calibration or its nominal model),
        // read on the channel's thread; without it no surface is written.
        std::function<cli::ChannelLighting(host::HostChannel&)> lighting;
        // What the channel's wiring lacked when zeb view found no camera for it; empty when it had one.
        std::vector<std::string> wiring;
    };

    enum class Mode { Idle, Live, Assistant };

    // The answer to a request that changes what runs on the channel.
    struct Outcome {
        enum class Kind { Done, Refused, Conflict, NoRoom, Failed };
        Kind kind = Kind::Done;
        // The plug-in's error text (Refused), why not now (Conflict), why the folder cannot hold it
        // (NoRoom) or why it cannot be written at all (Failed).
        std::string text;
    };

    // Writing the image sets of a running acquisition to the save folder, as zeb acquire does.
    using Recording = Recorder::Recording;

    struct Status {
        Mode mode = Mode::Idle;
        uint64_t revision = 0; // grows with every change of what follows
        bool kept = false;     // started without a page id: runs until stopped
        size_t pages = 0;      // pages that own what runs
        cli::AcquisitionStatistics statistics;
        double recentPerSecond = 0; // image sets per second over the last seconds
        std::shared_ptr<const LiveImageSet> latest;
        std::string error; // why the last acquisition or assistant ended on its own
        // Why the last image set of this acquisition failed or was lost (the plug-in's text).
        std::string lastFailure;
        Recording recording;
    };

    struct AssistantView {
        bool active = false; // the viewer runs an assistant on this channel now
        std::string name;
        cli::AssistantState state;
        int32_t images = 0;
        // The arguments of each evaluated image set, oldest first (the last 500).
        std::vector<std::vector<std::string>> history;
        std::string error;
    };

    ChannelWorker(int32_t index, host::HostChannel& channel, const ClientRegistry& clients, Options options);
    ~ChannelWorker();
    ChannelWorker(const ChannelWorker&) = delete;
    ChannelWorker& operator=(const ChannelWorker&) = delete;

    int32_t Index() const { return _index; }
    const std::string& Name() const { return _name; }
    const std::string& Serial() const { return _serial; }
    const std::string& ScanType() const { return _scanType; }
    const std::vector<std::string>& Wiring() const { return _options.wiring; }

    // Runs `job` with the channel on the worker's thread and returns its result (or throws what it
    // threw). Throws ChannelBusy after the guard time and std::runtime_error once shut down.
    template <class Job> auto Call(Job job) -> std::invoke_result_t<Job&, host::HostChannel&>;

    // Starts the acquisition (or joins the one running) and returns once it runs or failed.
    Outcome StartAcquisition(const std::string& client);
    // Returns once the acquisition has stopped.
    Outcome StopAcquisition();
    // Runs the assistant, acquiring whenever it asks for an image set; a running acquisition pauses
    // and goes on after the assistant.
    Outcome StartAssistant(const std::string& name, const std::string& client);
    Outcome NextAssistant();
    Outcome StopAssistant();

    Status CurrentStatus() const;
    // Calls `wake` once the revision exceeds `since` or the waits have ended (at once when it has
    // already). Held weakly: a waiter that stops waiting drops it and is forgotten. `wake` must be
    // quick and must not call the worker.
    void WakeOnChange(uint64_t since, const std::shared_ptr<const std::function<void()>>& wake) const;
    AssistantView Assistant() const;
    // On the channel's thread only (in a job of Call): the assistant zeb view runs on it now, or null.
    const cli::AssistantRunner* RunningAssistant() const { return _runner; }
    // Writes the image set as `zeb acquire` does, numbered after those in the folder, with its surface
    // (as `zeb acquire --surface`) when `surface`; returns its number and files. Throws
    // std::runtime_error when they cannot be written, CommandError when the surface cannot be made.
    Recorder::Saved Save(const LiveImageSet& set, bool surface = false);
    // Writes the next `count` image sets, or those of the next `seconds`, of the acquisition, with
    // their surfaces when `surfaces`. On a stopped channel the recording starts the acquisition for
    // itself (owned as a start by `client` is) and stops it when it ends. Failed when the save folder
    // cannot be made, NoRoom when it cannot hold it; Conflict while an assistant runs; a recording
    // under way starts afresh.
    Outcome StartRecording(int64_t count, double seconds, bool surfaces, const std::string& client);
    Outcome StopRecording();

    // Ends the waits of status requests now and from now on (the server is about to stop).
    void EndWaits();
    // Stops what runs when every page that started it is gone.
    void Reap();
    // Stops the acquisition and the assistant, releases the channel and ends the thread. Idempotent.
    void Shutdown();
    // What Shutdown did, for the last words of zeb view.
    const std::string& Farewell() const { return _farewell; }

private:
    struct Control {
        enum class Kind {
            StartLive,
            StopLive,
            StartRecording,
            StartAssistant,
            NextAssistant,
            StopAssistant,
            Release,
            Quit
        };
        Kind kind;
        std::string client, name;
        int64_t count = 0; // a recording's
        double seconds = 0;
        bool surfaces = false;
        std::promise<Outcome> done;
    };

    void Post(std::function<void()> job);
    Outcome Request(std::shared_ptr<Control> control);
    Outcome Request(Control::Kind kind, const std::string& client = {}, const std::string& name = {});
    void Main();
    void RunJobs();
    // The next control; runs queued jobs while waiting when `wait`, else none when there is none.
    std::shared_ptr<Control> TakeControl(bool wait);
    // Returns whether another request ended an acquisition that ran well.
    bool RunLive(std::shared_ptr<Control> start);
    bool PumpLive();
    // Returns whether the acquisition that the assistant paused goes on.
    bool RunAssistant(std::shared_ptr<Control> start, bool wasLive);
    // Counts a delivered image set and shows it, unless one was shown within the last moment.
    void Deliver(const host::Image& image, bool always);
    void Changed(); // with _mutex held
    // Writes the image set when a recording wants it; ends the recording when it is complete.
    void Record(const host::Image& image);
    void EndRecording(const std::string& why); // with _mutex held
    // Starts the recording a control asks for, with what the folder needs for a set like `shape`.
    Outcome BeginRecording(const Control& control, Recorder::Estimate estimate); // with _mutex held
    // Image sets per second over the last three seconds while they keep coming; 0 when not known.
    double RecentRate() const; // with _mutex held
    Status StatusLocked() const;
    static void Fulfil(const std::shared_ptr<Control>& control, Outcome outcome);

    const int32_t _index;
    host::HostChannel& _channel; // touched by the worker's thread only
    const ClientRegistry& _clients;
    const Options _options;
    std::string _name, _serial, _scanType;

    mutable std::mutex _mutex;
    mutable std::condition_variable _wake; // jobs or controls arrived
    mutable ChangeWaiters _changes;        // the revision, and the long polls waiting for it
    std::deque<std::function<void()>> _jobs;
    std::deque<std::shared_ptr<Control>> _controls;
    bool _quitting = false;
    bool _releasePending = false;
    Mode _mode = Mode::Idle;
    Ownership _owners;
    cli::AcquisitionStatistics _statistics;
    std::deque<std::chrono::steady_clock::time_point> _arrivals;
    std::shared_ptr<const LiveImageSet> _latest;
    int64_t _setNumber = 0;
    std::string _error;
    std::string _lastFailure;
    Recorder _recorder;
    bool _stopWhenRecorded = false; // the recording started the acquisition: it ends with it
    std::string _recordingCut;      // what the last stop of zeb view cut short, for its farewell
    AssistantView _assistant;

    std::shared_ptr<Control> _startPending;        // worker thread only: the start to answer once running
    const cli::AssistantRunner* _runner = nullptr; // worker thread only: the assistant running
    std::chrono::steady_clock::time_point _published{}; // worker thread only: when a set was last shown
    std::string _farewell;
    std::thread _thread;
};

template <class Job> auto ChannelWorker::Call(Job job) -> std::invoke_result_t<Job&, host::HostChannel&> {
    using Result = std::invoke_result_t<Job&, host::HostChannel&>;
    auto task = std::make_shared<std::packaged_task<Result()>>(
        [this, job = std::move(job)]() mutable { return job(_channel); });
    std::future<Result> result = task->get_future();
    Post([task] { (*task)(); });
    if (result.wait_for(_options.requestGuard) != std::future_status::ready)
        throw ChannelBusy("channel " + std::to_string(_index) + " did not take the request within " +
                          std::to_string(_options.requestGuard.count() / 1000) + " s; it is busy");
    return result.get();
}

} // namespace zeb::view
