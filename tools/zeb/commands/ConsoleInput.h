// Lines from standard input that a Ctrl-C can interrupt. From a pipe or a file a reader thread hands
// complete lines to whoever waits, so a blocked read never keeps a command from stopping. On a Linux
// terminal nothing is read ahead: each read waits for input itself, and commands are read with line
// editing and a history kept across runs (libedit); the Windows console edits lines itself.
#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
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
    // Where the commands typed on a terminal are kept between runs (Linux).
    static std::filesystem::path HistoryFile();

    // A command: on a terminal after `prompt`, with line editing and history where the terminal
    // allows it; from a pipe without a prompt. Ctrl-C gives Interrupted and drops what was typed.
    Result ReadCommand(const std::string& prompt);
    // Waits for the next line (without its line end), the end of input or Ctrl-C.
    Result ReadLine();
    // A line if one has arrived, else NothingYet (or the end of input, or Ctrl-C).
    Result Poll();

private:
    ConsoleInput();
    void StartReader();
    Result Take(bool wait);
    // Reads what the terminal has (waiting up to `milliseconds`) into complete lines; false at its end.
    bool ReadTerminal(int milliseconds);
    Result EditLine(const std::string& prompt);

    std::mutex _mutex;
    std::condition_variable _changed;
    std::deque<std::string> _lines;
    std::string _partial; // terminal bytes after the last line end
    bool _terminal = false;
    bool _ended = false;
    bool _started = false;
    bool _historyLoaded = false;
};

} // namespace zeb::cli
