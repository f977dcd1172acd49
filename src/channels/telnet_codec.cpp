#include "channels/telnet_codec.h"

#include <cstring>

namespace kem::channels::telnet {

std::u16string_view DecodeErrorText(DecodeError error) {
    switch (error) {
        case DecodeError::kNone:
            return u"";
        case DecodeError::kSubnegotiationTooLong:
            return u"子协商过长";
        case DecodeError::kStrayEnd:
            return u"子协商结束符多余";
        case DecodeError::kUnknownCommand:
            return u"未知的 Telnet 命令";
        case DecodeError::kBadSubnegotiation:
            return u"子协商格式错误";
        case DecodeError::kControlFlood:
            return u"控制命令过多而无数据";
    }
    return u"Telnet 数据流错误";
}

Decoder::Decoder(size_t max_subnegotiation, size_t max_control_run)
    : max_subnegotiation_(max_subnegotiation), max_control_run_(max_control_run) {}

bool Decoder::CountControl() {
    if (++control_run_ > max_control_run_) {
        Fail(DecodeError::kControlFlood);
        return false;
    }
    return true;
}

size_t Decoder::Feed(const uint8_t* in, size_t count, uint8_t* out, std::vector<Event>& events) {
    size_t produced = 0;
    size_t at = 0;
    const auto emit = [&](Event::Kind kind, uint8_t code) {
        Event event;
        event.kind = kind;
        event.code = code;
        event.data_before = produced;
        events.push_back(std::move(event));
    };
    while (at < count && !failed()) {
        switch (state_) {
            case State::kData: {
                // Plain data is by far the most of the stream: copy up to the next IAC at once.
                const void* iac = std::memchr(in + at, kIac, count - at);
                const size_t end = iac != nullptr
                                       ? static_cast<size_t>(static_cast<const uint8_t*>(iac) - in)
                                       : count;
                if (end > at) {
                    std::memcpy(out + produced, in + at, end - at);
                    produced += end - at;
                    control_run_ = 0;
                    at = end;
                }
                if (at < count) {
                    state_ = State::kIac;
                    ++at;
                }
                break;
            }
            case State::kIac: {
                const uint8_t byte = in[at++];
                if (byte == kIac) {
                    out[produced++] = kIac;
                    control_run_ = 0;
                    state_ = State::kData;
                } else if (byte >= kWill) {
                    verb_ = byte;
                    state_ = State::kOption;
                } else if (byte == kSb) {
                    state_ = State::kSbOption;
                } else if (byte == kSe) {
                    Fail(DecodeError::kStrayEnd);
                } else if (byte >= kLowestCommand) {
                    state_ = State::kData;
                    if (CountControl()) {
                        emit(Event::Kind::kCommand, byte);
                    }
                } else {
                    Fail(DecodeError::kUnknownCommand);
                }
                break;
            }
            case State::kOption: {
                const uint8_t option = in[at++];
                state_ = State::kData;
                if (!CountControl()) {
                    break;
                }
                const Event::Kind kind = verb_ == kWill   ? Event::Kind::kWill
                                         : verb_ == kWont ? Event::Kind::kWont
                                         : verb_ == kDo   ? Event::Kind::kDo
                                                          : Event::Kind::kDont;
                emit(kind, option);
                break;
            }
            case State::kSbOption:
                sb_option_ = in[at++];
                sb_payload_.clear();
                state_ = State::kSb;
                break;
            case State::kSb: {
                const uint8_t byte = in[at++];
                if (byte == kIac) {
                    state_ = State::kSbIac;
                } else if (sb_payload_.size() >= max_subnegotiation_) {
                    Fail(DecodeError::kSubnegotiationTooLong);
                } else {
                    sb_payload_.push_back(byte);
                }
                break;
            }
            case State::kSbIac: {
                const uint8_t byte = in[at++];
                if (byte == kIac) {
                    if (sb_payload_.size() >= max_subnegotiation_) {
                        Fail(DecodeError::kSubnegotiationTooLong);
                        break;
                    }
                    sb_payload_.push_back(kIac);
                    state_ = State::kSb;
                } else if (byte == kSe) {
                    state_ = State::kData;
                    if (CountControl()) {
                        emit(Event::Kind::kSubnegotiation, sb_option_);
                        events.back().payload.swap(sb_payload_);
                        sb_payload_.clear();
                    }
                } else {
                    Fail(DecodeError::kBadSubnegotiation);
                }
                break;
            }
        }
    }
    return produced;
}

void Negotiator::Allow(uint8_t option, bool local, bool remote) {
    local_allowed_[option] = local;
    remote_allowed_[option] = remote;
}

void Negotiator::RequestLocal(uint8_t option, std::vector<uint8_t>& out) {
    if (local_[option] == State::kNo) {
        local_[option] = State::kWantYes;
        local_refused_[option] = false;
        AppendNegotiation(kWill, option, out);
    }
}

void Negotiator::RequestRemote(uint8_t option, std::vector<uint8_t>& out) {
    if (remote_[option] == State::kNo) {
        remote_[option] = State::kWantYes;
        remote_refused_[option] = false;
        AppendNegotiation(kDo, option, out);
    }
}

void Negotiator::Receive(Event::Kind verb, uint8_t option, std::vector<uint8_t>& out) {
    // One routine for both sides: `offer` is WILL for the peer's side and DO for ours.
    const auto handle = [&](State& state, bool allowed, bool& refused, bool offer, uint8_t yes,
                            uint8_t no) {
        if (offer) {
            switch (state) {
                case State::kNo:
                    if (allowed) {
                        state = State::kYes;
                        AppendNegotiation(yes, option, out);
                    } else {
                        AppendNegotiation(no, option, out);
                    }
                    break;
                case State::kWantYes:
                    state = State::kYes;  // the answer to our request: not answered again
                    break;
                case State::kYes:
                    break;
            }
            return;
        }
        switch (state) {
            case State::kNo:
                break;  // already off: a refusal of something never on needs no reply
            case State::kWantYes:
                state = State::kNo;
                refused = true;
                break;
            case State::kYes:
                state = State::kNo;
                AppendNegotiation(no, option, out);
                break;
        }
    };
    switch (verb) {
        case Event::Kind::kWill:
        case Event::Kind::kWont:
            handle(remote_[option], remote_allowed_[option], remote_refused_[option],
                   verb == Event::Kind::kWill, kDo, kDont);
            break;
        case Event::Kind::kDo:
        case Event::Kind::kDont:
            handle(local_[option], local_allowed_[option], local_refused_[option],
                   verb == Event::Kind::kDo, kWill, kWont);
            break;
        default:
            break;
    }
}

void AppendData(const uint8_t* data, size_t count, std::vector<uint8_t>& out) {
    size_t at = 0;
    while (at < count) {
        const void* iac = std::memchr(data + at, kIac, count - at);
        const size_t end =
            iac != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(iac) - data) : count;
        out.insert(out.end(), data + at, data + end);
        at = end;
        if (at < count) {
            out.push_back(kIac);
            out.push_back(kIac);
            ++at;
        }
    }
}

void AppendNegotiation(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
    out.push_back(kIac);
    out.push_back(verb);
    out.push_back(option);
}

void AppendSubnegotiation(uint8_t option, const uint8_t* payload, size_t count,
                          std::vector<uint8_t>& out) {
    out.push_back(kIac);
    out.push_back(kSb);
    out.push_back(option);
    AppendData(payload, count, out);
    out.push_back(kIac);
    out.push_back(kSe);
}

}  // namespace kem::channels::telnet
