#include "core/events.h"

#include <algorithm>

namespace qorb::sim {

std::uint64_t EventQueue::Schedule(std::uint64_t at, Action action) {
    const std::uint64_t id = nextId_++;
    heap_.push({at, id});
    actions_.emplace_back(id, std::move(action));
    if (watch_ && at < *watch_) *watch_ = at;
    return id;
}

void EventQueue::Cancel(std::uint64_t id) {
    auto it = std::find_if(actions_.begin(), actions_.end(), [id](const auto& e) { return e.first == id; });
    if (it != actions_.end()) actions_.erase(it);
}

void EventQueue::DropCancelled() const {
    while (!heap_.empty()) {
        const std::uint64_t id = heap_.top().id;
        if (std::any_of(actions_.begin(), actions_.end(), [id](const auto& e) { return e.first == id; }))
            return;
        heap_.pop();
    }
}

std::uint64_t EventQueue::NextTime() const {
    DropCancelled();
    return heap_.empty() ? kNever : heap_.top().at;
}

void EventQueue::RunDue(std::uint64_t now) {
    while (NextTime() <= now) {
        const std::uint64_t id = heap_.top().id;
        heap_.pop();
        auto it =
            std::find_if(actions_.begin(), actions_.end(), [id](const auto& e) { return e.first == id; });
        Action action = std::move(it->second);
        actions_.erase(it);
        action(now);
    }
}

void EventQueue::Clear() {
    heap_ = {};
    actions_.clear();
}

} // namespace qorb::sim
