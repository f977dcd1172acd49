// Loading and saving a settings-sized set of values through the registry store: the whole
// settings record (62 values in three sub-keys) through the schema, 60 plain text values in
// three sections, and the first load of a run, which opens and checks the database.
// Target: under 5 ms for a whole load or save.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/app_config.h"
#include "settings/reg_profile.h"

namespace {

using kem::platform::Registry;
using kem::platform::RegStatus;

constexpr const char16_t* kKey = u"HKCU\\Software\\Quorbel\\KemPemvilo\\bench";
constexpr int kPlainValues = 60;
constexpr const char16_t* kSections[] = {u"Config", u"Config_System", u"Config_CustomEntries"};

class TempDatabase {
public:
    TempDatabase() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kem-regbench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        folder_ = pattern;
        path_ = folder_ + "/registry.sqlite3";
    }
    ~TempDatabase() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const std::string& path() const { return path_; }

    std::shared_ptr<Registry> Open() const {
        std::shared_ptr<Registry> registry;
        if (Registry::OpenAt(path_, {}, &registry) != RegStatus::kOk) {
            throw std::runtime_error("registry not opened");
        }
        return registry;
    }

private:
    std::string folder_;
    std::string path_;
};

std::u16string KeyName(int i) {
    std::u16string name = u"Value";
    for (char c : std::to_string(i)) {
        name.push_back(static_cast<char16_t>(c));
    }
    return name;
}

tagAppConfig SampleRecord() {
    tagAppConfig record = DefaultAppConfig();
    kem::settings::CopyTextBounded(record.ComPortName, 256, u"/dev/ttyUSB0");
    for (int i = 0; i < kCustomEntryCount; ++i) {
        kem::settings::CopyTextBounded(record.CustomEntries.EntriesData[i], kCustomEntryUnits,
                                       u"AT+CMD=\\x0D [CR][LF] 自定义命令");
    }
    return record;
}

int32_t Save(CKemRegProfile& store, const tagAppConfig& record) {
    return store.SaveStruct(kAppConfigSection, &record, kAppConfigSchema, nullptr, u"|", u",", u"{",
                            u"}");
}

int32_t Load(CKemRegProfile& store, tagAppConfig& record) {
    return store.LoadStruct(kAppConfigSection, &record, kAppConfigSchema, nullptr, u"|", u",", u"{",
                            u"}");
}

void BM_RegProfileSaveRecord(benchmark::State& state) {
    TempDatabase database;
    CKemRegProfile store(database.Open());
    store.SetLocation(kKey, 0);
    const auto record = std::make_unique<tagAppConfig>(SampleRecord());
    for (auto _ : state) {
        if (Save(store, *record) != kAppConfigBytes) {
            state.SkipWithError("save failed");
            break;
        }
    }
}
BENCHMARK(BM_RegProfileSaveRecord)->Unit(benchmark::kMillisecond);

void BM_RegProfileLoadRecord(benchmark::State& state) {
    TempDatabase database;
    CKemRegProfile store(database.Open());
    store.SetLocation(kKey, 0);
    const auto saved = std::make_unique<tagAppConfig>(SampleRecord());
    Save(store, *saved);
    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    for (auto _ : state) {
        if (Load(store, *record) != kAppConfigBytes) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(record->ComPortName[0]);
    }
}
BENCHMARK(BM_RegProfileLoadRecord)->Unit(benchmark::kMillisecond);

// The same through the user's registry as the program uses it (the shared connection found
// from KEMPEMVILO_REGISTRY at each call).
void BM_RegProfileUserRegistrySaveLoad(benchmark::State& state) {
    TempDatabase database;
    setenv("KEMPEMVILO_REGISTRY", database.path().c_str(), 1);
    CKemRegProfile store;
    store.SetLocation(kKey, 0);
    const auto saved = std::make_unique<tagAppConfig>(SampleRecord());
    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    for (auto _ : state) {
        if (Save(store, *saved) != kAppConfigBytes || Load(store, *record) != kAppConfigBytes) {
            state.SkipWithError("save or load failed");
            break;
        }
    }
    unsetenv("KEMPEMVILO_REGISTRY");
}
BENCHMARK(BM_RegProfileUserRegistrySaveLoad)->Unit(benchmark::kMillisecond);

void BM_RegProfileWrite60Values(benchmark::State& state) {
    TempDatabase database;
    CKemRegProfile store(database.Open());
    store.SetLocation(kKey, 0);
    for (auto _ : state) {
        for (int i = 0; i < kPlainValues; ++i) {
            if (!store.WriteStringRaw(kSections[i % 3], KeyName(i).c_str(), u"9600,N,8,1",
                                      nullptr)) {
                state.SkipWithError("write failed");
                return;
            }
        }
    }
}
BENCHMARK(BM_RegProfileWrite60Values)->Unit(benchmark::kMillisecond);

void BM_RegProfileRead60Values(benchmark::State& state) {
    TempDatabase database;
    CKemRegProfile store(database.Open());
    store.SetLocation(kKey, 0);
    for (int i = 0; i < kPlainValues; ++i) {
        store.WriteStringRaw(kSections[i % 3], KeyName(i).c_str(), u"9600,N,8,1", nullptr);
    }
    char16_t buffer[256];
    for (auto _ : state) {
        for (int i = 0; i < kPlainValues; ++i) {
            if (store.ReadStringRaw(kSections[i % 3], KeyName(i).c_str(), u"", buffer, 256,
                                    nullptr) != 10) {
                state.SkipWithError("read failed");
                return;
            }
        }
    }
}
BENCHMARK(BM_RegProfileRead60Values)->Unit(benchmark::kMillisecond);

// Start-up: open and check the database file, then load the record.
void BM_RegProfileOpenAndLoad(benchmark::State& state) {
    TempDatabase database;
    {
        CKemRegProfile store(database.Open());
        store.SetLocation(kKey, 0);
        Save(store, *std::make_unique<tagAppConfig>(SampleRecord()));
    }
    auto record = std::make_unique<tagAppConfig>(DefaultAppConfig());
    for (auto _ : state) {
        CKemRegProfile store(database.Open());
        store.SetLocation(kKey, 0);
        if (Load(store, *record) != kAppConfigBytes) {
            state.SkipWithError("load failed");
            break;
        }
    }
}
BENCHMARK(BM_RegProfileOpenAndLoad)->Unit(benchmark::kMillisecond);

}  // namespace
