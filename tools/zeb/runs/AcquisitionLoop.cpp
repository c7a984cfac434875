#include "runs/AcquisitionLoop.h"

namespace zeb::cli {

namespace {
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}
} // namespace

double AcquisitionStatistics::MillisecondsPerSet() const {
    return sets > 1 ? 1000.0 * acquiringSeconds / static_cast<double>(sets - 1) : 0.0;
}

double AcquisitionStatistics::SetsPerSecond(Clock::time_point now) const {
    const double elapsed = Seconds(now - firstSet);
    return sets > 1 && elapsed > 0 ? static_cast<double>(sets - 1) / elapsed : 0.0;
}

AcquisitionLoop::AcquisitionLoop(host::HostChannel& channel, Options options)
    : _channel(channel), _options(options) {}

bool AcquisitionLoop::Start() {
    if (_channel.Start())
        return true;
    _error = _channel.Error();
    return false;
}

AcquisitionLoop::End AcquisitionLoop::Run(const Handler& handle, const std::function<bool()>& stop,
                                          const Progress& progress) {
    _statistics = {};
    _error.clear();
    const Clock::time_point started = Clock::now();
    if (!Start())
        return End::Failed;
    End end = End::Completed;
    while (_options.count == 0 || _statistics.sets < _options.count) {
        // Asked before each wait too: when the host falls behind, the next set is always ready and
        // the wait itself never asks.
        if (stop && stop()) {
            end = End::Stopped;
            break;
        }
        const Clock::time_point waitStarted = Clock::now();
        const host::ImageWait wait = _channel.WaitForImage(_options.timeoutMs, stop);
        std::optional<host::Image> image;
        if (wait == host::ImageWait::Ready)
            image = _channel.FetchImage();
        if (wait == host::ImageWait::Cancelled) {
            end = End::Stopped;
            break;
        }
        if (!image) {
            _error = _channel.Error();
            _statistics.lastFailure = _error;
            (wait == host::ImageWait::TimedOut ? _statistics.lost : _statistics.failed) += 1;
            if (!_options.keepGoing) {
                end = End::Failed;
                break;
            }
            if (progress)
                progress(_statistics);
            // The next image set starts from a fresh acquisition; a start that fails ends the run.
            _channel.Stop();
            if (!Start()) {
                end = End::Failed;
                break;
            }
            continue;
        }
        const Clock::time_point received = Clock::now();
        if (_statistics.sets == 0) {
            _statistics.startupSeconds = Seconds(received - started);
            _statistics.firstSet = received;
        } else {
            _statistics.acquiringSeconds += Seconds(received - waitStarted);
        }
        ++_statistics.sets;
        try {
            if (handle)
                handle(*image, _statistics.sets);
        } catch (...) {
            _channel.Stop();
            throw;
        }
        _statistics.handlingSeconds += Seconds(Clock::now() - received);
        if (progress)
            progress(_statistics);
        if (stop && stop()) {
            end = _options.count != 0 && _statistics.sets >= _options.count ? End::Completed : End::Stopped;
            break;
        }
    }
    _channel.Stop();
    return end;
}

} // namespace zeb::cli
