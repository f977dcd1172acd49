#include "terminal/link_connection.h"

#include <new>

namespace kem::terminal {

uint64_t NextLinkId() {
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1);
}

LinkConnection::LinkConnection() : link_id_(NextLinkId()) {}

LinkConnection::~LinkConnection() {
    Abort();
    // The workers call the overridden hook; they must end while this part still exists.
    StopForDestruction();
}

CKemNetConnect* LinkConnection::CreateConnection() {
    return new (std::nothrow) LinkConnection;
}

}  // namespace kem::terminal
