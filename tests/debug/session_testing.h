#pragma once

// What the session tests share: the wait for a stop, the line a stop shows,
// and the host end of the serial line as the Terminal pane gives it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "board/board.h"
#include "session.h"

namespace qorb::debug::testing {

// Every wait is bounded: a session that never stops fails the test instead
// of hanging it.
inline constexpr int kWaitMs = 20000;
#define WAIT_STOP(s)                                                                                         \
    ASSERT_TRUE((s).WaitUntilStopped(::qorb::debug::testing::kWaitMs)) << "the session did not stop"

// The line of the frame the snapshot looks at; 0 without one.
inline int LineOf(const Snapshot& snap) {
    if (snap.stop.chain.empty()) return 0;
    return snap.stop.chain[snap.stop.chain.size() - 1 - snap.stop.level].line;
}

// Queues shared with the session's worker thread.
class LinePort : public sim::SerialPort {
public:
    bool Available() override {
        std::lock_guard lock(m_);
        return !in_.empty();
    }
    std::uint8_t Take() override {
        std::lock_guard lock(m_);
        const auto c = static_cast<std::uint8_t>(in_.front());
        in_.erase(0, 1);
        return c;
    }
    bool Put(std::uint8_t byte) override {
        std::lock_guard lock(m_);
        out_ += static_cast<char>(byte);
        return true;
    }
    void Type(const std::string& text) {
        std::lock_guard lock(m_);
        in_ += text;
    }
    std::string Output() {
        std::lock_guard lock(m_);
        return out_;
    }
    // Waits (bounded) until the output after `from` holds `text`.
    bool WaitFor(const std::string& text, std::size_t from = 0) {
        for (int i = 0; i < 4000; ++i) {
            const std::string out = Output();
            if (out.size() > from && out.find(text, from) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

private:
    std::mutex m_;
    std::string in_, out_;
};

} // namespace qorb::debug::testing
