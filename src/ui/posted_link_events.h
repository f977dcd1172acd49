// How a window learns of its link's events: the link's worker threads post them to the window
// as Qt events, and the window's customEvent hands them to its handlers on its own thread.
#pragma once

#include <QObject>

#include <cstdint>

#include "terminal/link_session.h"

class QEvent;

// A base for a window that drives a LinkSession: pass it as the session's sink.
class PostedLinkEvents : public LinkEventSink {
protected:
    // Events go to `target`, the window itself.
    explicit PostedLinkEvents(QObject* target) : target_(target) {}

    // From the window's customEvent: runs the handler of a posted link event and returns true;
    // false for any other event. Window thread.
    bool DispatchLinkEvent(QEvent* event);

    // The handlers, on the window thread.
    virtual void OnTrafficReady() = 0;
    virtual void OnClientAccepted() = 0;
    virtual void OnLinkClosed(int32_t code, uint64_t link_id) = 0;
    virtual void OnReconnectEvent(uint64_t token) = 0;
    virtual void OnLinkStatus() = 0;

private:
    // Worker threads: post only.
    void PostTrafficReady() override;
    void PostClientAccepted() override;
    void PostLinkClosed(int32_t code, uint64_t link_id) override;
    void PostReconnectEvent(uint64_t token) override;
    void PostLinkStatus() override;

    QObject* target_;
};
