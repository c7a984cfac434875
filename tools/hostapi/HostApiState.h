// What the C API's handles hold, and how a call turns an exception into a status and the thread's
// error text.
#pragma once

#include "zeb_host.h"

#include "base/CommandError.h"
#include "hostkit/HostChannel.h"
#include "session/ChannelLighting.h"
#include "session/ImageSetDescription.h"
#include "session/Session.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace zeb::hostapi {

// An error with its status, thrown inside the library and returned at the boundary.
class ApiError : public std::runtime_error {
public:
    ApiError(zeb_status status, const std::string& text, std::string hints = {})
        : std::runtime_error(text), _status(status), _hints(std::move(hints)) {}
    zeb_status Status() const { return _status; }
    const std::string& Hints() const { return _hints; }

private:
    zeb_status _status;
    std::string _hints;
};

// Runs `body`, which returns a status; any exception becomes the thread's error and its status.
template <typename Body> zeb_status Guarded(Body&& body) noexcept;
zeb_status Fail(zeb_status status, const std::string& text, const std::string& hints = {}) noexcept;
void ClearError() noexcept;
char* NewText(const std::string& text);
// A path as UTF-8 text.
inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The process's one session: the loaded plug-in and its open channels. Its lock serialises the
// session's own bookkeeping, not the channels' calls.
cli::Session& TheSession();
// Stops a stream's acquisition, waits for its thread and parts it from its channel; the stream
// itself stays for its owner to close.
void EndStream(zeb_stream* stream);
std::mutex& SessionLock();

} // namespace zeb::hostapi

struct zeb_channel {
    int32_t index = 0;
    zeb::host::HostChannel* channel = nullptr; // the session's; a stream acquires on a copy of its own
    zeb_stream* stream = nullptr;              // the channel's running stream, if any
};

struct zeb_image_set {
    zeb::host::Image stack;
    int64_t number = 0;
    std::shared_ptr<const zeb::cli::ImageSetDescription> description;
    std::shared_ptr<const zeb::cli::LightingSettings> lighting;
    std::chrono::system_clock::time_point taken;
    mutable std::once_flag averaged;
    mutable zeb::host::Image average;
};

namespace zeb::hostapi {

template <typename Body> zeb_status Guarded(Body&& body) noexcept {
    try {
        ClearError();
        return body();
    } catch (const ApiError& error) {
        return Fail(error.Status(), error.what(), error.Hints());
    } catch (const cli::CommandError& error) {
        std::string hints;
        for (const std::string& hint : error.Hints())
            hints += (hints.empty() ? "" : "\n") + hint;
        return Fail(ZEB_ERROR, error.what(), hints);
    } catch (const std::bad_alloc&) {
        return Fail(ZEB_ERROR, "out of memory");
    } catch (const std::exception& error) {
        return Fail(ZEB_ERROR, error.what());
    } catch (...) {
        return Fail(ZEB_ERROR, "an unknown error");
    }
}

} // namespace zeb::hostapi
