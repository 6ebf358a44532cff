#include "download.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace oxbrin {

CDownload::CDownload(CDownloadLink& link) : link_(link) {}

CDownload::~CDownload() {
    {
        std::lock_guard lock(stateMutex_);
        quit_ = true;
        EndTransfer();
    }
    stopped_.notify_all();
    // A line still going out (it can only be on a thread the owner has not
    // stopped) ends at its next character; wait for it.
    std::lock_guard send(sendMutex_);
}

bool CDownload::IsStarHandshake() const {
    std::lock_guard lock(stateMutex_);
    return star_;
}

DownloadProgress CDownload::Progress() const {
    std::lock_guard lock(stateMutex_);
    return {active_, sent_, total_};
}

CDownload::Result CDownload::StartDownload(const std::string& path, bool starHandshake) {
    const Result result = BeginDownload(path, starHandshake);
    if (result == Result::Started) SendFirstLine();
    return result;
}

void CDownload::SendFirstLine() {
    // The last line of a transfer that has just ended may still be going out
    // (with character delays); the new first line follows it.
    std::lock_guard send(sendMutex_);
    uint64_t generation;
    {
        std::lock_guard lock(stateMutex_);
        if (!active_ || !firstPending_) return;
        generation = generation_;
    }
    SendLineLocked(generation);
}

CDownload::Result CDownload::BeginDownload(const std::string& path, bool starHandshake) {
    fileError_.clear();
    if (!link_.Connect()) return Result::NotConnected;
    if (active_) return Result::Busy;

    // The total for the progress display: the lines that will be sent, read
    // by the same rules.
    uint64_t total = 0;
    {
        CLineReader counter;
        if (!counter.Open(path)) {
            fileError_ = counter.ErrorText();
            return Result::FileError;
        }
        std::string line;
        while (counter.ReadLine(line, kMaxLine))
            if (!line.empty()) ++total;
    }

    std::lock_guard lock(stateMutex_);
    if (active_) return Result::Busy;
    if (!reader_.Open(path)) {
        fileError_ = reader_.ErrorText();
        return Result::FileError;
    }
    active_ = true;
    star_ = starHandshake;
    ++generation_;
    sent_ = 0;
    total_ = total;
    // An empty file is over at once.
    firstPending_ = ReadNextLine();
    return Result::Started;
}

void CDownload::StopDownload() {
    {
        std::lock_guard lock(stateMutex_);
        if (!active_) return;
        EndTransfer();
        ++generation_;
    }
    stopped_.notify_all();
    // A line held by flow control would keep its sender waiting (and go out
    // later, into a monitor that no longer expects it).
    link_.Cancel();
}

void CDownload::EndTransfer() {
    if (!active_) return;
    reader_.Close();
    active_ = false;
}

bool CDownload::ReadNextLine() {
    for (;;) {
        if (!reader_.ReadLine(line_, kMaxLine)) {
            EndTransfer();
            return false;
        }
        if (line_.empty()) continue; // empty lines are never sent
        line_ += sendCR_ ? "\r\n" : "\n";
        return true;
    }
}

void CDownload::OnReceive(const uint8_t* bytes, size_t count) {
    if (!bytes || !std::memchr(bytes, '*', count)) return;
    uint64_t generation;
    {
        std::lock_guard lock(stateMutex_);
        if (!active_ || !star_) return;
        generation = generation_;
    }
    // Several stars in one chunk still send one line.
    SendLine(generation);
}

void CDownload::OnTransmitEmpty() {
    uint64_t generation;
    {
        std::lock_guard lock(stateMutex_);
        if (!active_ || star_) return;
        generation = generation_;
    }
    SendLine(generation);
}

void CDownload::SendLine(uint64_t generation) {
    std::lock_guard send(sendMutex_);
    SendLineLocked(generation);
}

void CDownload::SendLineLocked(uint64_t generation) {
    std::string copy;
    {
        std::lock_guard lock(stateMutex_);
        // A pacing event that waited for the line before it: the transfer it
        // came for may have been stopped meanwhile, or may have ended.
        if (!active_ || Stopped(generation)) return;
        copy = line_;
        firstPending_ = false;
        // Prefetch: at the end of the file this ends the transfer, but the
        // line in hand is still sent whole.
        ReadNextLine();
    }

    const unsigned charDelay = charDelay_;
    bool whole = true;
    if (charDelay == 0) {
        whole = link_.Write(copy.data(), copy.size());
    } else {
        for (char c : copy) {
            if (Stopped(generation) || !link_.Write(&c, 1)) {
                // Stopped by the user, or the port is gone: the rest of the
                // line cannot matter.
                whole = false;
                break;
            }
            link_.Flush();
            Pause(charDelay, generation);
        }
    }
    if (whole) ++sent_;
    link_.Flush();
    if (whole) Pause(lineDelay_, generation);
}

void CDownload::Pause(unsigned ms, uint64_t generation) {
    using Clock = std::chrono::steady_clock;
    // Closing the port gives no event here; it is looked at every so often,
    // so that a close (which waits for this thread) is not held up by a long
    // delay.
    constexpr auto kLookAtThePort = std::chrono::milliseconds(50);
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock lock(stateMutex_);
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        if (stopped_.wait_for(lock, std::min<Clock::duration>(end - now, kLookAtThePort),
                              [&] { return Stopped(generation); }))
            return;
        lock.unlock();
        const bool open = link_.IsOpen();
        lock.lock();
        if (!open) return;
    }
}

} // namespace oxbrin
