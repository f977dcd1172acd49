// The Telnet layer of a remote serial port: an incremental decoder that splits a received
// stream into data bytes and commands, option negotiation that accepts only what the port
// needs and never answers an answer, and the encoders for the way out. Pure: no I/O, no
// threads; one object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kem::channels::telnet {

// Command bytes (the byte after IAC).
constexpr uint8_t kEndOfRecord = 239;
constexpr uint8_t kSe = 240;
constexpr uint8_t kNop = 241;
constexpr uint8_t kDataMark = 242;
constexpr uint8_t kBreak = 243;
constexpr uint8_t kGoAhead = 249;
constexpr uint8_t kSb = 250;
constexpr uint8_t kWill = 251;
constexpr uint8_t kWont = 252;
constexpr uint8_t kDo = 253;
constexpr uint8_t kDont = 254;
constexpr uint8_t kIac = 255;

// The lowest byte after IAC that is a command of its own (ABORT of the line mode option);
// anything below cannot be parsed.
constexpr uint8_t kLowestCommand = 236;

// Options this project uses.
constexpr uint8_t kOptionBinary = 0;
constexpr uint8_t kOptionComPort = 44;

// What came in besides data.
struct Event {
    enum class Kind : uint8_t { kWill, kWont, kDo, kDont, kSubnegotiation, kCommand };
    Kind kind = Kind::kCommand;
    uint8_t code = 0;              // the option; for kCommand the command byte
    std::vector<uint8_t> payload;  // subnegotiation bytes after the option, IAC IAC undone
    size_t data_before = 0;        // data bytes the same Feed produced before this event
};

// Why a decoder stopped.
enum class DecodeError : uint8_t {
    kNone,
    kSubnegotiationTooLong,  // more payload than the bound
    kStrayEnd,               // IAC SE outside a subnegotiation
    kUnknownCommand,         // IAC followed by a byte that is no command
    kBadSubnegotiation,      // IAC followed by something other than IAC or SE inside one
    kControlFlood,           // too many commands in a row without a data byte
};

// A short text for the user, naming why the link was cut. Pure.
std::u16string_view DecodeErrorText(DecodeError error);

class Decoder {
public:
    static constexpr size_t kDefaultMaxSubnegotiation = 256;
    // A server that keeps talking Telnet without ever delivering data is broken or hostile;
    // this many commands and subnegotiations in a row end the link. Generous, so that modem
    // and line state notifications of a quiet line never reach it in practice.
    static constexpr size_t kDefaultMaxControlRun = 4096;

    explicit Decoder(size_t max_subnegotiation = kDefaultMaxSubnegotiation,
                     size_t max_control_run = kDefaultMaxControlRun);

    // Decodes `count` bytes of `in`, continuing any command a previous call left open. Data
    // bytes (IAC IAC as one 0xFF) go to `out`, which must have room for `count` bytes; events
    // are appended to `events` in stream order. Returns the data bytes written. On a
    // malformed stream the decoder fails: bytes up to the fault are decoded, the rest and
    // every later call yield nothing.
    size_t Feed(const uint8_t* in, size_t count, uint8_t* out, std::vector<Event>& events);

    bool failed() const { return error_ != DecodeError::kNone; }
    DecodeError error() const { return error_; }

    // Starts the count of commands without data afresh; the owner calls it when it sent
    // commands itself, whose answers are no flood.
    void ResetControlRun() { control_run_ = 0; }

    // True when no command is half received.
    bool idle() const { return state_ == State::kData; }

private:
    enum class State : uint8_t { kData, kIac, kOption, kSbOption, kSb, kSbIac };

    // Counts one command; false (and the decoder failed) past the bound.
    bool CountControl();
    void Fail(DecodeError error) { error_ = error; }

    size_t max_subnegotiation_;
    size_t max_control_run_;
    size_t control_run_ = 0;
    State state_ = State::kData;
    uint8_t verb_ = 0;
    uint8_t sb_option_ = 0;
    std::vector<uint8_t> sb_payload_;
    DecodeError error_ = DecodeError::kNone;
};

// Option negotiation after RFC 1143 for a side that only ever enables options: a request is
// sent once, a refusal is remembered, an answer is never answered, and options nobody
// allowed are refused. "Local" is this end doing the option (WILL/WONT, asked for by DO and
// DONT); "remote" is the peer doing it (DO/DONT, asked for by WILL and WONT).
class Negotiator {
public:
    // Lets the option be enabled on this end, on the peer's end, or both.
    void Allow(uint8_t option, bool local, bool remote);

    // Asks to enable the option on this end (WILL) or the peer's (DO), unless it is on or
    // asked for already. Appends the request to `out`.
    void RequestLocal(uint8_t option, std::vector<uint8_t>& out);
    void RequestRemote(uint8_t option, std::vector<uint8_t>& out);

    // Takes a received WILL, WONT, DO or DONT (other kinds are ignored) and appends the
    // reply, if one is due, to `out`.
    void Receive(Event::Kind verb, uint8_t option, std::vector<uint8_t>& out);

    bool LocalEnabled(uint8_t option) const { return local_[option] == State::kYes; }
    bool RemoteEnabled(uint8_t option) const { return remote_[option] == State::kYes; }
    // True when a request of ours was refused.
    bool LocalRefused(uint8_t option) const { return local_refused_[option]; }
    bool RemoteRefused(uint8_t option) const { return remote_refused_[option]; }

private:
    enum class State : uint8_t { kNo, kYes, kWantYes };

    State local_[256] = {};
    State remote_[256] = {};
    bool local_allowed_[256] = {};
    bool remote_allowed_[256] = {};
    bool local_refused_[256] = {};
    bool remote_refused_[256] = {};
};

// Appends data with every 0xFF doubled.
void AppendData(const uint8_t* data, size_t count, std::vector<uint8_t>& out);

// Appends IAC `verb` `option`.
void AppendNegotiation(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);

// Appends IAC SB `option` payload IAC SE, with 0xFF in the payload doubled.
void AppendSubnegotiation(uint8_t option, const uint8_t* payload, size_t count,
                          std::vector<uint8_t>& out);

}  // namespace kem::channels::telnet
