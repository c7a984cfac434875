// zeb run as a separate process, as a person or a script runs it: arguments, standard input,
// standard output and error, exit status, and Ctrl-C.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace zeb::test {

struct Outcome {
    int status = -1;            // the exit status; 128 + the signal's number when a signal ended it
    int signal = 0;             // the signal that ended it (not its own exit), else 0
    std::string out, err;       // line ends as on POSIX
    std::string rawOut, rawErr; // the bytes as zeb wrote them
};

class ZebProcess {
public:
    // The zeb program beside the test program.
    static std::filesystem::path Program();

    // Runs zeb to its end; `input` is its whole standard input (then the end of input).
    static Outcome Run(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                       const std::string& input = "");

    // Starts zeb with a standard input that stays open until Wait (nothing is typed).
    ZebProcess(const std::filesystem::path& folder, const std::vector<std::string>& arguments);
    ~ZebProcess();
    ZebProcess(const ZebProcess&) = delete;
    ZebProcess& operator=(const ZebProcess&) = delete;

    // Waits until `seen` holds for the output so far (standard output, standard error); false when
    // zeb ended first or after a guard of two minutes against a hang.
    bool WaitFor(const std::function<bool(const std::string& out, const std::string& err)>& seen);
    // Ctrl-C: SIGINT on POSIX, a console break event on Windows.
    void Interrupt();
#if !defined(_WIN32)
    // Sends a signal (SIGTERM, SIGHUP, ...).
    void Signal(int number);
    // Types `text` on its standard input.
    void Type(const std::string& text);
#endif
    // Closes standard input and waits for the end.
    Outcome Wait();

private:
    ZebProcess(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
               const std::string* input);
    void Start(const std::vector<std::string>& arguments, const std::string* input);
    bool Running();
    std::string Read(const std::filesystem::path& file) const;

    std::filesystem::path _out, _err, _in;
    struct Handles;
    Handles* _handles = nullptr;
    int _status = -1;
    int _signal = 0;
    bool _ended = false;
};

} // namespace zeb::test
