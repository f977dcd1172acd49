// Host texts of the TCP connection: dotted quads, the "http:" prefix, names and their limits.
#include "channels/net_address.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/socket.h"

namespace {

using kem::channels::DottedQuad;
using kem::channels::ParseDottedQuad;
using kem::channels::ResolveHostText;

std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

TEST(NetAddress, DottedQuadShapesAndNetworkOrder) {
    uint32_t address = 0;
    ASSERT_EQ(ParseDottedQuad(u"127.0.0.1", address), DottedQuad::kAddress);
    EXPECT_EQ(address, kem::platform::LoopbackAddress());
    ASSERT_EQ(ParseDottedQuad(u"010.001.000.255", address), DottedQuad::kAddress);
    EXPECT_STREQ(kem::channels::FormatIpv4(address).c_str(), "10.1.0.255");
    ASSERT_EQ(ParseDottedQuad(u"192.168.1.254", address), DottedQuad::kAddress);
    EXPECT_STREQ(kem::channels::FormatIpv4(address).c_str(), "192.168.1.254");
    // 0.0.0.0 names no peer and goes to the resolver; 1.2.3.256 is never wrapped to 1.2.3.0.
    const std::pair<DottedQuad, std::vector<const char16_t*>> groups[] = {
        {DottedQuad::kAddress, {u"1.2.3.4", u"255.255.255.255"}},
        {DottedQuad::kNotLiteral,
         {u"0.0.0.0", u"localhost", u"1.2.3.4a", u"host-1.example", u" 1.2.3.4"}},
        {DottedQuad::kInvalid,
         {u"1.2.3.256", u"300.1.1.1", u"1.2.3", u"1.2.3.4.5", u"1..3.4", u"1.2.3.", u".1.2.3",
          u"1.2.3.0004", u"1234", u""}}};
    for (const auto& [expected, texts] : groups) {
        for (const char16_t* text : texts) {
            EXPECT_EQ(ParseDottedQuad(text, address), expected) << Narrow(text);
        }
    }
}

TEST(NetAddress, HttpPrefixAndItsSlashesAreSkipped) {
    // "http:" alone is not longer than the prefix and stays.
    const char16_t* const rows[] = {
        u"http://host",  u"host",         u"HTTP:\\\\host", u"host",  u"hTtP:/\\/host/x", u"host/x",
        u"http:host",    u"host",         u"http:",         u"http:", u"http://",         u"",
        u"https://host", u"https://host", u"host",          u"host"};  // text, then what is left
    for (size_t i = 0; i < std::size(rows); i += 2) {
        EXPECT_EQ(kem::channels::SkipHttpPrefix(rows[i]), rows[i + 1]) << Narrow(rows[i]);
    }
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
    // 127 bytes is the longest name handed to the resolver (which does not know it).
    const std::u16string longest = label + u"." + std::u16string(58, u'b') + u".invalid";
    const std::u16string too_long = label + u"." + std::u16string(59, u'b') + u".invalid";
    ASSERT_EQ(longest.size(), 127u);
    for (const std::u16string& text :
         {std::u16string(u"no-such-host.invalid"), std::u16string(u""), std::u16string(u"http://"),
          std::u16string(u"http://1.2.3.999"), std::u16string(u"1.2.3.999"), too_long, longest}) {
        uint32_t address = 123;
        EXPECT_FALSE(ResolveHostText(text.c_str(), address)) << Narrow(text);
        EXPECT_EQ(address, 0u);
    }
    uint32_t address = 0;
    EXPECT_FALSE(ResolveHostText(nullptr, address));
}

TEST(NetAddress, PortRange) {
    for (int32_t port : {0, 1, 65535, 65536, -1}) {
        EXPECT_EQ(kem::channels::IsConnectPort(port), port == 1 || port == 65535) << port;
    }
}

}  // namespace
