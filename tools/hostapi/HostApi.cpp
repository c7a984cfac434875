// The C API's process-wide part: errors, loading the plug-in with its station, channels and
// their features.
#include "HostApiState.h"

#include "base/JsonText.h"
#include "session/FeatureReport.h"
#include "session/PluginFiles.h"
#include "session/RunSettings.h"
#include "session/StationFile.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace zeb::hostapi {

namespace fs = std::filesystem;

namespace {

thread_local std::string lastError, lastHints;

struct Process {
    std::mutex mutex;
    std::unique_ptr<cli::Session> session;
    std::string plugin, station;
    std::set<int32_t> open; // channels a handle holds
};

Process& TheProcess() {
    static Process* process = new Process(); // lives until the process ends, as the plug-in does
    return *process;
}

// The folder of this library: the plug-in is installed beside it.
fs::path LibraryFolder() {
#if defined(_WIN32)
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&LibraryFolder), &self);
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, buffer, MAX_PATH);
    return fs::path(std::wstring(buffer, length)).parent_path();
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || !info.dli_fname)
        return fs::current_path();
    return fs::absolute(info.dli_fname).parent_path();
#endif
}

std::string SameFile(const std::string& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(fs::u8path(path), error);
    return error ? path : Utf8(canonical);
}

void SetStationVariable(const std::string& station) {
#if defined(_WIN32)
    _putenv_s("ZEB_STATION", station.c_str());
#else
    setenv("ZEB_STATION", station.c_str(), 1);
#endif
}

const char* Variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::string Given(const char* text) {
    return text ? std::string(text) : std::string();
}

zeb_channel* Checked(zeb_channel* channel) {
    if (!channel || !channel->channel)
        throw ApiError(ZEB_BAD_ARGUMENT, "no channel: the handle is NULL or closed");
    return channel;
}

void Require(const void* pointer, const char* what) {
    if (!pointer)
        throw ApiError(ZEB_BAD_ARGUMENT, std::string(what) + " is NULL");
}

} // namespace

zeb_status Fail(zeb_status status, const std::string& text, const std::string& hints) noexcept {
    try {
        lastError = text;
        lastHints = hints;
    } catch (...) {
    }
    return status;
}

void ClearError() noexcept {
    lastError.clear();
    lastHints.clear();
}

char* NewText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy)
        throw std::bad_alloc();
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

std::mutex& SessionLock() {
    return TheProcess().mutex;
}

namespace {
void LoadLocked(const std::string& plugin, const std::string& station) {
    Process& process = TheProcess();
    if (process.session) {
        if (!plugin.empty() && SameFile(plugin) != SameFile(process.plugin))
            throw ApiError(ZEB_ERROR,
                           "the plug-in " + process.plugin +
                               " is loaded already: a process loads one plug-in",
                           "start another process for " + plugin);
        if (!station.empty() && SameFile(station) != SameFile(process.station))
            throw ApiError(ZEB_ERROR,
                           "the station " + (process.station.empty() ? "(built in)" : process.station) +
                               " is in use already: a process has one station while the plug-in is loaded",
                           "start another process for the station " + station);
        return;
    }
    std::string pluginPath = plugin;
    if (pluginPath.empty())
        pluginPath = Utf8(cli::DefaultPluginFile(LibraryFolder()));
    // A station file with an error is refused here with that error, as zeb does, before the plug-in
    // would start a station without devices from it.
    if (!station.empty()) {
        if (!fs::is_regular_file(fs::u8path(station)))
            throw ApiError(ZEB_ERROR, "no station file " + station);
        cli::CheckStationFile(station);
        SetStationVariable(station);
    } else if (const char* named = Variable("ZEB_STATION")) {
        cli::CheckStationFile(named);
    }
    auto session = std::make_unique<cli::Session>(pluginPath);
    session->Plugin(); // loads it now: a missing plug-in is said here
    process.session = std::move(session);
    process.plugin = pluginPath;
    process.station = Variable("ZEB_STATION") ? Variable("ZEB_STATION") : "";
}
} // namespace

cli::Session& TheSession() {
    Process& process = TheProcess();
    if (!process.session)
        LoadLocked({}, {});
    return *process.session;
}

} // namespace zeb::hostapi

using namespace zeb;
using namespace zeb::hostapi;

extern "C" {

int32_t zeb_api_version(void) {
    return ZEB_HOST_API_VERSION;
}

const char* zeb_version(void) {
    return ZEB_PRODUCT_VERSION;
}

const char* zeb_last_error(void) {
    return lastError.c_str();
}

const char* zeb_last_error_hints(void) {
    return lastHints.c_str();
}

void zeb_free(char* text) {
    std::free(text);
}

zeb_status zeb_load(const char* plugin, const char* station) {
    return Guarded([&] {
        const std::lock_guard lock(SessionLock());
        LoadLocked(Given(plugin), Given(station));
        return ZEB_OK;
    });
}

zeb_status zeb_loaded_json(char** json) {
    return Guarded([&] {
        Require(json, "json");
        const std::lock_guard lock(SessionLock());
        TheSession();
        *json = NewText(cli::JsonText(
            nlohmann::json{{"plugin", TheProcess().plugin}, {"station", TheProcess().station}}));
        return ZEB_OK;
    });
}

zeb_status zeb_channels_json(char** json) {
    return Guarded([&] {
        Require(json, "json");
        const std::lock_guard lock(SessionLock());
        cli::Session& session = TheSession();
        nlohmann::json channels = nlohmann::json::array();
        const int32_t count = session.ChannelCount();
        for (int32_t index = 0; index < count; ++index) {
            host::HostChannel& channel = session.Channel(index);
            const std::string camera = channel.Read("DeviceImageSource").value_or("None");
            channels.push_back(
                {{"index", index},
                 {"name", channel.Name()},
                 {"serial", channel.Serial()},
                 {"scanType", channel.Read("DeviceScanType").value_or("")},
                 {"camera", camera == "None" ? nlohmann::json(nullptr) : nlohmann::json(camera)}});
        }
        *json = NewText(cli::JsonText(channels));
        return ZEB_OK;
    });
}

zeb_status zeb_channel_open(int32_t index, const char* options_json, zeb_channel** out) {
    return Guarded([&] {
        Require(out, "channel");
        *out = nullptr;
        if (index < 0)
            throw ApiError(ZEB_BAD_ARGUMENT, "no channel " + std::to_string(index));
        cli::ChannelOptions options;
        options.channel = index;
        std::vector<cli::Assignment> settings;
        if (options_json && *options_json) {
            nlohmann::json given;
            try {
                given = nlohmann::json::parse(options_json);
                options.camera = given.value("camera", std::string());
                options.profiles = given.value("profiles", std::vector<std::string>());
                options.acceptAdjusted = given.value("acceptAdjusted", false);
                for (const auto& pair : given.value("settings", nlohmann::json::array()))
                    settings.push_back({pair.at(0).get<std::string>(), pair.at(1).get<std::string>(), "set"});
            } catch (const nlohmann::json::exception& error) {
                throw ApiError(ZEB_BAD_ARGUMENT, std::string("the channel's options: ") + error.what());
            }
        }
        const std::lock_guard lock(SessionLock());
        cli::Session& session = TheSession();
        Process& process = TheProcess();
        if (process.open.contains(index))
            throw ApiError(ZEB_ERROR, "channel " + std::to_string(index) + " is open already",
                           "close the other handle first: a channel has one user at a time");
        std::vector<cli::WriteOutcome> differences;
        try {
            host::HostChannel& channel =
                cli::PrepareChannel(session, options, cli::CameraNeed::Soft, settings, &differences);
            auto handle = std::make_unique<zeb_channel>();
            handle->index = index;
            handle->channel = &channel;
            process.open.insert(index);
            *out = handle.release();
        } catch (const cli::CommandError& error) {
            session.Close(index);
            std::string adjusted;
            for (const cli::WriteOutcome& outcome : differences)
                if (outcome.kind == cli::WriteOutcome::Kind::Adjusted)
                    adjusted += (adjusted.empty() ? "" : "\n") + outcome.Describe();
            if (!adjusted.empty())
                throw ApiError(ZEB_VALUE_ADJUSTED, adjusted, error.what());
            throw;
        }
        return ZEB_OK;
    });
}

void zeb_channel_close(zeb_channel* channel) {
    if (!channel)
        return;
    if (channel->stream)
        EndStream(channel->stream);
    try {
        const std::lock_guard lock(SessionLock());
        TheSession().Close(channel->index);
        TheProcess().open.erase(channel->index);
    } catch (...) {
        // Closing goes on: the handle is freed whatever the plug-in said.
    }
    delete channel;
}

zeb_status zeb_channel_features_json(zeb_channel* channel, char** json) {
    return Guarded([&] {
        Require(json, "json");
        nlohmann::json features = nlohmann::json::array();
        for (const cli::FeatureInfo& feature : cli::DescribeFeatures(*Checked(channel)->channel))
            features.push_back(feature.Json());
        *json = NewText(cli::JsonText(features));
        return ZEB_OK;
    });
}

namespace {
[[noreturn]] void FeatureFailed(host::HostChannel& channel, const std::string& name) {
    const std::string error = channel.Error();
    throw ApiError(cli::FeatureMissing(error, name) ? ZEB_FEATURE_NOT_FOUND : ZEB_ERROR, error);
}
} // namespace

zeb_status zeb_channel_get(zeb_channel* channel, const char* name, char** value, char** type) {
    return Guarded([&] {
        Require(name, "name");
        Require(value, "value");
        host::HostChannel& host = *Checked(channel)->channel;
        const auto kind = host.Type(name);
        if (!kind)
            FeatureFailed(host, name);
        const auto read = host.Read(name);
        if (!read)
            FeatureFailed(host, name);
        *value = NewText(*read);
        if (type)
            *type = NewText(host::FeatureTypeName(*kind));
        return ZEB_OK;
    });
}

zeb_status zeb_channel_set(zeb_channel* channel, const char* name, const char* value, int32_t accept_adjusted,
                           char** held) {
    return Guarded([&] {
        Require(name, "name");
        Require(value, "value");
        host::HostChannel& host = *Checked(channel)->channel;
        if (held)
            *held = nullptr;
        cli::WriteOutcome outcome;
        try {
            outcome = cli::WriteFeature(host, name, value);
        } catch (const cli::CommandError& error) {
            if (cli::FeatureMissing(host.Error(), name))
                throw ApiError(ZEB_FEATURE_NOT_FOUND, error.what());
            throw;
        }
        if (held)
            *held = NewText(outcome.holds);
        if (outcome.kind == cli::WriteOutcome::Kind::Adjusted && !accept_adjusted)
            throw ApiError(ZEB_VALUE_ADJUSTED, outcome.Describe());
        return ZEB_OK;
    });
}

zeb_status zeb_channel_execute(zeb_channel* channel, const char* name) {
    return Guarded([&] {
        Require(name, "name");
        host::HostChannel& host = *Checked(channel)->channel;
        if (!host.Execute(name))
            FeatureFailed(host, name);
        return ZEB_OK;
    });
}

} // extern "C"
