// Waiting for a device path with inotify: nodes and by-id links that appear, are re-pointed or
// come in folders that do not exist yet, without spinning, and a stop that ends the wait.
#include "platform/device_watch.h"

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "support/scratch_files.h"

namespace {

namespace fs = std::filesystem;
using namespace kem::platform;
using kem::testing::TempFolder;
using kem::testing::WriteBytes;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct WaitRun {
    PathWaitResult result;
    double cpu_ms = 0;
};

// WaitForPath on a thread of its own, stopped by `stop_`.
class DeviceWatchTest : public ::testing::Test {
protected:
    void StartWait(const std::string& path) {
        waiting_ = std::async(std::launch::async, [this, path] {
            const double cpu = ThreadCpuMs();
            const PathWaitResult result = WaitForPath(path, stop_);
            return WaitRun{result, ThreadCpuMs() - cpu};
        });
    }
    // The finished wait; a hang guard of 5 s.
    WaitRun Finish() {
        if (waiting_.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "the wait did not end";
            stop_.Set();
        }
        return waiting_.get();
    }
    ~DeviceWatchTest() override {
        stop_.Set();  // never leave a waiter behind a failed assertion
    }
    TempFolder dir_;
    Event stop_{Event::Mode::kManualReset};
    std::future<WaitRun> waiting_;
};

TEST_F(DeviceWatchTest, PathExistsAndFindLinkToFollowLinkChains) {
    TempFolder by_id;
    WriteBytes(dir_ / "ttyUSB0", "");
    WriteBytes(dir_ / "ttyUSB1", "");
    WriteBytes(dir_ / "ttyACM0", "");
    WriteBytes(by_id / "plain-file", "");
    // by-id link -> another link -> the node, as with a link made by a tool.
    fs::create_symlink(dir_ / "ttyUSB0", dir_ / "alias0");
    fs::create_symlink(dir_ / "alias0", by_id / "usb-Vendor_A-if00-port0");
    fs::create_symlink(dir_ / "ttyUSB1", by_id / "usb-Vendor_B-if00-port0");
    fs::create_symlink(dir_ / "gone", dir_ / "dangling");
    EXPECT_TRUE(PathExists(dir_ / "alias0"));
    EXPECT_FALSE(PathExists(dir_ / "dangling"));
    EXPECT_FALSE(PathExists(dir_ / "missing"));
    EXPECT_FALSE(PathExists(""));
    EXPECT_EQ(ResolvedPath(dir_ / "alias0"), fs::canonical(dir_ / "ttyUSB0").string());
    EXPECT_EQ(ResolvedPath(dir_ / "dangling"), "");
    const std::string folder = by_id.path().string();
    EXPECT_EQ(FindLinkTo(folder, dir_ / "ttyUSB0"), by_id / "usb-Vendor_A-if00-port0");
    EXPECT_EQ(FindLinkTo(folder, dir_ / "ttyUSB1"), by_id / "usb-Vendor_B-if00-port0");
    EXPECT_EQ(FindLinkTo(folder, dir_ / "alias0"), by_id / "usb-Vendor_A-if00-port0");
    EXPECT_EQ(FindLinkTo(folder, dir_ / "ttyACM0"), "");
    EXPECT_EQ(FindLinkTo(folder, dir_ / "missing"), "");
    EXPECT_EQ(FindLinkTo(by_id / "no-such-folder", dir_ / "ttyUSB0"), "");
}

TEST_F(DeviceWatchTest, NodeCreatedLaterEndsTheWaitWithoutBurningTheCpu) {
    WriteBytes(dir_ / "present", "");
    const PathWaitResult at_once = WaitForPath(dir_ / "present", stop_);
    EXPECT_TRUE(at_once.present && !at_once.stopped && !at_once.failed);
    StartWait(dir_ / "node");
    std::this_thread::sleep_for(milliseconds(600));
    EXPECT_EQ(waiting_.wait_for(milliseconds(0)), std::future_status::timeout);
    WriteBytes(dir_ / "node", "");
    const WaitRun run = Finish();
    EXPECT_TRUE(run.result.present);
    EXPECT_LT(run.cpu_ms, 60.0);  // 600 ms of waiting: a handful of wake-ups, never a spin
}

TEST_F(DeviceWatchTest, DanglingLinkRePointedByRenameEndsTheWait) {
    WriteBytes(dir_ / "target", "");
    fs::create_symlink(dir_ / "old-target", dir_ / "port");
    StartWait(dir_ / "port");
    std::this_thread::sleep_for(milliseconds(100));
    // As `ln -sf` does it: a link under a temporary name renamed over the old one.
    fs::create_symlink(dir_ / "target", dir_ / ".port.tmp");
    fs::rename(dir_ / ".port.tmp", dir_ / "port");
    EXPECT_TRUE(Finish().result.present);
}

TEST_F(DeviceWatchTest, TargetAppearingElsewhereIsSeenByTheRecheck) {
    TempFolder nodes;
    fs::create_symlink(nodes / "ttyUSB3", dir_ / "adapter");
    StartWait(dir_ / "adapter");
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(waiting_.wait_for(milliseconds(0)), std::future_status::timeout);
    WriteBytes(nodes / "ttyUSB3", "");
    EXPECT_TRUE(Finish().result.present);
}

TEST_F(DeviceWatchTest, MissingFolderIsPolledUntilItAppears) {
    const std::string folder = dir_ / "by-id";
    StartWait(folder + "/adapter");
    std::this_thread::sleep_for(milliseconds(300));
    fs::create_directory(folder);
    std::this_thread::sleep_for(milliseconds(300));
    // The folder is watched by now; the link made in it ends the wait.
    WriteBytes(dir_ / "node", "");
    fs::create_symlink(dir_ / "node", folder + "/adapter");
    EXPECT_TRUE(Finish().result.present);
}

TEST_F(DeviceWatchTest, StopEndsTheWaitPromptlyWhileWatchingOrPolling) {
    for (const char* path : {"never", "no-folder/never"}) {
        SCOPED_TRACE(path);
        stop_.Reset();
        StartWait(dir_ / path);
        std::this_thread::sleep_for(milliseconds(150));
        const auto asked = Clock::now();
        stop_.Set();
        const WaitRun run = Finish();
        EXPECT_LT(Clock::now() - asked, std::chrono::seconds(1));
        EXPECT_TRUE(run.result.stopped);
        EXPECT_FALSE(run.result.present);
    }
}

}  // namespace
