#include "commands/ConsoleInput.h"

#include "commands/Interrupt.h"
#include "commands/KeyDecoder.h"
#include "session/PluginFiles.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#else
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <editline/readline.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace zeb::cli {

namespace fs = std::filesystem;

namespace {
constexpr int HistoryLength = 1000;
constexpr int PollMilliseconds = 50; // how soon a Ctrl-C is seen while waiting for input
} // namespace

ConsoleInput& ConsoleInput::Standard() {
    static ConsoleInput* input = new ConsoleInput(); // never destroyed: its reader may still block
    return *input;
}

ConsoleInput::ConsoleInput() {
#if !defined(_WIN32)
    _terminal = IsTerminal();
#endif
}

bool ConsoleInput::IsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

fs::path ConsoleInput::HistoryFile() {
#if defined(_WIN32)
    return {};
#else
    return UserDataFolder() / "shell-history";
#endif
}

void ConsoleInput::StartReader() {
    _started = true;
    std::thread([this] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::lock_guard lock(_mutex);
            _lines.push_back(line);
            _changed.notify_all();
        }
        std::lock_guard lock(_mutex);
        _ended = true;
        _changed.notify_all();
    }).detach();
}

ConsoleInput::Result ConsoleInput::ReadLine() {
    return Take(true);
}

ConsoleInput::Result ConsoleInput::Poll() {
    return Take(false);
}

ConsoleInput::Result ConsoleInput::ReadCommand(const std::string& prompt) {
    if (_terminal)
        return EditLine(prompt);
    if (IsTerminal()) {
        std::fputs(prompt.c_str(), stdout);
        std::fflush(stdout);
    }
    return Take(true);
}

#if defined(_WIN32)

bool ConsoleInput::ReadTerminal(int) {
    return false;
}

ConsoleInput::Result ConsoleInput::EditLine(const std::string&) {
    return Take(true);
}

#else

bool ConsoleInput::ReadTerminal(int milliseconds) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, milliseconds);
    if (ready <= 0)
        return ready == 0 || errno == EINTR;
    char bytes[4096];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0)
        return errno == EINTR || errno == EAGAIN;
    if (count == 0) {
        if (!_partial.empty())
            _lines.push_back(std::move(_partial));
        _partial.clear();
        return false;
    }
    _partial.append(bytes, static_cast<size_t>(count));
    for (size_t end = _partial.find('\n'); end != std::string::npos; end = _partial.find('\n')) {
        std::string line = _partial.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        _lines.push_back(std::move(line));
        _partial.erase(0, end + 1);
    }
    return true;
}

namespace {

// The next byte of standard input, polled so that a Ctrl-C is seen while waiting; -1 at its end, on
// an error, or after a Ctrl-C.
int NextByte() {
    while (!Interrupted()) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, PollMilliseconds);
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready <= 0)
            continue;
        unsigned char byte = 0;
        const ssize_t count = read(STDIN_FILENO, &byte, 1);
        if (count == 1 && byte == 0x03) { // Ctrl-C read as a key where the terminal does not signal it
            RequestInterrupt();
            return -1;
        }
        if (count == 1)
            return byte;
        if (count == 0 || errno != EINTR)
            return -1;
    }
    return -1;
}

// libedit's source of characters: standard input decoded in the locale's encoding (see KeyDecoder);
// -1 makes libedit return, which a Ctrl-C uses to end the line being edited.
int NextCharacter(FILE*) {
    static KeyDecoder decoder; // libedit reads on the one thread that edits
    while (true) {
        const int byte = NextByte();
        if (byte < 0)
            return -1;
        if (const auto character = decoder.Feed(static_cast<unsigned char>(byte)))
            return static_cast<int>(*character);
    }
}

void StartEditing() {
    // libedit hands the line over in the locale's multibyte form: UTF-8 unless the user's says so.
    if (!std::setlocale(LC_CTYPE, "") || MB_CUR_MAX == 1)
        std::setlocale(LC_CTYPE, "C.UTF-8");
    rl_readline_name = "zeb";
    rl_catch_signals = 0; // zeb's own Ctrl-C handler stays in charge
    rl_getc_function = NextCharacter;
    rl_initialize();
    stifle_history(HistoryLength);
}

} // namespace

ConsoleInput::Result ConsoleInput::EditLine(const std::string& prompt) {
    if (!_lines.empty()) { // typed ahead while a command ran
        Result result{Status::Line, std::move(_lines.front())};
        _lines.pop_front();
        return result;
    }
    if (!_historyLoaded) {
        _historyLoaded = true;
        StartEditing();
        read_history(HistoryFile().string().c_str());
    }
    char* typed = readline(prompt.c_str());
    if (Interrupted()) {
        std::free(typed);
        return {Status::Interrupted, {}};
    }
    if (!typed)
        return {Status::EndOfInput, {}};
    Result result{Status::Line, typed};
    std::free(typed);
    if (result.line.find_first_not_of(" \t") != std::string::npos) {
        const HIST_ENTRY* last =
            history_length > 0 ? history_get(history_base + history_length - 1) : nullptr;
        if (!last || result.line != last->line) {
            add_history(result.line.c_str());
            std::error_code ignored; // history is a convenience: a folder that cannot be made keeps none
            fs::create_directories(HistoryFile().parent_path(), ignored);
            write_history(HistoryFile().string().c_str());
        }
    }
    return result;
}

#endif

ConsoleInput::Result ConsoleInput::Take(bool wait) {
    std::unique_lock lock(_mutex);
    if (!_started && !_terminal)
        StartReader();
    while (true) {
        if (!_lines.empty()) {
            Result result{Status::Line, std::move(_lines.front())};
            _lines.pop_front();
            return result;
        }
        if (_ended)
            return {Status::EndOfInput, {}};
        if (Interrupted())
            return {Status::Interrupted, {}};
        if (_terminal) {
            _ended = !ReadTerminal(wait ? PollMilliseconds : 0);
            if (!wait && _lines.empty() && !_ended)
                return {Status::NothingYet, {}};
            continue;
        }
        if (!wait)
            return {Status::NothingYet, {}};
        // A signal handler cannot notify; Ctrl-C is seen at the next look.
        _changed.wait_for(lock, std::chrono::milliseconds(PollMilliseconds));
    }
}

} // namespace zeb::cli
