// The pages (browser tabs) that talk to zeb view. Each sends an id of its own with every request; a
// page not heard of for the timeout, or one that said goodbye, is gone. What a page started is
// owned by it, so that what only gone pages started can be stopped. Every request touches its page,
// so the registry's work per request stays small however many ids arrive: lookups by id and by time
// in logarithmic time, ids long gone forgotten oldest first, and at most Capacity ids held.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace zeb::view {

class ClientRegistry {
public:
    using Clock = std::chrono::steady_clock;

    explicit ClientRegistry(Clock::duration timeout, std::function<Clock::time_point()> now = Clock::now);

    // 1 to 64 letters, digits, '-' or '_'.
    static bool ValidId(const std::string& id);

    static constexpr size_t Capacity = 4096;

    // The page was heard of now (a page that said goodbye comes back with it). False for a new id
    // while Capacity pages are alive: it is not taken (a live page is never forgotten for it).
    bool Touch(const std::string& id);
    // A request of the page begins (heard of, as Touch) and ends: a page with a request under way is
    // alive however long the request takes, and its timeout counts from the end of its last request.
    bool Begin(const std::string& id);
    void End(const std::string& id);
    // The page said goodbye: gone at once, even with requests still under way.
    void Close(const std::string& id);
    // A request under way, or heard of within the timeout, and no goodbye since.
    bool Alive(const std::string& id) const;
    size_t AliveCount() const;
    Clock::duration Timeout() const { return _timeout; }

private:
    const Clock::duration _timeout;
    const std::function<Clock::time_point()> _now;
    mutable std::mutex _mutex;
    // Forgets what was last heard before `before`, oldest first.
    void Forget(Clock::time_point before);
    // Hears the page now, refusing a new one when full; Stamp only moves or sets its time.
    bool Hear(const std::string& id, Clock::time_point now);
    void Stamp(const std::string& id, Clock::time_point now);

    std::map<std::string, Clock::time_point> _lastHeard;         // pages long gone are forgotten
    std::set<std::pair<Clock::time_point, std::string>> _byTime; // the same, oldest first
    std::map<std::string, int32_t> _underWay;                    // requests begun and not ended
};

// Who started what runs on a channel: pages, or someone without a page id (a script), whose
// activity is kept until it is stopped.
class Ownership {
public:
    // A fresh start: the starter alone owns it (an empty id: kept).
    void Reset(const std::string& client);
    // One more page that wants it to go on (an empty id: kept).
    void Join(const std::string& client);
    void Clear();
    // Nothing owns it, or every page that owns it is gone and nobody without a page id started it.
    bool Abandoned(const ClientRegistry& clients) const;
    bool Kept() const { return _kept; }
    size_t Pages() const { return _pages.size(); }

private:
    std::set<std::string> _pages;
    bool _kept = false;
};

} // namespace zeb::view
