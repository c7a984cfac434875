// Lines from standard input that a Ctrl-C can interrupt: a reader thread hands complete lines to
// whoever waits, so a blocked read never keeps a command from stopping.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace zeb::cli {

class ConsoleInput {
public:
    enum class Status { Line, EndOfInput, Interrupted, NothingYet };
    struct Result {
        Status status = Status::EndOfInput;
        std::string line;
    };

    // The process's standard input.
    static ConsoleInput& Standard();
    // True when standard input is a terminal (a person types), false for a pipe or a file.
    static bool IsTerminal();

    // Waits for the next line (without its line end), the end of input or Ctrl-C.
    Result ReadLine();
    // A line if one has arrived, else NothingYet (or the end of input, or Ctrl-C).
    Result Poll();

private:
    ConsoleInput() = default;
    void StartReader();
    Result Take(bool wait);

    std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<std::string> _lines;
    bool _ended = false;
    bool _started = false;
};

} // namespace zeb::cli
