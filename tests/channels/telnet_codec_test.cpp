#include "channels/telnet_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
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

Bytes AllByteValues() {
    Bytes bytes(256);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    return bytes;
}

}  // namespace

TEST(TelnetEncode, DataDoublesEveryIac) {
    const Bytes data = {0x41, 0xFF, 0x00, 0xFF, 0xFF, 0x42};
    Bytes out;
    telnet::AppendData(data.data(), data.size(), out);
    EXPECT_EQ(out, (Bytes{0x41, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x42}));
}

TEST(TelnetEncode, NegotiationAndSubnegotiationFrames) {
    Bytes out;
    telnet::AppendNegotiation(telnet::kWill, 44, out);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFB, 0x2C}));
    out.clear();
    const Bytes payload = {0x01, 0x00, 0x00, 0x01, 0xFF};  // a baud rate with 0xFF in it
    telnet::AppendSubnegotiation(44, payload.data(), payload.size(), out);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xF0}));
}

TEST(TelnetDecode, AllByteValuesSurviveEncodingAndDecoding) {
    const Bytes original = AllByteValues();
    Bytes wire;
    telnet::AppendData(original.data(), original.size(), wire);
    ASSERT_EQ(wire.size(), 257u);
    telnet::Decoder decoder;
    const Decoded whole = FeedInPieces(decoder, wire, wire.size());
    EXPECT_EQ(whole.data, original);
    EXPECT_TRUE(whole.events.empty());
    EXPECT_FALSE(decoder.failed());
    EXPECT_TRUE(decoder.idle());
}

TEST(TelnetDecode, EventsKeepTheirPlaceInTheStream) {
    const Bytes wire = {'a',  0xFF, 0xFB, 0x00, 'b',  'c',  0xFF, 0xFA,
                        0x2C, 0x6B, 0x30, 0xFF, 0xF0, 0xFF, 0xF1, 'd'};
    telnet::Decoder decoder;
    const Decoded got = FeedInPieces(decoder, wire, wire.size());
    EXPECT_EQ(got.data, (Bytes{'a', 'b', 'c', 'd'}));
    ASSERT_EQ(got.events.size(), 3u);
    EXPECT_EQ(got.events[0].kind, Event::Kind::kWill);
    EXPECT_EQ(got.events[0].code, 0);
    EXPECT_EQ(got.events[0].data_before, 1u);
    EXPECT_EQ(got.events[1].kind, Event::Kind::kSubnegotiation);
    EXPECT_EQ(got.events[1].code, 44);
    EXPECT_EQ(got.events[1].payload, (Bytes{0x6B, 0x30}));
    EXPECT_EQ(got.events[1].data_before, 3u);
    EXPECT_EQ(got.events[2].kind, Event::Kind::kCommand);
    EXPECT_EQ(got.events[2].code, telnet::kNop);
}

TEST(TelnetDecode, AllFourVerbsAreTold) {
    const Bytes wire = {0xFF, 0xFB, 1, 0xFF, 0xFC, 2, 0xFF, 0xFD, 3, 0xFF, 0xFE, 4};
    telnet::Decoder decoder;
    const Decoded got = FeedInPieces(decoder, wire, wire.size());
    ASSERT_EQ(got.events.size(), 4u);
    EXPECT_EQ(got.events[0].kind, Event::Kind::kWill);
    EXPECT_EQ(got.events[1].kind, Event::Kind::kWont);
    EXPECT_EQ(got.events[2].kind, Event::Kind::kDo);
    EXPECT_EQ(got.events[3].kind, Event::Kind::kDont);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(got.events[static_cast<size_t>(i)].code, i + 1);
    }
}

TEST(TelnetDecode, ByteByByteGivesTheSameAsWhole) {
    Bytes wire = {'x', 0xFF, 0xFF, 'y', 0xFF, 0xFD, 0x2C};
    const Bytes payload = {0x65, 0x00, 0x00, 0xFF, 0xFF};  // IAC in the payload is doubled
    telnet::AppendSubnegotiation(44, payload.data(), payload.size(), wire);
    wire.insert(wire.end(), {'z', 0xFF, 0xF1});
    telnet::Decoder whole_decoder;
    const Decoded whole = FeedInPieces(whole_decoder, wire, wire.size());
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}}) {
        telnet::Decoder decoder;
        const Decoded split = FeedInPieces(decoder, wire, piece);
        EXPECT_EQ(split.data, whole.data) << "piece " << piece;
        ASSERT_EQ(split.events.size(), whole.events.size()) << "piece " << piece;
        for (size_t i = 0; i < whole.events.size(); ++i) {
            EXPECT_EQ(split.events[i].kind, whole.events[i].kind);
            EXPECT_EQ(split.events[i].code, whole.events[i].code);
            EXPECT_EQ(split.events[i].payload, whole.events[i].payload);
        }
        EXPECT_FALSE(decoder.failed());
    }
    EXPECT_EQ(whole.data, (Bytes{'x', 0xFF, 'y', 'z'}));
    ASSERT_EQ(whole.events.size(), 3u);
    EXPECT_EQ(whole.events[1].payload, payload);
}

TEST(TelnetDecode, HalfACommandIsHeldUntilTheRestComes) {
    telnet::Decoder decoder;
    std::vector<Event> events;
    uint8_t out[4] = {};
    const uint8_t first[] = {'a', 0xFF};
    EXPECT_EQ(decoder.Feed(first, 2, out, events), 1u);
    EXPECT_FALSE(decoder.idle());
    EXPECT_TRUE(events.empty());
    const uint8_t second[] = {0xFF};
    EXPECT_EQ(decoder.Feed(second, 1, out, events), 1u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_TRUE(decoder.idle());
}

TEST(TelnetDecode, SubnegotiationAtTheBoundPassesOneMoreFails) {
    const auto frame = [](size_t length) {
        Bytes wire = {0xFF, 0xFA, 0x2C};
        wire.insert(wire.end(), length, 0x41);
        wire.insert(wire.end(), {0xFF, 0xF0});
        return wire;
    };
    telnet::Decoder fits;
    const Decoded ok = FeedInPieces(fits, frame(telnet::Decoder::kDefaultMaxSubnegotiation), 7);
    EXPECT_FALSE(fits.failed());
    ASSERT_EQ(ok.events.size(), 1u);
    EXPECT_EQ(ok.events[0].payload.size(), telnet::Decoder::kDefaultMaxSubnegotiation);

    telnet::Decoder too_long;
    Bytes wire = frame(telnet::Decoder::kDefaultMaxSubnegotiation + 1);
    wire.insert(wire.end(), {'a', 'b'});
    const Decoded bad = FeedInPieces(too_long, wire, 5);
    EXPECT_TRUE(too_long.failed());
    EXPECT_EQ(too_long.error(), telnet::DecodeError::kSubnegotiationTooLong);
    EXPECT_TRUE(bad.events.empty());
    EXPECT_TRUE(bad.data.empty());  // nothing after the fault
    EXPECT_EQ(telnet::DecodeErrorText(too_long.error()), u"子协商过长");
}

TEST(TelnetDecode, DoubledIacCountsOnceTowardsTheBound) {
    telnet::Decoder decoder(4);
    const Bytes wire = {0xFF, 0xFA, 0x2C, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 0xFF, 0xF0};
    const Decoded got = FeedInPieces(decoder, wire, 1);
    EXPECT_FALSE(decoder.failed());
    ASSERT_EQ(got.events.size(), 1u);
    EXPECT_EQ(got.events[0].payload, (Bytes{0xFF, 0xFF, 1, 2}));
}

TEST(TelnetDecode, MalformedStreamsFailWithTheirReason) {
    struct Case {
        Bytes wire;
        telnet::DecodeError error;
    };
    const Case cases[] = {
        {{'o', 'k', 0xFF, 0xF0, 'n', 'o'}, telnet::DecodeError::kStrayEnd},
        {{'o', 'k', 0xFF, 0x64, 'n', 'o'}, telnet::DecodeError::kUnknownCommand},
        {{'o', 'k', 0xFF, 0xFA, 0x2C, 1, 0xFF, 0x41, 0xFF, 0xF0, 'n'},
         telnet::DecodeError::kBadSubnegotiation},
    };
    for (const Case& c : cases) {
        telnet::Decoder decoder;
        const Decoded got = FeedInPieces(decoder, c.wire, c.wire.size());
        EXPECT_TRUE(decoder.failed());
        EXPECT_EQ(decoder.error(), c.error);
        EXPECT_EQ(got.data, (Bytes{'o', 'k'}));  // what came before the fault stays
        EXPECT_FALSE(telnet::DecodeErrorText(decoder.error()).empty());
        // A failed decoder takes nothing more.
        std::vector<Event> events;
        uint8_t out[2] = {};
        const uint8_t more[] = {'a', 'b'};
        EXPECT_EQ(decoder.Feed(more, 2, out, events), 0u);
        EXPECT_TRUE(events.empty());
    }
}

TEST(TelnetDecode, CommandsOfOtherRfcsAreAcceptedAsCommands) {
    const Bytes wire = {0xFF, telnet::kLowestCommand, 0xFF, telnet::kEndOfRecord,
                        0xFF, telnet::kDataMark,      0xFF, telnet::kBreak,
                        0xFF, telnet::kGoAhead};
    telnet::Decoder decoder;
    const Decoded got = FeedInPieces(decoder, wire, 1);
    EXPECT_FALSE(decoder.failed());
    ASSERT_EQ(got.events.size(), 5u);
    EXPECT_EQ(got.events[0].code, telnet::kLowestCommand);
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

TEST(TelnetNegotiate, OffersOfUnknownOptionsAreRefusedOnce) {
    telnet::Negotiator negotiator;
    Bytes out;
    negotiator.Receive(Event::Kind::kWill, 1, out);
    negotiator.Receive(Event::Kind::kDo, 3, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::kDont, 1, 0xFF, telnet::kWont, 3}));
    // The peer's acknowledgement of the refusal is an answer and gets none.
    out.clear();
    negotiator.Receive(Event::Kind::kWont, 1, out);
    negotiator.Receive(Event::Kind::kDont, 3, out);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(negotiator.RemoteEnabled(1));
    EXPECT_FALSE(negotiator.LocalEnabled(3));
}

TEST(TelnetNegotiate, AllowedOffersAreAcceptedAndRepeatsIgnored) {
    telnet::Negotiator negotiator;
    negotiator.Allow(0, true, true);
    Bytes out;
    negotiator.Receive(Event::Kind::kWill, 0, out);
    negotiator.Receive(Event::Kind::kDo, 0, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::kDo, 0, 0xFF, telnet::kWill, 0}));
    EXPECT_TRUE(negotiator.RemoteEnabled(0));
    EXPECT_TRUE(negotiator.LocalEnabled(0));
    out.clear();
    negotiator.Receive(Event::Kind::kWill, 0, out);
    negotiator.Receive(Event::Kind::kDo, 0, out);
    EXPECT_TRUE(out.empty());
    // Switched off by the peer: acknowledged once, then quiet.
    negotiator.Receive(Event::Kind::kWont, 0, out);
    negotiator.Receive(Event::Kind::kWont, 0, out);
    EXPECT_EQ(out, (Bytes{0xFF, telnet::kDont, 0}));
    EXPECT_FALSE(negotiator.RemoteEnabled(0));
}

TEST(TelnetNegotiate, AnswersToOurRequestsAreNotAnswered) {
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
    negotiator.Receive(Event::Kind::kDo, 44, out);
    negotiator.Receive(Event::Kind::kDo, 0, out);
    negotiator.Receive(Event::Kind::kWill, 0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(negotiator.LocalEnabled(44));
    EXPECT_TRUE(negotiator.LocalEnabled(0));
    EXPECT_TRUE(negotiator.RemoteEnabled(0));
}

TEST(TelnetNegotiate, RefusedRequestIsRememberedWithoutReply) {
    telnet::Negotiator negotiator;
    negotiator.Allow(44, true, false);
    Bytes out;
    negotiator.RequestLocal(44, out);
    out.clear();
    negotiator.Receive(Event::Kind::kDont, 44, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(negotiator.LocalRefused(44));
    EXPECT_FALSE(negotiator.LocalEnabled(44));
    // A later offer of the same option is still welcome.
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
    while ((!to_a.empty() || !to_b.empty()) && rounds < 10) {
        ++rounds;
        struct Leg {
            Bytes* from;
            Bytes* to;
            telnet::Negotiator* receiver;
        };
        const Leg legs[] = {{&to_b, &to_a, &b}, {&to_a, &to_b, &a}};
        for (const Leg& leg : legs) {
            telnet::Decoder decoder;
            std::vector<Event> events;
            Bytes data(leg.from->size());
            decoder.Feed(leg.from->data(), leg.from->size(), data.data(), events);
            leg.from->clear();
            for (const Event& event : events) {
                leg.receiver->Receive(event.kind, event.code, *leg.to);
            }
        }
    }
    EXPECT_LT(rounds, 4);
    EXPECT_FALSE(a.LocalEnabled(0));  // b allows nothing
    EXPECT_TRUE(a.RemoteRefused(5));
}
