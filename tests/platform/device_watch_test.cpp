#include "platform/device_watch.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "support/scratch_files.h"

namespace {

namespace fs = std::filesystem;
using kem::platform::Event;
using kem::platform::FindLinkTo;
using kem::platform::PathExists;
using kem::platform::PathWaitResult;
using kem::platform::ResolvedPath;
using kem::platform::WaitForPath;
using kem::testing::TempFolder;
using kem::testing::WriteBytes;
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Runs WaitForPath on its own thread; the result and how long it took.
struct WaitRun {
    PathWaitResult result;
    int64_t elapsed_ms = 0;
    double cpu_ms = 0;
};
std::future<WaitRun> StartWait(const std::string& path, Event& stop) {
    return std::async(std::launch::async, [path, &stop] {
        WaitRun run;
        const auto start = Clock::now();
        const double cpu = ThreadCpuMs();
        run.result = WaitForPath(path, stop);
        run.cpu_ms = ThreadCpuMs() - cpu;
        run.elapsed_ms = MsSince(start);
        return run;
    });
}

TEST(DeviceWatch, PathExistsFollowsLinks) {
    TempFolder dir;
    WriteBytes(dir / "node", "x");
    fs::create_symlink(dir / "node", dir / "link");
    fs::create_symlink(dir / "gone", dir / "dangling");
    EXPECT_TRUE(PathExists(dir / "node"));
    EXPECT_TRUE(PathExists(dir / "link"));
    EXPECT_FALSE(PathExists(dir / "dangling"));
    EXPECT_FALSE(PathExists(dir / "missing"));
    EXPECT_FALSE(PathExists(""));
    EXPECT_EQ(ResolvedPath(dir / "link"), fs::canonical(dir / "node").string());
    EXPECT_EQ(ResolvedPath(dir / "dangling"), "");
}

TEST(DeviceWatch, FindLinkToPicksTheLinkThatResolvesToTheDevice) {
    TempFolder dev;
    TempFolder by_id;
    WriteBytes(dev / "ttyUSB0", "");
    WriteBytes(dev / "ttyUSB1", "");
    // A chain: by-id link -> another link -> the node, as with a link made by a tool.
    fs::create_symlink(dev / "ttyUSB0", dev / "alias0");
    fs::create_symlink(dev / "alias0", by_id / "usb-Vendor_Adapter_A-if00-port0");
    fs::create_symlink(dev / "ttyUSB1", by_id / "usb-Vendor_Adapter_B-if00-port0");
    WriteBytes(by_id / "plain-file", "");
    EXPECT_EQ(FindLinkTo(by_id.path().string(), dev / "ttyUSB0"),
              by_id / "usb-Vendor_Adapter_A-if00-port0");
    EXPECT_EQ(FindLinkTo(by_id.path().string(), dev / "ttyUSB1"),
              by_id / "usb-Vendor_Adapter_B-if00-port0");
    // Opened through a link itself: it still resolves to the same node.
    EXPECT_EQ(FindLinkTo(by_id.path().string(), dev / "alias0"),
              by_id / "usb-Vendor_Adapter_A-if00-port0");
    WriteBytes(dev / "ttyACM0", "");
    EXPECT_EQ(FindLinkTo(by_id.path().string(), dev / "ttyACM0"), "");
    EXPECT_EQ(FindLinkTo(by_id.path().string(), dev / "missing"), "");
    EXPECT_EQ(FindLinkTo(by_id / "no-such-folder", dev / "ttyUSB0"), "");
}

TEST(DeviceWatch, PresentPathReturnsAtOnce) {
    TempFolder dir;
    WriteBytes(dir / "node", "");
    Event stop(Event::Mode::kManualReset);
    const PathWaitResult result = WaitForPath(dir / "node", stop);
    EXPECT_TRUE(result.present);
    EXPECT_FALSE(result.stopped);
    EXPECT_FALSE(result.failed);
}

TEST(DeviceWatch, NodeCreatedLaterEndsTheWaitWithoutBurningTheCpu) {
    TempFolder dir;
    Event stop(Event::Mode::kManualReset);
    auto waiting = StartWait(dir / "node", stop);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const auto made = Clock::now();
    WriteBytes(dir / "node", "");
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const WaitRun run = waiting.get();
    EXPECT_TRUE(run.result.present);
    EXPECT_GE(run.elapsed_ms, 550);
    EXPECT_LT(MsSince(made), 5000);
    // 600 ms of waiting: a handful of wake-ups, never a spin.
    EXPECT_LT(run.cpu_ms, 60.0);
}

TEST(DeviceWatch, LinkMovedIntoTheFolderEndsTheWait) {
    TempFolder dir;
    WriteBytes(dir / "target", "");
    Event stop(Event::Mode::kManualReset);
    auto waiting = StartWait(dir / "port", stop);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // As `ln -sf` does it: a link under a temporary name renamed into place.
    fs::create_symlink(dir / "target", dir / ".port.tmp");
    fs::rename(dir / ".port.tmp", dir / "port");
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(waiting.get().result.present);
}

TEST(DeviceWatch, TargetAppearingElsewhereIsSeenByTheRecheck) {
    TempFolder links;
    TempFolder nodes;
    // The link is there from the start but dangles; its target comes in another folder.
    fs::create_symlink(nodes / "ttyUSB3", links / "adapter");
    Event stop(Event::Mode::kManualReset);
    auto waiting = StartWait(links / "adapter", stop);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    WriteBytes(nodes / "ttyUSB3", "");
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(waiting.get().result.present);
}

TEST(DeviceWatch, MissingFolderIsPolledUntilItAppears) {
    TempFolder dir;
    const std::string folder = dir / "by-id";
    Event stop(Event::Mode::kManualReset);
    auto waiting = StartWait(folder + "/adapter", stop);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fs::create_directory(folder);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // The folder is watched by now; the link made in it ends the wait.
    WriteBytes(dir / "node", "");
    fs::create_symlink(dir / "node", folder + "/adapter");
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(waiting.get().result.present);
}

TEST(DeviceWatch, StopEndsTheWaitPromptly) {
    TempFolder dir;
    Event stop(Event::Mode::kManualReset);
    auto waiting = StartWait(dir / "never", stop);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto asked = Clock::now();
    stop.Set();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const WaitRun run = waiting.get();
    EXPECT_LT(MsSince(asked), 1000);
    EXPECT_TRUE(run.result.stopped);
    EXPECT_FALSE(run.result.present);

    // Also while only polling (no folder to watch).
    Event stop2(Event::Mode::kManualReset);
    auto polling = StartWait(dir / "no-folder/never", stop2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto asked2 = Clock::now();
    stop2.Set();
    ASSERT_EQ(polling.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(polling.get().result.stopped);
    EXPECT_LT(MsSince(asked2), 1000);
}

}  // namespace
