// zeb assist: run a setup assistant as a person at the host would, with its instructions and its
// result messages filled in.
#include "commands/Commands.h"

#include "base/CommandError.h"
#include "base/JsonText.h"
#include "base/Text.h"
#include "commands/ConsoleInput.h"
#include "commands/Interrupt.h"
#include "runs/AssistantDialogue.h"
#include "runs/AssistantFix.h"

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
        ->check(NumberIn(0, 3600));
    _app->add_option("--max-images", _maxImages, "image sets an assistant may ask for before zeb gives up")
        ->check(NumberIn(1, 100000, true));
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

} // namespace

int AssistCommand::Run(Session& session) {
    host::HostChannel& probe = session.Channel(_channel.channel);
    const std::string name = ResolveAssistant(probe, _name);
    AssistantRunner runner(probe, name);
    PrepareChannel(session, _channel, runner.JudgesImages() ? CameraNeed::Required : CameraNeed::Soft);
    const Dialogue dialogue{_json ? stderr : stdout};
    const bool person = !_yes && ConsoleInput::IsTerminal();

    nlohmann::json steps = nlohmann::json::array();
    std::string lastInstruction, lastMessage;
    AssistantState lastShown;
    bool prompted = false;
    AssistantHooks hooks;
    hooks.stop = Interrupted;
    hooks.maxImages = _maxImages;
    hooks.show = [&](const AssistantState& state) {
        if (!state.instruction.empty() && state.instruction != lastInstruction) {
            dialogue.Line(""); // a blank line before each new instruction
            dialogue.Line(state.instruction);
        }
        lastInstruction = state.instruction;
        if (state.result == "Undefined") {
            if (!state.message.empty() && state.message != lastMessage)
                dialogue.Line("  " + state.message);
            lastMessage = state.message;
            return;
        }
        const bool repeated = prompted && state.message == lastMessage && state.result == lastShown.result;
        if (!repeated) {
            dialogue.Line(state.result + ": " + state.message);
            steps.push_back({{"instruction", state.instruction},
                             {"result", state.result},
                             {"message", state.message},
                             {"arguments", state.arguments}});
        }
        lastMessage = state.message;
        lastShown = state;
    };
    hooks.proceed = [&](const AssistantState& state) {
        if (_yes) {
            // A wiring check waits for the person to toggle the trigger or turn the encoder.
            if (!state.wantsImage && !SleepUnlessInterrupted(_actSeconds))
                return AssistantReply::Stop;
            return AssistantReply::Next;
        }
        if (!prompted) {
            std::fprintf(dialogue.out, "Press Enter for \"Next\" (Ctrl-C or the end of input stops) ");
            std::fflush(dialogue.out);
            prompted = true;
        }
        // A person at a terminal sees a measuring assistant judge every new image until Enter.
        const ConsoleInput::Result input = person && state.wantsImage ? ConsoleInput::Standard().Poll()
                                                                      : ConsoleInput::Standard().ReadLine();
        if (input.status == ConsoleInput::Status::NothingYet)
            return AssistantReply::Again;
        if (input.status != ConsoleInput::Status::Line) {
            dialogue.Line("");
            return input.status == ConsoleInput::Status::Interrupted ? AssistantReply::Stop
                                                                     : AssistantReply::EndOfInput;
        }
        prompted = false;
        if (!ConsoleInput::IsTerminal())
            dialogue.Line(""); // a person's Enter ends the prompt's line on a terminal
        return AssistantReply::Next;
    };
    dialogue.Line(name + " on " + probe.Name());
    const AssistantEnd end = RunAssistant(runner, hooks);
    const AssistantState& last = end.last;
    int status = 0;
    std::string outcome = "finished";
    switch (end.kind) {
    case AssistantEnd::Kind::Finished:
        break;
    case AssistantEnd::Kind::NotSuccess:
        status = 2;
        break;
    case AssistantEnd::Kind::Stopped:
        outcome = "stopped";
        break;
    case AssistantEnd::Kind::EndOfInput:
        outcome = "stopped: end of input";
        status = 1;
        break;
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
