// The revision of what a channel worker shows, and the long polls that wait for it to change. Not
// locked itself: its owner's mutex guards it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace zeb::view {

class ChangeWaiters {
public:
    using Wake = std::shared_ptr<const std::function<void()>>;

    uint64_t Revision() const { return _revision; }
    // Counts a change and wakes whoever waits for a revision below the new one.
    void Changed();
    // Calls `wake` once the revision exceeds `since` or the waits have ended (at once when it has
    // already). Held weakly: a waiter that stops waiting drops it and is forgotten.
    void Add(uint64_t since, const Wake& wake);
    // Ends every wait now and from now on.
    void End();

private:
    // Calls the waiters that are due and forgets them, and those that gave up.
    void WakeDue();

    uint64_t _revision = 0;
    bool _ended = false;
    std::vector<std::pair<uint64_t, std::weak_ptr<const std::function<void()>>>> _waiters;
};

} // namespace zeb::view
