// Throughput of the send parser on typed text full of bracketed names and "\x" escapes.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/code_page.h"
#include "terminal/send_parser.h"

namespace {

// About `units` UTF-16 units of typical device commands: text, names, escapes and brackets
// that are not names; every `chinese_every`-th piece is Chinese text (0: none).
std::u16string TypedText(size_t units, int chinese_every) {
    const char16_t* pieces[] = {u"AT+CMD=1,2,3", u"[CR][LF]", u"\\x41\\x0D", u"[ABC]",
                                u"status?",      u"[esc]",    u"\\\\x",      u"\\xG1 [",
                                u"value=42;",    u"[SP]"};
    std::u16string text;
    size_t piece = 0;
    while (text.size() < units) {
        if (chinese_every > 0 && piece % chinese_every == 0) {
            text += u"中文数据";
        }
        text += pieces[piece % std::size(pieces)];
        ++piece;
    }
    return text;
}

void Run(benchmark::State& state, const std::u16string& text) {
    SendOptions options;
    options.parse_char_name = true;
    options.parse_hex = true;
    options.auto_send_enter = true;
    options.send_0d0a = true;
    const size_t typed_bytes = kem::platform::WideToAnsi(text).size();
    for (auto _ : state) {
        std::string bytes = ParseSendText(text, options);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(typed_bytes));
}

void BM_SendParserAsciiNamesEscapes(benchmark::State& state) {
    Run(state, TypedText(static_cast<size_t>(state.range(0)), 0));
}
BENCHMARK(BM_SendParserAsciiNamesEscapes)->Arg(256)->Arg(1 << 20);

void BM_SendParserWithChinese(benchmark::State& state) {
    Run(state, TypedText(static_cast<size_t>(state.range(0)), 5));
}
BENCHMARK(BM_SendParserWithChinese)->Arg(256)->Arg(1 << 20);

void BM_SendParserManyOpenBrackets(benchmark::State& state) {
    Run(state, std::u16string(static_cast<size_t>(state.range(0)), u'['));
}
BENCHMARK(BM_SendParserManyOpenBrackets)->Arg(1 << 20);

}  // namespace
