// A TCP connection of the main window's link that carries a process-unique link id and an
// abort event. The id names the connection in events posted to the window (addresses get
// reused, ids do not); the abort event frees a receive call-back that is held back by a full
// inbound queue before the connection is disconnected or destroyed.
#pragma once

#include <atomic>
#include <cstdint>

#include "channels/net_connect.h"
#include "platform/event.h"

namespace kem::terminal {

// A new link id; never 0, never repeated within the process. Any thread.
uint64_t NextLinkId();

class LinkConnection : public CKemNetConnect {
public:
    LinkConnection();
    // Aborts a held-back receive call-back, then ends every thread of the connection.
    ~LinkConnection() override;

    // The id events of this connection carry. Any thread.
    uint64_t link_id() const { return link_id_.load(); }
    // Gives the connection a fresh id (for a new connect of a reused object). Owner's thread,
    // while no receive thread runs.
    void RenewLinkId() { link_id_ = NextLinkId(); }

    // Wakes a receive call-back waiting for room and keeps later ones from waiting. Any thread.
    void Abort() { abort_.Set(); }
    // Lets call-backs wait again (before a new connect of a reused object). Owner's thread.
    void Rearm() { abort_.Reset(); }
    kem::platform::Event& abort_event() { return abort_; }

    // Accepted clients of a listening LinkConnection are LinkConnections with their own id.
    // Listen thread.
    CKemNetConnect* CreateConnection() override;

private:
    std::atomic<uint64_t> link_id_;
    kem::platform::Event abort_{kem::platform::Event::Mode::kManualReset};
};

}  // namespace kem::terminal
