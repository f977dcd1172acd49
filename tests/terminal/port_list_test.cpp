// The port list: registry values deduplicated, the pseudo ports added, a pseudo-terminal offered.
#include "terminal/port_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "channels/pty_pair.h"
#include "platform/code_page.h"
#include "platform/registry.h"
#include "support/scratch_files.h"

namespace {

using kem::platform::RegKey;

std::u16string Wide(const std::string& text) {
    return kem::platform::Utf8ToWide(text);
}

TEST(BuildPortListTest, DedupesExactlyKeepsOrderAndAddsPseudoPorts) {
    // Registry order kept, exact repeats and empty values dropped, case kept apart.
    const std::vector<std::u16string> rows[][2] = {
        {{}, {u"TCP/IP", u"SERVER"}},
        {{u"COM3", u"COM1"}, {u"COM3", u"COM1", u"TCP/IP", u"SERVER"}},
        {{u"COM1", u"COM10", u"COM1"}, {u"COM1", u"COM10", u"TCP/IP", u"SERVER"}},
        {{u"/dev/ttyS0", u"/dev/TTYS0"}, {u"/dev/ttyS0", u"/dev/TTYS0", u"TCP/IP", u"SERVER"}},
        {{u"", u"COM2"}, {u"COM2", u"TCP/IP", u"SERVER"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(BuildPortList(row[0]), row[1]);
    }
}

TEST(SerialCommPortsTest, ClosedKeyGivesEmptyList) {
    RegKey closed;
    EXPECT_TRUE(SerialCommPortsOf(closed).empty());
}

// A pseudo-terminal offered as an extra serial device shows up in the key's list by its path,
// after the devices the system has; nothing is opened.
TEST(SerialCommPortsTest, ReadsAPseudoTerminalThroughTheRegistryView) {
    kem::testing::TempFolder folder;
    setenv("KEMPEMVILO_REGISTRY", folder.File("registry.sqlite3").c_str(), 1);
    kem::testing::PtyPair pty;
    setenv("KEMPEMVILO_SERIAL_EXTRA", pty.path().c_str(), 1);
    const std::vector<std::u16string> ports = ReadSerialCommPorts();
    unsetenv("KEMPEMVILO_SERIAL_EXTRA");
    unsetenv("KEMPEMVILO_REGISTRY");
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(ports.back(), Wide(pty.path()));
    const std::vector<std::u16string> list = BuildPortList(ports);
    ASSERT_GE(list.size(), 3u);
    EXPECT_EQ(std::vector(list.end() - 3, list.end()),
              std::vector<std::u16string>({Wide(pty.path()), u"TCP/IP", u"SERVER"}));
}

}  // namespace
