// A pseudo-terminal pair made by socat, both ends reached through link paths: a serial device
// that a test can unplug (Stop: socat ends, the links vanish, the program's side hangs up) and
// plug in again (Start: a new pair under the same names); and the device's side of it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

extern char** environ;

namespace kem::testing {

class SocatPty {
public:
    // `device` is the path the program opens; `peer` is the far end the test plays.
    SocatPty(std::filesystem::path device, std::filesystem::path peer)
        : device_(std::move(device)), peer_(std::move(peer)) {}
    ~SocatPty() { Stop(); }
    SocatPty(const SocatPty&) = delete;
    SocatPty& operator=(const SocatPty&) = delete;

    // Starts socat without waiting for its links; false when it could not be started.
    bool Spawn() {
        Stop();
        std::string left = "pty,raw,echo=0,link=" + device_.string();
        std::string right = "pty,raw,echo=0,link=" + peer_.string();
        char* argv[] = {const_cast<char*>("socat"), left.data(), right.data(), nullptr};
        if (posix_spawnp(&pid_, "socat", nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
            return false;
        }
        return true;
    }
    // Both links are there.
    bool Ready() const {
        std::error_code ignored;
        return std::filesystem::exists(device_, ignored) && std::filesystem::exists(peer_, ignored);
    }
    // Spawn, then wait (5 s at most) until both links exist.
    bool Start() {
        if (!Spawn()) {
            return false;
        }
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!Ready()) {
            if (std::chrono::steady_clock::now() >= give_up) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // Ends socat (the device is unplugged) and waits until it is gone.
    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

    const std::filesystem::path& device() const { return device_; }
    const std::filesystem::path& peer() const { return peer_; }
    std::u16string device16() const {
        const std::string path = device_.string();
        return std::u16string(path.begin(), path.end());
    }

private:
    std::filesystem::path device_;
    std::filesystem::path peer_;
    pid_t pid_ = -1;
};

// The device's side of a pair: the peer path opened non-blocking.
class PtyPeer {
public:
    explicit PtyPeer(const std::filesystem::path& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~PtyPeer() { Close(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool valid() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    // Writes what fits within `timeout_ms`; the count written.
    size_t Write(const std::string& data, int timeout_ms = 5000) {
        size_t done = 0;
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (fd_ >= 0 && done < data.size() && std::chrono::steady_clock::now() < give_up) {
            const ssize_t put = write(fd_, data.data() + done, data.size() - done);
            if (put > 0) {
                done += static_cast<size_t>(put);
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 10);
        }
        return done;
    }
    // Reads until `want` bytes came or `timeout_ms` passed; what came.
    std::string Read(size_t want, int timeout_ms = 5000) {
        std::string out;
        char buffer[4096];
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (fd_ >= 0 && out.size() < want && std::chrono::steady_clock::now() < give_up) {
            const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, want - out.size()));
            if (got > 0) {
                out.append(buffer, static_cast<size_t>(got));
                continue;
            }
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, 10);
        }
        return out;
    }

private:
    int fd_ = -1;
};

}  // namespace kem::testing
