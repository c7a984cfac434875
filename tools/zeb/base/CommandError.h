// A failure a user can act on: one line for standard error, hints after it, and the exit status.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace zeb::cli {

class CommandError : public std::runtime_error {
public:
    enum class Origin { Zeb, Plugin };

    explicit CommandError(const std::string& message, Origin origin = Origin::Zeb, int status = 1)
        : std::runtime_error(message), _origin(origin), _status(status) {}

    CommandError& Hint(const std::string& hint) {
        if (!hint.empty())
            _hints.push_back(hint);
        return *this;
    }
    const std::vector<std::string>& Hints() const { return _hints; }
    // Plugin: the message is the plug-in's error text, shown verbatim.
    Origin From() const { return _origin; }
    int Status() const { return _status; }

private:
    Origin _origin;
    int _status;
    std::vector<std::string> _hints;
};

// A plug-in error text, verbatim.
inline CommandError PluginError(const std::string& text) {
    return CommandError(text, CommandError::Origin::Plugin);
}

} // namespace zeb::cli
