// Host texts and ports of the TCP connection: a dotted quad taken literally, an "http:" prefix
// skipped, any other name resolved to its first IPv4 address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kem::channels {

// The longest host name, in ANSI bytes, that is resolved; a longer one is refused, not cut.
constexpr size_t kHostNameMaxBytes = 127;

// What ParseDottedQuad made of a text.
enum class DottedQuad {
    kAddress,     // four decimal parts of 1..3 digits, each 0..255, not all zero
    kNotLiteral,  // some other text (a name), or 0.0.0.0: left to the resolver
    kInvalid,     // only digits and full stops but no valid quad (a part above 255, three
                  // parts...): refused rather than read as another address
};

// Reads `text` as "a.b.c.d". On kAddress, `address` holds it in network byte order (the first
// part in the first byte). Pure; any thread.
DottedQuad ParseDottedQuad(std::u16string_view text, uint32_t& address);

// `text` without a leading "http:" (any letter case) and the slashes and backslashes after it,
// when it is longer than "http:"; otherwise `text` itself. Pure.
std::u16string_view SkipHttpPrefix(std::u16string_view text);

// Turns a host text into an IPv4 address (network order): a dotted quad directly, otherwise the
// text after SkipHttpPrefix, in the ANSI code page, resolved by name. Returns true with the
// address, or false for a null, empty, malformed, too long or unknown name. The calling thread
// blocks while the resolver works.
bool ResolveHostText(const char16_t* host, uint32_t& address);

// True for a port a connection can be made to: 1..65535.
constexpr bool IsConnectPort(int32_t port) {
    return port >= 1 && port <= 65535;
}

// "a.b.c.d" of an address in network byte order, in a fixed buffer.
struct Ipv4Text {
    char text[16];
    const char* c_str() const { return text; }
};
Ipv4Text FormatIpv4(uint32_t address);

}  // namespace kem::channels
