// A setup assistant run from its start to its end, the way a host leads a person through it: each
// state shown, an image set given whenever the assistant asks, "DialogNext" after each "Success"
// once the host says so. zeb assist (with a person, or --yes) and the C API run it.
#pragma once

#include "runs/AssistantRunner.h"

#include <functional>
#include <string>

namespace zeb::cli {

// The assistant the channel offers under a full or short name; throws CommandError naming the
// assistants offered (and the encoder check's scan type) when there is none.
std::string ResolveAssistant(host::HostChannel& channel, const std::string& typed);

// What to do after a "Success".
enum class AssistantReply {
    Next,       // press "DialogNext"
    Again,      // read the state again without pressing anything (a person has not answered yet)
    Stop,       // end the run: stopped
    EndOfInput, // end the run: the person's input ended
};

struct AssistantHooks {
    std::function<bool()> stop; // asked before and after each state is read, and while waiting for images
    // Every state read while the assistant runs, before it is acted on.
    std::function<void(const AssistantState&)> show;
    std::function<AssistantReply(const AssistantState&)> proceed;
    int32_t maxImages = 30; // image sets the assistant may ask for before the run gives up
};

struct AssistantEnd {
    enum class Kind { Finished, NotSuccess, Stopped, EndOfInput };
    Kind kind = Kind::Finished;
    AssistantState last; // the last state with a result other than "Undefined"
};

// Starts the assistant and runs it; stops it on every way out. Throws CommandError with the
// plug-in's text, or when the assistant waits for nothing a host can give or finds no answer in
// `maxImages` image sets.
AssistantEnd RunAssistant(AssistantRunner& runner, const AssistantHooks& hooks);

} // namespace zeb::cli
