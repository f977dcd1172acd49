// The display's model under a flood: appending rendered runs and handing them to the widget.
// Target: well above the widget's own speed (at least 100 MB/s for 64-byte lines), so the
// model never is what limits the display. Also the cost of the save exports per MB.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "terminal/display_model.h"

namespace {

// Runs of about 4 KiB: 62 printable characters and CR LF per line, or one endless line.
RunList Piece(bool with_breaks) {
    std::u16string text;
    size_t column = 0;
    while (text.size() < 4096) {
        if (with_breaks && column == 62) {
            text += u"\r\n";
            column = 0;
        } else {
            text.push_back(static_cast<char16_t>(u'!' + (text.size() * 7) % 90));
            ++column;
        }
    }
    RunList runs;
    runs.Append(text, DisplayStyle::kReceivedNormal);
    runs.Append(u"[NUL]", DisplayStyle::kReceivedControl);
    return runs;
}

size_t PieceUnits(const RunList& runs) {
    size_t units = 0;
    for (const StyledRun& run : runs.runs()) {
        units += run.text.size();
    }
    return units;
}

// Append one piece and sync a widget-sized batch, as the display does per arrival.
void AppendAndTake(benchmark::State& state, bool with_breaks) {
    const RunList runs = Piece(with_breaks);
    DisplayModel model;
    model.SetClearLimit(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        model.Append(runs);
        DisplayChanges changes = model.TakeChanges(SIZE_MAX);
        benchmark::DoNotOptimize(changes.units);
        if (model.ShownUnits() > (size_t{64} << 20)) {
            state.PauseTiming();
            model.Clear();
            state.ResumeTiming();
        }
    }
    // One unit per received byte of ASCII text.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * PieceUnits(runs)));
}

void BM_DisplayModelLines(benchmark::State& state) {
    AppendAndTake(state, true);
}
void BM_DisplayModelEndlessLine(benchmark::State& state) {
    AppendAndTake(state, false);
}
BENCHMARK(BM_DisplayModelLines)->Arg(0)->Arg(65536)->Arg(1 << 20);
BENCHMARK(BM_DisplayModelEndlessLine)->Arg(0)->Arg(65536);

// The whole display saved: 1 MiB of lines with some Chinese text.
DisplayModel FilledModel() {
    DisplayModel model;
    model.SetClearLimit(0);
    RunList runs = Piece(true);
    runs.Append(u"数据接收\r\n", DisplayStyle::kSentNormal);
    while (model.ShownUnits() < (size_t{1} << 20)) {
        model.Append(runs);
    }
    return model;
}

void BM_DisplayModelPlainTextExport(benchmark::State& state) {
    const DisplayModel model = FilledModel();
    for (auto _ : state) {
        std::string text = model.PlainTextAnsi();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * model.ShownUnits()));
}
BENCHMARK(BM_DisplayModelPlainTextExport)->Unit(benchmark::kMillisecond);

void BM_DisplayModelRtfExport(benchmark::State& state) {
    const DisplayModel model = FilledModel();
    const DisplayStyleTable styles = StartupDisplayStyles();
    for (auto _ : state) {
        std::string rtf = model.Rtf(styles);
        benchmark::DoNotOptimize(rtf.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * model.ShownUnits()));
}
BENCHMARK(BM_DisplayModelRtfExport)->Unit(benchmark::kMillisecond);

}  // namespace
