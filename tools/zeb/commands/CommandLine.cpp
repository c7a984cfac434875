#include "commands/CommandLine.h"

#include "base/CommandError.h"
#include "base/JsonText.h"
#include "base/NameMatch.h"
#include "base/Text.h"
#include "commands/Command.h"
#include "hostkit/PluginVersion.h"
#include "session/PluginFiles.h"
#include "session/StationFaults.h"
#include "session/StationFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace zeb::cli {

struct CommandLine::Parts {
    CLI::App app{
        "zeb: a vision host in miniature. It loads the plug-in through GetVideoChannel and the channel "
        "entry points only, as a host application does.",
        "zeb"};
    std::vector<std::unique_ptr<Command>> commands;
    std::string station, plugin;
    bool settings = false, version = false;
};

namespace {

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void PrintSettings() {
    std::printf("settings: %s\n", SettingsFile().string().c_str());
#if !defined(_WIN32)
    std::printf("drive C:  %s\n", NativePath("C:").string().c_str());
#endif
    const auto log = LogFile();
    std::printf("log:      %s\n",
                log ? log->string().c_str() : "off (\"LogEnabled\" is not \"True\" in the settings)");
}

// zeb's version, compiled in, and the plug-in's, read from its file (its ELF note or its version
// resource) without loading it.
void PrintVersion(const std::string& pluginPath) {
    std::printf("zeb %s\n", ZEB_VERSION);
    std::fflush(stdout);
    const std::string path = pluginPath.empty() ? DefaultPluginFile().string() : pluginPath;
    const std::string version = host::PluginVersion(path);
    std::printf("plug-in %s %s\n", version.c_str(), path.c_str());
}

} // namespace

// The options zeb itself takes before the command, and whether each takes a value.
const std::map<std::string, bool>& CommandLine::OwnOptions(Mode mode) {
    static const std::map<std::string, bool> program = {{"--station", true},   {"--plugin", true},
                                                        {"--settings", false}, {"--version", false},
                                                        {"--help", false},     {"-h", false}};
    static const std::map<std::string, bool> shell = {{"--help", false}, {"-h", false}};
    return mode == Mode::Program ? program : shell;
}

CommandError CommandLine::MisplacedOption(const std::string& name, const std::vector<std::string>& arguments,
                                          size_t at) const {
    const auto& program = OwnOptions(Mode::Program);
    if (_mode == Mode::Shell && program.contains(name))
        return CommandError(name + " is an option of zeb itself, given when zeb starts (zeb " + name +
                            (program.at(name) ? " FILE shell)" : ")"));
    // An option of a command (or of one of its own commands, as profile save).
    std::vector<const CLI::App*> apps;
    for (const auto& command : _parts->commands)
        apps.push_back(command->App());
    bool ofCommand = false;
    for (size_t k = 0; k < apps.size() && !ofCommand; ++k) {
        ofCommand = apps[k]->get_option_no_throw(name) != nullptr;
        for (const CLI::App* sub : apps[k]->get_subcommands({}))
            apps.push_back(sub);
    }
    if (ofCommand) {
        const auto names = CommandNames();
        const auto command = std::find_first_of(arguments.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                                arguments.end(), names.begin(), names.end());
        return CommandError(name + " is an option of the command: put it after the command (zeb " +
                            (command == arguments.end() ? std::string("COMMAND") : *command) + " " + name +
                            " ...)");
    }
    std::vector<std::string> own;
    for (const auto& [option, value] : OwnOptions(_mode))
        own.push_back(option);
    return CommandError("unknown option " + name).Hint(DidYouMean(name, own)).Hint("see zeb help");
}

CommandLine::CommandLine(Mode mode) : _parts(std::make_unique<Parts>()), _mode(mode) {
    CLI::App& app = _parts->app;
    app.option_defaults()->always_capture_default();
    app.require_subcommand(mode == Mode::Shell ? 1 : 0, 1);
    app.get_formatter()->column_width(34);
    if (mode == Mode::Program) {
        app.add_option("--station", _parts->station, "the station file (sets ZEB_STATION)")
            ->check(CLI::ExistingFile);
        app.add_option("--plugin", _parts->plugin,
                       "the plug-in file (default: ZEB_PLUGIN, else beside zeb, else installed)");
        app.add_flag("--settings", _parts->settings, "where the plug-in's settings file and log live");
        app.add_flag("--version", _parts->version, "zeb's and the plug-in's version");
        app.fallthrough();
        app.footer(
            "Run 'zeb help COMMAND' or 'zeb COMMAND --help' for a command's options and their defaults.");
    }
    _parts->commands = AllCommands(mode == Mode::Program);
    for (auto& command : _parts->commands) {
        command->SetInShell(mode == Mode::Shell);
        command->Define(app);
        if (mode == Mode::Program)
            command->App()->fallthrough();
    }
}

CommandLine::~CommandLine() = default;

CLI::App& CommandLine::App() {
    return _parts->app;
}

std::vector<std::string> CommandLine::CommandNames() const {
    std::vector<std::string> names;
    for (const auto& command : _parts->commands)
        names.push_back(command->App()->get_name());
    return names;
}

int Report(const CommandError& error, bool json) {
    std::vector<std::string> lines = {error.what()};
    lines.insert(lines.end(), error.Hints().begin(), error.Hints().end());
    if (error.From() == CommandError::Origin::Plugin)
        if (const std::string note = StationFaults::FromEnvironment().Note(); !note.empty())
            lines.push_back(note);
    for (const std::string& line : lines)
        std::fprintf(stderr, "zeb: %s\n", Printable(line).c_str());
    if (json) {
        nlohmann::ordered_json object = {{"error", lines.front()},
                                         {"hints", std::vector<std::string>(lines.begin() + 1, lines.end())},
                                         {"status", error.Status()}};
        std::printf("%s\n", JsonText(object).c_str());
    }
    return error.Status();
}

int CommandLine::Run(const std::vector<std::string>& arguments, Session* session) {
    CLI::App& app = _parts->app;
    // A script that asked for JSON gets its errors as JSON too, on standard output.
    const bool json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
    auto Report = [json](const CommandError& error) { return cli::Report(error, json); };
    // An unknown command or option before the command gets a suggestion instead of CLI11's "not
    // expected", and a command's option there is sent after the command.
    const auto names = CommandNames();
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word.starts_with("-") && word != "-") {
            const size_t equals = word.find('=');
            const std::string name = word.substr(0, equals);
            if (const auto own = OwnOptions(_mode).find(name); own != OwnOptions(_mode).end()) {
                if (own->second && equals == std::string::npos)
                    ++i; // its value
                continue;
            }
            return Report(MisplacedOption(name, arguments, i));
        }
        if (std::find(names.begin(), names.end(), word) == names.end())
            return Report(CommandError("unknown command \"" + word + "\"")
                              .Hint(DidYouMean(word, names))
                              .Hint("see zeb help"));
        break;
    }
    try {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0)
            return app.exit(error);
        std::string where;
        for (const CLI::App* sub : app.get_subcommands())
            where = " (see zeb help " + sub->get_name() + ")";
        return Report(CommandError(error.what() + where));
    }

    try {
        std::unique_ptr<Session> own;
        if (_mode == Mode::Program) {
            if (!_parts->station.empty())
                SetVariable("ZEB_STATION", _parts->station);
            // A station file with an error stops zeb at that error, before the plug-in would start
            // a station without devices from it.
            const bool loadsPlugin =
                std::any_of(_parts->commands.begin(), _parts->commands.end(), [](const auto& command) {
                    return command->App()->parsed() && command->LoadsPlugin();
                });
            if (loadsPlugin)
                if (const char* path = std::getenv("ZEB_STATION"))
                    CheckStationFile(path);
            own = std::make_unique<Session>(_parts->plugin);
            session = own.get();
            if (_parts->version)
                PrintVersion(_parts->plugin);
            if (_parts->settings)
                PrintSettings();
        }
        for (auto& command : _parts->commands)
            if (command->App()->parsed())
                return command->Run(*session);
        if (_parts->version || _parts->settings)
            return 0;
        std::fprintf(stderr, "%s", app.help().c_str());
        return 1;
    } catch (const CommandError& error) {
        return Report(error);
    } catch (const std::exception& error) {
        return Report(CommandError(error.what()));
    }
}

namespace {
// Whether a backslash before `next` escapes it. On Windows a path's backslashes stay as typed
// (C:\Users\me, \\server\share), so only a quote is escaped there; elsewhere a blank, a quote and
// a backslash are, outside '...'.
bool Escapes(char next, char quote) {
#if defined(_WIN32)
    return next == '"' || (next == '\'' && quote == 0);
#else
    if (quote == '"')
        return next == '"' || next == '\\';
    return next == ' ' || next == '\t' || next == '"' || next == '\'' || next == '\\';
#endif
}
} // namespace

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && quote != '\'' && i + 1 < line.size() && Escapes(line[i + 1], quote)) {
            word += line[++i];
            inWord = true;
        } else if (quote) {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote)
        throw CommandError(std::string("the line ends inside a ") + (quote == '"' ? "\"...\"" : "'...'") +
                           " quote");
    if (inWord)
        words.push_back(word);
    return words;
}

} // namespace zeb::cli
