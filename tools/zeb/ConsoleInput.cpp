#include "ConsoleInput.h"

#include "Interrupt.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zeb::cli {

ConsoleInput& ConsoleInput::Standard() {
    static ConsoleInput* input = new ConsoleInput(); // never destroyed: its reader may still block
    return *input;
}

bool ConsoleInput::IsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
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

ConsoleInput::Result ConsoleInput::Take(bool wait) {
    std::unique_lock lock(_mutex);
    if (!_started)
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
        if (!wait)
            return {Status::NothingYet, {}};
        // A signal handler cannot notify; Ctrl-C is seen at the next look.
        _changed.wait_for(lock, std::chrono::milliseconds(50));
    }
}

} // namespace zeb::cli
