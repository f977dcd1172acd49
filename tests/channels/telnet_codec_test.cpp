// The Telnet stream decoder (split anywhere, bounded) and the option negotiator that never
// answers an answer. Encoding and malformed streams are checked byte-exactly on the wire by
// rfc2217_port_test.cpp.
#include "channels/telnet_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace telnet = kem::channels::telnet;
using telnet::Event;

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
    Bytes data;
    std::vector<Event> events;
};

// Feeds `stream` in pieces of `piece` bytes and gathers everything that came out.
Decoded FeedInPieces(telnet::Decoder& decoder, const Bytes& stream, size_t piece) {
    Decoded result;
    for (size_t at = 0; at < stream.size(); at += piece) {
        const size_t count = std::min(piece, stream.size() - at);
        Bytes out(count);
        const size_t made = decoder.Feed(stream.data() + at, count, out.data(), result.events);
        result.data.insert(result.data.end(), out.begin(), out.begin() + made);
    }
    return result;
}

// The events as text, e.g. "will 0 @1, sb 44 [107 48] @3", positions only when asked.
std::string Describe(const std::vector<Event>& events, bool positions = true) {
    static const char* const kNames[] = {"will", "wont", "do", "dont", "sb", "cmd"};
    std::string text;
    for (const Event& event : events) {
        text += (text.empty() ? "" : ", ") + std::string(kNames[static_cast<int>(event.kind)]) +
                " " + std::to_string(event.code);
        if (event.kind == Event::Kind::kSubnegotiation) {
            std::string payload;
            for (uint8_t byte : event.payload) {
                payload += (payload.empty() ? "" : " ") + std::to_string(byte);
            }
            text += " [" + payload + "]";
        }
        text += positions ? " @" + std::to_string(event.data_before) : "";
    }
    return text;
}

}  // namespace

TEST(TelnetDecode, EveryVerbAndCommandIsToldInItsPlace) {
    // The commands of other RFCs at the end: 236 (the lowest), EOR, DM, BRK, GA.
    const Bytes wire = {'a',  0xFF, 0xFB, 0x00, 'b',  'c',  0xFF, 0xFA, 0x2C, 0x6B, 0x30, 0xFF,
                        0xF0, 0xFF, 0xF1, 'd',  0xFF, 0xFC, 2,    0xFF, 0xFD, 3,    0xFF, 0xFE,
                        4,    0xFF, 236,  0xFF, 239,  0xFF, 242,  0xFF, 243,  0xFF, 249};
    telnet::Decoder decoder;
    const Decoded got = FeedInPieces(decoder, wire, wire.size());
    EXPECT_FALSE(decoder.failed());
    EXPECT_EQ(got.data, (Bytes{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(Describe(got.events),
              "will 0 @1, sb 44 [107 48] @3, cmd 241 @3, wont 2 @4, do 3 @4, dont 4 @4, "
              "cmd 236 @4, cmd 239 @4, cmd 242 @4, cmd 243 @4, cmd 249 @4");
}

TEST(TelnetDecode, AllByteValuesAndControlsSplitAnywhereGiveTheSameAsWhole) {
    Bytes all(256);
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<uint8_t>(i);
    }
    Bytes wire;
    telnet::AppendData(all.data(), all.size(), wire);
    ASSERT_EQ(wire.size(), 257u);
    wire.insert(wire.end(), {'x', 0xFF, 0xFF, 'y', 0xFF, 0xFD, 0x2C});
    const Bytes payload = {0x65, 0x00, 0x00, 0xFF, 0xFF};  // IAC in the payload is doubled
    telnet::AppendSubnegotiation(44, payload.data(), payload.size(), wire);
    wire.insert(wire.end(), {'z', 0xFF, 0xF1});
    telnet::Decoder whole_decoder;
    const Decoded whole = FeedInPieces(whole_decoder, wire, wire.size());
    Bytes data = all;
    data.insert(data.end(), {'x', 0xFF, 'y', 'z'});
    EXPECT_EQ(whole.data, data);
    EXPECT_TRUE(whole_decoder.idle());
    EXPECT_EQ(Describe(whole.events, false), "do 44, sb 44 [101 0 0 255 255], cmd 241");
    for (size_t piece : {1, 2, 3}) {
        telnet::Decoder decoder;
        const Decoded split = FeedInPieces(decoder, wire, piece);
        EXPECT_EQ(split.data, whole.data) << "piece " << piece;
        EXPECT_EQ(Describe(split.events, false), Describe(whole.events, false)) << piece;
        EXPECT_FALSE(decoder.failed());
        EXPECT_TRUE(decoder.idle());
    }
    // Half a command is held until the rest comes.
    telnet::Decoder decoder;
    std::vector<Event> events;
    uint8_t out[4] = {};
    const uint8_t first[] = {'a', 0xFF};
    EXPECT_EQ(decoder.Feed(first, 2, out, events), 1u);
    EXPECT_FALSE(decoder.idle());
    const uint8_t second[] = {0xFF};
    EXPECT_EQ(decoder.Feed(second, 1, out, events), 1u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_TRUE(decoder.idle());
    EXPECT_TRUE(events.empty());
}

TEST(TelnetDecode, SubnegotiationAtTheBoundPassesOneMoreFails) {
    const auto frame = [](size_t length) {
        Bytes wire = {0xFF, 0xFA, 0x2C};
        wire.insert(wire.end(), length, 0x41);
        wire.insert(wire.end(), {0xFF, 0xF0, 'a', 'b'});
        return wire;
    };
    const size_t bound = telnet::Decoder::kDefaultMaxSubnegotiation;
    telnet::Decoder fits;
    const Decoded ok = FeedInPieces(fits, frame(bound), 7);
    EXPECT_FALSE(fits.failed());
    ASSERT_EQ(ok.events.size(), 1u);
    EXPECT_EQ(ok.events[0].payload.size(), bound);
    EXPECT_EQ(ok.data, (Bytes{'a', 'b'}));

    telnet::Decoder too_long;
    const Decoded bad = FeedInPieces(too_long, frame(bound + 1), 5);
    EXPECT_TRUE(too_long.failed());
    EXPECT_EQ(too_long.error(), telnet::DecodeError::kSubnegotiationTooLong);
    EXPECT_TRUE(bad.events.empty());
    EXPECT_TRUE(bad.data.empty());  // nothing after the fault
    EXPECT_EQ(telnet::DecodeErrorText(too_long.error()), u"子协商过长");

    // A doubled IAC counts once towards the bound.
    telnet::Decoder small(4);
    const Bytes doubled = {0xFF, 0xFA, 0x2C, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 0xFF, 0xF0};
    EXPECT_EQ(Describe(FeedInPieces(small, doubled, 1).events), "sb 44 [255 255 1 2] @0");
    EXPECT_FALSE(small.failed());
}

TEST(TelnetDecode, CommandsWithoutDataAreBounded) {
    telnet::Decoder decoder(16, 10);
    Bytes nops;
    for (int i = 0; i < 10; ++i) {
        nops.insert(nops.end(), {0xFF, 0xF1});
    }
    FeedInPieces(decoder, nops, nops.size());
    EXPECT_FALSE(decoder.failed());
    // A data byte starts the count afresh; so does ResetControlRun.
    FeedInPieces(decoder, Bytes{'d'}, 1);
    FeedInPieces(decoder, nops, nops.size());
    EXPECT_FALSE(decoder.failed());
    decoder.ResetControlRun();
    FeedInPieces(decoder, nops, nops.size());
    EXPECT_FALSE(decoder.failed());
    FeedInPieces(decoder, Bytes{0xFF, 0xFB, 0x05}, 3);
    EXPECT_TRUE(decoder.failed());
    EXPECT_EQ(decoder.error(), telnet::DecodeError::kControlFlood);
}

TEST(TelnetNegotiate, UnknownOffersAreRefusedOnceAllowedOnesAcceptedOnce) {
    telnet::Negotiator negotiator;
    negotiator.Allow(0, true, true);
    Bytes out;
    negotiator.Receive(Event::Kind::kWill, 1, out);
    negotiator.Receive(Event::Kind::kDo, 3, out);
    negotiator.Receive(Event::Kind::kWill, 0, out);
    negotiator.Receive(Event::Kind::kDo, 0, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::kDont, 1, 0xFF, telnet::kWont, 3, 0xFF, telnet::kDo, 0,
                          0xFF, telnet::kWill, 0}));
    EXPECT_TRUE(negotiator.RemoteEnabled(0));
    EXPECT_TRUE(negotiator.LocalEnabled(0));
    // Acknowledgements of the refusals and repeated offers are answers and get none.
    out.clear();
    negotiator.Receive(Event::Kind::kWont, 1, out);
    negotiator.Receive(Event::Kind::kDont, 3, out);
    negotiator.Receive(Event::Kind::kWill, 0, out);
    negotiator.Receive(Event::Kind::kDo, 0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(negotiator.RemoteEnabled(1));
    EXPECT_FALSE(negotiator.LocalEnabled(3));
    // Switched off by the peer: acknowledged once, then quiet.
    negotiator.Receive(Event::Kind::kWont, 0, out);
    negotiator.Receive(Event::Kind::kWont, 0, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::kDont, 0}));
    EXPECT_FALSE(negotiator.RemoteEnabled(0));
}

TEST(TelnetNegotiate, AnswersToOurRequestsAreNotAnsweredAndRefusalsRemembered) {
    telnet::Negotiator negotiator;
    negotiator.Allow(44, true, false);
    negotiator.Allow(0, true, true);
    Bytes out;
    negotiator.RequestLocal(44, out);
    negotiator.RequestLocal(0, out);
    negotiator.RequestRemote(0, out);
    negotiator.RequestLocal(44, out);  // asked already: not sent again
    EXPECT_EQ(out, (Bytes{0xFF, telnet::kWill, 44, 0xFF, telnet::kWill, 0, 0xFF, telnet::kDo, 0}));
    out.clear();
    negotiator.Receive(Event::Kind::kDont, 44, out);
    negotiator.Receive(Event::Kind::kDo, 0, out);
    negotiator.Receive(Event::Kind::kWill, 0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(negotiator.LocalRefused(44));
    EXPECT_FALSE(negotiator.LocalEnabled(44));
    EXPECT_TRUE(negotiator.LocalEnabled(0));
    EXPECT_TRUE(negotiator.RemoteEnabled(0));
    // A later offer of the refused option is still welcome.
    negotiator.Receive(Event::Kind::kDo, 44, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::kWill, 44}));
    EXPECT_TRUE(negotiator.LocalEnabled(44));
}

TEST(TelnetNegotiate, PeerOfferingForeverNeverMakesALoop) {
    // Two negotiators talk to each other: every reply is fed back until both fall silent.
    telnet::Negotiator a;
    telnet::Negotiator b;
    a.Allow(0, true, true);
    Bytes to_b;
    Bytes to_a;
    a.RequestLocal(0, to_b);
    a.RequestRemote(0, to_b);
    a.RequestRemote(5, to_b);  // b does not allow 5
    int rounds = 0;
    for (; (!to_a.empty() || !to_b.empty()) && rounds < 10; ++rounds) {
        for (auto [from, to, receiver] :
             {std::tuple(&to_b, &to_a, &b), std::tuple(&to_a, &to_b, &a)}) {
            telnet::Decoder decoder;
            std::vector<Event> events;
            Bytes data(from->size());
            decoder.Feed(from->data(), from->size(), data.data(), events);
            from->clear();
            for (const Event& event : events) {
                receiver->Receive(event.kind, event.code, *to);
            }
        }
    }
    EXPECT_LT(rounds, 4);
    EXPECT_FALSE(a.LocalEnabled(0));  // b allows nothing
    EXPECT_TRUE(a.RemoteRefused(5));
}
