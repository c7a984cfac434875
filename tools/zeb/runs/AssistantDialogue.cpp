#include "runs/AssistantDialogue.h"

#include "base/CommandError.h"
#include "base/NameMatch.h"
#include "base/Text.h"

namespace zeb::cli {

std::string ResolveAssistant(host::HostChannel& channel, const std::string& typed) {
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

AssistantEnd RunAssistant(AssistantRunner& runner, const AssistantHooks& hooks) {
    auto stopped = [&] { return hooks.stop && hooks.stop(); };
    AssistantEnd end;
    runner.Start();
    try {
        while (true) {
            if (stopped()) {
                end.kind = AssistantEnd::Kind::Stopped;
                break;
            }
            const AssistantState state = runner.Update(hooks.stop);
            if (stopped()) {
                end.kind = AssistantEnd::Kind::Stopped;
                break;
            }
            if (!state.running)
                break;
            if (hooks.show)
                hooks.show(state);
            if (state.result == "Undefined") {
                if (!state.wantsImage)
                    throw CommandError("the assistant waits for nothing zeb can give it");
                if (runner.ImagesTaken() >= hooks.maxImages)
                    throw CommandError("the assistant found no answer in " +
                                       Count(hooks.maxImages, "image set"));
                continue;
            }
            end.last = state;
            if (state.result != "Success") {
                end.kind = AssistantEnd::Kind::NotSuccess;
                break;
            }
            const AssistantReply reply = hooks.proceed ? hooks.proceed(state) : AssistantReply::Next;
            if (reply == AssistantReply::Again)
                continue;
            if (reply == AssistantReply::Stop || reply == AssistantReply::EndOfInput) {
                end.kind = reply == AssistantReply::Stop ? AssistantEnd::Kind::Stopped
                                                         : AssistantEnd::Kind::EndOfInput;
                break;
            }
            runner.Next();
        }
        runner.Stop();
    } catch (...) {
        runner.Stop();
        throw;
    }
    return end;
}

} // namespace zeb::cli
