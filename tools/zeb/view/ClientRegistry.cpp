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

void ClientRegistry::Touch(const std::string& id) {
    const Clock::time_point now = _now();
    std::lock_guard<std::mutex> lock(_mutex);
    _lastHeard[id] = now;
    // Forget pages gone for ten timeouts, so that the map stays small whatever ids arrive.
    if (_lastHeard.size() > 256)
        std::erase_if(_lastHeard, [&](const auto& entry) { return now - entry.second > 10 * _timeout; });
}

void ClientRegistry::Close(const std::string& id) {
    std::lock_guard<std::mutex> lock(_mutex);
    _lastHeard.erase(id);
}

bool ClientRegistry::Alive(const std::string& id) const {
    const Clock::time_point now = _now();
    std::lock_guard<std::mutex> lock(_mutex);
    const auto found = _lastHeard.find(id);
    return found != _lastHeard.end() && now - found->second <= _timeout;
}

size_t ClientRegistry::AliveCount() const {
    const Clock::time_point now = _now();
    std::lock_guard<std::mutex> lock(_mutex);
    return static_cast<size_t>(std::count_if(_lastHeard.begin(), _lastHeard.end(), [&](const auto& entry) {
        return now - entry.second <= _timeout;
    }));
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
