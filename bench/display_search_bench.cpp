// Find in the display: a full search over 8 MiB (8 Mi UTF-16 units) of rendered text, as a new
// pattern, a case change or a re-render asks for. Target: at most 100 ms per search. Also the
// cost of following a flood: one display frame's worth of appended text.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "terminal/display_search.h"

namespace {

constexpr size_t kDisplayUnits = size_t{8} << 20;

// Lines of text with a time-stamp header before every tenth, as a display with time stamps
// shows them; "Sensor" appears in one line of seven.
void FillText(DisplayModel& model, size_t units) {
    size_t line = 0;
    while (model.TotalUnits() < units) {
        if (line % 10 == 0) {
            model.AppendRun(u"[12:34:56.789]", DisplayStyle::kReceivedTimeStamp);
        }
        std::u16string text = line % 7 == 0 ? u"Sensor " : u"value ";
        text += u"temperature=21.5 humidity=40 pressure=1013 status=ok seq=";
        text += static_cast<char16_t>(u'0' + line % 10);
        text += u"\r\n";
        model.AppendRun(text, DisplayStyle::kReceivedNormal);
        ++line;
    }
}

// A HEX display: bytes as "XX ", headers between blocks, no hard breaks (so the display's own
// breaks every 1024 units are in the text too).
void FillHex(DisplayModel& model, size_t units) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    size_t block = 0;
    while (model.TotalUnits() < units) {
        model.AppendRun(u"[12:34:56.789]", DisplayStyle::kReceivedTimeStamp);
        std::u16string text;
        for (int i = 0; i < 64; ++i) {
            const unsigned byte = (block * 31 + static_cast<size_t>(i) * 7) & 0xFF;
            text += digits[byte >> 4];
            text += digits[byte & 15];
            text += u' ';
        }
        text += u"0D 0A ";
        model.AppendRun(text, DisplayStyle::kReceivedNormal);
        ++block;
    }
}

void RunFullSearch(benchmark::State& state, const DisplayModel& model,
                   const DisplaySearchQuery& query) {
    size_t count = 0;
    for (auto _ : state) {
        DisplaySearch search;
        search.SetQuery(query);
        search.Update(model);
        count = search.Count();
        benchmark::DoNotOptimize(count);
    }
    state.counters["matches"] = static_cast<double>(count);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * model.TotalUnits()));
}

DisplayModel MakeModel(bool hex) {
    DisplayModel model;
    model.SetClearLimit(0);
    hex ? FillHex(model, kDisplayUnits) : FillText(model, kDisplayUnits);
    return model;
}

void BM_DisplaySearch8MiBText(benchmark::State& state) {
    static const DisplayModel model = MakeModel(false);
    RunFullSearch(state, model, DisplaySearchQuery{u"sensor", state.range(0) != 0});
}
BENCHMARK(BM_DisplaySearch8MiBText)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A frequent first unit: the matcher works on most of the text, not only the skip loop.
void BM_DisplaySearch8MiBTextFrequent(benchmark::State& state) {
    static const DisplayModel model = MakeModel(false);
    RunFullSearch(state, model, DisplaySearchQuery{u"e=1013", false});
}
BENCHMARK(BM_DisplaySearch8MiBTextFrequent)->Unit(benchmark::kMillisecond);

void BM_DisplaySearch8MiBHex(benchmark::State& state) {
    static const DisplayModel model = MakeModel(true);
    RunFullSearch(state, model, DisplaySearchQuery{u"0D 0A", false, DisplaySearchMode::kHex});
}
BENCHMARK(BM_DisplaySearch8MiBHex)->Unit(benchmark::kMillisecond);

// Following a flood: 64 KiB appended, then the incremental update, per iteration.
void BM_DisplaySearchIncremental(benchmark::State& state) {
    DisplayModel model;
    model.SetClearLimit(0);
    DisplaySearch search;
    search.SetQuery(DisplaySearchQuery{u"sensor", false});
    for (auto _ : state) {
        state.PauseTiming();
        if (model.TotalUnits() > (size_t{64} << 20)) {
            model.Clear();
            search.Update(model);
        }
        FillText(model, model.TotalUnits() + (size_t{64} << 10));
        state.ResumeTiming();
        search.Update(model);
        benchmark::DoNotOptimize(search.Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (size_t{64} << 10)));
}
BENCHMARK(BM_DisplaySearchIncremental)->Unit(benchmark::kMicrosecond);

}  // namespace
