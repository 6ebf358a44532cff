#include "monitor.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace board {

namespace {

// Records may be up to 514 characters; a command line far less. Anything
// longer is refused rather than stored.
constexpr size_t kMaxLine = 600;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool ParseHex(const std::string& text, unsigned long* value) {
    if (text.empty() || text.size() > 8) return false;
    unsigned long v = 0;
    for (char c : text) {
        int d = HexDigit(c);
        if (d < 0) return false;
        v = v * 16 + static_cast<unsigned>(d);
    }
    *value = v;
    return true;
}

} // namespace

Monitor::Monitor(const MonitorOptions& options, MonitorHost& host) : options_(options), host_(host) {
    memory_.fill(options_.fill);
}

void Monitor::Start() {
    host_.Send("\r\nHC12 board monitor (simulated)\r\n");
    Prompt();
}

void Monitor::Prompt() { host_.Send("\r\n" + options_.prompt + " "); }

void Monitor::Receive(std::string_view bytes) {
    for (char c : bytes) {
        // CR, LF and CR LF all end a line; the LF of a CR LF pair is not a
        // second (empty) line.
        if (c == '\r' || c == '\n') {
            bool pairedLf = c == '\n' && lastWasCr_;
            lastWasCr_ = c == '\r';
            if (pairedLf) continue;
            std::string line;
            line.swap(line_);
            Line(line);
            continue;
        }
        lastWasCr_ = false;
        if (!loading_ && (c == '\b' || c == 0x7F)) {
            if (!line_.empty()) {
                line_.pop_back();
                if (options_.echo) host_.Send("\b \b");
            }
            continue;
        }
        if (line_.size() >= kMaxLine) {
            // Keep swallowing the rest of the overlong line; it is refused
            // when it ends.
            line_.resize(kMaxLine + 1);
            continue;
        }
        line_ += c;
        if (!loading_ && options_.echo) host_.Send(std::string_view(&c, 1));
    }
}

void Monitor::Line(const std::string& line) {
    if (loading_) {
        if (line.empty()) return;
        if (line.size() > kMaxLine) {
            host_.Send("Too Long\r\n");
            EndLoad();
            return;
        }
        Record(line);
        return;
    }
    if (options_.echo) host_.Send("\r\n");
    if (line.size() > kMaxLine) {
        host_.Send("Too Long");
        Prompt();
        return;
    }
    Command(line);
}

void Monitor::Command(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line + " ") {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(Upper(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (words.empty()) {
        Prompt();
        return;
    }
    const std::string& cmd = words[0];
    if (cmd == "LOAD" && (words.size() == 1 || (words.size() == 2 && words[1] == "T"))) {
        loading_ = true; // records follow, one a line, without echo
        return;
    }
    if (cmd == "MD" && words.size() >= 2 && words.size() <= 3) {
        unsigned long addr = 0, count = 16;
        if (ParseHex(words[1], &addr) && addr <= 0xFFFF &&
            (words.size() == 2 || ParseHex(words[2], &count)) && count >= 1 && count <= 0x1000) {
            char buf[16];
            for (unsigned long row = addr; row < addr + count && row <= 0xFFFF; row += 16) {
                std::snprintf(buf, sizeof buf, "%04lX ", row);
                std::string text = buf;
                for (unsigned long a = row; a < row + 16 && a < addr + count && a <= 0xFFFF; ++a) {
                    std::snprintf(buf, sizeof buf, " %02X", memory_[a]);
                    text += buf;
                }
                host_.Send(row == addr ? text : "\r\n" + text);
            }
            Prompt();
            return;
        }
        host_.Send("Bad Argument");
        Prompt();
        return;
    }
    if (cmd == "HELP") {
        host_.Send("LOAD [T]      load S-records\r\n"
                   "MD addr [n]   display n bytes of memory (hex)\r\n"
                   "HELP          this list");
        Prompt();
        return;
    }
    host_.Send("What?");
    Prompt();
}

void Monitor::Record(const std::string& line) {
    auto what = [this] {
        host_.Send("What?\r\n");
        EndLoad();
    };
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || line[1] == '4' ||
        line.size() % 2)
        return what();
    std::vector<uint8_t> bytes;
    for (size_t i = 2; i < line.size(); i += 2) {
        int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
        if (hi < 0 || lo < 0) return what();
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    const char type = line[1];
    const size_t addrLen = (type == '2' || type == '6' || type == '8') ? 3
                           : (type == '3' || type == '7')              ? 4
                                                                       : 2;
    if (bytes[0] != bytes.size() - 1 || bytes.size() < addrLen + 2) return what();
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != 0xFF) {
        host_.Send("checksum error\r\n");
        EndLoad();
        return;
    }
    unsigned long addr = 0;
    for (size_t i = 0; i < addrLen; ++i) addr = addr << 8 | bytes[1 + i];
    const size_t dataLen = bytes.size() - 2 - addrLen;

    if (type == '1' || type == '2' || type == '3') {
        if (addr + dataLen > memory_.size()) {
            host_.Send("error addr\r\n");
            EndLoad();
            return;
        }
        for (size_t i = 0; i < dataLen; ++i) memory_[addr + i] = bytes[1 + addrLen + i];
    }
    ++records_;
    if (options_.recordDelayMs > 0) host_.Pause(options_.recordDelayMs);
    if (options_.eeprom) host_.Send("*");
    if (type == '7' || type == '8' || type == '9') {
        host_.LoadFinished();
        host_.Send("\r\ndone");
        loading_ = false;
        Prompt();
    }
}

void Monitor::EndLoad() {
    loading_ = false;
    Prompt();
}

} // namespace board
