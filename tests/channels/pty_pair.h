// A pseudo-terminal pair standing in for a serial line in tests: the code under test opens the
// slave by its path, the test plays the far end on the master. The test keeps its own slave
// descriptor open, so the pair survives the code under test closing its side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/wait_until.h"

namespace kem::testing {

class PtyPair {
public:
    PtyPair() {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        path_ = name;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
    }
    ~PtyPair() {
        CloseMaster();
        if (slave_ >= 0) {
            close(slave_);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string& path() const { return path_; }
    std::u16string path16() const { return std::u16string(path_.begin(), path_.end()); }

    // True when the line, as the code under test set it, runs at `speed` with (or without)
    // two stop bits.
    bool LineHas(speed_t speed, bool two_stop_bits) const {
        termios line{};
        return tcgetattr(slave_, &line) == 0 && cfgetospeed(&line) == speed &&
               ((line.c_cflag & CSTOPB) != 0) == two_stop_bits;
    }

    // The far end hangs up.
    void CloseMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

    // Writes all of `data` to the master, waiting for room; gives up after `timeout_ms` or
    // when `keep_going` says so. Returns the bytes written.
    size_t WriteMaster(const void* data, size_t size, int timeout_ms = 10000,
                       const std::function<bool()>& keep_going = {}) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        size_t done = 0;
        while (done < size && std::chrono::steady_clock::now() < deadline) {
            if (keep_going && !keep_going()) {
                break;
            }
            const ssize_t put = write(master_, bytes + done, size - done);
            if (put > 0) {
                done += static_cast<size_t>(put);
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 20);
        }
        return done;
    }

    size_t WriteMaster(const std::string& text) { return WriteMaster(text.data(), text.size()); }

    // Reads from the master until `want` bytes were appended to `out` or `timeout_ms` passed.
    // Returns the bytes appended.
    size_t ReadMaster(std::vector<uint8_t>& out, size_t want, int timeout_ms = 10000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        size_t got = 0;
        uint8_t buffer[8192];
        while (got < want && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n =
                read(master_, buffer, sizeof buffer < want - got ? sizeof buffer : want - got);
            if (n > 0) {
                out.insert(out.end(), buffer, buffer + n);
                got += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
            pollfd p{master_, POLLIN, 0};
            poll(&p, 1, 20);
        }
        return got;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// `size` bytes that run through every byte value, shifted by `seed` so that two streams
// differ; all the control characters a cooked line would eat are among them.
inline std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed = 0) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 256 + seed) & 0xFF);
    }
    return bytes;
}

}  // namespace kem::testing
