#pragma once

// Starts report_server.py on a free port for one test and reads back what it
// received.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace uploadtest {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline void RemoveTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

struct Request {
    int n = 0;
    std::string kind, path, body;
    std::uint64_t expected = 0, received = 0;
    std::map<std::string, std::string> headers;
    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string("<none>") : it->second;
    }
};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/upload-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        std::filesystem::create_directories(dir_ + "/log");
        // A proxy set up on the test machine must not stand between us and the local server.
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        ASSERT_TRUE(Start({})) << "the test server did not start";
    }
    void TearDown() override {
        Stop();
        RemoveTree(dir_);
    }

    bool Start(const std::vector<std::string>& extra) {
        Stop();
        int out[2];
        if (pipe(out) != 0) return false;
        server_ = fork();
        if (server_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<std::string> args = {"python3", REPORT_SERVER, dir_ + "/log/r"};
            args.insert(args.end(), extra.begin(), extra.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp("python3", argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        port_ = std::atoi(line.c_str());
        return port_ > 0;
    }

    void Stop() {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
            server_ = -1;
        }
    }

    // A server with a certificate made for 127.0.0.1.
    bool StartTlsServer() {
        certificate_ = dir_ + "/cert.pem";
        const std::string key = dir_ + "/key.pem";
        const std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
            "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
            key + "' -out '" + certificate_ + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return false;
        scheme_ = "https";
        return Start({certificate_, key});
    }

    std::string Url(const std::string& path, const std::string& userInfo = "") const {
        return scheme_ + "://" + userInfo + "127.0.0.1:" + std::to_string(port_) + path;
    }

    // A cabinet file of `size` bytes that are not all alike.
    std::string MakeCabinet(std::size_t size) {
        std::string bytes(size, '\0');
        std::uint32_t x = 0x12345678;
        for (char& b : bytes) {
            x = x * 1103515245 + 12345;
            b = static_cast<char>(x >> 24);
        }
        std::string path = dir_ + "/~zk0000beef-" + std::to_string(size) + ".cab";
        WriteFile(path, bytes);
        return path;
    }

    std::vector<Request> Requests() const {
        std::vector<Request> out;
        for (const auto& e : std::filesystem::directory_iterator(dir_ + "/log")) {
            const std::string name = e.path().filename().string();
            if (name.size() < 6 || name.substr(name.size() - 5) != ".head") continue;
            Request r;
            r.n = std::atoi(name.c_str() + 2);
            std::istringstream in(ReadFile(e.path().string()));
            std::string expected, received;
            std::getline(in, r.kind);
            std::getline(in, expected);
            std::getline(in, received);
            std::getline(in, r.path);
            r.expected = std::strtoull(expected.c_str(), nullptr, 10);
            r.received = std::strtoull(received.c_str(), nullptr, 10);
            std::string line;
            while (std::getline(in, line)) {
                std::size_t colon = line.find(": ");
                if (colon != std::string::npos)
                    r.headers[line.substr(0, colon)] = line.substr(colon + 2);
                else if (!line.empty() && line.back() == ':')
                    r.headers[line.substr(0, line.size() - 1)] = "";
            }
            r.body = ReadFile(dir_ + "/log/r." + std::to_string(r.n) + ".body");
            out.push_back(std::move(r));
        }
        std::sort(out.begin(), out.end(), [](const Request& a, const Request& b) { return a.n < b.n; });
        return out;
    }

    // For requests the server finishes after the client has given up.
    std::vector<Request> WaitForRequests(std::size_t n) const {
        for (int i = 0; i < 600 && Requests().size() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return Requests();
    }

    void ClearRequests() {
        for (const auto& e : std::filesystem::directory_iterator(dir_ + "/log"))
            std::filesystem::remove(e.path());
    }

    std::string dir_;
    std::string scheme_ = "http";
    std::string certificate_;
    pid_t server_ = -1;
    int port_ = 0;
};

} // namespace uploadtest
