// The configuration-file reader on arbitrary bytes. Properties checked:
// - parsing never faults and yields lines without line feeds or NULs;
// - the lines written out as a file and read again are the same lines (also scrambled);
// - the text store loads the bytes from a file, answers reads with bounded, terminated texts,
//   takes writes, and its content still survives the write-read round trip.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"
#include "settings/private_profile.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// One file per fuzzing process, rewritten for every input and removed at exit.
struct FuzzFile {
    FuzzFile() : path("/tmp/kem-config-fuzz-" + std::to_string(getpid()) + ".pvto") {}
    ~FuzzFile() { std::remove(path.c_str()); }
    std::string path;
};

const std::string& FilePath() {
    static const FuzzFile file;
    return file.path;
}

void CheckRoundTrip(const std::vector<std::u16string>& lines, uint8_t key) {
    for (bool scramble : {false, true}) {
        const std::string bytes = kem::settings::EncodeConfigurationLines(lines, scramble, key);
        uint8_t read_key = 0;
        const auto again = kem::settings::ParseConfigurationBytes(bytes, &read_key);
        Check(again == lines);
        Check(!scramble || lines.empty() || read_key == key);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    uint8_t key = 0;
    const std::vector<std::u16string> lines = kem::settings::ParseConfigurationBytes(bytes, &key);
    for (const std::u16string& line : lines) {
        Check(line.find(u'\n') == std::u16string::npos);
        Check(line.find(u'\0') == std::u16string::npos);
    }
    CheckRoundTrip(lines, static_cast<uint8_t>(size));

    {
        std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    CKemPrivateProfile store;
    store.SetLocation(kem::platform::Utf8ToWide(FilePath()).c_str(), 0);
    Check(store.Load() == 1);
    Check(store.lines() == lines);

    // Sections and keys named by the file itself, read through small buffers.
    char16_t small[5];
    std::vector<char16_t> section_list(64);
    for (size_t i = 0; i < lines.size() && i < 16; ++i) {
        const std::u16string& line = lines[i];
        const size_t equals = line.find(u'=');
        const std::u16string name = line.size() >= 2 ? line.substr(1, line.size() - 2) : line;
        const std::u16string key = line.substr(0, equals == std::u16string::npos ? 0 : equals);
        for (int32_t capacity = 1; capacity <= 5; ++capacity) {
            const int32_t n =
                store.ReadStringRaw(name.c_str(), key.c_str(), u"dflt", small, capacity, nullptr);
            Check(n >= 0 && n < capacity && small[n] == u'\0');
        }
        const int32_t n = store.ReadSection(name.c_str(), section_list.data(),
                                            static_cast<int32_t>(section_list.size()), nullptr);
        Check(n >= 0 && n < static_cast<int32_t>(section_list.size()));
        store.FindKeyOfValue(name.c_str(), line.c_str(), nullptr, small, 5, nullptr);
        store.WriteStringRaw(name.c_str(), key.c_str(), line.c_str(), nullptr);
        store.HasSection(name.c_str());
    }
    store.WriteStringRaw(u"Fuzz", u"k", u"v", nullptr);
    store.WriteSection(u"FuzzSection", u"a=1\0b=2\0", nullptr);
    CheckRoundTrip(store.lines(), key);
    // The changes are not saved: the store would write the file on every input.
    store.SetModified(0);
    return 0;
}
