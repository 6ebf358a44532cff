#pragma once

// Things that happen at a given cycle (a timer's compare, a character
// finishing on a serial line). The cores never look at the queue: the
// machine runs a core up to the next event's cycle, then dispatches.

#include <cstdint>
#include <functional>
#include <limits>
#include <queue>
#include <vector>

namespace qorb::sim {

class EventQueue {
public:
    using Action = std::function<void(std::uint64_t now)>;
    static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

    // Returns an id that Cancel accepts. Events at the same cycle run in the
    // order they were scheduled.
    std::uint64_t Schedule(std::uint64_t at, Action action);
    void Cancel(std::uint64_t id);
    std::uint64_t NextTime() const;
    bool Empty() const { return NextTime() == kNever; }
    // Runs every event due at or before `now`, including those a running
    // event schedules for `now`.
    void RunDue(std::uint64_t now);
    void Clear();
    // A deadline that Schedule brings forward when an event is due sooner:
    // the running core's, so an event scheduled by a device during a run
    // still happens on time.
    void Watch(std::uint64_t* deadline) { watch_ = deadline; }

private:
    struct Entry {
        std::uint64_t at, id;
        bool operator>(const Entry& o) const { return at != o.at ? at > o.at : id > o.id; }
    };
    void DropCancelled() const;

    mutable std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> heap_;
    std::vector<std::pair<std::uint64_t, Action>> actions_; // by id, unordered
    std::uint64_t nextId_ = 1;
    std::uint64_t* watch_ = nullptr;
};

} // namespace qorb::sim
