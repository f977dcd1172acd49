// Loading and saving through the text-file store: the whole settings record through the
// schema (a settings-sized file), the same file read as raw lines, and a 1 MiB configuration
// file in UTF-8, UTF-16 and the ANSI code page. Targets: a settings-sized load or save under
// 5 ms, a 1 MiB load under 50 ms. Saves include flushing the file and its folder to disk.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/code_page.h"
#include "settings/app_config.h"
#include "settings/private_profile.h"

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kem-profile-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        folder_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::u16string File(const std::string& name) const {
        return kem::platform::Utf8ToWide(folder_ + "/" + name);
    }

private:
    std::string folder_;
};

// The defaults with every custom entry and the input box filled with Chinese text, as a
// user's record would look.
tagAppConfig FilledRecord() {
    tagAppConfig record = DefaultAppConfig();
    const std::u16string entry = u"发送命令 AT+CGMI[CR][LF] 查询模块厂商信息，然后等待回应";
    for (auto& data : record.CustomEntries.EntriesData) {
        entry.copy(data, entry.size());
        data[entry.size()] = u'\0';
    }
    entry.copy(record.InputBoxData, entry.size());
    record.InputBoxData[entry.size()] = u'\0';
    return record;
}

void WriteBytes(const std::u16string& path, const std::string& bytes) {
    std::ofstream out(kem::platform::WideToUtf8(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

// More than 1 MiB of configuration text in every encoding: sections of key=value lines with mixed
// Chinese and ASCII.
std::u16string BigText() {
    std::u16string text;
    int section = 0;
    while (text.size() < 900000) {
        text += u"[Section" + kem::platform::Utf8ToWide(std::to_string(section++)) + u"]\r\n";
        for (int i = 0; i < 40; ++i) {
            text += u"Key" + kem::platform::Utf8ToWide(std::to_string(i)) +
                    u"=串口参数 9600,N,8,1 打开失败后重试 value\r\n";
        }
    }
    return text;
}

void BM_PrivateProfileLoadRecord(benchmark::State& state) {
    TempFolder folder;
    const std::u16string path = folder.File("settings.pvto");
    {
        const tagAppConfig record = FilledRecord();
        CKemPrivateProfile store;
        store.SaveStruct(kAppConfigSection, &record, kAppConfigSchema, path.c_str(), u"|", u",",
                         u"{", u"}");
        if (store.Close() == 0) {
            state.SkipWithError("could not write the settings file");
            return;
        }
    }
    tagAppConfig record = DefaultAppConfig();
    for (auto _ : state) {
        CKemPrivateProfile store;
        const int32_t bytes = store.LoadStruct(kAppConfigSection, &record, kAppConfigSchema,
                                               path.c_str(), u"|", u",", u"{", u"}");
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["file_bytes"] =
        static_cast<double>(std::filesystem::file_size(kem::platform::WideToUtf8(path)));
}
BENCHMARK(BM_PrivateProfileLoadRecord)->Unit(benchmark::kMillisecond);

void BM_PrivateProfileSaveRecord(benchmark::State& state) {
    TempFolder folder;
    const std::u16string path = folder.File("settings.pvto");
    const tagAppConfig record = FilledRecord();
    for (auto _ : state) {
        CKemPrivateProfile store;
        store.SaveStruct(kAppConfigSection, &record, kAppConfigSchema, path.c_str(), u"|", u",",
                         u"{", u"}");
        if (store.Close() == 0) {
            state.SkipWithError("save failed");
            break;
        }
    }
}
BENCHMARK(BM_PrivateProfileSaveRecord)->Unit(benchmark::kMillisecond);

// Encodings of the big file: 0 UTF-8 with mark, 1 UTF-16 little-endian, 2 ANSI.
void BM_PrivateProfileLoad1MiB(benchmark::State& state) {
    TempFolder folder;
    const std::u16string path = folder.File("big.pvto");
    const std::u16string text = BigText();
    std::string bytes;
    switch (state.range(0)) {
        case 0:
            bytes = "\xEF\xBB\xBF" + kem::platform::WideToUtf8(text);
            break;
        case 1:
            bytes = "\xFF\xFE";
            for (char16_t c : text) {
                bytes.push_back(static_cast<char>(c & 0xFF));
                bytes.push_back(static_cast<char>(c >> 8));
            }
            break;
        default:
            bytes = kem::platform::WideToAnsi(text);
            break;
    }
    bytes.resize(1 << 20);
    WriteBytes(path, bytes);
    size_t lines = 0;
    for (auto _ : state) {
        CKemPrivateProfile store;
        store.SetLocation(path.c_str(), 0);
        if (store.Load() == 0) {
            state.SkipWithError("load failed");
            break;
        }
        lines = store.lines().size();
    }
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
    state.counters["lines"] = static_cast<double>(lines);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_PrivateProfileLoad1MiB)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_PrivateProfileSave1MiB(benchmark::State& state) {
    TempFolder folder;
    const std::u16string source = folder.File("source.pvto");
    WriteBytes(source,
               "\xEF\xBB\xBF" + kem::platform::WideToUtf8(BigText()).substr(0, (1 << 20) - 3));
    CKemPrivateProfile store;
    store.SetLocation(folder.File("big.pvto").c_str(), 0);
    if (store.ImportFile(source.c_str()) == 0) {
        state.SkipWithError("import failed");
        return;
    }
    for (auto _ : state) {
        if (store.Save() == 0) {
            state.SkipWithError("save failed");
            break;
        }
    }
}
BENCHMARK(BM_PrivateProfileSave1MiB)->Unit(benchmark::kMillisecond);

}  // namespace
