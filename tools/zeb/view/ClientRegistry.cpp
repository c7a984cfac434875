#include "view/ClientRegistry.h"

#include <algorithm>

namespace zeb::view {

ClientRegistry::ClientRegistry(Clock::duration timeout, std::function<Clock::time_point()> now)
    : _timeout(timeout), _now(std::move(now)) {}

bool ClientRegistry::ValidId(const std::string& id) {
    if (id.empty() || id.size() > 64)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_';
    });
}

void ClientRegistry::Forget(Clock::time_point before) {
    while (!_byTime.empty() && _byTime.begin()->first < before) {
        _lastHeard.erase(_byTime.begin()->second);
        _byTime.erase(_byTime.begin());
    }
}

bool ClientRegistry::Hear(const std::string& id, Clock::time_point now) {
    // Pages gone for ten timeouts are forgotten (a page heard of again after that is a new one).
    Forget(now - 10 * _timeout);
    const auto found = _lastHeard.find(id);
    if (found == _lastHeard.end() && _lastHeard.size() >= Capacity) {
        Forget(now - _timeout); // room from pages gone, never from live ones
        if (_lastHeard.size() >= Capacity)
            return false;
    }
    Stamp(id, now);
    return true;
}

void ClientRegistry::Stamp(const std::string& id, Clock::time_point now) {
    const auto [heard, added] = _lastHeard.try_emplace(id, now);
    if (!added) {
        _byTime.erase({heard->second, id});
        heard->second = now;
    }
    _byTime.emplace(now, id);
}

bool ClientRegistry::Touch(const std::string& id) {
    const Clock::time_point now = _now();
    std::lock_guard<std::mutex> lock(_mutex);
    return Hear(id, now);
}

bool ClientRegistry::Begin(const std::string& id) {
    const Clock::time_point now = _now();
    std::lock_guard<std::mutex> lock(_mutex);
    if (!Hear(id, now))
        return false;
    ++_underWay[id];
    return true;
}

void ClientRegistry::End(const std::string& id) {
    const Clock::time_point now = _now();
    std::lock_guard<std::mutex> lock(_mutex);
    const auto found = _underWay.find(id);
    if (found == _underWay.end())
        return; // the page said goodbye meanwhile: it stays gone
    if (--found->second == 0)
        _underWay.erase(found);
    // Its last request ended now (a page held for the whole of a long one may take more room than
    // Capacity for a moment; the requests under way bound that).
    Stamp(id, now);
}

void ClientRegistry::Close(const std::string& id) {
    std::lock_guard<std::mutex> lock(_mutex);
    _underWay.erase(id);
    const auto found = _lastHeard.find(id);
    if (found == _lastHeard.end())
        return;
    _byTime.erase({found->second, id});
    _lastHeard.erase(found);
}

bool ClientRegistry::Alive(const std::string& id) const {
    const Clock::time_point now = _now();
    std::lock_guard<std::mutex> lock(_mutex);
    if (_underWay.count(id))
        return true;
    const auto found = _lastHeard.find(id);
    return found != _lastHeard.end() && now - found->second <= _timeout;
}

size_t ClientRegistry::AliveCount() const {
    const Clock::time_point now = _now();
    std::lock_guard<std::mutex> lock(_mutex);
    size_t alive = static_cast<size_t>(
        std::distance(_byTime.lower_bound({now - _timeout, std::string()}), _byTime.end()));
    // Pages not heard of within the timeout but with a request under way.
    for (const auto& [id, requests] : _underWay) {
        const auto found = _lastHeard.find(id);
        alive += found == _lastHeard.end() || now - found->second > _timeout ? 1 : 0;
    }
    return alive;
}

void Ownership::Reset(const std::string& client) {
    Clear();
    Join(client);
}

void Ownership::Join(const std::string& client) {
    if (client.empty())
        _kept = true;
    else
        _pages.insert(client);
}

void Ownership::Clear() {
    _pages.clear();
    _kept = false;
}

bool Ownership::Abandoned(const ClientRegistry& clients) const {
    if (_kept)
        return false;
    return std::none_of(_pages.begin(), _pages.end(),
                        [&](const std::string& page) { return clients.Alive(page); });
}

} // namespace zeb::view
