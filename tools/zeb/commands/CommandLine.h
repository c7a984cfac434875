// zeb's command line: parsing with CLI11, running the chosen command, reporting its failure.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace zeb::cli {

class CommandError;
class Session;

class CommandLine {
public:
    // Program: zeb as started, with --station, --plugin, --settings and --version. Shell: one line
    // of `zeb shell`, on the session that the shell keeps.
    enum class Mode { Program, Shell };
    explicit CommandLine(Mode mode);
    ~CommandLine();

    // Parses and runs; returns the exit status. `session` is required in Shell mode.
    int Run(const std::vector<std::string>& arguments, Session* session = nullptr);

    // The CLI11 application with every command, for help and completion.
    CLI::App& App();
    // Names of the commands.
    std::vector<std::string> CommandNames() const;

private:
    static const std::map<std::string, bool>& OwnOptions(Mode mode);
    // The error for an option before the command that zeb does not take there.
    CommandError MisplacedOption(const std::string& name, const std::vector<std::string>& arguments,
                                 size_t at) const;

    struct Parts;
    std::unique_ptr<Parts> _parts;
    Mode _mode;
};

// Splits a shell line into words: blanks separate, "..." and '...' quote, and outside '...' a
// backslash escapes a blank, a quote or a backslash (on Windows a quote alone: paths keep theirs);
// any other backslash is itself.
// Throws CommandError for an unterminated quote.
std::vector<std::string> SplitWords(const std::string& line);

// Prints a failure: "zeb: message", its hints, and the station file's faults for a plug-in error;
// with `json` also {"error": message, "hints": [...], "status": N} on standard output. Returns the
// exit status.
int Report(const CommandError& error, bool json = false);

} // namespace zeb::cli
