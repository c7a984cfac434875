#include "Tamo/Log.h"

#include "Tamo/Path.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <mutex>

namespace Tamo {

std::atomic<bool> Log::_running{false};
std::atomic<int32_t> Log::_level{LogLevel::Debug};

namespace {

// The framework's own log file when the settings name none.
constexpr const char* DefaultPath = "C:\\ProgramData\\Tamo\\Log\\Tamo.log";

struct LogFile {
    std::mutex mutex;
    std::FILE* file = nullptr;
    String path = DefaultPath;

    void Open() {
        if (file)
            std::fclose(file);
        file = nullptr;
        std::error_code ignored;
        const auto native = Path::Native(path);
        if (native.has_parent_path())
            std::filesystem::create_directories(native.parent_path(), ignored);
        file = std::fopen(native.string().c_str(), "ab");
    }
    ~LogFile() {
        if (file)
            std::fclose(file);
    }
};

LogFile& TheFile() {
    static auto* logFile = new LogFile(); // outlives the plug-in's static destructors, which still log
    return *logFile;
}

} // namespace

const char* Log::LevelWord(int32_t level) {
    switch (level) {
    case Critical:
        return "Critical";
    case Error:
        return "Error";
    case Warning:
        return "Warning";
    case Notify:
        return "Notify";
    case Debug:
        return "Debug";
    case Dump:
        return "Dump";
    case Success:
        return "Success";
    default:
        return "Level";
    }
}

void Log::Initialize() {
    LogFile& log = TheFile();
    std::lock_guard lock(log.mutex);
    log.Open();
    _running = true;
}

void Log::SetLogLevel(int32_t level) {
    _level = level;
}

void Log::SetLogPath(const String& path) {
    LogFile& log = TheFile();
    std::lock_guard lock(log.mutex);
    log.path = path;
    if (_running)
        log.Open();
}

void Log::Shutdown() {
    LogFile& log = TheFile();
    std::lock_guard lock(log.mutex);
    _running = false;
    if (log.file)
        std::fclose(log.file);
    log.file = nullptr;
    log.path = DefaultPath;
    _level = LogLevel::Debug;
}

void Log::Write(int32_t level, const String& message, int32_t line, const String& function,
                const String& file) {
    if (!Enabled(level))
        return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    std::string text = message.Std();
    if (!text.empty() && text.back() == '\n')
        text.pop_back();

    LogFile& log = TheFile();
    std::lock_guard lock(log.mutex);
    if (!log.file)
        return;
    std::fprintf(log.file, "%s.%03d\t%s\t%s\t%d\t%s\t%s\n", stamp, static_cast<int>(millis), LevelWord(level),
                 file.CStr(), line, function.CStr(), text.c_str());
    std::fflush(log.file);
}

} // namespace Tamo
