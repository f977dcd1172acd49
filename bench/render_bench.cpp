// Rendering traffic into styled runs and queueing it. Targets: at least 50 MB/s of plain ANSI
// text with a line break every 64 bytes; at least 20 MB/s with hexadecimal display and time
// stamps on; 10,000 blocks of 16 bytes queued and rendered one by one in under 20 ms; adding a
// block with AutoClear on costing the same at 1 KB and at 64 MB of queue; merged rendering with
// a frame gap and "%q" in the template within 10 % of the same rendering without them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "terminal/render.h"
#include "terminal/traffic_queue.h"

namespace {

constexpr size_t kBlockSize = 4096;

tagComExchangeData Record(int32_t direction, std::string bytes, int millisecond) {
    tagComExchangeData record;
    record.direction = direction;
    record.time = kem::platform::LocalTime{2026, 12, 7, 9, 5, 3, millisecond, 1, 0};
    record.data.assign(bytes.begin(), bytes.end());
    return record;
}

// Text lines of 62 printable bytes and CR LF.
std::string TextLines(size_t size, bool with_gbk) {
    std::string text;
    size_t column = 0;
    while (text.size() < size) {
        if (column == 62) {
            text += "\r\n";
            column = 0;
        } else if (with_gbk && column % 8 == 0 && column + 2 <= 62) {
            text += "\xC4\xE3";  // one double-byte character
            column += 2;
        } else {
            text.push_back(static_cast<char>('!' + (text.size() * 7) % 90));
            ++column;
        }
    }
    text.resize(size);
    return text;
}

std::vector<tagComExchangeData> Blocks(const std::string& stream, size_t block_size) {
    std::vector<tagComExchangeData> blocks;
    for (size_t at = 0; at < stream.size(); at += block_size) {
        blocks.push_back(Record(1, stream.substr(at, block_size), static_cast<int>(at % 1000)));
    }
    return blocks;
}

void RenderBlocks(benchmark::State& state, const RenderOptions& options,
                  const std::vector<tagComExchangeData>& blocks) {
    TrafficRenderer renderer(options);
    RunList runs;
    size_t bytes = 0;
    for (auto _ : state) {
        for (const tagComExchangeData& block : blocks) {
            runs.clear();
            renderer.RenderRecord(block, runs);
            benchmark::DoNotOptimize(runs.runs().data());
            bytes += block.data.size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// Received ANSI text, default options (control characters named, CR LF shown as they are).
void BM_RenderAnsiText(benchmark::State& state) {
    const auto blocks = Blocks(TextLines(1 << 20, false), kBlockSize);
    RenderBlocks(state, RenderOptions{}, blocks);
}
BENCHMARK(BM_RenderAnsiText);

// As above with a double-byte character in every eight bytes and the Chinese adjustment on:
// such text goes through the code-page converter.
void BM_RenderGbkTextChineseAdjust(benchmark::State& state) {
    const auto blocks = Blocks(TextLines(1 << 20, true), kBlockSize - 1);
    RenderOptions options;
    options.chinese_adjust = true;
    RenderBlocks(state, options, blocks);
}
BENCHMARK(BM_RenderGbkTextChineseAdjust);

// Hexadecimal display with a time-stamp header before every block (joining off).
void BM_RenderHexWithTimeStamps(benchmark::State& state) {
    std::string bytes(1 << 20, '\0');
    uint32_t seed = 1;
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    const auto blocks = Blocks(bytes, kBlockSize);
    RenderOptions options;
    options.show_hex = true;
    options.time_stamp = true;
    RenderBlocks(state, options, blocks);
}
BENCHMARK(BM_RenderHexWithTimeStamps);

// 10,000 blocks of 16 bytes, each queued (with the local time taken) and rendered on its own,
// as they arrive from a link; both directions, joining, time stamps and names on.
void BM_QueueAndRender10kBlocksOf16Bytes(benchmark::State& state) {
    const std::string block = "AT+CSQ\r\n+CSQ: 1\x01";
    RenderOptions options;
    options.merge_continue = true;
    options.time_stamp = true;
    for (auto _ : state) {
        TrafficQueue queue;
        TrafficRenderer renderer(options);
        RunList runs;
        for (int i = 0; i < 10000; ++i) {
            const int32_t direction = i % 4 == 0 ? 0 : 1;
            queue.AddTraffic(direction, reinterpret_cast<const uint8_t*>(block.data()), 16,
                             TrafficTrimLimit{true, 64});
            renderer.RenderRecord(queue.At(queue.Count() - 1), runs);
        }
        benchmark::DoNotOptimize(runs.runs().data());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_QueueAndRender10kBlocksOf16Bytes)->Unit(benchmark::kMillisecond);

// Fills a queue to `limit_kb` KiB of 64-byte blocks under AutoClear.
void Fill(TrafficQueue& queue, int32_t limit_kb) {
    const std::vector<uint8_t> block(64, 'q');
    const TrafficTrimLimit limit{true, limit_kb};
    for (int64_t i = 0; i < int64_t{limit_kb} * 16; ++i) {
        queue.AddTraffic(1, block.data(), 64, limit);
    }
}

// One 64-byte block added to a full queue, so every add also trims one block.
void BM_AddWithAutoClear(benchmark::State& state) {
    const auto limit_kb = static_cast<int32_t>(state.range(0));
    TrafficQueue queue;
    Fill(queue, limit_kb);
    const std::vector<uint8_t> block(64, 'q');
    const TrafficTrimLimit limit{true, limit_kb};
    for (auto _ : state) {
        queue.AddTraffic(1, block.data(), 64, limit);
    }
    state.counters["queued_bytes"] = static_cast<double>(queue.QueuedBytes());
}
BENCHMARK(BM_AddWithAutoClear)->Arg(1)->Arg(64 * 1024);

// Both queue sizes timed side by side, alternating, so the ratio is not skewed by drift.
void BM_AutoClearCostRatio64MBTo1KB(benchmark::State& state) {
    TrafficQueue small;
    TrafficQueue large;
    Fill(small, 1);
    Fill(large, 64 * 1024);
    const std::vector<uint8_t> block(64, 'q');
    using Clock = std::chrono::steady_clock;
    Clock::duration small_time{};
    Clock::duration large_time{};
    for (auto _ : state) {
        auto start = Clock::now();
        for (int i = 0; i < 1000; ++i) {
            small.AddTraffic(1, block.data(), 64, TrafficTrimLimit{true, 1});
        }
        auto middle = Clock::now();
        for (int i = 0; i < 1000; ++i) {
            large.AddTraffic(1, block.data(), 64, TrafficTrimLimit{true, 64 * 1024});
        }
        auto end = Clock::now();
        small_time += middle - start;
        large_time += end - middle;
    }
    const double iterations = static_cast<double>(state.iterations()) * 1000.0;
    state.counters["ns_per_add_1KB"] =
        std::chrono::duration<double, std::nano>(small_time).count() / iterations;
    state.counters["ns_per_add_64MB"] =
        std::chrono::duration<double, std::nano>(large_time).count() / iterations;
    state.counters["ratio"] = std::chrono::duration<double>(large_time).count() /
                              std::chrono::duration<double>(small_time).count();
}
BENCHMARK(BM_AutoClearCostRatio64MBTo1KB);

// Request/reply traffic as framed protocols produce it: bursts of four 32-byte blocks 1 ms
// apart, each burst 100 ms after the previous one and in the other direction. A gap of 20 ms
// splits exactly where the direction changes anyway, so both ways show the same number of
// entries and the difference is the cost of the gap and of "%q" alone.
std::vector<tagComExchangeData> FramedTraffic() {
    std::vector<tagComExchangeData> blocks;
    const std::string payload = "\x01\x03\x02\x05\x0A reply text 0123456789ABCDEF";
    int64_t at_ms = 1796633103000;  // 2026-12-07
    for (int burst = 0; burst < 2048; ++burst) {
        for (int i = 0; i < 4; ++i) {
            tagComExchangeData record = Record(burst % 2, payload, 0);
            record.time = kem::platform::ToLocal(at_ms / 1000);
            record.time.millisecond = static_cast<int>(at_ms % 1000);
            blocks.push_back(std::move(record));
            at_ms += 1;
        }
        at_ms += 100;
    }
    return blocks;
}

RenderOptions FramedOptions(bool with_gap_and_elapsed) {
    RenderOptions options;
    options.merge_continue = true;
    options.ext_new_line = true;
    options.time_stamp = true;
    if (with_gap_and_elapsed) {
        options.frame_gap_ms = 20;
        options.time_stamp_format = u"[%H:%M:%S.%s %q]";
    }
    return options;
}

void BM_RenderMergedStamped(benchmark::State& state) {
    RenderBlocks(state, FramedOptions(false), FramedTraffic());
}
BENCHMARK(BM_RenderMergedStamped);

void BM_RenderMergedStampedFrameGapElapsed(benchmark::State& state) {
    RenderBlocks(state, FramedOptions(true), FramedTraffic());
}
BENCHMARK(BM_RenderMergedStampedFrameGapElapsed);

// Both ways timed side by side, alternating, so the ratio is not skewed by drift. Process CPU
// time, not wall time: on a shared machine the wall clock mostly measures the neighbours.
void BM_FrameGapElapsedCostRatio(benchmark::State& state) {
    const auto blocks = FramedTraffic();
    TrafficRenderer plain(FramedOptions(false));
    TrafficRenderer framed(FramedOptions(true));
    std::clock_t plain_time = 0;
    std::clock_t framed_time = 0;
    size_t plain_units = 0;
    size_t framed_units = 0;
    RunList runs;
    auto render = [&](TrafficRenderer& renderer, size_t& units) {
        renderer.Reset();
        for (const tagComExchangeData& block : blocks) {
            runs.clear();
            renderer.RenderRecord(block, runs);
            units += runs.runs().size();
        }
    };
    for (auto _ : state) {
        const std::clock_t start = std::clock();
        render(plain, plain_units);
        const std::clock_t middle = std::clock();
        render(framed, framed_units);
        const std::clock_t end = std::clock();
        plain_time += middle - start;
        framed_time += end - middle;
    }
    const double iterations = static_cast<double>(state.iterations());
    const double per_us = 1e6 / CLOCKS_PER_SEC;
    state.counters["us_plain"] = static_cast<double>(plain_time) * per_us / iterations;
    state.counters["us_framed"] = static_cast<double>(framed_time) * per_us / iterations;
    state.counters["ratio"] = static_cast<double>(framed_time) / static_cast<double>(plain_time);
    // Same number of runs both ways: the gap splits nowhere the direction does not.
    state.counters["runs_equal"] = plain_units == framed_units ? 1.0 : 0.0;
}
BENCHMARK(BM_FrameGapElapsedCostRatio);

}  // namespace
