// Throughput of the send parser on typed text full of bracketed names and "\x" escapes, and on
// escaped binary frames each closed by a checksum name.
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

// About `units` UTF-16 units of Modbus-like frames: escaped bytes, each frame ended by one of
// the checksum names in varying letter case, with control names and plain text between.
std::u16string FramesWithChecksums(size_t units) {
    const char16_t* frames[] = {
        u"\\x01\\x03\\x00\\x0A\\x00\\x02[CRC16]",
        u"\\x02\\x10\\x00\\x01\\x00\\x02\\x04\\x00\\x0A\\x01\\x02[crc16]",
        u"STX[STX]payload=1234[ETX][Crc16Ccitt]",
        u"\\xAA\\x55\\x07\\x01[CRC8]",
        u"AT+DATA=0102030405[sum8][CR][LF]",
        u"\\x7E\\x01\\x02\\x03[XOR8]\\x7E",
        u":010300000001[LRC][CR][LF]",
        u"[ABC] not a name [SUM] nor this",
    };
    std::u16string text;
    size_t frame = 0;
    while (text.size() < units) {
        text += frames[frame % std::size(frames)];
        ++frame;
    }
    return text;
}

void BM_SendParserChecksumFrames(benchmark::State& state) {
    Run(state, FramesWithChecksums(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_SendParserChecksumFrames)->Arg(256)->Arg(1 << 20);

// One long escaped block with a single CRC at the end: the cost of the checksum itself.
void BM_SendParserLongFrameOneCrc(benchmark::State& state) {
    std::u16string text;
    while (text.size() < static_cast<size_t>(state.range(0))) {
        text += u"\\x5A\\x3Cdata";
    }
    text += u"[CRC16]";
    Run(state, text);
}
BENCHMARK(BM_SendParserLongFrameOneCrc)->Arg(1 << 20);

void BM_SendParserManyOpenBrackets(benchmark::State& state) {
    Run(state, std::u16string(static_cast<size_t>(state.range(0)), u'['));
}
BENCHMARK(BM_SendParserManyOpenBrackets)->Arg(1 << 20);

}  // namespace
