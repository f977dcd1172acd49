// ser2net as a test's remote serial server: serves pseudo-terminals over RFC 2217 or raw TCP on
// loopback ports of its own, in the foreground, with its configuration and log in a folder the
// caller owns. Can be stopped and started again on the same ports (a server that goes away and
// comes back).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace kem::testing {

class Ser2netProcess {
public:
    // The ser2net program, from the usual system folders or PATH; nothing when not installed.
    static std::optional<std::string> Find() {
        std::vector<std::string> folders = {"/usr/sbin", "/usr/local/sbin", "/sbin"};
        if (const char* path = std::getenv("PATH")) {
            const std::string list = path;
            for (size_t start = 0; start <= list.size();) {
                const size_t end = std::min(list.find(':', start), list.size());
                folders.push_back(list.substr(start, end - start));
                start = end + 1;
            }
        }
        for (const std::string& folder : folders) {
            const std::string candidate = folder + "/ser2net";
            if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        return std::nullopt;
    }

    Ser2netProcess(std::string program, std::filesystem::path folder)
        : program_(std::move(program)), folder_(std::move(folder)) {}
    ~Ser2netProcess() { Stop(); }
    Ser2netProcess(const Ser2netProcess&) = delete;
    Ser2netProcess& operator=(const Ser2netProcess&) = delete;

    // Adds `device` to serve, over RFC 2217 or as plain TCP; returns its index. Before Start.
    size_t Serve(std::string device, bool rfc2217) {
        links_.push_back({std::move(device), rfc2217, 0});
        return links_.size() - 1;
    }

    // Starts it on free ports (other ones when a port was taken meanwhile) and waits until
    // every port accepts connections.
    bool Start() {
        for (int attempt = 0; attempt < 5; ++attempt) {
            for (Link& link : links_) {
                link.port = FreePort();
            }
            if (Launch()) {
                return true;
            }
        }
        return false;
    }

    // Starts it again on the ports it had.
    bool Restart() { return Launch(); }

    void Stop() {
        if (pid_ <= 0) {
            return;
        }
        kill(pid_, SIGTERM);
        if (!WaitFor([&] { return Exited(); }, 3000)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    uint16_t port(size_t index) const { return links_[index].port; }
    std::u16string url(size_t index) const {
        const std::string text = "rfc2217://127.0.0.1:" + std::to_string(port(index));
        return std::u16string(text.begin(), text.end());
    }
    std::string log() const {
        std::ifstream file(folder_ / "ser2net.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

private:
    struct Link {
        std::string device;
        bool rfc2217 = true;
        uint16_t port = 0;
    };

    template <typename Condition>
    static bool WaitFor(Condition done, int timeout_ms) {
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= give_up) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    static uint16_t FreePort() {
        namespace plat = kem::platform;
        plat::SocketHandle sock = plat::kInvalidSocket;
        if (plat::CreateStreamSocket(sock).failed()) {
            return 0;
        }
        plat::Ipv4Endpoint local;
        const bool ok = !plat::Bind(sock, plat::LoopbackAddress(), 0).failed() &&
                        !plat::LocalEndpoint(sock, local).failed();
        plat::CloseSocket(sock);
        return ok ? local.port : 0;
    }

    static bool Accepting(uint16_t port) {
        namespace plat = kem::platform;
        plat::SocketHandle sock = plat::kInvalidSocket;
        if (plat::CreateStreamSocket(sock).failed()) {
            return false;
        }
        bool in_progress = false;
        const bool ok =
            !plat::StartConnect(sock, {plat::LoopbackAddress(), port}, in_progress).failed();
        plat::CloseSocket(sock);
        return ok;
    }

    // Writes the configuration, starts the program and waits for every port; false (and
    // nothing left running) when it ended or did not listen in time.
    bool Launch() {
        Stop();
        const std::string config = (folder_ / "ser2net.yaml").string();
        {
            std::ofstream file(config);
            for (size_t i = 0; i < links_.size(); ++i) {
                const Link& link = links_[i];
                file << "connection: &con" << i
                     << "\n  accepter: " << (link.rfc2217 ? "telnet(rfc2217),tcp," : "tcp,")
                     << "127.0.0.1," << link.port << "\n  connector: serialdev," << link.device
                     << ",9600n81,local\n";
            }
        }
        const std::string pid_file = (folder_ / "ser2net.pid").string();
        const std::string log_file = (folder_ / "ser2net.log").string();
        pid_ = fork();
        if (pid_ < 0) {
            return false;
        }
        if (pid_ == 0) {
            const int out = open(log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (out >= 0) {
                dup2(out, STDOUT_FILENO);
                dup2(out, STDERR_FILENO);
            }
            // -n -d: foreground, its log on stdout; -u: no UUCP lock files.
            execl(program_.c_str(), program_.c_str(), "-n", "-d", "-u", "-c", config.c_str(), "-P",
                  pid_file.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const bool up = WaitFor(
            [&] {
                if (Exited()) {
                    return true;
                }
                for (const Link& link : links_) {
                    if (!Accepting(link.port)) {
                        return false;
                    }
                }
                return true;
            },
            5000);
        if (up && pid_ > 0) {
            return true;
        }
        Stop();
        return false;
    }

    bool Exited() {
        if (pid_ <= 0) {
            return true;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        return false;
    }

    std::string program_;
    std::filesystem::path folder_;
    std::vector<Link> links_;
    pid_t pid_ = -1;
};

}  // namespace kem::testing
