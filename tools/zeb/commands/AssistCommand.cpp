// zeb assist: run a setup assistant as a person at the host would, with its instructions and its
// result messages filled in.
#include "commands/Commands.h"

#include "base/CommandError.h"
#include "base/JsonText.h"
#include "base/NameMatch.h"
#include "base/Text.h"
#include "commands/ConsoleInput.h"
#include "commands/Interrupt.h"
#include "runs/AssistantFix.h"
#include "runs/AssistantRunner.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace zeb::cli {

void AssistCommand::Define(CLI::App& parent) {
    std::string names;
    for (const auto& [shortName, fullName] : AssistantNames::ShortNames())
        names += (names.empty() ? "" : ", ") + shortName + " (\"" + fullName + "\")";
    _app = parent.add_subcommand("assist", "run a setup assistant: " + names);
    _app->add_option("NAME", _name, "assistant name, full or short, in any case")->required();
    AddChannelOptions(*_app, _channel);
    _app->add_flag("--yes,-y", _yes, "go on without waiting for Enter before each \"Next\"");
    _app->add_option("--act-time", _actSeconds,
                     "with --yes: seconds a person has to act (toggle the trigger, turn the encoder) in the "
                     "wiring checks")
        ->check(CLI::Range(0.0, 3600.0));
    _app->add_option("--max-images", _maxImages, "image sets an assistant may ask for before zeb gives up")
        ->check(WholeNumber())
        ->check(CLI::Range(1, 100000));
    _app->add_flag("--json", _json, "print the result as JSON (the dialogue goes to standard error)");
}

namespace {

// Where a person reads the dialogue: standard output, or standard error when JSON goes there.
struct Dialogue {
    std::FILE* out;
    void Line(const std::string& text) const {
        std::fprintf(out, "%s\n", Printable(text).c_str());
        std::fflush(out);
    }
};

std::string ResolveName(host::HostChannel& channel, const std::string& typed) {
    const AssistantNames names(channel.Choices("DialogSelector"));
    if (const auto name = names.Resolve(typed))
        return *name;
    // The encoder belongs to a line-scan controller: say so before anything else.
    if (EqualsIgnoringCase(AssistantNames::Expand(typed), "Encoder movement detection"))
        throw CommandError("the encoder check needs a line-scan channel; " + channel.Name() +
                           " is an area-scan channel")
            .Hint("choose a line-scan channel with --channel (zeb channels shows each channel's scan type)");
    std::vector<std::string> candidates = names.Offered();
    for (const auto& [shortName, fullName] : AssistantNames::ShortNames())
        candidates.push_back(shortName);
    std::string list;
    for (const std::string& name : names.Offered())
        list += (list.empty() ? "\"" : ", \"") + name + "\"";
    CommandError error("no assistant \"" + typed + "\" on " + channel.Name());
    throw error.Hint(DidYouMean(typed, candidates)).Hint("the channel offers " + list);
}

} // namespace

int AssistCommand::Run(Session& session) {
    host::HostChannel& probe = session.Channel(_channel.channel);
    const std::string name = ResolveName(probe, _name);
    AssistantRunner runner(probe, name);
    PrepareChannel(session, _channel, runner.JudgesImages() ? CameraNeed::Required : CameraNeed::Soft);
    const Dialogue dialogue{_json ? stderr : stdout};
    const bool person = !_yes && ConsoleInput::IsTerminal();

    nlohmann::json steps = nlohmann::json::array();
    std::string outcome = "finished", lastInstruction, lastMessage;
    AssistantState last;
    int status = 0;
    dialogue.Line(name + " on " + probe.Name());
    runner.Start();
    try {
        bool prompted = false;
        while (true) {
            if (Interrupted()) {
                outcome = "stopped";
                break;
            }
            const AssistantState state = runner.Update(Interrupted);
            if (Interrupted()) {
                outcome = "stopped";
                break;
            }
            if (!state.running)
                break;
            if (!state.instruction.empty() && state.instruction != lastInstruction)
                dialogue.Line("\n" + state.instruction);
            lastInstruction = state.instruction;
            if (state.result == "Undefined") {
                if (!state.message.empty() && state.message != lastMessage)
                    dialogue.Line("  " + state.message);
                lastMessage = state.message;
                if (!state.wantsImage)
                    throw CommandError("the assistant waits for nothing zeb can give it");
                if (runner.ImagesTaken() >= _maxImages)
                    throw CommandError("the assistant found no answer in " + Count(_maxImages, "image set"));
                continue;
            }
            const bool repeated = prompted && state.message == lastMessage && state.result == last.result;
            if (!repeated) {
                dialogue.Line(state.result + ": " + state.message);
                steps.push_back({{"instruction", state.instruction},
                                 {"result", state.result},
                                 {"message", state.message},
                                 {"arguments", state.arguments}});
            }
            lastMessage = state.message;
            last = state;
            if (state.result != "Success") {
                status = 2;
                break;
            }
            if (_yes) {
                // A wiring check waits for the person to toggle the trigger or turn the encoder.
                if (!state.wantsImage && !SleepUnlessInterrupted(_actSeconds)) {
                    outcome = "stopped";
                    break;
                }
            } else {
                if (!prompted) {
                    std::fprintf(dialogue.out,
                                 "Press Enter for \"Next\" (Ctrl-C or the end of input stops) ");
                    std::fflush(dialogue.out);
                    prompted = true;
                }
                // A person at a terminal sees a measuring assistant judge every new image until Enter.
                const ConsoleInput::Result input = person && state.wantsImage
                                                       ? ConsoleInput::Standard().Poll()
                                                       : ConsoleInput::Standard().ReadLine();
                if (input.status == ConsoleInput::Status::NothingYet)
                    continue;
                if (input.status != ConsoleInput::Status::Line) {
                    dialogue.Line("");
                    outcome = input.status == ConsoleInput::Status::Interrupted ? "stopped"
                                                                                : "stopped: end of input";
                    status = 1;
                    break;
                }
                prompted = false;
                if (!ConsoleInput::IsTerminal())
                    dialogue.Line(""); // a person's Enter ends the prompt's line on a terminal
            }
            runner.Next();
        }
        runner.Stop();
    } catch (CommandError&) {
        runner.Stop();
        throw;
    }
    if (outcome == "stopped")
        status = InterruptedStatus;
    if (outcome != "finished")
        dialogue.Line(outcome);
    const auto fix = status == 2 ? ImpliedFix(name, last) : std::nullopt;
    if (_json)
        std::printf("%s\n",
                    JsonText(nlohmann::json{{"assistant", name},
                                            {"channel", probe.Name()},
                                            {"outcome", outcome},
                                            {"result", last.result.empty() ? "Undefined" : last.result},
                                            {"message", last.message},
                                            {"arguments", last.arguments},
                                            {"imageSets", runner.ImagesTaken()},
                                            {"steps", steps},
                                            {"fix", fix ? nlohmann::json{{"name", fix->name},
                                                                         {"value", fix->value},
                                                                         {"why", fix->why}}
                                                        : nlohmann::json(nullptr)}},
                             2)
                        .c_str());
    if (fix)
        std::fprintf(stderr,
                     "zeb: %s: apply %s \"%s\" with --set \"%s=%s\", in a profile, or with set %s \"%s\" in "
                     "zeb shell\n",
                     Printable(fix->why).c_str(), fix->name.c_str(), fix->value.c_str(), fix->name.c_str(),
                     fix->value.c_str(), fix->name.c_str(), fix->value.c_str());
    return status;
}

} // namespace zeb::cli
