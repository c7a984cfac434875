#include "view/ChangeWaiters.h"

namespace zeb::view {

void ChangeWaiters::Changed() {
    ++_revision;
    WakeDue();
}

void ChangeWaiters::Add(uint64_t since, const Wake& wake) {
    _waiters.emplace_back(since, wake);
    WakeDue(); // at once when it has changed already; and forgets those that gave up
}

void ChangeWaiters::End() {
    _ended = true;
    WakeDue();
}

void ChangeWaiters::WakeDue() {
    std::erase_if(_waiters, [&](const auto& waiter) {
        if (waiter.first >= _revision && !_ended)
            return waiter.second.expired(); // waits on, unless it gave up
        if (const auto wake = waiter.second.lock())
            (*wake)();
        return true;
    });
}

} // namespace zeb::view
