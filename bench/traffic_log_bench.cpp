// Writing traffic to the log files with time stamps on: blocks alternate between sent and
// received, so every block costs a stamped entry in its own log and a tagged entry in the
// all-traffic log. Files live in the temporary folder (page cache). Target: at least
// 100 MB/s of traffic bytes with all three logs recording.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/code_page.h"
#include "platform/local_time.h"
#include "terminal/traffic_log.h"

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kem-traffic-log-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        folder_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const std::string& path() const { return folder_; }
    void Empty() const {
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            std::filesystem::remove(entry.path());
        }
    }

private:
    std::string folder_;
};

TrafficLogOptions StampedOptions(const TempFolder& folder, bool merge) {
    TrafficLogOptions options;
    options.path = kem::platform::Utf8ToWide(folder.path());
    options.title = u"bench";
    options.send_name = u"%T_Send.log";
    options.receive_name = u"%T_Receive.log";
    options.all_name = u"%T_All.log";
    options.save_send = true;
    options.send_time_stamp = true;
    options.save_receive = true;
    options.receive_time_stamp = true;
    options.save_all = true;
    options.all_time_stamp = true;
    options.all_merge_continue = merge;
    return options;
}

void Run(benchmark::State& state, bool merge) {
    const size_t block_size = static_cast<size_t>(state.range(0));
    // Files are started afresh after this much traffic, so the run does not fill the disk.
    constexpr size_t kRestartBytes = 256u << 20;
    TempFolder folder;
    const TrafficLogOptions options = StampedOptions(folder, merge);
    const kem::platform::LocalTime now = kem::platform::NowLocal();
    std::string bytes(block_size, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    TrafficLogBlock block;
    block.hour = 12;
    block.minute = 34;
    block.second = 56;
    block.bytes = bytes;
    TrafficLogWriter writer;
    if (!writer.Start(options, u"", now).ok()) {
        state.SkipWithError("start failed");
        return;
    }
    size_t since_restart = 0;
    uint32_t counter = 0;
    for (auto _ : state) {
        block.direction = static_cast<int32_t>(counter & 1);
        block.millisecond = static_cast<uint16_t>(counter % 1000);
        ++counter;
        if (!writer.WriteTrafficBlock(block).ok()) {
            state.SkipWithError("write failed");
            return;
        }
        since_restart += block_size;
        if (since_restart >= kRestartBytes) {
            state.PauseTiming();
            writer.Stop(now);
            folder.Empty();
            writer.Start(options, u"", now);
            since_restart = 0;
            state.ResumeTiming();
        }
    }
    writer.Stop(now);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(block_size));
    state.SetItemsProcessed(state.iterations());
}

void BM_TrafficLogStamped(benchmark::State& state) {
    Run(state, false);
}
void BM_TrafficLogStampedMerged(benchmark::State& state) {
    Run(state, true);
}

BENCHMARK(BM_TrafficLogStamped)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK(BM_TrafficLogStampedMerged)->Arg(4096);

}  // namespace
