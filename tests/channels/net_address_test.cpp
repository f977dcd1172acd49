// Host texts of the TCP connection: dotted quads, the "http:" prefix, names and their limits.
#include "channels/net_address.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/socket.h"

namespace {

using kem::channels::DottedQuad;
using kem::channels::FormatIpv4;
using kem::channels::ParseDottedQuad;
using kem::channels::ResolveHostText;
using kem::channels::SkipHttpPrefix;

std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

TEST(NetAddress, DottedQuadFillsBytesInNetworkOrder) {
    uint32_t address = 0;
    ASSERT_EQ(ParseDottedQuad(u"127.0.0.1", address), DottedQuad::kAddress);
    EXPECT_EQ(address, kem::platform::LoopbackAddress());
    ASSERT_EQ(ParseDottedQuad(u"192.168.1.254", address), DottedQuad::kAddress);
    EXPECT_STREQ(FormatIpv4(address).c_str(), "192.168.1.254");
    ASSERT_EQ(ParseDottedQuad(u"010.001.000.255", address), DottedQuad::kAddress);
    EXPECT_STREQ(FormatIpv4(address).c_str(), "10.1.0.255");
}

TEST(NetAddress, DottedQuadShapes) {
    struct Row {
        const char16_t* text;
        DottedQuad expected;
    };
    const Row rows[] = {
        {u"1.2.3.4", DottedQuad::kAddress},
        {u"255.255.255.255", DottedQuad::kAddress},
        {u"0.0.0.0", DottedQuad::kNotLiteral},  // names no peer: left to the resolver
        {u"localhost", DottedQuad::kNotLiteral},
        {u"1.2.3.4a", DottedQuad::kNotLiteral},
        {u"host-1.example", DottedQuad::kNotLiteral},
        {u" 1.2.3.4", DottedQuad::kNotLiteral},
        {u"1.2.3.256", DottedQuad::kInvalid},  // never wrapped to 1.2.3.0
        {u"300.1.1.1", DottedQuad::kInvalid},
        {u"1.2.3", DottedQuad::kInvalid},
        {u"1.2.3.4.5", DottedQuad::kInvalid},
        {u"1..3.4", DottedQuad::kInvalid},
        {u"1.2.3.", DottedQuad::kInvalid},
        {u".1.2.3", DottedQuad::kInvalid},
        {u"1.2.3.0004", DottedQuad::kInvalid},
        {u"1234", DottedQuad::kInvalid},
        {u"", DottedQuad::kInvalid},
    };
    for (const Row& row : rows) {
        uint32_t address = 0;
        EXPECT_EQ(ParseDottedQuad(row.text, address), row.expected) << Narrow(row.text);
    }
}

TEST(NetAddress, HttpPrefixAndItsSlashesAreSkipped) {
    EXPECT_EQ(SkipHttpPrefix(u"http://host"), u"host");
    EXPECT_EQ(SkipHttpPrefix(u"HTTP:\\\\host"), u"host");
    EXPECT_EQ(SkipHttpPrefix(u"hTtP:/\\/host/x"), u"host/x");
    EXPECT_EQ(SkipHttpPrefix(u"http:host"), u"host");
    EXPECT_EQ(SkipHttpPrefix(u"http:"), u"http:");  // not longer than the prefix
    EXPECT_EQ(SkipHttpPrefix(u"http://"), u"");
    EXPECT_EQ(SkipHttpPrefix(u"https://host"), u"https://host");
    EXPECT_EQ(SkipHttpPrefix(u"host"), u"host");
}

TEST(NetAddress, ResolvesQuadsPrefixedTextsAndNames) {
    for (const char16_t* text : {u"127.0.0.1", u"localhost", u"http://localhost",
                                 u"http://127.0.0.1", u"HTTP:\\\\localhost"}) {
        uint32_t address = 0;
        EXPECT_TRUE(ResolveHostText(text, address)) << Narrow(text);
        EXPECT_EQ(address, kem::platform::LoopbackAddress()) << Narrow(text);
    }
}

TEST(NetAddress, RefusesWhatCannotBeResolvedOrIsTooLong) {
    const std::u16string label(60, u'a');
    const std::u16string longest = label + u"." + std::u16string(58, u'b') + u".invalid";
    const std::u16string too_long = label + u"." + std::u16string(59, u'b') + u".invalid";
    ASSERT_EQ(longest.size(), 127u);
    for (const std::u16string& text :
         {std::u16string(u"no-such-host.invalid"), std::u16string(u""), std::u16string(u"http://"),
          std::u16string(u"http://1.2.3.999"), std::u16string(u"1.2.3.999"), too_long}) {
        uint32_t address = 123;
        EXPECT_FALSE(ResolveHostText(text.c_str(), address)) << Narrow(text);
        EXPECT_EQ(address, 0u);
    }
    uint32_t address = 0;
    EXPECT_FALSE(ResolveHostText(nullptr, address));
    // A name of exactly 127 bytes is handed to the resolver (which does not know it).
    EXPECT_EQ(kem::channels::kHostNameMaxBytes, 127u);
    EXPECT_FALSE(ResolveHostText(longest.c_str(), address));
}

TEST(NetAddress, PortRange) {
    EXPECT_FALSE(kem::channels::IsConnectPort(0));
    EXPECT_TRUE(kem::channels::IsConnectPort(1));
    EXPECT_TRUE(kem::channels::IsConnectPort(65535));
    EXPECT_FALSE(kem::channels::IsConnectPort(65536));
    EXPECT_FALSE(kem::channels::IsConnectPort(-1));
}

}  // namespace
